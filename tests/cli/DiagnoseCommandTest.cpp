// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

namespace exitwise::test {
namespace {

CommandOutcome diagnose(const std::string& input, const std::string& args = "")
{
    return runCommand("printf '%s' " + shellQuoted(input) + " | " + EXITWISE_BIN + " diagnose " + args
                      + " 2>&1");
}

TEST(DiagnoseCommand, AbortedCrashFromStandardInput)
{
    const CommandOutcome r = diagnose(
        R"({"context":{"appName":"Preview","terminatedAt":786300000,"terminationReason":"crashed","terminationRawValue":"SIGABRT"}})");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["endState"], "Crash");
    EXPECT_EQ(diagnosis["dominantCause"], "Crashed: forced abort");
    EXPECT_EQ(diagnosis["confidence"], "High");
    EXPECT_EQ(diagnosis["window"]["start"], 786299820.0);
    EXPECT_EQ(diagnosis["explanation"]["whatToDo"],
              "Undo recent changes (settings/plugins), then reopen Preview.");
    // In this desktop's words.
    EXPECT_EQ(diagnosis["explanation"]["why"], "The system recorded a forced abort at that moment.");
    // Pretty-printed with sorted keys.
    EXPECT_EQ(r.out.rfind("{\n  \"confidence\": \"High\",\n  \"dominantCause\"", 0), 0u) << r.out;
}

TEST(DiagnoseCommand, SignalsAndWindowFromAFile)
{
    const std::string path = ::testing::TempDir() + "diagnose-input.json";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":786300000.0,
        "terminationReason":"killed","window":{"start":786299990,"end":786300010}},
        "signals":[{"type":"jetsam","payload":{"timestamp":786299990.0,"message":"memorystatus pressure",
        "evidence":"Correlated memory pressure"}}]})",
               file);
    std::fclose(file);
    const CommandOutcome r =
        runCommand(std::string(EXITWISE_BIN) + " diagnose --input " + shellQuoted(path) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["dominantCause"], "Killed: memory pressure");
    EXPECT_EQ(diagnosis["confidence"], "Medium");
    EXPECT_EQ(diagnosis["explanation"]["whatHappened"],
              "Linux ended Sketch Pad because the system ran out of available memory.");
    EXPECT_EQ(diagnosis["explanation"]["alternatives"][0], "Restart the computer, then try again.");
    EXPECT_EQ(diagnosis["window"]["end"], 786300010);
    EXPECT_EQ(diagnosis["signalsUsed"].size(), 2u);
}

TEST(DiagnoseCommand, CollectFindsAMatchingCrashReport)
{
    const std::string dir = ::testing::TempDir() + "diagnose-reports";
    // The sample report is dated 2025-03-01 13:05:09 UTC; the file is modified at that moment.
    const std::string copy =
        "rm -rf " + shellQuoted(dir) + " && mkdir -p " + shellQuoted(dir) + " && cp "
        + shellQuoted(std::string(EXITWISE_TEST_DATA_DIR) + "/reports/sketch-pad-abort.crash") + " "
        + shellQuoted(dir) + " && touch -d @1740834309 " + shellQuoted(dir + "/sketch-pad-abort.crash");
    ASSERT_EQ(runCommand(copy).status, 0);
    const CommandOutcome r = diagnose(
        R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":762527109,"terminationReason":"unknown"}})",
        "--collect --report-dir " + shellQuoted(dir));
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["dominantCause"], "Crashed: forced abort");
    EXPECT_EQ(diagnosis["confidence"], "High");
    EXPECT_EQ(diagnosis["signalsUsed"][0]["payload"]["sourcePath"], dir + "/sketch-pad-abort.crash");

    // Without --collect nothing is read.
    const CommandOutcome quiet = diagnose(
        R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":762527109,"terminationReason":"unknown"}})",
        "--report-dir " + shellQuoted(dir));
    EXPECT_EQ(nlohmann::json::parse(quiet.out)["dominantCause"], "Unknown");
}

TEST(DiagnoseCommand, BadInputIsAUsageErrorNamingTheKey)
{
    struct Case
    {
        std::string input;
        std::string message;
    };
    const Case cases[] = {
        {"not json", "exitwise: invalid input: invalid JSON at byte 2\n"},
        {"[]", "exitwise: invalid input: expected an object, found an array\n"},
        {"{}", "exitwise: invalid input: missing key \"context\"\n"},
        {R"({"context":{"appName":"A","terminatedAt":1,"terminationReason":"Crashed"}})",
         "exitwise: invalid input: context.terminationReason: unknown value \"Crashed\"\n"},
        {R"({"context":{"appName":"A","terminatedAt":1,"terminationReason":"quit"},"signals":{}})",
         "exitwise: invalid input: signals: expected an array, found an object\n"},
        {R"({"context":{"appName":"A","terminatedAt":1,"terminationReason":"quit"},"signals":[{"type":"watchdog","payload":{"timestamp":1}}]})",
         "exitwise: invalid input: signals[0].payload: missing key \"message\"\n"},
    };
    for (const Case& c : cases) {
        const CommandOutcome r = diagnose(c.input);
        EXPECT_EQ(r.status, 2) << c.input;
        EXPECT_EQ(r.out, c.message) << c.input;
    }
    const CommandOutcome missing =
        runCommand(std::string(EXITWISE_BIN) + " diagnose --input /nonexistent/x.json 2>&1");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "exitwise: cannot read /nonexistent/x.json: No such file or directory\n");
}

} // namespace
} // namespace exitwise::test
