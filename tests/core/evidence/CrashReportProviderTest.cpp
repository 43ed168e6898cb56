// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportProvider.h"

#include "core/evidence/ReportCandidates.h"
#include "support/CorePrinters.h"
#include "support/ReportFiles.h"

#include <sys/stat.h>

#include <ctime>
#include <gtest/gtest.h>
#include <tuple>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;
using test::ReportDirectory;

// 2025-03-01 13:05:10 UTC, a second after the sample abort report's own date.
const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);

EventContext sketchPad(std::optional<std::int32_t> pid = 812,
                       std::optional<std::string> bundle = std::string("com.acme.draw"))
{
    return contextAround({.appName = "Sketch Pad",
                          .bundleIdentifier = std::move(bundle),
                          .pid = pid,
                          .terminatedAt = kTerminatedAt,
                          .terminationReason = TerminationReason::crashed},
                         180.0);
}

struct Report
{
    const char* name;
    double offset; // of the file's modification time from the termination
    std::string text = "Process: Sketch Pad [812]\n";
};

// The report chosen among `reports` for the context, opening at most `limit` of them.
std::string best(const std::vector<Report>& reports,
                 int limit = kDefaultMaxReportCandidates,
                 const EventContext& context = sketchPad())
{
    const ReportDirectory dir(kTerminatedAt);
    for (const Report& r : reports) {
        dir.write(r.name, r.text, r.offset);
    }
    return test::chosenReport(CrashReportProvider({dir.path()}, limit).collectSignals(context));
}

// A "Date/Time:" line `offset` seconds after the termination.
std::string dated(double offset)
{
    const auto at = static_cast<time_t>(secondsSince1970(kTerminatedAt) + offset);
    std::tm utc{};
    ::gmtime_r(&at, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "Date/Time: %Y-%m-%d %H:%M:%S +0000\n", &utc);
    return buffer;
}

TEST(CrashReportProvider, FileNameScores)
{
    // clang-format off
    const std::vector<std::tuple<const char*, std::optional<std::int32_t>, int>> cases = {
        {"sketch-pad-2025-03-01-140509.ips", 812, 60},
        {"sketchpad_812.ips", 812, 140},
        {"sketchpad[812].crash", 812, 140},
        {"sketchpad_8120.crash", 812, 80},
        {"other-812.crash", 812, 20},
        {"other-812.crash", std::nullopt, 0},
        {"com.acme.draw-2025.crash", 812, 40},
        {"com.acme.draw_812.crash", 812, 120},
        {"other.crash", 812, 0},
    };
    // clang-format on
    for (const auto& [name, pid, score] : cases) {
        EXPECT_EQ(detail::ReportNameScorer(sketchPad(pid), true).score(name), score) << name;
    }
    // Without a bundle identifier and without its use, the identifier adds nothing.
    EXPECT_EQ(detail::ReportNameScorer(sketchPad(812, std::nullopt), true).score("com.acme.draw.crash"), 0);
    EXPECT_EQ(detail::ReportNameScorer(sketchPad(812), false).score("com.acme.draw.crash"), 0);
}

TEST(CrashReportProvider, OnlyRegularReportFilesInsideTheWindowAreCandidates)
{
    // clang-format off
    const std::vector<std::pair<Report, bool>> cases = {
        {{"sketchpad.crash", 0}, true}, {{"SketchPad.IPS", 0}, true}, {{"sketchpad.Crash", 0}, true},
        {{"sketchpad.log", 0}, false}, {{"sketchpad.crash.bak", 0}, false}, {{"sketchpad", 0}, false},
        {{".sketchpad.crash", 0}, false}, {{"sketchpad.crash", 180}, true}, {{"sketchpad.crash", -180}, true},
        {{"sketchpad.crash", 181}, false}, {{"sketchpad.crash", -181}, false},
    };
    // clang-format on
    for (const auto& [report, found] : cases) {
        EXPECT_EQ(best({report}), found ? report.name : "") << report.name << " " << report.offset;
    }
}

TEST(CrashReportProvider, EntriesThatAreNotReadableReportsContributeNothing)
{
    const ReportDirectory dir(kTerminatedAt);
    const std::string report = "Process: Sketch Pad [812]\n";
    // Each of these outranks the fallback, which must still be found with one inspection.
    fs::create_directory(dir.path() / "sketchpad_812.crash");
    dir.touch("sketchpad_812.crash", 0);
    ASSERT_EQ(::mkfifo((dir.path() / "sketchpad_812.ips").c_str(), 0600), 0);
    dir.touch("sketchpad_812.ips", 0);
    fs::create_symlink(dir.write("elsewhere.txt", report), dir.path() / "sketch_pad_812.crash");
    dir.touch("sketch_pad_812.crash", 0);
    // Sparse, so it costs no disk space.
    fs::resize_file(dir.write("sketch-pad_812.crash", report), CrashReportProvider::kMaxReportBytes + 1);
    dir.touch("sketch-pad_812.crash", 0);
    dir.write("fallback_sketchpad.crash", report);

    const auto signals =
        CrashReportProvider({dir.path() / "missing", dir.path()}, 1).collectSignals(sketchPad());
    EXPECT_EQ(test::chosenReport(signals), "fallback_sketchpad.crash");
}

TEST(CrashReportProvider, OnlyTheTopCandidatesAreOpened)
{
    // An undecodable report is skipped but uses its turn.
    const std::vector<Report> undecodable = {
        {"sketchpad_812.crash", 0, "Process: Sketch Pad [812]\n\xff\xfe broken\n"}, {"sketchpad.crash", 0}};
    EXPECT_EQ(best(undecodable, 1), "");
    EXPECT_EQ(best(undecodable, 2), "sketchpad.crash");
    // Three strong names whose reports belong to another process, and a weaker name whose report
    // would win if it were opened.
    const std::vector<Report> strongButOther = {{"sketchpad_812.crash", 1, "Process: Other App [999]\n"},
                                                {"sketch_pad_812.ips", 2, "Process: Other App [999]\n"},
                                                {"sketch-pad_812.crash", 3, "Process: Other App [999]\n"},
                                                {"sketchpad.crash", 0}};
    EXPECT_EQ(best(strongButOther), "");
    EXPECT_EQ(best(strongButOther, 4), "sketchpad.crash");
    // Zero and negative limits still inspect one.
    EXPECT_EQ(CrashReportProvider({}, -2).maxCandidatesToInspect(), 1);
}

TEST(CrashReportProvider, Acceptance)
{
    struct Case
    {
        const char* what;
        std::optional<std::int32_t> eventPid;
        Report report;
        bool accepted;
    };
    // clang-format off
    const Case cases[] = {
        {"pid match despite another name", 812, {"sketchpad_812.crash", 0, "Process: Other App [812]\n"}, true},
        {"neither pid nor name", 999, {"sketchpad.crash", 0, "Process: Other App [812]\n"}, false},
        {"name ignoring case", 999, {"sketchpad.crash", 0, "Process: SKETCH PAD [812]\n"}, true},
        {"name without pids", std::nullopt, {"sketchpad.crash", 0, "Process:   Sketch Pad\n"}, true},
        {"anonymous, score 60", 812, {"sketch-pad.crash", 0, "Exception Type: EXC_CRASH\n"}, true},
        {"anonymous, score 40", 812, {"com.acme.draw.crash", 0, "Exception Type: EXC_CRASH\n"}, false},
        {"empty process line, score 60", 812, {"sketch-pad.crash", 0, "Process:\n"}, true},
        {"pid only, other pid", 812, {"sketchpad.crash", 0, "Process: [77]\n"}, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(best({c.report}, kDefaultMaxReportCandidates, sketchPad(c.eventPid)),
                  c.accepted ? c.report.name : "")
            << c.what;
    }
}

TEST(CrashReportProvider, ReportProcessLine)
{
    using Pid = std::optional<std::int32_t>;
    using Name = std::optional<std::string>;
    // clang-format off
    const std::vector<std::tuple<const char*, Pid, Name>> cases = {
        {"Process:               Sketch Pad [812]\n", 812, "Sketch Pad"},
        {"  Process:\tSketch Pad   [+812]  \r\n", 812, "Sketch Pad"},
        {"Process: X [-5]", -5, "X"},
        {"Process: X [ 812]\nProcess: Y [44]\n", 44, "X"},
        {"Process: X [2147483648]", std::nullopt, "X"},
        {"Process: X ]812[", std::nullopt, "X ]812"},
        {"Process: [812]", 812, std::nullopt},
        {"Process:   \nProcess: Y\n", std::nullopt, std::nullopt},
        {"Parent Process: launcher [1]\n", std::nullopt, std::nullopt},
    };
    // clang-format on
    for (const auto& [text, pid, name] : cases) {
        const auto process = detail::reportProcess(text);
        EXPECT_EQ(std::tie(process.pid, process.name), std::tie(pid, name)) << text;
    }
}

TEST(CrashReportProvider, MatchingScorePicksTheBestAcceptedReport)
{
    // clang-format off
    const std::vector<std::tuple<const char*, std::vector<Report>, const char*>> cases = {
        {"pid mismatch costs 250", {{"sketchpad_812.crash", 0, "Process: Sketch Pad [999]\n"}, {"sketch-pad.crash", 0, "Process: Sketch Pad\n"}}, "sketch-pad.crash"},
        {"pid match adds 500", {{"a-sketchpad.crash", 0, dated(399) + "Process: Other App [812]\n"}, {"b-sketchpad.crash", 0, "Process: Sketch Pad\n"}}, "a-sketchpad.crash"},
        {"pid match adds no more than 500", {{"a-sketchpad.crash", 0, dated(401) + "Process: Other App [812]\n"}, {"b-sketchpad.crash", 0, "Process: Sketch Pad\n"}}, "b-sketchpad.crash"},
        {"report date exactly 12 hours off counts", {{"a-sketchpad.crash", 1, dated(12 * 3600) + "Process: Sketch Pad\n"}, {"b-sketchpad.crash", 100, dated(100) + "Process: Sketch Pad\n"}}, "b-sketchpad.crash"},
        {"report date a second beyond 12 hours falls back to the file time", {{"a-sketchpad.crash", 1, dated(12 * 3600 + 1) + "Process: Sketch Pad\n"}, {"b-sketchpad.crash", 100, dated(100) + "Process: Sketch Pad\n"}}, "a-sketchpad.crash"},
        {"equal scores keep the earlier", {{"b-sketchpad.crash", 10, "Process: Sketch Pad\n"}, {"a-sketchpad.crash", 10, "Process: Sketch Pad\n"}}, "a-sketchpad.crash"},
    };
    // clang-format on
    for (const auto& [what, reports, expected] : cases) {
        EXPECT_EQ(best(reports), expected) << what;
    }
}

TEST(CrashReportProvider, SignalsOfAnAcceptedReport)
{
    const Date reportDate = dateFromSecondsSince1970(1740834309.0);
    const std::string memory = "System memory pressure (jetsam)";
    // clang-format off
    const std::vector<std::pair<const char*, std::vector<Signal>>> cases = {
        {"Exception Type: EXC_CRASH (SIGABRT)\n", {}},
        {"Termination Reason: Namespace DYLD, Code 1\n", {DyldSignal{reportDate, DyldFailureKind::other, "Dynamic loader failure"}}},
        {"Termination Reason: Namespace CODESIGNING, Code 1\n", {PolicySignal{reportDate, PolicyBlockKind::codeSignature, "Security policy enforcement"}}},
        {"Dyld Error Message: Library not loaded: /x.so\nRESOURCE_TYPE_MEMORY\nwatchdog\nlaunch denied: quarantine\n",
         {DyldSignal{reportDate, DyldFailureKind::missingLibrary, "Library not loaded: /x.so"},
          JetsamSignal{reportDate, memory, MemoryPressureEvidence::directTermination},
          WatchdogSignal{reportDate, "App became unresponsive (watchdog)"},
          PolicySignal{reportDate, PolicyBlockKind::quarantine, "Security policy enforcement"}}},
    };
    // clang-format on
    for (const auto& [text, tail] : cases) {
        SCOPED_TRACE(text);
        const ReportDirectory dir(kTerminatedAt);
        const fs::path file = dir.write(
            "sketchpad.crash",
            std::string("Process: Sketch Pad [812]\nDate/Time: 2025-03-01 13:05:09 +0000\n") + text, 30);
        const auto signals = CrashReportProvider({dir.path()}).collectSignals(sketchPad());
        ASSERT_FALSE(signals.empty());
        const auto* report = signals.front().as<CrashReportSignal>();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(std::tie(report->sourcePath, report->timestamp), std::tuple(file.string(), reportDate));
        EXPECT_EQ(std::vector<Signal>(signals.begin() + 1, signals.end()), tail);
    }
}

TEST(CrashReportProvider, PolicyClassification)
{
    using K = PolicyBlockKind;
    // clang-format off
    const std::vector<std::tuple<std::optional<std::string>, const char*, std::optional<K>>> cases = {
        {"Namespace CODESIGNING, Code 1", "", K::codeSignature},
        {"AMFI rejected", "", K::codeSignature},
        {"Gatekeeper: quarantine", "", K::quarantine},
        {"hardened runtime violation", "", K::hardenedRuntime},
        {"Namespace SIGNAL", "codesign failed", std::nullopt}, // no refusal word
        {"Namespace SIGNAL", "launch denied by codesign", K::codeSignature},
        {std::nullopt, "cannot be opened: gatekeeper", K::gatekeeper},
        {std::nullopt, "request REJECTED, hardened runtime", K::hardenedRuntime},
        {std::nullopt, "not allowed", std::nullopt},
    };
    // clang-format on
    for (const auto& [reason, text, kind] : cases) {
        EXPECT_EQ(detail::crashReportPolicyKind(reason, text), kind) << text << " | " << reason.value_or("-");
    }
}

} // namespace
} // namespace exitwise::core
