// SPDX-License-Identifier: MIT
#pragma once

#include "core/EventContext.h"
#include "core/Signal.h"
#include "core/evidence/CrashRecord.h"

#include <optional>
#include <string>
#include <vector>

// Which of the system's crash records are about an ended application, and what they say as
// evidence. Pure functions.
namespace exitwise::core::crashrecords {

// How far from the termination a record found by name rather than pid may lie.
inline constexpr double kNameMatchSeconds = 30.0;

inline constexpr std::string_view kUnresponsiveReason = "Ended by the desktop after it stopped responding";

struct HelperFailure
{
    std::string name;                 // the helper's comm, else its program's file name
    std::vector<CrashRecord> records; // oldest first
};

struct Findings
{
    // The application's own crash record, the latest when there are several.
    std::optional<CrashRecord> crash;
    // The desktop's marker that it ended the application for not responding.
    std::optional<CrashRecord> unresponsiveKill;
    // Crashes of the application's children, one entry per helper, in order of first crash.
    std::vector<HelperFailure> helpers;

    [[nodiscard]] bool aboutApplication() const { return crash || unresponsiveKill; }
};

// The application's records are those of its pid; without a pid, those naming its program, its
// kernel name or its name within kNameMatchSeconds of the termination. A helper is another
// process whose parent was the application or that ran in the application's control group.
[[nodiscard]] Findings examine(const EventContext& context, const std::vector<CrashRecord>& records);

// The crash report the findings make: a crash record becomes a report whose exception type
// and termination signal are the signal's name; a desktop's unresponsive kill becomes a report
// of a hang (no exception type, so it is never taken for a crash). Nothing when the findings
// hold no record of the application.
[[nodiscard]] std::optional<CrashReportSignal> report(const Findings& findings);

// One helper signal per crashed helper, named after it; the exit count when it crashed more
// than once.
[[nodiscard]] std::vector<Signal> helperSignals(const Findings& findings);

} // namespace exitwise::core::crashrecords
