// SPDX-License-Identifier: MIT
// The executable's short commands: help, version, usage errors and `diagnose`.
#include "app/DiagnosisVersion.h"
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace exitwise::test {
namespace {

const std::string kData = EXITWISE_TEST_DATA_DIR;

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

// How the directory is chosen is pinned with the data directory itself; here: that the help
// names the one in use.
TEST(Cli, HelpExplainsTheDesktopAppTheDataDirectoryAndTheExitCodes)
{
    const CommandOutcome r =
        runCommand("EXITWISE_APP_SUPPORT_DIR=/tmp/exitwise-help-data " EXITWISE_BIN " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(kData + "/cli/help.txt"));
}

// Bad input to `diagnose` is a usage error too, named by where it is.
TEST(Cli, UsageErrorsExitWithStatus2)
{
    const std::string usage = " (run 'exitwise --help' for usage)\n";
    const std::string limit = "exitwise: --limit must be a whole number from 1 to 100000" + usage;
    const std::string noMessage = R"({"context":{"appName":"A","terminatedAt":1,"terminationReason":"quit"},)"
                                  R"("signals":[{"type":"watchdog","payload":{"timestamp":1}}]})";
    struct Case
    {
        std::string args;
        std::string input;
        std::string message;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"list --limit 0",                       "", limit},
        {"list --limit 100001",                  "", limit},
        {"list --limit abc",                     "", limit},
        {"list --limit=-1",                      "", limit},
        {"list --limit -1",                      "", limit},
        {"list --limit ''",                      "", limit},
        {"list --limit 18446744073709551617",    "", limit},
        {"frobnicate",                           "", "exitwise: The following argument was not expected: frobnicate" + usage},
        {"diagnose --input /nonexistent/x.json", "", "exitwise: cannot read /nonexistent/x.json: No such file or directory\n"},
        {"diagnose",                             "not json", "exitwise: invalid input: invalid JSON at byte 2\n"},
        {"diagnose",                             "{}", "exitwise: invalid input: missing key \"context\"\n"},
        {"diagnose",                             noMessage, "exitwise: invalid input: signals[0].payload: missing key \"message\"\n"},
    };
    // clang-format on
    for (const auto& [args, input, message] : cases) {
        const CommandOutcome r = runCommand(
            "printf '%s' " + shellQuoted(input)
            + " | EXITWISE_APP_SUPPORT_DIR=/nonexistent/exitwise-cli " EXITWISE_BIN " " + args + " 2>&1");
        EXPECT_EQ(r.status, 2) << args << " " << input;
        EXPECT_EQ(r.out, message) << args << " " << input;
    }
    for (const std::string args : {"--limit 1", "--limit 007", "--limit=100000"}) {
        const CommandOutcome r =
            runCommand("EXITWISE_APP_SUPPORT_DIR=/nonexistent/exitwise-cli " EXITWISE_BIN " list " + args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, "No closures recorded yet.\n") << args;
    }
}

CommandOutcome diagnose(const std::string& input, const std::string& args = "")
{
    return runCommand("printf '%s' " + shellQuoted(input) + " | " + EXITWISE_BIN + " diagnose " + args
                      + " 2>&1");
}

// The diagnosis itself is pinned with the engine; here: the window given, signals from a file,
// and the printed form: pretty, with sorted keys.
TEST(DiagnoseCommand, SignalsAndWindowFromAFile)
{
    const CommandOutcome r = exitwise("diagnose --input " + shellQuoted(kData + "/cli/diagnose-input.json"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(kData + "/cli/diagnose-output.json"));
}

TEST(DiagnoseCommand, CollectFindsAMatchingCrashReport)
{
    const TempDir dir("exitwise-diagnose");
    const std::string report = (dir.path() / "sketch-pad-abort.crash").string();
    // The sample report is dated 2025-03-01 13:05:09 UTC; the file is modified at that moment.
    ASSERT_EQ(runCommand("cp " + shellQuoted(kData + "/reports/sketch-pad-abort.crash") + " "
                         + shellQuoted(report) + " && touch -d @1740834309 " + shellQuoted(report))
                  .status,
              0);
    const std::string input = R"({"context":{"appName":"Sketch Pad","pid":812,"terminatedAt":762527109,)"
                              R"("terminationReason":"unknown"}})";
    const std::string reportDir = "--report-dir " + shellQuoted(dir.path().string());
    const CommandOutcome r = diagnose(input, "--collect " + reportDir);
    ASSERT_EQ(r.status, 0) << r.out;
    const auto diagnosis = nlohmann::json::parse(r.out);
    EXPECT_EQ(diagnosis["dominantCause"], "Crashed: forced abort");
    EXPECT_EQ(diagnosis["signalsUsed"][0]["payload"]["sourcePath"], report);

    // Without --collect nothing is read.
    EXPECT_EQ(nlohmann::json::parse(diagnose(input, reportDir).out)["dominantCause"], "Unknown");
}

} // namespace
} // namespace exitwise::test
