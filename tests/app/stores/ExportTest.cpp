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

// A field a spreadsheet would run as a formula gets an apostrophe. (Quotes and line breaks in
// names: the sample export and NamesBadInputTest.)
TEST(CsvExport, QuotesEveryFieldAndDefusesFormulas)
{
    // clang-format off
    const std::pair<std::string, const char*> cases[] = {
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
}

// The exports of the sample events, byte for byte: JSON pretty-printed with sorted keys, CSV with
// its header and every field quoted.
TEST(Exports, OfTheSampleEvents)
{
    const fs::path data = fs::path(EXITWISE_TEST_DATA_DIR) / "events";
    const std::vector<AppEvent> events =
        EventStore::decodeEventFile(test::readFile(data / "events.json")).events;
    EXPECT_EQ(exporting::jsonText(events), test::readFile(data / "export.json"));
    EXPECT_EQ(exporting::csvText(events), test::readFile(data / "export.csv"));
    EXPECT_EQ(exporting::jsonText({}), "[]");
    EXPECT_EQ(exporting::csvText({}), "appName,terminatedAt,dominantCause,endState,confidence");
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
