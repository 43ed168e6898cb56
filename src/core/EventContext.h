// SPDX-License-Identifier: MIT
#pragma once

#include "core/ProcessFacts.h"
#include "core/TerminationFacts.h"
#include "core/TimestampWindow.h"

#include <optional>

namespace exitwise::core {

// The engine's input: the closure's facts and the window its evidence is searched in.
struct EventContext : TerminationFacts
{
    TimestampWindow window{};
    // What the platform knows of the process beyond its pid. Kept in memory only: it is not part
    // of the record's JSON form, so stored and re-read contexts have none.
    std::optional<ProcessFacts> process{};

    friend bool operator==(const EventContext&, const EventContext&) = default;
};

// The context of `facts` with a window of `correlationSeconds` on each side of the end.
[[nodiscard]] EventContext contextAround(TerminationFacts facts, double correlationSeconds);

} // namespace exitwise::core
