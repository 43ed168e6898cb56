// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cmath>

namespace exitwise::app {

namespace {

QDateTime localDateTime(core::Date date)
{
    const double ms = std::floor(core::secondsSince1970(date) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toLocalTime();
}

// Qt has no medium time style; its long style is the medium one plus the time zone ("t").
QString mediumTimeFormat(const QLocale& locale)
{
    const QString longFormat = locale.timeFormat(QLocale::LongFormat);
    QString format;
    bool quoted = false;
    for (const QChar c : longFormat) {
        if (c == u'\'') {
            quoted = !quoted;
        }
        if (!quoted && c == u't') {
            continue;
        }
        format += c;
    }
    return format.simplified();
}

} // namespace

std::string clockTimeText(core::Date date, const QLocale& locale)
{
    return locale.toString(localDateTime(date).time(), mediumTimeFormat(locale)).toStdString();
}

std::string clockTimeText(core::Date date)
{
    return clockTimeText(date, QLocale::system());
}

std::string localDateTimeText(core::Date date)
{
    return localDateTime(date).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

} // namespace exitwise::app
