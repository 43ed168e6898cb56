// SPDX-License-Identifier: MIT
#include "app/monitor/AppMonitor.h"

#include "app/monitor/ExitEvidence.h"
#include "app/stores/TerminationEventLedger.h"
#include "core/Text.h"

#include <cmath>
#include <mutex>
#include <thread>

namespace exitwise::app {

namespace {

std::optional<std::string> nonBlank(const std::optional<std::string>& value)
{
    if (value && !core::text::isBlank(*value)) {
        return value;
    }
    return std::nullopt;
}

} // namespace

struct AppMonitor::Outlet
{
    std::mutex lock;
    AppMonitor* monitor = nullptr;

    // Queued to the monitor's thread; a monitor gone by then hears nothing.
    void handIn(std::shared_ptr<Pending> pending, const QuitEvidence::Classification& classification)
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (monitor == nullptr) {
            return;
        }
        QMetaObject::invokeMethod(
            monitor,
            [to = monitor, pending = std::move(pending), classification] {
                to->apply(*pending, classification);
                to->flush();
            },
            Qt::QueuedConnection);
    }
};

AppMonitor::AppMonitor(WorkspaceEvents& workspace,
                       std::shared_ptr<TerminationEventLedger> ledger,
                       LogQuery logQuery,
                       std::optional<std::string> ownBundleIdentifier,
                       QObject* parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_ledger(std::move(ledger))
    , m_logQuery(std::move(logQuery))
    , m_ownBundleIdentifier(std::move(ownBundleIdentifier))
    , m_clock(&core::now)
    , m_outlet(std::make_shared<Outlet>())
    , m_worker(std::make_unique<QThreadPool>())
{
    m_outlet->monitor = this;
    // One thread, so queries run one at a time in notice order.
    m_worker->setMaxThreadCount(1);
    // One thread, so ledger lines are written in the order they leave.
    m_ledgerWriter.setMaxThreadCount(1);
}

AppMonitor::~AppMonitor()
{
    {
        const std::lock_guard<std::mutex> guard(m_outlet->lock);
        m_outlet->monitor = nullptr;
    }
    for (const std::shared_ptr<Pending>& pending : m_pending) {
        if (!pending->resolved) {
            apply(*pending, pending->withoutLog);
        }
    }
    flush();
    // A log tool can take seconds to time out; quitting does not wait for it. The queries go on
    // unheard, joined by a thread of their own.
    m_worker->clear();
    if (!m_worker->waitForDone(0)) {
        std::thread([pool = std::move(m_worker)] { pool->waitForDone(); }).detach();
    }
    m_ledgerWriter.waitForDone();
}

void AppMonitor::start()
{
    if (m_isRunning) {
        return;
    }
    m_isRunning = true;
    m_observers.push_back(
        connect(&m_workspace, &WorkspaceEvents::applicationLaunched, this, &AppMonitor::handleLaunch));
    m_observers.push_back(
        connect(&m_workspace, &WorkspaceEvents::applicationTerminated, this, &AppMonitor::handleTermination));
    m_observers.push_back(connect(&m_workspace, &WorkspaceEvents::willPowerOff, this, [this] {
        handleSystemQuit(core::QuitAttribution::shutdown, "System shutdown/restart request");
    }));
    m_observers.push_back(connect(&m_workspace, &WorkspaceEvents::sessionDidResignActive, this, [this] {
        handleSystemQuit(core::QuitAttribution::logout, "User session resigned active (logout/lock)");
    }));
}

void AppMonitor::stop()
{
    if (!m_isRunning) {
        return;
    }
    m_isRunning = false;
    for (const auto& observer : m_observers) {
        disconnect(observer);
    }
    m_observers.clear();
    m_launchTimesByPID.clear();
    m_lastSystemQuitRequest.reset();
}

void AppMonitor::handleLaunch(const RunningApplication& application)
{
    m_launchTimesByPID[application.pid] = m_clock();
}

void AppMonitor::handleSystemQuit(core::QuitAttribution attribution, const std::string& raw)
{
    m_lastSystemQuitRequest = SystemQuitRequest{m_clock(), attribution, raw};
}

void AppMonitor::handleTermination(const RunningApplication& application)
{
    if (m_ownBundleIdentifier && application.bundleIdentifier == m_ownBundleIdentifier) {
        return;
    }
    const core::Date now = m_clock();
    const std::int32_t pid = application.pid;

    auto pending = std::make_shared<Pending>();
    MonitoredTermination& record = pending->record;
    record.appName = nonBlank(application.localizedName)
                         .value_or(nonBlank(application.bundleIdentifier).value_or("Unknown App"));
    record.bundleIdentifier = application.bundleIdentifier;
    record.pid = pid;
    record.appPath = application.bundlePath;
    record.process = application.process;
    if (const auto it = m_launchTimesByPID.find(pid); it != m_launchTimesByPID.end()) {
        record.launchedAt = it->second;
    }
    record.terminatedAt = now;
    m_pending.push_back(pending);

    // A shutdown or logout notice explains every termination close to it; it is not used up.
    if (m_lastSystemQuitRequest
        && std::abs((m_lastSystemQuitRequest->at - now).count()) <= kSystemQuitWindowSeconds) {
        apply(*pending, {core::TerminationReason::quit, m_lastSystemQuitRequest->raw,
                         m_lastSystemQuitRequest->attribution});
        flush();
        return;
    }

    // A platform that reports how processes end has first-hand evidence; the log may still
    // refine it (a memory killer's SIGKILL or SIGTERM), so it is asked only when it can.
    const core::ProcessFacts& facts = application.process;
    std::optional<QuitEvidence::Classification> fromExit;
    if (facts.exit) {
        fromExit = ExitEvidence::classify(*facts.exit, facts.endedUnresponsive);
        if (fromExit && !ExitEvidence::logMayRefine(*facts.exit, facts.endedUnresponsive)) {
            apply(*pending, *fromExit);
            flush();
            return;
        }
    }
    // Without an exit status, nothing found in the log means nothing is known; the desktop's
    // own notice alone says the application quit.
    const QuitEvidence::Classification fallback = facts.exit
                                                      ? ExitEvidence::unknownClassification()
                                                      : QuitEvidence::defaultClassification(m_logDialect);

    pending->withoutLog = fromExit ? ExitEvidence::combine(fromExit, std::nullopt) : fallback;

    const std::optional<std::string> name = nonBlank(application.localizedName);
    const QuitEvidence::Target target{name, application.bundleIdentifier, pid, facts};
    const std::optional<std::string> predicate = QuitEvidence::predicate(target, m_logDialect);
    if (!predicate || !m_logQuery) {
        apply(*pending, fromExit.value_or(fallback));
        flush();
        return;
    }

    const core::Date start = now - core::Seconds(QuitEvidence::kSecondsBefore);
    const core::Date end = now + core::Seconds(QuitEvidence::kSecondsAfter);
    const auto readAfter =
        std::chrono::steady_clock::now() + (facts.exit ? kLogSettleTime : std::chrono::milliseconds(0));
    m_worker->start([outlet = m_outlet, pending, query = m_logQuery, start, end, predicate = *predicate,
                     target, dialect = m_logDialect, fromExit, fallback, readAfter] {
        std::this_thread::sleep_until(readAfter);
        std::optional<QuitEvidence::Classification> fromLog;
        try {
            if (const auto output =
                    query(start, end, predicate, std::chrono::seconds(QuitEvidence::kTimeoutSeconds))) {
                fromLog = QuitEvidence::classify(*output, target, dialect);
            }
        } catch (...) {
            // A failing log tool only means no evidence.
        }
        outlet->handIn(pending, fromExit || fromLog ? ExitEvidence::combine(fromExit, fromLog) : fallback);
    });
}

void AppMonitor::apply(Pending& pending, const QuitEvidence::Classification& classification)
{
    pending.record.terminationReason = classification.reason;
    pending.record.terminationRawValue = classification.rawValue;
    pending.record.terminationQuitAttribution = classification.attribution;
    pending.resolved = true;
}

void AppMonitor::flush()
{
    // The ledger line always precedes the callback, and records leave in notice order. Each line
    // is made here and written (and synced) by the ledger writer, so the main thread never waits
    // for the disk; the callback follows on the main thread once the line is written.
    while (!m_pending.empty() && m_pending.front()->resolved) {
        const std::shared_ptr<Pending> done = m_pending.front();
        m_pending.pop_front();
        const MonitoredTermination& t = done->record;
        std::optional<TerminationLedgerEntry> entry;
        if (m_ledger) {
            entry = TerminationLedgerEntry{t, Uuid::random(), m_clock(), kWorkspaceTerminationSource};
        }
        m_ledgerWriter.start([this, ledger = m_ledger, entry = std::move(entry), record = t] {
            if (ledger && entry) {
                ledger->append(*entry);
            }
            QMetaObject::invokeMethod(
                this,
                [this, record] {
                    if (m_onTermination) {
                        m_onTermination(record);
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace exitwise::app
