// SPDX-License-Identifier: MIT
#pragma once

// The palettes widget tests render with: Qt's own light palette (what the offscreen platform
// gives) and a dark desktop palette with Breeze Dark's colours, as a dark Plasma session hands
// them to Qt applications.

#include <QApplication>
#include <QPalette>
#include <QStyle>

namespace exitwise::test {

inline QPalette lightPalette()
{
    return QApplication::style()->standardPalette();
}

inline QPalette darkPalette()
{
    const QColor window(0x31, 0x36, 0x3b);
    const QColor base(0x23, 0x26, 0x29);
    const QColor text(0xef, 0xf0, 0xf1);
    const QColor highlight(0x3d, 0xae, 0xe9);
    QPalette palette(window);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::AlternateBase, window);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, window);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Highlight, highlight);
        palette.setColor(group, QPalette::HighlightedText, text);
        palette.setColor(group, QPalette::ToolTipBase, window);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, QColor(0xa1, 0xa9, 0xb1));
        palette.setColor(group, QPalette::Link, QColor(0x1d, 0x99, 0xf3));
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6e, 0x71, 0x75));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6e, 0x71, 0x75));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6e, 0x71, 0x75));
    return palette;
}

// Sets the application palette for a scope and puts the previous one back.
class ScopedPalette
{
public:
    explicit ScopedPalette(const QPalette& palette)
        : m_previous(QApplication::palette())
    {
        QApplication::setPalette(palette);
    }
    ~ScopedPalette() { QApplication::setPalette(m_previous); }
    ScopedPalette(const ScopedPalette&) = delete;
    ScopedPalette& operator=(const ScopedPalette&) = delete;

private:
    QPalette m_previous;
};

} // namespace exitwise::test
