// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <string>
#include <vector>

namespace exitwise::cli {

// The id column never prints fewer characters than this; `show` accepts them.
inline constexpr std::size_t kShortIdCharacters = 8;

// For each event, the start of its id that no other of `events` shares: its first
// kShortIdCharacters characters, or as many more as it takes.
[[nodiscard]] std::vector<std::string> shortIds(const std::vector<app::AppEvent>& events);

// Colour only on a terminal, and never when NO_COLOR is set to anything but the empty text.
[[nodiscard]] bool useColour(bool isTerminal, const char* noColor);

struct ListRow
{
    const app::AppEvent* event = nullptr;
    std::string id;
};

struct TableStyle
{
    bool legend = true;
    bool colour = false;
};

// `list`'s table: TIME, APP, PID, END STATE, CAUSE, CONFIDENCE, ID, one line per row, the
// columns two spaces apart and padded by visible characters, colour codes not counted.
[[nodiscard]] std::string listTable(const std::vector<ListRow>& rows, TableStyle style);

} // namespace exitwise::cli
