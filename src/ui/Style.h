// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <QColor>
#include <QFont>

class QLabel;
class QWidget;

// The few colours and type sizes every view shares, so a badge in the popover and one in the
// detail header look the same. Sizes are relative to the application font.
namespace exitwise::ui::style {

[[nodiscard]] QColor green();
[[nodiscard]] QColor orange();
[[nodiscard]] QColor red();
// Text that supports rather than leads (captions, state texts); follows the palette.
[[nodiscard]] QColor secondary(const QWidget* widget = nullptr);
[[nodiscard]] QColor primary(const QWidget* widget = nullptr);
[[nodiscard]] QColor withAlpha(QColor colour, double opacity);

[[nodiscard]] QColor confidenceColour(core::Confidence confidence, const QWidget* widget = nullptr);

enum class TextStyle
{
    title2,
    headline,
    subheadline,
    body,
    caption,
    caption2
};

[[nodiscard]] QFont font(TextStyle style, bool semibold = false);

// A label in the given type; `secondary` draws it in the secondary colour.
[[nodiscard]] QLabel* makeLabel(const QString& text, TextStyle style, bool secondary = false,
                                QWidget* parent = nullptr);
void setTextColour(QLabel* label, const QColor& colour);

} // namespace exitwise::ui::style
