// SPDX-License-Identifier: MIT
#pragma once

#include "app/WorkspaceEvents.h"
#include "app/monitor/MonitoredTermination.h"
#include "app/monitor/QuitEvidence.h"

#include <QObject>
#include <QThreadPool>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::app {

class TerminationEventLedger;

// Turns every termination of another application into one MonitoredTermination: writes it to
// the ledger, then hands it to the callback. Lives on the main thread; the log query for each
// termination runs on one serial worker and the ledger is written by another, so the main
// thread never waits for a child process or the disk. Records still leave in the order noticed,
// and the callback (on the main thread) follows the ledger line.
class AppMonitor : public QObject
{
    Q_OBJECT

public:
    // Runs the system log tool over [start, end] with a predicate; nothing when the tool could
    // not run or printed nothing. Called on the worker thread.
    using LogQuery = std::function<std::optional<std::string>(
        core::Date start, core::Date end, const std::string& predicate, std::chrono::seconds timeout)>;
    using Callback = std::function<void(const MonitoredTermination&)>;
    using Clock = std::function<core::Date()>;

    // How long a shutdown or logout notice explains terminations.
    static constexpr double kSystemQuitWindowSeconds = 15.0;

    AppMonitor(WorkspaceEvents& workspace,
               std::shared_ptr<TerminationEventLedger> ledger,
               LogQuery logQuery,
               std::optional<std::string> ownBundleIdentifier,
               QObject* parent = nullptr);
    // Does not wait for log queries: a termination still waiting for one gets its ledger line
    // from what is known without the log, so the next start's reconciliation reports it. Waits
    // for the ledger lines; callbacks not yet delivered are dropped.
    ~AppMonitor() override;

    void setOnTermination(Callback callback) { m_onTermination = std::move(callback); }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // The words the system log is read with: macOS by default, the Linux desktop's where the
    // platform is composed.
    void setLogDialect(core::LogDialect dialect) { m_logDialect = dialect; }

    // How long after a termination the log is read when it may still change what the exit
    // status says: a memory killer's line about a kill may land a little after the process ended.
    static constexpr std::chrono::milliseconds kLogSettleTime{300};

    // Both idempotent. Stopping forgets launch times and the last system quit request; a
    // termination noticed while stopped is not recorded.
    void start();
    void stop();
    [[nodiscard]] bool isRunning() const { return m_isRunning; }

    // Terminations noticed whose log query has not finished yet.
    [[nodiscard]] std::size_t pendingCount() const { return m_pending.size(); }

private:
    struct SystemQuitRequest
    {
        core::Date at;
        core::QuitAttribution attribution;
        std::string raw;
    };

    struct Pending
    {
        MonitoredTermination record;
        QuitEvidence::Classification withoutLog; // what the ledger says if the log is never read
        bool resolved = false;
    };
    struct Outlet; // where log queries hand in their answers; outlives the monitor

    void handleLaunch(const RunningApplication& application);
    void handleTermination(const RunningApplication& application);
    void handleSystemQuit(core::QuitAttribution attribution, const std::string& raw);
    void apply(Pending& pending, const QuitEvidence::Classification& classification);
    void flush();

    WorkspaceEvents& m_workspace;
    std::shared_ptr<TerminationEventLedger> m_ledger;
    LogQuery m_logQuery;
    std::optional<std::string> m_ownBundleIdentifier;
    Callback m_onTermination;
    Clock m_clock;
    core::LogDialect m_logDialect = core::LogDialect::macos;

    std::vector<QMetaObject::Connection> m_observers;
    std::map<std::int32_t, core::Date> m_launchTimesByPID;
    std::optional<SystemQuitRequest> m_lastSystemQuitRequest;
    bool m_isRunning = false;

    std::deque<std::shared_ptr<Pending>> m_pending; // notice order
    std::shared_ptr<Outlet> m_outlet;
    std::unique_ptr<QThreadPool> m_worker;
    QThreadPool m_ledgerWriter;
};

} // namespace exitwise::app
