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
#include <QSet>
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

    // The delegate over a model of `stored`, its item installed.
    AppDelegate& start(const std::vector<app::AppEvent>& stored = {}, app::BroadcastCenter* center = nullptr)
    {
        delegate =
            std::make_unique<AppDelegate>(loginItems, center != nullptr ? *center : broadcasts, options);
        delegate->setModel(&fixture.makeModel(stored));
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

TEST_F(AppDelegateTest, InstallsOneStatusItemAndOpensNothingBeforeTheModelArrives)
{
    delegate = std::make_unique<AppDelegate>(loginItems, broadcasts, options);
    delegate->installStatusItem();
    delegate->installStatusItem();
    EXPECT_EQ(statusItemsMade, 1);
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
    EXPECT_EQ(loginItems.statusReads, 0);
}

TEST_F(AppDelegateTest, WithoutATrayNothingIsInstalledAndTheToggleDoesNothing)
{
    options.makeStatusItem = [] { return std::unique_ptr<StatusItem>(); };
    start().togglePopover();
    EXPECT_EQ(delegate->statusItem(), nullptr);
    EXPECT_FALSE(delegate->popover().isVisible());
}

TEST_F(AppDelegateTest, EveryOpeningShowsFreshContentUnderTheItem)
{
    AppDelegate& d = start({test::fullEvent("Sketch Pad", test::sampleTime())});
    const int readsAfterInstall = loginItems.statusReads;

    emit d.statusItem()->triggered();
    ASSERT_TRUE(d.popover().isVisible());
    EXPECT_EQ(loginItems.statusReads, readsAfterInstall + 1);
    EXPECT_EQ(d.popover().size(), QSize(340, 380));
    // Centred under the item.
    EXPECT_EQ(d.popover().geometry().center().x(), item().itemGeometry.center().x());
    EXPECT_GT(d.popover().y(), item().itemGeometry.bottom());
    EXPECT_EQ(d.popoverContent()->eventRows().size(), 1u);

    d.togglePopover();
    EXPECT_FALSE(d.popover().isVisible());
    loginItems.current = LoginItemStatus::enabled; // switched on elsewhere meanwhile
    d.togglePopover();
    ASSERT_TRUE(d.popover().isVisible());
    EXPECT_EQ(loginItems.statusReads, readsAfterInstall + 2);
    EXPECT_TRUE(d.popoverContent()->launchAtLoginSwitch()->isChecked());

    // A click outside closes it; the click on the item that did so must not reopen it.
    d.popover().close();
    d.togglePopover();
    EXPECT_FALSE(d.popover().isVisible());
}

TEST_F(AppDelegateTest, ThePopoversSwitchShowsTheLoginServicesRealStateAndItsQuitButtonQuits)
{
    AppDelegate& d = start();
    d.togglePopover();
    QCheckBox* launchAtLogin = d.popoverContent()->launchAtLoginSwitch();
    // clang-format off
    const struct { bool refused; bool checked; int registers; int unregisters; } clicks[] = {
        {true,  false, 1, 0}, // snapped back
        {false, true,  2, 0},
        {false, false, 2, 1},
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

    d.popoverContent()->quitButton()->click();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(d.popover().isVisible());
    item().menu->actions().constLast()->trigger();
    EXPECT_EQ(quits, 2);
}

TEST_F(AppDelegateTest, RowClickSelectsRecordsOnceShowsTheWindowAndClosesThePopover)
{
    AppDelegate& d = start({test::fullEvent("Sketch Pad", test::sampleTime()),
                            test::fullEvent("Mail", test::sampleTime(-120), 77)});
    const app::Uuid second = fixture.model().events()[1].id;
    QMainWindow window; // closed to the tray
    d.togglePopover();
    const std::size_t before = fixture.usageEvents().size();

    d.popoverContent()->eventRows()[1]->click();
    EXPECT_EQ(fixture.model().selectedEventID(), second);
    EXPECT_EQ(test::viewsSince(fixture, before), std::vector<std::string>{"open_event " + second.toString()});
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(d.popover().isVisible());
    QCoreApplication::processEvents(); // the replaced content goes away safely
}

TEST_F(AppDelegateTest, BringsForwardAHiddenOrMinimisedMainWindow)
{
    AppDelegate d(loginItems, broadcasts, options);
    d.bringMainWindowForward(); // no window: nothing happens, nothing is created
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::none_of(windows.cbegin(), windows.cend(),
                             [](QWidget* w) { return qobject_cast<QMainWindow*>(w) != nullptr; }));

    QMainWindow window;
    d.bringMainWindowForward();
    EXPECT_TRUE(window.isVisible());
    window.showMinimized();
    d.bringMainWindowForward();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(AppDelegateTest, NotificationClickWithoutAnEventIdentifierPostsNothing)
{
    AppDelegate d(loginItems, broadcasts, options);
    QSignalSpy posted(&broadcasts, &app::BroadcastCenter::posted);
    const QString id = "A1B2C3D4-0000-4000-8000-000000000001";
    // clang-format off
    const std::pair<const char*, QVariantMap> cases[] = {
        {"missing",              {{"other", id}}},
        {"not a string",         {{"event_id", 42}}},
        {"already a uuid value", {{"event_id", QVariant::fromValue(QUuid::createUuid())}}},
        {"not a uuid",           {{"event_id", "not-a-uuid"}}},
        {"braced",               {{"event_id", "{" + id + "}"}}},
        {"empty",                {{"event_id", ""}}},
    };
    // clang-format on
    for (const auto& [name, userInfo] : cases) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(d.handleNotificationActivated(id, userInfo));
    }
    EXPECT_EQ(posted.count(), 0);
}

TEST_F(AppDelegateTest, ANotificationClickPostsTheUuidAndIsAViewOfTheClickedEventOnly)
{
    const app::AppEvent older = test::fullEvent("Mail", test::sampleTime(-120), 77);
    // Posted where the model listens.
    AppDelegate& d = start({test::fullEvent("Sketch Pad", test::sampleTime()), older}, &fixture.broadcasts());
    const std::unique_ptr<QSettings> settings = test::settingsIn(fixture);
    MainWindowOptions windowOptions;
    windowOptions.settings = settings.get();
    MainWindow window(fixture.model(), windowOptions); // closed to the tray, the newest selected
    QSignalSpy posted(&fixture.broadcasts(), &app::BroadcastCenter::posted);
    const std::size_t before = fixture.usageEvents().size();

    const QString text = QString::fromStdString(older.id.toString());
    ASSERT_TRUE(d.handleNotificationActivated(text, {{"event_id", text}}));
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted.at(0).at(0).toString(), "Exitwise.didSelectEventFromNotification");
    const QVariantMap userInfo = posted.at(0).at(1).toMap();
    EXPECT_EQ(userInfo.keys(), QStringList{"event_id"});
    ASSERT_EQ(userInfo.value("event_id").metaType(), QMetaType::fromType<QUuid>());
    EXPECT_EQ(userInfo.value("event_id").toUuid(), QUuid::fromString(text));

    d.bringMainWindowForward(); // as the application does after a click
    QCoreApplication::processEvents();
    EXPECT_TRUE(test::waitUntil([&] { return fixture.model().selectedEventID() == older.id; }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(test::usageValues(fixture, app::ProductAnalyticsEventName::diagnosisViewed, "event_id", before),
              std::vector<std::string>{older.id.toString()});
}

TEST_F(AppDelegateTest, TheItemWaitsUntilTheAppAsksAndATrayIsThere)
{
    test::FakeTrayAvailability tray(false);
    options.tray = &tray;
    delegate = std::make_unique<AppDelegate>(loginItems, broadcasts, options);
    QSignalSpy installed(delegate.get(), &AppDelegate::statusItemInstalled);
    tray.set(true); // a tray alone installs nothing
    tray.set(false);
    delegate->setModel(&fixture.makeModel({test::fullEvent("Notes", test::sampleTime())}));
    delegate->installStatusItem();
    EXPECT_EQ(statusItemsMade, 0) << "no item while the desktop has no tray";
    EXPECT_EQ(delegate->statusItem(), nullptr);

    tray.set(true); // the panel started after us
    EXPECT_EQ(statusItemsMade, 1);
    ASSERT_NE(delegate->statusItem(), nullptr);
    EXPECT_EQ(item().shows, 1);
    EXPECT_EQ(installed.count(), 1);
    emit delegate->statusItem()->triggered(); // and it works: the popover opens with content
    EXPECT_EQ(delegate->popoverContent()->eventRows().size(), 1u);
    delegate->popover().dismiss();

    tray.set(false); // a panel that restarts keeps our item: Qt puts it back
    tray.set(true);
    EXPECT_EQ(statusItemsMade, 1);
    EXPECT_EQ(installed.count(), 1);
}

TEST_F(AppDelegateTest, TheIconTheMenuAndTheTooltipFollowPausing)
{
    fixture.now = test::sampleTime(150);
    options.clock = [this] { return fixture.now; };
    start({test::fullEvent("Notes", test::sampleTime())});
    app::AppModel& model = fixture.model();
    QAction* pause = item().menu->actions().at(1);
    ASSERT_EQ(pause->text(), "Pause monitoring");
    EXPECT_TRUE(pause->isCheckable());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(item().shownToolTip, "Exitwise — Monitoring\nNotes — Crash, 2 min ago");
    const qint64 runningIcon = item().shownIcon.cacheKey();

    model.setMonitoringPaused(true); // from the popover's switch
    EXPECT_TRUE(pause->isChecked());
    EXPECT_EQ(item().shownToolTip, "Exitwise — Paused\nNotes — Crash, 2 min ago");
    EXPECT_NE(item().shownIcon.cacheKey(), runningIcon);

    pause->trigger(); // from the tray's menu
    EXPECT_FALSE(model.isMonitoringPaused());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(item().shownToolTip, "Exitwise — Monitoring\nNotes — Crash, 2 min ago");

    // A new closure is the one the tooltip names.
    app::MonitoredTermination termination;
    termination.appName = "Sketch Pad";
    termination.terminatedAt = test::sampleTime(90);
    termination.terminationReason = core::TerminationReason::crashed;
    model.handleTermination(termination);
    EXPECT_TRUE(test::waitUntil([&] { return item().shownToolTip.contains("Sketch Pad"); }))
        << item().shownToolTip.toStdString();
    EXPECT_TRUE(item().shownToolTip.endsWith(", 1 min ago")) << item().shownToolTip.toStdString();
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
    // Monochrome: every drawn pixel has one colour, whatever its coverage.
    const QImage image = trayIcon(false).pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                colours.insert(image.pixel(x, y));
            }
        }
    }
    EXPECT_EQ(colours.size(), 1);
    QIcon::setThemeSearchPaths(savedPaths);
    QIcon::setThemeName(savedTheme);
}

TEST(StatusToolTip, NamesTheStateAndTheNewestClosureOrNone)
{
    const core::Date now = test::sampleTime();
    app::AppEvent blocked = test::fullEvent("Sketch Pad", now - core::Seconds(3 * 3600 + 50));
    blocked.diagnosis.endState = core::EndState::launchBlocked;
    EXPECT_EQ(detail::statusToolTip(true, &blocked, now),
              "Exitwise — Paused\nSketch Pad — Launch blocked, 3 h ago");
    EXPECT_EQ(detail::statusToolTip(false, nullptr, now), "Exitwise — Monitoring\nNo closures yet");
}

TEST(StatusToolTip, SaysHowLongAgoInWholeUnits)
{
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {-30, "just now"},
        {0, "just now"},
        {59.9, "just now"},
        {60, "1 min ago"},
        {119, "1 min ago"},
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
    const struct
    {
        const char* name;
        QRect anchor;
        std::optional<QPoint> cursor;
        QPoint expected;
    } cases[] = {
        // clang-format off
        {"under an item in a top panel", QRect(1000, 0, 24, 24), {}, {1012 - 170, 24 + gap}},
        {"above an item in a bottom panel", QRect(1000, 1056, 24, 24), {}, {1012 - 170, 1056 - gap - 380}},
        {"item at the right edge", QRect(1900, 0, 20, 24), {}, {1920 - 340, 24 + gap}},
        {"no item position: beside the pointer", QRect(), QPoint(500, 10), {500 - 170, 10 + gap}},
        {"pointer in the bottom-left corner", QRect(), QPoint(3, 1075), {0, 1075 - gap - 380}},
        {"nothing known: top-right corner", QRect(), {}, {1920 - 8 - 340, 8}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::popoverPosition(QSize(340, 380), QRect(0, 0, 1920, 1080), c.anchor, c.cursor),
                  c.expected);
    }
}

} // namespace
} // namespace exitwise::ui
