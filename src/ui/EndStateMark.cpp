// SPDX-License-Identifier: MIT
#include "ui/EndStateMark.h"

#include "ui/Style.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace exitwise::ui {

namespace {

QDateTime localDateTime(core::Date date)
{
    const double ms = std::floor(core::secondsSince1970(date) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toLocalTime();
}

} // namespace

QString EndStateMark::text(core::EndState state)
{
    return QString::fromUtf8(core::rawValue(state));
}

QColor EndStateMark::colour(core::EndState state, const QPalette& palette, const QColor& background)
{
    QPalette on = palette;
    on.setColor(QPalette::Active, QPalette::Window, background);
    switch (state) {
    case core::EndState::crash:
    case core::EndState::launchBlocked:
        return style::tone(style::Tone::negative, on);
    case core::EndState::killed:
        return style::tone(style::Tone::caution, on);
    case core::EndState::cleanExit:
        break;
    }
    return style::tone(style::Tone::secondary, on);
}

void EndStateMark::paint(QPainter& painter,
                         const QRectF& rect,
                         core::EndState state,
                         const QPalette& palette,
                         const QColor& background)
{
    const QColor colour = EndStateMark::colour(state, palette, background);
    const double size = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - size / 2, rect.center().y() - size / 2, size, size);
    const double stroke = std::max(1.2, size / 7.0);
    const QPointF c = box.center();
    const double r = size / 2;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The inner mark is cut out of the filled shape in the background colour.
    QPen cut(background, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (state) {
    case core::EndState::crash:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(box);
        painter.setPen(cut);
        painter.drawLine(c + QPointF(-r * 0.38, -r * 0.38), c + QPointF(r * 0.38, r * 0.38));
        painter.drawLine(c + QPointF(-r * 0.38, r * 0.38), c + QPointF(r * 0.38, -r * 0.38));
        break;
    case core::EndState::launchBlocked:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(box);
        painter.setPen(cut);
        painter.drawLine(c + QPointF(-r * 0.5, 0), c + QPointF(r * 0.5, 0));
        break;
    case core::EndState::killed: {
        QPainterPath triangle;
        triangle.moveTo(c.x(), box.top() + size * 0.04);
        triangle.lineTo(box.right(), box.bottom() - size * 0.06);
        triangle.lineTo(box.left(), box.bottom() - size * 0.06);
        triangle.closeSubpath();
        painter.setPen(QPen(colour, stroke * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(colour);
        painter.drawPath(triangle);
        painter.setPen(cut);
        painter.drawLine(QPointF(c.x(), box.top() + size * 0.36), QPointF(c.x(), box.top() + size * 0.60));
        painter.drawPoint(QPointF(c.x(), box.top() + size * 0.78));
    } break;
    case core::EndState::cleanExit: {
        painter.setPen(QPen(colour, stroke * 0.8));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(box.adjusted(stroke * 0.4, stroke * 0.4, -stroke * 0.4, -stroke * 0.4));
        QPainterPath check;
        check.moveTo(c + QPointF(-r * 0.42, r * 0.02));
        check.lineTo(c + QPointF(-r * 0.1, r * 0.34));
        check.lineTo(c + QPointF(r * 0.44, -r * 0.3));
        painter.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(check);
    } break;
    }
    painter.restore();
}

QString closureTimeText(core::Date when, core::Date now, const QLocale& locale)
{
    const QDateTime at = localDateTime(when);
    const qint64 daysAgo = at.date().daysTo(localDateTime(now).date());
    const QString time = locale.toString(at.time(), QLocale::ShortFormat);
    if (daysAgo == 0) {
        return time;
    }
    if (daysAgo > 0 && daysAgo < 7) {
        return locale.dayName(at.date().dayOfWeek(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
    }
    return locale.toString(at.date(), QLocale::ShortFormat);
}

} // namespace exitwise::ui
