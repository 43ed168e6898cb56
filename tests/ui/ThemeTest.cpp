// SPDX-License-Identifier: MIT
// Whether the texts read: contrast measured on the colours the widgets paint with, in the light
// and the dark palette and across a theme change while running, and layouts with a larger font.

#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/ThemePalettes.h"
#include "support/UiFixtures.h"
#include "ui/AboutDialog.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EndStateMark.h"
#include "ui/EventDetailView.h"
#include "ui/EventRowDelegate.h"
#include "ui/MainWindow.h"
#include "ui/SidebarView.h"
#include "ui/Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
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

// Large text (18 pt, or 14 pt bold) needs 3:1, any other 4.5:1.
double required(const QFont& font)
{
    const double size = font.pointSizeF();
    return size >= 18 || (size >= 14 && font.weight() >= QFont::Bold) ? 3.0 : 4.5;
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
    return {selected, closure("Editor", crash, crashBug, high),
            closure("Viewer", launchBlocked, dyldFailure, low),
            closure("Notes", cleanExit, explicitQuit, high)};
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

// Every shown text of `root` against what is painted under it.
void expectReadableTexts(QWidget& root)
{
    const QImage picture = root.grab().toImage();
    int checked = 0;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(widget);
        const auto* box = qobject_cast<QCheckBox*>(widget);
        const QString text = label != nullptr ? label->text() : box != nullptr ? box->text() : QString();
        if (!widget->isVisible() || !widget->isEnabled() || widget->width() == 0 || text.isEmpty()) {
            continue;
        }
        const QColor background = backgroundUnder(*widget, picture, root);
        const QColor foreground = widget->palette().color(QPalette::Active, widget->foregroundRole());
        EXPECT_GE(contrast(foreground, background), required(widget->font()))
            << '"' << text.toStdString() << "\" " << foreground.name().toStdString() << " on "
            << background.name().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 5) << root.metaObject()->className();
}

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
        EXPECT_EQ(colours.background.alpha(), 255);
        EXPECT_GE(contrast(colours.name, colours.background), 4.5);
        EXPECT_GE(contrast(colours.detail, colours.background), 4.5);
        for (const Confidence confidence : core::allCases<Confidence>()) {
            const QColor text = style::confidenceColour(confidence, option.palette, colours.background);
            const QColor capsule =
                over(style::withAlpha(text, ConfidenceBadgeView::kFillOpacity), colours.background);
            EXPECT_GE(contrast(text, capsule), 4.5) << core::rawValue(confidence);
        }
        for (const EndState end : core::allCases<EndState>()) {
            // A graphic: 3:1 is enough, but the sign is as strong as text.
            const QColor mark = EndStateMark::colour(end, option.palette, colours.background);
            EXPECT_GE(contrast(mark, colours.background), 4.5) << core::rawValue(end);
        }
    }
}

class ThemeTest : public ::testing::Test
{
protected:
    void build()
    {
        app::AppModel& model = fixture.makeModel(everyKindOfEnding());
        MainWindowOptions options;
        options.settings = settings.get();
        options.evidenceNote = QStringLiteral("kernel messages are not readable");
        window = std::make_unique<MainWindow>(model, std::move(options));
        window->resize(1100, 720);
        window->show();
        model.setSelectedEventID(model.events()[0].id);
        window->rootView()->eventDetail()->confidenceDetailsToggle()->click();
        // Before the popover: a window coming up closes an open popover.
        window->showAbout();
        popover = test::popoverWith(model, app::NotificationScope::everyClosure);
        popover->show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    void expectEverythingReadable()
    {
        expectReadableTexts(*window);
        expectReadableTexts(*popover);
        ASSERT_NE(window->aboutDialog(), nullptr);
        expectReadableTexts(*window->aboutDialog());
        for (const QPushButton* button : window->rootView()->eventDetail()->findChildren<QPushButton*>()) {
            const QPalette& palette = button->palette();
            EXPECT_TRUE(!button->isVisible()
                        || contrast(palette.color(QPalette::Active, QPalette::ButtonText),
                                    palette.color(QPalette::Active, QPalette::Button))
                               >= 4.5)
                << button->text().toStdString();
        }
        SidebarView& sidebar = *window->rootView()->sidebar();
        expectReadableRows(*sidebar.listView());
        for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
            QAbstractButton* segment = sidebar.filterButton(filter);
            const style::Fill colours = style::segmentColours(segment->palette(), segment->isChecked());
            EXPECT_GE(contrast(colours.text, colours.background), 4.5) << segment->text().toStdString();
            // What is painted is what was measured.
            const QImage picture = segment->grab().toImage();
            EXPECT_EQ(QColor(picture.pixel(segment->width() / 2, 3)).name(), colours.background.name())
                << segment->text().toStdString();
        }
        ConfidenceBadgeView badge(Confidence::high, window.get());
        for (const Confidence confidence : core::allCases<Confidence>()) {
            badge.setConfidence(confidence);
            const QColor background = badge.palette().color(QPalette::Window);
            EXPECT_GE(contrast(badge.colour(), over(style::withAlpha(badge.colour(), 0.16), background)), 4.5)
                << core::rawValue(confidence);
        }
    }

    test::ModelFixture fixture;
    std::unique_ptr<QSettings> settings = test::settingsIn(fixture);
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PopoverWindow> popover;
};

TEST_F(ThemeTest, TextsReadInTheLightAndDarkPalettesAndAcrossAThemeChange)
{
    const test::ScopedPalette restore(test::lightPalette());
    build();
    QLabel* subtitle = window->rootView()->sidebar()->subtitleLabel();
    const QColor lightSubtitle = subtitle->palette().color(QPalette::WindowText);
    // Switched while running: nothing was built again.
    for (const auto& [name, palette] :
         {std::pair("light", test::lightPalette()), std::pair("dark", test::darkPalette()),
          std::pair("light again", test::lightPalette())}) {
        SCOPED_TRACE(name);
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(subtitle->palette().color(QPalette::WindowText) == lightSubtitle, name[0] == 'l');
        expectEverythingReadable();
    }
}

TEST_F(ThemeTest, DarkPaletteFromTheStart)
{
    const test::ScopedPalette dark(test::darkPalette());
    build();
    expectEverythingReadable();
}

TEST(StyleTest, LegibleShadesReachTheRatioAndKeepColoursThatAlreadyRead)
{
    // clang-format off
    const struct { QColor colour; QColor background; double fill; } cases[] = {
        {QColor(0x34, 0xa8, 0x53), Qt::white,                 0},    // green text on white: darkened
        {QColor(0xe8, 0x86, 0x0c), QColor(0xef, 0xef, 0xef),  0},    // orange caution on grey
        {QColor(0x34, 0xa8, 0x53), QColor(0xef, 0xef, 0xef),  0.16}, // on its own capsule
        {QColor(0x3d, 0xae, 0xe9), QColor(0x31, 0x36, 0x3b),  0},    // accent on a dark button
        {QColor(0x31, 0x36, 0x3b), QColor(0x30, 0x35, 0x3a),  0},    // same as the background: lightened
        {QColor(0x77, 0x77, 0x77), QColor(0x77, 0x77, 0x77),  0},    // mid grey: only black reaches it
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.colour.name().toStdString() + " on " + c.background.name().toStdString());
        const QColor shade = style::legible(c.colour, c.background, 4.5, c.fill);
        const QColor behind = c.fill > 0 ? over(style::withAlpha(shade, c.fill), c.background) : c.background;
        EXPECT_GE(contrast(shade, behind), 4.5);
        EXPECT_NEAR(style::contrastRatio(shade, behind), contrast(shade, behind), 0.01);
    }
    // Already readable: left alone.
    EXPECT_EQ(style::legible(Qt::black, Qt::white), QColor(Qt::black));
    EXPECT_EQ(style::legible(QColor(0x1e, 0x6b, 0x33), Qt::white), QColor(0x1e, 0x6b, 0x33));
}

TEST(StyleTest, TextToneFollowsTheParentsPaletteAndSettles)
{
    QWidget parent;
    parent.setPalette(test::lightPalette());
    QLabel* label = style::makeLabel(QStringLiteral("Caption"), style::TextStyle::caption, true, &parent);
    const QColor light = label->palette().color(QPalette::WindowText);
    EXPECT_GE(contrast(light, parent.palette().color(QPalette::Window)), 4.5);

    parent.setPalette(test::darkPalette());
    const QColor dark = label->palette().color(QPalette::WindowText);
    EXPECT_NE(dark, light);
    EXPECT_GE(contrast(dark, test::darkPalette().color(QPalette::Window)), 4.5);

    // A tone set again replaces the first one rather than fighting it.
    style::setTextTone(label, style::Tone::caution);
    const QColor caution = label->palette().color(QPalette::WindowText);
    EXPECT_NE(caution, dark);
    parent.setPalette(test::lightPalette());
    parent.setPalette(test::darkPalette());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), caution);
}

// With the application font 25 % larger, every text of the window still gets the room it asks for.
TEST(LargerFontTest, NothingIsClippedAtOneAndAQuarterTimesTheFont)
{
    const QFont original = QApplication::font();
    QFont larger = original;
    larger.setPointSizeF(original.pointSizeF() * 1.25);
    QApplication::setFont(larger);
    test::ModelFixture fixture;
    const std::unique_ptr<QSettings> settings = test::settingsIn(fixture);
    MainWindowOptions options;
    options.settings = settings.get();
    {
        MainWindow window(fixture.makeModel(everyKindOfEnding()), std::move(options));
        window.resize(window.minimumSize());
        window.show();
        window.rootView()->splitter()->setSizes({0, 10000}); // the list at its narrowest
        QCoreApplication::processEvents();

        SidebarView& sidebar = *window.rootView()->sidebar();
        for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
            const QAbstractButton* segment = sidebar.filterButton(filter);
            EXPECT_GE(segment->width(), segment->fontMetrics().horizontalAdvance(segment->text()) + 8)
                << segment->text().toStdString();
            EXPECT_GE(segment->height(), segment->fontMetrics().height()) << segment->text().toStdString();
        }
        for (QToolButton* button : window.findChild<QToolBar*>()->findChildren<QToolButton*>()) {
            EXPECT_TRUE(!button->isVisible() || button->width() >= button->sizeHint().width())
                << button->text().toStdString();
        }
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            if (label->isVisible() && !label->wordWrap() && !label->text().isEmpty()
                && label->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
                EXPECT_GE(label->height(), label->fontMetrics().height()) << label->text().toStdString();
            }
        }
        QListView* list = sidebar.listView();
        QStyleOptionViewItem option;
        option.initFrom(list);
        EXPECT_GE(list->itemDelegate()->sizeHint(option, list->model()->index(0, 0)).height(),
                  QFontMetrics(style::font(style::TextStyle::body)).height()
                      + QFontMetrics(style::font(style::TextStyle::caption)).height());
        EXPECT_GE(ConfidenceBadgeView::sizeFor(Confidence::medium).width(),
                  QFontMetrics(style::font(style::TextStyle::caption2, true)).horizontalAdvance("Medium"));
    }
    QApplication::setFont(original);
}

} // namespace
} // namespace exitwise::ui
