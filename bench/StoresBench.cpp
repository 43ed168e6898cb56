// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/EventStore.h"
#include "app/stores/TerminationLedgerEntry.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <algorithm>
#include <benchmark/benchmark.h>

namespace exitwise::app {
namespace {

constexpr int kLedgerLines = 100'000;
constexpr int kEvents = 200;

// A few years of use: one termination every ~20 minutes among a dozen applications; the
// event list holds the newest 200 of them, so nearly every older line is a mismatch.
struct History
{
    QTemporaryDir directory;
    std::vector<AppEvent> events;
    std::vector<TerminationLedgerEntry> entries;

    History()
    {
        const char* apps[] = {"Firefox", "Terminal", "Files", "Text Editor", "Calculator", "Settings",
                              "Music",   "Photos",   "Mail",  "Calendar",    "Maps",       "Sketch Pad"};
        std::string lines;
        for (int i = 0; i < kLedgerLines; ++i) {
            const core::Date at = test::sampleTime(-1200.0 * (kLedgerLines - i));
            AppEvent event = test::fullEvent(apps[i % 12], at, 1000 + i % 30000);
            if (i % 5 == 0) {
                event.terminationReason = core::TerminationReason::quit;
                event.terminationQuitAttribution = core::QuitAttribution::userRequest;
            }
            TerminationLedgerEntry entry = test::ledgerEntryFor(event, at + core::Seconds(0.2));
            lines += records::jsonLine(encode(entry));
            entries.push_back(std::move(entry));
            if (i >= kLedgerLines - kEvents) {
                events.insert(events.begin(), std::move(event));
            }
        }
        if (records::atomicReplace(path() / "event_ledger.jsonl", lines)) {
            std::abort();
        }
    }

    [[nodiscard]] std::filesystem::path path() const { return directory.path().toStdString(); }
};

History& history()
{
    static History instance;
    return instance;
}

// Every entry against every event, without the time index.
std::vector<Uuid> plainMismatches(const std::vector<TerminationLedgerEntry>& entries,
                                  const std::vector<AppEvent>& events,
                                  core::Date now)
{
    std::vector<Uuid> ids;
    for (const auto& entry : entries) {
        if (core::secondsSince1970(now) - core::secondsSince1970(entry.capturedAt) < 5.0) {
            continue;
        }
        if (std::none_of(events.begin(), events.end(),
                         [&](const AppEvent& event) { return ledgerEntryMatches(entry, event, 2.0); })) {
            ids.push_back(entry.id);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

void BM_Reconcile200EventsAgainst100kLedger(benchmark::State& state)
{
    History& h = history();
    const EventLedgerReconciler reconciler(h.path());
    const core::Date now = test::sampleTime(60);

    EventLedgerReconciliationReport report = reconciler.reconcile(h.events, now);
    std::vector<Uuid> found;
    for (const auto& m : report.mismatches) {
        found.push_back(m.ledgerEntryID);
    }
    std::sort(found.begin(), found.end());
    // The report lists the newest of them and counts them all.
    const std::vector<Uuid> plain = plainMismatches(h.entries, h.events, now);
    if (report.evidenceCount != kLedgerLines
        || report.mismatchCount != static_cast<std::int64_t>(plain.size())
        || found.size() != std::min(plain.size(), EventLedgerReconciler::kMaxListedMismatches)
        || !std::includes(plain.begin(), plain.end(), found.begin(), found.end())) {
        state.SkipWithError("reconciliation differs from the plain rules");
        return;
    }
    // A reconciler of its own each time: the whole ledger read, as at start-up.
    for (auto _ : state) {
        report = EventLedgerReconciler(h.path()).reconcile(h.events, now);
        benchmark::DoNotOptimize(report.mismatchCount);
    }
    state.counters["mismatches"] = static_cast<double>(report.mismatchCount);
}
BENCHMARK(BM_Reconcile200EventsAgainst100kLedger)->Unit(benchmark::kMillisecond);

void BM_ReadLedger100k(benchmark::State& state)
{
    const TerminationEventLedger ledger(history().path());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ledger.readAll().size());
    }
}
BENCHMARK(BM_ReadLedger100k)->Unit(benchmark::kMillisecond);

// The line reader alone, without the file: the lines are already in memory.
void BM_DecodeLedgerLines100k(benchmark::State& state)
{
    std::vector<std::string> lines;
    lines.reserve(history().entries.size());
    for (const TerminationLedgerEntry& entry : history().entries) {
        lines.push_back(core::json::dumpCompact(encode(entry)));
    }
    for (const std::string& line : lines) {
        if (!decodeTerminationLedgerLine(line)) {
            state.SkipWithError("a ledger line does not decode");
            return;
        }
    }
    for (auto _ : state) {
        std::size_t decoded = 0;
        for (const std::string& line : lines) {
            decoded += decodeTerminationLedgerLine(line).has_value() ? 1 : 0;
        }
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeLedgerLines100k)->Unit(benchmark::kMillisecond);

void BM_Save200Events(benchmark::State& state)
{
    QTemporaryDir directory;
    const std::filesystem::path file = std::filesystem::path(directory.path().toStdString()) / "events.json";
    const std::vector<AppEvent>& events = history().events;
    for (auto _ : state) {
        if (records::atomicReplace(file, EventStore::encodeEventFile(events))) {
            state.SkipWithError("save failed");
            return;
        }
    }
}
BENCHMARK(BM_Save200Events)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace exitwise::app
