// SPDX-License-Identifier: MIT
#include "app/monitor/AppMonitor.h"

#include "app/stores/TerminationEventLedger.h"
#include "support/EventLoop.h"
#include "support/Files.h"

#include <QCoreApplication>

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace exitwise::app {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;
using Lines = std::vector<std::string>;

const core::Date T0 = core::dateFromReferenceSeconds(786300000.0);

RunningApplication app(std::optional<std::string> name, std::int32_t pid, std::optional<std::string> id = {})
{
    return RunningApplication{std::move(name), std::move(id), pid, std::nullopt, {}};
}

// "Name: reason (raw) [attribution]" for each closure, from the callback or the ledger.
template <class Closures> Lines described(const Closures& closures)
{
    Lines lines;
    for (const core::TerminationFacts& t : closures) {
        const auto attribution = t.terminationQuitAttribution;
        lines.push_back(t.appName + ": " + std::string(core::rawValue(t.reason())) + " ("
                        + t.terminationRawValue.value_or("") + ")"
                        + (attribution ? " [" + std::string(core::rawValue(*attribution)) + "]" : ""));
    }
    return lines;
}

// A log tool that answers a predicate naming a key of its table, slowly for "Slow", and
// remembers what it was asked. Read once the records it answered for have arrived.
struct FakeLog
{
    std::map<std::string, std::string> answers;
    std::vector<std::tuple<core::Date, core::Date, std::string>> asked; // window and predicate

    AppMonitor::LogQuery query()
    {
        return [this](core::Date start, core::Date end, const std::string& predicate,
                      std::chrono::seconds timeout) -> std::optional<std::string> {
            EXPECT_EQ(timeout, 2s);
            asked.emplace_back(start, end, predicate);
            std::this_thread::sleep_for(predicate.find("Slow") != std::string::npos ? 150ms : 0ms);
            for (const auto& [key, answer] : answers) {
                if (predicate.find(key) != std::string::npos) {
                    return answer;
                }
            }
            return std::nullopt;
        };
    }
};

class AppMonitorTest : public ::testing::Test
{
protected:
    AppMonitorTest() { makeMonitor(log.query()); }

    void makeMonitor(AppMonitor::LogQuery query)
    {
        monitor.reset();
        monitor = std::make_unique<AppMonitor>(workspace, ledger, std::move(query), "exitwise");
        monitor->setClock([this] { return now; });
        monitor->setOnTermination([this](const MonitoredTermination& t) {
            // The ledger already holds the line when the callback runs.
            ledgerSizeAtCallback.push_back(ledger->readAll().size());
            recorded.push_back(t);
        });
        monitor->start();
    }

    void terminate(const RunningApplication& application)
    {
        emit workspace.applicationTerminated(application);
    }

    test::TempDir directory{"exitwise-monitor"};
    WorkspaceEvents workspace;
    FakeLog log;
    std::shared_ptr<TerminationEventLedger> ledger =
        std::make_shared<TerminationEventLedger>(directory.path());
    core::Date now = T0;
    std::vector<MonitoredTermination> recorded;
    std::vector<std::size_t> ledgerSizeAtCallback;
    std::unique_ptr<AppMonitor> monitor; // last, so that it goes first
};

// A shutdown or logout notice explains every closure within fifteen seconds of it; the log is
// asked about the others. Records leave in notice order whatever their queries take, each
// after its ledger line.
TEST_F(AppMonitorTest, NoticesAndTheLogExplainClosuresThatLeaveInNoticeOrder)
{
    log.answers["Fast"] = "2026-12-07 10:00:01 ReportCrash[1]: Fast EXC_BAD_ACCESS\n";
    terminate(app("Slow", 1));
    terminate(app("Fast", 2));
    emit workspace.willPowerOff();
    terminate(app("Instant", 3)); // needs no query, still waits its turn
    now = T0 + core::Seconds(10);
    terminate(app("Mail", 11));
    now = T0 + core::Seconds(20);
    emit workspace.sessionDidResignActive();
    now = T0 + core::Seconds(26);
    terminate(app("Notes", 12));
    now = T0 + core::Seconds(20 + 16);
    terminate(app("Music", 13));
    EXPECT_TRUE(recorded.empty());
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 6; }));
    EXPECT_EQ(described(recorded),
              (Lines{"Slow: quit (NSWorkspace didTerminateApplicationNotification) [Unknown]",
                     "Fast: crashed (log show: crash evidence for Fast)",
                     "Instant: quit (System shutdown/restart request) [Shutdown/restart]",
                     "Mail: quit (System shutdown/restart request) [Shutdown/restart]",
                     "Notes: quit (User session resigned active (logout/lock)) [Logout/session end]",
                     "Music: quit (NSWorkspace didTerminateApplicationNotification) [Unknown]"}));
    EXPECT_EQ(log.asked.size(), 3u) << "only closures no notice explains ask the log";
    EXPECT_EQ(described(ledger->readAll()), described(recorded));
    // Each callback comes after its own line (later lines may already be written too).
    ASSERT_EQ(ledgerSizeAtCallback.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_GE(ledgerSizeAtCallback[i], i + 1) << i;
    }
}

TEST_F(AppMonitorTest, LogEvidenceClassifiesTheClosureInTheLedgerAndTheCallback)
{
    log.answers["Sketch"] = "2026-12-07 10:00:01 kernel[0]: Sketch Pad[812] killed by SIGKILL\n";
    terminate(app("Sketch Pad", 812, "org.example.Sketch"));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 1; }));
    EXPECT_EQ(log.asked,
              (decltype(log.asked){{T0 - core::Seconds(8), T0 + core::Seconds(2),
                                    *QuitEvidence::predicate("Sketch Pad", "org.example.Sketch", 812)}}));

    const core::TerminationFacts expected{.appName = "Sketch Pad",
                                          .bundleIdentifier = "org.example.Sketch",
                                          .pid = 812,
                                          .terminatedAt = T0,
                                          .terminationReason = core::TerminationReason::killed,
                                          .terminationRawValue = "log show: kill evidence for Sketch Pad"};
    EXPECT_EQ(static_cast<const core::TerminationFacts&>(recorded[0]), expected);
    const auto entries = ledger->readAll();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(static_cast<const core::TerminationFacts&>(entries[0]), expected);
    EXPECT_EQ(entries[0].source, "NSWorkspace.didTerminateApplicationNotification");
    EXPECT_EQ(ledgerSizeAtCallback, (std::vector<std::size_t>{1}));
}

// Quitting does not wait for a log tool that hangs: the closures still waiting for it are on
// record with what is known without the log, for the next start to reconcile. The lines are
// written off the main thread, and all of them before the monitor is gone.
TEST_F(AppMonitorTest, GoingAwayDoesNotWaitForALogQuery)
{
    auto asked = std::make_shared<std::promise<void>>();
    auto open = std::make_shared<std::promise<void>>();
    auto answered = std::make_shared<std::promise<void>>();
    makeMonitor([asked, opened = open->get_future().share(),
                 answered](core::Date, core::Date, const std::string&, std::chrono::seconds) {
        asked->set_value(); // a second query throws, and is not answered
        // A monitor that waits for it sees it answer after 3 s, and the test fails.
        opened.wait_for(3s);
        answered->set_value();
        return std::optional<std::string>("2026-12-07 10:00:01 kernel[0]: Stuck[7] killed by SIGKILL\n");
    });
    RunningApplication killed = app("Stuck", 7);
    killed.process.exit = core::ProcessExit::signaled("SIGKILL", false);
    terminate(killed);
    terminate(app("Queued", 8)); // waits behind it, its query not yet started
    ASSERT_EQ(asked->get_future().wait_for(5s), std::future_status::ready);
    auto done = answered->get_future();
    monitor.reset();
    EXPECT_EQ(done.wait_for(0s), std::future_status::timeout);
    open->set_value();
    EXPECT_EQ(described(ledger->readAll()),
              (Lines{"Stuck: killed (terminated by SIGKILL)",
                     "Queued: quit (NSWorkspace didTerminateApplicationNotification) [Unknown]"}));
    ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(recorded.empty());
}

TEST_F(AppMonitorTest, NamingOwnApplicationAndLaunchTimes)
{
    emit workspace.applicationLaunched(app("Preview", 40));
    now = T0 + core::Seconds(30);
    terminate(app("  ", 41));
    terminate(app(std::nullopt, 42, "org.example.Tool"));
    terminate(app("Exitwise", 43, "exitwise"));
    terminate(app("Preview", 40));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 3; }));
    EXPECT_EQ(recorded[0].appName, "Unknown App");
    EXPECT_EQ(recorded[1].appName, "org.example.Tool");
    EXPECT_EQ(std::get<2>(log.asked.at(0)), QuitEvidence::predicate(std::nullopt, std::nullopt, 41));
    EXPECT_EQ(recorded[2].launchedAt, T0);
    EXPECT_EQ(recorded[0].launchedAt, std::nullopt);

    // Stopping forgets launch times; nothing is recorded while stopped.
    emit workspace.applicationLaunched(app("Preview", 50));
    monitor->stop();
    monitor->stop();
    terminate(app("Preview", 50));
    monitor->start();
    monitor->start();
    terminate(app("Preview", 50));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 4; }));
    EXPECT_EQ(recorded[3].launchedAt, std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorded.size(), 4u);
    EXPECT_EQ(ledger->readAll().size(), 4u);
}

} // namespace
} // namespace exitwise::app
