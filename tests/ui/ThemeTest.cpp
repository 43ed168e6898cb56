// SPDX-License-Identifier: MIT
// Whether the texts read: contrast measured on the colours the widgets paint with, in the light
// and the dark palette and across a theme change while running, and layouts with a larger font.

#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/ThemePalettes.h"
#include "ui/AboutDialog.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EndStateMark.h"
#include "ui/EventDetailView.h"
#include "ui/EventRowDelegate.h"
#include "ui/MainWindow.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/PopoverWindow.h"
#include "ui/RootView.h"
#include "ui/SidebarView.h"
#include "ui/Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSettings>
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
double linear(double channel)
{
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour)
{
    const QColor c = colour.toRgb();
    return 0.2126 * linear(c.red() / 255.0) + 0.7152 * linear(c.green() / 255.0)
           + 0.0722 * linear(c.blue() / 255.0);
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor over(const QColor& top, const QColor& bottom)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(static_cast<float>(top.redF() * a + bottom.redF() * (1 - a)),
                            static_cast<float>(top.greenF() * a + bottom.greenF() * (1 - a)),
                            static_cast<float>(top.blueF() * a + bottom.blueF() * (1 - a)));
}

bool isLarge(const QFont& font)
{
    return font.pointSizeF() >= 18 || (font.pointSizeF() >= 14 && font.weight() >= QFont::Bold);
}

double required(const QFont& font)
{
    return isLarge(font) ? 3.0 : 4.5;
}

app::AppEvent closure(const std::string& name, EndState state, DominantCause cause, Confidence confidence)
{
    return test::eventWithVerdict(name, test::sampleTime(), state, cause, confidence);
}

std::vector<app::AppEvent> everyKindOfEnding()
{
    app::AppEvent selected =
        closure("Firefox", EndState::killed, DominantCause::killedJetsamMemory, Confidence::medium);
    selected.feedback = app::FeedbackRating::helpful;
    selected.diagnosisChanged = true;
    selected.previousDominantCause = DominantCause::unknown;
    return {
        selected,
        closure("Editor", EndState::crash, DominantCause::crashBug, Confidence::high),
        closure("Viewer", EndState::launchBlocked, DominantCause::dyldFailure, Confidence::low),
        closure("Notes", EndState::cleanExit, DominantCause::explicitQuit, Confidence::high),
    };
}

// The colour most of the pixels along the widget's top edge have: what its text is drawn on.
QColor backgroundUnder(const QWidget& widget, const QImage& picture, const QWidget& pictured)
{
    const QPoint origin = widget.mapTo(&pictured, QPoint(0, 0));
    std::map<QRgb, int> counts;
    for (int x = 0; x < widget.width(); ++x) {
        const QPoint at = origin + QPoint(x, 0);
        if (picture.rect().contains(at)) {
            ++counts[picture.pixel(at) | 0xff000000u];
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
        if (!widget->isVisible() || !widget->isEnabled() || widget->width() == 0) {
            continue;
        }
        QString text;
        if (const auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (const auto* box = qobject_cast<QCheckBox*>(widget)) {
            text = box->text();
        }
        if (text.isEmpty()) {
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

void expectReadableButtons(const QList<QPushButton*>& buttons)
{
    for (const QPushButton* button : buttons) {
        if (!button->isVisible()) {
            continue;
        }
        const QPalette& palette = button->palette();
        EXPECT_GE(contrast(palette.color(QPalette::Active, QPalette::ButtonText),
                           palette.color(QPalette::Active, QPalette::Button)),
                  4.5)
            << button->text().toStdString();
    }
}

void expectReadableRows(const QListView& list)
{
    QStyleOptionViewItem option;
    option.initFrom(&list);
    option.widget = &list;
    const struct
    {
        const char* name;
        QStyle::State state;
    } states[] = {
        {"plain", QStyle::State_Enabled | QStyle::State_Active},
        {"hovered", QStyle::State_Enabled | QStyle::State_Active | QStyle::State_MouseOver},
        {"selected", QStyle::State_Enabled | QStyle::State_Active | QStyle::State_Selected},
        {"selected in the background", QStyle::State_Enabled | QStyle::State_Selected},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.name);
        option.state = s.state;
        const EventRowDelegate::Colours colours = EventRowDelegate::colours(option);
        EXPECT_EQ(colours.background.alpha(), 255);
        EXPECT_GE(contrast(colours.name, colours.background), 4.5);
        EXPECT_GE(contrast(colours.detail, colours.background), 4.5);
        for (const Confidence confidence : {Confidence::high, Confidence::medium, Confidence::low}) {
            const QColor text = style::confidenceColour(confidence, option.palette, colours.background);
            const QColor capsule =
                over(style::withAlpha(text, ConfidenceBadgeView::kFillOpacity), colours.background);
            EXPECT_GE(contrast(text, capsule), 4.5) << core::rawValue(confidence);
        }
        for (const EndState state : core::allCases<EndState>()) {
            // A graphic: 3:1 is enough, but the sign is as strong as text.
            EXPECT_GE(
                contrast(EndStateMark::colour(state, option.palette, colours.background), colours.background),
                4.5)
                << core::rawValue(state);
        }
    }
}

void expectReadableSegments(SidebarView& sidebar)
{
    for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
        QAbstractButton* segment = sidebar.filterButton(filter);
        const style::Fill colours = style::segmentColours(segment->palette(), segment->isChecked());
        EXPECT_GE(contrast(colours.text, colours.background), 4.5) << segment->text().toStdString();
        // What is painted is what was measured.
        const QImage picture = segment->grab().toImage();
        EXPECT_EQ(QColor(picture.pixel(segment->width() / 2, 3)).name(), colours.background.name())
            << segment->text().toStdString();
    }
}

class ThemeTest : public ::testing::Test
{
protected:
    ThemeTest()
        : settings(QString::fromStdString((fixture.directory() / "settings.ini").string()),
                   QSettings::IniFormat)
    {
        settings.setValue(RootView::kOnboardingCompletedKey, true);
    }

    void build()
    {
        app::AppModel& model = fixture.makeModel(everyKindOfEnding());
        MainWindowOptions options;
        options.settings = &settings;
        options.evidenceNote = QStringLiteral("kernel messages are not readable");
        window = std::make_unique<MainWindow>(model, std::move(options));
        window->resize(1100, 720);
        window->show();
        model.setSelectedEventID(model.events()[0].id);
        EventDetailView* detail = window->rootView()->eventDetail();
        detail->confidenceDetailsToggle()->click();
        // Before the popover: a window coming up closes an open popover.
        window->showAbout();
        popover = std::make_unique<PopoverWindow>();
        MenuBarPopoverContentView::Options popoverOptions;
        popoverOptions.supportsLaunchAtLogin = true;
        popoverOptions.notificationScope = [] { return app::NotificationScope::everyClosure; };
        popoverOptions.onChangeNotificationScope = [](app::NotificationScope) {};
        popover->setContent(new MenuBarPopoverContentView(model, popoverOptions));
        popover->show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    void expectEverythingReadable()
    {
        SidebarView& sidebar = *window->rootView()->sidebar();
        expectReadableTexts(*window);
        expectReadableTexts(*popover);
        ASSERT_NE(window->aboutDialog(), nullptr);
        expectReadableTexts(*window->aboutDialog());
        expectReadableButtons(window->rootView()->eventDetail()->findChildren<QPushButton*>());
        expectReadableRows(*sidebar.listView());
        expectReadableSegments(sidebar);
        ConfidenceBadgeView badge(Confidence::high, window.get());
        for (const Confidence confidence : {Confidence::high, Confidence::medium, Confidence::low}) {
            badge.setConfidence(confidence);
            const QColor background = badge.palette().color(QPalette::Window);
            EXPECT_GE(contrast(badge.colour(), over(style::withAlpha(badge.colour(), 0.16), background)), 4.5)
                << core::rawValue(confidence);
        }
    }

    test::ModelFixture fixture;
    QSettings settings;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PopoverWindow> popover;
};

TEST_F(ThemeTest, TextsReadInTheLightAndDarkPalettesAndAcrossAThemeChange)
{
    const test::ScopedPalette restore(test::lightPalette());
    build();
    {
        SCOPED_TRACE("light");
        expectEverythingReadable();
    }
    QLabel* subtitle = window->rootView()->sidebar()->subtitleLabel();
    const QColor lightSubtitle = subtitle->palette().color(QPalette::WindowText);

    // Switched while running: nothing was built again.
    QApplication::setPalette(test::darkPalette());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    {
        SCOPED_TRACE("dark");
        EXPECT_NE(subtitle->palette().color(QPalette::WindowText), lightSubtitle);
        expectEverythingReadable();
    }

    QApplication::setPalette(test::lightPalette());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    {
        SCOPED_TRACE("light again");
        EXPECT_EQ(subtitle->palette().color(QPalette::WindowText), lightSubtitle);
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
    const struct { QColor colour; QColor background; double ratio; double fill; } cases[] = {
        {QColor(0x34, 0xa8, 0x53), Qt::white,                 4.5, 0},    // green text on white: darkened
        {QColor(0xe8, 0x86, 0x0c), QColor(0xef, 0xef, 0xef),  4.5, 0},    // orange caution on grey
        {QColor(0x34, 0xa8, 0x53), QColor(0xef, 0xef, 0xef),  4.5, 0.16}, // on its own capsule
        {QColor(0x3d, 0xae, 0xe9), QColor(0x31, 0x36, 0x3b),  4.5, 0},    // accent on a dark button
        {QColor(0x31, 0x36, 0x3b), QColor(0x30, 0x35, 0x3a),  4.5, 0},    // same as the background: lightened
        {QColor(0x77, 0x77, 0x77), QColor(0x77, 0x77, 0x77),  4.5, 0},    // mid grey: only black reaches it
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.colour.name().toStdString() + " on " + c.background.name().toStdString());
        const QColor shade = style::legible(c.colour, c.background, c.ratio, c.fill);
        const QColor behind = c.fill > 0 ? over(style::withAlpha(shade, c.fill), c.background) : c.background;
        EXPECT_GE(contrast(shade, behind), c.ratio);
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

// With the application font 25 % larger, every text still gets the room it asks for.
TEST(LargerFontTest, NothingIsClippedAtOneAndAQuarterTimesTheFont)
{
    const QFont original = QApplication::font();
    QFont larger = original;
    larger.setPointSizeF(original.pointSizeF() * 1.25);
    QApplication::setFont(larger);

    test::ModelFixture fixture;
    QSettings settings(QString::fromStdString((fixture.directory() / "settings.ini").string()),
                       QSettings::IniFormat);
    settings.setValue(RootView::kOnboardingCompletedKey, true);
    app::AppModel& model = fixture.makeModel(everyKindOfEnding());
    MainWindowOptions options;
    options.settings = &settings;
    {
        MainWindow window(model, std::move(options));
        window.resize(window.minimumSize());
        window.show();
        // The list at its narrowest.
        window.rootView()->splitter()->setSizes({0, 10000});
        QCoreApplication::processEvents();

        SidebarView& sidebar = *window.rootView()->sidebar();
        for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
            const QAbstractButton* segment = sidebar.filterButton(filter);
            EXPECT_GE(segment->width(), segment->fontMetrics().horizontalAdvance(segment->text()) + 8)
                << segment->text().toStdString();
            EXPECT_GE(segment->height(), segment->fontMetrics().height()) << segment->text().toStdString();
        }
        auto* toolbar = window.findChild<QToolBar*>();
        for (QToolButton* button : toolbar->findChildren<QToolButton*>()) {
            if (button->isVisible()) {
                EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
            }
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
        const int rowHeight = list->itemDelegate()->sizeHint(option, list->model()->index(0, 0)).height();
        EXPECT_GE(rowHeight, QFontMetrics(style::font(style::TextStyle::body)).height()
                                 + QFontMetrics(style::font(style::TextStyle::caption)).height());
        const QSize badge = ConfidenceBadgeView::sizeFor(Confidence::medium);
        EXPECT_GE(badge.width(),
                  QFontMetrics(style::font(style::TextStyle::caption2, true)).horizontalAdvance("Medium"));
    }

    PopoverWindow popover;
    MenuBarPopoverContentView::Options popoverOptions;
    popoverOptions.supportsLaunchAtLogin = true;
    popoverOptions.notificationScope = [] { return app::NotificationScope::unexpectedOnly; };
    popoverOptions.onChangeNotificationScope = [](app::NotificationScope) {};
    popover.setContent(new MenuBarPopoverContentView(model, popoverOptions));
    popover.show();
    QCoreApplication::processEvents();
    for (const QWidget* child : popover.findChildren<QWidget*>()) {
        if (child->isVisible() && child->parentWidget() != nullptr) {
            EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
                << child->metaObject()->className();
        }
    }
    for (const QCheckBox* box : popover.findChildren<QCheckBox*>()) {
        EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString();
    }
    QApplication::setFont(original);
}

} // namespace
} // namespace exitwise::ui
