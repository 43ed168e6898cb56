// SPDX-License-Identifier: MIT
// Whether the cost of a closure grows with the years: the writer thread's work for one closure,
// and the start-up reconciliation, over ledgers of 1 k, 10 k and 100 k past closures.

#include "ProcMemory.h"
#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/EventStore.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <time.h>

namespace exitwise::app {
namespace {

constexpr int kKept = 200;
constexpr int kTelemetryKept = 5000;
constexpr double kSpacing = 30.0;

// Past closure `i` of `count`, 30 s apart, the newest 30 s before sampleTime(); new closures
// continue the sequence with i >= count.
AppEvent closure(int i, int count)
{
    static const char* const apps[] = {"Firefox",    "Terminal", "Files", "Text Editor",
                                       "Calculator", "Settings", "Music", "Photos"};
    AppEvent event = test::fullEvent(apps[i % 8], test::sampleTime(kSpacing * (i - count)), 1000 + i % 30000);
    if (i % 4 == 0) {
        event.terminationReason = core::TerminationReason::quit;
        event.terminationRawValue = "exit status 0";
    }
    return event;
}

// When the monitor wrote the closure's ledger line, and when the writer thread saves it:
// late enough that the line is old enough to be matched.
core::Date capturedAt(const AppEvent& event)
{
    return event.terminatedAt + core::Seconds(0.2);
}
core::Date savedAt(const AppEvent& event)
{
    return event.terminatedAt + core::Seconds(10);
}

// A data directory after `count` closures, as the pipeline leaves it.
struct Install
{
    QTemporaryDir directory;
    int count;
    std::vector<AppEvent> events; // newest first, as the model keeps them

    explicit Install(int n)
        : count(n)
    {
        std::string ledger;
        std::vector<core::json::Json> telemetry;
        for (int i = 0; i < n; ++i) {
            AppEvent event = closure(i, n);
            ledger += records::jsonLine(encode(test::ledgerEntryFor(event, capturedAt(event))));
            if (i >= n - kTelemetryKept) {
                telemetry.push_back(encode(DiagnosisTelemetryStore::makeRecord(event, 20, savedAt(event))));
            }
            if (i >= n - kKept) {
                events.insert(events.begin(), std::move(event));
            }
        }
        // The store keeps the newest record first.
        core::json::Json newestFirst = core::json::Json::array();
        for (auto it = telemetry.rbegin(); it != telemetry.rend(); ++it) {
            newestFirst.push_back(*it);
        }
        if (!directory.isValid() || records::atomicReplace(path() / "event_ledger.jsonl", ledger)
            || records::atomicReplace(path() / "telemetry.json", core::json::dumpCompact(newestFirst))
            || records::atomicReplace(path() / "events.json", EventStore::encodeEventFile(events))) {
            std::abort();
        }
    }

    [[nodiscard]] std::filesystem::path path() const { return directory.path().toStdString(); }
};

// Built once per size; the closure benchmark keeps adding to it, as years of use would.
Install& install(int n)
{
    static std::map<int, std::unique_ptr<Install>> cache;
    std::unique_ptr<Install>& slot = cache[n];
    if (!slot) {
        slot = std::make_unique<Install>(n);
    }
    return *slot;
}

// This thread's CPU time in milliseconds.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Bytes this process has handed to write(2) so far.
long bytesWritten()
{
    return bench::procField("/proc/self/io", "wchar");
}

double fileSize(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? -1.0 : static_cast<double>(size);
}

void BM_ClosureAtLedgerSize(benchmark::State& state)
{
    Install& in = install(static_cast<int>(state.range(0)));
    TerminationEventLedger ledger(in.path());
    EventStore store(in.path());
    DiagnosisTelemetryStore telemetry(in.path() / "telemetry.json");
    double saveMs = 0;
    double telemetryMs = 0;
    const auto oneClosure = [&] {
        AppEvent event = closure(in.count, static_cast<int>(state.range(0)));
        ++in.count;
        const core::Date now = savedAt(event);
        ledger.append(test::ledgerEntryFor(event, capturedAt(event)));
        in.events.insert(in.events.begin(), event);
        in.events.resize(std::min<std::size_t>(in.events.size(), kKept));
        const double start = threadCpuMs();
        if (store.save(in.events, now)) {
            state.SkipWithError("save failed");
            return false;
        }
        const double saved = threadCpuMs();
        telemetry.apply({DiagnosisTelemetryStore::makeRecord(event, 20, now)}, now);
        saveMs += saved - start;
        telemetryMs += threadCpuMs() - saved;
        return true;
    };
    // A running recorder: its first closure read the whole ledger and telemetry once, as the
    // start-up does (measured below); the closures after it are what this measures.
    if (!oneClosure()) {
        return;
    }
    saveMs = telemetryMs = 0;
    const long before = bytesWritten();
    for (auto _ : state) {
        if (!oneClosure()) {
            return;
        }
    }
    const double closures = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["bytes_written_per_closure"] = static_cast<double>(bytesWritten() - before) / closures;
    // Where the time goes: the event save with its reconciliation, and the telemetry update.
    state.counters["save_cpu_ms"] = saveMs / closures;
    state.counters["telemetry_cpu_ms"] = telemetryMs / closures;
    state.counters["report_bytes"] = fileSize(store.reconciler().reportURL());
    state.counters["telemetry_bytes"] = fileSize(telemetry.fileURL());
}
BENCHMARK(BM_ClosureAtLedgerSize)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);

// Forgets the process's peak resident size so that the next peak is this step's; free heap
// pages are handed back first, or the step would reuse them unseen.
bool resetPeakRss()
{
    malloc_trim(0);
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

void BM_StartupReconcileAtLedgerSize(benchmark::State& state)
{
    Install& in = install(static_cast<int>(state.range(0)));
    const core::Date now = savedAt(in.events.front()) + core::Seconds(3600);
    long peakGrowth = 0;
    std::int64_t mismatches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool peakReset = resetPeakRss();
        const long rssBefore = bench::procField("/proc/self/status", "VmRSS");
        state.ResumeTiming();

        // As the application's start: load the list, then reconcile it with the ledger.
        EventStore store(in.path());
        const std::vector<AppEvent> events = store.load(now);
        const EventLedgerReconciliationReport report =
            store.reconciler().reconcile(events, now, store.newerEvents());
        mismatches = report.mismatchCount;

        state.PauseTiming();
        const long peak = bench::procField("/proc/self/status", "VmHWM");
        if (peakReset && rssBefore >= 0 && peak >= 0) {
            peakGrowth = std::max(peakGrowth, peak - rssBefore);
        }
        state.ResumeTiming();
        // Every closure is either one of the kept events or a mismatch.
        if (events.size() != kKept || mismatches != in.count - kKept) {
            state.SkipWithError(("the events do not account for the ledger: " + std::to_string(events.size())
                                 + " events, " + std::to_string(mismatches) + " mismatches")
                                    .c_str());
            break;
        }
    }
    state.counters["peak_rss_growth_kib"] = static_cast<double>(peakGrowth);
    state.counters["mismatches"] = static_cast<double>(mismatches);
    state.counters["report_bytes"] = fileSize(EventLedgerReconciler(in.path()).reportURL());
}
BENCHMARK(BM_StartupReconcileAtLedgerSize)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace exitwise::app
