// SPDX-License-Identifier: MIT
#include "core/evidence/UnifiedLogProvider.h"

#include "support/CorePrinters.h"
#include "support/FakeLogStore.h"
#include "support/FakeLogTool.h"
#include "support/Files.h"
#include "support/SampleContexts.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

namespace exitwise::core {
namespace {

using test::FakeLogStore;
using test::FakeLogTool;
using R = TerminationReason;

constexpr double kTerminated = 1700000000.0;
const Date kTerminatedAt = dateFromSecondsSince1970(kTerminated);

EventContext sketchPad(R reason = R::killed)
{
    return test::sketchPadContext(kTerminatedAt, reason);
}

Date at(double offset)
{
    return dateFromSecondsSince1970(kTerminated + offset);
}

LogEntry entry(double offset, std::string process, std::string message, std::optional<std::int32_t> pid = 1)
{
    return LogEntry{at(offset), std::move(process), pid, "", std::move(message)};
}

std::shared_ptr<FakeLogStore> storeWith(std::vector<LogEntry> entries)
{
    auto store = std::make_shared<FakeLogStore>();
    store->entries = std::move(entries);
    return store;
}

std::vector<Signal> collect(const std::shared_ptr<FakeLogStore>& store,
                            const EventContext& context,
                            UnifiedLogProviderOptions options = {})
{
    return UnifiedLogProvider(store, nullptr, std::move(options)).collectSignals(context);
}

// Reading stops at the first entry after the window, or once maxEntries signals are in; the entry
// that reaches the limit keeps all of its signals.
TEST(UnifiedLogProvider, ReadsTheWindowUpToMaxEntries)
{
    const std::string message = "Out of memory: Killed process 812 (Sketch Pad)";
    auto store = storeWith({
        entry(-10, "kernel", message, std::nullopt),
        entry(181, "kernel", "Sketch Pad unresponsive, watchdog"),
        entry(182, "kernel", "Sketch Pad crashed"),
    });
    store->honoursEnd = false;
    EXPECT_EQ(
        collect(store, sketchPad()),
        (std::vector<Signal>{TerminationSignal{at(-10), R::killed, "kernel: " + message, std::nullopt},
                             JetsamSignal{at(-10), message, MemoryPressureEvidence::directTermination}}));
    EXPECT_EQ(store->delivered, 2);

    auto busy = storeWith({});
    for (int i = 0; i < 10; ++i) {
        busy->entries.push_back(entry(i, "kernel", "Sketch Pad unresponsive")); // two signals each
    }
    UnifiedLogProviderOptions options;
    options.maxEntries = 5;
    EXPECT_EQ(collect(busy, sketchPad(), options).size(), 6u);
    EXPECT_EQ(busy->delivered, 3);
}

TEST(UnifiedLogProvider, RawEntriesAndDuplicates)
{
    auto store = storeWith({
        entry(1, "kernel", "Sketch Pad unresponsive"),
        entry(1, "kernel", "Sketch Pad unresponsive"),
        entry(2, "kernel", "Sketch Pad unresponsive"),
        entry(3, "sketchpad", "Sketch Pad " + std::string(300, 'z'), 812),
    });
    UnifiedLogProviderOptions options;
    options.includeRawEntries = true;
    const auto signals = collect(store, sketchPad(), options);
    // Per timestamp: termination, watchdog, raw; the repeated entry adds nothing.
    ASSERT_EQ(signals.size(), 7u);
    EXPECT_EQ(signals[2], Signal(UnifiedLogSignal{at(1), "kernel", "Sketch Pad unresponsive"}));
    EXPECT_EQ(signals[6].as<UnifiedLogSignal>()->message, "Sketch Pad " + std::string(209, 'z') + "…");

    const Signal watchdog = WatchdogSignal{at(0.25), "w"};
    const Signal later = WatchdogSignal{at(0.5), "w"};
    EXPECT_EQ(UnifiedLogProvider::deduplicated({watchdog, later, watchdog, later}),
              (std::vector{watchdog, later}));
}

TEST(UnifiedLogProvider, CorrelatedMemoryPressure)
{
    const LogEntry memory = entry(-10, "kernel", "memorystatus: Sketch Pad under pressure");
    // clang-format off
    const std::vector<std::tuple<const char*, R, std::vector<LogEntry>, bool>> rows = {
        {"killed, memory 10 s before", R::killed, {memory}, true},
        {"quit", R::quit, {memory}, false},
        {"killed, memory 31 s before", R::killed, {entry(-31, "kernel", "memorystatus: Sketch Pad under pressure")}, false},
        {"unknown, no termination entry", R::unknown, {memory}, false},
        {"unknown, termination 25 s after the memory entry", R::unknown, {memory, entry(15, "runningboardd", "Sketch Pad exited")}, true},
        {"unknown, termination 40 s after", R::unknown, {memory, entry(30, "runningboardd", "Sketch Pad exited")}, false},
        {"direct memory kill", R::killed, {memory, entry(-5, "kernel", "Sketch Pad killed by jetsam")}, false},
    };
    // clang-format on
    const Signal correlated =
        JetsamSignal{kTerminatedAt, "Correlated memory pressure and process termination near event time",
                     MemoryPressureEvidence::correlatedPressure};
    for (const auto& [name, reason, entries, expected] : rows) {
        const auto signals = collect(storeWith(entries), sketchPad(reason));
        EXPECT_EQ(std::find(signals.begin(), signals.end(), correlated) != signals.end(), expected) << name;
    }
}

TEST(UnifiedLogProvider, FallsBackToTheToolWhenTheStoreFails)
{
    auto store = storeWith({entry(-10, "kernel", "Sketch Pad killed by jetsam")});
    store->failure = LogStoreError{"cannot open"};
    auto tool = std::make_shared<FakeLogTool>(
        "Filtering the log data using \"…SIGTERM…\"\n"
        "2023-11-14 22:13:10.000000+0000 localhost kernel: Sketch Pad was killed by jetsam\n");
    UnifiedLogProviderOptions options;
    options.toolTimeout = std::chrono::milliseconds(1500);
    const EventContext context = sketchPad();

    EXPECT_EQ(UnifiedLogProvider(store, tool, options).collectSignals(context).size(), 2u);
    const auto call = tool->lastCall().value();
    EXPECT_EQ(std::tie(call.start, call.end, call.predicate, call.timeout),
              std::tuple(context.window.start, context.window.end,
                         UnifiedLogProvider::toolPredicate(context).text(), std::chrono::milliseconds(1500)));

    EXPECT_TRUE(UnifiedLogProvider(nullptr, nullptr, {}).collectSignals(context).empty());
}

// The predicate texts of tests/data/logs/predicates.txt: "== name", then the text.
TEST(UnifiedLogProvider, PredicatesAreExactlyThese)
{
    const auto& macos = UnifiedLogProviderOptions().systemProcessesOfInterest;
    const auto& onLinux = UnifiedLogProviderOptions::forLinuxDesktop().systemProcessesOfInterest;
    const EventContext notes = test::notesContext(kTerminatedAt, R::unknown);
    EventContext bare = sketchPad();
    bare.bundleIdentifier = "";
    bare.pid.reset();
    EventContext escaped = sketchPad();
    escaped.appName = R"(Sk"etch\Pad)";
    escaped.bundleIdentifier = R"(org."x")";
    EventContext escapedWithoutBundle = escaped;
    escapedWithoutBundle.bundleIdentifier.reset();
    // clang-format off
    const std::vector<std::pair<const char*, LogPredicate>> rows = {
        {"store", UnifiedLogProvider::storePredicate(sketchPad(), macos)},
        {"store, no pid or bundle identifier", UnifiedLogProvider::storePredicate(bare, macos)},
        {"tool, names to escape", UnifiedLogProvider::toolPredicate(escaped)},
        {"tool, names to escape, no bundle identifier", UnifiedLogProvider::toolPredicate(escapedWithoutBundle)},
        {"store, Linux", UnifiedLogProvider::storePredicate(notes, onLinux, LogDialect::linuxDesktop)},
        {"store, Linux services in macOS words", UnifiedLogProvider::storePredicate(notes, onLinux, LogDialect::macos)},
    };
    // clang-format on
    const std::string golden = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/predicates.txt");
    for (const auto& [name, predicate] : rows) {
        EXPECT_NE(golden.find("== " + std::string(name) + "\n" + predicate.text() + "\n"), std::string::npos)
            << name << ": " << predicate.text();
    }
}

// The tool reads the same journal with the same question; without a pid or process facts there is
// nothing to add to the macOS one.
TEST(UnifiedLogProviderLinux, PredicateOfTheLinuxDesktop)
{
    const UnifiedLogProviderOptions options = UnifiedLogProviderOptions::forLinuxDesktop();
    EXPECT_EQ(std::tie(options.maxEntries, options.includeRawEntries), std::tuple(250, false));
    const auto& processes = options.systemProcessesOfInterest;
    EventContext notes = test::notesContext(kTerminatedAt, R::unknown);
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(notes, options),
              UnifiedLogProvider::storePredicate(notes, processes, LogDialect::linuxDesktop));
    notes.pid.reset();
    notes.process.reset();
    EXPECT_EQ(UnifiedLogProvider::storePredicate(notes, processes, LogDialect::linuxDesktop),
              UnifiedLogProvider::storePredicate(notes, processes));
}

} // namespace
} // namespace exitwise::core
