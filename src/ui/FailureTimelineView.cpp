// SPDX-License-Identifier: MIT
#include "ui/FailureTimelineView.h"

#include "app/ClockTime.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPauseAnimation>
#include <QSequentialAnimationGroup>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace exitwise::ui {

namespace {

constexpr int kGraphicWidth = 24;
constexpr int kGraphicTopInset = 6;
constexpr int kBarWidth = 4;
constexpr int kBarHeight = 86;
constexpr int kMarkerSize = 10;
constexpr int kMarkerSpacing = 54;
constexpr double kGlowOpacity = 0.35;
constexpr int kGlowRadius = 10;

QWidget* makeRow(const QString& title, QLabel*& value, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(style::makeLabel(title, style::TextStyle::headline, false, row));
    value = style::makeLabel(QString(), style::TextStyle::caption, true, row);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(value);
    return row;
}

} // namespace

FailureTimelineView::FailureTimelineView(std::optional<core::Date> launchedAt, core::Date terminatedAt,
                                         QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16 + kGraphicWidth + 14, 16, 16, 16);
    layout->setSpacing(14);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(14);
    texts->addWidget(makeRow(QStringLiteral("Launch"), m_launchValue, this));
    texts->addWidget(makeRow(QStringLiteral("Closed"), m_closedValue, this));
    texts->addStretch(1);
    layout->addLayout(texts, 1);
    setMinimumHeight(kGraphicTopInset + kBarHeight + 32);

    m_launchValue->setText(launchedAt ? QString::fromStdString(app::mediumDateTimeText(*launchedAt))
                                      : QStringLiteral("Unknown"));
    m_closedValue->setText(QString::fromStdString(app::mediumDateTimeText(terminatedAt)));

    // Fade in (ease-out), then the marker grows (ease-out) and settles back (ease-in).
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setDuration(kFadeInMs);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_barOpacity = value.toDouble();
        update();
    });

    auto* grow = new QVariantAnimation(this);
    grow->setStartValue(0.0);
    grow->setEndValue(1.0);
    grow->setDuration(kPulseInMs);
    grow->setEasingCurve(QEasingCurve::OutCubic);
    auto* shrink = new QVariantAnimation(this);
    shrink->setStartValue(1.0);
    shrink->setEndValue(0.0);
    shrink->setDuration(kPulseOutMs);
    shrink->setEasingCurve(QEasingCurve::InCubic);
    for (QVariantAnimation* animation : {grow, shrink}) {
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            const double t = value.toDouble();
            m_markerScale = 1.0 + (kPulseScale - 1.0) * t;
            m_glowOpacity = kGlowOpacity * t;
            update();
        });
    }

    m_entrance = new QSequentialAnimationGroup(this);
    m_entrance->addAnimation(fade);
    m_entrance->addPause(kPulseDelayMs - kFadeInMs);
    m_entrance->addAnimation(grow);
    m_entrance->addPause(kPulseOutDelayMs - kPulseInMs);
    m_entrance->addAnimation(shrink);
    connect(fade, &QVariantAnimation::stateChanged, this, [this](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Running) {
            m_didAnimateIn = true;
        }
    });
    connect(grow, &QVariantAnimation::stateChanged, this, [this](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Running) {
            m_pulse = true;
        }
    });
    connect(shrink, &QVariantAnimation::stateChanged, this, [this](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Running) {
            m_pulse = false;
        }
    });
    connect(m_entrance, &QSequentialAnimationGroup::finished, this, [this] {
        m_markerScale = 1.0;
        m_glowOpacity = 0.0;
        update();
        emit entranceFinished();
    });
}

FailureTimelineView::~FailureTimelineView() = default;

QString FailureTimelineView::launchText() const
{
    return m_launchValue->text();
}

QString FailureTimelineView::closedText() const
{
    return m_closedValue->text();
}

bool FailureTimelineView::isAnimating() const
{
    return m_entrance->state() == QAbstractAnimation::Running;
}

void FailureTimelineView::startEntranceAnimation()
{
    m_entrance->stop();
    m_didAnimateIn = false;
    m_pulse = false;
    m_barOpacity = 0.0;
    m_markerScale = 1.0;
    m_glowOpacity = 0.0;
    m_entrance->start();
}

void FailureTimelineView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startEntranceAnimation();
}

void FailureTimelineView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = style::secondary(this);

    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(card, style::withAlpha(secondary, 0.06));

    const double centreX = 16 + kGraphicWidth / 2.0;
    const double barTop = 16 + kGraphicTopInset;
    const QRectF bar(centreX - kBarWidth / 2.0, barTop, kBarWidth, kBarHeight);
    painter.fillRect(bar, style::withAlpha(secondary, 0.25 * m_barOpacity));

    // The two markers sit centred on the bar, 54 points apart.
    const double middleY = barTop + kBarHeight / 2.0;
    const QPointF launchCentre(centreX, middleY - kMarkerSpacing / 2.0);
    const QPointF closeCentre(centreX, middleY + kMarkerSpacing / 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::withAlpha(secondary, 0.55));
    painter.drawEllipse(launchCentre, kMarkerSize / 2.0, kMarkerSize / 2.0);

    if (m_glowOpacity > 0.0) {
        QRadialGradient glow(closeCentre, kMarkerSize / 2.0 * m_markerScale + kGlowRadius);
        glow.setColorAt(0.0, style::withAlpha(style::red(), m_glowOpacity));
        glow.setColorAt(1.0, style::withAlpha(style::red(), 0.0));
        painter.setBrush(glow);
        const double radius = kMarkerSize / 2.0 * m_markerScale + kGlowRadius;
        painter.drawEllipse(closeCentre, radius, radius);
    }
    painter.setBrush(style::red());
    const double radius = kMarkerSize / 2.0 * m_markerScale;
    painter.drawEllipse(closeCentre, radius, radius);
}

} // namespace exitwise::ui
