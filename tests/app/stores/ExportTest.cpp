// SPDX-License-Identifier: MIT
#include "app/stores/Export.h"

#include "app/RecordFiles.h"
#include "app/stores/EventStore.h"
#include "support/StoreTesting.h"

#include <fstream>
#include <gtest/gtest.h>
#include <utility>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

// Every field is quoted; a field a spreadsheet would run as a formula gets an apostrophe.
TEST(CsvExport, QuotesEveryFieldAndDefusesFormulas)
{
    // clang-format off
    const std::pair<std::string, const char*> cases[] = {
        {"Plain",             "\"Plain\""},
        {"Say \"hi\"",         "\"Say \"\"hi\"\"\""},
        {"Two\nLines",        "\"Two\nLines\""},
        {"",                  "\"\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1",                "\"'+1\""},
        {"-2+3",              "\"'-2+3\""},
        {"@SUM(A1)",          "\"'@SUM(A1)\""},
        {"\t=1",              "\"'\t=1\""},
        {"\r=1",              "\"'\r=1\""},
        {"A=1",               "\"A=1\""},
        {" =1",               "\" =1\""},
        {"'=1",               "\"'=1\""},
    };
    // clang-format on
    for (const auto& [appName, firstField] : cases) {
        EXPECT_EQ(exporting::csvText({test::minimalEvent(appName, test::sampleTime())}),
                  std::string(exporting::kCsvHeader) + "\n" + firstField
                      + ",\"2026-02-28T19:33:20.000Z\",\"Crashed: app bug\",\"Crash\",\"High\"")
            << appName;
    }
    EXPECT_EQ(exporting::csvText({}), "appName,terminatedAt,dominantCause,endState,confidence");
}

TEST(JsonExport, IsTheEventListPrettyPrintedWithSortedKeys)
{
    const std::vector<AppEvent> events = {test::fullEvent("Sketch", test::sampleTime()),
                                          test::minimalEvent("Notes", test::sampleTime(-5))};
    const std::string text = exporting::jsonText(events);
    core::json::Json expected = core::json::Json::array({encode(events[0]), encode(events[1])});
    EXPECT_EQ(text, expected.dump(2));
    EXPECT_EQ(text.rfind("[\n  {\n    \"appName\": \"Sketch\",\n    \"appPath\"", 0), 0u) << text;
    EXPECT_EQ(text.find("\"feedback\""), std::string::npos);
    EXPECT_EQ(exporting::jsonText({}), "[]");
}

using ExportFiles = test::StoreTest;

TEST_F(ExportFiles, FailureLeavesWhatIsInTheWay)
{
    const fs::path taken = directory() / "taken.csv";
    fs::create_directory(taken);
    ASSERT_TRUE(exporting::exportJSON({}, taken));
    EXPECT_TRUE(fs::is_directory(taken));
}

} // namespace
} // namespace exitwise::app
