// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportProvider.h"

#include "core/evidence/ReportCandidates.h"
#include "support/CorePrinters.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;

// 2025-03-01 13:05:10 UTC, a second after the sample abort report's own date.
const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);

void touch(const fs::path& file, double offset)
{
    timespec times[2]{};
    times[0].tv_sec = static_cast<time_t>(secondsSince1970(kTerminatedAt) + offset);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << file;
}

struct TempDir
{
    fs::path path = ::mkdtemp((fs::temp_directory_path() / "exitwise-crash-XXXXXX").string().data());
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }

    // Writes `name`, modified `offset` seconds after kTerminatedAt.
    fs::path write(const std::string& name, std::string_view content, double offset = 0) const
    {
        std::ofstream(path / name, std::ios::binary) << content;
        touch(path / name, offset);
        return path / name;
    }
};

std::string readSample(const std::string& name)
{
    std::ifstream in(std::string(EXITWISE_TEST_DATA_DIR) + "/reports/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

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

// The path of the report whose signals came back, or "" when none did.
std::string chosen(const std::vector<Signal>& signals)
{
    if (signals.empty()) {
        return "";
    }
    const auto* report = signals.front().as<CrashReportSignal>();
    return report && report->sourcePath ? fs::path(*report->sourcePath).filename().string() : "?";
}

TEST(CrashReportProvider, FileNameScores)
{
    struct Case
    {
        const char* name;
        std::optional<std::int32_t> pid;
        int score;
    };
    const Case cases[] = {
        {"sketch-pad-2025-03-01-140509.ips", 812, 60},
        {"sketch_pad-2025-03-01.crash", 812, 60},
        {"sketch pad.crash", 812, 60},
        {"sketchpad_812.ips", 812, 140},
        {"sketchpad[812].crash", 812, 140},
        {"sketchpad_8120.crash", 812, 80},
        {"other-812.crash", 812, 20},
        {"other-812.crash", std::nullopt, 0},
        {"com.acme.draw-2025.crash", 812, 40},
        {"com.acme.draw_812.crash", 812, 120},
        {"other.crash", 812, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::ReportNameScorer(sketchPad(c.pid), true).score(c.name), c.score);
    }
    // Without a bundle identifier and without its use, the identifier adds nothing.
    EXPECT_EQ(detail::ReportNameScorer(sketchPad(812, std::nullopt), true).score("com.acme.draw.crash"), 0);
    EXPECT_EQ(detail::ReportNameScorer(sketchPad(812), false).score("com.acme.draw.crash"), 0);
}

TEST(CrashReportProvider, OnlyRegularReportFilesInsideTheWindowAreCandidates)
{
    const std::string report = "Process: Sketch Pad [812]\n";
    struct Case
    {
        const char* name;
        double offset;
        bool found;
    };
    const Case cases[] = {
        {"sketchpad.crash", 0, true},    {"SketchPad.IPS", 0, true},        {"sketchpad.Crash", 0, true},
        {"sketchpad.log", 0, false},     {"sketchpad.crash.bak", 0, false}, {"sketchpad", 0, false},
        {".sketchpad.crash", 0, false},  {"sketchpad.crash", 180, true},    {"sketchpad.crash", -180, true},
        {"sketchpad.crash", 181, false}, {"sketchpad.crash", -181, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.offset));
        const TempDir dir;
        dir.write(c.name, report, c.offset);
        const auto signals = CrashReportProvider({dir.path}).collectSignals(sketchPad());
        EXPECT_EQ(!signals.empty(), c.found);
    }
}

TEST(CrashReportProvider, EntriesThatAreNotReadableReportsContributeNothing)
{
    const TempDir dir;
    const std::string report = "Process: Sketch Pad [812]\n";
    // Each of these outranks the fallback, which must still be found with one inspection.
    fs::create_directory(dir.path / "sketchpad_812.crash");
    touch(dir.path / "sketchpad_812.crash", 0);
    ASSERT_EQ(::mkfifo((dir.path / "sketchpad_812.ips").c_str(), 0600), 0);
    touch(dir.path / "sketchpad_812.ips", 0);
    const fs::path target = dir.write("elsewhere.txt", report, 0);
    fs::create_symlink(target, dir.path / "sketch_pad_812.crash");
    touch(dir.path / "sketch_pad_812.crash", 0);
    // Sparse, so it costs no disk space.
    const fs::path huge = dir.write("sketch-pad_812.crash", report, 0);
    fs::resize_file(huge, CrashReportProvider::kMaxReportBytes + 1);
    touch(huge, 0);
    dir.write("fallback_sketchpad.crash", report, 0);

    const auto missing = dir.path / "missing";
    const auto signals = CrashReportProvider({missing, dir.path}, 1).collectSignals(sketchPad());
    EXPECT_EQ(chosen(signals), "fallback_sketchpad.crash");
}

TEST(CrashReportProvider, UndecodableReportIsSkippedButUsesItsTurn)
{
    const TempDir dir;
    dir.write("sketchpad_812.crash", "Process: Sketch Pad [812]\n\xff\xfe broken\n", 0);
    dir.write("sketchpad.crash", "Process: Sketch Pad [812]\n", 0);
    EXPECT_EQ(chosen(CrashReportProvider({dir.path}, 1).collectSignals(sketchPad())), "");
    EXPECT_EQ(chosen(CrashReportProvider({dir.path}, 2).collectSignals(sketchPad())), "sketchpad.crash");
}

TEST(CrashReportProvider, OpensOnlyTheTopCandidates)
{
    const TempDir dir;
    // Three strong names whose reports belong to another process...
    dir.write("sketchpad_812.crash", "Process: Other App [999]\n", 1);
    dir.write("sketch_pad_812.ips", "Process: Other App [999]\n", 2);
    dir.write("sketch-pad_812.crash", "Process: Other App [999]\n", 3);
    // ...and a weaker name whose report would win if it were opened.
    dir.write("sketchpad.crash", "Process: Sketch Pad [812]\n", 0);

    EXPECT_EQ(chosen(CrashReportProvider({dir.path}).collectSignals(sketchPad())), "");
    EXPECT_EQ(chosen(CrashReportProvider({dir.path}, 4).collectSignals(sketchPad())), "sketchpad.crash");
    // Zero and negative limits still inspect one.
    EXPECT_EQ(CrashReportProvider({dir.path}, -2).maxCandidatesToInspect(), 1);
}

TEST(CrashReportProvider, RankingTieBreaks)
{
    struct File
    {
        const char* name;
        double offset;
    };
    struct Case
    {
        const char* what;
        std::vector<File> files;
        const char* first;
    };
    const Case cases[] = {
        {"higher score", {{"sketchpad.crash", 0}, {"sketchpad_812.crash", 60}}, "sketchpad_812.crash"},
        {"closer", {{"a-sketchpad.crash", -10}, {"b-sketchpad.crash", 5}}, "b-sketchpad.crash"},
        {"later", {{"a-sketchpad.crash", -10}, {"b-sketchpad.crash", 10}}, "b-sketchpad.crash"},
        {"path", {{"b-sketchpad.crash", 10}, {"a-sketchpad.crash", 10}}, "a-sketchpad.crash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const File& f : c.files) {
            dir.write(f.name, "Process: Sketch Pad [812]\n", f.offset);
        }
        EXPECT_EQ(chosen(CrashReportProvider({dir.path}, 1).collectSignals(sketchPad())), c.first);
    }
}

TEST(CrashReportProvider, Acceptance)
{
    struct Case
    {
        const char* what;
        std::optional<std::int32_t> eventPid;
        const char* fileName;
        const char* report;
        bool accepted;
    };
    const Case cases[] = {
        {"pid match despite another name", 812, "sketchpad_812.crash", "Process: Other App [812]\n", true},
        {"neither pid nor name", 999, "sketchpad.crash", "Process: Other App [812]\n", false},
        {"name ignoring case", 999, "sketchpad.crash", "Process: SKETCH PAD [812]\n", true},
        {"name without pids", std::nullopt, "sketchpad.crash", "Process:   Sketch Pad\n", true},
        {"anonymous, score 60", 812, "sketch-pad.crash", "Exception Type: EXC_CRASH\n", true},
        {"anonymous, score 40", 812, "com.acme.draw.crash", "Exception Type: EXC_CRASH\n", false},
        {"empty process line, score 60", 812, "sketch-pad.crash", "Process:\n", true},
        {"pid only, other pid", 812, "sketchpad.crash", "Process: [77]\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        dir.write(c.fileName, c.report, 0);
        const auto signals = CrashReportProvider({dir.path}).collectSignals(sketchPad(c.eventPid));
        EXPECT_EQ(!signals.empty(), c.accepted);
    }
}

TEST(CrashReportProvider, ReportProcessLine)
{
    struct Case
    {
        const char* text;
        std::optional<std::int32_t> pid;
        std::optional<std::string> name;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto process = detail::reportProcess(c.text);
        EXPECT_EQ(process.pid, c.pid);
        EXPECT_EQ(process.name, c.name);
    }
}

TEST(CrashReportProvider, MatchingScorePicksTheBestAcceptedReport)
{
    struct Report
    {
        const char* name;
        double offset;
        std::string text;
    };
    const auto dated = [](double offset) {
        const auto at = static_cast<time_t>(secondsSince1970(kTerminatedAt) + offset);
        std::tm utc{};
        ::gmtime_r(&at, &utc);
        char buffer[64];
        std::strftime(buffer, sizeof buffer, "Date/Time: %Y-%m-%d %H:%M:%S +0000\n", &utc);
        return std::string(buffer);
    };
    struct Case
    {
        const char* what;
        std::vector<Report> reports;
        const char* best;
    };
    const Case cases[] = {
        {"pid mismatch costs 250",
         {{"sketchpad_812.crash", 0, "Process: Sketch Pad [999]\n"},
          {"sketch-pad.crash", 0, "Process: Sketch Pad\n"}},
         "sketch-pad.crash"},
        {"pid match adds 500",
         {{"a-sketchpad.crash", 0, dated(399) + "Process: Other App [812]\n"},
          {"b-sketchpad.crash", 0, "Process: Sketch Pad\n"}},
         "a-sketchpad.crash"},
        {"pid match adds no more than 500",
         {{"a-sketchpad.crash", 0, dated(401) + "Process: Other App [812]\n"},
          {"b-sketchpad.crash", 0, "Process: Sketch Pad\n"}},
         "b-sketchpad.crash"},
        {"report date exactly 12 hours off counts",
         {{"a-sketchpad.crash", 1, dated(12 * 3600) + "Process: Sketch Pad\n"},
          {"b-sketchpad.crash", 100, dated(100) + "Process: Sketch Pad\n"}},
         "b-sketchpad.crash"},
        {"report date a second beyond 12 hours falls back to the file time",
         {{"a-sketchpad.crash", 1, dated(12 * 3600 + 1) + "Process: Sketch Pad\n"},
          {"b-sketchpad.crash", 100, dated(100) + "Process: Sketch Pad\n"}},
         "a-sketchpad.crash"},
        {"equal scores keep the earlier",
         {{"b-sketchpad.crash", 10, "Process: Sketch Pad\n"},
          {"a-sketchpad.crash", 10, "Process: Sketch Pad\n"}},
         "a-sketchpad.crash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const Report& r : c.reports) {
            dir.write(r.name, r.text, r.offset);
        }
        EXPECT_EQ(chosen(CrashReportProvider({dir.path}).collectSignals(sketchPad())), c.best);
    }
}

TEST(CrashReportProvider, SignalsOfAnAcceptedReport)
{
    const Date reportDate = dateFromSecondsSince1970(1740834309.0);
    struct Case
    {
        const char* report;
        std::vector<Signal> tail; // after the crashReport signal
    };
    const Case cases[] = {
        {"Exception Type: EXC_CRASH (SIGABRT)\n", {}},
        {"Termination Reason: Namespace DYLD, Code 1\n",
         {DyldSignal{reportDate, DyldFailureKind::other, "Dynamic loader failure"}}},
        {"Termination Reason: Namespace CODESIGNING, Code 1\n",
         {PolicySignal{reportDate, PolicyBlockKind::codeSignature, "Security policy enforcement"}}},
        {"Dyld Error Message: Library not loaded: /x.so\nRESOURCE_TYPE_MEMORY\nwatchdog\nlaunch denied: "
         "quarantine\n",
         {DyldSignal{reportDate, DyldFailureKind::missingLibrary, "Library not loaded: /x.so"},
          JetsamSignal{reportDate, "System memory pressure (jetsam)",
                       MemoryPressureEvidence::directTermination},
          WatchdogSignal{reportDate, "App became unresponsive (watchdog)"},
          PolicySignal{reportDate, PolicyBlockKind::quarantine, "Security policy enforcement"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        const TempDir dir;
        const fs::path file = dir.write(
            "sketchpad.crash",
            std::string("Process: Sketch Pad [812]\nDate/Time: 2025-03-01 13:05:09 +0000\n") + c.report, 30);
        const auto signals = CrashReportProvider({dir.path}).collectSignals(sketchPad());
        ASSERT_FALSE(signals.empty());
        const auto* report = signals.front().as<CrashReportSignal>();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->sourcePath, file.string());
        EXPECT_EQ(report->timestamp, reportDate);
        EXPECT_EQ(std::vector<Signal>(signals.begin() + 1, signals.end()), c.tail);
    }

    // A sample report as the system would leave it.
    const TempDir dir;
    dir.write("sketch-pad-abort.crash", readSample("sketch-pad-abort.crash"), 0);
    const auto signals = CrashReportProvider({dir.path}).collectSignals(sketchPad());
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals.front().as<CrashReportSignal>()->exceptionType, "EXC_CRASH (SIGABRT)");
}

TEST(CrashReportProvider, PolicyClassification)
{
    using K = PolicyBlockKind;
    struct Case
    {
        std::optional<std::string> reason;
        const char* text;
        std::optional<K> kind;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " | " + c.reason.value_or("-"));
        EXPECT_EQ(detail::crashReportPolicyKind(c.reason, c.text), c.kind);
    }
}

} // namespace
} // namespace exitwise::core
