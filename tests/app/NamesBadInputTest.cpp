// SPDX-License-Identifier: MIT
// Application names come from desktop entries anyone can write. Whatever they hold, they must
// reach the exports, the event file and the notification without breaking any of them.

#include "app/NotificationManager.h"
#include "app/PrintableText.h"
#include "app/stores/EventStore.h"
#include "app/stores/Export.h"
#include "core/Text.h"
#include "support/Files.h"
#include "support/SampleEvents.h"

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
    "tab\tbell\aescape\x1B[31m",
    "\" OR 1==1 OR \"",
    std::string("nul\0inside", 10),
};

std::vector<AppEvent> eventsNamed(const std::vector<std::string>& names)
{
    std::vector<AppEvent> events;
    for (std::size_t i = 0; i < names.size(); ++i) {
        events.push_back(test::fullEvent(names[i], test::sampleTime(-60.0 * static_cast<double>(i))));
    }
    return events;
}

// Each name in one quoted field of valid UTF-8, line breaks inside the quotes, a formula as text.
TEST(NamesBadInput, CsvExportKeepsEachNameInItsOwnValidField)
{
    EXPECT_EQ(exporting::csvText(eventsNamed(kHostileNames)) + "\n",
              test::readFile(EXITWISE_TEST_DATA_DIR "/texts/hostile-names.csv"));
}

TEST(NamesBadInput, JsonExportAndEventFileCarryTheSameValidText)
{
    const std::vector<AppEvent> events = eventsNamed(kHostileNames);
    const json::Json exported = json::parse(exporting::jsonText(events));
    const test::TempDir temp("names");
    ASSERT_FALSE(EventStore(temp.path()).save(events));
    const std::vector<AppEvent> loaded = EventStore(temp.path()).load();
    ASSERT_EQ(loaded.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const std::string valid = core::text::sanitizedUtf8(kHostileNames[i]);
        EXPECT_EQ(exported[i]["appName"], valid) << i;
        EXPECT_EQ(loaded[i].appName, valid) << i;
    }
}

TEST(NamesBadInput, NotificationTitleStaysOneLineWithItsOwnTextReadable)
{
    for (const AppEvent& event : eventsNamed(kHostileNames)) {
        const std::string title = NotificationManager::makeRequest(event).content.title.toStdString();
        SCOPED_TRACE(title);
        EXPECT_EQ(title, printableLine(event.appName) + " closed — Click to see why.");
        EXPECT_EQ(title.find_first_of("\n\x1B"), std::string::npos);
        EXPECT_TRUE(core::text::isValidUtf8(title));
    }
    // Controls are replaced and whatever direction a name leaves open is closed before the fixed
    // text; PDI closes what it encloses, stray closers are left alone, plain Hebrew is untouched.
    // clang-format off
    const std::pair<const char*, const char*> lines[] = {
        {"Two\nLines\x1b[2J",                   "Two Lines\uFFFD[2J"},
        {"evil\u202E",                          "evil\u202E\u202C"},
        {"\u2067nested \u202Bdeep\u202C",       "\u2067nested \u202Bdeep\u202C\u2069"},
        {"\u202Bin \u2066iso\u2069 out",        "\u202Bin \u2066iso\u2069 out\u202C"},
        {"\u2066a \u202Eb\u2069",               "\u2066a \u202Eb\u2069"},
        {"closed\u202C\u2069",                  "closed\u202C\u2069"},
        {"\u05E9\u05DC\u05D5\u05DD",            "\u05E9\u05DC\u05D5\u05DD"},
    };
    // clang-format on
    for (const auto& [name, shown] : lines) {
        EXPECT_EQ(printableLine(name), shown);
    }
    EXPECT_EQ(printableText("a\u202E\nb"), "a\u202E\u202C\nb") << "each line is closed";
}

} // namespace
} // namespace exitwise::app
