// SPDX-License-Identifier: MIT
#include "core/evidence/SpindumpProvider.h"

#include "support/CorePrinters.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::core {
namespace {

namespace fs = std::filesystem;

const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);

struct TempDir
{
    fs::path path = ::mkdtemp((fs::temp_directory_path() / "exitwise-spin-XXXXXX").string().data());
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }

    // Writes `name`, modified `offset` seconds after kTerminatedAt.
    void write(const std::string& name, std::string_view content, double offset = 0) const
    {
        std::ofstream(path / name, std::ios::binary) << content;
        timespec times[2]{};
        times[0].tv_sec = static_cast<time_t>(secondsSince1970(kTerminatedAt) + offset);
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, (path / name).c_str(), times, 0), 0) << name;
    }
};

EventContext sketchPad(std::optional<std::int32_t> pid = 812)
{
    return contextAround({.appName = "Sketch Pad",
                          .bundleIdentifier = "org.example.SketchPad",
                          .pid = pid,
                          .terminatedAt = kTerminatedAt,
                          .terminationReason = TerminationReason::killed},
                         180.0);
}

// The file name inside the reported message, or "" when nothing was reported.
std::string chosen(const std::vector<Signal>& signals)
{
    if (signals.empty()) {
        return "";
    }
    const std::string& message = signals.front().as<WatchdogSignal>()->message;
    const auto open = message.find('(');
    return message.substr(open + 1, message.size() - open - 3);
}

TEST(SpindumpProvider, BestFileBecomesAWatchdogAndAKill)
{
    const TempDir dir;
    dir.write("Sketch_Pad_2025-03-01-140509.spin", "", -30);
    const auto signals = SpindumpProvider({dir.path}).collectSignals(sketchPad());

    const Date at = kTerminatedAt - Seconds(30);
    const std::string text = "Spindump captured near app termination (Sketch_Pad_2025-03-01-140509.spin).";
    const std::vector<Signal> expected{WatchdogSignal{at, text},
                                       TerminationSignal{at, TerminationReason::killed, text, std::nullopt}};
    EXPECT_EQ(signals, expected);

    const auto linuxSignals =
        SpindumpProvider({dir.path}, 3, Wording::linuxDesktop).collectSignals(sketchPad());
    const std::string linuxText =
        "Hang report captured near app termination (Sketch_Pad_2025-03-01-140509.spin).";
    EXPECT_EQ(linuxSignals, (std::vector<Signal>{
                                WatchdogSignal{at, linuxText},
                                TerminationSignal{at, TerminationReason::killed, linuxText, std::nullopt}}));
}

TEST(SpindumpProvider, ScoresByNameThenByTheHeadOfTheFile)
{
    const std::string filler(9000, '.');
    struct Case
    {
        const char* what;
        std::vector<std::pair<const char*, std::string>> files;
        const char* best;
    };
    const Case cases[] = {
        {"other extensions are ignored", {{"sketchpad.hang", "Sketch Pad [812]"}}, ""},
        {"name and \" pid \" in the head beat a name",
         {{"sketchpad.spin", ""}, {"system.spindump", "Process: sketch pad 812 \n"}},
         "system.spindump"},
        {"head with both beats a name",
         {{"sketchpad.spin", ""}, {"system.spindump", "Sketch Pad [812]"}},
         "system.spindump"},
        {"head with one loses to a name",
         {{"sketchpad.spin", ""}, {"system.spindump", "Sketch Pad"}},
         "sketchpad.spin"},
        {"name only in the head",
         {{"system.spindump", "Reason: Sketch Pad is not responding"}},
         "system.spindump"},
        {"pid only in the head", {{"system.spindump", "Process: editor [812]"}}, "system.spindump"},
        {"pid needs brackets or spaces", {{"system.spindump", "Process: editor 8120 \n"}}, ""},
        {"neither in the head", {{"system.spindump", "Process: editor [77]"}}, ""},
        {"beyond the first 8192 bytes", {{"system.spindump", filler + "Sketch Pad [812]"}}, ""},
        {"invalid UTF-8 head", {{"system.spindump", "Sketch Pad [812] \xff"}}, ""},
        {"file ends inside a character", {{"system.spindump", "Sketch Pad [812] \xc3"}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const auto& [name, content] : c.files) {
            dir.write(name, content);
        }
        EXPECT_EQ(chosen(SpindumpProvider({dir.path}).collectSignals(sketchPad())), c.best);
    }
}

TEST(SpindumpProvider, HeadCutInsideACharacterIsStillRead)
{
    // "é" takes bytes 8191 and 8192, so the head ends half-way through it.
    std::string content = "Reason: Sketch Pad [812] is not responding\n";
    content.resize(SpindumpProvider::kHeadBytes - 1, ' ');
    content += "\xc3\xa9 and more\n";
    const TempDir dir;
    dir.write("system.spindump", content);
    EXPECT_EQ(chosen(SpindumpProvider({dir.path}).collectSignals(sketchPad())), "system.spindump");
}

TEST(SpindumpProvider, WindowAndTieBreaks)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<const char*, double>> files;
        const char* best;
    };
    const Case cases[] = {
        {"one second past the end", {{"sketchpad.spin", 181}}, ""},
        {"one second before the start", {{"sketchpad.spin", -181}}, ""},
        {"edges are inside", {{"sketchpad.spin", 180}}, "sketchpad.spin"},
        {"higher score", {{"sketchpad.spin", 1}, {"sketchpad_812.spin", 100}}, "sketchpad_812.spin"},
        {"later at equal distance",
         {{"a-sketchpad.spin", -20}, {"b-sketchpad.spin", 20}},
         "b-sketchpad.spin"},
        {"path at equal time",
         {{"b-sketchpad.SPIN", 20}, {"a-sketchpad.SPINDUMP", 20}},
         "a-sketchpad.SPINDUMP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const auto& [name, offset] : c.files) {
            dir.write(name, "", offset);
        }
        EXPECT_EQ(chosen(SpindumpProvider({dir.path}).collectSignals(sketchPad())), c.best);
    }
}

TEST(SpindumpProvider, CandidateLimit)
{
    const TempDir dir;
    dir.write("sketchpad.spin", "");
    dir.write("sketch_pad.spin", "", 5);
    for (const int limit : {-1, 0}) {
        EXPECT_EQ(SpindumpProvider({dir.path}, limit).maxCandidatesToInspect(), 0);
        EXPECT_TRUE(SpindumpProvider({dir.path}, limit).collectSignals(sketchPad()).empty());
    }
    for (const int limit : {1, 3}) {
        EXPECT_EQ(SpindumpProvider({dir.path}, limit).collectSignals(sketchPad()).size(), 2u);
    }
}

} // namespace
} // namespace exitwise::core
