// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using exitwise::test::runCommand;
using exitwise::test::shellQuoted;

const fs::path kFixture = fs::path(__FILE__).parent_path().parent_path() / "data" / "events" / "events.json";
constexpr const char* kSketchId = "5AF0E187-EB05-4A03-9D79-95DD3FCE50EB";
constexpr const char* kNotesId = "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B";
// Shares its first four digits with the Sketch event, and ended before both.
constexpr const char* kTwinId = "5AF0AAAA-0000-4000-8000-000000000001";

class ShowLookup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        nlohmann::json events = nlohmann::json::parse(std::ifstream(kFixture));
        nlohmann::json twin = events[1];
        twin["id"] = kTwinId;
        twin["appName"] = "Notes (copy)";
        twin["terminatedAt"] = events[1]["terminatedAt"].get<double>() - 1000;
        events.push_back(twin);
        std::ofstream(m_data / "events.json") << events.dump();
    }

    exitwise::test::CommandOutcome exitwise(const std::string& args) const
    {
        return runCommand("EXITWISE_APP_SUPPORT_DIR=" + shellQuoted(m_data.string()) + " " + EXITWISE_BIN
                          + " " + args);
    }

    std::string eventFile() const { return (m_data / "events.json").string(); }

    exitwise::test::TempDir m_temp{"exitwise-show"};
    fs::path m_data = m_temp.path();
};

TEST_F(ShowLookup, FindsAnEventByIdPrefixOrLatest)
{
    struct Case
    {
        std::string reference;
        std::string id;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"latest",                               kSketchId},
        {"5af0e187-eb05-4a03-9d79-95dd3fce50eb", kSketchId},
        {"5AF0E",                                kSketchId},
        {"5af0a",                                kTwinId},
        {"0E4C",                                 kNotesId},
        {"0e4cbd8a-1f5b",                        kNotesId},
        {"0e4cbd8a1f5b4c1e",                     kNotesId},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto shown = exitwise("show --json " + c.reference + " 2>&1");
        ASSERT_EQ(shown.status, 0) << c.reference << "\n" << shown.out;
        EXPECT_EQ(nlohmann::json::parse(shown.out)["id"], c.id) << c.reference;
    }
    const auto text = exitwise("show 0e4c");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out.rfind("Notes (", 0), 0u) << text.out;
}

TEST_F(ShowLookup, ReportsAmbiguousUnknownAndMalformedReferences)
{
    const std::string invalid =
        "\": expected 36 characters such as 5AF0E187-EB05-4A03-9D79-95DD3FCE50EB, its first "
        "4 or more hex digits, or latest\n";
    struct Case
    {
        std::string reference;
        int status;
        std::string errors;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"5AF0", 2, "exitwise: event id prefix 5AF0 matches 2 events; give more of the id:\n"
                    "  5AF0E187-EB05-4A03-9D79-95DD3FCE50EB  Sketch \"Pad\", Pro\n"
                    "  5AF0AAAA-0000-4000-8000-000000000001  Notes (copy)\n"},
        {"5af0-", 2, "exitwise: event id prefix 5af0- matches 2 events; give more of the id:\n"
                     "  5AF0E187-EB05-4A03-9D79-95DD3FCE50EB  Sketch \"Pad\", Pro\n"
                     "  5AF0AAAA-0000-4000-8000-000000000001  Notes (copy)\n"},
        {"ffff", 1, "exitwise: no event id starts with ffff in " + eventFile() + "\n"},
        {"5AF0E187-EB05-4A03-9D79-95DD3FCE50EC", 1,
                    "exitwise: no event with id 5AF0E187-EB05-4A03-9D79-95DD3FCE50EC in " + eventFile() + "\n"},
        {"0E4",    2, "exitwise: invalid event id \"0E4" + invalid},
        {"0E4G",   2, "exitwise: invalid event id \"0E4G" + invalid},
        {"--4-",   2, "exitwise: invalid event id \"--4-" + invalid},
        {"Latest", 2, "exitwise: invalid event id \"Latest" + invalid},
        {"5AF0E187-EB05-4A03-9D79-95DD3FCE50EBX", 2,
                    "exitwise: invalid event id \"5AF0E187-EB05-4A03-9D79-95DD3FCE50EBX" + invalid},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto shown = exitwise("show -- " + shellQuoted(c.reference) + " 2>&1 >/dev/null");
        EXPECT_EQ(shown.status, c.status) << c.reference;
        EXPECT_EQ(shown.out, c.errors) << c.reference;
    }
}

TEST_F(ShowLookup, LatestWithoutClosuresFails)
{
    fs::remove(m_data / "events.json");
    const auto shown = exitwise("show latest 2>&1");
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.out, "exitwise: no closures recorded yet in " + eventFile() + "\n");
}

} // namespace
