// SPDX-License-Identifier: MIT
// The log store path of the unified log provider over a busy journal: 200,000 entries, 20,000
// of them inside the event's window. The second case drops every entry after the window, so
// equal times show that reading stops at the window's end.

#include "core/evidence/UnifiedLogProvider.h"
#include "platform/linux/JournalLogStore.h"
#include "support/JournalFixture.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

using exitwise::test::JournalFixture;
using exitwise::test::JournalRecord;

constexpr double kT = 1700000000.0;
constexpr double kWindow = 180.0;
constexpr int kInWindow = 20000;
constexpr int kBefore = 90000;
constexpr int kAfter = 90000;

JournalRecord noise(double time, int i)
{
    static const char* const kProcesses[] = {"systemd", "NetworkManager", "gnome-shell", "pipewire",
                                             "kernel"};
    const char* process = kProcesses[i % 5];
    return {time,
            process,
            i % 5 == 4 ? std::optional<int>() : std::optional<int>(1000 + i % 50),
            "",
            "",
            "routine message number " + std::to_string(i) + " from " + process
                + " about nothing in particular"};
}

// Entries spread evenly over [from, to); one in a hundred inside the window names the app.
void append(std::vector<JournalRecord>& records, double from, double to, int count, bool window)
{
    for (int i = 0; i < count; ++i) {
        const double time = from + (to - from) * i / count;
        if (window && i % 100 == 0) {
            records.push_back({time, "sketchpad", 812, "/usr/bin/sketchpad", "",
                               "Sketch Pad autosaved drawing " + std::to_string(i)});
        } else {
            records.push_back(noise(time, i));
        }
    }
}

std::unique_ptr<JournalFixture> makeJournal(bool withEntriesAfter)
{
    std::vector<JournalRecord> records;
    append(records, kT - 3600, kT - kWindow, kBefore, false);
    append(records, kT - kWindow, kT + kWindow, kInWindow, true);
    if (withEntriesAfter) {
        append(records, kT + kWindow + 1, kT + 3600, kAfter, false);
    }
    auto journal = std::make_unique<JournalFixture>();
    if (const std::string error = journal->write(records); !error.empty()) {
        return nullptr;
    }
    return journal;
}

void storePath(benchmark::State& state, bool withEntriesAfter)
{
    if (!JournalFixture::available()) {
        state.SkipWithError("systemd-journal-remote is missing");
        return;
    }
    static std::unique_ptr<JournalFixture> journals[2];
    auto& journal = journals[withEntriesAfter ? 1 : 0];
    if (!journal) {
        journal = makeJournal(withEntriesAfter);
    }
    if (!journal) {
        state.SkipWithError("cannot write the journal");
        return;
    }
    const exitwise::core::UnifiedLogProvider provider(
        std::make_shared<exitwise::platform::JournalLogStore>(journal->directory()), nullptr);
    const exitwise::core::EventContext context =
        exitwise::core::contextAround({.appName = "Sketch Pad",
                                       .bundleIdentifier = "org.example.SketchPad",
                                       .pid = 812,
                                       .terminatedAt = exitwise::core::dateFromSecondsSince1970(kT),
                                       .terminationReason = exitwise::core::TerminationReason::killed},
                                      kWindow);
    for (auto _ : state) {
        benchmark::DoNotOptimize(provider.collectSignals(context));
    }
    state.counters["entriesInWindow"] = kInWindow;
}

void BM_JournalStorePath(benchmark::State& state)
{
    storePath(state, true);
}
BENCHMARK(BM_JournalStorePath)->Unit(benchmark::kMillisecond);

void BM_JournalStorePathNothingAfterWindow(benchmark::State& state)
{
    storePath(state, false);
}
BENCHMARK(BM_JournalStorePathNothingAfterWindow)->Unit(benchmark::kMillisecond);

} // namespace
