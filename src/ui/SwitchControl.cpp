// SPDX-License-Identifier: MIT
#include "ui/SwitchControl.h"

#include "ui/Style.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace exitwise::ui {

SwitchControl::SwitchControl(const QString& text, QWidget* parent)
    : QCheckBox(text, parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    // A click toggles without leaving a focus ring; the ring marks keyboard focus only.
    setFocusPolicy(Qt::TabFocus);
}

QSize SwitchControl::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + kLabelGap + kTrackWidth + 2,
            std::max(metrics.height(), kTrackHeight) + 4};
}

QSize SwitchControl::minimumSizeHint() const
{
    return sizeHint();
}

QRect SwitchControl::trackRect() const
{
    return {width() - kTrackWidth - 1, (height() - kTrackHeight) / 2, kTrackWidth, kTrackHeight};
}

bool SwitchControl::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void SwitchControl::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double opacity = isEnabled() ? 1.0 : 0.45;

    const QRect track = trackRect();
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setOpacity(opacity);
    painter.drawText(QRect(0, 0, std::max(0, track.left() - kLabelGap), height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());

    const double radius = track.height() / 2.0;
    const QColor trackColour =
        isChecked() ? palette().color(QPalette::Highlight) : style::withAlpha(style::secondary(this), 0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColour);
    painter.drawRoundedRect(QRectF(track), radius, radius);

    constexpr double kKnobInset = 2.0;
    const double knobSize = track.height() - 2 * kKnobInset;
    const double knobX = isChecked() ? track.right() + 1 - kKnobInset - knobSize : track.left() + kKnobInset;
    const QRectF knob(knobX, track.top() + kKnobInset, knobSize, knobSize);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.6));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);

    if (hasFocus()) {
        QPen ring(style::withAlpha(palette().color(QPalette::Highlight), 0.6), 2);
        painter.setPen(ring);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(track).adjusted(-1.5, -1.5, 1.5, 1.5), radius + 1.5, radius + 1.5);
    }
}

} // namespace exitwise::ui
