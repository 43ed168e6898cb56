// SPDX-License-Identifier: MIT
#include "app/stores/Export.h"

#include "app/RecordFiles.h"
#include "app/stores/EventStore.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <utility>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

TEST(CsvExport, QuotesEveryFieldAndKeepsSpecialCharactersInside)
{
    struct Case
    {
        std::string appName;
        std::string firstField;
    };
    const Case cases[] = {
        {"Plain", "\"Plain\""},
        {"Say \"hi\"", "\"Say \"\"hi\"\"\""},
        {"Comma, Inc", "\"Comma, Inc\""},
        {"Two\nLines", "\"Two\nLines\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        const AppEvent event = test::minimalEvent(c.appName, test::sampleTime());
        const std::string expected =
            std::string(exporting::kCsvHeader) + "\n" + c.firstField
            + ",\"2026-02-28T19:33:20.000Z\",\"Crashed: app bug\",\"Crash\",\"High\"";
        EXPECT_EQ(exporting::csvText({event}), expected) << c.appName;
    }
}

TEST(CsvExport, FieldsASpreadsheetWouldRunAsFormulasGetAnApostrophe)
{
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
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
        const std::string text = exporting::csvText({test::minimalEvent(appName, test::sampleTime())});
        EXPECT_EQ(text.substr(text.find('\n') + 1),
                  std::string(firstField)
                      + ",\"2026-02-28T19:33:20.000Z\",\"Crashed: app bug\",\"Crash\",\"High\"")
            << appName;
    }
}

TEST(CsvExport, KeepsListOrderWithoutTrailingLineFeed)
{
    const AppEvent newer = test::minimalEvent("Newer", test::sampleTime(0.1239));
    AppEvent older = test::minimalEvent("Older", test::sampleTime(-1));
    older.diagnosis.endState = core::EndState::cleanExit;
    older.diagnosis.dominantCause = core::DominantCause::explicitQuit;
    older.diagnosis.confidence = core::Confidence::medium;
    EXPECT_EQ(exporting::csvText({newer, older}),
              "appName,terminatedAt,dominantCause,endState,confidence\n"
              "\"Newer\",\"2026-02-28T19:33:20.123Z\",\"Crashed: app bug\",\"Crash\",\"High\"\n"
              "\"Older\",\"2026-02-28T19:33:19.000Z\",\"Quit request\",\"Clean exit\",\"Medium\"");
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

class ExportFiles : public ::testing::Test
{
protected:
    fs::path file(const char* name) const { return fs::path(m_temp.path().toStdString()) / name; }
    QTemporaryDir m_temp;
};

TEST_F(ExportFiles, FailureCarriesTheSystemsReasonAndLeavesNoPartialFile)
{
    const auto error = exporting::exportCSV({}, file("missing/out.csv"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ENOENT);
    EXPECT_NE(error->message().find("No such file or directory"), std::string::npos) << error->message();

    fs::create_directory(file("taken.csv"));
    ASSERT_TRUE(exporting::exportJSON({}, file("taken.csv")));
    EXPECT_TRUE(fs::is_directory(file("taken.csv")));
}

} // namespace
} // namespace exitwise::app
