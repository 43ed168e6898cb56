// SPDX-License-Identifier: MIT
#include "core/evidence/LogClassification.h"

#include "core/Text.h"
#include "support/CorePrinters.h"
#include "support/Files.h"
#include "support/SampleContexts.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <span>
#include <tuple>
#include <type_traits>

namespace exitwise::core::logclass {
namespace {

using R = TerminationReason;
using K = DyldFailureKind;
const Date kTerminatedAt = dateFromSecondsSince1970(1700000000.0);
const Date kEntryDate = dateFromSecondsSince1970(1699999990.0);

EventContext sketchPad(std::optional<std::int32_t> pid = 812)
{
    return test::sketchPadContext(kTerminatedAt, R::killed, pid);
}

// The lists as written, in their order (the classifiers' results depend on both), each with the
// test it feeds: every term, in any case and inside other text, makes that test hold.
TEST(LogClassification, TermListsAreExactlyThese)
{
    using Test = std::function<bool(std::string_view)>;
    const auto attributedAs = [](QuitAttribution expected) -> Test {
        return [expected](auto m) { return attributeQuit("kernel", m) == expected; };
    };
    const auto loaderSays = [](K kind) -> Test {
        return [kind](auto m) { return loaderKind("dyld " + std::string(m)) == kind; };
    };
    const Test blocks = [](auto m) { return isPolicyBlock("gatekeeper " + std::string(m)); };
    const Test throttled = [](auto m) { return parseExitCount(m) == 2; };
    const Test gate = [](auto m) {
        return loaderKind(std::string(m) + " no such file") == K::missingLibrary;
    };
    const Test inactive = [](auto m) { return !isServiceFailure(std::string(m) + ", x crashed"); };
    using List = std::vector<std::string_view>;
    // clang-format off
    const std::vector<std::tuple<std::span<const std::string_view>, List, Test>> rows = {
        {kMemoryTerms, {"jetsam", "memorystatus", "memory pressure", "RESOURCE_TYPE_MEMORY", "out of memory", "vm pressure", "highwater"}, containsMemoryTerm},
        {kTerminationTerms, {"killed", "terminated", "exited", "was killed", "kill reason", "signal 9", "sigkill"}, containsTerminationTerm},
        {kQuitTerms, {"SIGTERM", "signal 15", "force quit", "quit request", "requested to quit", "termination request", "was quit"}, containsQuitTerm},
        {kLogoutTerms, {"logout", "session logout", "session ended", "log out"}, attributedAs(QuitAttribution::logout)},
        {kShutdownTerms, {"shutdown", "poweroff", "restart", "power off"}, attributedAs(QuitAttribution::shutdown)},
        {kUpdateTerms, {"software update", "softwareupdated", "install update", "updated"}, attributedAs(QuitAttribution::update)},
        {kManagementTerms, {"mdm", "managed", "device management", "configuration profile"}, attributedAs(QuitAttribution::mdm)},
        {kWatchdogTerms, {"watchdog", "Application Not Responding", "unresponsive", "spindump"}, containsWatchdogTerm},
        {kCrashTerms, {"EXC_", "SIGABRT", "segmentation fault", "crash", "abort trap"}, containsCrashTerm},
        {kBlockTerms, {"blocked", "deny", "denied", "rejected", "cannot be opened", "not allowed", "killed"}, blocks},
        {kLoaderGateTerms, {"dyld", "library", "mach-o", "image", "architecture", "validation"}, gate},
        {kMissingLibraryTerms, {"library not loaded", "image not found", "no such file"}, loaderSays(K::missingLibrary)},
        {kArchitectureTerms, {"wrong architecture", "incompatible architecture", "bad cpu type in executable"}, loaderSays(K::wrongArchitecture)},
        {kValidationTerms, {"library validation", "not valid for use in process", "code signature"}, loaderSays(K::libraryValidation)},
        {kInactiveTerms, {"service inactive", "state = inactive", "service became inactive"}, inactive},
        {kServiceFailureTerms, {"failed to start", "failed with", "exited with non-zero", "exited abnormally", "crashed", "xpc connection invalid", "xpc connection interrupted", "could not connect", "connection invalid"}, isServiceFailure},
        {kThrottleTerms, {"service only ran for", "will try again in", "throttle"}, throttled},
    };
    // clang-format on
    for (const auto& [list, terms, test] : rows) {
        EXPECT_EQ(List(list.begin(), list.end()), terms);
        EXPECT_FALSE(test("an ordinary line of text")) << terms.front();
        for (const std::string_view term : terms) {
            std::string shouted(term);
            std::transform(shouted.begin(), shouted.end(), shouted.begin(), ::toupper);
            EXPECT_TRUE(test("x " + shouted + " y")) << term;
        }
    }
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

// A long enough run of digits or label characters used to overflow the regex matcher's stack.
TEST(LogClassification, HugeRunsDoNotBreakThePatterns)
{
    const std::string digits(300000, '7');
    EXPECT_EQ(parseExitCount("(" + digits + " recent crashes"), std::nullopt);
    EXPECT_EQ(parseExitCount("exited (" + digits + std::string(300000, ' ') + "times)"), std::nullopt);
    EXPECT_EQ(parseExitCount("exited (3" + std::string(300000, ' ') + "times)"), 3);
    EXPECT_EQ(serviceLabel("com." + std::string(300000, 'a')).value_or("").substr(0, 8), "com.aaaa");
}

TEST(LogClassification, OutputIsReadByItsEntryLinesInAFixedOrder)
{
    // A banner that quotes the query must not count as evidence.
    const std::string banner = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/log-show-banner.txt");
    EXPECT_TRUE(classifyOutput(sketchPad(), banner, true).empty());

    const std::string output = "2023-11-14 22:13:20 kernel: Sketch Pad killed by jetsam\r\n"
                               "2023-11-14 22:13:21 watchdog: Sketch Pad unresponsive\n"
                               "2023-11-14 22:13:22 kernel: Gatekeeper blocked Sketch Pad\n"
                               "2023-11-14 22:13:23 dyld: Library not loaded: libsketch\n"
                               "2023-11-14 22:13:24 launchd: helper exited (4 times), failed to start\n"
                               "2023-11-14 22:13:25 launchd: SIGTERM for logout\n";
    const Date at = kTerminatedAt;
    EXPECT_EQ(classifyOutput(sketchPad(), output, true),
              (std::vector<Signal>{
                  JetsamSignal{at, "jetsam/memory pressure signal from unified log",
                               MemoryPressureEvidence::directTermination},
                  TerminationSignal{at, R::killed, "log show: jetsam", std::nullopt},
                  WatchdogSignal{at, "watchdog/unresponsive signal from unified log"},
                  TerminationSignal{at, R::killed, "log show: watchdog", std::nullopt},
                  PolicySignal{at, PolicyBlockKind::gatekeeper, "security policy signal from unified log"},
                  DyldSignal{at, K::missingLibrary, "dynamic loader signal from unified log"},
                  LaunchdSignal{at, std::nullopt, "helper/service failure signal from unified log", 4},
                  TerminationSignal{at, R::quit, "log show: SIGTERM/quit request", QuitAttribution::logout},
                  UnifiedLogSignal{at, "log", entryLines(output)},
              }));
    const auto longOutput = classifyOutput(sketchPad(), "2023-11-14 " + std::string(700, 'x'), true);
    EXPECT_EQ(text::characterCount(longOutput.back().as<UnifiedLogSignal>()->message), 601u);
}

// The Linux applications of the data files: "Notes", desktop id org.example.Notes, running
// /usr/lib/notes/notes-bin as pid 4711 in GNOME's scope for it, and others like it.

const LogVocabulary& desktop = LogVocabulary::linuxDesktop();
const std::string kSlice = "/user.slice/user-1000.slice/user@1000.service";

EventContext notes(std::optional<std::int32_t> pid = 4711)
{
    EventContext context = test::notesContext(kTerminatedAt, R::unknown);
    context.pid = pid;
    return context;
}

// The applications by the names the data files give them.
std::map<std::string, EventContext> applications()
{
    ProcessFacts sketchPadBin;
    sketchPadBin.command = "sketchpad-bin";
    sketchPadBin.cgroup = "/user.slice/user-1000.slice/session-2.scope";
    EventContext inSession = sketchPad(449);
    inSession.process = sketchPadBin;
    EventContext inService = notes();
    inService.process->cgroup = kSlice + "/app.slice/app-org.example.Notes@2f1c.service";
    EventContext unitUnknown = notes();
    unitUnknown.process.reset();
    EventContext bare = sketchPad(std::nullopt);
    bare.bundleIdentifier = "";
    EventContext beta = unitUnknown;
    beta.bundleIdentifier = "org.example.Notes-Beta";
    EventContext asSketchPadBin = notes(4496);
    asSketchPadBin.process = sketchPadBin;
    return {
        {"sketchpad", sketchPad()},
        {"sketchpad, no bundle id or pid", bare},
        {"unnamed", contextAround({.appName = "", .terminatedAt = kTerminatedAt}, 180.0)},
        {"notes", notes()},
        {"notes in its service", inService},
        {"notes, unit unknown", unitUnknown},
        {"notes, pid unknown", notes(std::nullopt)},
        {"notes-beta", beta},
        {"sketchpad in a login session", inSession},
        {"notes as sketchpad-bin 4496", asSketchPadBin},
    };
}

using test::split;

// The lines of tests/data/logs/`name`, split at " | " into `count` fields.
std::vector<std::vector<std::string>> dataRows(const std::string& name, std::size_t count)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : test::dataLines(EXITWISE_TEST_DATA_DIR "/logs/" + name)) {
        rows.push_back(split(line, " | ", count));
        EXPECT_EQ(rows.back().size(), count) << line;
        rows.back().resize(count);
    }
    return rows;
}

std::optional<std::int32_t> pidOf(const std::string& field)
{
    return field == "-" ? std::nullopt : std::optional<std::int32_t>(std::stoi(field));
}

// What single readings make of a message, spelled as the data file spells them.
TEST(LogClassification, SingleReadings)
{
    const auto spelled = [](const auto& result) -> std::string {
        using T = std::decay_t<decltype(result)>;
        if constexpr (std::is_same_v<T, bool>) {
            return result ? "yes" : "no";
        } else if constexpr (std::is_same_v<T, std::string>) {
            return result.empty() ? "-" : result;
        } else if (!result) {
            return "-";
        } else if constexpr (std::is_enum_v<typename T::value_type>) {
            return std::string(rawValue(*result));
        } else {
            return std::to_string(*result);
        }
    };
    const auto logLine = [&](const std::string& m) -> std::string {
        const auto line = parseLogLine(m);
        return line ? std::string(line->process) + "; " + spelled(line->processIdentifier) + "; "
                          + std::string(line->message)
                    : "-";
    };
    // clang-format off
    const std::map<std::string, std::function<std::string(const std::string&)>> readings{
        {"policy kind", [&](auto m) { return spelled(policyKind(m)); }},
        {"policy block", [&](auto m) { return spelled(isPolicyBlock(m)); }},
        {"macOS loader kind", [&](auto m) { return spelled(loaderKind(m, LogVocabulary::macos())); }},
        {"Linux loader kind", [&](auto m) { return spelled(loaderKind(m, desktop)); }},
        {"exit count", [&](auto m) { return spelled(parseExitCount(m)); }},
        {"service label", [&](auto m) { return spelled(serviceLabel(m).value_or("")); }},
        {"kernel name", [&](auto m) { return spelled(kernelName({std::nullopt, m, "", ""})); }},
        {"application unit", [&](auto m) { return spelled(applicationUnit({std::nullopt, "", "", m})); }},
        {"log line", logLine},
    };
    // clang-format on
    const auto rows = dataRows("readings.txt", 3);
    EXPECT_EQ(rows.size(), 53u);
    for (const auto& row : rows) {
        EXPECT_EQ(readings.at(row[0])(row[2]), row[1]) << row[0] << ": " << row[2];
    }
    EXPECT_EQ(kernelName({std::nullopt, "/opt/long-named-application", "lna", ""}), "lna");
}

// The signals an entry must give, as the data files say them.
std::vector<Signal> said(const std::string& says, const std::string& process, const std::string& message)
{
    const std::string raw = process + ": " + text::shortened(message, 120);
    const std::string shortMessage = text::shortened(message, 220);
    std::vector<Signal> signals;
    for (const std::string& word : split(says, " + ")) {
        const auto parts = split(word, ": ", 2);
        const std::string detail = parts.size() > 1 ? parts[1] : "";
        if (const auto reason = fromRawValue<R>(parts[0])) {
            signals.emplace_back(
                TerminationSignal{kEntryDate, *reason, raw, fromRawValue<QuitAttribution>(detail)});
        } else if (word == "abort") {
            signals.emplace_back(TerminationSignal{kEntryDate, R::crashed, raw + " (abort)", std::nullopt});
        } else if (word == "memory") {
            signals.emplace_back(
                JetsamSignal{kEntryDate, shortMessage, MemoryPressureEvidence::directTermination});
        } else if (word == "watchdog") {
            signals.emplace_back(WatchdogSignal{kEntryDate, shortMessage});
        } else if (parts[0] == "policy") {
            signals.emplace_back(
                PolicySignal{kEntryDate, fromRawValue<PolicyBlockKind>(detail).value(), shortMessage});
        } else if (parts[0] == "loader") {
            signals.emplace_back(DyldSignal{kEntryDate, fromRawValue<K>(detail).value(), shortMessage});
        } else if (parts[0] == "helper") {
            const auto name = split(detail, ", ");
            signals.emplace_back(LaunchdSignal{
                kEntryDate, name[0].empty() ? std::nullopt : std::optional(name[0]), shortMessage,
                name.size() > 1 ? std::optional(std::stoll(name[1])) : std::nullopt});
        } else {
            EXPECT_EQ(word, "nothing");
        }
    }
    return signals;
}

// Lines and what each one says, read with each vocabulary.
TEST(LogClassification, LinesGiveExactlyTheseSignals)
{
    const auto contexts = applications();
    for (const auto& [file, vocabulary, count] : {std::tuple{"macos-lines.txt", &LogVocabulary::macos(), 19u},
                                                  std::tuple{"linux-lines.txt", &desktop, 48u}}) {
        const auto rows = dataRows(file, 5);
        EXPECT_EQ(rows.size(), count) << file;
        for (const auto& row : rows) {
            const auto& [application, process, pid, says, message] =
                std::tie(row[0], row[1], row[2], row[3], row[4]);
            EXPECT_EQ(classifyEntry(contexts.at(application), process, pidOf(pid), kEntryDate, message,
                                    *vocabulary),
                      said(says, process, message))
                << process << ": " << message;
        }
    }
}

TEST(LinuxLogClassification, Bearing)
{
    const auto contexts = applications();
    const std::map<std::string, Bearing> bearings{{"none", Bearing::none},
                                                  {"own output", Bearing::ownOutput},
                                                  {"application", Bearing::application},
                                                  {"helper", Bearing::helper}};
    const auto rows = dataRows("linux-bearing.txt", 6);
    EXPECT_EQ(rows.size(), 30u);
    for (const auto& row : rows) {
        const auto& [shows, application, process, pid, expected, message] =
            std::tie(row[0], row[1], row[2], row[3], row[4], row[5]);
        EXPECT_EQ(bearing(contexts.at(application), process, pidOf(pid), message), bearings.at(expected))
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

// Each line is read as an entry; only relevant lines count, also for the raw text.
TEST(LinuxLogClassification, OutputReadsEachRelevantLineAsAnEntry)
{
    const std::string output = test::readFile(EXITWISE_TEST_DATA_DIR "/logs/linux-log-output.txt");
    const auto lines = split(output, "\n");
    const std::string earlyoom = R"(sending SIGTERM to process 4711 uid 1000 "notes-bin": oom_score 600)";
    EXPECT_EQ(classifyOutput(notes(), output, true, desktop),
              (std::vector<Signal>{
                  TerminationSignal{kTerminatedAt, R::crashed,
                                    "kernel: notes-bin[4711]: segfault at 0 ip 1 sp 2 error 6", std::nullopt},
                  TerminationSignal{kTerminatedAt, R::killed, "earlyoom: " + earlyoom, std::nullopt},
                  JetsamSignal{kTerminatedAt, earlyoom, MemoryPressureEvidence::directTermination},
                  UnifiedLogSignal{kTerminatedAt, "log", lines[1] + "\n" + lines[3] + "\n" + lines[4]},
              }));
    EXPECT_TRUE(classifyOutput(notes(), "2026-03-01 14:05:09+0100 localhost kernel: x[1]: y\n", true, desktop)
                    .empty());
}

} // namespace
} // namespace exitwise::core::logclass
