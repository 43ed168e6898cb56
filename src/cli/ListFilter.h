// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "core/Date.h"
#include "core/Diagnosis.h"

#include <optional>
#include <string>
#include <string_view>

namespace exitwise::cli {

// The --state names, in the order help lists them.
inline constexpr std::string_view kStateNames = "crash, killed, clean, blocked";

// Which stored closures `list` shows. Every bound is inclusive, as journalctl's are.
struct ListFilter
{
    std::optional<core::Date> since;
    std::optional<core::Date> until;
    std::optional<std::string> app;
    std::optional<core::EndState> state;
};

// The end state a --state name stands for: crash, killed, clean (a clean exit) or blocked
// (a blocked launch).
[[nodiscard]] std::optional<core::EndState> parseStateName(std::string_view name);

// True when `name` is the event's application name or desktop id, ignoring case; a desktop
// id matches with or without its ".desktop".
[[nodiscard]] bool namesApp(const app::AppEvent& event, std::string_view name);

[[nodiscard]] bool matches(const ListFilter& filter, const app::AppEvent& event);

} // namespace exitwise::cli
