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
    return EventContext("Sketch Pad", std::move(bundle), pid, std::nullopt, kTerminatedAt,
                        TerminationReason::killed, std::nullopt, std::nullopt, 180.0);
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
    const EventContext unnamed("", std::nullopt, std::nullopt, std::nullopt, kTerminatedAt,
                               TerminationReason::unknown, std::nullopt, std::nullopt, 180.0);
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

} // namespace
} // namespace exitwise::core::logclass
