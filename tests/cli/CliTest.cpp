// SPDX-License-Identifier: MIT
// The executable's short commands: help, version, usage errors and `diagnose`.
#include "app/DiagnosisVersion.h"
#include "support/CommandRunner.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace exitwise::test {
namespace {

CommandOutcome exitwise(const std::string& args)
{
    return runCommand(std::string(EXITWISE_BIN) + " " + args);
}

TEST(Cli, VersionCommandAndFlagPrintTheDiagnosisVersion)
{
    for (const char* args : {"version 2>&1", "--version 2>&1"}) {
        const CommandOutcome r = exitwise(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, app::currentDiagnosisVersion() + "\n") << args;
    }
}

// The closing part of the top-level help, from its first line to the end. How the directory is
// chosen is pinned with the data directory itself; here: that help names the one in use.
std::string helpFooter(const std::string& environment)
{
    const CommandOutcome r = runCommand(environment + " " + EXITWISE_BIN + " --help");
    EXPECT_EQ(r.status, 0);
    const auto start = r.out.find("Without a subcommand");
    return start == std::string::npos ? r.out : r.out.substr(start);
}

TEST(Cli, HelpExplainsTheDesktopAppTheDataDirectoryAndTheExitCodes)
{
    const std::string opening =
        "Without a subcommand, exitwise starts the desktop app: a tray item and its window\n"
        "(--background: in the tray only). The subcommands need no display.\n\nData directory: ";
    // clang-format off
    const std::string rest =
        "\n  (default $XDG_DATA_HOME/Exitwise, else ~/.local/share/Exitwise)\n\nEnvironment:\n"
        "  EXITWISE_APP_SUPPORT_DIR  use this data directory instead\n"
        "  EXITWISE_JOURNAL_DIR      read the journal files in this directory instead of "
        "this machine's journal\n"
        "\nExit status:\n"
        "  0  success\n"
        "  1  the work failed; the message says why\n"
        "  2  usage error or invalid input\n\n";
    // clang-format on
    EXPECT_EQ(helpFooter("EXITWISE_APP_SUPPORT_DIR=/tmp/exitwise-help-data"),
              opening + "/tmp/exitwise-help-data" + rest);
}

TEST(Cli, LimitAcceptsOnlyWholeNumbersInRange)
{
    const std::string message =
        "exitwise: --limit must be a whole number from 1 to 100000 (run 'exitwise --help' for usage)\n";
    // clang-format off
    const std::vector<std::string> rejected = {"--limit 0", "--limit 100001", "--limit abc", "--limit=-1",
        "--limit -1", "--limit ''", "--limit 18446744073709551617"};
    const std::vector<std::string> accepted = {"--limit 1", "--limit 007", "--limit=100000"};
    // clang-format on
    const auto list = [](const std::string& args) {
        return runCommand("EXITWISE_APP_SUPPORT_DIR=/nonexistent/exitwise-cli " EXITWISE_BIN " list " + args
                          + " 2>&1 >/dev/null");
    };
    for (const std::string& args : rejected) {
        const CommandOutcome r = list(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, message) << args;
    }
    for (const std::string& args : accepted) {
        const CommandOutcome r = list(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

TEST(Cli, HelpListsSubcommandsAndTheStartInTheTray)
{
    const CommandOutcome r = exitwise("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* text : {"version", "diagnose", "--background", "without opening its window"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    const CommandOutcome unknown = exitwise("frobnicate 2>&1");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out.rfind("exitwise: ", 0), 0u) << unknown.out;
}

CommandOutcome diagnose(const std::string& input, const std::string& args = "")
{
    return runCommand("printf '%s' " + shellQuoted(input) + " | " + EXITWISE_BIN + " diagnose " + args
                      + " 2>&1");
}

TEST(DiagnoseCommand, SignalsAndWindowFromAFile)
{
    const std::string path = ::testing::TempDir() + "diagnose-input.json";
    std::ofstream(path) << R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":786300000.0,
        "terminationReason":"killed","window":{"start":786299990,"end":786300010}},
        "signals":[{"type":"jetsam","payload":{"timestamp":786299990.0,"message":"memorystatus pressure",
        "evidence":"Correlated memory pressure"}}]})";
    const CommandOutcome r = runCommand(EXITWISE_BIN " diagnose --input " + shellQuoted(path) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["dominantCause"], "Killed: memory pressure");
    // In this desktop's words.
    EXPECT_EQ(diagnosis["explanation"]["whatHappened"],
              "Linux ended Sketch Pad because the system ran out of available memory.");
    EXPECT_EQ(diagnosis["window"]["end"], 786300010);
    EXPECT_EQ(diagnosis["signalsUsed"].size(), 2u);
    // Pretty-printed with sorted keys.
    EXPECT_EQ(r.out.rfind("{\n  \"confidence\": \"Medium\",\n  \"dominantCause\"", 0), 0u) << r.out;
}

TEST(DiagnoseCommand, CollectFindsAMatchingCrashReport)
{
    const std::string dir = ::testing::TempDir() + "diagnose-reports";
    const std::string report = dir + "/sketch-pad-abort.crash";
    // The sample report is dated 2025-03-01 13:05:09 UTC; the file is modified at that moment.
    ASSERT_EQ(runCommand("rm -rf " + shellQuoted(dir) + " && mkdir -p " + shellQuoted(dir) + " && cp "
                         + shellQuoted(EXITWISE_TEST_DATA_DIR "/reports/sketch-pad-abort.crash") + " "
                         + shellQuoted(report) + " && touch -d @1740834309 " + shellQuoted(report))
                  .status,
              0);
    const std::string input = R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":762527109,)"
                              R"("terminationReason":"unknown"}})";
    const CommandOutcome r = diagnose(input, "--collect --report-dir " + shellQuoted(dir));
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["dominantCause"], "Crashed: forced abort");
    EXPECT_EQ(diagnosis["confidence"], "High");
    EXPECT_EQ(diagnosis["signalsUsed"][0]["payload"]["sourcePath"], report);

    // Without --collect nothing is read.
    const CommandOutcome quiet = diagnose(input, "--report-dir " + shellQuoted(dir));
    EXPECT_EQ(nlohmann::json::parse(quiet.out)["dominantCause"], "Unknown");
}

TEST(DiagnoseCommand, BadInputIsAUsageErrorNamingTheKey)
{
    const std::pair<std::string, std::string> cases[] = {
        {"not json", "exitwise: invalid input: invalid JSON at byte 2\n"},
        {"{}", "exitwise: invalid input: missing key \"context\"\n"},
        {R"({"context":{"appName":"A","terminatedAt":1,"terminationReason":"quit"},"signals":[{"type":"watchdog","payload":{"timestamp":1}}]})",
         "exitwise: invalid input: signals[0].payload: missing key \"message\"\n"},
    };
    for (const auto& [input, message] : cases) {
        const CommandOutcome r = diagnose(input);
        EXPECT_EQ(r.status, 2) << input;
        EXPECT_EQ(r.out, message) << input;
    }
    const CommandOutcome missing = runCommand(EXITWISE_BIN " diagnose --input /nonexistent/x.json 2>&1");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "exitwise: cannot read /nonexistent/x.json: No such file or directory\n");
}

} // namespace
} // namespace exitwise::test
