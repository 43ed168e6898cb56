// SPDX-License-Identifier: MIT
#include "core/evidence/LogClassification.h"

#include "core/Text.h"
#include "support/CorePrinters.h"
#include "support/Files.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <span>
#include <sstream>
#include <tuple>

namespace exitwise::core::logclass {
namespace {

using R = TerminationReason;
using K = DyldFailureKind;
const Date kTerminatedAt = dateFromSecondsSince1970(1700000000.0);
const Date kEntryDate = dateFromSecondsSince1970(1699999990.0);

EventContext sketchPad(std::optional<std::string> bundle = "org.example.SketchPad",
                       std::optional<std::int32_t> pid = 812)
{
    return contextAround({.appName = "Sketch Pad",
                          .bundleIdentifier = std::move(bundle),
                          .pid = pid,
                          .terminatedAt = kTerminatedAt,
                          .terminationReason = R::killed},
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
    using Test = std::function<bool(std::string_view)>;
    const auto attributedAs = [](QuitAttribution expected) -> Test {
        return [expected](std::string_view m) { return attributeQuit("kernel", m) == expected; };
    };
    const auto loaderSays = [](K kind) -> Test {
        return [kind](std::string_view m) { return loaderKind("dyld " + std::string(m)) == kind; };
    };
    const Test blocks = [](std::string_view m) { return isPolicyBlock("gatekeeper " + std::string(m)); };
    const Test throttled = [](std::string_view m) { return parseExitCount(m) == 2; };
    // clang-format off
    const std::vector<std::tuple<const char*, std::span<const std::string_view>, Test>> rows = {
        {"memory", kMemoryTerms, containsMemoryTerm},
        {"termination", kTerminationTerms, containsTerminationTerm},
        {"quit", kQuitTerms, containsQuitTerm},
        {"watchdog", kWatchdogTerms, containsWatchdogTerm},
        {"crash", kCrashTerms, containsCrashTerm},
        {"service failure", kServiceFailureTerms, isServiceFailure},
        {"block", kBlockTerms, blocks},
        {"logout", kLogoutTerms, attributedAs(QuitAttribution::logout)},
        {"shutdown", kShutdownTerms, attributedAs(QuitAttribution::shutdown)},
        {"update", kUpdateTerms, attributedAs(QuitAttribution::update)},
        {"management", kManagementTerms, attributedAs(QuitAttribution::mdm)},
        {"missing library", kMissingLibraryTerms, loaderSays(K::missingLibrary)},
        {"architecture", kArchitectureTerms, loaderSays(K::wrongArchitecture)},
        {"validation", kValidationTerms, loaderSays(K::libraryValidation)},
        {"throttle", kThrottleTerms, throttled},
    };
    // clang-format on
    for (const auto& [list, terms, test] : rows) {
        EXPECT_FALSE(test("an ordinary line of text")) << list;
        for (const std::string_view term : terms) {
            EXPECT_TRUE(test("x " + upper(term) + " y")) << list << ": " << term;
        }
    }
    for (const std::string_view term : kLoaderGateTerms) {
        EXPECT_EQ(loaderKind(std::string(term) + ": library not loaded"), K::missingLibrary) << term;
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

// The macOS vocabulary needs a gate term and never says `other`; the Linux one reads the
// Linux loader lines instead.
TEST(LogClassification, LoaderKindsInEachVocabulary)
{
    using Kind = std::optional<K>;
    // clang-format off
    const std::vector<std::tuple<const char*, Kind, Kind>> rows = {
        {"Library not loaded: libfoo", K::missingLibrary, std::nullopt},
        {"bad cpu type in executable", std::nullopt, std::nullopt},
        {"Mach-O: bad cpu type in executable", K::wrongArchitecture, std::nullopt},
        {"dyld: not valid for use in process", K::libraryValidation, std::nullopt},
        {"dyld: something odd", std::nullopt, std::nullopt},
        {"no such file", std::nullopt, std::nullopt},
        {"x: error while loading shared libraries: libx.so: cannot open shared object file: No such file or directory", std::nullopt, K::missingLibrary},
        {"x: error while loading shared libraries: libx.so: wrong ELF class: ELFCLASS32", std::nullopt, K::wrongArchitecture},
        {"Failed to execute /opt/x: Exec format error", std::nullopt, K::wrongArchitecture},
        {"x: /lib/libc.so.6: version `GLIBC_2.38' not found (required by x)", std::nullopt, K::other},
    };
    // clang-format on
    for (const auto& [message, macos, onLinux] : rows) {
        EXPECT_EQ(loaderKind(message), macos) << message;
        EXPECT_EQ(loaderKind(message, LogVocabulary::macos()), macos) << message;
        EXPECT_EQ(loaderKind(message, LogVocabulary::linuxDesktop()), onLinux) << message;
    }
}

TEST(LogClassification, ExitCountsAndServiceLabels)
{
    // clang-format off
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
    // clang-format on
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
    const std::string allTerms = "Editor was killed: jetsam, SIGTERM, EXC_BAD_ACCESS";
    EXPECT_TRUE(classifyEntry(context, "kernel", 1, kEntryDate, allTerms).empty());
    EXPECT_FALSE(classifyEntry(context, "sketch pad", 4, kEntryDate, "jetsam killed").empty());
    EXPECT_FALSE(classifyEntry(context, "helper", 812, kEntryDate, "jetsam killed").empty());
    // An unnamed application is not relevant to every unnamed process.
    const EventContext unnamed =
        contextAround({.appName = "", .terminatedAt = kTerminatedAt, .terminationReason = R::unknown}, 180.0);
    EXPECT_TRUE(classifyEntry(unnamed, "", std::nullopt, kEntryDate, "jetsam killed").empty());
}

TEST(LogClassification, ClassifyEntryBuildsSignalsInOrder)
{
    const EventContext context = sketchPad();
    const std::string memory = "Sketch Pad was killed: memory pressure";
    EXPECT_EQ(
        classifyEntry(context, "kernel", std::nullopt, kEntryDate, memory),
        (std::vector<Signal>{TerminationSignal{kEntryDate, R::killed, "kernel: " + memory, std::nullopt},
                             JetsamSignal{kEntryDate, memory, MemoryPressureEvidence::directTermination}}));

    const std::string many =
        "Gatekeeper blocked Sketch Pad: dyld library validation, watchdog, jetsam killed";
    const auto all = classifyEntry(context, "syspolicyd", 90, kEntryDate, many);
    EXPECT_EQ(typesOf(all), (std::vector{SignalType::termination, SignalType::policy, SignalType::dyld,
                                         SignalType::watchdog, SignalType::jetsam}));
    EXPECT_EQ(all[1], Signal(PolicySignal{kEntryDate, PolicyBlockKind::gatekeeper, many}));
    EXPECT_EQ(all[2].as<DyldSignal>()->kind, K::libraryValidation);
    // The same block from the kernel is no policy signal.
    EXPECT_EQ(typesOf(classifyEntry(context, "kernel", 0, kEntryDate, "Gatekeeper blocked Sketch Pad")),
              std::vector<SignalType>{});

    const std::string helper =
        "Service com.example.SketchPad.helper for Sketch Pad exited abnormally (3 times)";
    EXPECT_EQ(classifyEntry(context, "launchd", 1, kEntryDate, helper),
              (std::vector<Signal>{LaunchdSignal{kEntryDate, "com.example.SketchPad.helper", helper, 3}}));
    // An inactive service is no failure: only the crash termination.
    EXPECT_EQ(classifyEntry(context, "launchd", 1, kEntryDate, "Sketch Pad: service became inactive, crashed")
                  .size(),
              1u);
}

TEST(LogClassification, TerminationRuleTakesQuitThenKillThenCrash)
{
    // clang-format off
    const std::vector<std::tuple<const char*, const char*, R, std::optional<QuitAttribution>>> rows = {
        {"loginwindow", "Sketch Pad got SIGTERM during logout, crashed", R::quit, QuitAttribution::logout},
        {"LaunchD", "Sketch Pad: signal 15", R::quit, QuitAttribution::unknown},
        {"kernel", "Sketch Pad unresponsive, crash", R::killed, std::nullopt},
        {"kernel", "Sketch Pad: EXC_BAD_ACCESS", R::crashed, std::nullopt},
    };
    // clang-format on
    for (const auto& [process, message, reason, attribution] : rows) {
        const auto signals = classifyEntry(sketchPad(), process, 1, kEntryDate, message);
        ASSERT_FALSE(signals.empty()) << message;
        const std::string raw = std::string(process) + ": " + message;
        EXPECT_EQ(signals.front(), Signal(TerminationSignal{kEntryDate, reason, raw, attribution}));
    }
    EXPECT_TRUE(classifyEntry(sketchPad(), "kernel", 1, kEntryDate, "Sketch Pad started").empty());
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

TEST(LogClassification, OutputIsReadByItsEntryLinesInAFixedOrder)
{
    // A banner that quotes the query must not count as evidence.
    const std::string banner = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/log-show-banner.txt");
    EXPECT_TRUE(classifyOutput(sketchPad(), banner, true).empty());
    const std::string jetsam =
        "2023-11-14 22:13:20.000000+0000 localhost kernel: Sketch Pad killed by jetsam\n";
    EXPECT_EQ(
        classifyOutput(sketchPad(), banner + jetsam, false),
        (std::vector<Signal>{JetsamSignal{kTerminatedAt, "jetsam/memory pressure signal from unified log",
                                          MemoryPressureEvidence::directTermination},
                             TerminationSignal{kTerminatedAt, R::killed, "log show: jetsam", std::nullopt}}));

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
    EXPECT_EQ(signals[5].as<DyldSignal>()->kind, K::missingLibrary);
    EXPECT_EQ(signals[6], Signal(LaunchdSignal{kTerminatedAt, std::nullopt,
                                               "helper/service failure signal from unified log", 4}));
    EXPECT_EQ(signals[7], Signal(TerminationSignal{kTerminatedAt, R::quit, "log show: SIGTERM/quit request",
                                                   QuitAttribution::logout}));
    EXPECT_EQ(signals[8],
              Signal(UnifiedLogSignal{kTerminatedAt, "log", text::shortened(entryLines(output), 600)}));
    const auto longOutput = classifyOutput(sketchPad(), "2023-11-14 " + std::string(700, 'x'), true);
    EXPECT_EQ(text::characterCount(longOutput.back().as<UnifiedLogSignal>()->message), 601u);
}

// Reading with the Linux vocabulary. The application: "Notes", desktop id org.example.Notes,
// running /usr/lib/notes/notes-bin as pid 4711 in GNOME's scope for it.

const LogVocabulary& desktop = LogVocabulary::linuxDesktop();
const std::string kSlice = "/user.slice/user-1000.slice/user@1000.service";
const std::string kScope = kSlice + "/app.slice/app-gnome-org.example.Notes-4711.scope";

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
                                          .terminationReason = R::unknown},
                                         180.0);
    context.process = std::move(facts);
    return context;
}

// The lines of tests/data/logs/`name` that are neither blank nor comments, split at " | " into
// `count` fields, the last taking the rest of the line.
std::vector<std::vector<std::string>> dataRows(const std::string& name, std::size_t count)
{
    std::istringstream in(test::readFile(std::string(EXITWISE_TEST_DATA_DIR) + "/logs/" + name));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.starts_with('#')) {
            continue;
        }
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t end = line.find(" | "); end != std::string::npos && fields.size() + 1 < count;
             end = line.find(" | ", start)) {
            fields.push_back(line.substr(start, end - start));
            start = end + 3;
        }
        fields.push_back(line.substr(start));
        if (fields.size() != count) {
            ADD_FAILURE() << "not " << count << " fields: " << line;
            continue;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

std::optional<std::int32_t> pidOf(const std::string& field)
{
    return field == "-" ? std::nullopt : std::optional<std::int32_t>(std::stoi(field));
}

// The signals an entry must give, as the data file says them.
std::vector<Signal> said(const std::string& says, const std::string& process, const std::string& message)
{
    const std::string raw = process + ": " + text::shortened(message, 120);
    const std::map<std::string, K> loaderKinds{{"loader missing library", K::missingLibrary},
                                               {"loader wrong architecture", K::wrongArchitecture},
                                               {"loader other", K::other}};
    if (says == "crashed" || says == "quit") {
        return {says == "quit" ? TerminationSignal{kEntryDate, R::quit, raw, QuitAttribution::unknown}
                               : TerminationSignal{kEntryDate, R::crashed, raw, std::nullopt}};
    }
    if (says == "abort") {
        return {
            TerminationSignal{kEntryDate, R::crashed, process + ": " + message + " (abort)", std::nullopt}};
    }
    if (says == "memory kill") {
        return {TerminationSignal{kEntryDate, R::killed, raw, std::nullopt},
                JetsamSignal{kEntryDate, text::shortened(message, 220),
                             MemoryPressureEvidence::directTermination}};
    }
    if (loaderKinds.contains(says)) {
        return {DyldSignal{kEntryDate, loaderKinds.at(says), message}};
    }
    if (says.starts_with("helper")) {
        std::string name = says.substr(std::min<std::size_t>(says.size(), 7));
        std::optional<std::int64_t> count;
        if (const auto comma = name.find(", "); comma != std::string::npos) {
            count = std::stoll(name.substr(comma + 2));
            name.resize(comma);
        }
        return {LaunchdSignal{kEntryDate, name.empty() ? std::nullopt : std::optional(name), message, count}};
    }
    EXPECT_EQ(says, "nothing");
    return {};
}

// Real lines and what each one says.
TEST(LinuxLogClassification, RealLinesGiveExactlyTheseSignals)
{
    const EventContext scope = notes();
    const EventContext service =
        notes(4711, notesProcess(kSlice + "/app.slice/app-org.example.Notes@2f1c.service"));
    const auto rows = dataRows("linux-lines.txt", 5);
    EXPECT_EQ(rows.size(), 48u);
    for (const auto& row : rows) {
        const auto& [unit, process, pid, says, message] = std::tie(row[0], row[1], row[2], row[3], row[4]);
        EXPECT_EQ(classifyEntry(unit == "service" ? service : scope, process, pidOf(pid), kEntryDate, message,
                                desktop),
                  said(says, process, message))
            << process << ": " << message;
    }
}

TEST(LinuxLogClassification, Bearing)
{
    ProcessFacts sketchPadBin;
    sketchPadBin.command = "sketchpad-bin";
    sketchPadBin.cgroup = "/user.slice/user-1000.slice/session-2.scope";
    EventContext sketchPad = contextAround({.appName = "Sketch Pad",
                                            .bundleIdentifier = "org.example.SketchPad",
                                            .pid = 449,
                                            .terminatedAt = kTerminatedAt,
                                            .terminationReason = R::unknown},
                                           180.0);
    sketchPad.process = sketchPadBin;
    EventContext beta = notes(4711, std::nullopt);
    beta.bundleIdentifier = "org.example.Notes-Beta";
    const std::map<std::string, EventContext> applications{
        {"notes", notes()},
        {"notes, unit unknown", notes(4711, std::nullopt)},
        {"notes, pid unknown", notes(std::nullopt)},
        {"notes-beta", beta},
        {"sketchpad", sketchPad},
        {"notes as sketchpad-bin 4496", notes(4496, sketchPadBin)},
    };
    const std::map<std::string, Bearing> bearings{{"none", Bearing::none},
                                                  {"own output", Bearing::ownOutput},
                                                  {"application", Bearing::application},
                                                  {"helper", Bearing::helper}};
    const auto rows = dataRows("linux-bearing.txt", 6);
    EXPECT_EQ(rows.size(), 30u);
    for (const auto& row : rows) {
        const auto& [shows, application, process, pid, expected, message] =
            std::tie(row[0], row[1], row[2], row[3], row[4], row[5]);
        EXPECT_EQ(bearing(applications.at(application), process, pidOf(pid), message), bearings.at(expected))
            << shows;
    }
}

TEST(LinuxLogClassification, MemoryAndTerminationTermsOfSystemLinesOnly)
{
    // Memory ran short, but nobody named was killed.
    const auto invoker = examineEntry(notes(std::nullopt), "kernel", std::nullopt, kEntryDate,
                                      "notes-bin invoked oom-killer: gfp_mask=0xcc0(GFP_KERNEL)", desktop);
    EXPECT_EQ(std::tuple(invoker.relevant, invoker.memoryTerm, invoker.terminationTerm, invoker.role),
              std::tuple(true, true, false, LogVocabulary::Role::kernel));
    // The application's own chatter is read for none of them.
    const auto chatter = examineEntry(notes(), "org.example.Notes", 4711, kEntryDate,
                                      "memory pressure: killed cache", desktop);
    EXPECT_EQ(std::tuple(chatter.relevant, chatter.bearing, chatter.memoryTerm, chatter.terminationTerm),
              std::tuple(true, Bearing::ownOutput, false, false));
}

TEST(LinuxLogClassification, ProcessNamesAndUnits)
{
    ProcessFacts facts;
    facts.executable = "/opt/Long Named Application/long-named-application";
    EXPECT_EQ(kernelName(facts), "long-named-appl");
    facts.command = "lna";
    EXPECT_EQ(kernelName(facts), "lna");
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> units = {
        {kScope, "app-gnome-org.example.Notes-4711.scope"},
        {kSlice + "/app.slice/app-org.kde.kate@1f2e.service", "app-org.kde.kate@1f2e.service"},
        {kSlice + "/app.slice/snap.notes.notes-9f1c.scope", "snap.notes.notes-9f1c.scope"},
        {"/user.slice/user-1000.slice/session-2.scope", ""},
        {kSlice + "/app.slice/vte-spawn-1c2d.scope", ""},
        {"", ""},
    };
    // clang-format on
    for (const auto& [cgroup, unit] : units) {
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
    const std::string output = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/linux-log-output.txt");
    const auto signals = classifyOutput(notes(), output, true, desktop);
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_EQ(signals[0], Signal(TerminationSignal{kTerminatedAt, R::crashed,
                                                   "kernel: notes-bin[4711]: segfault at 0 ip 1 sp 2 error 6",
                                                   std::nullopt}));
    EXPECT_EQ(signals[1].as<TerminationSignal>()->reason, R::killed);
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
