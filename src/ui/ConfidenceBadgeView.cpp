// SPDX-License-Identifier: MIT
#include "ui/ConfidenceBadgeView.h"

#include "ui/Style.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace exitwise::ui {

namespace {

QFont badgeFont()
{
    return style::font(style::TextStyle::caption2, true);
}

QString badgeText(core::Confidence confidence)
{
    return QString::fromUtf8(core::rawValue(confidence));
}

} // namespace

ConfidenceBadgeView::ConfidenceBadgeView(core::Confidence confidence, QWidget* parent)
    : QWidget(parent)
    , m_confidence(confidence)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Confidence ") + badgeText(confidence));
}

void ConfidenceBadgeView::setConfidence(core::Confidence confidence)
{
    if (confidence == m_confidence) {
        return;
    }
    m_confidence = confidence;
    setAccessibleName(QStringLiteral("Confidence ") + badgeText(confidence));
    updateGeometry();
    update();
}

QString ConfidenceBadgeView::text() const
{
    return badgeText(m_confidence);
}

QColor ConfidenceBadgeView::colour() const
{
    return style::confidenceColour(m_confidence, this);
}

QSize ConfidenceBadgeView::sizeFor(core::Confidence confidence)
{
    const QFontMetrics metrics(badgeFont());
    return {metrics.horizontalAdvance(badgeText(confidence)) + 2 * kHorizontalInset,
            metrics.height() + 2 * kVerticalInset};
}

QSize ConfidenceBadgeView::sizeHint() const
{
    return sizeFor(m_confidence);
}

void ConfidenceBadgeView::paint(QPainter& painter,
                                const QRect& rect,
                                core::Confidence confidence,
                                const QWidget* context,
                                const QColor& background)
{
    const QPalette palette = context != nullptr ? context->palette() : QApplication::palette();
    const QColor colour = style::confidenceColour(
        confidence, palette,
        background.isValid() ? background : palette.color(QPalette::Active, QPalette::Window));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    const QRectF bounds = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    painter.fillPath(capsule, style::withAlpha(colour, kFillOpacity));
    painter.setPen(colour);
    painter.setFont(badgeFont());
    painter.drawText(rect, Qt::AlignCenter, badgeText(confidence));
    painter.restore();
}

void ConfidenceBadgeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QSize size = sizeFor(m_confidence);
    const QRect badge(QPoint(0, (height() - size.height()) / 2), size);
    paint(painter, badge, m_confidence, this);
}

} // namespace exitwise::ui
