// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <QWidget>

class QPainter;

namespace exitwise::ui {

// The coloured capsule naming a diagnosis's confidence: "High" in green, "Medium" in orange,
// "Low" in the secondary colour, on a capsule of the same colour at 16 % opacity. The shade is
// the one that reads on the background it is drawn on.
class ConfidenceBadgeView : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kFillOpacity = 0.16;
    static constexpr int kHorizontalInset = 8;
    static constexpr int kVerticalInset = 4;

    explicit ConfidenceBadgeView(core::Confidence confidence, QWidget* parent = nullptr);

    [[nodiscard]] core::Confidence confidence() const { return m_confidence; }
    void setConfidence(core::Confidence confidence);

    [[nodiscard]] QString text() const;
    // The text colour on the window background.
    [[nodiscard]] QColor colour() const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

    // The same drawing for item delegates, which paint rows without child widgets. `rect` is the
    // badge's own rectangle (sizeFor gives its size); `context` supplies the palette and
    // `background` is what the badge is drawn on (the context's window colour when invalid).
    static void paint(QPainter& painter,
                      const QRect& rect,
                      core::Confidence confidence,
                      const QWidget* context = nullptr,
                      const QColor& background = QColor());
    [[nodiscard]] static QSize sizeFor(core::Confidence confidence);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    core::Confidence m_confidence;
};

} // namespace exitwise::ui
