// SPDX-License-Identifier: MIT
#include "ui/MainWindow.h"

#include "app/DiagnosisVersion.h"
#include "app/stores/Export.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/UiFixtures.h"
#include "ui/AboutDialog.h"
#include "ui/EventDetailView.h"
#include "ui/IdleDetailView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::ProductAnalyticsEventName;
using Strings = std::vector<std::string>;
using Counts = std::vector<std::size_t>;

class MainWindowTest : public ::testing::Test
{
protected:
    // The window over `stored`; `onboarded` says whether the checklist was completed before.
    MainWindow& open(const std::vector<app::AppEvent>& stored, bool onboarded = true)
    {
        settings = test::settingsIn(fixture, onboarded);
        MainWindowOptions options;
        options.settings = settings.get();
        options.quit = [this] { ++quits; };
        options.dataDirectory = QStringLiteral("/home/ada/.local/share/Exitwise");
        options.evidenceNote = evidenceNote;
        options.savePanel = [this](const QString& title, const QString& name, const QString& filter) {
            calls << title + " | " + name + " | " + filter;
            return saveLocation;
        };
        window = std::make_unique<MainWindow>(fixture.makeModel(stored), std::move(options));
        window->show();
        QApplication::setActiveWindow(window.get());
        QCoreApplication::processEvents();
        return *window;
    }

    // The first-run checklist's usage records, how often it was shown and how often completed, and
    // whether it is remembered as completed.
    [[nodiscard]] Counts counts() const
    {
        return {fixture.usageCount(ProductAnalyticsEventName::onboardingViewed),
                fixture.usageCount(ProductAnalyticsEventName::onboardingCompleted),
                settings->value(RootView::kOnboardingCompletedKey).toUInt()};
    }

    test::ModelFixture fixture;
    std::unique_ptr<QSettings> settings;
    QStringList calls; // the save panels asked for, as "title | proposed name | filter"
    std::optional<QString> saveLocation;
    std::optional<QString> evidenceNote;
    int quits = 0;
    std::unique_ptr<MainWindow> window;
};

// What the evidence comes from, and a note only when some of it cannot be read.
TEST(AboutDialogTest, SaysWhereTheEvidenceComesFrom)
{
    const QString note = "kernel messages are not readable (add yourself to the systemd-journal or adm group "
                         "to read them)";
    test::expectTexts(AboutDialog({QStringLiteral("1.2+3"), QStringLiteral("/data"), note}), "about");
    for (const std::optional<QString>& none : {std::optional<QString>(), std::optional<QString>(QString())}) {
        AboutDialog about({QStringLiteral("1.2+3"), QStringLiteral("/data"), none});
        EXPECT_EQ(about.evidenceNoteLabel(), nullptr);
    }
}

// Every toolbar button is reached with Tab and acts on Space; pausing renames the button; About
// comes once; the shortcuts act (F1 is tried with the checklist).
TEST_F(MainWindowTest, TheToolbarAndTheShortcutsWorkFromTheKeyboard)
{
    evidenceNote = QStringLiteral("kernel messages are not readable");
    MainWindow& w = open(test::sampleHistory(2));
    EXPECT_EQ(w.windowTitle(), "Exitwise");
    auto* toolbar = w.findChild<QToolBar*>();
    QStringList items;
    for (const QToolButton* button : toolbar->findChildren<QToolButton*>()) {
        if (button->isVisible()) {
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

    w.rootView()->sidebar()->listView()->setFocus();
    QSet<QWidget*> reached;
    for (int i = 0; i < 40 && QApplication::focusWidget() != nullptr; ++i) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (QWidget* widget :
         {toolbar->widgetForAction(w.pauseAction()), toolbar->widgetForAction(w.gettingStartedAction()),
          toolbar->widgetForAction(w.aboutAction()), static_cast<QWidget*>(w.exportButton()),
          static_cast<QWidget*>(w.rootView()->sidebar()->searchField())}) {
        EXPECT_TRUE(reached.contains(widget)) << widget->metaObject()->className();
    }

    EXPECT_EQ(w.pauseButton()->accessibleName(), "Pause monitoring app closures");
    w.pauseButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.pauseButton(), Qt::Key_Space);
    EXPECT_TRUE(fixture.model().isMonitoringPaused());
    EXPECT_EQ(w.pauseAction()->text(), "Resume Monitoring");
    EXPECT_EQ(w.pauseButton()->accessibleName(), "Resume monitoring app closures");
    EXPECT_EQ(w.rootView()->sidebar()->titleLabel()->text(), "Monitoring paused");
    w.pauseButton()->click();
    EXPECT_FALSE(fixture.model().isMonitoringPaused());
    EXPECT_EQ(w.pauseAction()->text(), "Pause Monitoring");

    // About says what the window was given (the dialog's own texts: AboutDialogTest).
    w.aboutAction()->trigger();
    auto* about = qobject_cast<AboutDialog*>(w.aboutDialog());
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About Exitwise");
    const AboutDialog expected({QString::fromStdString(app::currentDiagnosisVersion()),
                                QStringLiteral("/home/ada/.local/share/Exitwise"), evidenceNote});
    EXPECT_EQ(test::labelTexts(*about), test::labelTexts(expected));

    // A second request brings the same dialog forward.
    w.aboutAction()->trigger();
    EXPECT_EQ(w.aboutDialog(), about);
    about->close();
    EXPECT_TRUE(test::waitUntil([&] { return w.aboutDialog() == nullptr; }));
    QApplication::setActiveWindow(&w);

    QLineEdit* search = w.rootView()->sidebar()->searchField();
    search->setText("fire");
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
    QApplication::setActiveWindow(&w);

    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    QTest::keyClick(&w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(quits, 1);
}

// A view is recorded once for what the user sees: a row selected twice is one view, clearing the
// selection none, and one view, not two, when a popover row brings the open window forward
// (nothing while the window is closed to the tray: see the notification click).
TEST_F(MainWindowTest, OnlySelectionsTheUserSeesAreViews)
{
    MainWindow& w = open(test::sampleHistory(3));
    const std::vector<app::AppEvent>& events = fixture.model().events();
    // The newest is selected at start and its detail shows.
    ASSERT_NE(w.rootView()->eventDetail(), nullptr);
    EXPECT_EQ(w.rootView()->eventDetail()->eventID(), events[0].id);
    std::size_t before = fixture.usageEvents().size();
    QListView* list = w.rootView()->sidebar()->listView();
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(2, 0)).center());
    }
    list->selectionModel()->clearSelection();
    EXPECT_NE(qobject_cast<IdleDetailView*>(w.rootView()->detail()), nullptr);
    EXPECT_EQ(test::viewsSince(fixture, before), Strings{"sidebar_selection " + events[2].id.toString()});

    MenuBarPopoverContentView::Options options;
    options.onOpenWindow = [&w] { w.show(); };
    MenuBarPopoverContentView popover(fixture.model(), options);
    before = fixture.usageEvents().size();
    popover.eventRows()[1]->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(test::viewsSince(fixture, before), Strings{"open_event " + events[1].id.toString()});
}

TEST_F(MainWindowTest, OnboardingSheetOpensUntilTheChecklistIsCompleted)
{
    MainWindow& w = open(test::sampleHistory(1), false);
    RootView& root = *w.rootView();
    const auto complete = [&root] {
        for (QCheckBox* box : root.onboardingChecklist()->checkBoxes()) {
            box->setChecked(true);
        }
        root.onboardingChecklist()->completeButton()->click();
    };
    ASSERT_TRUE(test::waitUntil([&] { return root.isOnboardingPresented(); }));
    EXPECT_TRUE(root.onboardingSheet()->isVisible());
    EXPECT_EQ(root.onboardingSheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(counts(), (Counts{1, 0, 0}));

    // Skipping closes it without completion; the next showing of the window brings it back.
    root.onboardingChecklist()->skipButton()->click();
    EXPECT_FALSE(root.isOnboardingPresented());
    w.hide();
    w.show();
    ASSERT_TRUE(test::waitUntil([&] { return root.isOnboardingPresented(); }));
    EXPECT_EQ(counts(), (Counts{2, 0, 0}));

    complete();
    EXPECT_FALSE(root.isOnboardingPresented());
    EXPECT_EQ(counts(), (Counts{2, 1, 1}));

    // Completed: no sheet on showing; "Getting Started" (F1) opens a fresh one that completes again.
    w.hide();
    w.show();
    QApplication::setActiveWindow(&w);
    QCoreApplication::processEvents();
    EXPECT_FALSE(root.isOnboardingPresented());
    QTest::keyClick(&w, Qt::Key_F1);
    ASSERT_TRUE(root.isOnboardingPresented());
    EXPECT_EQ(std::ranges::count_if(root.onboardingChecklist()->checkBoxes(), &QCheckBox::isChecked), 0);
    complete();
    EXPECT_EQ(counts(), (Counts{3, 2, 1}));
}

TEST_F(MainWindowTest, ExportsAskWhereAndWriteTheWholeHistoryOrSayWhyNot)
{
    MainWindow& w = open(test::sampleHistory(3));
    w.rootView()->sidebar()->setSearchQuery("App 1"); // the export ignores the list's search
    const std::filesystem::path json = fixture.directory() / "Exitwise-export.json";
    const std::filesystem::path csv = fixture.directory() / "out.csv";
    std::ofstream(json) << "keep me";
    for (const std::optional<QString>& cancelled : {std::optional<QString>(), std::optional<QString>("")}) {
        saveLocation = cancelled;
        w.exportJsonAction()->trigger();
    }
    EXPECT_EQ(test::readFile(json), "keep me");

    saveLocation = QString::fromStdString(json.string());
    w.exportJsonAction()->trigger();
    saveLocation = QString::fromStdString(csv.string());
    w.exportCsvAction()->trigger();
    const QString askJson = "Export Diagnoses (JSON) | Exitwise-export.json | JSON (*.json)";
    const QString askCsv = "Export Diagnoses (CSV) | Exitwise-export.csv | Comma-separated values (*.csv)";
    EXPECT_EQ(calls, (QStringList{askJson, askJson, askJson, askCsv}));
    EXPECT_EQ(test::readFile(json), app::exporting::jsonText(fixture.model().events()));
    EXPECT_EQ(test::readFile(csv), app::exporting::csvText(fixture.model().events()));
    EXPECT_EQ(w.rootView()->exportAlert(), nullptr);

    // A failure shows the error until dismissed. The message names the path; markup in it stays text.
    const std::filesystem::path target = fixture.directory() / "no <b>such</b> directory" / "out";
    saveLocation = QString::fromStdString(target.string());
    for (QAction* action : {w.exportJsonAction(), w.exportCsvAction()}) {
        SCOPED_TRACE(action->text().toStdString());
        action->trigger();
        RootView& root = *w.rootView();
        QMessageBox* alert = root.exportAlert();
        ASSERT_NE(alert, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return alert->isVisible(); }));
        const std::optional<app::FileError> expected =
            action == w.exportJsonAction() ? app::exporting::exportJSON(fixture.model().events(), target)
                                           : app::exporting::exportCSV(fixture.model().events(), target);
        ASSERT_TRUE(expected);
        ASSERT_EQ(alert->buttons().size(), 1);
        EXPECT_EQ((QStringList{alert->windowTitle(), alert->text(), alert->buttons().first()->text()}),
                  (QStringList{"Export failed", QString::fromStdString(expected->message()), "OK"}));
        EXPECT_EQ(alert->textFormat(), Qt::PlainText);
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        alert->buttons().first()->click();
        EXPECT_TRUE(test::waitUntil([&] { return root.exportAlert() == nullptr; }));
    }
    EXPECT_FALSE(std::filesystem::exists(target));
}

} // namespace
} // namespace exitwise::ui
