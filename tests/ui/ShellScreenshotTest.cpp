// SPDX-License-Identifier: MIT
// Pictures of the tray popover, the first-run checklist and the idle view with realistic data,
// for looking at the finished product (scripts/screenshots). Ordinary runs only check that the
// views fit their content.

#include "support/ModelFixture.h"
#include "support/SampleEvents.h"
#include "support/Screenshots.h"
#include "support/ThemePalettes.h"
#include "ui/IdleDetailView.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/PopoverWindow.h"
#include "ui/Resources.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

app::AppEvent closure(
    const std::string& name, double minutesAgo, EndState state, DominantCause cause, Confidence confidence)
{
    // Counted back from now, so the rows show times of today.
    app::AppEvent event = test::fullEvent(name, core::now() - core::Seconds(60.0 * minutesAgo));
    event.diagnosis.endState = state;
    event.diagnosis.dominantCause = cause;
    event.diagnosis.confidence = confidence;
    return event;
}

// Every child lies inside its parent and every text has the height it needs, so nothing is cut off.
void expectNothingClipped(const QWidget& root)
{
    for (const QWidget* child : root.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->parentWidget() == nullptr) {
            continue;
        }
        EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
            << child->metaObject()->className() << " " << child->objectName().toStdString();
        if (const auto* label = qobject_cast<const QLabel*>(child)) {
            const int needed =
                label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
            EXPECT_GE(label->height(), needed) << label->text().toStdString();
        }
    }
}

MenuBarPopoverContentView::Options popoverOptions()
{
    MenuBarPopoverContentView::Options options;
    options.supportsLaunchAtLogin = true;
    options.launchAtLoginEnabled = true;
    options.notificationScope = [] { return app::NotificationScope::unexpectedOnly; };
    options.onChangeNotificationScope = [](app::NotificationScope) {};
    return options;
}

void renderPopover(const QString& suffix)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel({
        closure("Firefox", 3, EndState::killed, DominantCause::killedJetsamMemory, Confidence::high),
        closure("Visual Studio Code", 26, EndState::killed, DominantCause::killedWatchdogHang,
                Confidence::medium),
        closure("GIMP", 95, EndState::crash, DominantCause::crashBug, Confidence::high),
        closure("Thunderbird Mail with a very long window name indeed", 180, EndState::crash,
                DominantCause::dependencyHelperFailure, Confidence::low),
        closure("LibreOffice Writer", 420, EndState::cleanExit, DominantCause::explicitQuit,
                Confidence::high),
        closure("Inkscape", 900, EndState::launchBlocked, DominantCause::dyldFailure, Confidence::medium),
    });
    PopoverWindow popover;
    popover.setContent(new MenuBarPopoverContentView(model, popoverOptions()));
    popover.show();
    QCoreApplication::processEvents();

    // Five rows and the notification choice: a little taller than the standard 340 × 380.
    EXPECT_EQ(popover.width(), 340);
    EXPECT_GE(popover.height(), 380);
    auto* content = qobject_cast<MenuBarPopoverContentView*>(popover.content());
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->eventRows().size(), 5u);
    expectNothingClipped(popover);
    // The long name is shortened; the badge keeps its full size.
    const QAbstractButton* longRow = content->eventRows()[3];
    EXPECT_LE(longRow->geometry().right(), content->width());
    test::saveScreenshot(popover, QStringLiteral("popover") + suffix);
}

// A fixture of its own: two in one test would share their data directory.
void renderEmptyPopover(const QString& suffix)
{
    test::ModelFixture fixture;
    PopoverWindow popover;
    popover.setContent(new MenuBarPopoverContentView(fixture.makeModel(), popoverOptions()));
    popover.show();
    QCoreApplication::processEvents();
    expectNothingClipped(popover);
    test::saveScreenshot(popover, QStringLiteral("popover-empty") + suffix);
}

TEST(ShellScreenshot, Popover)
{
    const test::ScopedPalette light(test::lightPalette());
    renderPopover(QString());
}

TEST(ShellScreenshot, EmptyPopover)
{
    const test::ScopedPalette light(test::lightPalette());
    renderEmptyPopover(QString());
}

TEST(ShellScreenshot, EmptyPopoverInTheDark)
{
    const test::ScopedPalette dark(test::darkPalette());
    renderEmptyPopover(QStringLiteral("-dark"));
}

TEST(ShellScreenshot, PopoverInTheDark)
{
    const test::ScopedPalette dark(test::darkPalette());
    renderPopover(QStringLiteral("-dark"));
}

TEST(ShellScreenshot, Onboarding)
{
    OnboardingChecklistView view;
    view.checkBoxes()[0]->setChecked(true);
    view.checkBoxes()[1]->setChecked(true);
    view.adjustSize();
    view.show();
    QCoreApplication::processEvents();
    expectNothingClipped(view);
    test::saveScreenshot(view, QStringLiteral("onboarding"));
}

TEST(ShellScreenshot, Idle)
{
    IdleDetailView view;
    view.resize(620, 360);
    view.show();
    QCoreApplication::processEvents();
    expectNothingClipped(view);
    test::saveScreenshot(view, QStringLiteral("idle"));
}

TEST(ShellScreenshot, TrayIcon)
{
    // Compiled into a static library, the icon exists only once the resources are registered.
    const QIcon icon = appIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 22, 32, 64}) {
        const QPixmap pixmap = icon.pixmap(size);
        ASSERT_FALSE(pixmap.isNull()) << size;
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        EXPECT_GT(qAlpha(pixmap.toImage().pixel(size / 2, size / 2)), 0) << "the bolt is drawn at " << size;
    }

    // Light and dark panels, at the sizes trays use.
    QWidget sheet;
    auto* layout = new QHBoxLayout(&sheet);
    for (const QColor& panel : {QColor(0xf2, 0xf2, 0xf2), QColor(0x2b, 0x2b, 0x2b)}) {
        for (const int size : {16, 22, 32, 64}) {
            auto* label = new QLabel(&sheet);
            label->setAutoFillBackground(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, panel);
            label->setPalette(palette);
            label->setPixmap(icon.pixmap(size));
            label->setAlignment(Qt::AlignCenter);
            label->setFixedSize(72, 72);
            layout->addWidget(label);
        }
    }
    sheet.show();
    QCoreApplication::processEvents();
    test::saveScreenshot(sheet, QStringLiteral("tray-icon"));
}

} // namespace
} // namespace exitwise::ui
