// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"

#include <QLocale>

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

class ClockTimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* tz = std::getenv("TZ")) {
            m_savedTz = tz;
        }
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override
    {
        if (m_savedTz.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", m_savedTz.c_str(), 1);
        }
        ::tzset();
    }

private:
    std::string m_savedTz;
};

struct LocaleCase
{
    QLocale::Language language;
    QLocale::Country country;
    const char* clock;
    const char* mediumDateTime;
};

TEST_F(ClockTimeTest, MediumStylesFollowTheLocaleWithoutZoneOrWeekday)
{
    const core::Date date = core::dateFromSecondsSince1970(1772373909.75); // 2026-03-01 14:05:09.75 UTC
    const LocaleCase cases[] = {
        {QLocale::English, QLocale::UnitedStates, "2:05:09 PM", "Mar 1, 2026, 2:05:09 PM"},
        {QLocale::German, QLocale::Germany, "14:05:09", "1. M\u00E4rz 2026, 14:05:09"},
    };
    for (const LocaleCase& c : cases) {
        const QLocale locale(c.language, c.country);
        SCOPED_TRACE(locale.name().toStdString());
        EXPECT_EQ(clockTimeText(date, locale), c.clock); // never rounded up to :10
        EXPECT_EQ(mediumDateTimeText(date, locale), c.mediumDateTime);
    }
}

} // namespace
} // namespace exitwise::app
