// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using exitwise::test::runCommand;
using exitwise::test::shellQuoted;

const fs::path kFixture = fs::path(__FILE__).parent_path().parent_path() / "data" / "events" / "events.json";
constexpr double kReferenceDateOffset = 978307200.0;

// The fixture's crash and quit of 2026-02-28 (UTC), a launch blocked between them whose id
// starts as the crash's does, and a kill that ends as the test starts.
class ListCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const nlohmann::json fixture = nlohmann::json::parse(std::ifstream(kFixture));
        m_notes = fixture[1];
        const auto like = [this](const char* id, const char* name, double seconds1970, const char* state,
                                 const char* cause) {
            nlohmann::json event = m_notes;
            event.update(
                {{"id", id}, {"appName", name}, {"terminatedAt", seconds1970 - kReferenceDateOffset}});
            event["diagnosis"].update({{"endState", state}, {"dominantCause", cause}, {"confidence", "Low"}});
            return event;
        };
        const nlohmann::json blocked = like("5AF0E187-EB06-4000-8000-000000000001", "Terminal", 1772301600,
                                            "Launch blocked", "OS policy restriction"); // 18:00:00
        const double now =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        nlohmann::json killed =
            like("7C3A9E21-0000-4000-8000-000000000002", "Mail", now, "Killed", "Killed: memory pressure");
        killed.update({{"bundleIdentifier", "org.gnome.Mail.desktop"}, {"pid", 4242}});
        std::ofstream(m_data / "events.json")
            << nlohmann::json::array({killed, fixture[0], blocked, m_notes}).dump();
    }

    std::string commandLine(const std::string& args, const std::string& environment = "") const
    {
        return "env -u NO_COLOR TZ=UTC EXITWISE_APP_SUPPORT_DIR=" + shellQuoted(m_data.string()) + " "
               + environment + " " + EXITWISE_BIN + " " + args;
    }
    exitwise::test::CommandOutcome exitwise(const std::string& args) const
    {
        return runCommand(commandLine(args));
    }

    // The last column of each line: the ids `list --no-legend` printed.
    std::string listedIds(const std::string& args) const
    {
        const auto listed = exitwise("list --no-legend " + args);
        EXPECT_EQ(listed.status, 0) << args;
        std::istringstream lines(listed.out);
        std::string ids;
        for (std::string line; std::getline(lines, line);) {
            ids += (ids.empty() ? "" : " ") + line.substr(line.rfind(' ') + 1);
        }
        return ids;
    }

    exitwise::test::TempDir m_temp{"exitwise-list"};
    fs::path m_data = m_temp.path();
    nlohmann::json m_notes;
};

TEST_F(ListCommand, PrintsTimeAppPidStateCauseConfidenceAndShortIds)
{
    const auto table = exitwise("list --until 2026-03-01");
    EXPECT_EQ(table.status, 0);
    // clang-format off
    EXPECT_EQ(table.out,
              "TIME                 APP                PID  END STATE       CAUSE                  CONFIDENCE  ID\n"
              "2026-02-28 19:33:20  Sketch \"Pad\", Pro  812  Crash           Crashed: app bug       High        5AF0E187-EB05\n"
              "2026-02-28 18:00:00  Terminal             -  Launch blocked  OS policy restriction  Low         5AF0E187-EB06\n"
              "2026-02-28 16:46:40  Notes                -  Clean exit      Quit request           Medium      0E4CBD8A\n");
    // clang-format on

    // Every printed id is one `show` finds.
    std::istringstream printed(listedIds(""));
    for (const char* full :
         {"7C3A9E21-0000-4000-8000-000000000002", "5AF0E187-EB05-4A03-9D79-95DD3FCE50EB",
          "5AF0E187-EB06-4000-8000-000000000001", "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B"}) {
        std::string shortId;
        printed >> shortId;
        const auto shown = exitwise("show --json " + shortId + " 2>&1");
        ASSERT_EQ(shown.status, 0) << shortId << "\n" << shown.out;
        EXPECT_EQ(nlohmann::json::parse(shown.out)["id"], full);
    }
}

TEST_F(ListCommand, FiltersApplyBeforeTheLimit)
{
    struct Case
    {
        std::string args;
        std::string ids;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"",                                                         "7C3A9E21 5AF0E187-EB05 5AF0E187-EB06 0E4CBD8A"},
        {"--since today",                                            "7C3A9E21"},
        {"--since -2h",                                              "7C3A9E21"},
        {"--until -1h",                                              "5AF0E187-EB05 5AF0E187-EB06 0E4CBD8A"},
        {"--since '2026-02-28 18:00' --until '2026-02-28 19:33:21'", "5AF0E187-EB05 5AF0E187-EB06"},
        {"--until '2026-02-28 16:46:40'",                            "0E4CBD8A"},
        {"--since '2026-02-28 16:46:41' --until 2026-03-01",         "5AF0E187-EB05 5AF0E187-EB06"},
        {"--since 2026-02-28 --until 2026-02-28",                    ""},
        {"--state crash",                                            "5AF0E187-EB05"},
        {"--state killed",                                           "7C3A9E21"},
        {"--state clean",                                            "0E4CBD8A"},
        {"--state blocked",                                          "5AF0E187-EB06"},
        {"--app notes",                                              "0E4CBD8A"},
        {"--app 'SKETCH \"PAD\", PRO'",                              "5AF0E187-EB05"},
        {"--app org.gnome.mail",                                     "7C3A9E21"},
        {"--app org.gnome.Mail.desktop",                             "7C3A9E21"},
        {"--app Mail.desktop",                                       ""},
        {"--app notes --state crash",                                ""},
        {"--limit 1 --state clean",                                  "0E4CBD8A"},
        {"--limit 2 --until 2026-03-01",                             "5AF0E187-EB05 5AF0E187-EB06"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(listedIds(c.args), c.ids) << c.args;
    }
}

TEST_F(ListCommand, MessagesAndUsageErrors)
{
    const std::string usage = " (run 'exitwise --help' for usage)\n";
    struct Case
    {
        std::string args;
        int status;
        std::string out;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"list --app nobody",                       0, "No closures match.\n"},
        {"list --app nobody --no-legend",           0, ""},
        {"list --since 2026-13-01",                 2, "exitwise: --since: \"2026-13-01\" is not a time; use YYYY-MM-DD[ HH:MM[:SS]], today, yesterday or -2h/-3d" + usage},
        {"list --until '2026-02-28 25:00'",         2, "exitwise: --until: \"2026-02-28 25:00\" is not a time; use YYYY-MM-DD[ HH:MM[:SS]], today, yesterday or -2h/-3d" + usage},
        {"list --until yesterday --since today",    2, "exitwise: --since is later than --until" + usage},
        {"list --state unknown",                    2, "exitwise: --state must be one of crash, killed, clean, blocked" + usage},
        {"list --state Crash",                      2, "exitwise: --state must be one of crash, killed, clean, blocked" + usage},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto r = exitwise(c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
}

TEST_F(ListCommand, JsonIsTheStoredRecordOfEachListedEvent)
{
    const auto listed = exitwise("list --json --app notes");
    ASSERT_EQ(listed.status, 0);
    nlohmann::json expected = m_notes;
    expected["id"] = "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B";
    EXPECT_EQ(nlohmann::json::parse(listed.out), nlohmann::json::array({expected}));
}

TEST_F(ListCommand, ColoursOnlyATerminalWithoutNoColor)
{
    if (runCommand("command -v script >/dev/null").status != 0) {
        GTEST_SKIP() << "script (util-linux) is not installed";
    }
    const auto onTerminal = [this](const std::string& noColor) {
        return runCommand("script -qec " + shellQuoted(commandLine("list --state crash", noColor))
                          + " /dev/null </dev/null")
            .out;
    };
    EXPECT_NE(onTerminal("").find("\033[31mCrash\033[0m"), std::string::npos);
    EXPECT_NE(onTerminal("NO_COLOR=").find("\033[1mHigh\033[0m"), std::string::npos);
    EXPECT_EQ(onTerminal("NO_COLOR=1").find('\033'), std::string::npos);
    EXPECT_EQ(exitwise("list").out.find('\033'), std::string::npos) << "piped output is plain";
}

} // namespace
