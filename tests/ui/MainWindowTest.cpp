// SPDX-License-Identifier: MIT
#include "ui/MainWindow.h"

#include "app/stores/Export.h"
#include "support/EventLoop.h"
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "ui/AboutDialog.h"
#include "ui/EventDetailView.h"
#include "ui/IdleDetailView.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/RootView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::ui {
namespace {

using app::ProductAnalyticsEventName;

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Diagnosis views as (source, event id).
using Views = std::vector<std::pair<std::string, std::string>>;

struct SavePanelCall
{
    QString title;
    QString proposedName;
    QString filter;
};

class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest()
        : settings(QString::fromStdString((fixture.directory() / "settings.ini").string()),
                   QSettings::IniFormat)
    {}

    // The window over `stored`; `onboarded` says whether the checklist was completed before.
    MainWindow& open(const std::vector<app::AppEvent>& stored, bool onboarded = true)
    {
        settings.setValue(RootView::kOnboardingCompletedKey, onboarded);
        MainWindowOptions options;
        options.settings = &settings;
        options.quit = [this] { ++quits; };
        options.dataDirectory = QStringLiteral("/home/ada/.local/share/Exitwise");
        options.evidenceNote = evidenceNote;
        options.savePanel = [this](const QString& title, const QString& name, const QString& filter) {
            calls.push_back({title, name, filter});
            return saveLocation;
        };
        window = std::make_unique<MainWindow>(fixture.makeModel(stored), std::move(options));
        window->show();
        QApplication::setActiveWindow(window.get());
        QCoreApplication::processEvents();
        return *window;
    }

    void clickRow(int row)
    {
        QListView* list = window->rootView()->sidebar()->listView();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
    }

    // The diagnosis views recorded from the `from`th usage record on.
    [[nodiscard]] Views viewsSince(std::size_t from) const
    {
        const std::vector<app::ProductAnalyticsEvent> usage = fixture.usageEvents();
        Views views;
        for (std::size_t i = from; i < usage.size(); ++i) {
            if (usage[i].name == ProductAnalyticsEventName::diagnosisViewed) {
                views.emplace_back(usage[i].attributes.at("source"), usage[i].attributes.at("event_id"));
            }
        }
        return views;
    }

    test::ModelFixture fixture;
    QSettings settings;
    std::vector<SavePanelCall> calls;
    std::optional<QString> saveLocation;
    std::optional<QString> evidenceNote;
    int quits = 0;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, ShortcutsTriggerTheirActions)
{
    MainWindow& w = open(test::sampleHistory(2));
    QLineEdit* search = w.rootView()->sidebar()->searchField();
    search->setText("fire");
    ASSERT_FALSE(search->hasFocus());

    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());
    EXPECT_EQ(search->selectedText(), "fire"); // typing replaces the last search

    // The export menu opens (and blocks until closed), ready for the arrow keys.
    QWidget* popup = nullptr;
    QTimer::singleShot(0, [&popup] {
        popup = QApplication::activePopupWidget();
        if (popup != nullptr) {
            popup->close();
        }
    });
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(popup, w.exportButton()->menu());
    EXPECT_TRUE(calls.empty()); // nothing is exported before a choice
    QApplication::setActiveWindow(&w);

    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_TRUE(w.rootView()->isOnboardingPresented());
    w.rootView()->onboardingChecklist()->skipButton()->click();
    QApplication::setActiveWindow(&w);

    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(w.isVisible());
    QTest::keyClick(&w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(quits, 1);

    // The keys as a desktop user expects them.
    // clang-format off
    const std::pair<QAction*, const char*> expected[] = {
        {w.searchAction(),         "Ctrl+F"},
        {w.exportMenuAction(),     "Ctrl+E"},
        {w.gettingStartedAction(), "F1"},
        {w.closeAction(),          "Ctrl+W"},
        {w.quitAction(),           "Ctrl+Q"},
    };
    // clang-format on
    for (const auto& [action, keys] : expected) {
        EXPECT_EQ(action->shortcut().toString(), keys) << action->text().toStdString();
    }
}

TEST_F(MainWindowTest, TabReachesEveryToolbarButton)
{
    MainWindow& w = open(test::sampleHistory(2));
    w.rootView()->sidebar()->listView()->setFocus();
    QSet<QWidget*> reached;
    for (int i = 0; i < 40 && QApplication::focusWidget() != nullptr; ++i) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    auto* toolbar = w.findChild<QToolBar*>();
    for (QAction* action : {w.pauseAction(), w.gettingStartedAction(), w.aboutAction()}) {
        EXPECT_TRUE(reached.contains(toolbar->widgetForAction(action))) << action->text().toStdString();
    }
    EXPECT_TRUE(reached.contains(w.exportButton()));
    EXPECT_TRUE(reached.contains(w.rootView()->sidebar()->searchField()));

    // Space on the focused button acts, as a click would.
    QWidget* pause = toolbar->widgetForAction(w.pauseAction());
    pause->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pause, Qt::Key_Space);
    EXPECT_TRUE(fixture.model().isMonitoringPaused());
}

TEST_F(MainWindowTest, AboutSaysVersionDataDirectoryAndEvidence)
{
    evidenceNote =
        QStringLiteral("kernel messages are not readable (add yourself to the systemd-journal or adm "
                       "group to read them)");
    MainWindow& w = open(test::sampleHistory(1));
    w.aboutAction()->trigger();
    auto* about = qobject_cast<AboutDialog*>(w.aboutDialog());
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About Exitwise");
    EXPECT_TRUE(about->versionLabel()->text().startsWith("Version "));
    EXPECT_GT(about->versionLabel()->text().size(), 8);
    EXPECT_EQ(about->dataDirectoryLabel()->text(), "/home/ada/.local/share/Exitwise");
    EXPECT_EQ(
        about->sourcesLabel()->text(),
        "\u2022 How each application's process ended: its exit status, or the signal that stopped it\n"
        "\u2022 Crash records: systemd-coredump entries, apport reports in /var/crash, ABRT problem "
        "directories\n"
        "\u2022 The systemd journal: kernel, memory-killer and loader messages, and the applications' own "
        "output");
    ASSERT_NE(about->evidenceNoteLabel(), nullptr);
    EXPECT_EQ(
        about->evidenceNoteLabel()->text(),
        "Kernel messages are not readable (add yourself to the systemd-journal or adm group to read them).");

    // A second request brings the same dialog forward.
    w.aboutAction()->trigger();
    EXPECT_EQ(w.aboutDialog(), about);
    about->close();
    EXPECT_TRUE(test::waitUntil([&] { return w.aboutDialog() == nullptr; }));
}

TEST(AboutDialogTest, NoNoteWhenEverythingIsReadable)
{
    for (const std::optional<QString>& note : {std::optional<QString>(), std::optional<QString>(QString())}) {
        AboutDialog about({QStringLiteral("1.2+3"), QStringLiteral("/data"), note});
        EXPECT_EQ(about.versionLabel()->text(), "Version 1.2+3");
        EXPECT_EQ(about.evidenceNoteLabel(), nullptr);
    }
}

TEST_F(MainWindowTest, ToolbarPausesAndResumesMonitoring)
{
    MainWindow& w = open(test::sampleHistory(2));
    EXPECT_EQ(w.windowTitle(), "Exitwise");
    EXPECT_EQ(w.minimumSize(), QSize(860, 540));

    auto* toolbar = w.findChild<QToolBar*>();
    ASSERT_NE(toolbar, nullptr);
    QStringList items;
    for (QAction* action : toolbar->actions()) {
        if (QWidget* widget = toolbar->widgetForAction(action);
            auto* button = qobject_cast<QToolButton*>(widget)) {
            items << button->text();
        }
    }
    EXPECT_EQ(items, QStringList({"Pause Monitoring", "Export", "Getting Started", "About"}));
    QStringList exports;
    for (QAction* action : w.exportButton()->menu()->actions()) {
        exports << action->text();
    }
    EXPECT_EQ(exports, QStringList({"Export JSON", "Export CSV"}));
    EXPECT_EQ(w.gettingStartedAction()->toolTip(), "Open first-run checklist and sample workflow.");

    EXPECT_EQ(w.pauseButton()->accessibleName(), "Pause monitoring app closures");
    w.pauseButton()->click();
    EXPECT_TRUE(fixture.model().isMonitoringPaused());
    EXPECT_EQ(w.pauseAction()->text(), "Resume Monitoring");
    EXPECT_EQ(w.pauseButton()->accessibleName(), "Resume monitoring app closures");
    EXPECT_EQ(w.rootView()->sidebar()->titleLabel()->text(), "Monitoring paused");
    w.pauseButton()->click();
    EXPECT_FALSE(fixture.model().isMonitoringPaused());
    EXPECT_EQ(w.pauseAction()->text(), "Pause Monitoring");
}

TEST_F(MainWindowTest, APopoverRowClickIsOneViewFromThePopoverWhileTheWindowIsOpen)
{
    MainWindow& w = open(test::sampleHistory(3));
    const std::string third = fixture.model().events()[2].id.toString();
    MenuBarPopoverContentView::Options options;
    options.onOpenWindow = [&w] { w.show(); };
    MenuBarPopoverContentView popover(fixture.model(), options);
    const std::size_t before = fixture.usageEvents().size();

    popover.eventRows()[2]->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(viewsSince(before), (Views{{"open_event", third}}));
}

TEST_F(MainWindowTest, SelectionsWhileTheWindowIsHiddenAreNoViewsUntilItShowsOne)
{
    MainWindow& w = open(test::sampleHistory(3));
    const std::vector<app::AppEvent>& events = fixture.model().events();
    w.hide(); // closed to the tray
    const std::size_t before = fixture.usageEvents().size();

    fixture.model().setSelectedEventID(events[2].id);
    fixture.model().setSelectedEventID(events[1].id);
    QCoreApplication::processEvents();
    EXPECT_EQ(viewsSince(before), Views{});

    w.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(viewsSince(before), (Views{{"detail_view", events[1].id.toString()}}));
}

TEST_F(MainWindowTest, SelectingARowTwiceRecordsOneViewAndClearingNone)
{
    const std::vector<app::AppEvent> events = test::sampleHistory(3);
    MainWindow& w = open(events);
    // The newest is selected at start and its detail shows.
    ASSERT_NE(w.rootView()->eventDetail(), nullptr);
    EXPECT_EQ(w.rootView()->eventDetail()->eventID(), events[0].id);
    const std::size_t atStart = fixture.usageCount(ProductAnalyticsEventName::diagnosisViewed);

    clickRow(2);
    clickRow(2);
    ASSERT_EQ(fixture.model().selectedEventID(), events[2].id);
    ASSERT_NE(w.rootView()->eventDetail(), nullptr);
    EXPECT_EQ(w.rootView()->eventDetail()->eventID(), events[2].id);
    const std::vector<app::ProductAnalyticsEvent> usage = fixture.usageEvents();
    ASSERT_EQ(fixture.usageCount(ProductAnalyticsEventName::diagnosisViewed), atStart + 1);
    EXPECT_EQ(usage.back().attributes.at("source"), "sidebar_selection");
    EXPECT_EQ(usage.back().attributes.at("event_id"), events[2].id.toString());

    w.rootView()->sidebar()->listView()->selectionModel()->clearSelection();
    EXPECT_EQ(fixture.model().selectedEventID(), std::nullopt);
    EXPECT_NE(qobject_cast<IdleDetailView*>(w.rootView()->detail()), nullptr);
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::diagnosisViewed), atStart + 1);

    // Hidden by the search, the selection and its detail stay.
    clickRow(1);
    w.rootView()->sidebar()->setSearchQuery("no such app");
    ASSERT_NE(w.rootView()->eventDetail(), nullptr);
    EXPECT_EQ(w.rootView()->eventDetail()->eventID(), events[1].id);
}

void completeChecklist(RootView& root)
{
    for (QCheckBox* box : root.onboardingChecklist()->checkBoxes()) {
        box->setChecked(true);
    }
    root.onboardingChecklist()->completeButton()->click();
}

TEST_F(MainWindowTest, OnboardingSheetOpensUntilTheChecklistIsCompleted)
{
    MainWindow& w = open(test::sampleHistory(1), false);
    RootView& root = *w.rootView();
    ASSERT_TRUE(test::waitUntil([&] { return root.isOnboardingPresented(); }));
    EXPECT_TRUE(root.onboardingSheet()->isVisible());
    EXPECT_EQ(root.onboardingSheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingViewed), 1u);

    // Skipping closes it without completion; the next showing of the window brings it back.
    root.onboardingChecklist()->skipButton()->click();
    EXPECT_FALSE(root.isOnboardingPresented());
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingCompleted), 0u);
    EXPECT_FALSE(settings.value(RootView::kOnboardingCompletedKey).toBool());
    w.hide();
    w.show();
    ASSERT_TRUE(test::waitUntil([&] { return root.isOnboardingPresented(); }));
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingViewed), 2u);

    completeChecklist(root);
    EXPECT_FALSE(root.isOnboardingPresented());
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingCompleted), 1u);
    EXPECT_TRUE(settings.value(RootView::kOnboardingCompletedKey).toBool());

    // Completed: no sheet on showing; "Getting Started" opens a fresh one that completes again.
    w.hide();
    w.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(root.isOnboardingPresented());
    w.gettingStartedAction()->trigger();
    ASSERT_TRUE(root.isOnboardingPresented());
    for (const QCheckBox* box : root.onboardingChecklist()->checkBoxes()) {
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingViewed), 3u);
    completeChecklist(root);
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::onboardingCompleted), 2u);
}

TEST_F(MainWindowTest, ExportsAskWhereAndWriteTheWholeHistory)
{
    MainWindow& w = open(test::sampleHistory(3));
    w.rootView()->sidebar()->setSearchQuery("App 1"); // the export ignores the list's search
    const std::filesystem::path json = fixture.directory() / "out.json";
    const std::filesystem::path csv = fixture.directory() / "out.csv";

    saveLocation = QString::fromStdString(json.string());
    w.exportJsonAction()->trigger();
    saveLocation = QString::fromStdString(csv.string());
    w.exportCsvAction()->trigger();

    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].title, "Export Diagnoses (JSON)");
    EXPECT_EQ(calls[0].proposedName, "Exitwise-export.json");
    EXPECT_TRUE(calls[0].filter.contains("*.json"));
    EXPECT_EQ(calls[1].title, "Export Diagnoses (CSV)");
    EXPECT_EQ(calls[1].proposedName, "Exitwise-export.csv");
    EXPECT_TRUE(calls[1].filter.contains("*.csv"));
    EXPECT_EQ(fileText(json), app::exporting::jsonText(fixture.model().events()));
    EXPECT_EQ(fileText(csv), app::exporting::csvText(fixture.model().events()));
    EXPECT_EQ(w.rootView()->exportAlert(), nullptr);
}

TEST_F(MainWindowTest, CancelledExportLeavesAnExistingFileAlone)
{
    MainWindow& w = open(test::sampleHistory(2));
    const std::filesystem::path existing = fixture.directory() / "Exitwise-export.json";
    std::ofstream(existing) << "keep me";
    saveLocation.reset();
    w.exportJsonAction()->trigger();
    saveLocation = QString();
    w.exportCsvAction()->trigger();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(fileText(existing), "keep me");
    EXPECT_EQ(w.rootView()->exportAlert(), nullptr);
}

TEST_F(MainWindowTest, FailedExportShowsTheErrorUntilDismissed)
{
    MainWindow& w = open(test::sampleHistory(2));
    // The message names the path; markup in it stays text.
    const std::filesystem::path target = fixture.directory() / "no <b>such</b> directory" / "out";
    for (QAction* action : {w.exportJsonAction(), w.exportCsvAction()}) {
        SCOPED_TRACE(action->text().toStdString());
        saveLocation = QString::fromStdString(target.string());
        action->trigger();
        RootView& root = *w.rootView();
        QMessageBox* alert = root.exportAlert();
        ASSERT_NE(alert, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return alert->isVisible(); }));
        const std::optional<app::FileError> expected =
            action == w.exportJsonAction() ? app::exporting::exportJSON(fixture.model().events(), target)
                                           : app::exporting::exportCSV(fixture.model().events(), target);
        ASSERT_TRUE(expected);
        EXPECT_EQ(alert->windowTitle(), "Export failed");
        EXPECT_EQ(alert->text().toStdString(), expected->message());
        EXPECT_EQ(alert->textFormat(), Qt::PlainText);
        EXPECT_EQ(root.exportErrorMessage(), alert->text());
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        ASSERT_EQ(alert->buttons().size(), 1);
        EXPECT_EQ(alert->buttons().first()->text(), "OK");

        alert->buttons().first()->click();
        EXPECT_TRUE(test::waitUntil([&] { return root.exportAlert() == nullptr; }));
        EXPECT_EQ(root.exportErrorMessage(), std::nullopt);
    }
    EXPECT_FALSE(std::filesystem::exists(target));
}

} // namespace
} // namespace exitwise::ui
