// SPDX-License-Identifier: MIT
#include "cli/ListTable.h"
#include "cli/TimeBound.h"
#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::cli {
namespace {

app::AppEvent event(const char* id,
                    const char* name,
                    double secondsSince1970,
                    std::optional<std::int32_t> pid = std::nullopt,
                    core::EndState state = core::EndState::cleanExit,
                    core::DominantCause cause = core::DominantCause::unknown,
                    core::Confidence confidence = core::Confidence::low)
{
    app::AppEvent e;
    e.id = *app::Uuid::parse(id);
    e.appName = name;
    e.pid = pid;
    e.terminatedAt = core::dateFromSecondsSince1970(secondsSince1970);
    e.diagnosis.endState = state;
    e.diagnosis.dominantCause = cause;
    e.diagnosis.confidence = confidence;
    return e;
}

// The rows of `events` with the first eight digits of their ids.
std::vector<ListRow> rowsOf(const std::vector<app::AppEvent>& events)
{
    std::vector<ListRow> rows;
    for (const app::AppEvent& e : events) {
        rows.push_back({&e, e.id.toString().substr(0, 8)});
    }
    return rows;
}

TEST(TimeBound, AcceptsLocalDatesDayNamesAndRelativeTimes)
{
    // Berlin springs forward at 02:00 that day: its midnight lies 9 hours before 10:00, so
    // "today" must come from the calendar, not from a fixed offset.
    const test::ScopedTimeZone zone("Europe/Berlin");
    const double now = 1774771200; // 2026-03-29 10:00 CEST
                                   // The instant each names, in seconds since 1970.
    // clang-format off
    const std::vector<std::pair<const char*, double>> accepted = {
        {"2026-03-01",          1772319600}, // 2026-02-28T23:00:00Z
        {"2026-03-01 14:05:09", 1772370309}, // 2026-03-01T13:05:09Z
        {"2026-07-01 00:00",    1782856800}, // 2026-06-30T22:00:00Z
        {"2024-02-29",          1709161200}, // 2024-02-28T23:00:00Z
        {"today",               1774738800}, // 2026-03-28T23:00:00Z
        {"yesterday",           1774652400}, // 2026-03-27T23:00:00Z
        {"-45s",                now - 45},
        {"-30m",                now - 30 * 60},
        {"-2h",                 now - 2 * 3600},
        {"-3d",                 now - 3 * 86400},
        {"-1w",                 now - 7 * 86400},
    };
    const std::vector<const char*> rejected = {
        "2026-13-01", "2026-02-29", "2026-04-31", "2026-03-01 24:00", "2026-03-01 14:60", "2026-03-01 14:5",
        "2026-3-1", "2026-03-01T14:05", "2026-03-01 14:05:09.5", " 2026-03-01", "1969-12-31", "Today",
        "tomorrow", "now", "", "-2", "-h", "2h", "+2h", "-2y", "--2h", "-1.5h", "-2 h", "-9999999999h",
    };
    // clang-format on
    const core::Date at = core::dateFromSecondsSince1970(now);
    for (const auto& [text, seconds] : accepted) {
        const std::optional<core::Date> bound = parseTimeBound(text, at);
        ASSERT_TRUE(bound) << text;
        EXPECT_EQ(core::secondsSince1970(*bound), seconds) << text;
    }
    for (const char* text : rejected) {
        EXPECT_FALSE(parseTimeBound(text, at)) << text;
    }
}

TEST(ListTable, ShortIdsGrowOnlyWhereTheyWouldBeAmbiguous)
{
    const std::vector<app::AppEvent> events = {
        event("5AF0E187-EB05-4A03-9D79-95DD3FCE50EB", "a", 0),
        event("5AF0E187-EB06-4000-8000-000000000001", "b", 0),
        event("5AF0E180-0000-4000-8000-000000000000", "c", 0),
        event("0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B", "d", 0),
        event("5AF0E187-EB05-4A03-9D79-95DD3FCE50EC", "e", 0),
    };
    const std::vector<std::string> expected = {
        "5AF0E187-EB05-4A03-9D79-95DD3FCE50EB", "5AF0E187-EB06", "5AF0E180", "0E4CBD8A",
        "5AF0E187-EB05-4A03-9D79-95DD3FCE50EC",
    };
    EXPECT_EQ(shortIds(events), expected);
}

TEST(ListTable, ColoursOnlyATerminalWithoutNoColorAndPadsByVisibleCharacters)
{
    // The executable's own test shows a terminal, NO_COLOR=1 and a pipe; an empty NO_COLOR is no ask.
    EXPECT_TRUE(useColour(true, ""));

    const test::ScopedTimeZone zone("UTC");
    using enum core::EndState;
    using enum core::DominantCause;
    using enum core::Confidence;
    const std::vector<app::AppEvent> events = {
        event("5AF0E187-EB05-4A03-9D79-95DD3FCE50EB", "Café Über Sketch Pad Professional", 1772307200.5, 812,
              crash, crashBug, high),
        event("0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B", "Notes", 1772297200, {}, cleanExit, explicitQuit,
              medium),
        event("7C000000-0000-4000-8000-000000000000", "Mail", 1772297100, 4194304, killed, killedJetsamMemory,
              low),
        event("9D000000-0000-4000-8000-000000000000", "Tool", 1772297000, {}, launchBlocked, policyBlocked,
              low),
    };
    // clang-format off
    EXPECT_EQ(listTable(rowsOf(events), {.legend = false, .colour = true}),
              "2026-02-28 19:33:20  Café Über Sketch Pad Pro…      812  \033[31mCrash\033[0m           Crashed: app bug         \033[1mHigh\033[0m    5AF0E187\n"
              "2026-02-28 16:46:40  Notes                            -  \033[32mClean exit\033[0m      Quit request             Medium  0E4CBD8A\n"
              "2026-02-28 16:45:00  Mail                       4194304  \033[35mKilled\033[0m          Killed: memory pressure  \033[2mLow\033[0m     7C000000\n"
              "2026-02-28 16:43:20  Tool                             -  \033[33mLaunch blocked\033[0m  OS policy restriction    \033[2mLow\033[0m     9D000000\n");
    // clang-format on
}

TEST(ListTable, ClosesADirectionOverrideInAShortenedName)
{
    const test::ScopedTimeZone zone("UTC");
    // A right-to-left override left open would print the columns after it backwards.
    const std::vector<app::AppEvent> events = {
        event("5AF0E187-EB05-4A03-9D79-95DD3FCE50EB", "\u202Eabcdefghijklmnopqrstuvwxyz0123456789ABCD",
              1772307200, 812),
        event("0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B", "\u2067abc", 1772307200, 9),
    };
    // clang-format off
    EXPECT_EQ(listTable(rowsOf(events), {.legend = false, .colour = false}),
              "2026-02-28 19:33:20  \u202Eabcdefghijklmnopqrstuvw…\u202C  812  Clean exit  Unknown  Low  5AF0E187\n"
              "2026-02-28 19:33:20  \u2067abc\u2069                         9  Clean exit  Unknown  Low  0E4CBD8A\n");
    // clang-format on
}

} // namespace
} // namespace exitwise::cli
