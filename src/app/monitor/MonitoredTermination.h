// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/ProcessFacts.h"
#include "core/Signal.h"

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::app {

// The monitor's report of one terminated application.
struct MonitoredTermination
{
    std::string appName;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::int32_t> pid;
    std::optional<std::string> appPath;
    std::optional<core::Date> launchedAt;
    core::Date terminatedAt;
    core::TerminationReason terminationReason = core::TerminationReason::unknown;
    std::optional<std::string> terminationRawValue;
    std::optional<core::QuitAttribution> terminationQuitAttribution;
    // The platform's facts about the process, handed to the evidence providers; not recorded.
    std::optional<core::ProcessFacts> process;

    friend bool operator==(const MonitoredTermination&, const MonitoredTermination&) = default;
};

} // namespace exitwise::app
