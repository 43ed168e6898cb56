// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <string>
#include <string_view>

// The texts a person copies from an event. `closedAt` is the termination time as the caller
// shows it (clockTimeText in the application), so the texts themselves depend on no locale.
namespace exitwise::app {

// Nine lines headed "Exitwise Incident Summary", joined by line feeds, no trailing one.
[[nodiscard]] std::string incidentSummary(const AppEvent& event, std::string_view closedAt);

// The eighteen-line "Exitwise Wrong-Diagnosis Report" template with blanks to fill in.
[[nodiscard]] std::string wrongDiagnosisReport(const AppEvent& event, std::string_view closedAt);

} // namespace exitwise::app
