// SPDX-License-Identifier: MIT
#include "app/AppModel.h"

#include "app/BroadcastCenter.h"
#include "app/DiagnosisHash.h"
#include "app/RecordFiles.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventLedgerReconciliationReport.h"
#include "app/stores/ProductAnalyticsEvent.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/EventLoop.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QUuid>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace exitwise::app {
namespace {

using namespace std::chrono_literals;
using core::TerminationReason;
const core::Date T0 = core::dateFromReferenceSeconds(786300000.0);

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms)
{
    return test::waitUntil(done, limit);
}

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
    std::ifstream in(file);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.empty() ? 0 : 1;
    }
    return count;
}

// A stored event whose recorded verdict (a crash) disagrees with its own evidence (a quit).
AppEvent storedEvent(int index, bool withHash = true)
{
    const core::Date at = T0 - core::Seconds(60.0 * index);
    const core::EventContext context = core::contextAround({.appName = "App " + std::to_string(index),
                                                            .pid = 100 + index,
                                                            .terminatedAt = at,
                                                            .terminationReason = TerminationReason::quit},
                                                           180.0);
    core::Diagnosis diagnosis{
        core::EndState::crash,
        core::DominantCause::crashBug,
        core::Confidence::high,
        {core::TerminationSignal{at, TerminationReason::quit, std::nullopt, std::nullopt}},
        context.window,
        {"w", "y", "d", {}, std::nullopt}};
    AppEvent event{context, Uuid::random(), diagnosis, "0.0.1"};
    if (withHash) {
        event.diagnosisHash = diagnosisHash(diagnosis);
    }
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
        d.broadcasts = &broadcasts;
        d.clock = [this] { return now; };
        model = std::make_unique<AppModel>(std::move(d));
        QCoreApplication::processEvents(); // the start-up refresh
    }

    void writeEvents(const std::vector<AppEvent>& events)
    {
        ASSERT_FALSE(records::atomicReplace(directory / "events.json", EventStore::encodeEventFile(events)));
    }

    void terminate(const std::string& name, std::int32_t pid)
    {
        emit workspace.applicationTerminated(
            RunningApplication{name, "org.example." + name, pid, std::nullopt, {}});
    }

    test::TempDir temp{"model"};
    const std::filesystem::path directory = temp.path();
    WorkspaceEvents workspace;
    BroadcastCenter broadcasts;
    core::Date now = T0;
    core::Wording wording = core::Wording::macos;
    std::vector<std::string> notified;
    std::unique_ptr<AppModel> model;
};

TEST_F(AppModelTest, NewClosureBecomesTheFirstSelectedAndAnnouncedEvent)
{
    std::vector<AppEvent> stored;
    for (int i = 0; i < 200; ++i) {
        stored.push_back(storedEvent(i + 1));
    }
    writeEvents(stored);
    makeModel();
    ASSERT_EQ(model->events().size(), 200u);
    const Uuid oldest = model->events().back().id;

    terminate("Preview", 812);
    ASSERT_TRUE(waitUntil([&] { return !notified.empty(); }));
    ASSERT_EQ(model->events().size(), 200u);
    const AppEvent& first = model->events().front();
    EXPECT_EQ(first.appName, "Preview");
    EXPECT_EQ(model->selectedEventID(), first.id);
    EXPECT_EQ(model->event(oldest), nullptr);
    EXPECT_EQ(first.diagnosisHash, diagnosisHash(first.diagnosis));
    EXPECT_EQ(first.diagnosisChanged, false);
}

// The files are written off the main thread, several closures at a time; none may go missing
// when the model goes away before the writer got to them.
TEST_F(AppModelTest, ABurstOfClosuresIsWrittenInFullOnTheWayOut)
{
    makeModel();
    constexpr int kClosures = 40;
    for (int i = 0; i < kClosures; ++i) {
        terminate("Burst" + std::to_string(i), 1000 + i);
    }
    ASSERT_TRUE(waitUntil([&] { return notified.size() == kClosures; }));
    const std::vector<AppEvent> shown = model->events();
    model.reset();

    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value(), shown);
    EXPECT_EQ(lineCount(directory / "event_ledger.jsonl"), static_cast<std::size_t>(kClosures));
    const auto telemetry = DiagnosisTelemetryStore(directory / "telemetry.json").load();
    EXPECT_EQ(telemetry.size(), static_cast<std::size_t>(kClosures));
}

// The start reconciles what was loaded: a closure whose event is gone (or was never made) is
// reported, one that is in the list is not.
TEST_F(AppModelTest, StartUpReconcilesTheLedgerWithTheLoadedEvents)
{
    const AppEvent kept = storedEvent(1);
    const AppEvent lost = storedEvent(2);
    TerminationEventLedger ledger(directory);
    for (const AppEvent& event : {kept, lost}) {
        ledger.append(
            TerminationLedgerEntry{event, Uuid::random(), event.terminatedAt, kWorkspaceTerminationSource});
    }
    writeEvents({kept});
    makeModel();
    model->waitForWrites();

    const auto report = decodeEventLedgerReconciliationReport(
        core::json::parse(records::readFile(directory / "reconciliation_report.json").value()));
    EXPECT_EQ(report.generatedAt, T0);
    EXPECT_EQ(report.evidenceCount, 2);
    EXPECT_EQ(report.recordedEventCount, 1);
    ASSERT_EQ(report.mismatchCount, 1);
    EXPECT_EQ(report.mismatches.front().appName, lost.appName);
}

TEST_F(AppModelTest, SlowerDiagnosisLandsFirst)
{
    makeModel();
    terminate("Slow", 1);
    terminate("Quick", 2);
    ASSERT_TRUE(waitUntil([&] { return notified.size() == 2; }));
    EXPECT_EQ(notified, (std::vector<std::string>{"Quick", "Slow"}));
    EXPECT_EQ(model->events().front().appName, "Slow");
    EXPECT_EQ(model->selectedEventID(), model->events().front().id);
}

TEST_F(AppModelTest, QuitDoesNotWaitForAStuckDiagnosisWhoseLineIsWritten)
{
    makeModel();
    terminate("Stuck", 7);
    ASSERT_TRUE(waitUntil([&] { return model->diagnosesInFlight() == 1; }));
    EXPECT_EQ(lineCount(directory / "event_ledger.jsonl"), 1u) << "the line precedes the diagnosis";

    const auto quitStarted = std::chrono::steady_clock::now();
    model.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - quitStarted, 2500ms) << "the diagnosis hangs for 5 s";
}

TEST_F(AppModelTest, DiagnosisViewsAreCountedOncePerTwoSeconds)
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
    EXPECT_EQ(views(), 2u);
    model->openEvent(b);
    model->openEvent(a);
    EXPECT_EQ(views(), 4u);
    model->openEvent(std::nullopt);
    EXPECT_EQ(model->selectedEventID(), std::nullopt);
    EXPECT_EQ(views(), 4u);
}

TEST_F(AppModelTest, FeedbackIsRecordedOncePerChange)
{
    writeEvents({storedEvent(1)});
    makeModel();
    const Uuid id = model->events()[0].id;
    model->submitFeedback(FeedbackRating::helpful, id);
    model->submitFeedback(FeedbackRating::helpful, id);
    EXPECT_EQ(lineCount(directory / "feedback.jsonl"), 1u);
    model->submitFeedback(FeedbackRating::unhelpful, id);
    EXPECT_EQ(lineCount(directory / "feedback.jsonl"), 2u);
    EXPECT_EQ(model->events()[0].feedback, FeedbackRating::unhelpful);
    model->waitForWrites();
    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value()[0].feedback, FeedbackRating::unhelpful);
    model->submitFeedback(FeedbackRating::helpful, Uuid::random()); // unknown: nothing
    EXPECT_EQ(lineCount(directory / "feedback.jsonl"), 2u);
}

TEST_F(AppModelTest, PauseStopsTheMonitorOnce)
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
    ASSERT_TRUE(waitUntil([&] { return notified.size() == 1; }));
    EXPECT_EQ(notified.front(), "Resumed");
}

TEST_F(AppModelTest, NotificationBroadcastSelectsOnlyAValidEvent)
{
    writeEvents({storedEvent(1), storedEvent(2)});
    makeModel();
    const Uuid second = model->events()[1].id;
    const auto selected = model->selectedEventID();
    broadcasts.post(BroadcastCenter::kDidSelectEventFromNotification, {});
    broadcasts.post(BroadcastCenter::kDidSelectEventFromNotification, {{"event_id", "not-a-uuid"}});
    QCoreApplication::processEvents();
    EXPECT_EQ(model->selectedEventID(), selected);
    broadcasts.post(BroadcastCenter::kDidSelectEventFromNotification,
                    {{"event_id", QUuid::fromString(QString::fromStdString(second.toString()))}});
    QCoreApplication::processEvents();
    EXPECT_EQ(model->selectedEventID(), second);
}

TEST_F(AppModelTest, StartUpRefreshMarksChangedVerdictsOfTheNewestFifty)
{
    std::vector<AppEvent> stored;
    for (int i = 0; i < 60; ++i) {
        stored.push_back(storedEvent(i, i != 3));
    }
    // One event whose verdict already matches its evidence and carries no hash.
    const core::EventContext ctx = core::contextAround({.appName = "Stable",
                                                        .pid = 7,
                                                        .terminatedAt = T0 + core::Seconds(5),
                                                        .terminationReason = TerminationReason::quit},
                                                       180.0);
    AppEvent stable = storedEvent(0, false);
    stable.appName = "Stable";
    stable.terminatedAt = ctx.terminatedAt;
    stable.diagnosis = core::DiagnosisEngine().diagnose(ctx, {}, false);
    stored.push_back(stable);
    writeEvents(stored);

    makeModel();
    const auto& events = model->events();
    ASSERT_EQ(events.size(), 61u);
    EXPECT_EQ(events[0].appName, "Stable");
    EXPECT_EQ(events[0].diagnosisChanged, false);
    EXPECT_EQ(events[0].previousDominantCause, std::nullopt);
    for (std::size_t i = 1; i < 50; ++i) {
        EXPECT_EQ(events[i].diagnosisChanged, true) << i;
        EXPECT_EQ(events[i].previousDominantCause, core::DominantCause::crashBug) << i;
        EXPECT_EQ(events[i].previousEndState, core::EndState::crash) << i;
        EXPECT_EQ(events[i].diagnosis.dominantCause, core::DominantCause::explicitQuit) << i;
    }
    for (std::size_t i = 50; i < 61; ++i) {
        EXPECT_EQ(events[i].diagnosisChanged, std::nullopt) << i;
        EXPECT_EQ(events[i].diagnosisVersion, "0.0.1") << i;
    }

    // The next launch finds the verdicts stable: the mark goes, the previous verdict stays.
    makeModel();
    const auto& again = model->events();
    EXPECT_EQ(again[1].diagnosisChanged, false);
    EXPECT_EQ(again[1].previousDominantCause, core::DominantCause::crashBug);
    model->waitForWrites();
    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value()[1].diagnosisChanged, false);
}

// A quit of "Notes" as the macOS texts told it.
AppEvent quitOfNotesInMacWords()
{
    const core::EventContext ctx = core::contextAround(
        {.appName = "Notes", .pid = 7, .terminatedAt = T0, .terminationReason = TerminationReason::quit},
        180.0);
    AppEvent stored = storedEvent(0);
    stored.appName = "Notes";
    stored.diagnosis = core::DiagnosisEngine().diagnose(ctx, {}, false);
    return stored;
}

// A verdict that did not change is reworded when its card is in a known wording, and kept
// word for word when it is not.
TEST_F(AppModelTest, StartUpRefreshRewordsOnlyCardsInAKnownWording)
{
    AppEvent stored = quitOfNotesInMacWords();
    stored.diagnosisHash = diagnosisHash(stored.diagnosis);
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
    model->waitForWrites();
    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value(), model->events());
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
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].toStdString(),
              "cannot write " + (directory / "events.json").string() + ": Is a directory");
    EXPECT_EQ(model->events().size(), 3u) << "still shown";
    EXPECT_EQ(lineCount(directory / "event_ledger.jsonl"), 3u);

    // Once the file can be written again, the next save holds the closures it could not take.
    std::filesystem::remove(directory / "events.json");
    terminate("Saved", 303);
    ASSERT_TRUE(waitUntil([&] { return notified.size() == 4; }));
    model->waitForWrites();
    const auto saved = EventStore::readEventFile(directory / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value().size(), 4u);
    EXPECT_EQ(saved.value(), model->events());
}

} // namespace
} // namespace exitwise::app
