// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using exitwise::test::readFile;
using exitwise::test::runCommand;
using exitwise::test::shellQuoted;

const fs::path kFixture = fs::path(__FILE__).parent_path().parent_path() / "data" / "events" / "events.json";
constexpr const char* kSketchId = "5AF0E187-EB05-4A03-9D79-95DD3FCE50EB";

// Every entry of a directory with its bytes and modification time, to prove nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(directory)) {
        struct stat info = {};
        ::stat(entry.path().c_str(), &info);
        entries[entry.path().filename().string()] = readFile(entry.path()) + "@"
                                                    + std::to_string(info.st_mtim.tv_sec) + "."
                                                    + std::to_string(info.st_mtim.tv_nsec);
    }
    return entries;
}

// The exported events against the stored ones: identifiers are written upper-case and a
// date may move by the double rounding of its epoch conversion (well under a microsecond).
bool sameRecords(const nlohmann::json& exported, const nlohmann::json& stored)
{
    if (exported.is_number() && stored.is_number()) {
        return std::abs(exported.get<double>() - stored.get<double>()) < 1e-6;
    }
    if (exported.is_string() && stored.is_string()) {
        std::string text = stored.get<std::string>();
        if (text.size() == 36 && text[8] == '-') {
            std::transform(text.begin(), text.end(), text.begin(), ::toupper);
        }
        return exported.get<std::string>() == text;
    }
    if (exported.type() != stored.type() || exported.size() != stored.size()) {
        return false;
    }
    if (exported.is_array()) {
        for (std::size_t i = 0; i < exported.size(); ++i) {
            if (!sameRecords(exported[i], stored[i])) {
                return false;
            }
        }
        return true;
    }
    if (exported.is_object()) {
        for (const auto& [key, value] : exported.items()) {
            if (!stored.contains(key) || !sameRecords(value, stored[key])) {
                return false;
            }
        }
        return true;
    }
    return exported == stored;
}

class StoresCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_data = m_root / "data dir";
        fs::create_directories(m_data);
        fs::copy_file(kFixture, m_data / "events.json");
    }

    exitwise::test::CommandOutcome exitwise(const std::string& args) const
    {
        return runCommand("EXITWISE_APP_SUPPORT_DIR=" + shellQuoted(m_data.string()) + " " + EXITWISE_BIN
                          + " " + args);
    }

    exitwise::test::TempDir m_temp{"exitwise-cli"};
    fs::path m_root = m_temp.path();
    fs::path m_data;
};

TEST_F(StoresCli, ReadingCommandsLeaveTheDataDirectoryUntouched)
{
    const auto before = snapshot(m_data);
    const std::string out = shellQuoted((m_root / "out.csv").string());
    for (const std::string& args : std::vector<std::string>{
             "list", "list --json --limit 1", std::string("show ") + kSketchId,
             std::string("show --json ") + kSketchId, "export --format csv --output " + out,
             "export --format json --output " + out}) {
        EXPECT_EQ(exitwise(args + " 2>&1").status, 0) << args;
    }
    EXPECT_EQ(snapshot(m_data), before);
}

TEST_F(StoresCli, ListShowsNewestFirstAndLimits)
{
    const auto table = exitwise("list");
    ASSERT_EQ(table.status, 0);
    const auto sketch = table.out.find("Sketch \"Pad\", Pro");
    const auto notes = table.out.find("Notes");
    ASSERT_NE(sketch, std::string::npos) << table.out;
    EXPECT_LT(sketch, notes) << table.out;
    EXPECT_NE(table.out.find(" 5AF0E187\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find(" 0E4CBD8A\n"), std::string::npos) << "ids are upper-case";

    const auto limited = exitwise("list --json --limit 1");
    ASSERT_EQ(limited.status, 0);
    const auto array = nlohmann::json::parse(limited.out);
    ASSERT_EQ(array.size(), 1u);
    EXPECT_EQ(array[0]["id"], kSketchId);

    EXPECT_EQ(exitwise("list --limit 0 2>&1").status, 2);
}

TEST_F(StoresCli, ShowPrintsTheDiagnosisAndTheIncidentSummary)
{
    const auto shown = exitwise("show 5af0e187-eb05-4a03-9d79-95dd3fce50eb");
    ASSERT_EQ(shown.status, 0) << shown.out;
    for (const char* expected :
         {"Crash \u2022 Crashed: app bug", "Reclassified: Unknown \u2192 Crashed: app bug",
          "Closed after 12m 5s", "Confidence is high based on 2 signals.", "\u2022 2 direct OS-level signals",
          "\u2022 Crash report: EXC_BAD_ACCESS (SIGSEGV)",
          "Exitwise Incident Summary\nApp: Sketch \"Pad\", Pro\n"}) {
        EXPECT_NE(shown.out.find(expected), std::string::npos) << expected << "\n" << shown.out;
    }
    const auto json = exitwise(std::string("show --json ") + kSketchId);
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out)["feedback"], "helpful");
}

TEST_F(StoresCli, UnknownOrMalformedIdsAreReportedClearly)
{
    const auto unknown = exitwise("show 5AF0E187-EB05-4A03-9D79-95DD3FCE50EC 2>&1");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out.rfind("exitwise: no event with id 5AF0E187-EB05-4A03-9D79-95DD3FCE50EC", 0), 0u)
        << unknown.out;

    const auto malformed = exitwise("show not-an-id 2>&1");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.out.rfind("exitwise: invalid event id", 0), 0u) << malformed.out;
}

TEST_F(StoresCli, ExportWritesTheAppsCsvAndJson)
{
    const fs::path csv = m_root / "Exitwise-export.csv";
    ASSERT_EQ(exitwise("export --format csv --output " + shellQuoted(csv.string())).status, 0);
    EXPECT_EQ(
        readFile(csv),
        "appName,terminatedAt,dominantCause,endState,confidence\n"
        "\"Sketch \"\"Pad\"\", Pro\",\"2026-02-28T19:33:20.123Z\",\"Crashed: app bug\",\"Crash\",\"High\"\n"
        "\"Notes\",\"2026-02-28T16:46:40.000Z\",\"Quit request\",\"Clean exit\",\"Medium\"");

    const fs::path json = m_root / "Exitwise-export.json";
    ASSERT_EQ(exitwise("export --format json --output " + shellQuoted(json.string())).status, 0);
    const std::string text = readFile(json);
    EXPECT_TRUE(sameRecords(nlohmann::json::parse(text), nlohmann::json::parse(readFile(kFixture))));
    EXPECT_EQ(text.rfind("[\n  {\n    \"appName\":", 0), 0u) << "pretty-printed with sorted keys";

    EXPECT_EQ(exitwise("export --format csv --output -").out, readFile(csv));
}

TEST_F(StoresCli, FailuresExitWithOneAndTheReason)
{
    const auto unwritable =
        exitwise("export --format csv --output " + shellQuoted((m_root / "no/dir/x.csv").string()) + " 2>&1");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.out.find("No such file or directory"), std::string::npos) << unwritable.out;

    EXPECT_EQ(exitwise("export --format xml --output x 2>&1").status, 2);

    std::ofstream(m_data / "events.json") << "[{\"appName\": 3}]";
    const auto before = snapshot(m_data);
    for (const std::string args :
         {"list", "show 5AF0E187-EB05-4A03-9D79-95DD3FCE50EB", "export --format json --output -"}) {
        const auto broken = exitwise(args + " 2>&1");
        EXPECT_EQ(broken.status, 1) << args;
        EXPECT_NE(broken.out.find("events.json"), std::string::npos) << broken.out;
    }
    EXPECT_EQ(snapshot(m_data), before) << "an unreadable file is reported, never moved or rewritten";
}

TEST_F(StoresCli, MissingEventFileMeansNoClosuresYet)
{
    fs::remove(m_data / "events.json");
    const auto listed = exitwise("list");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "No closures recorded yet.\n");
    EXPECT_EQ(exitwise("list --json").out, "[]\n");
    EXPECT_TRUE(fs::is_empty(m_data));

    fs::remove(m_data);
    EXPECT_EQ(exitwise("list").status, 0);
    EXPECT_FALSE(fs::exists(m_data)) << "reading does not create the data directory";
}

} // namespace
