// SPDX-License-Identifier: MIT
#include "ui/AppDelegate.h"

#include "app/BroadcastCenter.h"
#include "support/EventLoop.h"
#include "support/FakeTray.h"
#include "support/Files.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/UiFixtures.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/StatusItem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QUuid>

#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::LoginItemStatus;
using test::FakeStatusItem;

class AppDelegateTest : public ::testing::Test
{
protected:
    AppDelegateTest()
    {
        options.makeStatusItem = [this] {
            ++statusItemsMade;
            auto item = std::make_unique<FakeStatusItem>();
            item->itemGeometry = QRect(600, 0, 24, 24);
            return item;
        };
        options.quit = [this] { ++quits; };
    }

    // The delegate, posting to `center`, over a model of two closures, its item installed.
    AppDelegate& start(app::BroadcastCenter& center)
    {
        delegate = std::make_unique<AppDelegate>(loginItems, center, options);
        delegate->setModel(&fixture.makeModel({test::fullEvent("Sketch Pad", test::sampleTime()),
                                               test::fullEvent("Mail", test::sampleTime(-120), 77)}));
        delegate->installStatusItem();
        return *delegate;
    }

    [[nodiscard]] FakeStatusItem& item() const
    {
        return *static_cast<FakeStatusItem*>(delegate->statusItem());
    }

    test::FakeLoginItems loginItems;
    app::BroadcastCenter broadcasts; // not the fixture's: the model must not hear these
    AppDelegateOptions options;
    int statusItemsMade = 0;
    int quits = 0;
    test::ModelFixture fixture;
    std::unique_ptr<AppDelegate> delegate;
};

// The item comes when the app asks and a tray is there, once; until the model arrives a click on
// it opens nothing.
TEST_F(AppDelegateTest, OneItemComesWhenTheAppAsksAndATrayIsThereAndFollowsTheModel)
{
    fixture.now = test::sampleTime(150);
    options.clock = [this] { return fixture.now; };
    test::FakeTrayAvailability tray(false);
    options.tray = &tray;
    delegate = std::make_unique<AppDelegate>(loginItems, broadcasts, options);
    tray.set(true); // a tray alone installs nothing
    tray.set(false);
    delegate->installStatusItem();
    EXPECT_EQ(statusItemsMade, 0) << "no item while the desktop has no tray";

    tray.set(true); // the panel started after us
    ASSERT_NE(delegate->statusItem(), nullptr);
    EXPECT_EQ(item().shows, 1);
    EXPECT_EQ(item().shownToolTip, "Exitwise");
    EXPECT_FALSE(item().shownIcon.isNull());
    QStringList entries;
    for (const QAction* action : item().menu->actions()) {
        if (!action->isSeparator()) {
            entries << action->text();
        }
    }
    EXPECT_EQ(entries, (QStringList{"Open full window", "Pause monitoring", "Quit"}));
    emit delegate->statusItem()->triggered();
    EXPECT_FALSE(delegate->popover().isVisible());
    EXPECT_EQ(delegate->popoverContent(), nullptr);

    // Asked again, or a panel that restarts (Qt puts our item back): still the one item.
    delegate->installStatusItem();
    tray.set(false);
    tray.set(true);
    EXPECT_EQ(statusItemsMade, 1);

    // With the model the tooltip says the state and the newest closure; it, the icon and the
    // menu follow pausing, wherever it is switched.
    app::AppModel& model = fixture.makeModel();
    delegate->setModel(&model);
    QAction* pause = item().menu->actions().at(1);
    EXPECT_EQ(item().shownToolTip, "Exitwise — Monitoring\nNo closures yet");
    const qint64 runningIcon = item().shownIcon.cacheKey();
    app::MonitoredTermination termination;
    termination.appName = "Sketch Pad";
    termination.terminatedAt = test::sampleTime(90);
    termination.terminationReason = core::TerminationReason::crashed;
    model.handleTermination(termination);
    const QString newest = "\nSketch Pad — Crash, 1 min ago";
    EXPECT_TRUE(test::waitUntil([&] { return item().shownToolTip.endsWith(newest); }))
        << item().shownToolTip.toStdString();

    model.setMonitoringPaused(true); // from the popover's switch
    EXPECT_TRUE(pause->isChecked());
    EXPECT_EQ(item().shownToolTip, "Exitwise — Paused" + newest);
    EXPECT_NE(item().shownIcon.cacheKey(), runningIcon);
    pause->trigger(); // from the tray's menu
    EXPECT_FALSE(model.isMonitoringPaused());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(item().shownToolTip, "Exitwise — Monitoring" + newest);
}

// Every opening shows fresh content under the item; the switch shows the login service's real
// state; a row click brings the window back (a minimised one restored: raising it alone would
// show nothing) and closes the popover; both Quits quit.
TEST_F(AppDelegateTest, ThePopoverOpensFreshAndItsSwitchRowsAndQuitAct)
{
    AppDelegate& d = start(broadcasts);
    QMainWindow window;
    window.showMinimized();
    emit d.statusItem()->triggered();
    ASSERT_TRUE(d.popover().isVisible());
    // Placed by the item's position (where exactly is pinned with the placement below).
    EXPECT_EQ(d.popover().geometry().center().x(), item().itemGeometry.center().x());
    d.togglePopover();
    EXPECT_FALSE(d.popover().isVisible());
    loginItems.current = LoginItemStatus::enabled; // switched on elsewhere meanwhile
    d.togglePopover();
    const MenuBarPopoverContentView* content = d.popoverContent();
    QCheckBox* launchAtLogin = content->launchAtLoginSwitch();
    EXPECT_TRUE(launchAtLogin->isChecked());
    // clang-format off
    const struct { bool refused; bool checked; int registers; int unregisters; } clicks[] = {
        {false, false, 0, 1},
        {true,  false, 1, 1}, // snapped back
        {false, true,  2, 1},
    };
    // clang-format on
    for (const auto& c : clicks) {
        loginItems.failRegistration = c.refused;
        launchAtLogin->click();
        EXPECT_EQ(
            std::tuple(launchAtLogin->isChecked(), loginItems.registerCalls, loginItems.unregisterCalls),
            std::tuple(c.checked, c.registers, c.unregisters));
    }
    EXPECT_TRUE(d.popover().isVisible());
    EXPECT_EQ(d.popoverContent(), content) << "updated in place: the switch keeps the focus";

    d.popoverContent()->eventRows()[1]->click();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(d.popover().isVisible());
    QCoreApplication::processEvents(); // the replaced content goes away safely

    d.togglePopover();
    // A click outside closes it; the click on the item that did so must not reopen it.
    d.popover().close();
    d.togglePopover();
    EXPECT_FALSE(d.popover().isVisible());
    d.togglePopover();
    d.popoverContent()->quitButton()->click();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.popover().isVisible());
    item().menu->actions().constLast()->trigger();
    EXPECT_EQ(quits, 2);
}

TEST_F(AppDelegateTest, ANotificationClickPostsTheUuidAndIsAViewOfTheClickedEventOnly)
{
    AppDelegate& d = start(fixture.broadcasts()); // posted where the model listens
    const app::AppEvent older = fixture.model().events()[1];
    const std::unique_ptr<QSettings> settings = test::settingsIn(fixture);
    MainWindowOptions windowOptions;
    windowOptions.settings = settings.get();
    MainWindow window(fixture.model(), windowOptions); // the newest selected
    window.show();
    window.hide(); // closed to the tray: a selection now is no view until the window is back
    QSignalSpy posted(&fixture.broadcasts(), &app::BroadcastCenter::posted);
    const std::size_t before = fixture.usageEvents().size();
    const QString text = QString::fromStdString(older.id.toString());
    // Without an event identifier in our own text form, nothing is posted.
    // clang-format off
    const std::pair<const char*, QVariantMap> ignored[] = {
        {"missing",              {{"other", text}}},
        {"not a string",         {{"event_id", 42}}},
        {"already a uuid value", {{"event_id", QVariant::fromValue(QUuid(text))}}},
        {"braced",               {{"event_id", "{" + text + "}"}}},
    };
    // clang-format on
    for (const auto& [name, userInfo] : ignored) {
        EXPECT_FALSE(d.handleNotificationActivated(text, userInfo)) << name;
    }

    ASSERT_TRUE(d.handleNotificationActivated(text, {{"event_id", text}}));
    // A uuid value, not its text.
    const QVariantMap info{{"event_id", QVariant::fromValue(QUuid(text))}};
    EXPECT_EQ(posted, (QList<QVariantList>{{"Exitwise.didSelectEventFromNotification", info}}));

    d.bringMainWindowForward(); // as the application does after a click
    QCoreApplication::processEvents();
    EXPECT_TRUE(test::waitUntil([&] { return fixture.model().selectedEventID() == older.id; }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(test::usageValues(fixture, app::ProductAnalyticsEventName::diagnosisViewed, "event_id", before),
              std::vector<std::string>{older.id.toString()});
}

// The installed theme icons, found as a desktop finds them, and the full-colour ones without.
TEST_F(AppDelegateTest, TheTrayIconIsTheThemesSymbolicOneWithAFullColourFallback)
{
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    EXPECT_TRUE(trayIcon(false).name().isEmpty());
    ASSERT_FALSE(trayIcon(false).pixmap(22).isNull());
    EXPECT_NE(trayIcon(false).pixmap(22).toImage(), trayIcon(true).pixmap(22).toImage());

    const test::TempDir themes("exitwise-icons");
    const std::filesystem::path apps = themes.path() / "hicolor/symbolic/apps";
    std::filesystem::create_directories(apps);
    std::ofstream(themes.path() / "hicolor/index.theme")
        << "[Icon Theme]\nName=Hicolor\nDirectories=symbolic/apps\n\n"
           "[symbolic/apps]\nMinSize=8\nSize=16\nMaxSize=512\nType=Scalable\n";
    for (const char* name : {"exitwise-symbolic.svg", "exitwise-paused-symbolic.svg"}) {
        std::filesystem::copy_file(std::filesystem::path(EXITWISE_ICONS_DIR "/hicolor/symbolic/apps") / name,
                                   apps / name);
    }
    QIcon::setThemeSearchPaths({QString::fromStdString(themes.path().string())});
    QIcon::setThemeName("hicolor");

    EXPECT_EQ(trayIcon(false).name(), "exitwise-symbolic");
    EXPECT_EQ(trayIcon(true).name(), "exitwise-paused-symbolic");
    QIcon::setThemeSearchPaths(savedPaths);
    QIcon::setThemeName(savedTheme);
}

TEST(StatusToolTip, SaysHowLongAgoInWholeUnits)
{
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {-30, "just now"},
        {59.9, "just now"},
        {60, "1 min ago"},
        {3599, "59 min ago"},
        {3600, "1 h ago"},
        {86399, "23 h ago"},
        {86400, "yesterday"},
        {172799, "yesterday"},
        {172800, "2 days ago"},
        {40 * 86400 + 5, "40 days ago"},
    };
    // clang-format on
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(detail::closureAge(core::Seconds(seconds)), text) << seconds;
    }
}

TEST(PopoverPosition, StaysOnScreenNextToWhatItIsAnchoredTo)
{
    const int gap = PopoverWindow::kAnchorGap;
    // clang-format off
    const struct { const char* name; QRect anchor; std::optional<QPoint> cursor; QPoint at; } cases[] = {
        {"under an item in a top panel", QRect(1000, 0, 24, 24), {}, {1012 - 170, 24 + gap}},
        {"above an item in a bottom panel", QRect(1000, 1056, 24, 24), {}, {1012 - 170, 1056 - gap - 380}},
        {"item at the right edge", QRect(1900, 0, 20, 24), {}, {1920 - 340, 24 + gap}},
        {"no item position: beside the pointer", QRect(), QPoint(500, 10), {500 - 170, 10 + gap}},
        {"pointer in the bottom-left corner", QRect(), QPoint(3, 1075), {0, 1075 - gap - 380}},
        {"nothing known: top-right corner", QRect(), {}, {1920 - 8 - 340, 8}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::popoverPosition(QSize(340, 380), QRect(0, 0, 1920, 1080), c.anchor, c.cursor),
                  c.at);
    }
}

} // namespace
} // namespace exitwise::ui
