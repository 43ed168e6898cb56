// SPDX-License-Identifier: MIT
#include "ui/AppDelegate.h"

#include "app/BroadcastCenter.h"
#include "app/LoginItems.h"
#include "support/EventLoop.h"
#include "support/FakeTray.h"
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "ui/MainWindow.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/PopoverWindow.h"
#include "ui/Resources.h"
#include "ui/RootView.h"
#include "ui/StatusItem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::LoginItemStatus;

// Launch at login without touching the user's autostart directory.
class FakeLoginItems final : public app::LoginItems
{
public:
    [[nodiscard]] LoginItemStatus status() const override
    {
        ++statusReads;
        return current;
    }
    [[nodiscard]] std::optional<app::LoginItemError> registerItem() override
    {
        ++registerCalls;
        if (failRegistration) {
            return app::LoginItemError{"cannot create autostart entry"};
        }
        current = LoginItemStatus::enabled;
        return std::nullopt;
    }
    [[nodiscard]] std::optional<app::LoginItemError> unregisterItem() override
    {
        ++unregisterCalls;
        current = LoginItemStatus::notRegistered;
        return std::nullopt;
    }

    LoginItemStatus current = LoginItemStatus::notRegistered;
    bool failRegistration = false;
    mutable int statusReads = 0;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

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

    [[nodiscard]] FakeStatusItem& item(const AppDelegate& delegate) const
    {
        return *static_cast<FakeStatusItem*>(delegate.statusItem());
    }

    FakeLoginItems loginItems;
    app::BroadcastCenter broadcasts; // not the fixture's: the model must not hear these
    AppDelegateOptions options;
    int statusItemsMade = 0;
    int quits = 0;
    test::ModelFixture fixture;
};

TEST_F(AppDelegateTest, InstallsOneStatusItemAndOpensNothingBeforeTheModelArrives)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.installStatusItem();
    delegate.installStatusItem();
    EXPECT_EQ(statusItemsMade, 1);
    ASSERT_NE(delegate.statusItem(), nullptr);
    EXPECT_EQ(item(delegate).shows, 1);
    EXPECT_EQ(item(delegate).shownToolTip, "Exitwise");
    EXPECT_FALSE(item(delegate).shownIcon.isNull());
    ASSERT_NE(item(delegate).menu, nullptr);
    QStringList entries;
    for (const QAction* action : item(delegate).menu->actions()) {
        if (!action->isSeparator()) {
            entries << action->text();
        }
    }
    EXPECT_EQ(entries, (QStringList{"Open full window", "Pause monitoring", "Quit"}));

    emit delegate.statusItem()->triggered();
    EXPECT_FALSE(delegate.popover().isVisible());
    EXPECT_EQ(delegate.popoverContent(), nullptr);
    EXPECT_EQ(loginItems.statusReads, 0);
}

TEST_F(AppDelegateTest, WithoutATrayNothingIsInstalledAndTheToggleDoesNothing)
{
    options.makeStatusItem = [] { return std::unique_ptr<StatusItem>(); };
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.setModel(&fixture.makeModel());
    delegate.installStatusItem();
    EXPECT_EQ(delegate.statusItem(), nullptr);
    delegate.togglePopover();
    EXPECT_FALSE(delegate.popover().isVisible());
}

TEST_F(AppDelegateTest, EveryOpeningShowsFreshContentUnderTheItem)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.setModel(&fixture.makeModel({test::fullEvent("Sketch Pad", test::sampleTime())}));
    delegate.installStatusItem();
    const int readsAfterInstall = loginItems.statusReads;

    emit delegate.statusItem()->triggered();
    ASSERT_TRUE(delegate.popover().isVisible());
    EXPECT_EQ(loginItems.statusReads, readsAfterInstall + 1);
    EXPECT_EQ(delegate.popover().size(), QSize(340, 380));
    // Centred under the item.
    EXPECT_EQ(delegate.popover().geometry().center().x(), item(delegate).itemGeometry.center().x());
    EXPECT_GT(delegate.popover().y(), item(delegate).itemGeometry.bottom());
    ASSERT_NE(delegate.popoverContent(), nullptr);
    EXPECT_EQ(delegate.popoverContent()->eventRows().size(), 1u);

    delegate.togglePopover();
    EXPECT_FALSE(delegate.popover().isVisible());
    loginItems.current = LoginItemStatus::enabled; // switched on elsewhere meanwhile
    delegate.togglePopover();
    ASSERT_TRUE(delegate.popover().isVisible());
    EXPECT_EQ(loginItems.statusReads, readsAfterInstall + 2);
    EXPECT_TRUE(delegate.popoverContent()->launchAtLoginSwitch()->isChecked());
    delegate.popover().dismiss();
}

TEST_F(AppDelegateTest, AClickOnTheItemThatClosedThePopoverDoesNotReopenIt)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.setModel(&fixture.makeModel());
    delegate.installStatusItem();
    delegate.togglePopover();
    ASSERT_TRUE(delegate.popover().isVisible());
    delegate.popover().close(); // what a click outside the popup does
    delegate.togglePopover();
    EXPECT_FALSE(delegate.popover().isVisible());
}

TEST_F(AppDelegateTest, LaunchAtLoginSwitchShowsTheServicesRealState)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.setModel(&fixture.makeModel());
    delegate.installStatusItem();
    delegate.togglePopover();

    loginItems.failRegistration = true;
    delegate.popoverContent()->launchAtLoginSwitch()->click();
    EXPECT_EQ(loginItems.registerCalls, 1);
    EXPECT_FALSE(delegate.popoverContent()->launchAtLoginSwitch()->isChecked()); // snapped back
    EXPECT_TRUE(delegate.popover().isVisible());

    loginItems.failRegistration = false;
    delegate.popoverContent()->launchAtLoginSwitch()->click();
    EXPECT_EQ(loginItems.registerCalls, 2);
    EXPECT_EQ(loginItems.current, LoginItemStatus::enabled);
    EXPECT_TRUE(delegate.popoverContent()->launchAtLoginSwitch()->isChecked());

    delegate.popoverContent()->launchAtLoginSwitch()->click();
    EXPECT_EQ(loginItems.unregisterCalls, 1);
    EXPECT_FALSE(delegate.popoverContent()->launchAtLoginSwitch()->isChecked());
    delegate.popover().dismiss();
}

TEST_F(AppDelegateTest, RowClickSelectsRecordsOnceShowsTheWindowAndClosesThePopover)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    app::AppModel& model = fixture.makeModel({test::fullEvent("Sketch Pad", test::sampleTime()),
                                              test::fullEvent("Mail", test::sampleTime(-120), 77)});
    QMainWindow window; // closed to the tray
    delegate.setModel(&model);
    delegate.installStatusItem();
    delegate.togglePopover();
    const auto viewedBefore = fixture.usageCount(app::ProductAnalyticsEventName::diagnosisViewed);

    delegate.popoverContent()->eventRows()[1]->click();
    EXPECT_EQ(model.selectedEventID(), model.events()[1].id);
    EXPECT_EQ(fixture.usageCount(app::ProductAnalyticsEventName::diagnosisViewed), viewedBefore + 1);
    EXPECT_EQ(fixture.usageEvents().back().attributes.at("source"), "open_event");
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(delegate.popover().isVisible());
    QCoreApplication::processEvents(); // the replaced content goes away safely
}

TEST_F(AppDelegateTest, QuitComesFromThePopoverAndTheMenu)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.setModel(&fixture.makeModel());
    delegate.installStatusItem();
    delegate.togglePopover();
    delegate.popoverContent()->quitButton()->click();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(delegate.popover().isVisible());
    item(delegate).menu->actions().constLast()->trigger();
    EXPECT_EQ(quits, 2);
}

TEST_F(AppDelegateTest, BringsForwardAHiddenOrMinimisedMainWindow)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    delegate.bringMainWindowForward(); // no window: nothing happens, nothing is created
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::none_of(windows.cbegin(), windows.cend(),
                             [](QWidget* w) { return qobject_cast<QMainWindow*>(w) != nullptr; }));

    QMainWindow window;
    window.resize(400, 300);
    delegate.bringMainWindowForward();
    EXPECT_TRUE(window.isVisible());

    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    delegate.bringMainWindowForward();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}

struct ClickCase
{
    const char* name;
    QVariantMap userInfo;
};

TEST_F(AppDelegateTest, NotificationClickWithoutAnEventIdentifierPostsNothing)
{
    AppDelegate delegate(loginItems, broadcasts, options);
    QSignalSpy posted(&broadcasts, &app::BroadcastCenter::posted);
    const ClickCase cases[] = {
        {"missing", {{"other", "A1B2C3D4-0000-4000-8000-000000000001"}}},
        {"not a string", {{"event_id", 42}}},
        {"already a uuid value", {{"event_id", QVariant::fromValue(QUuid::createUuid())}}},
        {"not a uuid", {{"event_id", "not-a-uuid"}}},
        {"braced", {{"event_id", "{A1B2C3D4-0000-4000-8000-000000000001}"}}},
        {"empty", {{"event_id", ""}}},
    };
    for (const ClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(
            delegate.handleNotificationActivated("A1B2C3D4-0000-4000-8000-000000000001", c.userInfo));
    }
    EXPECT_EQ(posted.count(), 0);
}

TEST_F(AppDelegateTest, NotificationClickPostsTheIdentifierAsAUuidAndTheModelSelectsIt)
{
    const app::AppEvent older = test::fullEvent("Mail", test::sampleTime(-120), 77);
    app::AppModel& model = fixture.makeModel({test::fullEvent("Sketch Pad", test::sampleTime()), older});
    // Posted where the model listens.
    AppDelegate delegate(loginItems, fixture.broadcasts(), options);
    delegate.setModel(&model);
    QSignalSpy posted(&fixture.broadcasts(), &app::BroadcastCenter::posted);

    const QString text = QString::fromStdString(older.id.toString());
    EXPECT_TRUE(delegate.handleNotificationActivated(text, {{"event_id", text}}));
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted.at(0).at(0).toString(), "Exitwise.didSelectEventFromNotification");
    const QVariantMap userInfo = posted.at(0).at(1).toMap();
    ASSERT_EQ(userInfo.size(), 1);
    ASSERT_EQ(userInfo.value("event_id").metaType(), QMetaType::fromType<QUuid>());
    EXPECT_EQ(userInfo.value("event_id").toUuid(), QUuid::fromString(text));
    EXPECT_TRUE(test::waitUntil([&] { return model.selectedEventID() == older.id; }));
}

TEST_F(AppDelegateTest, ANotificationClickIsAViewOfTheClickedEventOnly)
{
    const app::AppEvent older = test::fullEvent("Mail", test::sampleTime(-120), 77);
    app::AppModel& model = fixture.makeModel({test::fullEvent("Sketch Pad", test::sampleTime()), older});
    QSettings settings(QString::fromStdString((fixture.directory() / "settings.ini").string()),
                       QSettings::IniFormat);
    settings.setValue(RootView::kOnboardingCompletedKey, true);
    MainWindowOptions windowOptions;
    windowOptions.settings = &settings;
    MainWindow window(model, windowOptions); // closed to the tray, the newest selected
    AppDelegate delegate(loginItems, fixture.broadcasts(), options);
    delegate.setModel(&model);
    const std::size_t before = fixture.usageEvents().size();

    const QString text = QString::fromStdString(older.id.toString());
    ASSERT_TRUE(delegate.handleNotificationActivated(text, {{"event_id", text}}));
    delegate.bringMainWindowForward(); // as the application does after a click
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(model.selectedEventID(), older.id);
    const std::vector<app::ProductAnalyticsEvent> usage = fixture.usageEvents();
    std::vector<std::string> viewed;
    for (std::size_t i = before; i < usage.size(); ++i) {
        if (usage[i].name == app::ProductAnalyticsEventName::diagnosisViewed) {
            viewed.push_back(usage[i].attributes.at("event_id"));
        }
    }
    EXPECT_EQ(viewed, std::vector<std::string>{older.id.toString()});
}

TEST_F(AppDelegateTest, TheItemWaitsForATrayAndAppearsWhenOneDoes)
{
    test::FakeTrayAvailability tray(false);
    options.tray = &tray;
    AppDelegate delegate(loginItems, broadcasts, options);
    QSignalSpy installed(&delegate, &AppDelegate::statusItemInstalled);
    delegate.setModel(&fixture.makeModel({test::fullEvent("Notes", test::sampleTime())}));
    delegate.installStatusItem();
    EXPECT_EQ(statusItemsMade, 0) << "no item while the desktop has no tray";
    EXPECT_EQ(delegate.statusItem(), nullptr);

    tray.set(true); // the panel started after us
    EXPECT_EQ(statusItemsMade, 1);
    ASSERT_NE(delegate.statusItem(), nullptr);
    EXPECT_EQ(item(delegate).shows, 1);
    EXPECT_EQ(installed.count(), 1);
    emit delegate.statusItem()->triggered(); // and it works: the popover opens with content
    EXPECT_TRUE(delegate.popover().isVisible());
    EXPECT_EQ(delegate.popoverContent()->eventRows().size(), 1u);
    delegate.popover().dismiss();

    tray.set(false); // a panel that restarts keeps our item: Qt puts it back
    tray.set(true);
    EXPECT_EQ(statusItemsMade, 1);
    EXPECT_EQ(installed.count(), 1);
}

TEST_F(AppDelegateTest, ATrayAloneInstallsNothingUntilTheAppAsks)
{
    test::FakeTrayAvailability tray(false);
    options.tray = &tray;
    AppDelegate delegate(loginItems, broadcasts, options);
    tray.set(true);
    EXPECT_EQ(statusItemsMade, 0);
    delegate.installStatusItem();
    EXPECT_EQ(statusItemsMade, 1);
}

TEST_F(AppDelegateTest, TheIconTheMenuAndTheTooltipFollowPausing)
{
    fixture.now = test::sampleTime(150);
    options.clock = [this] { return fixture.now; };
    AppDelegate delegate(loginItems, broadcasts, options);
    app::AppModel& model = fixture.makeModel({test::fullEvent("Notes", test::sampleTime())});
    delegate.setModel(&model);
    delegate.installStatusItem();
    QAction* pause = item(delegate).menu->actions().at(1);
    ASSERT_EQ(pause->text(), "Pause monitoring");
    EXPECT_TRUE(pause->isCheckable());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(item(delegate).shownToolTip, "Exitwise — Monitoring\nNotes — Crash, 2 min ago");
    const qint64 runningIcon = item(delegate).shownIcon.cacheKey();

    model.setMonitoringPaused(true); // from the popover's switch
    EXPECT_TRUE(pause->isChecked());
    EXPECT_EQ(item(delegate).shownToolTip, "Exitwise — Paused\nNotes — Crash, 2 min ago");
    EXPECT_NE(item(delegate).shownIcon.cacheKey(), runningIcon);

    pause->trigger(); // from the tray's menu
    EXPECT_FALSE(model.isMonitoringPaused());
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(item(delegate).shownToolTip, "Exitwise — Monitoring\nNotes — Crash, 2 min ago");

    // A new closure is the one the tooltip names.
    app::MonitoredTermination termination;
    termination.appName = "Sketch Pad";
    termination.terminatedAt = test::sampleTime(90);
    termination.terminationReason = core::TerminationReason::crashed;
    model.handleTermination(termination);
    EXPECT_TRUE(test::waitUntil([&] { return item(delegate).shownToolTip.contains("Sketch Pad"); }))
        << item(delegate).shownToolTip.toStdString();
    EXPECT_TRUE(item(delegate).shownToolTip.endsWith(", 1 min ago"))
        << item(delegate).shownToolTip.toStdString();
}

// The installed theme icons, found as a desktop finds them, and the full-colour ones without.
TEST_F(AppDelegateTest, TheTrayIconIsTheThemesSymbolicOneWithAFullColourFallback)
{
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    const QIcon fallbackRunning = trayIcon(false);
    const QIcon fallbackPaused = trayIcon(true);
    EXPECT_TRUE(fallbackRunning.name().isEmpty());
    ASSERT_FALSE(fallbackRunning.pixmap(22).isNull());
    ASSERT_FALSE(fallbackPaused.pixmap(22).isNull());
    EXPECT_NE(fallbackRunning.pixmap(22).toImage(), fallbackPaused.pixmap(22).toImage());

    QTemporaryDir themes;
    const QString apps = themes.filePath("hicolor/symbolic/apps");
    ASSERT_TRUE(QDir().mkpath(apps));
    QFile index(themes.filePath("hicolor/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=symbolic/apps\n\n"
                "[symbolic/apps]\nMinSize=8\nSize=16\nMaxSize=512\nType=Scalable\n");
    index.close();
    for (const char* name : {"exitwise-symbolic.svg", "exitwise-paused-symbolic.svg"}) {
        ASSERT_TRUE(QFile::copy(QStringLiteral(EXITWISE_ICONS_DIR "/hicolor/symbolic/apps/") + name,
                                apps + "/" + name));
    }
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName("hicolor");

    const QIcon running = trayIcon(false);
    const QIcon paused = trayIcon(true);
    EXPECT_EQ(running.name(), "exitwise-symbolic");
    EXPECT_EQ(paused.name(), "exitwise-paused-symbolic");
    // Monochrome: every drawn pixel has one colour, whatever its coverage.
    const QImage image = running.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
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

TEST(StatusToolTip, NamesTheStateAndTheNewestClosure)
{
    const core::Date now = test::sampleTime();
    app::AppEvent blocked = test::fullEvent("Sketch Pad", now - core::Seconds(3 * 3600 + 50));
    blocked.diagnosis.endState = core::EndState::launchBlocked;
    const app::AppEvent crash = test::fullEvent("Notes", now - core::Seconds(125));
    EXPECT_EQ(detail::statusToolTip(false, &crash, now), "Exitwise — Monitoring\nNotes — Crash, 2 min ago");
    EXPECT_EQ(detail::statusToolTip(true, &blocked, now),
              "Exitwise — Paused\nSketch Pad — Launch blocked, 3 h ago");
    EXPECT_EQ(detail::statusToolTip(false, nullptr, now), "Exitwise — Monitoring\nNo closures yet");
}

TEST(StatusToolTip, SaysHowLongAgoInWholeUnits)
{
    struct Case
    {
        double seconds;
        const char* text;
    };
    // clang-format off
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(detail::closureAge(core::Seconds(c.seconds)), c.text);
    }
}

TEST(PopoverPosition, StaysOnScreenNextToWhatItIsAnchoredTo)
{
    const QSize size(340, 380);
    const QRect screen(0, 0, 1920, 1080);
    const int gap = PopoverWindow::kAnchorGap;
    struct Case
    {
        const char* name;
        QRect anchor;
        std::optional<QPoint> cursor;
        QPoint expected;
    };
    const Case cases[] = {
        {"under an item in a top panel", QRect(1000, 0, 24, 24), std::nullopt, QPoint(1012 - 170, 24 + gap)},
        {"above an item in a bottom panel", QRect(1000, 1056, 24, 24), std::nullopt,
         QPoint(1012 - 170, 1056 - gap - 380)},
        {"item at the right edge", QRect(1900, 0, 20, 24), std::nullopt, QPoint(1920 - 340, 24 + gap)},
        {"no item position: beside the pointer", QRect(), QPoint(500, 10), QPoint(500 - 170, 10 + gap)},
        {"pointer in the bottom-left corner", QRect(), QPoint(3, 1075), QPoint(0, 1075 - gap - 380)},
        {"nothing known: top-right corner", QRect(), std::nullopt, QPoint(1920 - 8 - 340, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detail::popoverPosition(size, screen, c.anchor, c.cursor), c.expected);
    }
}

} // namespace
} // namespace exitwise::ui
