// SPDX-License-Identifier: MIT
#pragma once

#include <QCheckBox>

namespace exitwise::ui {

// An on/off switch: the label at the left, a sliding track at the right edge. Behaves as a
// QCheckBox (toggled(), keyboard, accessibility); the whole row is the click target.
class SwitchControl : public QCheckBox
{
    Q_OBJECT

public:
    static constexpr int kTrackWidth = 34;
    static constexpr int kTrackHeight = 20;
    static constexpr int kLabelGap = 12;

    explicit SwitchControl(const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    [[nodiscard]] bool hitButton(const QPoint& pos) const override;

private:
    [[nodiscard]] QRect trackRect() const;
};

} // namespace exitwise::ui
