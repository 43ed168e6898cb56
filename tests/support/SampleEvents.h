// SPDX-License-Identifier: MIT
#pragma once

// Ready-made events and ledger entries for store tests and benchmarks.

#include "app/AppEvent.h"
#include "app/DiagnosisHash.h"
#include "app/stores/TerminationLedgerEntry.h"

#include <string>
#include <vector>

namespace exitwise::test {

// 2026-02-28T19:33:20Z, a whole second, as the records store it.
inline core::Date sampleTime(double offsetSeconds = 0)
{
    return core::dateFromReferenceSeconds(794000000.0 + offsetSeconds);
}

inline core::Diagnosis sampleDiagnosis(core::Date terminatedAt,
                                       core::Confidence confidence = core::Confidence::high,
                                       std::vector<core::Signal> signalsUsed = {})
{
    core::Diagnosis d;
    d.endState = core::EndState::crash;
    d.dominantCause = core::DominantCause::crashBug;
    d.confidence = confidence;
    d.signalsUsed = std::move(signalsUsed);
    d.window = {terminatedAt - core::Seconds(180), terminatedAt + core::Seconds(180)};
    d.explanation = {"The app crashed.", "A crash report was found.", "Update the app.", {}, std::nullopt};
    return d;
}

// An event with every optional field absent.
inline app::AppEvent minimalEvent(std::string appName, core::Date terminatedAt)
{
    app::AppEvent event;
    event.id = app::Uuid::random();
    event.appName = std::move(appName);
    event.terminatedAt = terminatedAt;
    event.diagnosis = sampleDiagnosis(terminatedAt);
    return event;
}

// An event as the pipeline makes it, with every field the monitor knows.
inline app::AppEvent fullEvent(std::string appName, core::Date terminatedAt, std::int32_t pid = 812)
{
    app::AppEvent event = minimalEvent(std::move(appName), terminatedAt);
    event.bundleIdentifier = "org.example." + event.appName + ".desktop";
    event.pid = pid;
    event.appPath = "/usr/share/applications/" + *event.bundleIdentifier;
    event.launchedAt = terminatedAt - core::Seconds(725.5);
    event.terminationReason = core::TerminationReason::crashed;
    event.terminationRawValue = "signal 11";
    event.terminationQuitAttribution = core::QuitAttribution::unknown;
    event.diagnosis.signalsUsed = {core::TerminationSignal{terminatedAt, core::TerminationReason::crashed,
                                                           std::string("signal 11"), std::nullopt}};
    event.diagnosisVersion = "0.1.0";
    event.diagnosisHash = app::diagnosisHash(event.diagnosis);
    event.diagnosisChanged = false;
    return event;
}

// A full event of `appName` with this verdict.
inline app::AppEvent eventWithVerdict(std::string appName,
                                      core::Date terminatedAt,
                                      core::EndState state,
                                      core::DominantCause cause,
                                      core::Confidence confidence)
{
    app::AppEvent event = fullEvent(std::move(appName), terminatedAt);
    event.diagnosis.endState = state;
    event.diagnosis.dominantCause = cause;
    event.diagnosis.confidence = confidence;
    return event;
}

// The ledger line the monitor would have written for `event`, captured at `capturedAt`.
inline app::TerminationLedgerEntry ledgerEntryFor(const app::AppEvent& event, core::Date capturedAt)
{
    app::TerminationLedgerEntry entry{event, app::Uuid::random(), capturedAt,
                                      app::kWorkspaceTerminationSource};
    entry.terminationReason = event.reason(); // a ledger line always has one
    return entry;
}

// `count` full events named "App 0", "App 1", …, newest first, one minute apart.
inline std::vector<app::AppEvent> sampleHistory(int count)
{
    std::vector<app::AppEvent> events;
    for (int i = 0; i < count; ++i) {
        events.push_back(fullEvent("App " + std::to_string(i), sampleTime(-60.0 * i), 100 + i));
    }
    return events;
}

} // namespace exitwise::test
