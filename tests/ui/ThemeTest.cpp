// SPDX-License-Identifier: MIT
// Whether the texts read: contrast measured on the colours the widgets paint with, in the light
// and the dark palette and across theme changes while running; and whether they fit with a
// larger font.

#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/ThemePalettes.h"
#include "support/UiFixtures.h"
#include "ui/AboutDialog.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EndStateMark.h"
#include "ui/EventDetailView.h"
#include "ui/EventRowDelegate.h"
#include "ui/IdleDetailView.h"
#include "ui/MainWindow.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/SidebarView.h"
#include "ui/Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>

#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace exitwise::ui {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

// WCAG 2.x, written out here rather than taken from the code under test.
double luminance(const QColor& colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor c = colour.toRgb();
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor over(const QColor& top, const QColor& bottom)
{
    const auto mix = [a = top.alphaF()](float t, float b) { return t * a + b * (1 - a); };
    return QColor::fromRgbF(mix(top.redF(), bottom.redF()), mix(top.greenF(), bottom.greenF()),
                            mix(top.blueF(), bottom.blueF()));
}

std::vector<app::AppEvent> everyKindOfEnding()
{
    using enum EndState;
    using enum DominantCause;
    using enum Confidence;
    const auto closure = [](const std::string& name, EndState state, DominantCause cause,
                            Confidence confidence) {
        return test::eventWithVerdict(name, test::sampleTime(), state, cause, confidence);
    };
    app::AppEvent selected = closure("Firefox", killed, killedJetsamMemory, medium);
    selected.feedback = app::FeedbackRating::helpful;
    selected.diagnosisChanged = true;
    selected.previousDominantCause = DominantCause::unknown;
    // clang-format off
    return {
        selected,
        closure("Visual Studio Code", killed, killedWatchdogHang, medium),
        closure("Thunderbird Mail with a very long window name indeed", crash, dependencyHelperFailure, low),
        closure("LibreOffice Writer", cleanExit, explicitQuit, high),
        closure("Inkscape", launchBlocked, dyldFailure, medium),
        closure("GIMP", crash, crashBug, high),
    };
    // clang-format on
}

// The colour most of the pixels along the widget's top edge have: what its text is drawn on.
QColor backgroundUnder(const QWidget& widget, const QImage& picture, const QWidget& pictured)
{
    const QPoint origin = widget.mapTo(&pictured, QPoint(0, 0));
    std::map<QRgb, int> counts;
    for (int x = 0; x < widget.width(); ++x) {
        if (picture.rect().contains(origin + QPoint(x, 0))) {
            ++counts[picture.pixel(origin + QPoint(x, 0)) | 0xff000000u];
        }
    }
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? QColor() : QColor::fromRgb(most->first);
}

// The one measure for everything drawn, text or sign: 4.5:1 against what is under it.
void expectReads(const QColor& text, const QColor& under, std::string_view what)
{
    EXPECT_GE(contrast(text, under), 4.5)
        << what << ": " << text.name().toStdString() << " on " << under.name().toStdString();
}

// Every shown text of `root` against what is painted under it; a push button's on its own face.
void expectReadableTexts(QWidget& root)
{
    const QImage picture = root.grab().toImage();
    int checked = 0;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(widget);
        const QAbstractButton* box = qobject_cast<QCheckBox*>(widget);
        box = box != nullptr ? box : qobject_cast<QPushButton*>(widget);
        box = box != nullptr ? box : qobject_cast<QToolButton*>(widget);
        const auto* badge = qobject_cast<ConfidenceBadgeView*>(widget);
        const QString text = label != nullptr   ? label->text()
                             : box != nullptr   ? box->text()
                             : badge != nullptr ? badge->text()
                                                : QString();
        if (!widget->isVisible() || !widget->isEnabled() || widget->width() == 0 || text.isEmpty()) {
            continue;
        }
        const QColor under = qobject_cast<QPushButton*>(widget) != nullptr
                                 ? widget->palette().color(QPalette::Active, QPalette::Button)
                                 : backgroundUnder(*widget, picture, root);
        const QColor foreground = badge != nullptr
                                      ? badge->colour()
                                      : widget->palette().color(QPalette::Active, widget->foregroundRole());
        expectReads(foreground, under, text.toStdString());
        ++checked;
    }
    EXPECT_GT(checked, 5) << root.metaObject()->className();
}

// What the event list paints itself: names, details, badges and end-state marks on each kind of row.
void expectReadableRows(const QListView& list)
{
    QStyleOptionViewItem option;
    option.initFrom(&list);
    option.widget = &list;
    const QStyle::State active = QStyle::State_Enabled | QStyle::State_Active;
    // clang-format off
    const std::pair<const char*, QStyle::State> states[] = {
        {"plain",                      active},
        {"hovered",                    active | QStyle::State_MouseOver},
        {"selected",                   active | QStyle::State_Selected},
        {"selected in the background", QStyle::State_Enabled | QStyle::State_Selected},
    };
    // clang-format on
    for (const auto& [name, state] : states) {
        SCOPED_TRACE(name);
        option.state = state;
        const EventRowDelegate::Colours colours = EventRowDelegate::colours(option);
        ASSERT_EQ(colours.background.alpha(), 255);
        expectReads(colours.name, colours.background, "name");
        expectReads(colours.detail, colours.background, "detail");
        for (const Confidence confidence : core::allCases<Confidence>()) {
            const QColor text = style::confidenceColour(confidence, option.palette, colours.background);
            const QColor capsule =
                over(style::withAlpha(text, ConfidenceBadgeView::kFillOpacity), colours.background);
            expectReads(text, capsule, core::rawValue(confidence));
        }
        for (const EndState end : core::allCases<EndState>()) {
            // A graphic: 3:1 is enough, but the sign is as strong as text.
            expectReads(EndStateMark::colour(end, option.palette, colours.background), colours.background,
                        core::rawValue(end));
        }
    }
}

class ThemeTest : public ::testing::Test
{
protected:
    // The window with the newest closure's detail, "Why this confidence" open, and the about dialog;
    // and the popover.
    void build()
    {
        app::AppModel& model = fixture.makeModel(everyKindOfEnding());
        MainWindowOptions options;
        options.settings = settings.get();
        options.evidenceNote = QStringLiteral("kernel messages are not readable");
        window = std::make_unique<MainWindow>(model, std::move(options));
        window->resize(1100, 720);
        window->show();
        window->rootView()->eventDetail()->confidenceDetailsToggle()->click();
        // Before the popover: a window coming up closes an open popover.
        window->showAbout();
        // Its longest choice of what to notify about.
        popover = test::popoverWith(model, app::NotificationScope::unexpectedOnly);
        popover->show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    test::ModelFixture fixture;
    std::unique_ptr<QSettings> settings = test::settingsIn(fixture);
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PopoverWindow> popover;
};

// Built dark, then switched while running: nothing is built again.
TEST_F(ThemeTest, TextsReadInEveryPaletteAndAcrossThemeChanges)
{
    const test::ScopedPalette restore(test::darkPalette());
    build();
    QLabel* subtitle = window->rootView()->sidebar()->subtitleLabel();
    const QColor darkSubtitle = subtitle->palette().color(QPalette::WindowText);
    for (const auto& [name, palette] :
         {std::pair("dark", test::darkPalette()), std::pair("light", test::lightPalette()),
          std::pair("dark again", test::darkPalette())}) {
        SCOPED_TRACE(name);
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(subtitle->palette().color(QPalette::WindowText) == darkSubtitle, name[0] == 'd');
        for (QWidget* root :
             std::initializer_list<QWidget*>{window.get(), window->aboutDialog(), popover.get()}) {
            expectReadableTexts(*root);
        }
        SidebarView& sidebar = *window->rootView()->sidebar();
        expectReadableRows(*sidebar.listView());
        for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
            // A segment's text on what is painted under it.
            QAbstractButton* segment = sidebar.filterButton(filter);
            const QColor under = segment->grab().toImage().pixelColor(segment->width() / 2, 3);
            expectReads(style::segmentColours(segment->palette(), segment->isChecked()).text, under,
                        segment->text().toStdString());
        }
    }
}

// The palettes' own colours are measured above; here the backgrounds no palette of ours has.
TEST(StyleTest, LegibleShadesReachTheRatioAndKeepColoursThatAlreadyRead)
{
    // clang-format off
    const std::pair<QColor, QColor> cases[] = {
        {QColor(0x31, 0x36, 0x3b), QColor(0x30, 0x35, 0x3a)},  // same as the background: lightened
        {QColor(0x77, 0x77, 0x77), QColor(0x77, 0x77, 0x77)},  // mid grey: only black reaches it
    };
    // clang-format on
    for (const auto& [colour, background] : cases) {
        EXPECT_GE(contrast(style::legible(colour, background), background), 4.5)
            << colour.name().toStdString();
    }
    // Already readable: left alone.
    EXPECT_EQ(style::legible(Qt::black, Qt::white), QColor(Qt::black));
    EXPECT_EQ(style::legible(QColor(0x1e, 0x6b, 0x33), Qt::white), QColor(0x1e, 0x6b, 0x33));
}

// A tone set again replaces the first one rather than fighting it when the palette changes
// (that every tone follows a theme change is measured above).
TEST(StyleTest, ATextToneSetAgainWinsAcrossAPaletteChange)
{
    QWidget parent;
    parent.setPalette(test::lightPalette());
    QLabel* label = style::makeLabel(QStringLiteral("Caption"), style::TextStyle::caption, true, &parent);
    style::setTextTone(label, style::Tone::caution);
    parent.setPalette(test::darkPalette());
    EXPECT_EQ(label->palette().color(QPalette::WindowText),
              style::tone(style::Tone::caution, parent.palette()));
}

// With the application font a quarter larger, every child of every view lies inside its parent
// and every text gets the room it asks for: nothing is cut off. The window at its smallest, the
// list at its narrowest.
TEST_F(ThemeTest, NothingIsClippedWithALargerFont)
{
    const QFont original = QApplication::font();
    QFont larger = original;
    larger.setPointSizeF(original.pointSizeF() * 1.25);
    QApplication::setFont(larger);
    build();
    window->resize(window->minimumSize());
    window->rootView()->splitter()->setSizes({0, 10000});
    test::ModelFixture none;
    const std::unique_ptr<PopoverWindow> empty =
        test::popoverWith(none.makeModel(), app::NotificationScope::unexpectedOnly);
    OnboardingChecklistView onboarding;
    IdleDetailView idle;
    idle.resize(620, 360);
    for (QWidget* root : std::initializer_list<QWidget*>{window.get(), window->aboutDialog(), popover.get(),
                                                         empty.get(), &onboarding, &idle}) {
        SCOPED_TRACE(root->metaObject()->className());
        root->show();
        QCoreApplication::processEvents();
        for (const QWidget* child : root->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(child);
            const auto* button = qobject_cast<const QAbstractButton*>(child);
            const auto* choice = qobject_cast<const QComboBox*>(child);
            const QString text = label != nullptr    ? label->text()
                                 : button != nullptr ? button->text()
                                 : choice != nullptr ? choice->currentText()
                                                     : QString();
            const std::string what = child->metaObject()->className() + (" \"" + text.toStdString() + '"');
            // Windows lie elsewhere and a scroll area's content may be larger than its view.
            if (!child->isVisible() || child->isWindow()
                || qobject_cast<const QAbstractScrollArea*>(child->parentWidget()->parentWidget())
                       != nullptr) {
                continue;
            }
            EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry())) << what;
            if (!text.isEmpty()) {
                EXPECT_GE(child->width(), child->minimumSizeHint().width()) << what;
                EXPECT_GE(child->height(), label != nullptr && label->wordWrap()
                                               ? label->heightForWidth(label->width())
                                               : child->minimumSizeHint().height())
                    << what;
            }
        }
    }
    // What the list paints itself: a row holds its two lines, a badge its word.
    QListView* list = window->rootView()->sidebar()->listView();
    QStyleOptionViewItem option;
    option.initFrom(list);
    EXPECT_GE(list->itemDelegate()->sizeHint(option, list->model()->index(0, 0)).height(),
              QFontMetrics(style::font(style::TextStyle::body)).height()
                  + QFontMetrics(style::font(style::TextStyle::caption)).height());
    EXPECT_GE(ConfidenceBadgeView::sizeFor(Confidence::medium).width(),
              QFontMetrics(style::font(style::TextStyle::caption2, true)).horizontalAdvance("Medium"));
    QApplication::setFont(original);
}

} // namespace
} // namespace exitwise::ui
