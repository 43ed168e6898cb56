// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Diagnosis.h"

#include <QColor>
#include <QString>

class QLocale;
class QPainter;
class QPalette;
class QRectF;

namespace exitwise::ui {

// The small sign before a closure's cause that says how it ended, so a crash never reads as
// good news beside a confident badge: a red circle with a cross (crash), an orange warning
// triangle (killed), a red no-entry sign (launch blocked), a quiet check mark (clean exit).
// Shape and colour both differ, so the sign does not depend on telling colours apart.
class EndStateMark
{
public:
    // "Crash", "Killed", "Launch blocked" or "Clean exit".
    [[nodiscard]] static QString text(core::EndState state);
    // The sign's colour on `background`: legible at the text contrast.
    [[nodiscard]] static QColor
    colour(core::EndState state, const QPalette& palette, const QColor& background);
    // Draws the sign filling `rect` (a square reads best).
    static void paint(QPainter& painter,
                      const QRectF& rect,
                      core::EndState state,
                      const QPalette& palette,
                      const QColor& background);
};

// When a closure happened, short enough for a list row: the time of day for today, the
// weekday and time for the six days before, else the date.
[[nodiscard]] QString closureTimeText(core::Date when, core::Date now, const QLocale& locale);

} // namespace exitwise::ui
