// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace exitwise::test {
namespace {

CommandOutcome exitwise(const std::string& args)
{
    return runCommand(std::string(EXITWISE_BIN) + " " + args);
}

TEST(Cli, VersionPrintsTheDiagnosisVersion)
{
    const CommandOutcome r = exitwise("version");
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_NE(r.out.find('.'), std::string::npos) << r.out;
}

TEST(Cli, VersionFlagPrintsWhatTheVersionCommandPrints)
{
    const CommandOutcome command = exitwise("version 2>&1");
    const CommandOutcome flag = exitwise("--version 2>&1");
    EXPECT_EQ(flag.status, 0);
    EXPECT_EQ(flag.out, command.out);
}

// The closing part of the top-level help, from its first line to the end.
std::string helpFooter(const std::string& environment)
{
    const CommandOutcome r = runCommand(environment + " " + EXITWISE_BIN + " --help");
    EXPECT_EQ(r.status, 0);
    const auto start = r.out.find("Without a subcommand");
    return start == std::string::npos ? r.out : r.out.substr(start);
}

TEST(Cli, HelpExplainsTheDesktopAppTheDataDirectoryAndTheExitCodes)
{
    const std::string rest =
        "\n"
        "\n"
        "Environment:\n"
        "  EXITWISE_APP_SUPPORT_DIR  use this data directory instead\n"
        "  EXITWISE_JOURNAL_DIR      read the journal files in this directory instead of "
        "this machine's journal\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the work failed; the message says why\n"
        "  2  usage error or invalid input\n"
        "\n";
    const std::string opening =
        "Without a subcommand, exitwise starts the desktop app: a tray item and its window\n"
        "(--background: in the tray only). The subcommands need no display.\n"
        "\n"
        "Data directory: ";
    const std::string defaults = "\n  (default $XDG_DATA_HOME/Exitwise, else ~/.local/share/Exitwise)";
    struct Case
    {
        std::string environment;
        std::string directory;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"env -u EXITWISE_APP_SUPPORT_DIR -u XDG_DATA_HOME HOME=/home/ada", "/home/ada/.local/share/Exitwise"},
        {"env -u EXITWISE_APP_SUPPORT_DIR XDG_DATA_HOME=/srv/data HOME=/home/ada", "/srv/data/Exitwise"},
        {"env EXITWISE_APP_SUPPORT_DIR=/tmp/exitwise-help-data HOME=/home/ada", "/tmp/exitwise-help-data"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(helpFooter(c.environment), opening + c.directory + defaults + rest) << c.environment;
    }
}

TEST(Cli, NumericOptionsAcceptOnlyWholeNumbersInRange)
{
    const std::string limitMessage =
        "exitwise: --limit must be a whole number from 1 to 100000 (run 'exitwise --help' for usage)\n";
    struct Case
    {
        std::string args;
        int status;
        std::string errors;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"list --limit 0",                     2, limitMessage},
        {"list --limit abc",                   2, limitMessage},
        {"list --limit 100001",                2, limitMessage},
        {"list --limit=-1",                    2, limitMessage},
        {"list --limit 1.5",                   2, limitMessage},
        {"list --limit 1e3",                   2, limitMessage},
        {"list --limit +5",                    2, limitMessage},
        {"list --limit ' 5'",                  2, limitMessage},
        {"list --limit -1",                    2, limitMessage},
        {"list --limit ''",                    2, limitMessage},
        {"list --limit 18446744073709551617",  2, limitMessage},
        {"list --limit 1",                     0, ""},
        {"list --limit 007",                   0, ""},
        {"list --limit=100000",                0, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const CommandOutcome r = runCommand("EXITWISE_APP_SUPPORT_DIR=/nonexistent/exitwise-cli "
                                            + std::string(EXITWISE_BIN) + " " + c.args + " 2>&1 >/dev/null");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.errors) << c.args;
    }
}

TEST(Cli, HelpListsSubcommands)
{
    const CommandOutcome r = exitwise("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"version", "diagnose"}) {
        EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
    }
}

TEST(Cli, UnknownSubcommandIsAUsageError)
{
    const CommandOutcome r = exitwise("frobnicate 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.rfind("exitwise: ", 0), 0u) << r.out;
}

} // namespace
} // namespace exitwise::test
