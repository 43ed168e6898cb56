// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/FileError.h"
#include "app/Uuid.h"
#include "app/monitor/AppMonitor.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventStore.h"
#include "app/stores/FeedbackStore.h"
#include "app/stores/ProductAnalyticsStore.h"
#include "core/DiagnosisEngine.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace exitwise::app {

class BroadcastCenter;
class TerminationEventLedger;
class WorkspaceEvents;

// Owns the recorded closures and drives the pipeline: each termination the monitor reports is
// diagnosed in the background, becomes the newest event, is saved, measured and announced.
// Lives on the main thread; every change is announced by a signal after it took effect.
// The event list and the telemetry records are written by one writer thread, in the order the
// changes were made, so the main thread never waits for the disk; changes that pile up while a
// write runs go out together in the next.
class AppModel : public QObject
{
    Q_OBJECT

public:
    static constexpr double kCorrelationSeconds = 180.0;
    static constexpr std::size_t kMaxEventsToKeep = EventStore::kMaxEvents;
    static constexpr int kDiagnosisDiffLimit = 50;
    static constexpr double kDiagnosisViewDedupSeconds = 2.0;

    struct Dependencies
    {
        std::filesystem::path dataDirectory;
        WorkspaceEvents* workspace = nullptr;                  // required; not owned
        AppMonitor::LogQuery logQuery;                         // the monitor's quit-evidence query
        core::LogDialect logDialect = core::LogDialect::macos; // the words its output is read with
        std::optional<std::string> ownBundleIdentifier = "exitwise";
        core::DiagnosisEngine engine;                // with its providers
        std::function<void(const AppEvent&)> notify; // announces a new closure; may be empty
        BroadcastCenter* broadcasts = nullptr;       // may be null; not owned
        std::function<core::Date()> clock;           // defaults to the system clock
        bool startMonitoring = true;
    };

    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    // Gives diagnoses in flight up to kQuitWait, then leaves them running unheard (their closures
    // are in the ledger, so the next start reports them); then waits for the writes.
    ~AppModel() override;
    static constexpr std::chrono::milliseconds kQuitWait{1000};

    [[nodiscard]] const std::vector<AppEvent>& events() const { return m_events; }
    [[nodiscard]] const std::optional<Uuid>& selectedEventID() const { return m_selectedEventID; }
    void setSelectedEventID(const std::optional<Uuid>& id);
    [[nodiscard]] bool isMonitoringPaused() const { return m_isMonitoringPaused; }
    // The words of the engine's explanations, for the texts shown beside them (signal summaries).
    [[nodiscard]] core::Wording wording() const { return m_engine.wording(); }

    void setMonitoringPaused(bool paused);
    void openEvent(const std::optional<Uuid>& id);
    void recordDiagnosisViewed(const Uuid& eventID, const std::string& source);
    void recordActionCopied(const Uuid& eventID, const std::string& action);
    void recordConfidenceNoteExpanded(const Uuid& eventID);
    // The first-run checklist shown, or finished.
    void recordOnboarding(bool completed);
    void submitFeedback(FeedbackRating rating, const Uuid& eventID);
    [[nodiscard]] const AppEvent* event(const Uuid& id) const;
    [[nodiscard]] std::optional<FileError> exportCSV(const std::filesystem::path& to) const;
    [[nodiscard]] std::optional<FileError> exportJSON(const std::filesystem::path& to) const;

    // Re-evaluates the stored evidence of the newest events with the current rules and marks
    // those whose verdict changed; an unchanged verdict keeps its mark but takes the engine's
    // current explanation texts. Runs at start-up.
    void refreshRecentDiagnoses(int limit);

    // Handles one termination: diagnosis in the background, then the event is recorded.
    void handleTermination(const MonitoredTermination& termination);

    [[nodiscard]] AppMonitor& monitor() { return *m_monitor; }
    // Diagnoses started but not yet recorded.
    [[nodiscard]] int diagnosesInFlight() const { return m_inFlight; }
    // Blocks until every change made so far is in "events.json" and "telemetry.json".
    void waitForWrites();

signals:
    void eventsChanged();
    void selectedEventIDChanged();
    void monitoringPausedChanged(bool paused);
    // A new closure was recorded (it is also the first of events()).
    void eventRecorded(const exitwise::app::AppEvent& event);
    // The first save of this run that failed ("cannot write …: No space left on device"), said
    // once however many fail after it: the closures stay in the list and in the ledger.
    void saveFailed(const QString& message);

private:
    // What the writer thread has still to write.
    struct PendingWrites
    {
        std::mutex lock;
        std::optional<std::vector<AppEvent>> events; // the newest list not yet saved
        core::Date eventsAt;
        std::vector<DiagnosisTelemetryStore::Change> telemetry; // in the order made
        core::Date telemetryAt;
        bool writerQueued = false;
    };

    void record(AppEvent event, std::int64_t timeToDiagnosisMS);
    // Saves the list: once per turn of the event loop, however many changes it saw.
    void save();
    void handOverList();
    void recordTelemetry(DiagnosisTelemetryStore::Change change);
    void startWriter(); // with m_pending.lock held
    void writePending();
    [[nodiscard]] core::Date now() const { return m_clock(); }
    [[nodiscard]] AppEvent* find(const Uuid& id);

    std::filesystem::path m_dataDirectory;
    std::function<core::Date()> m_clock;
    std::function<void(const AppEvent&)> m_notify;

    std::vector<AppEvent> m_events;
    std::optional<Uuid> m_selectedEventID;
    bool m_isMonitoringPaused = false;

    EventStore m_store;
    FeedbackStore m_feedbackStore;
    DiagnosisTelemetryStore m_telemetryStore;
    std::atomic<bool> m_saveFailureSaid{false}; // set on the writer thread
    ProductAnalyticsStore m_productEvents;
    std::shared_ptr<TerminationEventLedger> m_ledger;
    std::unique_ptr<AppMonitor> m_monitor;
    core::DiagnosisEngine m_engine;

    std::optional<std::pair<Uuid, core::Date>> m_lastDiagnosisViewEvent;
    struct DiagnosisOutlet;
    std::shared_ptr<DiagnosisOutlet> m_outlet; // where finished diagnoses are handed in
    std::unique_ptr<QThreadPool> m_diagnosisPool;
    int m_inFlight = 0;

    bool m_listChanged = false; // a save is due at the next turn of the event loop
    PendingWrites m_pending;
    QThreadPool m_writer; // one thread
};

} // namespace exitwise::app
