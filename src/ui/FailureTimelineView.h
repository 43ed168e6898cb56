// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <QWidget>

#include <optional>

class QLabel;
class QSequentialAnimationGroup;
class QVariantAnimation;

namespace exitwise::ui {

// Launch and close of one closure on a short vertical timeline: the bar fades in, then the red
// close marker pulses once. The texts use the locale's medium date and time.
class FailureTimelineView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kFadeInMs = 300;
    static constexpr int kPulseDelayMs = 320; // from the start of the fade-in
    static constexpr int kPulseInMs = 180;
    static constexpr int kPulseOutDelayMs = 220; // from the start of the pulse
    static constexpr int kPulseOutMs = 180;
    static constexpr double kPulseScale = 1.25;

    FailureTimelineView(std::optional<core::Date> launchedAt, core::Date terminatedAt, QWidget* parent = nullptr);
    ~FailureTimelineView() override;

    [[nodiscard]] QString launchText() const;
    [[nodiscard]] QString closedText() const;

    // Animation state, for drawing and for tests.
    [[nodiscard]] bool didAnimateIn() const { return m_didAnimateIn; }
    [[nodiscard]] bool isPulsing() const { return m_pulse; }
    [[nodiscard]] double barOpacity() const { return m_barOpacity; }
    [[nodiscard]] double closeMarkerScale() const { return m_markerScale; }
    [[nodiscard]] double glowOpacity() const { return m_glowOpacity; }
    [[nodiscard]] bool isAnimating() const;

    // Runs the entrance once; called whenever the view is shown.
    void startEntranceAnimation();

signals:
    void entranceFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_launchValue = nullptr;
    QLabel* m_closedValue = nullptr;
    QSequentialAnimationGroup* m_entrance = nullptr;
    bool m_didAnimateIn = false;
    bool m_pulse = false;
    double m_barOpacity = 0.0;
    double m_markerScale = 1.0;
    double m_glowOpacity = 0.0;
};

} // namespace exitwise::ui
