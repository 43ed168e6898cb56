// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
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

// Nor a medium date style: the long one without the weekday and with abbreviated month names.
QString mediumDateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

} // namespace

std::string mediumDateTimeText(core::Date date, const QLocale& locale)
{
    const QDateTime local = localDateTime(date);
    return (locale.toString(local.date(), mediumDateFormat(locale)) + QStringLiteral(", ") +
            locale.toString(local.time(), mediumTimeFormat(locale)))
        .toStdString();
}

std::string mediumDateTimeText(core::Date date)
{
    return mediumDateTimeText(date, QLocale());
}

std::string clockTimeText(core::Date date, const QLocale& locale)
{
    return locale.toString(localDateTime(date).time(), mediumTimeFormat(locale)).toStdString();
}

std::string clockTimeText(core::Date date)
{
    return clockTimeText(date, QLocale());
}

std::string localDateTimeText(core::Date date)
{
    return localDateTime(date).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

} // namespace exitwise::app
