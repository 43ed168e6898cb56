// SPDX-License-Identifier: MIT
// The reading commands (list, show, export) over a data directory, through the real binary:
// what they print, their messages, and that they never change what they read. What may stand
// where an export writes is pinned with the file writer; here: how the command reports it.
#include "app/stores/EventStore.h"
#include "app/stores/Export.h"
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using exitwise::test::readFile;
using exitwise::test::runCommand;
using exitwise::test::shellQuoted;

const fs::path kData = EXITWISE_TEST_DATA_DIR;

// Every entry of a directory with its bytes and modification time, to prove nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(directory)) {
        entries[entry.path().filename().string()] =
            readFile(entry.path()) + "@" + std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    return entries;
}

// A kill that ends as the test starts, the crash of 2026-02-28 19:33:20 (UTC), a launch blocked
// at 18:00 whose id starts as the crash's does, and a quit at 16:46:40.
class StoresCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(m_data);
        m_events = nlohmann::json::parse(std::ifstream(kData / "cli/events.json"));
        const std::chrono::duration<double> sinceReferenceDate =
            std::chrono::system_clock::now().time_since_epoch() - std::chrono::seconds(978307200);
        m_events[0]["terminatedAt"] = sinceReferenceDate.count();
        std::ofstream(m_data / "events.json") << m_events.dump();
    }

    std::string commandLine(const std::string& args, const std::string& environment = "") const
    {
        return "env -u NO_COLOR TZ=UTC EXITWISE_APP_SUPPORT_DIR=" + shellQuoted(m_data.string()) + " "
               + environment + " " + EXITWISE_BIN + " " + args;
    }
    // Standard output and error together.
    exitwise::test::CommandOutcome exitwise(const std::string& args) const
    {
        return runCommand(commandLine(args + " 2>&1"));
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

    exitwise::test::TempDir m_temp{"exitwise-cli"};
    fs::path m_root = m_temp.path();
    fs::path m_data = m_root / "data dir";
    nlohmann::json m_events;
};

using ListCommand = StoresCli;

// Reading changes nothing in the data directory, not even a file's time. Piped, the table is plain.
TEST_F(ListCommand, PrintsTimeAppPidStateCauseConfidenceAndShortIdsChangingNothing)
{
    const auto before = snapshot(m_data);
    const auto table = exitwise("list --until 2026-03-01");
    EXPECT_EQ(table.status, 0);
    // clang-format off
    EXPECT_EQ(table.out,
              "TIME                 APP                PID  END STATE       CAUSE                  CONFIDENCE  ID\n"
              "2026-02-28 19:33:20  Sketch \"Pad\", Pro  812  Crash           Crashed: app bug       High        5AF0E187-EB05\n"
              "2026-02-28 18:00:00  Terminal             -  Launch blocked  OS policy restriction  Low         5AF0E187-EB06\n"
              "2026-02-28 16:46:40  Notes                -  Clean exit      Quit request           Medium      0E4CBD8A\n");
    // clang-format on
    EXPECT_EQ(exitwise("show latest").status, 0);
    EXPECT_EQ(exitwise("export --format csv --output " + shellQuoted((m_root / "out.csv").string())).status,
              0);
    EXPECT_EQ(snapshot(m_data), before);
}

TEST_F(ListCommand, FiltersApplyBeforeTheLimit)
{
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"",                                                         "7C3A9E21 5AF0E187-EB05 5AF0E187-EB06 0E4CBD8A"},
        {"--since today",                                            "7C3A9E21"},
        {"--since '2026-02-28 18:00' --until '2026-02-28 19:33:21'", "5AF0E187-EB05 5AF0E187-EB06"},
        {"--until '2026-02-28 16:46:40'",                            "0E4CBD8A"},
        {"--since '2026-02-28 16:46:41' --until 2026-03-01",         "5AF0E187-EB05 5AF0E187-EB06"},
        {"--since 2026-02-28 --until 2026-02-28",                    ""},
        {"--state crash",                                            "5AF0E187-EB05"},
        {"--state killed",                                           "7C3A9E21"},
        {"--state clean",                                            "0E4CBD8A"},
        {"--state blocked",                                          "5AF0E187-EB06"},
        {"--app notes",                                              "0E4CBD8A"},
        {"--app org.gnome.mail",                                     "7C3A9E21"},
        {"--app org.gnome.Mail.desktop",                             "7C3A9E21"},
        {"--app Mail.desktop",                                       ""},
        {"--app notes --state crash",                                ""},
        {"--limit 1 --state clean",                                  "0E4CBD8A"},
    };
    // clang-format on
    for (const auto& [args, ids] : cases) {
        EXPECT_EQ(listedIds(args), ids) << args;
    }
}

TEST_F(StoresCli, MessagesAndErrors)
{
    const std::string usage = " (run 'exitwise --help' for usage)\n";
    const std::string file = (m_data / "events.json").string();
    const std::string noDirectory = (m_root / "no/dir/x.csv").string();
    const std::string unknown = "5AF0E187-EB05-4A03-9D79-95DD3FCE50EC";
    const auto invalid = [](const std::string& reference) {
        return "exitwise: invalid event id \"" + reference
               + "\": expected 36 characters such as 5AF0E187-EB05-4A03-9D79-95DD3FCE50EB, its first 4 or "
                 "more hex digits, or latest\n";
    };
    struct Case
    {
        std::string args;
        int status;
        std::string out;
    };
    // Standard output is a pipe here: /dev/stdout leads to it, and - is the way to write there.
    // clang-format off
    const std::vector<Case> cases = {
        {"list --app nobody",                       0, "No closures match.\n"},
        {"list --app nobody --no-legend",           0, ""},
        {"list --since 2026-13-01",                 2, "exitwise: --since: \"2026-13-01\" is not a time; use YYYY-MM-DD[ HH:MM[:SS]], today, yesterday or -2h/-3d" + usage},
        {"list --until '2026-02-28 25:00'",         2, "exitwise: --until: \"2026-02-28 25:00\" is not a time; use YYYY-MM-DD[ HH:MM[:SS]], today, yesterday or -2h/-3d" + usage},
        {"list --until yesterday --since today",    2, "exitwise: --since is later than --until" + usage},
        {"list --state unknown",                    2, "exitwise: --state must be one of crash, killed, clean, blocked" + usage},
        {"show -- 5af0",                            2, "exitwise: event id prefix 5af0 matches 2 events; give more of the id:\n"
                                                       "  5AF0E187-EB05-4A03-9D79-95DD3FCE50EB  Sketch \"Pad\", Pro\n"
                                                       "  5AF0E187-EB06-4000-8000-000000000001  Terminal\n"},
        {"show -- ffff",                            1, "exitwise: no event id starts with ffff in " + file + "\n"},
        {"show -- " + unknown,                      1, "exitwise: no event with id " + unknown + " in " + file + "\n"},
        {"show -- 0E4G",                            2, invalid("0E4G")},
        {"show -- --4-",                            2, invalid("--4-")},
        {"show -- " + unknown + "0",                2, invalid(unknown + "0")},
        {"export --format csv --output /dev/stdout", 1, "exitwise: cannot write /dev/stdout: it is a FIFO, not a regular file\n"},
        {"export --format csv --output " + shellQuoted(noDirectory), 1, "exitwise: cannot write " + noDirectory + ": No such file or directory\n"},
        {"export --format xml --output x",          2, "exitwise: --format: xml not in {csv,json}" + usage},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto r = exitwise(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
}

// The short ids `list` prints, and the other forms.
TEST_F(ListCommand, ShowFindsAnEventByIdPrefixOrLatest)
{
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"latest",           "7C3A9E21-0000-4000-8000-000000000002"},
        {"7C3A9E21",         "7C3A9E21-0000-4000-8000-000000000002"},
        {"5AF0E187-EB05",    "5AF0E187-EB05-4A03-9D79-95DD3FCE50EB"},
        {"5af0e187-eb06",    "5AF0E187-EB06-4000-8000-000000000001"},
        {"0e4cbd8a1f5b4c1e", "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B"},
    };
    // clang-format on
    for (const auto& [reference, id] : cases) {
        const auto shown = exitwise("show --json " + reference);
        ASSERT_EQ(shown.status, 0) << reference << "\n" << shown.out;
        EXPECT_EQ(nlohmann::json::parse(shown.out)["id"], id) << reference;
    }
}

TEST_F(ListCommand, JsonIsTheStoredRecordOfEachListedEvent)
{
    const auto listed = exitwise("list --json --app notes");
    ASSERT_EQ(listed.status, 0);
    nlohmann::json expected = m_events[3];
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
    EXPECT_EQ(onTerminal("NO_COLOR=1").find('\033'), std::string::npos);
}

TEST_F(StoresCli, ShowPrintsTheDiagnosisTheRatingAndTheIncidentSummary)
{
    const auto shown = exitwise("show 5af0e187-eb05-4a03-9d79-95dd3fce50eb");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, readFile(kData / "cli/show-crash.txt"));
}

// The texts themselves are pinned with the exporters; here: the stored events, to a file or to -.
TEST_F(StoresCli, ExportWritesTheStoredEvents)
{
    const auto stored = exitwise::app::EventStore::decodeEventFile(readFile(m_data / "events.json"));
    ASSERT_EQ(exitwise("export --format csv --output " + shellQuoted((m_root / "x.csv").string())).status, 0);
    EXPECT_EQ(readFile(m_root / "x.csv"), exitwise::app::exporting::csvText(stored.events));
    EXPECT_EQ(exitwise("export --format json --output -").out,
              exitwise::app::exporting::jsonText(stored.events));
}

TEST_F(StoresCli, MissingEventFileMeansNoClosuresYet)
{
    fs::remove(m_data / "events.json");
    const auto listed = exitwise("list");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "No closures recorded yet.\n");
    EXPECT_EQ(exitwise("list --json").out, "[]\n");
    const auto latest = exitwise("show latest");
    EXPECT_EQ(latest.status, 1);
    EXPECT_EQ(latest.out,
              "exitwise: no closures recorded yet in " + (m_data / "events.json").string() + "\n");
    EXPECT_TRUE(fs::is_empty(m_data));

    fs::remove(m_data);
    EXPECT_EQ(exitwise("list").status, 0);
    EXPECT_FALSE(fs::exists(m_data)) << "reading does not create the data directory";
}

// That the reader leaves such a file where it is, is pinned with the event store.
TEST_F(StoresCli, UndecodableEventFileFailsEveryReader)
{
    fs::copy_file(kData / "regressions/event_file/deep-nesting.json", m_data / "events.json",
                  fs::copy_options::overwrite_existing);
    const std::string expected = "exitwise: cannot decode " + (m_data / "events.json").string()
                                 + ": invalid JSON: nested deeper than 512 levels at byte 864\n";
    for (const char* args : {"list", "show latest", "export --format json --output -"}) {
        const auto outcome = exitwise(args);
        EXPECT_EQ(outcome.status, 1) << args;
        EXPECT_EQ(outcome.out, expected) << args;
    }
}

} // namespace
