// SPDX-License-Identifier: MIT
#include "support/Files.h"
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "ui/AppIconProvider.h"
#include "ui/EndStateMark.h"
#include "ui/EventListModel.h"
#include "ui/SidebarView.h"
#include "ui/VisibleEvents.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTest>

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace exitwise::ui {
namespace {

using core::Confidence;
using core::DominantCause;
using Names = std::vector<std::string>;

// Newest first, as the model keeps them.
std::vector<app::AppEvent> sampleEvents()
{
    using enum DominantCause;
    using enum Confidence;
    const core::EndState crash = core::EndState::crash;
    // clang-format off
    return {
        test::eventWithVerdict("Firefox",   test::sampleTime(50), crash, killedWatchdogHang, medium),
        test::eventWithVerdict("Files",     test::sampleTime(40), crash, killedJetsamMemory, low),
        test::eventWithVerdict("Editor",    test::sampleTime(30), crash, crashBug,           high),
        test::eventWithVerdict("Café Menu", test::sampleTime(20), crash, explicitQuit,       medium),
        test::eventWithVerdict("Straße",    test::sampleTime(10), crash, crashAbort,         high),
    };
    // clang-format on
}

TEST(VisibleEventsTest, QueryAndFilter)
{
    // clang-format off
    const struct { const char* query; ConfidenceFilter filter; Names expected; } cases[] = {
        {"",             ConfidenceFilter::all,    {"Firefox", "Files", "Editor", "Café Menu", "Straße"}},
        {" \t\n",        ConfidenceFilter::medium, {"Firefox", "Café Menu"}},
        // Causes "Killed: …" match although no name contains the word; case is ignored both ways.
        {"\t KILLED \n", ConfidenceFilter::all,    {"Firefox", "Files"}},
        {"Killed:",      ConfidenceFilter::low,    {"Files"}},
        {"fi",           ConfidenceFilter::all,    {"Firefox", "Files"}},
        {"crashed: APP", ConfidenceFilter::all,    {"Editor"}},
        {"CAFÉ",         ConfidenceFilter::all,    {"Café Menu"}},
        // Lower-casing only: no case folding of ß to ss, no accent folding.
        {"STRASSE",      ConfidenceFilter::all,    {}},
        {"STRAßE",       ConfidenceFilter::all,    {"Straße"}},
        {"cafe",         ConfidenceFilter::all,    {}},
        {"",             ConfidenceFilter::high,   {"Editor", "Straße"}},
    };
    // clang-format on
    const std::vector<app::AppEvent> events = sampleEvents();
    for (const auto& c : cases) {
        Names shown;
        std::ranges::transform(visibleEvents(events, c.query, c.filter), std::back_inserter(shown),
                               &app::AppEvent::appName);
        EXPECT_EQ(shown, c.expected) << "query \"" << c.query << "\" filter " << core::rawValue(c.filter);
    }
}

TEST(EventListModelTest, RowsFollowTheEventsUnderTheModelTester)
{
    EventListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::vector<app::AppEvent> events = sampleEvents();
    model.setEvents(events);
    ASSERT_EQ(model.rowCount(), 5);
    QStringList second;
    for (const int role : std::initializer_list<int>{
             Qt::DisplayRole, EventListModel::CauseRole, EventListModel::ConfidenceRole,
             EventListModel::EventIDRole, EventListModel::EndStateRole, EventListModel::TimeRole,
             Qt::AccessibleTextRole}) {
        second << model.data(model.index(1), role).toString();
    }
    // Long ago: the date alone.
    EXPECT_EQ(second, (QStringList{"Files", "Killed: memory pressure", QString::number(int(Confidence::low)),
                                   QString::fromStdString(events[1].id.toString()),
                                   QString::number(int(core::EndState::crash)), "2/28/26",
                                   "Files, Crash, Killed: memory pressure, 2/28/26, Confidence Low"}));

    // A rating changes nothing a row draws: no reset, so the list keeps its selection.
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    events[0].feedback = app::FeedbackRating::helpful;
    model.setEvents(events);
    EXPECT_EQ(resets, 0);
    // A new end state is drawn, a removed event gone: the rows are replaced.
    events[0].diagnosis.endState = core::EndState::killed;
    model.setEvents(events);
    EXPECT_EQ(resets, 1);
    events.erase(events.begin());
    model.setEvents(events);
    EXPECT_EQ(resets, 2);
    EXPECT_EQ(model.rowCount(), 4);
}

TEST(ClosureTimeTextTest, TimeTodayWeekdayThisWeekDateBefore)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    // Saturday 2026-02-28 19:33:20 UTC; the tests run in UTC.
    const double hour = 3600;
    // clang-format off
    const struct { double offset; const QLocale& locale; const char* expected; } cases[] = {
        {0,                  us, "7:33 PM"},
        {-19 * hour,         us, "12:33 AM"},   // the same day, early
        {-20 * hour,         us, "Fri 11:33 PM"},
        {-6 * 24 * hour,     us, "Sun 7:33 PM"},
        {-7 * 24 * hour,     us, "2/21/26"},
        {-20 * hour,         de, "Fr. 23:33"},
        {-30 * 24 * hour,    de, "29.01.26"},
        {+2 * 24 * hour,     us, "3/2/26"},     // a clock set back: the date, never a weekday
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(closureTimeText(test::sampleTime(c.offset), test::sampleTime(), c.locale), c.expected)
            << c.offset;
    }
}

class SidebarViewTest : public ::testing::Test
{
protected:
    test::ModelFixture fixture;
    app::AppModel& model = fixture.makeModel(sampleEvents());
    AppIconProvider icons;
    SidebarView sidebar{model, icons};
};

TEST_F(SidebarViewTest, ConfidenceFilterIsOneChoiceOfRadioButtons)
{
    sidebar.show();
    QApplication::setActiveWindow(&sidebar);
    QAbstractButton* high = sidebar.filterButton(ConfidenceFilter::high);
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(high->parentWidget());
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Name), "Confidence");
    EXPECT_EQ(group->childCount(), 4);
    QStringList names;
    for (const ConfidenceFilter filter : core::allCases<ConfidenceFilter>()) {
        QAccessibleInterface* segment = QAccessible::queryAccessibleInterface(sidebar.filterButton(filter));
        EXPECT_EQ(segment->role(), QAccessible::RadioButton);
        EXPECT_TRUE(segment->state().checkable);
        EXPECT_EQ(segment->state().checked, filter == ConfidenceFilter::all);
        names << segment->text(QAccessible::Name);
    }
    EXPECT_EQ(names, QStringList({"All", "High", "Medium", "Low"}));

    high->click();
    EXPECT_EQ(sidebar.confidenceFilter(), ConfidenceFilter::high);
    // The arrow keys move the choice, as in any radio group.
    high->setFocus();
    QTest::keyClick(high, Qt::Key_Right);
    EXPECT_EQ(sidebar.confidenceFilter(), ConfidenceFilter::medium);
    EXPECT_FALSE(high->isChecked());
}

// The subtitle counts the listed of all closures; the list shows the model's selection while the
// event is listed, and the search does not change it.
TEST_F(SidebarViewTest, TheSearchNarrowsTheListWhichShowsTheModelsSelection)
{
    const auto selectedRow = [this] {
        const QModelIndexList rows = sidebar.listView()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    };
    EXPECT_EQ(sidebar.titleLabel()->text(), "Monitoring apps");
    EXPECT_EQ(sidebar.subtitleLabel()->text(), "Latest closures \u2022 5/5");
    EXPECT_EQ(sidebar.searchField()->placeholderText(), "Search app or cause");
    EXPECT_EQ(selectedRow(), 0);
    model.setSelectedEventID(model.events()[1].id);
    EXPECT_EQ(selectedRow(), 1);

    sidebar.searchField()->setText("zzz");
    EXPECT_EQ(sidebar.subtitleLabel()->text(), "Latest closures \u2022 0/5");
    EXPECT_EQ(sidebar.listView()->model()->rowCount(), 0);
    EXPECT_EQ(model.selectedEventID(), model.events()[1].id);
    sidebar.searchField()->setText("    ");
    EXPECT_EQ(selectedRow(), 1);
    sidebar.filterButton(ConfidenceFilter::medium)->click();
    EXPECT_EQ(sidebar.subtitleLabel()->text(), "Latest closures \u2022 2/5");
}

TEST(AppIconProviderTest, LooksUpOncePerPathAndNeverGivesAnEmptyIcon)
{
    const test::TempDir directory("app-icons");
    QImage red(64, 64, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((directory.path() / "red.png").string()), "PNG"));
    const std::map<std::string, std::string> iconOf = {
        {"/apps/red.desktop", (directory.path() / "red.png").string()},
        {"/apps/gone.desktop", (directory.path() / "missing.png").string()},
        {"/apps/themed.desktop", "no-such-theme-icon-anywhere"},
    };
    std::vector<std::string> asked;
    AppIconProvider icons([&](const std::string& appPath) -> std::optional<std::string> {
        asked.push_back(appPath);
        const auto found = iconOf.find(appPath);
        return found == iconOf.end() ? std::nullopt : std::optional(found->second);
    });

    const QImage drawn = icons.roundedPixmap("/apps/red.desktop", 28, 6, 1.0).toImage();
    ASSERT_EQ(drawn.size(), QSize(28, 28));
    EXPECT_EQ(drawn.pixelColor(14, 14), QColor(Qt::red));
    EXPECT_EQ(drawn.pixelColor(0, 0).alpha(), 0); // clipped corner
    EXPECT_EQ(icons.roundedPixmap("/apps/red.desktop", 44, 10, 2.0).toImage().size(), QSize(88, 88));
    for (const std::optional<std::string>& path : std::vector<std::optional<std::string>>{
             "/apps/gone.desktop", "/apps/themed.desktop", "/apps/none.desktop", std::nullopt, ""}) {
        EXPECT_GT(icons.roundedPixmap(path, 28, 6, 1.0).toImage().pixelColor(14, 14).alpha(), 0)
            << path.value_or("(absent)");
        EXPECT_FALSE(icons.icon(path).isNull());
    }
    EXPECT_FALSE(icons.icon("/apps/red.desktop").isNull());
    EXPECT_EQ(asked, (Names{"/apps/red.desktop", "/apps/gone.desktop", "/apps/themed.desktop",
                            "/apps/none.desktop"}));
}

} // namespace
} // namespace exitwise::ui
