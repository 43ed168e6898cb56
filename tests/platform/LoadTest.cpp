// SPDX-License-Identifier: MIT
// A thousand applications end within seconds of each other, watched by the real pipeline: the
// process watcher on /proc with pidfds, the monitor with the log tool, the model with the three
// evidence providers, desktop notifications on a bus of our own (with no server on it). The
// test process plays the desktop: a helper thread starts the applications from a desktop entry
// and ends them, while the main thread is the application's main thread and is timed.
//
// EXITWISE_LOAD_CLOSURES (default 1000) and EXITWISE_LOAD_SPREAD_MS (default 5000, the time over
// which the applications end) size the run. The figures are printed as one "load figures:" line.

#include "app/AppModel.h"
#include "app/NotificationManager.h"
#include "app/stores/EventStore.h"
#include "app/stores/TerminationEventLedger.h"
#include "core/Json.h"
#include "platform/linux/EvidenceFactory.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/ProcessWatcher.h"
#include "support/ChildProcess.h"
#include "support/PlatformFixtures.h"

#include <QDBusConnection>
#include <QTimer>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr long kMemoryMarginKiB = 10 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory in quarantine: nothing returns to an idle level there.
constexpr bool kMemoryCanReturn = false;
// It also runs the same work several times slower; the 100 ms target is the plain build's.
constexpr double kMainThreadLimitMs = 300.0;
#else
constexpr bool kMemoryCanReturn = true;
constexpr double kMainThreadLimitMs = 100.0;
#endif

int setting(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    const int parsed = value != nullptr ? std::atoi(value) : 0;
    return parsed > 0 ? parsed : fallback;
}

// A memory figure of /proc/self/status ("VmRSS:", "VmHWM:") in KiB.
long statusKiB(std::string_view field)
{
    std::ifstream in("/proc/self/status");
    for (std::string name, value; in >> name && std::getline(in, value);) {
        if (name == field) {
            return std::atol(value.c_str());
        }
    }
    return 0;
}

// Time this thread spent ready to run, waiting for a processor (kernel schedstat).
double runQueueWaitMs()
{
    std::ifstream in("/proc/thread-self/schedstat");
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    in >> running >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

TEST(Load, AThousandClosuresWithinSecondsAreAllRecorded)
{
    const int closures = setting("EXITWISE_LOAD_CLOSURES", 1000);
    const auto spread = std::chrono::milliseconds(setting("EXITWISE_LOAD_SPREAD_MS", 5000));
    ASSERT_LE(spread, 10s) << "the applications are to end within 10 seconds";
    PrivateBus bus;
    if (!bus.failure().empty()) {
        GTEST_SKIP() << bus.failure();
    }

    const TempDir temp("exitwise-load");
    const fs::path& root = temp.path();
    const fs::path data = root / "data";
    fs::create_directories(data);
    fs::create_directories(root / "journal"); // an empty journal: the log store finds nothing
    // A program of its own, so no other test's programs count as this application.
    const fs::path program = root / "loadapp";
    fs::copy_file(EXITWISE_TEST_APP, program);
    writeTextFile(root / "applications/org.example.LoadApp.desktop",
                  "[Desktop Entry]\nType=Application\nName=Load App\nExec=" + program.string() + " sleep\n");

    // The application's composition, with the desktop's parts pointed at the test's.
    platform::EvidenceSettings settings;
    settings.dataDirectory = data;
    settings.journalDirectory = root / "journal";
    const std::shared_ptr<const core::LogTool> logTool = platform::createLogTool(settings);
    platform::ProcessWatcherOptions watcherOptions = platform::ProcessWatcherOptions::fromEnvironment();
    watcherOptions.desktop.applicationDirs = {root / "applications"};
    platform::ProcessWatcher watcher(watcherOptions);
    watcher.start();
    const QDBusConnection connection =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("exitwise-load"));
    platform::FreedesktopNotificationCenter center(connection);
    app::NotificationManager notifications(center);
    notifications.ensureAuthorized([](bool) {});

    app::AppModel::Dependencies dependencies;
    dependencies.dataDirectory = data;
    dependencies.workspace = &watcher;
    dependencies.logQuery = [logTool](core::Date start, core::Date end, const std::string& predicate,
                                      std::chrono::seconds timeout) -> std::optional<std::string> {
        std::string output = logTool->show(start, end, predicate, timeout);
        return output.empty() ? std::nullopt : std::optional<std::string>(std::move(output));
    };
    dependencies.engine = core::DiagnosisEngine(platform::createEvidenceProviders(settings));
    dependencies.notify = [&notifications](const app::AppEvent& event) { notifications.notify(event); };
    auto model = std::make_unique<app::AppModel>(std::move(dependencies));

    // Identities only: the test keeps no more memory than it must.
    std::vector<app::Uuid> recorded;
    std::set<std::int64_t> recordedPids;
    QObject::connect(model.get(), &app::AppModel::eventRecorded, [&](const app::AppEvent& event) {
        recorded.push_back(event.id);
        recordedPids.insert(event.pid.value_or(-1));
    });

    // Idle: the model built, the first scans done, nothing happening.
    waitUntil([] { return false; }, 1500ms);
    const long idle = statusKiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak read below is the burst's own
    // How long the main thread's event loop goes without turning, from a 10 ms heartbeat: the
    // longest gap between two beats, and of that the part the thread was held up by its own work or
    // calls. The rest is time it was ready to run but another thread had the processor, which on a
    // busy two-core machine says nothing about this program.
    double longestGapMs = 0;
    double longestHeldMs = 0;
    auto lastBeat = Clock::now();
    double lastWaited = runQueueWaitMs();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const double waited = runQueueWaitMs();
        const double gap = std::chrono::duration<double, std::milli>(now - lastBeat).count();
        longestGapMs = std::max(longestGapMs, gap);
        longestHeldMs = std::max(longestHeldMs, gap - (waited - lastWaited));
        lastBeat = now;
        lastWaited = waited;
    });
    heartbeat.start(10);

    // The desktop: starts the applications, and once told to (or when the test leaves) ends them
    // spread over a while, in start order: killed, asked to quit, quitting on their own, crashing.
    std::vector<pid_t> pids;
    std::atomic<bool> allStarted{false};
    std::atomic<bool> allEnded{false};
    std::jthread desktop([&](const std::stop_token& endNow) {
        for (int i = 0; i < closures; ++i) {
            if (const pid_t pid = spawnWithOutput({program.string(), "sleep"}, "/dev/null"); pid > 0) {
                pids.push_back(pid);
            }
        }
        allStarted = true;
        while (!endNow.stop_requested()) {
            std::this_thread::sleep_for(5ms);
        }
        constexpr int kHow[] = {SIGKILL, SIGTERM, SIGUSR1, SIGUSR2};
        const auto begin = Clock::now();
        for (std::size_t i = 0; i < pids.size(); ++i) {
            std::this_thread::sleep_until(begin
                                          + spread * static_cast<long>(i) / static_cast<long>(pids.size()));
            kill(pids[i], kHow[i % 4]);
        }
        for (const pid_t pid : pids) {
            waitpid(pid, nullptr, 0); // only ours: the log tool's runs are reaped by their runner
        }
        allEnded = true;
    });
    ASSERT_TRUE(waitUntil([&] { return allStarted.load(); }, 60s));
    ASSERT_EQ(pids.size(), static_cast<std::size_t>(closures));
    // Every one of them is known to the watcher before the first ends.
    ASSERT_TRUE(waitUntil(
        [&] { return watcher.runningApplications().size() == static_cast<std::size_t>(closures); }, 30s))
        << watcher.runningApplications().size() << " of " << closures << " applications seen";

    const auto endingBegan = Clock::now();
    desktop.request_stop();
    const bool allRecorded =
        waitUntil([&] { return recorded.size() >= static_cast<std::size_t>(closures); }, 120s);
    const double recordedAfterMs =
        std::chrono::duration<double, std::milli>(Clock::now() - endingBegan).count();
    ASSERT_TRUE(waitUntil([&] { return allEnded.load(); }, 30s));
    // Settle: the last writes, the watcher's next scans.
    waitUntil([] { return false; }, 2000ms);
    heartbeat.stop();
    const long after = statusKiB("VmRSS:");
    std::printf(
        "load figures: %d closures, all recorded %.0f ms after the first ended; main thread longest gap "
        "%.1f ms, held by its own work %.1f ms; RSS idle %ld KiB, peak %ld KiB, after %ld KiB\n",
        closures, recordedAfterMs, longestGapMs, longestHeldMs, idle, statusKiB("VmHWM:"), after);
    ASSERT_TRUE(allRecorded) << recorded.size() << " of " << closures << " closures recorded";
    EXPECT_LT(longestHeldMs, kMainThreadLimitMs);
    if (kMemoryCanReturn) {
        EXPECT_LE(after, idle + kMemoryMarginKiB);
    }
    EXPECT_EQ(recorded.size(), static_cast<std::size_t>(closures));

    model->waitForWrites();
    const std::vector<app::AppEvent> kept = model->events();

    // The ledger: every closure once, in the order noticed.
    const std::vector<app::TerminationLedgerEntry> ledger = app::TerminationEventLedger(data).readAll();
    ASSERT_EQ(ledger.size(), static_cast<std::size_t>(closures));
    std::set<std::int64_t> ledgerPids;
    for (std::size_t i = 0; i < ledger.size(); ++i) {
        ledgerPids.insert(ledger[i].pid.value_or(-1));
        const app::TerminationLedgerEntry& previous = ledger[i == 0 ? 0 : i - 1];
        EXPECT_LE(previous.terminatedAt, ledger[i].terminatedAt) << i;
        EXPECT_LE(previous.capturedAt, ledger[i].capturedAt) << i;
    }
    const std::set<std::int64_t> started(pids.begin(), pids.end());
    EXPECT_EQ(ledgerPids, started);

    // Every closure became an event; the list and the file hold the newest 200.
    EXPECT_EQ(recordedPids, started);
    const std::vector<app::Uuid> newest(
        recorded.rbegin(), recorded.rbegin() + std::min(recorded.size(), app::AppModel::kMaxEventsToKeep));
    const auto ids = [](const std::vector<app::AppEvent>& events) {
        std::vector<app::Uuid> result(events.size());
        std::transform(events.begin(), events.end(), result.begin(),
                       [](const auto& event) { return event.id; });
        return result;
    };
    EXPECT_EQ(ids(kept), newest);
    const auto saved = app::EventStore::readEventFile(data / "events.json");
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(ids(saved.value()), newest);
    EXPECT_EQ(core::json::parse(readFile(data / "telemetry.json")).size(),
              static_cast<std::size_t>(closures));

    // The next start, a few seconds on, reconciles the ledger with the file: exactly the closures
    // trimmed from the list are reported, the newest 1,000 of them listed.
    model.reset();
    app::AppModel::Dependencies restart;
    restart.dataDirectory = data;
    restart.workspace = &watcher;
    restart.startMonitoring = false;
    restart.clock = [] { return core::now() + core::Seconds(6); };
    model = std::make_unique<app::AppModel>(std::move(restart));
    model->waitForWrites();
    const core::json::Json report = core::json::parse(readFile(data / "reconciliation_report.json"));
    const int trimmed = closures - static_cast<int>(app::AppModel::kMaxEventsToKeep);
    EXPECT_EQ(report["mismatchCount"], trimmed) << "a kept closure is reported, or a trimmed one not";
    EXPECT_EQ(report["mismatches"].size(), static_cast<std::size_t>(std::min(trimmed, 1000)));
}

} // namespace
} // namespace exitwise::test
