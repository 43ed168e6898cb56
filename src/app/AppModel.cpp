// SPDX-License-Identifier: MIT
#include "app/AppModel.h"

#include "app/BroadcastCenter.h"
#include "app/DiagnosisHash.h"
#include "app/DiagnosisVersion.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/Export.h"
#include "app/stores/TerminationEventLedger.h"
#include "core/ExplanationTemplates.h"

#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <thread>

namespace exitwise::app {

namespace {

// The stored card in `current` words, when it is word for word another wording set's card for
// its verdict. A card written any other way (an older release, edited by hand) is left as it is.
std::optional<core::ExplanationCard> reworded(const AppEvent& event, core::Wording current)
{
    const core::Diagnosis& d = event.diagnosis;
    const auto card = [&](core::Wording wording) {
        return core::ExplanationTemplates::render(event.appName, d.dominantCause, d.confidence, d.signalsUsed,
                                                  wording);
    };
    for (const core::Wording wording : core::kWordings) {
        if (wording != current && card(wording) == d.explanation) {
            return card(current);
        }
    }
    return std::nullopt;
}

core::EventContext contextFor(const AppEvent& event)
{
    return core::contextAround(event, AppModel::kCorrelationSeconds);
}

std::string lowerRaw(core::Confidence confidence)
{
    std::string text(core::rawValue(confidence));
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

// Shared with the diagnoses: one may outlive the model, and then has nobody to hand its result to.
struct AppModel::DiagnosisOutlet
{
    std::mutex lock;
    AppModel* model = nullptr;

    void handIn(AppEvent event, std::int64_t timeToDiagnosisMS)
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (model == nullptr) {
            return;
        }
        // Queued to the model's thread; a model destroyed before it runs drops it.
        QMetaObject::invokeMethod(
            model,
            [to = model, event = std::move(event), timeToDiagnosisMS]() mutable {
                to->record(std::move(event), timeToDiagnosisMS);
            },
            Qt::QueuedConnection);
    }
};

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dataDirectory(std::move(dependencies.dataDirectory))
    , m_clock(dependencies.clock ? std::move(dependencies.clock) : std::function<core::Date()>(&core::now))
    , m_notify(std::move(dependencies.notify))
    , m_store(m_dataDirectory)
    , m_feedbackStore(m_dataDirectory / "feedback.jsonl")
    , m_telemetryStore(m_dataDirectory / "telemetry.json")
    , m_productEvents(m_dataDirectory)
    , m_ledger(std::make_shared<TerminationEventLedger>(m_dataDirectory))
    , m_engine(std::move(dependencies.engine))
    , m_outlet(std::make_shared<DiagnosisOutlet>())
    , m_diagnosisPool(std::make_unique<QThreadPool>())
{
    m_outlet->model = this;
    // Background diagnoses should not compete with the desktop.
    m_diagnosisPool->setThreadPriority(QThread::LowPriority);
    m_diagnosisPool->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    m_writer.setMaxThreadCount(1);

    m_monitor =
        std::make_unique<AppMonitor>(*dependencies.workspace, m_ledger, std::move(dependencies.logQuery),
                                     std::move(dependencies.ownBundleIdentifier));
    m_monitor->setLogDialect(dependencies.logDialect);
    m_monitor->setClock(m_clock);

    // Load and reconcile; an unreadable file leaves the list empty (the store keeps it aside).
    // The ledger is read on the writer thread, ahead of any write: after years it is long.
    std::vector<AppEvent> loaded = m_store.load(now());
    m_writer.start([this, events = loaded, newer = m_store.newerEvents(), at = now()] {
        static_cast<void>(m_store.reconciler().reconcile(events, at, newer));
    });
    sortNewestFirst(loaded);
    m_events = std::move(loaded);
    if (!m_events.empty()) {
        m_selectedEventID = m_events.front().id;
    }

    m_productEvents.record(
        ProductAnalyticsEventName::appOpened,
        {{"existing_event_count", std::to_string(m_events.size())}, {"build", currentDiagnosisVersion()}},
        now());

    if (dependencies.broadcasts != nullptr) {
        connect(dependencies.broadcasts, &BroadcastCenter::posted, this,
                [this](const QString& name, const QVariantMap& userInfo) {
                    if (name != QLatin1String(BroadcastCenter::kDidSelectEventFromNotification)) {
                        return;
                    }
                    const QVariant value = userInfo.value(QStringLiteral("event_id"));
                    std::optional<Uuid> id;
                    if (value.metaType() == QMetaType::fromType<QUuid>()) {
                        id = Uuid::parse(value.toUuid().toString(QUuid::WithoutBraces).toStdString());
                    } else if (value.metaType() == QMetaType::fromType<QString>()) {
                        id = Uuid::parse(value.toString().toStdString());
                    }
                    if (!id) {
                        return;
                    }
                    // At once, so a window brought forward for the click already shows this
                    // event rather than the one selected before.
                    setSelectedEventID(id);
                });
    }

    // The monitor calls back on the main thread; the model only schedules its work.
    QPointer<AppModel> self(this);
    m_monitor->setOnTermination([self](const MonitoredTermination& termination) {
        if (self) {
            QMetaObject::invokeMethod(
                self,
                [self, termination] {
                    if (self) {
                        self->handleTermination(termination);
                    }
                },
                Qt::QueuedConnection);
        }
    });
    if (dependencies.startMonitoring) {
        m_monitor->start();
    }

    QTimer::singleShot(0, this, [this] { refreshRecentDiagnoses(kDiagnosisDiffLimit); });
}

AppModel::~AppModel()
{
    m_monitor->stop();
    {
        const std::lock_guard<std::mutex> guard(m_outlet->lock);
        m_outlet->model = nullptr;
    }
    // A log tool can take seconds to time out; quitting does not wait for it. The pool goes with
    // the diagnoses still running and is joined by a thread of its own.
    if (!m_diagnosisPool->waitForDone(static_cast<int>(kQuitWait.count()))) {
        std::thread([pool = std::move(m_diagnosisPool)] { pool->waitForDone(); }).detach();
    }
    waitForWrites();
}

void AppModel::waitForWrites()
{
    handOverList();
    m_writer.waitForDone();
}

void AppModel::setSelectedEventID(const std::optional<Uuid>& id)
{
    if (m_selectedEventID == id) {
        return;
    }
    m_selectedEventID = id;
    emit selectedEventIDChanged();
}

void AppModel::setMonitoringPaused(bool paused)
{
    if (paused == m_isMonitoringPaused) {
        return;
    }
    m_isMonitoringPaused = paused;
    if (paused) {
        m_monitor->stop();
    } else {
        m_monitor->start();
    }
    emit monitoringPausedChanged(paused);
}

void AppModel::openEvent(const std::optional<Uuid>& id)
{
    // Recorded before the selection moves, so the list's own record for it is the duplicate.
    if (id) {
        recordDiagnosisViewed(*id, "open_event");
    }
    setSelectedEventID(id);
}

void AppModel::recordDiagnosisViewed(const Uuid& eventID, const std::string& source)
{
    const core::Date at = now();
    if (m_lastDiagnosisViewEvent && m_lastDiagnosisViewEvent->first == eventID
        && (at - m_lastDiagnosisViewEvent->second).count() < kDiagnosisViewDedupSeconds) {
        return;
    }
    m_lastDiagnosisViewEvent = std::make_pair(eventID, at);
    const AppEvent* viewed = event(eventID);
    if (viewed == nullptr) {
        return;
    }
    m_productEvents.record(ProductAnalyticsEventName::diagnosisViewed,
                           {{"event_id", viewed->id.toString()},
                            {"source", source},
                            {"confidence", lowerRaw(viewed->diagnosis.confidence)},
                            {"cause", std::string(core::rawValue(viewed->diagnosis.dominantCause))}},
                           at);
}

void AppModel::recordActionCopied(const Uuid& eventID, const std::string& action)
{
    m_productEvents.record(ProductAnalyticsEventName::actionCopied,
                           {{"event_id", eventID.toString()}, {"action", action}}, now());
}

void AppModel::recordConfidenceNoteExpanded(const Uuid& eventID)
{
    m_productEvents.record(ProductAnalyticsEventName::confidenceNoteExpanded,
                           {{"event_id", eventID.toString()}}, now());
}

void AppModel::recordOnboarding(bool completed)
{
    m_productEvents.record(completed ? ProductAnalyticsEventName::onboardingCompleted
                                     : ProductAnalyticsEventName::onboardingViewed,
                           {}, now());
}

void AppModel::submitFeedback(FeedbackRating rating, const Uuid& eventID)
{
    AppEvent* rated = find(eventID);
    if (rated == nullptr || rated->feedback == rating) {
        return;
    }
    rated->feedback = rating;
    const AppEvent snapshot = *rated;
    emit eventsChanged();
    save();

    const bool helpful = rating == FeedbackRating::helpful;
    const core::Date at = now();
    m_feedbackStore.append(FeedbackRecord{snapshot.id, snapshot.appName, snapshot.diagnosis.dominantCause,
                                          snapshot.diagnosis.confidence, helpful, at});
    recordTelemetry(DiagnosisTelemetryStore::Rating{snapshot.id, helpful, at});
    m_productEvents.record(ProductAnalyticsEventName::feedbackSubmitted,
                           {{"event_id", snapshot.id.toString()},
                            {"helpful", helpful ? "true" : "false"},
                            {"confidence", lowerRaw(snapshot.diagnosis.confidence)},
                            {"cause", std::string(core::rawValue(snapshot.diagnosis.dominantCause))}},
                           at);
}

const AppEvent* AppModel::event(const Uuid& id) const
{
    const auto it =
        std::find_if(m_events.begin(), m_events.end(), [&id](const AppEvent& e) { return e.id == id; });
    return it == m_events.end() ? nullptr : &*it;
}

AppEvent* AppModel::find(const Uuid& id)
{
    return const_cast<AppEvent*>(std::as_const(*this).event(id));
}

std::optional<FileError> AppModel::exportCSV(const std::filesystem::path& to) const
{
    return exporting::exportCSV(m_events, to);
}

std::optional<FileError> AppModel::exportJSON(const std::filesystem::path& to) const
{
    return exporting::exportJSON(m_events, to);
}

void AppModel::handleTermination(const MonitoredTermination& t)
{
    // Everything the background task needs is copied; it never touches the model.
    const core::DiagnosisEngine engine = m_engine;
    const std::string version = currentDiagnosisVersion();
    const auto clock = m_clock;
    ++m_inFlight;
    m_diagnosisPool->start([outlet = m_outlet, engine, version, clock, t] {
        const auto started = std::chrono::steady_clock::now();
        core::EventContext context = core::contextAround(t, kCorrelationSeconds);
        context.process = t.process;
        core::Diagnosis diagnosis = engine.diagnose(context, {}, true);
        std::string hash = diagnosisHash(diagnosis);
        AppEvent event{t, Uuid::random(), std::move(diagnosis), version, std::move(hash), false};
        // Every closure seen here has a reason, if only "unknown", and the record says so.
        event.terminationReason = t.reason();
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        const std::int64_t timeToDiagnosisMS = std::max<std::int64_t>(0, elapsed.count());
        outlet->handIn(std::move(event), timeToDiagnosisMS);
    });
}

void AppModel::record(AppEvent event, std::int64_t timeToDiagnosisMS)
{
    --m_inFlight;
    m_events.insert(m_events.begin(), event);
    if (m_events.size() > kMaxEventsToKeep) {
        m_events.resize(kMaxEventsToKeep);
    }
    emit eventsChanged();
    setSelectedEventID(event.id);
    save();
    recordTelemetry(DiagnosisTelemetryStore::makeRecord(event, timeToDiagnosisMS, now()));
    if (m_notify) {
        m_notify(event);
    }
    emit eventRecorded(event);
}

void AppModel::save()
{
    if (m_listChanged) {
        return;
    }
    m_listChanged = true;
    // Queued behind the closures already waiting, which then share this one write.
    QMetaObject::invokeMethod(this, &AppModel::handOverList, Qt::QueuedConnection);
}

void AppModel::handOverList()
{
    if (!m_listChanged) {
        return;
    }
    m_listChanged = false;
    std::vector<AppEvent> snapshot = m_events;
    const core::Date at = now();
    const std::lock_guard<std::mutex> lock(m_pending.lock);
    // A list the writer has not taken yet is out of date: only the newest is written.
    m_pending.events = std::move(snapshot);
    m_pending.eventsAt = at;
    startWriter();
}

void AppModel::recordTelemetry(DiagnosisTelemetryStore::Change change)
{
    const core::Date at = now();
    const std::lock_guard<std::mutex> lock(m_pending.lock);
    m_pending.telemetry.push_back(std::move(change));
    m_pending.telemetryAt = at;
    if (!m_listChanged) {
        startWriter(); // otherwise the list's hand-over starts it, and the list is written first
    }
}

void AppModel::startWriter()
{
    if (m_pending.writerQueued) {
        return; // it takes everything pending when it gets to it
    }
    m_pending.writerQueued = true;
    m_writer.start([this] { writePending(); });
}

void AppModel::writePending()
{
    // On the writer thread: the stores are used from here only once the model is built.
    for (;;) {
        std::optional<std::vector<AppEvent>> events;
        core::Date eventsAt;
        std::vector<DiagnosisTelemetryStore::Change> telemetry;
        core::Date telemetryAt;
        {
            const std::lock_guard<std::mutex> lock(m_pending.lock);
            if (!m_pending.events && m_pending.telemetry.empty()) {
                m_pending.writerQueued = false;
                return;
            }
            events.swap(m_pending.events);
            eventsAt = m_pending.eventsAt;
            telemetry.swap(m_pending.telemetry);
            telemetryAt = m_pending.telemetryAt;
        }
        if (events) {
            // The list in memory stays as it is; the first failure is said, to the main thread.
            if (const std::optional<FileError> failure = m_store.save(*events, eventsAt);
                failure && !m_saveFailureSaid.exchange(true)) {
                QMetaObject::invokeMethod(
                    this,
                    [this, message = QString::fromStdString(failure->message())] {
                        emit saveFailed(message);
                    },
                    Qt::QueuedConnection);
            }
        }
        m_telemetryStore.apply(telemetry, telemetryAt);
    }
}

void AppModel::refreshRecentDiagnoses(int limit)
{
    if (m_events.empty()) {
        return;
    }
    const std::string version = currentDiagnosisVersion();
    const std::size_t n = std::min(m_events.size(), static_cast<std::size_t>(std::max(limit, 0)));
    // Work by id: the list may change while the refresh runs.
    std::vector<Uuid> ids;
    for (std::size_t i = 0; i < n; ++i) {
        ids.push_back(m_events[i].id);
    }

    bool dirty = false;
    bool changed = false;
    for (const Uuid& id : ids) {
        const AppEvent* stored = event(id);
        if (stored == nullptr) {
            continue;
        }
        const core::Diagnosis fresh =
            m_engine.diagnose(contextFor(*stored), stored->diagnosis.signalsUsed, false);
        const std::string newHash = diagnosisHash(fresh);
        const std::string oldHash = stored->diagnosisHash.value_or(diagnosisHash(stored->diagnosis));

        // Only the diagnosis bookkeeping is written back, so a rating given meanwhile stays.
        AppEvent* current = find(id);
        const AppEvent before = *current;
        current->diagnosisVersion = version;
        current->diagnosisHash = newHash;
        if (newHash != oldHash) {
            current->previousDominantCause = before.diagnosis.dominantCause;
            current->previousEndState = before.diagnosis.endState;
            current->previousConfidence = before.diagnosis.confidence;
            current->diagnosisChanged = true;
            current->diagnosis = fresh;
            dirty = true;
        } else {
            if (!before.diagnosisChanged || *before.diagnosisChanged) {
                dirty = true;
            }
            current->diagnosisChanged = false;
            // Same verdict, current words: on Linux, an event recorded with the macOS texts gets
            // its explanation rendered again, and reads like the rest.
            const auto card = reworded(*current, m_engine.wording());
            if (card && *card != current->diagnosis.explanation) {
                current->diagnosis.explanation = *card;
                dirty = true;
            }
        }
        changed = changed || *current != before;
    }
    if (changed) {
        emit eventsChanged();
    }
    if (dirty) {
        save();
    }
}

} // namespace exitwise::app
