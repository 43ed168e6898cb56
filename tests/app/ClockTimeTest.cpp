// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"

#include "support/ScopedTimeZone.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

TEST(ClockTime, MediumStylesFollowTheLocaleWithoutZoneOrWeekday)
{
    const test::ScopedTimeZone utc("UTC");
    const core::Date date = core::dateFromSecondsSince1970(1772373909.75); // 2026-03-01 14:05:09.75 UTC
    struct Case
    {
        QLocale::Language language;
        QLocale::Country country;
        const char* clock;
        const char* mediumDateTime;
    };
    const Case cases[] = {
        {QLocale::English, QLocale::UnitedStates, "2:05:09 PM", "Mar 1, 2026, 2:05:09 PM"},
        {QLocale::German, QLocale::Germany, "14:05:09", "1. M\u00E4rz 2026, 14:05:09"},
    };
    for (const Case& c : cases) {
        const QLocale locale(c.language, c.country);
        SCOPED_TRACE(locale.name().toStdString());
        EXPECT_EQ(clockTimeText(date, locale), c.clock); // never rounded up to :10
        EXPECT_EQ(mediumDateTimeText(date, locale), c.mediumDateTime);
    }
}

} // namespace
} // namespace exitwise::app
