// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <array>

class QCheckBox;
class QPushButton;

namespace exitwise::ui {

// The first-run checklist. It only draws and reports its two buttons: "Skip for now" emits
// skipped(), "Complete setup" (enabled once all four boxes are ticked) emits completed().
class OnboardingChecklistView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWidth = 620;

    explicit OnboardingChecklistView(QWidget* parent = nullptr);

    [[nodiscard]] const std::array<QCheckBox*, 4>& checkBoxes() const { return m_boxes; }
    [[nodiscard]] QPushButton* skipButton() const { return m_skip; }
    [[nodiscard]] QPushButton* completeButton() const { return m_complete; }

signals:
    void skipped();
    void completed();

private:
    void updateCompleteButton();

    std::array<QCheckBox*, 4> m_boxes{};
    QPushButton* m_skip = nullptr;
    QPushButton* m_complete = nullptr;
};

} // namespace exitwise::ui
