// SPDX-License-Identifier: MIT
#include "ui/Style.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>

namespace exitwise::ui::style {

namespace {

// How far the views tint a background toward its text (sidebar column, hovered rows); the
// secondary tone still reads on a background tinted that much.
constexpr double kBackgroundTint = 0.08;

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

QColor mix(const QColor& a, const QColor& b, double amountOfB)
{
    const auto blend = [amountOfB](int x, int y) {
        return static_cast<int>(std::lround(x + (y - x) * amountOfB));
    };
    return QColor(blend(a.red(), b.red()), blend(a.green(), b.green()), blend(a.blue(), b.blue()));
}

QPalette basePalette(const QWidget* widget)
{
    if (widget == nullptr) {
        return QApplication::palette();
    }
    return widget->parentWidget() != nullptr ? widget->parentWidget()->palette()
                                             : QApplication::palette(widget);
}

// Runs `apply` now and after every change of the widget's palette or style; what it sets on
// the widget's palette must settle (a second run changes nothing), or it would run forever.
class PaletteFollower : public QObject
{
public:
    PaletteFollower(QWidget* widget, const char* name, std::function<void()> apply)
        : QObject(widget)
        , m_apply(std::move(apply))
    {
        setObjectName(QLatin1String(name));
        widget->installEventFilter(this);
        run();
    }

    void replace(std::function<void()> apply)
    {
        m_apply = std::move(apply);
        run();
    }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::ParentChange:
            run();
            break;
        case QEvent::ApplicationPaletteChange:
            // Delivered before the widget takes the new palette; the PaletteChange that usually
            // follows runs it too, this is for widgets whose own palette did not change.
            QTimer::singleShot(0, this, [this] { run(); });
            break;
        default:
            break;
        }
        return false;
    }

private:
    void run()
    {
        if (m_running) {
            return;
        }
        m_running = true;
        m_apply();
        m_running = false;
    }

    std::function<void()> m_apply;
    bool m_running = false;
};

void setRole(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    bool changed = false;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        if (palette.color(group, role) != colour) {
            palette.setColor(group, role, colour);
            changed = true;
        }
    }
    if (changed) {
        widget->setPalette(palette);
    }
}

QPalette::ColorRole textRoleOn(QPalette::ColorRole background)
{
    switch (background) {
    case QPalette::Base:
    case QPalette::AlternateBase:
        return QPalette::Text;
    case QPalette::Button:
        return QPalette::ButtonText;
    case QPalette::Highlight:
        return QPalette::HighlightedText;
    default:
        return QPalette::WindowText;
    }
}

} // namespace

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

double relativeLuminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor composite(const QColor& over, const QColor& under)
{
    return mix(under.toRgb(), QColor(over.red(), over.green(), over.blue()), over.alphaF());
}

QColor legible(const QColor& colour, const QColor& background, double ratio, double fillOpacity)
{
    const QColor start(colour.red(), colour.green(), colour.blue());
    const auto behind = [&](const QColor& text) {
        return fillOpacity > 0 ? composite(withAlpha(text, fillOpacity), background) : background.toRgb();
    };
    // Toward black on a light background, toward white on a dark one: whichever can go further.
    const double luminance = relativeLuminance(background);
    const QColor extreme =
        (luminance + 0.05) / 0.05 >= 1.05 / (luminance + 0.05) ? QColor(Qt::black) : QColor(Qt::white);
    QColor candidate = start;
    for (int step = 1; step <= 25 && contrastRatio(candidate, behind(candidate)) < ratio; ++step) {
        candidate = mix(start, extreme, step / 25.0);
    }
    return candidate;
}

QColor tone(Tone which, const QPalette& palette, QPalette::ColorRole backgroundRole)
{
    const QColor background = palette.color(QPalette::Active, backgroundRole);
    const QColor text = palette.color(QPalette::Active, textRoleOn(backgroundRole));
    switch (which) {
    case Tone::primary:
        return legible(text, background);
    case Tone::secondary:
        // Half-way between text and background reads as "secondary", made dark (or light)
        // enough to stay readable on a slightly tinted background.
        return legible(mix(text, background, 0.45), composite(withAlpha(text, kBackgroundTint), background));
    case Tone::positive:
        return legible(green(), background);
    case Tone::caution:
        return legible(orange(), background);
    case Tone::negative:
        return legible(red(), background);
    case Tone::accent:
        return legible(palette.color(QPalette::Active, QPalette::Highlight), background);
    }
    return text;
}

Fill segmentColours(const QPalette& palette, bool selected)
{
    if (selected) {
        const QColor text = palette.color(QPalette::Active, QPalette::HighlightedText);
        return {legible(palette.color(QPalette::Active, QPalette::Highlight), text), text};
    }
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    return {base, legible(palette.color(QPalette::Active, QPalette::ButtonText), base)};
}

QColor sidebarBackground(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).darker(103);
}

QColor primary(const QWidget* widget)
{
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    return palette.color(QPalette::WindowText);
}

QColor secondary(const QWidget* widget)
{
    return tone(Tone::secondary, widget != nullptr ? widget->palette() : QApplication::palette());
}

QColor withAlpha(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

QColor confidenceColour(core::Confidence confidence, const QPalette& palette, const QColor& background)
{
    // Matches ConfidenceBadgeView::kFillOpacity.
    constexpr double fill = 0.16;
    switch (confidence) {
    case core::Confidence::high:
        return legible(green(), background, kTextContrast, fill);
    case core::Confidence::medium:
        return legible(orange(), background, kTextContrast, fill);
    case core::Confidence::low:
        break;
    }
    QPalette on = palette;
    on.setColor(QPalette::Active, QPalette::Window, background);
    return legible(tone(Tone::secondary, on), background, kTextContrast, fill);
}

QColor confidenceColour(core::Confidence confidence, const QWidget* widget)
{
    const QPalette palette = widget != nullptr ? widget->palette() : QApplication::palette();
    return confidenceColour(confidence, palette, palette.color(QPalette::Active, QPalette::Window));
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

void setTextTone(QWidget* widget, Tone which, QPalette::ColorRole role, QPalette::ColorRole background)
{
    const QPointer<QWidget> target(widget);
    auto apply = [target, which, role, background] {
        if (!target) {
            return;
        }
        // The background may be the widget's own (a filled button); the text starts from what
        // the widget would show without its own colour.
        QPalette palette = basePalette(target);
        palette.setColor(QPalette::Active, background, target->palette().color(QPalette::Active, background));
        setRole(target, role, tone(which, palette, background));
    };
    constexpr const char* kName = "exitwise-text-tone";
    if (auto* follower =
            widget->findChild<PaletteFollower*>(QLatin1String(kName), Qt::FindDirectChildrenOnly)) {
        follower->replace(std::move(apply));
    } else {
        new PaletteFollower(widget, kName, std::move(apply));
    }
}

void setAccentFill(QWidget* button)
{
    const QPointer<QWidget> target(button);
    new PaletteFollower(button, "exitwise-accent-fill", [target] {
        if (!target) {
            return;
        }
        const Fill fill = segmentColours(basePalette(target), true);
        setRole(target, QPalette::Button, fill.background);
        setRole(target, QPalette::ButtonText, fill.text);
    });
}

QLabel* makeLabel(const QString& text, TextStyle style, bool isSecondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font(style));
    label->setTextFormat(Qt::PlainText);
    if (isSecondary) {
        setTextTone(label, Tone::secondary);
    }
    return label;
}

} // namespace exitwise::ui::style
