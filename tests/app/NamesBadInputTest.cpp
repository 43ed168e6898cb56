// SPDX-License-Identifier: MIT
// Application names come from desktop entries anyone can write. Whatever they hold, they must
// reach the exports, the event file and the notification without breaking any of them.

#include "app/NotificationManager.h"
#include "app/PrintableText.h"
#include "app/RecordFiles.h"
#include "app/stores/EventStore.h"
#include "app/stores/Export.h"
#include "core/Text.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

namespace json = core::json;

const std::vector<std::string> kHostileNames{
    "Sketch \"Pad\", Pro",
    "C:\\Program Files\\\\",
    "two\nlines\r\n",
    "evil\u202E",                               // right-to-left override left open
    "\u2067nested \u202Bdeep\u202C",            // an isolate still open around a closed embedding
    "bad \xC3\x28 utf-8 \xFF\xFE end \xE2\x82", // invalid and truncated sequences
    "=cmd|' /C calc'!A0",
    "tab\tbell\x07escape\x1B[31m",
    "\" OR 1==1 OR \"",
    std::string("nul\0inside", 10),
};

std::vector<AppEvent> eventsNamed(const std::vector<std::string>& names)
{
    std::vector<AppEvent> events;
    for (std::size_t i = 0; i < names.size(); ++i) {
        AppEvent event = test::fullEvent(names[i], test::sampleTime(-60.0 * static_cast<double>(i)));
        event.appName = names[i];
        events.push_back(std::move(event));
    }
    return events;
}

// RFC 4180 fields: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<std::vector<std::string>> parseCsv(std::string_view text)
{
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::exchange(field, {}));
        } else if (c == '\n') {
            rows.back().push_back(std::exchange(field, {}));
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    rows.back().push_back(field);
    return rows;
}

TEST(NamesBadInput, CsvExportKeepsEachNameInItsOwnValidField)
{
    const std::vector<AppEvent> events = eventsNamed(kHostileNames);
    const std::string csv = exporting::csvText(events);
    EXPECT_TRUE(core::text::isValidUtf8(csv));
    const auto rows = parseCsv(csv);
    ASSERT_EQ(rows.size(), events.size() + 1);
    for (std::size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 5u) << i;
        const std::string shown = kHostileNames[i][0] == '=' ? "'" + kHostileNames[i] : kHostileNames[i];
        EXPECT_EQ(rows[i + 1][0], core::text::sanitizedUtf8(shown)) << i;
        EXPECT_EQ(rows[i + 1][2], "Crashed: app bug");
    }
    EXPECT_EQ(rows[1][0], "Sketch \"Pad\", Pro");
    EXPECT_EQ(rows[7][0], "'=cmd|' /C calc'!A0") << "a formula reaches the spreadsheet as text";
    EXPECT_EQ(rows[3][0], "two\nlines\r\n") << "line breaks stay inside the quotes";
}

TEST(NamesBadInput, JsonExportAndEventFileCarryEveryName)
{
    const std::vector<AppEvent> events = eventsNamed(kHostileNames);
    const json::Json exported = json::parse(exporting::jsonText(events));
    ASSERT_EQ(exported.size(), events.size());

    QTemporaryDir temp;
    EventStore store(temp.path().toStdString());
    ASSERT_FALSE(store.save(events));
    const std::vector<AppEvent> loaded = EventStore(temp.path().toStdString()).load();
    ASSERT_EQ(loaded.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const std::string& name = kHostileNames[i];
        const std::string exportedName = exported[i]["appName"].get<std::string>();
        EXPECT_TRUE(core::text::isValidUtf8(exportedName));
        if (core::text::isValidUtf8(name)) {
            EXPECT_EQ(exportedName, name) << i;
            EXPECT_EQ(loaded[i].appName, name) << i;
        } else {
            EXPECT_NE(exportedName.find("\uFFFD"), std::string::npos);
            EXPECT_EQ(loaded[i].appName, exportedName) << "the same text in the export and the file";
        }
    }
}

TEST(NamesBadInput, NotificationTitleStaysOneLineWithItsOwnTextReadable)
{
    const std::string suffix = " closed — Click to see why.";
    for (const AppEvent& event : eventsNamed(kHostileNames)) {
        const NotificationRequest request = NotificationManager::makeRequest(event);
        const std::string title = request.content.title.toStdString();
        SCOPED_TRACE(title);
        EXPECT_EQ(title, printableLine(event.appName) + suffix);
        EXPECT_EQ(title.find('\n'), std::string::npos);
        EXPECT_EQ(title.find('\x1B'), std::string::npos);
        EXPECT_TRUE(core::text::isValidUtf8(title));
    }
    // Whatever direction a name leaves open is closed before the fixed text.
    EXPECT_EQ(printableLine("evil\u202E"), "evil\u202E\u202C");
    EXPECT_EQ(printableLine("\u2067nested \u202Bdeep\u202C"), "\u2067nested \u202Bdeep\u202C\u2069");
    EXPECT_EQ(printableLine("\u202Bin \u2066iso\u2069 out"), "\u202Bin \u2066iso\u2069 out\u202C");
    EXPECT_EQ(printableLine("\u2066a \u202Eb\u2069"), "\u2066a \u202Eb\u2069")
        << "PDI closes what it encloses";
    EXPECT_EQ(printableLine("closed\u202C\u2069"), "closed\u202C\u2069") << "stray closers are left alone";
    EXPECT_EQ(printableText("a\u202E\nb"), "a\u202E\u202C\nb") << "each line is closed";
    EXPECT_EQ(printableLine("\u05E9\u05DC\u05D5\u05DD"), "\u05E9\u05DC\u05D5\u05DD")
        << "plain Hebrew is untouched";
}

} // namespace
} // namespace exitwise::app
