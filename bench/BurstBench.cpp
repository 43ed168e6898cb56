// SPDX-License-Identifier: MIT
// The main thread's share of one closure after a burst of 1,000: a full event list of 200, a
// 1,000-line ledger (800 of its lines trimmed away from the list) and 1,000 telemetry records.

#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/EventStore.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace exitwise::app {
namespace {

constexpr int kClosures = 1000;
constexpr int kKept = 200;

// One application ended 1,000 times, 5 ms apart, as the pipeline records it.
AppEvent pipelineEvent(int i)
{
    AppEvent event = test::fullEvent("Load App", test::sampleTime(0.005 * i), 20000 + i);
    event.terminationReason = core::TerminationReason::quit;
    event.terminationRawValue = "NSWorkspace didTerminateApplicationNotification";
    return event;
}

struct Burst
{
    QTemporaryDir directory;
    std::vector<AppEvent> events; // newest first, as the model keeps them

    Burst()
    {
        std::string ledger;
        std::vector<DiagnosisTelemetryRecord> telemetry;
        for (int i = 0; i < kClosures; ++i) {
            AppEvent event = pipelineEvent(i);
            ledger += records::jsonLine(encode(test::ledgerEntryFor(event, event.terminatedAt)));
            DiagnosisTelemetryRecord record;
            record.eventID = event.id;
            record.appName = event.appName;
            record.dominantCause = event.diagnosis.dominantCause;
            record.confidence = event.diagnosis.confidence;
            for (const core::Signal& signal : event.diagnosis.signalsUsed) {
                record.signalsUsed.push_back(signal.summary());
            }
            record.timeToDiagnosisMS = 20;
            record.recordedAt = event.terminatedAt;
            telemetry.push_back(std::move(record));
            if (i >= kClosures - kKept) {
                events.insert(events.begin(), std::move(event));
            }
        }
        core::json::Json array = core::json::Json::array();
        for (auto it = telemetry.rbegin(); it != telemetry.rend(); ++it) {
            array.push_back(encode(*it));
        }
        if (records::atomicReplace(path() / "event_ledger.jsonl", ledger)
            || records::atomicReplace(path() / "telemetry.json", core::json::dumpCompact(array))
            || records::atomicReplace(path() / "events.json", EventStore::encodeEventFile(events))) {
            std::abort();
        }
    }

    [[nodiscard]] std::filesystem::path path() const { return directory.path().toStdString(); }
};

Burst& burst()
{
    static Burst instance;
    return instance;
}

// The clock of the reconciliations: every line is old enough to count.
core::Date afterBurst()
{
    return test::sampleTime(60);
}

void BM_BurstSaveEvents(benchmark::State& state)
{
    Burst& b = burst();
    EventStore store(b.path());
    for (auto _ : state) {
        if (records::atomicReplace(store.fileURL(), EventStore::encodeEventFile(b.events))) {
            state.SkipWithError("save failed");
            return;
        }
    }
}
BENCHMARK(BM_BurstSaveEvents)->Unit(benchmark::kMillisecond);

void BM_BurstReconcile(benchmark::State& state)
{
    Burst& b = burst();
    const EventLedgerReconciler reconciler(b.path());
    for (auto _ : state) {
        const EventLedgerReconciliationReport report = reconciler.reconcile(b.events, afterBurst());
        if (report.mismatchCount != kClosures - kKept) {
            state.SkipWithError("unexpected mismatch count");
            return;
        }
    }
}
BENCHMARK(BM_BurstReconcile)->Unit(benchmark::kMillisecond);

void BM_BurstTelemetryRecord(benchmark::State& state)
{
    Burst& b = burst();
    DiagnosisTelemetryStore store(b.path() / "telemetry.json");
    // The same event over and over, so the file keeps its 1,000 records.
    const AppEvent& event = b.events.front();
    for (auto _ : state) {
        store.record(event, 20, afterBurst());
    }
}
BENCHMARK(BM_BurstTelemetryRecord)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace exitwise::app
