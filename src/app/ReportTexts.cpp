// SPDX-License-Identifier: MIT
#include "app/ReportTexts.h"

#include <initializer_list>

namespace exitwise::app {

namespace {

std::string joinLines(std::initializer_list<std::string> lines)
{
    std::string text;
    bool first = true;
    for (const std::string& line : lines) {
        if (!first) {
            text += '\n';
        }
        text += line;
        first = false;
    }
    return text;
}

std::string raw(auto value)
{
    return std::string(core::rawValue(value));
}

} // namespace

std::string incidentSummary(const AppEvent& event, std::string_view closedAt)
{
    const core::Diagnosis& d = event.diagnosis;
    return joinLines({
        "Exitwise Incident Summary",
        "App: " + event.appName,
        "Closed at: " + std::string(closedAt),
        "End state: " + raw(d.endState),
        "Likely cause: " + raw(d.dominantCause),
        "Confidence: " + raw(d.confidence),
        "What happened: " + d.explanation.whatHappened,
        "Why: " + d.explanation.why,
        "Recommended action: " + d.explanation.whatToDo,
    });
}

std::string wrongDiagnosisReport(const AppEvent& event, std::string_view closedAt)
{
    const core::Diagnosis& d = event.diagnosis;
    return joinLines({
        "Exitwise Wrong-Diagnosis Report",
        "Event ID: " + event.id.toString(),
        "App: " + event.appName,
        "Closed at: " + std::string(closedAt),
        "Current diagnosis: " + raw(d.dominantCause),
        "Confidence: " + raw(d.confidence),
        "Exitwise explanation: " + d.explanation.why,
        "",
        "What you expected instead:",
        "- ",
        "",
        "What actually happened:",
        "- ",
        "",
        "Optional evidence (safe to share):",
        "- crash report filename or snippet",
        "- exported event JSON/CSV row",
        "- steps to reproduce",
    });
}

} // namespace exitwise::app
