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

EventContext sketchPad(R reason = R::killed,
                       std::optional<std::string> bundle = "org.example.SketchPad",
                       std::optional<std::int32_t> pid = 812)
{
    return contextAround({.appName = "Sketch Pad",
                          .bundleIdentifier = std::move(bundle),
                          .pid = pid,
                          .terminatedAt = kTerminatedAt,
                          .terminationReason = reason},
                         180.0);
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

TEST(UnifiedLogProvider, ClassifiesEntriesOfTheWindowOnly)
{
    const std::string message = "Out of memory: Killed process 812 (Sketch Pad)";
    auto store = storeWith({
        entry(-200, "kernel", "Sketch Pad killed by jetsam"),
        entry(-10, "kernel", message, std::nullopt),
        entry(5, "sketchpad", "bye", 812),
        entry(181, "kernel", "Sketch Pad unresponsive, watchdog"),
        entry(182, "kernel", "Sketch Pad crashed"),
    });
    store->honoursEnd = false;
    EXPECT_EQ(
        collect(store, sketchPad()),
        (std::vector<Signal>{TerminationSignal{at(-10), R::killed, "kernel: " + message, std::nullopt},
                             JetsamSignal{at(-10), message, MemoryPressureEvidence::directTermination}}));
    EXPECT_EQ(store->delivered, 3) << "stops at the first entry after the window";
}

TEST(UnifiedLogProvider, StopsOnceMaxEntriesSignalsAreCollected)
{
    auto store = storeWith({});
    for (int i = 0; i < 10; ++i) {
        store->entries.push_back(entry(i, "kernel", "Sketch Pad unresponsive")); // two signals each
    }
    UnifiedLogProviderOptions options;
    options.maxEntries = 5;
    EXPECT_EQ(collect(store, sketchPad(), options).size(), 6u)
        << "the entry that reaches the limit keeps all";
    EXPECT_EQ(store->delivered, 3);
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
        {"memory entry of another app", R::killed, {entry(-10, "kernel", "memorystatus: Editor")}, false},
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
    const auto call = tool->lastCall();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(std::tie(call->start, call->end), std::tie(context.window.start, context.window.end));
    EXPECT_EQ(call->predicate, UnifiedLogProvider::toolPredicate(context).text());
    EXPECT_EQ(call->timeout, std::chrono::milliseconds(1500));

    EXPECT_TRUE(
        UnifiedLogProvider(nullptr, std::make_shared<FakeLogTool>(""), {}).collectSignals(context).empty());
    EXPECT_TRUE(UnifiedLogProvider(nullptr, nullptr, {}).collectSignals(context).empty());
}

// On a Linux desktop. The application: "Notes", desktop id org.example.Notes, running notes-bin
// as pid 4711 in GNOME's scope for it.
EventContext notes()
{
    return test::notesContext(kTerminatedAt, R::unknown);
}

// The predicate texts of tests/data/logs/predicates.txt: "== name", then the text.
std::string goldenPredicate(const std::string& name)
{
    const std::string golden = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/predicates.txt");
    const auto at = golden.find("== " + name + "\n");
    if (at == std::string::npos) {
        return "(no predicate named " + name + ")";
    }
    const auto start = at + name.size() + 4;
    return golden.substr(start, golden.find('\n', start) - start);
}

TEST(UnifiedLogProvider, PredicatesAreExactlyThese)
{
    const auto& macos = UnifiedLogProviderOptions().systemProcessesOfInterest;
    const auto& onLinux = UnifiedLogProviderOptions::forLinuxDesktop().systemProcessesOfInterest;
    EventContext escaped = sketchPad(R::killed, R"(org."x")");
    escaped.appName = R"(Sk"etch\Pad)";
    EventContext escapedWithoutBundle = escaped;
    escapedWithoutBundle.bundleIdentifier.reset();
    const auto bare = UnifiedLogProvider::storePredicate(sketchPad(R::killed, "", std::nullopt), macos);
    EXPECT_EQ(bare.operands().size(), 3u);
    // clang-format off
    const std::vector<std::pair<const char*, LogPredicate>> rows = {
        {"store", UnifiedLogProvider::storePredicate(sketchPad(), macos)},
        {"store, no pid or bundle identifier", bare},
        {"tool, names to escape", UnifiedLogProvider::toolPredicate(escaped)},
        {"tool, names to escape, no bundle identifier", UnifiedLogProvider::toolPredicate(escapedWithoutBundle)},
        {"store, Linux", UnifiedLogProvider::storePredicate(notes(), onLinux, LogDialect::linuxDesktop)},
        {"store, Linux services in macOS words", UnifiedLogProvider::storePredicate(notes(), onLinux, LogDialect::macos)},
    };
    // clang-format on
    for (const auto& [name, predicate] : rows) {
        EXPECT_EQ(predicate.text(), goldenPredicate(name)) << name;
    }
}

TEST(UnifiedLogProviderLinux, OptionsAndPredicateOfTheLinuxDesktop)
{
    const UnifiedLogProviderOptions options = UnifiedLogProviderOptions::forLinuxDesktop();
    EXPECT_EQ(options.dialect, LogDialect::linuxDesktop);
    EXPECT_EQ(UnifiedLogProviderOptions().dialect, LogDialect::macos);
    EXPECT_EQ(std::tie(options.maxEntries, options.includeRawEntries), std::tuple(250, false));
    const auto& processes = options.systemProcessesOfInterest;
    const LogPredicate predicate =
        UnifiedLogProvider::storePredicate(notes(), processes, LogDialect::linuxDesktop);
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(notes(), options), predicate)
        << "the tool reads the same journal";
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(notes(), UnifiedLogProviderOptions()),
              UnifiedLogProvider::toolPredicate(notes()));

    EventContext bare = notes();
    bare.pid.reset();
    bare.process.reset();
    EXPECT_EQ(UnifiedLogProvider::storePredicate(bare, processes, LogDialect::linuxDesktop),
              UnifiedLogProvider::storePredicate(bare, processes))
        << "nothing to add";

    // The lines that name the application only the kernel's way are selected; others are not.
    const auto selects = [&predicate](std::string process, std::string message) {
        return predicate.matches(
            LogEntry{kTerminatedAt, std::move(process), std::nullopt, "", std::move(message)});
    };
    EXPECT_TRUE(selects("kernel", "oom-kill:constraint=CONSTRAINT_NONE,task=notes-bin,pid=4711,uid=1000"));
    EXPECT_TRUE(selects("nohang", "[ OK ] Sending SIGTERM to notes-bin: 1"));
    EXPECT_TRUE(selects("systemd-oomd", "Killed /user.slice/user-1000.slice/user@1000.service/app.slice/"
                                        "app-gnome-org.example.Notes-4711.scope due to memory pressure"));
    EXPECT_FALSE(selects("kernel", "usb 1-1: new high-speed USB device number 4711"));
    EXPECT_FALSE(selects("gnome-shell", "sending SIGTERM to process 4711 uid 1000"));
}

} // namespace
} // namespace exitwise::core
