// SPDX-License-Identifier: MIT
#include "core/evidence/SpindumpProvider.h"

#include "support/CorePrinters.h"
#include "support/ReportFiles.h"
#include "support/SampleContexts.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

const Date kTerminatedAt = dateFromSecondsSince1970(1740834310.0);

EventContext sketchPad()
{
    return test::sketchPadContext(kTerminatedAt, TerminationReason::killed);
}

struct File
{
    const char* name;
    std::string content;
    double offset = 0; // of the file's modification time from the termination
};

// The file name inside the reported message, or "" when nothing was reported.
std::string best(const std::vector<File>& files)
{
    const test::ReportDirectory dir(kTerminatedAt);
    for (const File& f : files) {
        dir.write(f.name, f.content, f.offset);
    }
    const auto signals = SpindumpProvider({dir.path()}).collectSignals(sketchPad());
    if (signals.empty()) {
        return "";
    }
    const std::string& message = signals.front().as<WatchdogSignal>()->message;
    const auto open = message.find('(');
    return message.substr(open + 1, message.size() - open - 3);
}

TEST(SpindumpProvider, BestFileBecomesAWatchdogAndAKill)
{
    const test::ReportDirectory dir(kTerminatedAt);
    dir.write("Sketch_Pad_2025-03-01-140509.spin", "", -30);
    const Date at = kTerminatedAt - Seconds(30);
    for (const auto& [wording, text] : {
             std::pair{Wording::macos,
                       "Spindump captured near app termination (Sketch_Pad_2025-03-01-140509.spin)."},
             std::pair{Wording::linuxDesktop,
                       "Hang report captured near app termination (Sketch_Pad_2025-03-01-140509.spin)."},
         }) {
        EXPECT_EQ(
            SpindumpProvider({dir.path()}, 3, wording).collectSignals(sketchPad()),
            (std::vector<Signal>{WatchdogSignal{at, text},
                                 TerminationSignal{at, TerminationReason::killed, text, std::nullopt}}));
    }
    // A limit below one opens nothing.
    for (const int limit : {-1, 0}) {
        EXPECT_TRUE(SpindumpProvider({dir.path()}, limit).collectSignals(sketchPad()).empty()) << limit;
    }
}

TEST(SpindumpProvider, ScoresByNameThenByTheHeadOfTheFile)
{
    const std::string filler(9000, '.');
    // clang-format off
    const std::vector<std::tuple<const char*, std::vector<File>, const char*>> cases = {
        {"other extensions are ignored", {{"sketchpad.hang", "Sketch Pad [812]"}}, ""},
        {"name and \" pid \" in the head beat a name", {{"sketchpad.spin", ""}, {"system.spindump", "Process: sketch pad 812 \n"}}, "system.spindump"},
        {"head with both beats a name", {{"sketchpad.spin", ""}, {"system.spindump", "Sketch Pad [812]"}}, "system.spindump"},
        {"head with one loses to a name", {{"sketchpad.spin", ""}, {"system.spindump", "Sketch Pad"}}, "sketchpad.spin"},
        {"name only in the head", {{"system.spindump", "Reason: Sketch Pad is not responding"}}, "system.spindump"},
        {"pid only in the head", {{"system.spindump", "Process: editor [812]"}}, "system.spindump"},
        {"pid needs brackets or spaces", {{"system.spindump", "Process: editor 8120 \n"}}, ""},
        {"neither in the head", {{"system.spindump", "Process: editor [77]"}}, ""},
        {"beyond the first 8192 bytes", {{"system.spindump", filler + "Sketch Pad [812]"}}, ""},
        {"invalid UTF-8 head", {{"system.spindump", "Sketch Pad [812] \xff"}}, ""},
        {"file ends inside a character", {{"system.spindump", "Sketch Pad [812] \xc3"}}, ""},
        // The ranking both report providers share: the score, then the nearer, the later, the path.
        {"higher score", {{"sketchpad.spin", "", 1}, {"sketchpad_812.spin", "", 100}}, "sketchpad_812.spin"},
        {"closer", {{"a-sketchpad.spin", "", -10}, {"b-sketchpad.spin", "", 5}}, "b-sketchpad.spin"},
        {"later at equal distance", {{"a-sketchpad.spin", "", -20}, {"b-sketchpad.spin", "", 20}}, "b-sketchpad.spin"},
        {"path at equal time", {{"b-sketchpad.SPIN", "", 20}, {"a-sketchpad.SPINDUMP", "", 20}}, "a-sketchpad.SPINDUMP"},
    };
    // clang-format on
    for (const auto& [what, files, expected] : cases) {
        EXPECT_EQ(best(files), expected) << what;
    }

    // A head cut inside a character is still read: "é" takes bytes 8191 and 8192.
    std::string content = "Reason: Sketch Pad [812] is not responding\n";
    content.resize(SpindumpProvider::kHeadBytes - 1, ' ');
    EXPECT_EQ(best({{"system.spindump", content + "\xc3\xa9 and more\n"}}), "system.spindump");
}

} // namespace
} // namespace exitwise::core
