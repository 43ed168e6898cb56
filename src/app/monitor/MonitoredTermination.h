// SPDX-License-Identifier: MIT
#pragma once

#include "core/ProcessFacts.h"
#include "core/TerminationFacts.h"

#include <optional>

namespace exitwise::app {

// The monitor's report of one terminated application.
struct MonitoredTermination : core::TerminationFacts
{
    // The platform's facts about the process, handed to the evidence providers; not recorded.
    std::optional<core::ProcessFacts> process{};

    friend bool operator==(const MonitoredTermination&, const MonitoredTermination&) = default;
};

} // namespace exitwise::app
