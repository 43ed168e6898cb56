// SPDX-License-Identifier: MIT
#include "core/evidence/UnifiedLogProvider.h"

#include "core/DiagnosisEngine.h"
#include "support/CorePrinters.h"
#include "support/FakeLogStore.h"
#include "support/FakeLogTool.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using test::FakeLogStore;
using test::FakeLogTool;

constexpr double kTerminated = 1700000000.0;
const Date kTerminatedAt = dateFromSecondsSince1970(kTerminated);

EventContext sketchPad(TerminationReason reason = TerminationReason::killed,
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

LogEntry entry(double offset, std::string process, std::string message, std::optional<std::int32_t> pid = 1)
{
    return LogEntry{dateFromSecondsSince1970(kTerminated + offset), std::move(process), pid, "",
                    std::move(message)};
}

std::vector<Signal> collect(const std::shared_ptr<FakeLogStore>& store,
                            const EventContext& context,
                            UnifiedLogProviderOptions options = {})
{
    return UnifiedLogProvider(store, nullptr, std::move(options)).collectSignals(context);
}

const std::string kSystemProcesses =
    R"({"syspolicyd", "amfid", "runningboardd", "launchservicesd", "launchd", "ReportCrash", "reportcrash", "kernel"})";

TEST(UnifiedLogProvider, StorePredicateText)
{
    const auto& processes = UnifiedLogProviderOptions().systemProcessesOfInterest;
    EXPECT_EQ(UnifiedLogProvider::storePredicate(sketchPad(), processes).text(),
              R"(processIdentifier == 812 OR process == "Sketch Pad" OR )"
              R"(composedMessage CONTAINS[c] "org.example.SketchPad" OR (process IN )"
                  + kSystemProcesses + R"() AND (composedMessage CONTAINS[c] "Sketch Pad") OR )"
                  + R"(composedMessage CONTAINS[c] "Sketch Pad")");
    const auto bare =
        UnifiedLogProvider::storePredicate(sketchPad(TerminationReason::killed, "", std::nullopt), processes);
    EXPECT_EQ(bare.operands().size(), 3u);
    EXPECT_EQ(bare.text(), R"(process == "Sketch Pad" OR (process IN )" + kSystemProcesses
                               + R"() AND (composedMessage CONTAINS[c] "Sketch Pad") OR )"
                               + R"(composedMessage CONTAINS[c] "Sketch Pad")");
}

TEST(UnifiedLogProvider, ToolPredicateIsTheFixedPiecesAroundTheEscapedNames)
{
    const std::string piece1 = "(eventMessage CONTAINS[c] \"";
    const std::string piece2 = "\"  OR processImagePath CONTAINS[c] \"";
    const std::string piece3 = "\"  OR senderImagePath CONTAINS[c] \"";
    const std::string piece4 = "\"  OR eventMessage CONTAINS[c] \"";
    const std::string piece5 =
        "\") OR (eventMessage CONTAINS[c] \"jetsam\"  OR eventMessage CONTAINS[c] \"memorystatus\"  OR "
        "eventMessage CONTAINS[c] \"watchdog\"  OR eventMessage CONTAINS[c] \"spindump\"  OR eventMessage "
        "CONTAINS[c] \"code signature\"  OR eventMessage CONTAINS[c] \"quarantine\"  OR eventMessage "
        "CONTAINS[c] "
        "\"Gatekeeper\"  OR eventMessage CONTAINS[c] \"library validation\"  OR eventMessage CONTAINS[c] "
        "\"hardened runtime\"  OR eventMessage CONTAINS[c] \"launchd\"  OR eventMessage CONTAINS[c] "
        "\"SIGTERM\"  "
        "OR eventMessage CONTAINS[c] \"terminated\")";

    EventContext context = sketchPad(TerminationReason::killed, R"(org."x")");
    context.appName = R"(Sk"etch\Pad)";
    const std::string name = R"(Sk\"etch\\Pad)";
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(context).text(),
              piece1 + name + piece2 + name + piece3 + name + piece4 + R"(org.\"x\")" + piece5);
    context.bundleIdentifier.reset();
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(context).text(),
              piece1 + name + piece2 + name + piece3 + name + piece4 + piece5);
}

TEST(UnifiedLogProvider, ClassifiesEntriesOfTheWindowOnly)
{
    auto store = std::make_shared<FakeLogStore>();
    store->honoursEnd = false;
    store->entries = {
        entry(-200, "kernel", "Sketch Pad killed by jetsam"),
        entry(-10, "kernel", "Out of memory: Killed process 812 (Sketch Pad)", std::nullopt),
        entry(5, "sketchpad", "bye", 812),
        entry(181, "kernel", "Sketch Pad unresponsive, watchdog"),
        entry(182, "kernel", "Sketch Pad crashed"),
    };
    const Date at = dateFromSecondsSince1970(kTerminated - 10);
    const std::string message = "Out of memory: Killed process 812 (Sketch Pad)";
    EXPECT_EQ(collect(store, sketchPad()),
              (std::vector<Signal>{
                  TerminationSignal{at, TerminationReason::killed, "kernel: " + message, std::nullopt},
                  JetsamSignal{at, message, MemoryPressureEvidence::directTermination},
              }));
    EXPECT_EQ(store->delivered, 3) << "stops at the first entry after the window";
}

TEST(UnifiedLogProvider, StopsOnceMaxEntriesSignalsAreCollected)
{
    auto store = std::make_shared<FakeLogStore>();
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
    auto store = std::make_shared<FakeLogStore>();
    store->entries = {
        entry(1, "kernel", "Sketch Pad unresponsive"),
        entry(1, "kernel", "Sketch Pad unresponsive"),
        entry(2, "kernel", "Sketch Pad unresponsive"),
        entry(3, "sketchpad", "Sketch Pad " + std::string(300, 'z'), 812),
    };
    UnifiedLogProviderOptions options;
    options.includeRawEntries = true;
    const auto signals = collect(store, sketchPad(), options);
    // Per timestamp: termination, watchdog, raw; the repeated entry adds nothing.
    ASSERT_EQ(signals.size(), 7u);
    EXPECT_EQ(signals[2], Signal(UnifiedLogSignal{dateFromSecondsSince1970(kTerminated + 1), "kernel",
                                                  "Sketch Pad unresponsive"}));
    EXPECT_EQ(signals[6].as<UnifiedLogSignal>()->message, "Sketch Pad " + std::string(209, 'z') + "…");

    const Signal watchdog = WatchdogSignal{dateFromSecondsSince1970(1700000000.25), "w"};
    const Signal later = WatchdogSignal{dateFromSecondsSince1970(1700000000.5), "w"};
    EXPECT_EQ(UnifiedLogProvider::deduplicated({watchdog, later, watchdog, later}),
              (std::vector{watchdog, later}));
}

TEST(UnifiedLogProvider, CorrelatedMemoryPressure)
{
    struct Row
    {
        const char* name;
        TerminationReason reason;
        std::vector<LogEntry> entries;
        bool correlated;
    };
    const LogEntry memory = entry(-10, "kernel", "memorystatus: Sketch Pad under pressure");
    const std::vector<Row> rows = {
        {"killed, memory 10 s before", TerminationReason::killed, {memory}, true},
        {"quit", TerminationReason::quit, {memory}, false},
        {"crashed", TerminationReason::crashed, {memory}, false},
        {"killed, memory 31 s before",
         TerminationReason::killed,
         {entry(-31, "kernel", "memorystatus: Sketch Pad under pressure")},
         false},
        {"unknown, no termination entry", TerminationReason::unknown, {memory}, false},
        {"unknown, termination 25 s after the memory entry",
         TerminationReason::unknown,
         {memory, entry(15, "runningboardd", "Sketch Pad exited")},
         true},
        {"unknown, termination 40 s after",
         TerminationReason::unknown,
         {memory, entry(30, "runningboardd", "Sketch Pad exited")},
         false},
        {"direct memory kill",
         TerminationReason::killed,
         {memory, entry(-5, "kernel", "Sketch Pad killed by jetsam")},
         false},
        {"memory entry of another app",
         TerminationReason::killed,
         {entry(-10, "kernel", "memorystatus: Editor")},
         false},
    };
    const Signal correlated =
        JetsamSignal{kTerminatedAt, "Correlated memory pressure and process termination near event time",
                     MemoryPressureEvidence::correlatedPressure};
    for (const Row& row : rows) {
        auto store = std::make_shared<FakeLogStore>();
        store->entries = row.entries;
        const auto signals = collect(store, sketchPad(row.reason));
        const bool found = std::find(signals.begin(), signals.end(), correlated) != signals.end();
        EXPECT_EQ(found, row.correlated) << row.name;
    }
}

TEST(UnifiedLogProvider, FallsBackToTheToolWhenTheStoreFails)
{
    auto store = std::make_shared<FakeLogStore>();
    store->failure = LogStoreError{"cannot open"};
    store->entries = {entry(-10, "kernel", "Sketch Pad killed by jetsam")};
    auto tool =
        std::make_shared<FakeLogTool>("Filtering the log data using \"…SIGTERM…\"\n"
                                      "2023-11-14 22:13:10.000000+0000 localhost kernel: Sketch Pad was "
                                      "killed by jetsam\n");
    UnifiedLogProviderOptions options;
    options.toolTimeout = std::chrono::milliseconds(1500);
    const EventContext context = sketchPad();

    const auto signals = UnifiedLogProvider(store, tool, options).collectSignals(context);
    EXPECT_EQ(signals, (std::vector<Signal>{
                           JetsamSignal{kTerminatedAt, "jetsam/memory pressure signal from unified log",
                                        MemoryPressureEvidence::directTermination},
                           TerminationSignal{kTerminatedAt, TerminationReason::killed, "log show: jetsam",
                                             std::nullopt},
                       }));
    const auto call = tool->lastCall();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->start, context.window.start);
    EXPECT_EQ(call->end, context.window.end);
    EXPECT_EQ(call->predicate, UnifiedLogProvider::toolPredicate(context).text());
    EXPECT_EQ(call->timeout, std::chrono::milliseconds(1500));

    EXPECT_EQ(UnifiedLogProviderOptions().toolTimeout, std::chrono::seconds(6));
    EXPECT_TRUE(
        UnifiedLogProvider(nullptr, std::make_shared<FakeLogTool>(""), {}).collectSignals(context).empty());
    EXPECT_TRUE(UnifiedLogProvider(nullptr, nullptr, {}).collectSignals(context).empty());
}

// On a Linux desktop. The application: "Notes", desktop id org.example.Notes, running notes-bin
// as pid 4711 in GNOME's scope for it.

const std::string kLinuxProcesses =
    R"({"syspolicyd", "amfid", "runningboardd", "launchservicesd", "launchd", "ReportCrash", "reportcrash", )"
    R"("kernel", "systemd-coredump", "systemd-oomd", "earlyoom", "nohang", "systemd", "gnome-session-binary", )"
    R"("gnome-session", "ksmserver", "plasma_session"})";

EventContext notes(TerminationReason reason = TerminationReason::unknown, bool withFacts = true)
{
    EventContext context = contextAround({.appName = "Notes",
                                          .bundleIdentifier = "org.example.Notes",
                                          .pid = 4711,
                                          .terminatedAt = kTerminatedAt,
                                          .terminationReason = reason},
                                         180.0);
    if (withFacts) {
        ProcessFacts facts;
        facts.command = "notes-bin";
        facts.executable = "/usr/lib/notes/notes-bin";
        facts.cgroup =
            "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Notes-4711.scope";
        context.process = facts;
    }
    return context;
}

TEST(UnifiedLogProviderLinux, OptionsAddTheLinuxServices)
{
    const UnifiedLogProviderOptions options = UnifiedLogProviderOptions::forLinuxDesktop();
    EXPECT_EQ(options.dialect, LogDialect::linuxDesktop);
    EXPECT_EQ(UnifiedLogProviderOptions().dialect, LogDialect::macos);
    std::string listed = "{";
    for (const std::string& process : options.systemProcessesOfInterest) {
        listed += (listed.size() > 1 ? ", \"" : "\"") + process + "\"";
    }
    EXPECT_EQ(listed + "}", kLinuxProcesses);
    EXPECT_EQ(options.maxEntries, 250);
    EXPECT_FALSE(options.includeRawEntries);
}

TEST(UnifiedLogProviderLinux, StorePredicateAlsoAsksForThePidCommAndUnit)
{
    const auto& processes = UnifiedLogProviderOptions::forLinuxDesktop().systemProcessesOfInterest;
    const std::string macosPart = R"(processIdentifier == 4711 OR process == "Notes" OR )"
                                  R"(composedMessage CONTAINS[c] "org.example.Notes" OR (process IN )"
                                  + kLinuxProcesses + R"() AND (composedMessage CONTAINS[c] "Notes") OR )"
                                  + R"(composedMessage CONTAINS[c] "Notes")";
    const LogPredicate predicate =
        UnifiedLogProvider::storePredicate(notes(), processes, LogDialect::linuxDesktop);
    EXPECT_EQ(
        predicate.text(),
        macosPart + R"( OR (process IN )" + kLinuxProcesses
            + R"() AND (composedMessage CONTAINS[c] "[4711]" OR composedMessage CONTAINS[c] "process 4711 " )"
            + R"(OR composedMessage CONTAINS[c] "pid=4711," OR composedMessage CONTAINS[c] "notes-bin" OR )"
            + R"(composedMessage CONTAINS[c] "app-gnome-org.example.Notes-4711.scope"))");
    EXPECT_EQ(UnifiedLogProvider::storePredicate(notes(), processes, LogDialect::macos).text(), macosPart);
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(notes(), UnifiedLogProviderOptions::forLinuxDesktop()),
              predicate)
        << "the tool reads the same journal";
    EXPECT_EQ(UnifiedLogProvider::toolPredicate(notes(), UnifiedLogProviderOptions()),
              UnifiedLogProvider::toolPredicate(notes()));

    EventContext bare = notes(TerminationReason::unknown, false);
    bare.pid.reset();
    EXPECT_EQ(UnifiedLogProvider::storePredicate(bare, processes, LogDialect::linuxDesktop),
              UnifiedLogProvider::storePredicate(bare, processes))
        << "nothing to add";

    // The lines that name the application only the kernel's way are selected; others are not.
    const auto selects = [&predicate](std::string process, std::string message) {
        return predicate.matches(
            LogEntry{kTerminatedAt, std::move(process), std::nullopt, "", std::move(message)});
    };
    EXPECT_TRUE(selects("kernel", "notes-bin[4711]: segfault at 0 ip 0 sp 0 error 6"));
    EXPECT_TRUE(selects("kernel", "Out of memory: Killed process 4711 (notes-bin) total-vm:1kB"));
    EXPECT_TRUE(selects("kernel", "oom-kill:constraint=CONSTRAINT_NONE,task=notes-bin,pid=4711,uid=1000"));
    EXPECT_TRUE(selects("nohang", "[ OK ] Sending SIGTERM to notes-bin: 1"));
    EXPECT_TRUE(selects("systemd-oomd", "Killed /user.slice/user-1000.slice/user@1000.service/app.slice/"
                                        "app-gnome-org.example.Notes-4711.scope due to memory pressure"));
    EXPECT_FALSE(selects("kernel", "usb 1-1: new high-speed USB device number 4711"));
    EXPECT_FALSE(selects("gnome-shell", "sending SIGTERM to process 4711 uid 1000"));
}

// The whole road: Linux lines from the store through the classifier and the rules.
TEST(UnifiedLogProviderLinux, DiagnosesWhatTheLinesSay)
{
    const auto at = [](double offset) { return dateFromSecondsSince1970(kTerminated + offset); };
    const std::string own = "org.example.Notes.desktop";
    struct Row
    {
        const char* name;
        TerminationReason reason;
        std::vector<LogEntry> entries;
        DominantCause macos;
        DominantCause onLinux;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"a quit, and another process's segfault naming it", TerminationReason::quit,
         {{at(-1), "kernel", std::nullopt, "", "notes-helper[812]: segfault at 0 ip 0 sp 0 error 6 in Notes.so[400000+1000]"}},
         DominantCause::explicitQuit, DominantCause::explicitQuit},
        {"an exit with code 1 after its helper crashed", TerminationReason::unknown,
         {{at(-2), own, 4711, "", "helper process crashed"}},
         DominantCause::crashBug, DominantCause::unknown},
        {"an exit with code 1 after its helper crashed again and again", TerminationReason::unknown,
         {{at(-2), own, 4711, "", "GPU process crashed (3 times)"}},
         DominantCause::crashBug, DominantCause::dependencyHelperFailure},
        {"a SIGTERM from earlyoom", TerminationReason::quit,
         {{at(-1), "earlyoom", 650, "", "sending SIGTERM to process 4711 uid 1000 \"notes-bin\": oom_score 600, VmRSS 3000 MiB"}},
         DominantCause::explicitQuit, DominantCause::killedJetsamMemory},
        {"a failed assertion", TerminationReason::unknown,
         {{at(-1), own, 4711, "", "notes-bin: notes.c:12: main: Assertion `x' failed."}},
         DominantCause::unknown, DominantCause::crashAbort},
        {"a segfault", TerminationReason::unknown,
         {{at(-1), "kernel", std::nullopt, "", "notes-bin[4711]: segfault at 0 ip 0 sp 0 error 6 in notes-bin[400000+1000]"}},
         DominantCause::unknown, DominantCause::crashBug},
        {"a missing library", TerminationReason::unknown,
         {{at(-1), own, 4711, "", "notes-bin: error while loading shared libraries: libnotes.so.3: cannot open shared object file: No such file or directory"}},
         DominantCause::unknown, DominantCause::dyldFailure},
    };
    // clang-format on
    for (const Row& row : rows) {
        auto store = std::make_shared<FakeLogStore>();
        store->entries = row.entries;
        for (const auto& [options, expected] :
             {std::pair{UnifiedLogProviderOptions(), row.macos},
              std::pair{UnifiedLogProviderOptions::forLinuxDesktop(), row.onLinux}}) {
            const DiagnosisEngine engine({std::make_shared<UnifiedLogProvider>(store, nullptr, options)});
            EXPECT_EQ(engine.diagnose(notes(row.reason), {}, true).dominantCause, expected)
                << row.name << (options.dialect == LogDialect::macos ? " (macOS words)" : " (Linux words)");
        }
    }
}

} // namespace
} // namespace exitwise::core
