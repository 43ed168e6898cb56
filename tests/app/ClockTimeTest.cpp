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
    // The American forms are those of the detail view's golden texts.
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(clockTimeText(date, german), "14:05:09"); // never rounded up to :10
    EXPECT_EQ(mediumDateTimeText(date, german), "1. M\u00E4rz 2026, 14:05:09");
}

} // namespace
} // namespace exitwise::app
