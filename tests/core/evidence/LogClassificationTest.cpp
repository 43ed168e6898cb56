// SPDX-License-Identifier: MIT
#include "core/evidence/LogClassification.h"

#include "core/Text.h"
#include "support/CorePrinters.h"

#include <functional>
#include <gtest/gtest.h>
#include <span>

namespace exitwise::core::logclass {
namespace {

const Date kTerminatedAt = dateFromSecondsSince1970(1700000000.0);
const Date kEntryDate = dateFromSecondsSince1970(1699999990.0);

EventContext sketchPad(std::optional<std::string> bundle = "org.example.SketchPad",
                       std::optional<std::int32_t> pid = 812)
{
    return contextAround({.appName = "Sketch Pad",
                          .bundleIdentifier = std::move(bundle),
                          .pid = pid,
                          .terminatedAt = kTerminatedAt,
                          .terminationReason = TerminationReason::killed},
                         180.0);
}

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

std::vector<SignalType> typesOf(const std::vector<Signal>& signals)
{
    std::vector<SignalType> types;
    for (const Signal& signal : signals) {
        types.push_back(signal.type());
    }
    return types;
}

// The lists as written, in their order; the classifiers' results depend on both.
TEST(LogClassification, TermListsAreExactlyThese)
{
    const auto strings = [](std::span<const std::string_view> terms) {
        return std::vector<std::string>(terms.begin(), terms.end());
    };
    using List = std::vector<std::string>;
    // clang-format off
    EXPECT_EQ(strings(kMemoryTerms), (List{"jetsam", "memorystatus", "memory pressure", "RESOURCE_TYPE_MEMORY", "out of memory", "vm pressure", "highwater"}));
    EXPECT_EQ(strings(kTerminationTerms), (List{"killed", "terminated", "exited", "was killed", "kill reason", "signal 9", "sigkill"}));
    EXPECT_EQ(strings(kQuitTerms), (List{"SIGTERM", "signal 15", "force quit", "quit request", "requested to quit", "termination request", "was quit"}));
    EXPECT_EQ(strings(kLogoutTerms), (List{"logout", "session logout", "session ended", "log out"}));
    EXPECT_EQ(strings(kShutdownTerms), (List{"shutdown", "poweroff", "restart", "power off"}));
    EXPECT_EQ(strings(kUpdateTerms), (List{"software update", "softwareupdated", "install update", "updated"}));
    EXPECT_EQ(strings(kManagementTerms), (List{"mdm", "managed", "device management", "configuration profile"}));
    EXPECT_EQ(strings(kWatchdogTerms), (List{"watchdog", "Application Not Responding", "unresponsive", "spindump"}));
    EXPECT_EQ(strings(kCrashTerms), (List{"EXC_", "SIGABRT", "segmentation fault", "crash", "abort trap"}));
    EXPECT_EQ(strings(kBlockTerms), (List{"blocked", "deny", "denied", "rejected", "cannot be opened", "not allowed", "killed"}));
    EXPECT_EQ(strings(kLoaderGateTerms), (List{"dyld", "library", "mach-o", "image", "architecture", "validation"}));
    EXPECT_EQ(strings(kMissingLibraryTerms), (List{"library not loaded", "image not found", "no such file"}));
    EXPECT_EQ(strings(kArchitectureTerms), (List{"wrong architecture", "incompatible architecture", "bad cpu type in executable"}));
    EXPECT_EQ(strings(kValidationTerms), (List{"library validation", "not valid for use in process", "code signature"}));
    EXPECT_EQ(strings(kInactiveTerms), (List{"service inactive", "state = inactive", "service became inactive"}));
    EXPECT_EQ(strings(kServiceFailureTerms), (List{"failed to start", "failed with", "exited with non-zero", "exited abnormally", "crashed", "xpc connection invalid", "xpc connection interrupted", "could not connect", "connection invalid"}));
    EXPECT_EQ(strings(kThrottleTerms), (List{"service only ran for", "will try again in", "throttle"}));
    // clang-format on
}

// Every term of a list, in any case and inside other text, makes its test hold.
TEST(LogClassification, EveryTermOfEachListIsFoundIgnoringCase)
{
    struct Row
    {
        const char* list;
        std::span<const std::string_view> terms;
        std::function<bool(std::string_view)> test;
    };
    const auto attributedAs = [](QuitAttribution expected) {
        return [expected](std::string_view m) { return attributeQuit("kernel", m) == expected; };
    };
    const std::vector<Row> rows = {
        {"memory", kMemoryTerms, containsMemoryTerm},
        {"termination", kTerminationTerms, containsTerminationTerm},
        {"quit", kQuitTerms, containsQuitTerm},
        {"watchdog", kWatchdogTerms, containsWatchdogTerm},
        {"crash", kCrashTerms, containsCrashTerm},
        {"service failure", kServiceFailureTerms, isServiceFailure},
        {"block", kBlockTerms,
         [](std::string_view m) { return isPolicyBlock("gatekeeper " + std::string(m)); }},
        {"logout", kLogoutTerms, attributedAs(QuitAttribution::logout)},
        {"shutdown", kShutdownTerms, attributedAs(QuitAttribution::shutdown)},
        {"update", kUpdateTerms, attributedAs(QuitAttribution::update)},
        {"management", kManagementTerms, attributedAs(QuitAttribution::mdm)},
        {"missing library", kMissingLibraryTerms,
         [](std::string_view m) {
             return loaderKind("dyld " + std::string(m)) == DyldFailureKind::missingLibrary;
         }},
        {"architecture", kArchitectureTerms,
         [](std::string_view m) {
             return loaderKind("dyld " + std::string(m)) == DyldFailureKind::wrongArchitecture;
         }},
        {"validation", kValidationTerms,
         [](std::string_view m) {
             return loaderKind("dyld " + std::string(m)) == DyldFailureKind::libraryValidation;
         }},
        {"throttle", kThrottleTerms, [](std::string_view m) { return parseExitCount(m) == 2; }},
    };
    for (const Row& row : rows) {
        EXPECT_FALSE(row.test("an ordinary line of text")) << row.list;
        for (const std::string_view term : row.terms) {
            EXPECT_TRUE(row.test("x " + upper(term) + " y")) << row.list << ": " << term;
        }
    }
    for (const std::string_view term : kLoaderGateTerms) {
        EXPECT_EQ(loaderKind(std::string(term) + ": library not loaded"), DyldFailureKind::missingLibrary)
            << term;
    }
    for (const std::string_view term : kInactiveTerms) {
        EXPECT_FALSE(isServiceFailure(std::string(term) + ", helper crashed")) << term;
    }
}

TEST(LogClassification, PolicyKindTakesTheFirstHitInItsOrder)
{
    const std::vector<std::pair<const char*, std::optional<PolicyBlockKind>>> rows = {
        {"Gatekeeper blocked the app", PolicyBlockKind::gatekeeper},
        {"quarantine attribute, gatekeeper", PolicyBlockKind::quarantine},
        {"Library Validation failed", PolicyBlockKind::libraryValidation},
        {"hardened runtime denied", PolicyBlockKind::hardenedRuntime},
        {"AMFI: code signature invalid", PolicyBlockKind::codeSignature},
        {"codesign check", PolicyBlockKind::codeSignature},
        {"all fine", std::nullopt},
    };
    for (const auto& [message, expected] : rows) {
        EXPECT_EQ(policyKind(message), expected) << message;
    }
    EXPECT_TRUE(isPolicyBlock("Gatekeeper blocked the app"));
    EXPECT_FALSE(isPolicyBlock("Gatekeeper assessed the app"));
    EXPECT_FALSE(isPolicyBlock("access denied"));
}

TEST(LogClassification, QuitAttributionTakesTheFirstListInItsOrder)
{
    using A = QuitAttribution;
    // clang-format off
    const std::vector<std::tuple<const char*, const char*, A>> rows = {
        {"kernel", "shutdown after session logout", A::logout},
        {"kernel", "software update, then restart", A::shutdown},
        {"kernel", "mdm installed an update: software update", A::update},
        {"kernel", "configuration profile removed", A::mdm},
        {"kernel", "SIGTERM", A::userRequest},
        {"launchd", "SIGTERM", A::unknown},
    };
    // clang-format on
    for (const auto& [process, message, expected] : rows) {
        EXPECT_EQ(attributeQuit(process, message), expected) << message;
    }
}

TEST(LogClassification, LoaderKindNeedsAGateTermAndNeverSaysOther)
{
    const std::vector<std::pair<const char*, std::optional<DyldFailureKind>>> rows = {
        {"Library not loaded: libfoo", DyldFailureKind::missingLibrary},
        {"bad cpu type in executable", std::nullopt},
        {"Mach-O: bad cpu type in executable", DyldFailureKind::wrongArchitecture},
        {"dyld: not valid for use in process", DyldFailureKind::libraryValidation},
        {"dyld: something odd", std::nullopt},
        {"no such file", std::nullopt},
    };
    for (const auto& [message, expected] : rows) {
        EXPECT_EQ(loaderKind(message), expected) << message;
    }
}

TEST(LogClassification, ExitCountsAndServiceLabels)
{
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> counts = {
        {"Service com.example.agent exited (12 times)", 12},
        {"will try again in 10 seconds", 2},
        {"exited (x times)", std::nullopt},
        {"HELPER CRASHED (7 TIMES)", 7},
        {"job failed, see above (3\ttimes)", 3},
        {"exited after a very long pause (4 times)", std::nullopt}, // more than 24 characters apart
        {"4 recent crashes", 4},
        {"throttled after  5 failures", 5},
        {"2 recent crashes; exited (9 times)", 9}, // the first pattern wins
        {"exited (99999999999999999999 times); 6 recent crashes", 6},
        {"exited (99999999999999999999 times)", std::nullopt},
    };
    for (const auto& [message, expected] : counts) {
        EXPECT_EQ(parseExitCount(message), expected) << message;
    }

    EXPECT_EQ(serviceLabel("Service com.example.agent exited (12 times)"), "com.example.agent");
    EXPECT_EQ(serviceLabel("(com.Example-app_2.helper[812])"), "com.Example-app_2.helper");
    EXPECT_EQ(serviceLabel("Com.example.agent"), std::nullopt);
    EXPECT_EQ(serviceLabel("no label"), std::nullopt);
}

// A long enough run of digits or label characters used to overflow the regex matcher's stack.
TEST(LogClassification, HugeRunsDoNotBreakThePatterns)
{
    const std::string digits(300000, '7');
    EXPECT_EQ(parseExitCount("(" + digits + " recent crashes"), std::nullopt);
    EXPECT_EQ(parseExitCount("exited (" + digits + std::string(300000, ' ') + "times)"), std::nullopt);
    EXPECT_EQ(parseExitCount("exited (3" + std::string(300000, ' ') + "times)"), 3);
    const auto label = serviceLabel("com." + std::string(300000, 'a'));
    ASSERT_TRUE(label.has_value());
    EXPECT_EQ(label->substr(0, 8), "com.aaaa");
}

TEST(LogClassification, RelevanceByNameBundlePidOrProcess)
{
    const EventContext context = sketchPad();
    EXPECT_TRUE(mentionsEvent(context, "SKETCH PAD stopped"));
    EXPECT_TRUE(mentionsEvent(context, "org.example.sketchpad helper"));
    EXPECT_TRUE(mentionsEvent(context, "process 1812 exited")); // plain substring
    EXPECT_FALSE(mentionsEvent(sketchPad("", std::nullopt), "sketchpad 812"));
    EXPECT_TRUE(
        classifyEntry(context, "kernel", 1, kEntryDate, "Editor was killed: jetsam, SIGTERM, EXC_BAD_ACCESS")
            .empty());
    EXPECT_FALSE(classifyEntry(context, "sketch pad", 4, kEntryDate, "jetsam killed").empty());
    EXPECT_FALSE(classifyEntry(context, "helper", 812, kEntryDate, "jetsam killed").empty());
    // An unnamed application is not relevant to every unnamed process.
    const EventContext unnamed = contextAround(
        {.appName = "", .terminatedAt = kTerminatedAt, .terminationReason = TerminationReason::unknown},
        180.0);
    EXPECT_TRUE(classifyEntry(unnamed, "", std::nullopt, kEntryDate, "jetsam killed").empty());
}

TEST(LogClassification, ClassifyEntryBuildsSignalsInOrder)
{
    const EventContext context = sketchPad();
    const auto memory =
        classifyEntry(context, "kernel", std::nullopt, kEntryDate, "Sketch Pad was killed: memory pressure");
    ASSERT_EQ(memory.size(), 2u);
    EXPECT_EQ(memory[0],
              Signal(TerminationSignal{kEntryDate, TerminationReason::killed,
                                       "kernel: Sketch Pad was killed: memory pressure", std::nullopt}));
    EXPECT_EQ(memory[1], Signal(JetsamSignal{kEntryDate, "Sketch Pad was killed: memory pressure",
                                             MemoryPressureEvidence::directTermination}));

    const auto all =
        classifyEntry(context, "syspolicyd", 90, kEntryDate,
                      "Gatekeeper blocked Sketch Pad: dyld library validation, watchdog, jetsam killed");
    EXPECT_EQ(typesOf(all), (std::vector{SignalType::termination, SignalType::policy, SignalType::dyld,
                                         SignalType::watchdog, SignalType::jetsam}));
    EXPECT_EQ(all[1], Signal(PolicySignal{kEntryDate, PolicyBlockKind::gatekeeper,
                                          "Gatekeeper blocked Sketch Pad: dyld library validation, watchdog, "
                                          "jetsam killed"}));
    EXPECT_EQ(all[2].as<DyldSignal>()->kind, DyldFailureKind::libraryValidation);

    // The same block from the kernel is no policy signal.
    EXPECT_EQ(typesOf(classifyEntry(context, "kernel", 0, kEntryDate, "Gatekeeper blocked Sketch Pad")),
              std::vector<SignalType>{});

    const auto launchd =
        classifyEntry(context, "launchd", 1, kEntryDate,
                      "Service com.example.SketchPad.helper for Sketch Pad exited abnormally (3 times)");
    ASSERT_EQ(launchd.size(), 1u);
    EXPECT_EQ(launchd[0],
              Signal(LaunchdSignal{kEntryDate, "com.example.SketchPad.helper",
                                   "Service com.example.SketchPad.helper for Sketch Pad exited abnormally "
                                   "(3 times)",
                                   3}));
    EXPECT_TRUE(
        classifyEntry(context, "launchd", 1, kEntryDate, "Sketch Pad: service became inactive, crashed")
            .size()
        == 1); // only the crash termination
}

TEST(LogClassification, TerminationRuleTakesQuitThenKillThenCrash)
{
    const EventContext context = sketchPad();
    const std::vector<std::tuple<const char*, const char*, TerminationReason, std::optional<QuitAttribution>>>
        rows = {
            {"loginwindow", "Sketch Pad got SIGTERM during logout, crashed", TerminationReason::quit,
             QuitAttribution::logout},
            {"LaunchD", "Sketch Pad: signal 15", TerminationReason::quit, QuitAttribution::unknown},
            {"kernel", "Sketch Pad unresponsive, crash", TerminationReason::killed, std::nullopt},
            {"kernel", "Sketch Pad: EXC_BAD_ACCESS", TerminationReason::crashed, std::nullopt},
        };
    for (const auto& [process, message, reason, attribution] : rows) {
        const auto signals = classifyEntry(context, process, 1, kEntryDate, message);
        ASSERT_FALSE(signals.empty()) << message;
        const auto* termination = signals[0].as<TerminationSignal>();
        ASSERT_NE(termination, nullptr) << message;
        EXPECT_EQ(termination->reason, reason) << message;
        EXPECT_EQ(termination->quitAttribution, attribution) << message;
    }
    EXPECT_TRUE(classifyEntry(context, "kernel", 1, kEntryDate, "Sketch Pad started").empty());
}

TEST(LogClassification, LongMessagesAreShortenedByCharacters)
{
    std::string message = "Sketch Pad killed by jetsam ";
    while (text::characterCount(message) < 500) {
        message += "é";
    }
    const auto signals = classifyEntry(sketchPad(), "kernel", 0, kEntryDate, message);
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_EQ(signals[1].as<JetsamSignal>()->message, text::shortened(message, 220));
    EXPECT_EQ(text::characterCount(signals[1].as<JetsamSignal>()->message), 221u);
    EXPECT_EQ(signals[0].as<TerminationSignal>()->rawValue, "kernel: " + text::shortened(message, 120));
}

TEST(LogClassification, OutputClassifiesOnlyEntryLines)
{
    const EventContext context = sketchPad();
    // A banner that quotes the query must not count as evidence.
    const std::string banner =
        "Filtering the log data using \"eventMessage CONTAINS[c] \"jetsam\" OR eventMessage CONTAINS[c] "
        "\"SIGTERM\" OR eventMessage CONTAINS[c] \"terminated\" OR eventMessage CONTAINS[c] \"watchdog\"\"\n"
        "Timestamp                       (process)[PID]\n";
    EXPECT_TRUE(classifyOutput(context, banner, true).empty());

    const auto signals = classifyOutput(
        context, banner + "2023-11-14 22:13:20.000000+0000 localhost kernel: Sketch Pad killed by jetsam\n",
        false);
    EXPECT_EQ(signals, (std::vector<Signal>{
                           JetsamSignal{kTerminatedAt, "jetsam/memory pressure signal from unified log",
                                        MemoryPressureEvidence::directTermination},
                           TerminationSignal{kTerminatedAt, TerminationReason::killed, "log show: jetsam",
                                             std::nullopt},
                       }));
}

TEST(LogClassification, OutputSignalsComeInTheirFixedOrder)
{
    const std::string output = "2023-11-14 22:13:20 kernel: Sketch Pad killed by jetsam\r\n"
                               "2023-11-14 22:13:21 watchdog: Sketch Pad unresponsive\n"
                               "2023-11-14 22:13:22 kernel: Gatekeeper blocked Sketch Pad\n"
                               "2023-11-14 22:13:23 dyld: Library not loaded: libsketch\n"
                               "2023-11-14 22:13:24 launchd: helper exited (4 times), failed to start\n"
                               "2023-11-14 22:13:25 launchd: SIGTERM for logout\n";
    const auto signals = classifyOutput(sketchPad(), output, true);
    EXPECT_EQ(typesOf(signals),
              (std::vector{SignalType::jetsam, SignalType::termination, SignalType::watchdog,
                           SignalType::termination, SignalType::policy, SignalType::dyld, SignalType::launchd,
                           SignalType::termination, SignalType::unifiedLog}));
    EXPECT_EQ(signals[4].as<PolicySignal>()->kind, PolicyBlockKind::gatekeeper);
    EXPECT_EQ(signals[5].as<DyldSignal>()->kind, DyldFailureKind::missingLibrary);
    EXPECT_EQ(signals[6], Signal(LaunchdSignal{kTerminatedAt, std::nullopt,
                                               "helper/service failure signal from unified log", 4}));
    EXPECT_EQ(signals[7],
              Signal(TerminationSignal{kTerminatedAt, TerminationReason::quit,
                                       "log show: SIGTERM/quit request", QuitAttribution::logout}));
    const auto* raw = signals[8].as<UnifiedLogSignal>();
    EXPECT_EQ(raw->process, "log");
    EXPECT_EQ(raw->message, text::shortened(entryLines(output), 600));
    EXPECT_EQ(text::characterCount(classifyOutput(sketchPad(), "2023-11-14 " + std::string(700, 'x'), true)
                                       .back()
                                       .as<UnifiedLogSignal>()
                                       ->message),
              601u);
}

// Reading with the Linux vocabulary. The application: "Notes", desktop id org.example.Notes,
// running /usr/lib/notes/notes-bin as pid 4711 in GNOME's scope for it.

const LogVocabulary& desktop = LogVocabulary::linuxDesktop();
const std::string kScope =
    "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Notes-4711.scope";

ProcessFacts notesProcess(std::string cgroup = kScope)
{
    ProcessFacts facts;
    facts.command = "notes-bin";
    facts.executable = "/usr/lib/notes/notes-bin";
    facts.cgroup = std::move(cgroup);
    return facts;
}

EventContext notes(std::optional<std::int32_t> pid = 4711, std::optional<ProcessFacts> facts = notesProcess())
{
    EventContext context = contextAround({.appName = "Notes",
                                          .bundleIdentifier = "org.example.Notes",
                                          .pid = pid,
                                          .terminatedAt = kTerminatedAt,
                                          .terminationReason = TerminationReason::unknown},
                                         180.0);
    context.process = std::move(facts);
    return context;
}

// A termination's raw text: the process, ": " and the message cut at 120 characters.
std::string raw(const std::string& process, const std::string& message)
{
    return process + ": " + text::shortened(message, 120);
}

Signal crashed(std::string raw)
{
    return TerminationSignal{kEntryDate, TerminationReason::crashed, std::move(raw), std::nullopt};
}

Signal killed(std::string raw)
{
    return TerminationSignal{kEntryDate, TerminationReason::killed, std::move(raw), std::nullopt};
}

Signal quit(std::string raw, QuitAttribution attribution)
{
    return TerminationSignal{kEntryDate, TerminationReason::quit, std::move(raw), attribution};
}

// Messages in signals are cut at 220 characters.
Signal memoryKill(const std::string& message)
{
    return JetsamSignal{kEntryDate, text::shortened(message, 220), MemoryPressureEvidence::directTermination};
}

Signal loader(DyldFailureKind kind, std::string message)
{
    return DyldSignal{kEntryDate, kind, std::move(message)};
}

Signal helper(std::optional<std::string> name, std::string message, std::optional<std::int64_t> count = {})
{
    return LaunchdSignal{kEntryDate, std::move(name), std::move(message), count};
}

// Real lines (pids and names changed to the application's) and what each one says.
TEST(LinuxLogClassification, RealLinesGiveExactlyTheseSignals)
{
    const std::string own = "org.example.Notes.desktop";
    const std::string segfault =
        "notes-bin[4711]: segfault at 0 ip 000055d0c8a1b139 sp 00007ffd2c1e8a40 error 6 in "
        "notes-bin[55d0c8a1a000+2000] likely on CPU 2 (core 2, socket 0)";
    const std::string invalidOpcode = "traps: notes-bin[4711] trap invalid opcode ip:55d0c8a1b139 "
                                      "sp:7ffd2c1e8a40 error:0 in notes-bin[55d0c8a1a000+2000]";
    const std::string divideError =
        "traps: notes-bin[4711] trap divide error ip:55d0c8a1b139 sp:7ffd2c1e8a40 error:0 in notes-bin[…]";
    const std::string gpf = "traps: notes-bin[4711] general protection fault ip:7f2a1c0b4d2e sp:7ffd2c1e8a40 "
                            "error:0 in libc.so.6[7f2a1c028000+155000]";
    const std::string oom = "Out of memory: Killed process 4711 (notes-bin) total-vm:4194304kB, "
                            "anon-rss:3145728kB, file-rss:0kB, shmem-rss:0kB, UID:1000 pgtables:6500kB "
                            "oom_score_adj:200";
    const std::string memcg =
        "Memory cgroup out of memory: Killed process 4711 (notes-bin) total-vm:4194304kB, "
        "anon-rss:3145728kB, file-rss:0kB, shmem-rss:0kB, UID:1000 pgtables:6500kB "
        "oom_score_adj:200";
    const std::string oomKill =
        "oom-kill:constraint=CONSTRAINT_MEMCG,nodemask=(null),cpuset=/,mems_allowed=0,oom_memcg=" + kScope
        + ",task_memcg=" + kScope + ",task=notes-bin,pid=4711,uid=1000";
    const std::string oomd = "Killed " + kScope
                             + " due to memory pressure for /user.slice/user-1000.slice/user@1000.service "
                               "being 82.35% > 50.00% for > 20s with reclaim activity";
    const std::string oomdAbove =
        "Marked /user.slice/user-1000.slice/user@1000.service/app.slice for killing "
        "due to memory pressure for /user.slice/user-1000.slice/user@1000.service "
        "being 82.35% > 50.00% for > 20s with reclaim activity";
    const std::string oomdOther = "Killed /user.slice/user-1000.slice/user@1000.service/app.slice/"
                                  "app-gnome-org.example.Notes-5000.scope due to memory pressure for "
                                  "/user.slice/user-1000.slice/user@1000.service being 82.35% > 50.00% for > "
                                  "20s with reclaim activity";
    const std::string unitOom =
        "app-gnome-org.example.Notes-4711.scope: A process of this unit has been killed by the OOM killer.";
    const std::string unitOomd =
        "app-gnome-org.example.Notes-4711.scope: systemd-oomd killed 3 process(es) in "
        "this unit.";
    const std::string earlyoom = "sending SIGTERM to process 4711 uid 1000 \"notes-bin\": oom_score 600, "
                                 "oom_score_adj 200, VmRSS 3000 MiB, cmdline \"/usr/lib/notes/notes-bin\"";
    const std::string nohang = "[ OK ] Sending SIGTERM to notes-bin: 1";
    const std::string stopped =
        "app-gnome-org.example.Notes-4711.scope: Killing process 4711 (notes-bin) with signal SIGTERM.";
    const std::string helperCore = "app-org.example.Notes-sync.service: Failed with result 'core-dump'.";
    const std::string gpu =
        "[4711:4711:0101/120000.123456:ERROR:gpu_process_host.cc(991)] GPU process exited "
        "unexpectedly: exit_code=139";
    const std::string missing = "notes-bin: error while loading shared libraries: libnotes.so.3: cannot open "
                                "shared object file: No such file or directory";
    const std::string elfClass =
        "notes-bin: error while loading shared libraries: libnotes.so.3: wrong ELF class: ELFCLASS32";
    const std::string version =
        "notes-bin: /lib/x86_64-linux-gnu/libc.so.6: version `GLIBC_2.38' not found (required by notes-bin)";
    const std::string symbol = "notes-bin: symbol lookup error: notes-bin: undefined symbol: notes_init";
    const std::string launcher =
        "Failed to launch “Notes”: Failed to execute child process “notes-bin” (Exec format error)";

    struct Row
    {
        std::string process;
        std::optional<std::int32_t> pid;
        std::string message;
        std::vector<Signal> expected;
    };
    // clang-format off
    const std::vector<Row> rows = {
        // The kernel's fault lines.
        {"kernel", std::nullopt, segfault, {crashed(raw("kernel", segfault))}},
        {"kernel", std::nullopt, invalidOpcode, {crashed(raw("kernel", invalidOpcode))}},
        {"kernel", std::nullopt, divideError, {crashed(raw("kernel", divideError))}},
        {"kernel", std::nullopt, gpf, {crashed(raw("kernel", gpf))}},
        {"kernel", std::nullopt, "notes-helper[812]: segfault at 0 ip 000055d0c8a1b139 error 6 in notes-helper[55d0c8a1a000+2000]", {}},
        // Memory killers: a kill and a direct memory signal, never a quit.
        {"kernel", std::nullopt, oom, {killed(raw("kernel", oom)), memoryKill(oom)}},
        {"kernel", std::nullopt, memcg, {killed(raw("kernel", memcg)), memoryKill(memcg)}},
        {"kernel", std::nullopt, oomKill, {killed(raw("kernel", oomKill)), memoryKill(oomKill)}},
        {"kernel", std::nullopt, "Out of memory: Killed process 812 (notes-helper) total-vm:1024kB", {}},
        {"kernel", std::nullopt, "notes-bin invoked oom-killer: gfp_mask=0xcc0(GFP_KERNEL), order=0, oom_score_adj=200", {}},
        {"systemd-oomd", 600, oomd, {killed(raw("systemd-oomd", oomd)), memoryKill(oomd)}},
        {"systemd-oomd", 600, oomdAbove, {killed(raw("systemd-oomd", oomdAbove)), memoryKill(oomdAbove)}},
        {"systemd-oomd", 600, oomdOther, {}},
        {"systemd", 1200, unitOom, {killed(raw("systemd", unitOom)), memoryKill(unitOom)}},
        {"systemd", 1200, unitOomd, {killed(raw("systemd", unitOomd)), memoryKill(unitOomd)}},
        {"systemd", 1200, "app-gnome-org.example.Notes-5000.scope: A process of this unit has been killed by the OOM killer.", {}},
        {"earlyoom", 650, earlyoom, {killed(raw("earlyoom", earlyoom)), memoryKill(earlyoom)}},
        {"earlyoom", 650, "escalating to SIGKILL after 0.500 seconds", {}},
        {"nohang", 660, nohang, {killed(raw("nohang", nohang)), memoryKill(nohang)}},
        // The service manager.
        {"systemd", 1200, stopped, {quit(raw("systemd", stopped), QuitAttribution::unknown)}},
        {"systemd", 1200, helperCore, {helper("app-org.example.Notes-sync.service", helperCore)}},
        {"systemd", 1200, "notes-sync.service: Failed with result 'exit-code'.", {}},
        // The crash reporter's lines are its records' business.
        {"systemd-coredump", 4800, "Process 4711 (notes-bin) of user 1000 dumped core.", {}},
        // The application's own output: runtime aborts, the loader, helper reports; no chatter.
        {own, 4711, "notes-bin: notes.c:12: main: Assertion `x' failed.", {crashed(own + ": notes-bin: notes.c:12: main: Assertion `x' failed. (abort)")}},
        {own, 4711, "terminate called after throwing an instance of 'std::runtime_error'", {crashed(own + ": terminate called after throwing an instance of 'std::runtime_error' (abort)")}},
        {own, 4711, "*** stack smashing detected ***: terminated", {crashed(own + ": *** stack smashing detected ***: terminated (abort)")}},
        {own, 4711, "free(): invalid pointer", {crashed(own + ": free(): invalid pointer (abort)")}},
        {own, 4711, "double free or corruption (out)", {crashed(own + ": double free or corruption (out) (abort)")}},
        {own, 4711, "notes-helper: helper.c:40: run: Assertion `fd >= 0' failed.", {helper("notes-helper", "notes-helper: helper.c:40: run: Assertion `fd >= 0' failed.")}},
        {own, 4711, missing, {loader(DyldFailureKind::missingLibrary, missing)}},
        {own, 4711, elfClass, {loader(DyldFailureKind::wrongArchitecture, elfClass)}},
        {own, 4711, version, {loader(DyldFailureKind::other, version)}},
        {own, 4711, symbol, {loader(DyldFailureKind::other, symbol)}},
        {own, 4711, "/usr/lib/notes/notes-helper: error while loading shared libraries: libh.so.1: cannot open shared object file: No such file or directory", {helper("notes-helper", "/usr/lib/notes/notes-helper: error while loading shared libraries: libh.so.1: cannot open shared object file: No such file or directory")}},
        {own, 4711, "Failed to execute child process “notes-helper” (Exec format error)", {helper(std::nullopt, "Failed to execute child process “notes-helper” (Exec format error)")}},
        {own, 4711, gpu, {helper("GPU process", gpu)}},
        {own, 4711, "child process 812 terminated by signal 11", {helper("child process 812", "child process 812 terminated by signal 11")}},
        {own, 4711, "Child process 812 (notes-helper) exited abnormally", {helper("notes-helper", "Child process 812 (notes-helper) exited abnormally")}},
        {own, 4711, "helper process crashed (3 times)", {helper("helper process", "helper process crashed (3 times)", 3)}},
        {own, 4711, "Crash reporter disabled", {}},
        {own, 4711, "killed the worker thread; quit requested; SIGTERM handler installed", {}},
        {own, 4711, "out of memory while decoding, killed the job", {}},
        {own, 4711, "watchdog: renderer unresponsive", {}},
        // Another instance of the application.
        {own, 5000, "notes-bin: notes.c:12: main: Assertion `x' failed.", {}},
        // A launcher naming the application: its loader failures only.
        {"gnome-shell", 1500, launcher, {loader(DyldFailureKind::wrongArchitecture, launcher)}},
        {"gnome-shell", 1500, "Notes crashed, SIGKILL, out of memory", {}},
    };
    // clang-format on
    const EventContext context = notes();
    for (const Row& row : rows) {
        EXPECT_EQ(classifyEntry(context, row.process, row.pid, kEntryDate, row.message, desktop),
                  row.expected)
            << row.process << ": " << row.message;
    }
}

// A service's main process dumping core is the application's crash when the service is the
// application's own unit; the abort shows in the raw text.
TEST(LinuxLogClassification, OwnUnitCoreDumpIsACrash)
{
    const EventContext context =
        notes(4711, notesProcess("/user.slice/user-1000.slice/user@1000.service/app.slice/"
                                 "app-org.example.Notes@2f1c.service"));
    const std::string abort =
        "app-org.example.Notes@2f1c.service: Main process exited, code=dumped, status=6/ABRT";
    EXPECT_EQ(classifyEntry(context, "systemd", 1200, kEntryDate, abort, desktop),
              std::vector<Signal>{crashed(raw("systemd", abort))});
    const std::string result = "app-org.example.Notes@2f1c.service: Failed with result 'core-dump'.";
    EXPECT_EQ(classifyEntry(context, "systemd", 1200, kEntryDate, result, desktop),
              std::vector<Signal>{crashed(raw("systemd", result))});
}

TEST(LinuxLogClassification, Bearing)
{
    EventContext sketchPad = contextAround({.appName = "Sketch Pad",
                                            .bundleIdentifier = "org.example.SketchPad",
                                            .pid = 449,
                                            .terminatedAt = kTerminatedAt,
                                            .terminationReason = TerminationReason::unknown},
                                           180.0);
    ProcessFacts facts;
    facts.command = "sketchpad-bin";
    facts.cgroup = "/user.slice/user-1000.slice/session-2.scope"; // shared: says nothing
    sketchPad.process = facts;

    struct Row
    {
        const char* name;
        const EventContext& context;
        std::string process;
        std::optional<std::int32_t> pid;
        std::string message;
        Bearing expected;
    };
    const EventContext withFacts = notes();
    const EventContext withoutFacts = notes(4711, std::nullopt);
    const EventContext withoutPid = notes(std::nullopt);
    // clang-format off
    const Row rows[] = {
        {"its pid", withFacts, "notes-bin", 4711, "anything", Bearing::ownOutput},
        {"its desktop id, another pid", withFacts, "org.example.Notes.desktop", 5000, "Notes", Bearing::none},
        {"its comm, another pid", withFacts, "notes-bin", 5000, "notes-bin[4711]: hello", Bearing::none},
        {"its desktop id, no pids", withoutPid, "org.example.Notes", std::nullopt, "hello", Bearing::ownOutput},
        {"comm[pid]", withFacts, "kernel", std::nullopt, "notes-bin[4711]: segfault at 0", Bearing::application},
        {"another comm[pid] naming us", withFacts, "kernel", std::nullopt, "notes-helper[812]: segfault at 0 (Notes)", Bearing::none},
        {"Process N (comm) of another", withFacts, "systemd-coredump", 90, "Process 812 (notes-helper) of user 1000 dumped core.", Bearing::none},
        {"pid prefix of a longer pid", sketchPad, "kernel", std::nullopt, "sketchpad-bin[4496]: segfault at 0 ip 00005644960 sp 0", Bearing::none},
        {"the same line for that pid", notes(4496, facts), "kernel", std::nullopt, "sketchpad-bin[4496]: segfault at 0 ip 00005644960", Bearing::application},
        {"pid inside an address", sketchPad, "kernel", std::nullopt, "general protection fault ip:00005644960 in libc.so.6", Bearing::none},
        {"Killed process N", withFacts, "kernel", std::nullopt, "Killed process 4711 (notes-bin)", Bearing::application},
        {"Killed process N0", withFacts, "kernel", std::nullopt, "Killed process 47110 (notes-bin)", Bearing::none},
        {"pid=N,", withFacts, "kernel", std::nullopt, "oom-kill:task=notes-bin,pid=4711,uid=1000", Bearing::application},
        {"ppid=N is no pid", sketchPad, "kernel", std::nullopt, "ppid=449 of something", Bearing::none},
        {"comm as a word", sketchPad, "kernel", std::nullopt, "sketchpad-bin: page allocation stalls for 10000ms", Bearing::application},
        {"comm inside a word", sketchPad, "kernel", std::nullopt, "sketchpad-bin2: page allocation stalls for 10000ms", Bearing::none},
        {"the OOM invoker is any instance", withFacts, "kernel", std::nullopt, "notes-bin invoked oom-killer: order=0", Bearing::none},
        {"the OOM invoker without a pid", withoutPid, "kernel", std::nullopt, "notes-bin invoked oom-killer: order=0", Bearing::application},
        {"comm in quotes", sketchPad, "nohang", 3, "[ OK ] Sending SIGTERM to sketchpad-bin: 1", Bearing::application},
        {"its unit", withFacts, "systemd", 1200, "app-gnome-org.example.Notes-4711.scope: Consumed 1.2s CPU time.", Bearing::application},
        {"another unit of it", withFacts, "systemd", 1200, "app-org.example.Notes-sync.service: Failed with result 'exit-code'.", Bearing::helper},
        {"a unit named like it", withFacts, "systemd", 1200, "notes-sync.service: Failed with result 'exit-code'.", Bearing::none},
        {"a unit, own unit unknown", withoutFacts, "systemd", 1200, "app-gnome-org.example.Notes-4711.scope: A process of this unit has been killed by the OOM killer.", Bearing::application},
        {"a unit named like it, own unit unknown", withoutFacts, "systemd", 1200, "notes-sync.service: Main process exited, code=dumped, status=11/SEGV", Bearing::none},
        {"oomd victim above it", withFacts, "systemd-oomd", 600, "Killed /user.slice/user-1000.slice/user@1000.service/app.slice due to memory pressure", Bearing::application},
        {"oomd victim beside it", withFacts, "systemd-oomd", 600, "Killed /user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.example.Notes-47.scope due to memory pressure", Bearing::none},
        {"its name", withFacts, "gnome-shell", 1500, "Failed to launch “Notes”", Bearing::application},
        {"its bundle identifier", withFacts, "gnome-shell", 1500, "org.example.Notes: no window", Bearing::application},
        {"nothing of it", withFacts, "kernel", std::nullopt, "usb 1-1: new high-speed USB device number 4711", Bearing::none},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(bearing(row.context, row.process, row.pid, row.message), row.expected) << row.name;
    }
    // A desktop id with "-" is escaped in unit names.
    EventContext beta = notes(4711, std::nullopt);
    beta.bundleIdentifier = "org.example.Notes-Beta";
    EXPECT_EQ(bearing(beta, "systemd", 1200, "app-gnome-org.example.Notes\\x2dBeta-4711.scope: x"),
              Bearing::application);
}

TEST(LinuxLogClassification, MemoryAndTerminationTermsOfSystemLinesOnly)
{
    const EventContext context = notes();
    const auto invoker = examineEntry(notes(std::nullopt), "kernel", std::nullopt, kEntryDate,
                                      "notes-bin invoked oom-killer: gfp_mask=0xcc0(GFP_KERNEL)", desktop);
    EXPECT_TRUE(invoker.relevant);
    EXPECT_TRUE(invoker.memoryTerm) << "memory ran short";
    EXPECT_FALSE(invoker.terminationTerm) << "but nobody named was killed";
    EXPECT_EQ(invoker.role, LogVocabulary::Role::kernel);

    const auto chatter = examineEntry(context, "org.example.Notes", 4711, kEntryDate,
                                      "memory pressure: killed cache", desktop);
    EXPECT_TRUE(chatter.relevant);
    EXPECT_EQ(chatter.bearing, Bearing::ownOutput);
    EXPECT_FALSE(chatter.memoryTerm);
    EXPECT_FALSE(chatter.terminationTerm);
}

TEST(LinuxLogClassification, LoaderKindsAndProcessNames)
{
    // clang-format off
    const std::vector<std::pair<const char*, std::optional<DyldFailureKind>>> rows = {
        {"x: error while loading shared libraries: libx.so: cannot open shared object file: No such file or directory", DyldFailureKind::missingLibrary},
        {"x: error while loading shared libraries: libx.so: wrong ELF class: ELFCLASS32", DyldFailureKind::wrongArchitecture},
        {"Failed to execute /opt/x: Exec format error", DyldFailureKind::wrongArchitecture},
        {"x: /lib/libc.so.6: version `GLIBC_2.38' not found (required by x)", DyldFailureKind::other},
        {"Library not loaded: libfoo", std::nullopt},
    };
    // clang-format on
    for (const auto& [message, expected] : rows) {
        EXPECT_EQ(loaderKind(message, desktop), expected) << message;
        EXPECT_EQ(loaderKind(message, LogVocabulary::macos()), loaderKind(message)) << message;
    }

    ProcessFacts facts;
    facts.executable = "/opt/Long Named Application/long-named-application";
    EXPECT_EQ(kernelName(facts), "long-named-appl");
    facts.command = "lna";
    EXPECT_EQ(kernelName(facts), "lna");
    for (const auto& [cgroup, unit] : std::vector<std::pair<std::string, std::string>>{
             {kScope, "app-gnome-org.example.Notes-4711.scope"},
             {"/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.kde.kate@1f2e.service",
              "app-org.kde.kate@1f2e.service"},
             {"/user.slice/user-1000.slice/user@1000.service/app.slice/snap.notes.notes-9f1c.scope",
              "snap.notes.notes-9f1c.scope"},
             {"/user.slice/user-1000.slice/session-2.scope", ""},
             {"/user.slice/user-1000.slice/user@1000.service/app.slice/vte-spawn-1c2d.scope", ""},
             {"", ""},
         }) {
        facts.cgroup = cgroup;
        EXPECT_EQ(applicationUnit(facts), unit) << cgroup;
    }
}

TEST(LinuxLogClassification, LogLines)
{
    EXPECT_EQ(parseLogLine("2026-03-01 14:05:09+0100 localhost notes-bin[4711]: a: b"),
              (LogLine{"notes-bin", 4711, "a: b"}));
    EXPECT_EQ(parseLogLine("2026-03-01 14:05:09.250000+0000  localhost kernel: x[1]: y"),
              (LogLine{"kernel", std::nullopt, "x[1]: y"}));
    EXPECT_EQ(parseLogLine("2026-03-01 14:05:09+0100 localhost web[x]: z"),
              (LogLine{"web[x]", std::nullopt, "z"}));
    EXPECT_EQ(parseLogLine("Filtering the log data: x"), std::nullopt);
    EXPECT_EQ(parseLogLine("2026-03-01 14:05:09+0100 localhost no colon"), std::nullopt);
}

TEST(LinuxLogClassification, OutputReadsEachRelevantLineAsAnEntry)
{
    const std::string output =
        "Filtering the log data using \"…\"\n"
        "2026-03-01 14:05:09+0100 localhost kernel: notes-bin[4711]: segfault at 0 ip 1 sp "
        "2 error 6\n"
        "2026-03-01 14:05:09+0100 localhost kernel: notes-helper[812]: segfault at 0\n"
        "2026-03-01 14:05:09+0100 localhost org.example.Notes.desktop[4711]: crash "
        "reporter disabled\n"
        "2026-03-01 14:05:10+0100 localhost earlyoom[650]: sending SIGTERM to process 4711 "
        "uid 1000 \"notes-bin\": oom_score 600\n";
    const auto signals = classifyOutput(notes(), output, true, desktop);
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_EQ(signals[0], Signal(TerminationSignal{kTerminatedAt, TerminationReason::crashed,
                                                   "kernel: notes-bin[4711]: segfault at 0 ip 1 sp 2 error 6",
                                                   std::nullopt}));
    EXPECT_EQ(signals[1].as<TerminationSignal>()->reason, TerminationReason::killed);
    EXPECT_EQ(signals[2].as<JetsamSignal>()->evidence, MemoryPressureEvidence::directTermination);
    const auto* raw = signals[3].as<UnifiedLogSignal>();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->message.find("notes-helper"), std::string::npos) << "only relevant lines";
    EXPECT_NE(raw->message.find("crash reporter disabled"), std::string::npos);
    EXPECT_TRUE(classifyOutput(notes(), "2026-03-01 14:05:09+0100 localhost kernel: x[1]: y\n", true, desktop)
                    .empty());
}

} // namespace
} // namespace exitwise::core::logclass
