// SPDX-License-Identifier: MIT
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
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

using app::ProductAnalyticsEventName;

QStringList labelTexts(const QWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

TEST(MenuBarPopoverContentViewTest, ListsAtMostTheFiveNewestClosuresInTheModelsOrder)
{
    for (const int stored : {0, 1, 5, 6, 9}) {
        SCOPED_TRACE(stored);
        test::ModelFixture fixture;
        app::AppModel& model = fixture.makeModel(test::sampleHistory(stored));
        MenuBarPopoverContentView view(model, {});

        const std::size_t expected = std::min<std::size_t>(stored, 5);
        ASSERT_EQ(view.eventRows().size(), expected);
        ASSERT_EQ(view.listedEventIDs().size(), expected);
        for (std::size_t i = 0; i < expected; ++i) {
            EXPECT_EQ(view.listedEventIDs()[i], model.events()[i].id);
            EXPECT_EQ(view.eventRows()[i]->text(), QString::fromStdString(model.events()[i].appName));
        }
        if (stored == 0) {
            ASSERT_NE(view.emptyLabel(), nullptr);
            EXPECT_EQ(view.emptyLabel()->text(), "No events yet.");
        } else {
            EXPECT_EQ(view.emptyLabel(), nullptr);
        }
    }
}

TEST(MenuBarPopoverContentViewTest, RowShowsNameRawCauseAndConfidence)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.endState = core::EndState::killed;
    event.diagnosis.dominantCause = core::DominantCause::killedJetsamMemory;
    event.diagnosis.confidence = core::Confidence::medium;
    test::ModelFixture fixture;
    MenuBarPopoverContentView view(fixture.makeModel({event}), {});

    ASSERT_EQ(view.eventRows().size(), 1u);
    const QStringList texts = labelTexts(*view.eventRows().front());
    EXPECT_TRUE(texts.contains("Sketch Pad")) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains("Killed: memory pressure")) << texts.join('|').toStdString();
    // How it ended beside the cause, and when.
    EXPECT_TRUE(texts.contains("\u2022 2/28/26")) << texts.join('|').toStdString();
    EXPECT_EQ(view.eventRows().front()->accessibleName(),
              "Sketch Pad, Killed, Killed: memory pressure, 2/28/26");
    EXPECT_EQ(view.eventRows().front()->toolTip(), "Killed \u2022 Killed: memory pressure");
    const QStringList all = labelTexts(view);
    EXPECT_TRUE(all.contains("Exitwise"));
    EXPECT_TRUE(all.contains("Recent events"));
    EXPECT_EQ(view.openWindowButton()->text(), "Open full window");
    EXPECT_EQ(view.quitButton()->text(), "Quit");
}

TEST(MenuBarPopoverContentViewTest, PauseSwitchDrivesTheModelAndFollowsIt)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel();
    MenuBarPopoverContentView view(model, {});
    QSignalSpy changes(&model, &app::AppModel::monitoringPausedChanged);

    EXPECT_EQ(view.stateLabel()->text(), "Monitoring");
    EXPECT_EQ(view.stateLabel()->palette().color(QPalette::WindowText), style::primary(&view));
    EXPECT_EQ(view.pauseSwitch()->text(), "Pause monitoring");
    EXPECT_FALSE(view.pauseSwitch()->isChecked());

    view.pauseSwitch()->click();
    EXPECT_TRUE(model.isMonitoringPaused());
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(view.stateLabel()->text(), "Paused");
    EXPECT_EQ(view.stateLabel()->palette().color(QPalette::WindowText), style::secondary(&view));

    // A change made elsewhere (the window's toolbar) shows here and is not sent back.
    model.setMonitoringPaused(false);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_FALSE(view.pauseSwitch()->isChecked());
    EXPECT_EQ(view.stateLabel()->text(), "Monitoring");
    EXPECT_FALSE(model.isMonitoringPaused());
}

TEST(MenuBarPopoverContentViewTest, LaunchAtLoginReportsOnlyTheUsersChanges)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel();
    std::vector<bool> toggles;
    MenuBarPopoverContentView::Options options;
    options.launchAtLoginEnabled = true;
    options.supportsLaunchAtLogin = true;
    options.onToggleLaunchAtLogin = [&](bool enabled) { toggles.push_back(enabled); };
    MenuBarPopoverContentView view(model, options);

    ASSERT_NE(view.launchAtLoginSwitch(), nullptr);
    EXPECT_EQ(view.launchAtLoginSwitch()->text(), "Launch at login");
    EXPECT_TRUE(view.launchAtLoginSwitch()->isChecked());
    EXPECT_TRUE(toggles.empty()); // the initial value is not a change
    view.launchAtLoginSwitch()->click();
    EXPECT_EQ(toggles, std::vector<bool>{false});

    options.supportsLaunchAtLogin = false;
    MenuBarPopoverContentView without(model, options);
    EXPECT_EQ(without.launchAtLoginSwitch(), nullptr);
}

TEST(MenuBarPopoverContentViewTest, RowClickOpensTheEventThenTheWindow)
{
    test::ModelFixture fixture;
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
    const app::Uuid second = model.events()[1].id;

    view.eventRows()[1]->click();
    EXPECT_EQ(model.selectedEventID(), second);
    EXPECT_EQ(calls, std::vector<std::string>{second.toString()});
    const auto usage = fixture.usageEvents();
    std::vector<app::ProductAnalyticsEvent> viewed;
    std::copy_if(usage.begin(), usage.end(), std::back_inserter(viewed),
                 [](const auto& e) { return e.name == ProductAnalyticsEventName::diagnosisViewed; });
    ASSERT_EQ(viewed.size(), 1u);
    EXPECT_EQ(viewed.front().attributes.at("source"), "open_event");
    EXPECT_EQ(viewed.front().attributes.at("event_id"), second.toString());

    view.openWindowButton()->click();
    EXPECT_EQ(calls.size(), 2u);
    view.quitButton()->click();
    EXPECT_EQ(quits, 1);
}

TEST(MenuBarPopoverContentViewTest, FollowsTheModelsEventList)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel(test::sampleHistory(2));
    MenuBarPopoverContentView view(model, {});
    ASSERT_EQ(view.eventRows().size(), 2u);

    // A row rebuilt while its own click is being delivered must survive until it returns.
    QAbstractButton* first = view.eventRows().front();
    QObject::connect(first, &QAbstractButton::clicked, &model, [&model] { emit model.eventsChanged(); });
    first->click();
    EXPECT_EQ(view.eventRows().size(), 2u);
    EXPECT_NE(view.eventRows().front(), first);
}

TEST(MenuBarPopoverContentViewTest, SwitchesKeepTheKeyboardFocusWhenToggled)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel(test::sampleHistory(2));
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

    content.pauseSwitch()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(content.pauseSwitch(), Qt::Key_Space);
    EXPECT_TRUE(model.isMonitoringPaused());
    EXPECT_TRUE(content.pauseSwitch()->hasFocus());
    EXPECT_EQ(content.stateLabel()->text(), "Paused");
    QTest::keyClick(content.pauseSwitch(), Qt::Key_Space);
    EXPECT_FALSE(model.isMonitoringPaused());
    EXPECT_TRUE(content.pauseSwitch()->hasFocus());

    QCheckBox* login = content.launchAtLoginSwitch();
    login->setFocus(Qt::TabFocusReason);
    QTest::keyClick(login, Qt::Key_Space);
    EXPECT_EQ(toggles, std::vector<bool>{true});
    EXPECT_FALSE(login->isChecked()); // snapped back, not reported as another change
    EXPECT_TRUE(login->hasFocus());
    // Nothing was built again.
    EXPECT_EQ(content.eventRows(), rows);
}

TEST(MenuBarPopoverContentViewTest, NotifyAboutShowsTheRememberedChoiceAndSendsTheUsersOnly)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel();
    EXPECT_EQ(MenuBarPopoverContentView(model, {}).notifyAboutChoice(), nullptr);

    std::vector<app::NotificationScope> chosen;
    MenuBarPopoverContentView::Options options;
    options.notificationScope = [] { return app::NotificationScope::unexpectedOnly; };
    options.onChangeNotificationScope = [&](app::NotificationScope scope) { chosen.push_back(scope); };
    MenuBarPopoverContentView view(model, options);
    QComboBox* choice = view.notifyAboutChoice();
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->accessibleName(), "Notify about");
    EXPECT_TRUE(labelTexts(view).contains("Notify about"));
    ASSERT_EQ(choice->count(), 2);
    EXPECT_EQ(choice->itemText(0), "every closure");
    EXPECT_EQ(choice->itemText(1), "unexpected endings only");
    EXPECT_EQ(choice->currentText(), "unexpected endings only");
    EXPECT_TRUE(chosen.empty());

    view.show();
    QApplication::setActiveWindow(&view);
    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Up);
    EXPECT_EQ(chosen, std::vector<app::NotificationScope>{app::NotificationScope::everyClosure});
    EXPECT_TRUE(choice->hasFocus());
    QTest::keyClick(choice, Qt::Key_Down);
    EXPECT_EQ(chosen, (std::vector<app::NotificationScope>{app::NotificationScope::everyClosure,
                                                           app::NotificationScope::unexpectedOnly}));
}

TEST(MenuBarPopoverContentViewTest, JournalSwitchShowsTheSettingAndSendsTheUsersToggles)
{
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel();
    EXPECT_EQ(MenuBarPopoverContentView(model, {}).journalEntriesSwitch(), nullptr);

    std::vector<bool> toggles;
    MenuBarPopoverContentView::Options options;
    options.journalEntriesEnabled = [] { return true; };
    options.onToggleJournalEntries = [&](bool enabled) { toggles.push_back(enabled); };
    MenuBarPopoverContentView view(model, options);
    QCheckBox* journal = view.journalEntriesSwitch();
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->text(), "Log each closure to the system journal");
    EXPECT_TRUE(journal->isChecked());
    EXPECT_TRUE(toggles.empty());
    journal->click();
    EXPECT_EQ(toggles, std::vector<bool>{false});
}

} // namespace
} // namespace exitwise::ui
