// SPDX-License-Identifier: MIT
#include "ui/Style.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace exitwise::ui::style {

QColor green()
{
    return QColor(0x34, 0xa8, 0x53);
}

QColor orange()
{
    return QColor(0xe8, 0x86, 0x0c);
}

QColor red()
{
    return QColor(0xe0, 0x3a, 0x3a);
}

QColor primary(const QWidget* widget)
{
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    return palette.color(QPalette::WindowText);
}

QColor secondary(const QWidget* widget)
{
    // Half-way between text and background reads as "secondary" on light and dark themes.
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor((text.red() * 55 + window.red() * 45) / 100, (text.green() * 55 + window.green() * 45) / 100,
                  (text.blue() * 55 + window.blue() * 45) / 100);
}

QColor withAlpha(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

QColor confidenceColour(core::Confidence confidence, const QWidget* widget)
{
    switch (confidence) {
    case core::Confidence::high:
        return green();
    case core::Confidence::medium:
        return orange();
    case core::Confidence::low:
        break;
    }
    return secondary(widget);
}

QFont font(TextStyle style, bool semibold)
{
    QFont result = QApplication::font();
    const double base = result.pointSizeF() > 0 ? result.pointSizeF() : 10.0;
    double scale = 1.0;
    switch (style) {
    case TextStyle::title2:
        scale = 1.55;
        break;
    case TextStyle::headline:
        scale = 1.0;
        semibold = true;
        break;
    case TextStyle::subheadline:
        scale = 0.92;
        break;
    case TextStyle::body:
        break;
    case TextStyle::caption:
        scale = 0.85;
        break;
    case TextStyle::caption2:
        scale = 0.78;
        break;
    }
    result.setPointSizeF(base * scale);
    if (semibold) {
        result.setWeight(QFont::DemiBold);
    }
    return result;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QLabel* makeLabel(const QString& text, TextStyle style, bool isSecondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font(style));
    label->setTextFormat(Qt::PlainText);
    if (isSecondary) {
        setTextColour(label, secondary(parent));
    }
    return label;
}

} // namespace exitwise::ui::style
