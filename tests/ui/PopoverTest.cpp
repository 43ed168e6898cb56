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

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::NotificationScope;
using test::labelTexts;

class MenuBarPopoverContentViewTest : public ::testing::Test
{
protected:
    test::ModelFixture fixture;
};

TEST_F(MenuBarPopoverContentViewTest, ListsAtMostTheFiveNewestClosuresInTheModelsOrder)
{
    for (const int stored : {0, 1, 5, 6, 9}) {
        SCOPED_TRACE(stored);
        app::AppModel& model = fixture.makeModel(test::sampleHistory(stored));
        MenuBarPopoverContentView view(model, {});
        std::vector<app::Uuid> newest;
        QStringList names;
        for (int i = 0; i < std::min(stored, 5); ++i) {
            newest.push_back(model.events()[i].id);
            names << QString::fromStdString(model.events()[i].appName);
        }
        QStringList rows;
        for (const QAbstractButton* row : view.eventRows()) {
            rows << row->text();
        }
        EXPECT_EQ(view.listedEventIDs(), newest);
        EXPECT_EQ(rows, names);
        EXPECT_EQ(view.emptyLabel() != nullptr ? view.emptyLabel()->text() : "(none)",
                  stored == 0 ? "No events yet." : "(none)");
    }
}

TEST_F(MenuBarPopoverContentViewTest, RowShowsNameRawCauseAndConfidence)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.endState = core::EndState::killed;
    event.diagnosis.dominantCause = core::DominantCause::killedJetsamMemory;
    event.diagnosis.confidence = core::Confidence::medium;
    MenuBarPopoverContentView view(fixture.makeModel({event}), {});
    ASSERT_EQ(view.eventRows().size(), 1u);
    const QAbstractButton& row = *view.eventRows().front();
    // How it ended beside the cause, and when.
    test::expectTexts(view, "popover-one-closure");
    EXPECT_EQ(row.accessibleName(), "Sketch Pad, Killed, Killed: memory pressure, 2/28/26");
    EXPECT_EQ(row.toolTip(), "Killed \u2022 Killed: memory pressure");
    EXPECT_EQ(view.openWindowButton()->text(), "Open full window");
    EXPECT_EQ(view.quitButton()->text(), "Quit");
}

TEST_F(MenuBarPopoverContentViewTest, SwitchesFollowTheModelAndKeepTheKeyboardFocus)
{
    app::AppModel& model = fixture.makeModel(test::sampleHistory(2));
    QSignalSpy changes(&model, &app::AppModel::monitoringPausedChanged);
    MenuBarPopoverContentView* view = nullptr;
    std::vector<bool> toggles;
    MenuBarPopoverContentView::Options options;
    options.supportsLaunchAtLogin = true;
    // The login service refuses: its real state comes back to the switch.
    options.onToggleLaunchAtLogin = [&](bool enabled) {
        toggles.push_back(enabled);
        view->setLaunchAtLoginEnabled(false);
    };
    MenuBarPopoverContentView content(model, options);
    view = &content;
    content.show();
    QApplication::setActiveWindow(&content);
    const std::vector<QAbstractButton*> rows = content.eventRows();
    QCheckBox* pause = content.pauseSwitch();
    EXPECT_EQ(pause->text(), "Pause monitoring");
    EXPECT_EQ(content.stateLabel()->text(), "Monitoring");
    EXPECT_EQ(content.stateLabel()->palette().color(QPalette::WindowText), style::primary(&content));

    pause->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pause, Qt::Key_Space);
    EXPECT_TRUE(model.isMonitoringPaused());
    EXPECT_TRUE(pause->hasFocus());
    EXPECT_EQ(content.stateLabel()->text(), "Paused");
    EXPECT_EQ(content.stateLabel()->palette().color(QPalette::WindowText), style::secondary(&content));
    // A change made elsewhere (the window's toolbar) shows here and is not sent back.
    model.setMonitoringPaused(false);
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(content.stateLabel()->text(), "Monitoring");
    EXPECT_EQ(changes.count(), 2);

    QCheckBox* login = content.launchAtLoginSwitch();
    login->setFocus(Qt::TabFocusReason);
    QTest::keyClick(login, Qt::Key_Space);
    EXPECT_EQ(toggles, std::vector<bool>{true});
    EXPECT_FALSE(login->isChecked()); // snapped back, not reported as another change
    EXPECT_TRUE(login->hasFocus());
    // Nothing was built again.
    EXPECT_EQ(content.eventRows(), rows);
}

TEST_F(MenuBarPopoverContentViewTest, SettingsShowTheRememberedChoiceAndSendTheUsersChangesOnly)
{
    app::AppModel& model = fixture.makeModel();
    const MenuBarPopoverContentView plain(model, {});
    EXPECT_EQ(plain.launchAtLoginSwitch(), nullptr);
    EXPECT_EQ(plain.notifyAboutChoice(), nullptr);
    EXPECT_EQ(plain.journalEntriesSwitch(), nullptr);

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
    MenuBarPopoverContentView view(model, options);
    QComboBox* choice = view.notifyAboutChoice();
    EXPECT_EQ(view.launchAtLoginSwitch()->text(), "Launch at login");
    EXPECT_TRUE(view.launchAtLoginSwitch()->isChecked());
    EXPECT_EQ(view.journalEntriesSwitch()->text(), "Log each closure to the system journal");
    EXPECT_TRUE(view.journalEntriesSwitch()->isChecked());
    EXPECT_EQ(choice->accessibleName(), "Notify about");
    EXPECT_TRUE(labelTexts(view).contains("Notify about"));
    EXPECT_EQ(choice->currentText(), "unexpected endings only");
    EXPECT_TRUE(sent.empty()); // the initial values are no changes

    view.show();
    QApplication::setActiveWindow(&view);
    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Up);
    EXPECT_EQ(choice->currentText(), "every closure");
    EXPECT_TRUE(choice->hasFocus());
    QTest::keyClick(choice, Qt::Key_Down);
    view.launchAtLoginSwitch()->click();
    view.journalEntriesSwitch()->click();
    EXPECT_EQ(sent, (std::vector<std::string>{"every", "unexpected", "login off", "journal off"}));
}

TEST_F(MenuBarPopoverContentViewTest, RowClickOpensTheEventThenTheWindow)
{
    app::AppModel& model = fixture.makeModel(test::sampleHistory(3));
    std::vector<std::string> calls;
    MenuBarPopoverContentView::Options options;
    options.onOpenWindow = [&] {
        // The selection is already made when the window comes forward.
        calls.push_back(model.selectedEventID() ? model.selectedEventID()->toString() : "none");
    };
    int quits = 0;
    options.onQuit = [&] { ++quits; };
    MenuBarPopoverContentView view(model, options);
    const std::string second = model.events()[1].id.toString();

    view.eventRows()[1]->click();
    EXPECT_EQ(calls, std::vector<std::string>{second});
    EXPECT_EQ(test::viewsSince(fixture), std::vector<std::string>{"open_event " + second});
    view.openWindowButton()->click();
    EXPECT_EQ(calls.size(), 2u);
    view.quitButton()->click();
    EXPECT_EQ(quits, 1);
}

TEST_F(MenuBarPopoverContentViewTest, ARowRebuiltWhileItsClickIsDeliveredSurvivesUntilItReturns)
{
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
