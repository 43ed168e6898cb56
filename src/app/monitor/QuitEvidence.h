// SPDX-License-Identifier: MIT
#pragma once

#include "core/Signal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The short system-log query the monitor runs around a termination, and how its output is
// read. Pure functions.
namespace exitwise::app::QuitEvidence {

// How far around the termination the log is searched, and how long the query may take.
inline constexpr double kSecondsBefore = 8.0;
inline constexpr double kSecondsAfter = 2.0;
inline constexpr int kTimeoutSeconds = 2;

struct Classification
{
    core::TerminationReason reason = core::TerminationReason::quit;
    std::string rawValue;
    std::optional<core::QuitAttribution> attribution;

    friend bool operator==(const Classification&, const Classification&) = default;
};

// Escapes a term for a double-quoted predicate string: backslashes first, then quotes.
[[nodiscard]] std::string escapedTerm(std::string_view term);

// The predicate over the five system processes, or nothing when no search term remains.
[[nodiscard]] std::optional<std::string> predicate(const std::optional<std::string>& name,
                                                   const std::optional<std::string>& bundleIdentifier,
                                                   std::optional<std::int32_t> pid);

// The name used in the raw texts: the name, else the bundle identifier, else the pid.
[[nodiscard]] std::string identifier(const std::optional<std::string>& name,
                                     const std::optional<std::string>& bundleIdentifier,
                                     std::optional<std::int32_t> pid);

// Reads the log tool's output. Only entry lines (those that begin with a yyyy-MM-dd date)
// count: a banner that repeats the predicate would otherwise match its own search terms.
[[nodiscard]] std::optional<Classification> classify(std::string_view output, const std::string& identifier);

// The classification when neither a system notice nor the log says anything.
[[nodiscard]] Classification defaultClassification();

} // namespace exitwise::app::QuitEvidence
