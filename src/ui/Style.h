// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <QColor>
#include <QFont>
#include <QPalette>

class QLabel;
class QWidget;

// The few colours and type sizes every view shares, so a badge in the popover and one in the
// detail header look the same. Sizes are relative to the application font. Colours are worked
// out from the palette when they are used, never kept: a theme may change while Exitwise runs.
namespace exitwise::ui::style {

// Least contrast for text (WCAG 2 level AA); large text is 18 pt, or 14 pt bold, and up.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kLargeTextContrast = 3.0;

// The hues of good, caution and bad news. As they are they may not read as text on the
// current background; text uses tone() or legible().
[[nodiscard]] QColor green();
[[nodiscard]] QColor orange();
[[nodiscard]] QColor red();

// What a text colour means; each reads on the palette's background at kTextContrast.
enum class Tone
{
    primary,
    // Text that supports rather than leads (captions, state texts).
    secondary,
    positive,
    caution,
    negative,
    // The palette's highlight colour as text (a link-like button).
    accent,
};

// WCAG 2 relative luminance and contrast ratio (1 to 21) of opaque colours.
[[nodiscard]] double relativeLuminance(const QColor& colour);
[[nodiscard]] double contrastRatio(const QColor& a, const QColor& b);
// `over` painted on the opaque `under`.
[[nodiscard]] QColor composite(const QColor& over, const QColor& under);
// `colour` made darker or lighter, whichever the background allows, until text in it reaches
// `ratio` against `background`. With `fillOpacity` the text sits on a fill of its own colour
// at that opacity over the background (a badge's capsule), which moves along with it.
[[nodiscard]] QColor
legible(const QColor& colour, const QColor& background, double ratio = kTextContrast, double fillOpacity = 0);

[[nodiscard]] QColor
tone(Tone tone, const QPalette& palette, QPalette::ColorRole background = QPalette::Window);

struct Fill
{
    QColor background;
    QColor text;
};
// A segment of a segmented control; selected it is filled with the accent colour, shaded so
// that its text reads.
[[nodiscard]] Fill segmentColours(const QPalette& palette, bool selected);

// The event list's column: the window colour a few percent darker, to set it apart.
[[nodiscard]] QColor sidebarBackground(const QPalette& palette);

[[nodiscard]] QColor secondary(const QWidget* widget = nullptr);
[[nodiscard]] QColor primary(const QWidget* widget = nullptr);
[[nodiscard]] QColor withAlpha(QColor colour, double opacity);

// The badge's text colour on `background`, legible on its own 16 % capsule; `palette` gives
// the secondary colour of "Low".
[[nodiscard]] QColor
confidenceColour(core::Confidence confidence, const QPalette& palette, const QColor& background);
// On the widget's window background (the application palette without a widget).
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

// Fills a button with the accent colour (segmentColours(…, true)), following the palette.
void setAccentFill(QWidget* button);

// A label in the given type; `secondary` draws it in the secondary tone.
[[nodiscard]] QLabel*
makeLabel(const QString& text, TextStyle style, bool secondary = false, QWidget* parent = nullptr);
// Keeps `role` of the widget's palette (its text) in `tone`, worked out from the palette it
// would have without it against `background`, now and whenever the palette or style changes.
void setTextTone(QWidget* widget,
                 Tone tone,
                 QPalette::ColorRole role = QPalette::WindowText,
                 QPalette::ColorRole background = QPalette::Window);

} // namespace exitwise::ui::style
