// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/ProcessFacts.h"
#include "core/Signal.h"
#include "core/TimestampWindow.h"

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::core {

// The engine's input: which application ended, when, and how the system reported it.
struct EventContext
{
    std::string appName;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::int32_t> pid;
    std::optional<Date> launchedAt;
    Date terminatedAt;
    TerminationReason terminationReason = TerminationReason::unknown;
    std::optional<std::string> terminationRawValue;
    std::optional<QuitAttribution> terminationQuitAttribution;
    TimestampWindow window;
    // What the platform knows of the process beyond its pid. Kept in memory only: it is not part
    // of the record's JSON form, so stored and re-read contexts have none.
    std::optional<ProcessFacts> process;

    EventContext(std::string appName,
                 std::optional<std::string> bundleIdentifier,
                 std::optional<std::int32_t> pid,
                 std::optional<Date> launchedAt,
                 Date terminatedAt,
                 TerminationReason terminationReason,
                 std::optional<std::string> terminationRawValue,
                 std::optional<QuitAttribution> terminationQuitAttribution,
                 TimestampWindow window);

    // The window spans `correlationSeconds` on each side of `terminatedAt`.
    EventContext(std::string appName,
                 std::optional<std::string> bundleIdentifier,
                 std::optional<std::int32_t> pid,
                 std::optional<Date> launchedAt,
                 Date terminatedAt,
                 TerminationReason terminationReason,
                 std::optional<std::string> terminationRawValue,
                 std::optional<QuitAttribution> terminationQuitAttribution,
                 double correlationSeconds);

    friend bool operator==(const EventContext&, const EventContext&) = default;
};

} // namespace exitwise::core
