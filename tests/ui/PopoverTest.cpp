// SPDX-License-Identifier: MIT
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/UiFixtures.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <gtest/gtest.h>
#include <ranges>

namespace exitwise::ui {
namespace {

using app::NotificationScope;
using test::labelTexts;

TEST(MenuBarPopoverContentViewTest, ListsAtMostTheFiveNewestClosuresInTheModelsOrder)
{
    test::ModelFixture fixture;
    for (const int stored : {0, 1, 5, 6, 9}) {
        SCOPED_TRACE(stored);
        app::AppModel& model = fixture.makeModel(test::sampleHistory(stored));
        MenuBarPopoverContentView view(model, {});
        std::vector<app::Uuid> newest;
        std::ranges::transform(model.events() | std::views::take(5), std::back_inserter(newest),
                               &app::AppEvent::id);
        EXPECT_EQ(view.listedEventIDs(), newest);
        EXPECT_EQ(view.emptyLabel() != nullptr ? view.emptyLabel()->text() : "(none)",
                  stored == 0 ? "No events yet." : "(none)");
    }
}

TEST(MenuBarPopoverContentViewTest, RowShowsNameRawCauseAndConfidence)
{
    test::ModelFixture fixture;
    MenuBarPopoverContentView view(fixture.makeModel({test::eventWithVerdict(
                                       "Sketch Pad", test::sampleTime(), core::EndState::killed,
                                       core::DominantCause::killedJetsamMemory, core::Confidence::medium)}),
                                   {});
    ASSERT_EQ(view.eventRows().size(), 1u);
    const QAbstractButton& row = *view.eventRows().front();
    // How it ended beside the cause, and when.
    test::expectTexts(view, "popover-one-closure");
    EXPECT_EQ(row.accessibleName(), "Sketch Pad, Killed, Killed: memory pressure, 2/28/26");
    EXPECT_EQ(row.toolTip(), "Killed \u2022 Killed: memory pressure");
    EXPECT_EQ(view.openWindowButton()->text(), "Open full window");
    EXPECT_EQ(view.quitButton()->text(), "Quit");
}

// The switches show the model and the remembered choices, and send only what the user changes,
// without rebuilding the panel: the keyboard focus stays where it was. A row opens the window on
// its event.
TEST(MenuBarPopoverContentViewTest, SwitchesShowTheStateAndSendTheUsersChangesOnly)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel(test::sampleHistory(2));
    const MenuBarPopoverContentView plain(model, {});
    EXPECT_EQ(plain.launchAtLoginSwitch(), nullptr);
    EXPECT_EQ(plain.notifyAboutChoice(), nullptr);
    EXPECT_EQ(plain.journalEntriesSwitch(), nullptr);

    QSignalSpy changes(&model, &app::AppModel::monitoringPausedChanged);
    std::vector<std::string> sent;
    MenuBarPopoverContentView::Options options;
    options.launchAtLoginEnabled = true;
    options.supportsLaunchAtLogin = true;
    options.onToggleLaunchAtLogin = [&](bool on) { sent.push_back(on ? "login on" : "login off"); };
    options.notificationScope = [] { return NotificationScope::unexpectedOnly; };
    options.onChangeNotificationScope = [&](NotificationScope scope) {
        sent.push_back(scope == NotificationScope::everyClosure ? "every" : "unexpected");
    };
    options.journalEntriesEnabled = [] { return true; };
    options.onToggleJournalEntries = [&](bool on) { sent.push_back(on ? "journal on" : "journal off"); };
    // The event is selected before the window comes.
    options.onOpenWindow = [&] {
        sent.push_back("open " + model.selectedEventID().value_or(app::Uuid()).toString());
    };
    MenuBarPopoverContentView view(model, options);
    view.show();
    QApplication::setActiveWindow(&view);
    const std::vector<QAbstractButton*> rows = view.eventRows();
    QCheckBox* pause = view.pauseSwitch();
    QComboBox* choice = view.notifyAboutChoice();
    EXPECT_EQ(
        (QStringList{pause->text(), view.launchAtLoginSwitch()->text(), view.journalEntriesSwitch()->text(),
                     choice->accessibleName(), choice->currentText()}),
        (QStringList{"Pause monitoring", "Launch at login", "Log each closure to the system journal",
                     "Notify about", "unexpected endings only"}));
    EXPECT_TRUE(view.launchAtLoginSwitch()->isChecked() && view.journalEntriesSwitch()->isChecked());
    EXPECT_TRUE(labelTexts(view).contains("Notify about"));
    EXPECT_EQ(view.stateLabel()->palette().color(QPalette::WindowText), style::primary(&view));

    pause->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pause, Qt::Key_Space);
    EXPECT_TRUE(model.isMonitoringPaused());
    EXPECT_TRUE(pause->hasFocus());
    EXPECT_EQ(view.stateLabel()->text(), "Paused");
    EXPECT_EQ(view.stateLabel()->palette().color(QPalette::WindowText), style::secondary(&view));
    // A change made elsewhere (the window's toolbar) shows here and is not sent back.
    model.setMonitoringPaused(false);
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(view.stateLabel()->text(), "Monitoring");
    EXPECT_EQ(changes.count(), 2);

    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Up);
    EXPECT_EQ(choice->currentText(), "every closure");
    EXPECT_TRUE(choice->hasFocus());
    QTest::keyClick(choice, Qt::Key_Down);
    view.launchAtLoginSwitch()->click();
    view.journalEntriesSwitch()->click();
    EXPECT_EQ(view.eventRows(), rows);
    rows[1]->click();
    view.openWindowButton()->click();
    const std::string second = "open " + model.events()[1].id.toString();
    EXPECT_EQ(sent,
              (std::vector<std::string>{"every", "unexpected", "login off", "journal off", second, second}));
}

TEST(MenuBarPopoverContentViewTest, ARowRebuiltWhileItsClickIsDeliveredSurvivesUntilItReturns)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel(test::sampleHistory(2));
    MenuBarPopoverContentView view(model, {});
    QAbstractButton* first = view.eventRows().front();
    QObject::connect(first, &QAbstractButton::clicked, &model, [&model] { emit model.eventsChanged(); });
    first->click();
    EXPECT_EQ(view.eventRows().size(), 2u);
    EXPECT_NE(view.eventRows().front(), first);
}

} // namespace
} // namespace exitwise::ui
