// SPDX-License-Identifier: MIT
#include "app/monitor/AppMonitor.h"

#include "app/stores/TerminationEventLedger.h"
#include "support/EventLoop.h"
#include "support/Files.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace exitwise::app {
namespace {

using core::QuitAttribution;
using core::TerminationReason;
using namespace std::chrono_literals;

const core::Date T0 = core::dateFromReferenceSeconds(786300000.0);

using test::waitUntil;

// The head of every query: the processes it asks.
const std::string kProcesses =
    R"((process IN {"launchd", "runningboardd", "ReportCrash", "kernel", "loginwindow"}) AND )";

RunningApplication app(std::optional<std::string> name, std::int32_t pid, std::optional<std::string> id = {})
{
    return RunningApplication{std::move(name), std::move(id), pid, std::nullopt, {}};
}

// A log tool that answers a predicate naming a key of its table, optionally slowly, and
// remembers what it was asked.
struct FakeLog
{
    std::mutex mutex;
    std::map<std::string, std::pair<std::string, std::chrono::milliseconds>> answers;
    std::vector<std::string> predicates;
    std::vector<std::pair<core::Date, core::Date>> windows;

    AppMonitor::LogQuery query()
    {
        return [this](core::Date start, core::Date end, const std::string& predicate,
                      std::chrono::seconds timeout) -> std::optional<std::string> {
            EXPECT_EQ(timeout, 2s);
            std::pair<std::optional<std::string>, std::chrono::milliseconds> answer;
            {
                const std::lock_guard lock(mutex);
                predicates.push_back(predicate);
                windows.emplace_back(start, end);
                for (const auto& [key, given] : answers) {
                    if (predicate.find(key) != std::string::npos) {
                        answer = given;
                    }
                }
            }
            std::this_thread::sleep_for(answer.second);
            return answer.first;
        };
    }
    std::size_t calls()
    {
        const std::lock_guard lock(mutex);
        return predicates.size();
    }
};

class AppMonitorTest : public ::testing::Test
{
protected:
    AppMonitorTest()
    {
        ledger = std::make_shared<TerminationEventLedger>(directory.path());
        monitor = std::make_unique<AppMonitor>(workspace, ledger, log.query(), "exitwise");
        monitor->setClock([this] { return now; });
        monitor->setOnTermination([this](const MonitoredTermination& t) {
            // The ledger already holds the line when the callback runs.
            ledgerSizeAtCallback.push_back(ledger->readAll().size());
            recorded.push_back(t);
        });
        monitor->start();
    }
    ~AppMonitorTest() override { monitor.reset(); }

    void terminate(const RunningApplication& application)
    {
        emit workspace.applicationTerminated(application);
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const MonitoredTermination& t : recorded) {
            result.push_back(t.appName);
        }
        return result;
    }

    test::TempDir directory{"exitwise-monitor"};
    WorkspaceEvents workspace;
    FakeLog log;
    std::shared_ptr<TerminationEventLedger> ledger;
    std::unique_ptr<AppMonitor> monitor;
    core::Date now = T0;
    std::vector<MonitoredTermination> recorded;
    std::vector<std::size_t> ledgerSizeAtCallback;
};

TEST_F(AppMonitorTest, ShutdownNoticeExplainsTerminationsWithinFifteenSeconds)
{
    emit workspace.willPowerOff();
    now = T0 + core::Seconds(10);
    terminate(app("Preview", 10));
    terminate(app("Mail", 11));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 2; }));
    for (const auto& t : recorded) {
        EXPECT_EQ(std::tie(t.terminationReason, t.terminationQuitAttribution, t.terminationRawValue),
                  std::make_tuple(TerminationReason::quit, QuitAttribution::shutdown,
                                  std::optional<std::string>("System shutdown/restart request")));
    }
    EXPECT_EQ(log.calls(), 0u);

    now = T0 + core::Seconds(20);
    emit workspace.sessionDidResignActive();
    now = T0 + core::Seconds(26);
    terminate(app("Notes", 12));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 3; }));
    EXPECT_EQ(recorded.back().terminationQuitAttribution, QuitAttribution::logout);

    // 16 seconds after the last notice the log is asked instead.
    now = T0 + core::Seconds(20 + 16);
    terminate(app("Music", 13));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 4; }));
    EXPECT_EQ(log.calls(), 1u);
    EXPECT_EQ(recorded.back().terminationRawValue, "NSWorkspace didTerminateApplicationNotification");
    EXPECT_EQ(recorded.back().terminationQuitAttribution, QuitAttribution::unknown);
}

TEST_F(AppMonitorTest, LogEvidenceClassifiesTheTermination)
{
    log.answers["Sketch"] = {"2026-12-07 10:00:01 kernel[0]: Sketch Pad[812] killed by SIGKILL\n", 0ms};
    terminate(app("Sketch Pad", 812, "org.example.Sketch"));
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 1; }));
    const MonitoredTermination& t = recorded.front();
    EXPECT_EQ(t.terminationReason, TerminationReason::killed);
    EXPECT_EQ(t.terminationRawValue, "log show: kill evidence for Sketch Pad");
    EXPECT_EQ(t.terminationQuitAttribution, std::nullopt);
    EXPECT_EQ(t.terminatedAt, T0);
    EXPECT_EQ(log.windows, (std::vector<std::pair<core::Date, core::Date>>{
                               {T0 - core::Seconds(8), T0 + core::Seconds(2)}}));
    EXPECT_EQ(
        log.predicates[0],
        kProcesses
            + R"((eventMessage CONTAINS[c] "Sketch Pad" OR eventMessage CONTAINS[c] "org.example.Sketch" OR )"
              R"(eventMessage CONTAINS[c] "812"))");

    const auto entries = ledger->readAll();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].appName, "Sketch Pad");
    EXPECT_EQ(entries[0].pid, 812);
    EXPECT_EQ(entries[0].source, "NSWorkspace.didTerminateApplicationNotification");
    EXPECT_EQ(entries[0].terminationReason, TerminationReason::killed);
    EXPECT_EQ(ledgerSizeAtCallback, (std::vector<std::size_t>{1}));
}

TEST_F(AppMonitorTest, RecordsLeaveInNoticeOrderWhateverTheQueryTimes)
{
    log.answers["Slow"] = {"", 150ms};
    log.answers["Fast"] = {"2026-12-07 10:00:01 ReportCrash[1]: Fast EXC_BAD_ACCESS\n", 0ms};
    terminate(app("Slow", 1));
    terminate(app("Fast", 2));
    emit workspace.willPowerOff();
    terminate(app("Instant", 3)); // needs no query, still waits its turn
    EXPECT_TRUE(recorded.empty());
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 3; }));
    EXPECT_EQ(names(), (std::vector<std::string>{"Slow", "Fast", "Instant"}));
    EXPECT_EQ(recorded[1].terminationReason, TerminationReason::crashed);
    // Each callback comes after its own line (later lines may already be written too).
    ASSERT_EQ(ledgerSizeAtCallback.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GE(ledgerSizeAtCallback[i], i + 1) << i;
    }
    const auto entries = ledger->readAll();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].appName, "Instant");
}

// The line is written off the main thread; a monitor that goes away right after the notice
// still leaves it on record.
TEST_F(AppMonitorTest, ALineMadeIsWrittenEvenIfTheMonitorGoesAway)
{
    emit workspace.willPowerOff();
    terminate(app("Preview", 10));
    monitor.reset();
    const auto entries = ledger->readAll();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].appName, "Preview");
    EXPECT_EQ(entries[0].terminationQuitAttribution, QuitAttribution::shutdown);
}

// Quitting does not wait for a log tool that hangs: the closures still waiting for it are on
// record with what is known without the log, for the next start to reconcile.
TEST_F(AppMonitorTest, GoingAwayDoesNotWaitForALogQuery)
{
    struct Gate
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
        int asked = 0;
        bool answered = false;
    };
    auto gate = std::make_shared<Gate>();
    monitor.reset();
    monitor = std::make_unique<AppMonitor>(
        workspace, ledger,
        [gate](core::Date, core::Date, const std::string&,
               std::chrono::seconds) -> std::optional<std::string> {
            std::unique_lock lock(gate->mutex);
            ++gate->asked;
            gate->changed.notify_all();
            // A monitor that waits for it sees it answer after 3 s, and the test fails.
            gate->changed.wait_for(lock, 3s, [&] { return gate->open; });
            gate->answered = true;
            gate->changed.notify_all();
            return "2026-12-07 10:00:01 kernel[0]: Stuck[7] killed by SIGKILL\n";
        },
        "exitwise");
    monitor->setClock([this] { return now; });
    monitor->start();

    RunningApplication killed = app("Stuck", 7);
    killed.process.exit = core::ProcessExit::signaled("SIGKILL", false);
    terminate(killed);
    terminate(app("Queued", 8)); // waits behind it, its query not yet started
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, 5s, [&] { return gate->asked == 1; }));
    }
    monitor.reset();
    {
        const std::lock_guard lock(gate->mutex);
        EXPECT_FALSE(gate->answered);
        gate->open = true;
        gate->changed.notify_all();
    }
    const auto entries = ledger->readAll();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].appName, "Stuck");
    EXPECT_EQ(entries[0].terminationReason, TerminationReason::killed);
    EXPECT_EQ(entries[0].terminationRawValue, "terminated by SIGKILL");
    EXPECT_EQ(entries[1].appName, "Queued");
    EXPECT_EQ(entries[1].terminationReason, TerminationReason::quit);
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, 5s, [&] { return gate->answered; }));
    }
    EXPECT_EQ(gate->asked, 1);
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
    EXPECT_EQ(names(), (std::vector<std::string>{"Unknown App", "org.example.Tool", "Preview"}));
    EXPECT_EQ(log.predicates[0], kProcesses + R"((eventMessage CONTAINS[c] "41"))");
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

TEST(QuitEvidence, OutputClassification)
{
    using E = QuitEvidence::Evidence;
    using R = TerminationReason;
    const std::map<E, QuitEvidence::Classification> expected{
        {E::logoutForceQuit,
         {R::quit, "log show: loginwindow force-quit evidence (QUIT:asn exitStatus=137) for App",
          QuitAttribution::logout, E::logoutForceQuit}},
        {E::crash, {R::crashed, "log show: crash evidence for App", std::nullopt, E::crash}},
        {E::abort, {R::crashed, "log show: abort evidence for App", std::nullopt, E::abort}},
        {E::kill, {R::killed, "log show: kill evidence for App", std::nullopt, E::kill}},
        {E::quit, {R::quit, "log show: quit/exit evidence for App", QuitAttribution::unknown, E::quit}},
    };
    // clang-format off
    const std::pair<const char*, std::optional<E>> rows[] = {
        {"loginwindow[1]: QUIT:asn exitStatus=137 SIGKILL", E::logoutForceQuit},
        {"kernel: App killed after SIGTERM",                E::quit},
        {"kernel: App Killed",                              E::kill},
        {"kernel: signal 9 sent",                           E::kill},
        {"ReportCrash: EXC_BAD_ACCESS",                     E::crash},
        {"kernel: App: Abort trap: 6",                      E::abort},
        {"kernel: SIGABRT and SIGKILL",                     E::abort},
        {"launchd: exited with code 0",                     E::quit},
        {"launchd: nothing to see",                         std::nullopt},
    };
    // clang-format on
    for (const auto& [line, evidence] : rows) {
        const auto result = QuitEvidence::classify("2026-01-01 00:00:00 " + std::string(line) + "\n", "App");
        EXPECT_EQ(result, evidence ? std::optional(expected.at(*evidence)) : std::nullopt) << line;
    }
    // A banner that repeats the search terms is not evidence.
    const char* banner = "Filtering the log data using \"process IN {\"ReportCrash\"} AND eventMessage "
                         "CONTAINS[c] \"killed\"\"\n";
    EXPECT_EQ(QuitEvidence::classify(banner, "App"), std::nullopt);
    EXPECT_EQ(QuitEvidence::classify("", "App"), std::nullopt);
}

TEST(QuitEvidence, PredicateEscapesAndSkipsBlankTerms)
{
    EXPECT_EQ(QuitEvidence::escapedTerm(R"(My "Quoted" \App)"), R"(My \"Quoted\" \\App)");
    EXPECT_EQ(QuitEvidence::predicate(std::string(" a\"b\\c "), std::string("  "), std::nullopt),
              kProcesses + R"((eventMessage CONTAINS[c] "a\"b\\c"))");
    EXPECT_EQ(QuitEvidence::predicate(std::nullopt, std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(QuitEvidence::identifier(std::nullopt, std::nullopt, 7), "7");
}

} // namespace
} // namespace exitwise::app
