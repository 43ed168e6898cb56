// SPDX-License-Identifier: MIT
#include "app/AppModel.h"

#include "app/BroadcastCenter.h"
#include "app/DiagnosisHash.h"
#include "app/RecordFiles.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventLedgerReconciliationReport.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/SampleEvents.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace exitwise::app {
namespace {

using namespace std::chrono_literals;
using core::TerminationReason;
const core::Date T0 = core::dateFromReferenceSeconds(786300000.0);

using test::waitUntil;

// Takes longer for applications whose name starts with "Slow", and hangs like a log tool waiting
// for its time-out for those starting with "Stuck".
class DelayingProvider : public core::SignalProvider
{
public:
    std::vector<core::Signal> collectSignals(const core::EventContext& context) const override
    {
        if (context.appName.rfind("Slow", 0) == 0) {
            std::this_thread::sleep_for(150ms);
        }
        if (context.appName.rfind("Stuck", 0) == 0) {
            std::this_thread::sleep_for(5s);
        }
        return {};
    }
};

std::size_t lineCount(const std::filesystem::path& file)
{
    return static_cast<std::size_t>(std::ranges::count(test::readFile(file), '\n'));
}

// A stored event whose recorded verdict (a crash) disagrees with its own evidence (a quit).
AppEvent storedEvent(int index)
{
    AppEvent event = test::minimalEvent("App " + std::to_string(index), T0 - core::Seconds(60.0 * index));
    event.pid = 100 + index;
    event.terminationReason = TerminationReason::quit;
    event.diagnosis.signalsUsed = {
        core::TerminationSignal{event.terminatedAt, TerminationReason::quit, std::nullopt, std::nullopt}};
    event.diagnosisVersion = "0.0.1";
    event.diagnosisHash = diagnosisHash(event.diagnosis);
    return event;
}

class AppModelTest : public ::testing::Test
{
protected:
    void makeModel()
    {
        model.reset();
        AppModel::Dependencies d;
        d.dataDirectory = directory;
        d.workspace = &workspace;
        d.engine = core::DiagnosisEngine({std::make_shared<DelayingProvider>()}, wording);
        d.notify = [this](const AppEvent& event) { notified.push_back(event.appName); };
        d.clock = [this] { return now; };
        model = std::make_unique<AppModel>(std::move(d));
        QCoreApplication::processEvents(); // the start-up refresh
    }

    void writeEvents(const std::vector<AppEvent>& events)
    {
        ASSERT_FALSE(records::atomicReplace(directory / "events.json", EventStore::encodeEventFile(events)));
    }

    std::vector<AppEvent> savedEvents()
    {
        model->waitForWrites();
        const auto saved = EventStore::readEventFile(directory / "events.json");
        EXPECT_TRUE(saved.ok());
        return saved.ok() ? saved.value() : std::vector<AppEvent>{};
    }

    void terminate(const std::string& name, std::int32_t pid)
    {
        emit workspace.applicationTerminated(
            RunningApplication{name, "org.example." + name, pid, std::nullopt, {}});
    }

    test::TempDir temp{"model"};
    const std::filesystem::path directory = temp.path();
    WorkspaceEvents workspace;
    core::Date now = T0;
    core::Wording wording = core::Wording::macos;
    std::vector<std::string> notified;
    std::unique_ptr<AppModel> model;
};

// Each closure is announced when its diagnosis lands, and the one that landed last is the newest,
// selected event; the list keeps its bound.
TEST_F(AppModelTest, TheLastDiagnosisToLandIsTheNewestSelectedEvent)
{
    std::vector<AppEvent> stored;
    for (int i = 0; i < 200; ++i) {
        stored.push_back(storedEvent(i + 1));
    }
    writeEvents(stored);
    makeModel();
    terminate("Slow", 1);
    terminate("Quick", 2);
    ASSERT_TRUE(waitUntil([&] { return notified.size() == 2; }));
    EXPECT_EQ(notified, (std::vector<std::string>{"Quick", "Slow"}));
    ASSERT_EQ(model->events().size(), 200u);
    const AppEvent& first = model->events().front();
    EXPECT_EQ(first.appName, "Slow");
    EXPECT_EQ(model->selectedEventID(), first.id);
    EXPECT_EQ(model->events()[2].id, stored[0].id) << "the two oldest made way";
    EXPECT_EQ(first.diagnosisHash, diagnosisHash(first.diagnosis));
    EXPECT_EQ(first.diagnosisChanged, false);
}

// The files are written off the main thread, several closures at a time; none may go missing
// when the model goes away before the writer got to them. Nor does the way out wait for a
// diagnosis that hangs: its closure is in the ledger already.
TEST_F(AppModelTest, ABurstOfClosuresIsWrittenInFullOnTheWayOutPastAStuckDiagnosis)
{
    makeModel();
    terminate("Stuck", 7);
    ASSERT_TRUE(waitUntil([&] { return model->diagnosesInFlight() == 1; }));
    EXPECT_EQ(lineCount(directory / "event_ledger.jsonl"), 1u) << "the line precedes the diagnosis";
    constexpr std::size_t kClosures = 40;
    for (std::size_t i = 0; i < kClosures; ++i) {
        terminate("Burst" + std::to_string(i), static_cast<std::int32_t>(1000 + i));
    }
    ASSERT_TRUE(waitUntil([&] { return notified.size() == kClosures; }));
    const std::vector<AppEvent> shown = model->events();
    const auto quitStarted = std::chrono::steady_clock::now();
    model.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - quitStarted, 2500ms) << "the diagnosis hangs for 5 s";

    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value(), shown);
    EXPECT_EQ(lineCount(directory / "event_ledger.jsonl"), kClosures + 1);
    EXPECT_EQ(DiagnosisTelemetryStore(directory / "telemetry.json").load().size(), kClosures);
}

// The start reconciles the ledger with what was loaded: only the closure whose event is gone
// is reported.
TEST_F(AppModelTest, StartUpReconcilesTheLedgerWithTheLoadedEvents)
{
    const AppEvent kept = storedEvent(1);
    const AppEvent lost = storedEvent(2);
    TerminationEventLedger ledger(directory);
    for (const AppEvent& event : {kept, lost}) {
        ledger.append(test::ledgerEntryFor(event, event.terminatedAt));
    }
    writeEvents({kept});
    makeModel();
    model->waitForWrites();

    const auto report = decodeEventLedgerReconciliationReport(
        core::json::parse(test::readFile(directory / "reconciliation_report.json")));
    EXPECT_EQ(report.generatedAt, T0);
    ASSERT_EQ(report.mismatchCount, 1);
    EXPECT_EQ(report.mismatches.front().appName, lost.appName);
}

// A diagnosis view counts once per two seconds of the same event; feedback once per change, and
// it is saved.
TEST_F(AppModelTest, ViewsAndFeedbackAreRecordedOncePerChange)
{
    writeEvents({storedEvent(1), storedEvent(2)});
    makeModel();
    const Uuid a = model->events()[0].id;
    const Uuid b = model->events()[1].id;
    const auto views = [&] { return lineCount(directory / "product_events.jsonl") - 1; }; // minus app_opened

    model->openEvent(a);
    now += core::Seconds(1.9);
    model->openEvent(a);
    EXPECT_EQ(views(), 1u);
    now += core::Seconds(0.1);
    model->openEvent(a);
    model->openEvent(b);
    model->openEvent(a);
    EXPECT_EQ(views(), 4u);
    model->openEvent(std::nullopt);
    EXPECT_EQ(model->selectedEventID(), std::nullopt);
    EXPECT_EQ(views(), 4u);

    model->submitFeedback(FeedbackRating::helpful, a);
    model->submitFeedback(FeedbackRating::helpful, a);
    model->submitFeedback(FeedbackRating::unhelpful, a);
    model->submitFeedback(FeedbackRating::helpful, Uuid::random()); // unknown: nothing
    EXPECT_EQ(lineCount(directory / "feedback.jsonl"), 2u);
    EXPECT_EQ(savedEvents().at(0).feedback, FeedbackRating::unhelpful);
}

TEST_F(AppModelTest, PausedMonitoringDiagnosesNothingUntilResumed)
{
    makeModel();
    model->setMonitoringPaused(true);
    model->setMonitoringPaused(true);
    EXPECT_FALSE(model->monitor().isRunning());
    terminate("Paused", 5);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->diagnosesInFlight(), 0);
    model->setMonitoringPaused(false);
    EXPECT_TRUE(model->monitor().isRunning());
    terminate("Resumed", 6);
    ASSERT_TRUE(waitUntil([&] { return !notified.empty(); }));
    EXPECT_EQ(notified, std::vector<std::string>{"Resumed"});
}

TEST_F(AppModelTest, StartUpRefreshMarksChangedVerdictsOfTheNewestFifty)
{
    std::vector<AppEvent> stored;
    for (int i = 0; i < 60; ++i) {
        stored.push_back(storedEvent(i));
    }
    writeEvents(stored);

    makeModel();
    const auto& events = model->events();
    std::vector<std::optional<bool>> marks;
    for (const AppEvent& event : events) {
        marks.push_back(event.diagnosisChanged);
    }
    std::vector<std::optional<bool>> expected(50, true);
    expected.resize(60, std::nullopt);
    EXPECT_EQ(marks, expected);
    EXPECT_EQ(events[49].previousDominantCause, core::DominantCause::crashBug);
    EXPECT_EQ(events[49].previousEndState, core::EndState::crash);
    EXPECT_EQ(events[49].diagnosis.dominantCause, core::DominantCause::explicitQuit);
    EXPECT_EQ(events[50], stored[50]) << "beyond the fifty, nothing changes";

    // The next launch finds the verdicts stable: the mark goes, the previous verdict stays.
    makeModel();
    EXPECT_EQ(model->events()[1].diagnosisChanged, false);
    EXPECT_EQ(model->events()[1].previousDominantCause, core::DominantCause::crashBug);
    EXPECT_EQ(savedEvents().at(1).diagnosisChanged, false);
}

// A quit of "Notes" as the macOS texts told it: its verdict matches its evidence.
AppEvent quitOfNotesInMacWords()
{
    AppEvent stored = storedEvent(0);
    stored.appName = "Notes";
    stored.diagnosis = core::DiagnosisEngine().diagnose(core::contextAround(stored, 180.0), {}, false);
    return stored;
}

// A verdict that did not change (stored here without its hash) is reworded when its card is in
// a known wording, and kept word for word when it is not.
TEST_F(AppModelTest, StartUpRefreshRewordsOnlyCardsInAKnownWording)
{
    AppEvent stored = quitOfNotesInMacWords();
    stored.diagnosisHash.reset();
    ASSERT_EQ(stored.diagnosis.explanation.why, "macOS recorded a normal termination request.");
    AppEvent ownWords = quitOfNotesInMacWords();
    ownWords.diagnosis.explanation.why = "Notes was asked to quit.";
    ownWords.diagnosisHash = diagnosisHash(ownWords.diagnosis);
    writeEvents({stored, ownWords});

    wording = core::Wording::linuxDesktop;
    makeModel();
    ASSERT_NE(model->event(stored.id), nullptr);
    const AppEvent& event = *model->event(stored.id);
    EXPECT_EQ(event.diagnosis.explanation.why, "The system recorded a normal termination request.");
    EXPECT_EQ(event.diagnosis.dominantCause, core::DominantCause::explicitQuit);
    EXPECT_EQ(event.diagnosisChanged, false);
    EXPECT_EQ(event.previousDominantCause, std::nullopt);
    EXPECT_EQ(event.diagnosis.signalsUsed, stored.diagnosis.signalsUsed);
    ASSERT_NE(model->event(ownWords.id), nullptr);
    EXPECT_EQ(model->event(ownWords.id)->diagnosis.explanation, ownWords.diagnosis.explanation);
    EXPECT_EQ(savedEvents(), model->events());
}

// A data directory that stops taking saves is said once, however many closures follow, and
// nothing is lost meanwhile.
TEST_F(AppModelTest, FirstFailedSaveIsSaidOnce)
{
    makeModel();
    std::vector<QString> said;
    QObject::connect(model.get(), &AppModel::saveFailed,
                     [&said](const QString& message) { said.push_back(message); });
    std::filesystem::create_directory(directory / "events.json");

    for (int i = 0; i < 3; ++i) {
        terminate("Unsaved" + std::to_string(i), 300 + i);
        ASSERT_TRUE(waitUntil([&] { return notified.size() == static_cast<std::size_t>(i + 1); }));
        model->waitForWrites();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(said, std::vector<QString>{QString::fromStdString(
                        "cannot write " + (directory / "events.json").string() + ": Is a directory")});
    EXPECT_EQ(model->events().size(), 3u) << "still shown";

    // Once the file can be written again, the next save holds the closures it could not take.
    std::filesystem::remove(directory / "events.json");
    terminate("Saved", 303);
    ASSERT_TRUE(waitUntil([&] { return notified.size() == 4; }));
    EXPECT_EQ(savedEvents(), model->events());
    EXPECT_EQ(model->events().size(), 4u);
}

} // namespace
} // namespace exitwise::app
