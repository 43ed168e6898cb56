// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportProvider.h"

#include "core/evidence/ReportCandidates.h"
#include "support/CorePrinters.h"
#include "support/ReportFiles.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tuple>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;
using test::ReportDirectory;
using Json = nlohmann::json;

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

// Report names and texts with what the provider must read of them.
const Json& cases()
{
    static const Json all =
        Json::parse(test::readFile(EXITWISE_TEST_DATA_DIR "/reports/provider-cases.json"));
    return all;
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

TEST(CrashReportProvider, FileNameScores)
{
    for (const auto& [name, score] : cases().at("name scores").items()) {
        EXPECT_EQ(detail::ReportNameScorer(sketchPad(), true).score(name), score) << name;
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
    EXPECT_EQ(best({{"sketchpad.crash", 0}}, -2), "sketchpad.crash");
}

TEST(CrashReportProvider, Acceptance)
{
    // clang-format off
    const std::vector<std::tuple<const char*, std::optional<std::int32_t>, Report, bool>> cases = {
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
    for (const auto& [what, pid, report, accepted] : cases) {
        EXPECT_EQ(best({report}, kDefaultMaxReportCandidates, sketchPad(pid)), accepted ? report.name : "")
            << what;
    }
}

TEST(CrashReportProvider, ReportProcessLine)
{
    for (const auto& [text, expected] : cases().at("process lines").items()) {
        const auto [pid, name] = detail::reportProcess(text);
        EXPECT_EQ(Json::array({pid ? Json(*pid) : Json(), name ? Json(*name) : Json()}), expected) << text;
    }
}

TEST(CrashReportProvider, MatchingScorePicksTheBestAcceptedReport)
{
    const auto dated = [](const char* at) { return "Date/Time: " + std::string(at) + " +0000\n"; };
    const std::string named = "Process: Sketch Pad\n";
    const std::string otherName = "Process: Other App [812]\n";
    // clang-format off
    const std::vector<std::tuple<const char*, std::vector<Report>, const char*>> cases = {
        {"pid mismatch costs 250", {{"sketchpad_812.crash", 0, "Process: Sketch Pad [999]\n"}, {"sketch-pad.crash", 0, named}}, "sketch-pad.crash"},
        {"pid match adds 500", {{"a-sketchpad.crash", 0, dated("2025-03-01 13:11:49") + otherName}, {"b-sketchpad.crash", 0, named}}, "a-sketchpad.crash"},
        {"pid match adds no more than 500", {{"a-sketchpad.crash", 0, dated("2025-03-01 13:11:51") + otherName}, {"b-sketchpad.crash", 0, named}}, "b-sketchpad.crash"},
        {"report date exactly 12 hours off counts", {{"a-sketchpad.crash", 1, dated("2025-03-02 01:05:10") + named}, {"b-sketchpad.crash", 100, dated("2025-03-01 13:06:50") + named}}, "b-sketchpad.crash"},
        {"report date a second beyond 12 hours falls back to the file time", {{"a-sketchpad.crash", 1, dated("2025-03-02 01:05:11") + named}, {"b-sketchpad.crash", 100, dated("2025-03-01 13:06:50") + named}}, "a-sketchpad.crash"},
        {"equal scores keep the earlier", {{"b-sketchpad.crash", 10, named}, {"a-sketchpad.crash", 10, named}}, "a-sketchpad.crash"},
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
        dir.write("sketchpad.crash",
                  std::string("Process: Sketch Pad [812]\nDate/Time: 2025-03-01 13:05:09 +0000\n") + text,
                  30);
        const auto signals = CrashReportProvider({dir.path()}).collectSignals(sketchPad());
        ASSERT_EQ(test::chosenReport(signals), "sketchpad.crash");
        EXPECT_EQ(std::vector<Signal>(signals.begin() + 1, signals.end()), tail);
    }
}

TEST(CrashReportProvider, PolicyClassification)
{
    for (const Json& row : cases().at("policy")) {
        const auto reason = row[0].is_null() ? std::nullopt : std::optional(row[0].get<std::string>());
        const auto kind = detail::crashReportPolicyKind(reason, row[1].get<std::string>());
        EXPECT_EQ(kind ? Json(rawValue(*kind)) : Json(), row[2]) << row;
    }
}

} // namespace
} // namespace exitwise::core
