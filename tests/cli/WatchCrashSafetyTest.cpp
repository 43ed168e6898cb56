// SPDX-License-Identifier: MIT
#include "app/stores/DiagnosisTelemetryRecord.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/EventStore.h"
#include "app/stores/FeedbackRecord.h"
#include "app/stores/ProductAnalyticsEvent.h"
#include "app/stores/TerminationEventLedger.h"
#include "app/stores/TerminationLedgerEntry.h"
#include "support/ChildProcess.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Decodes every line of a JSON-lines file with `decode`; the lines that fail, as text.
template <class Decode> std::vector<std::string> undecodableLines(const fs::path& file, Decode decode)
{
    std::vector<std::string> failed;
    for (const auto& line : nonEmptyLines(readFile(file))) {
        try {
            static_cast<void>(decode(core::json::parse(line)));
        } catch (const std::exception& error) {
            failed.push_back(line + " (" + error.what() + ")");
        }
    }
    return failed;
}

class WatchCrashSafety : public ::testing::Test
{
protected:
    WatchCrashSafety()
        : m_root(fs::path(::testing::TempDir()) / ("watch-crash-safety-" + std::to_string(::getpid())))
        , m_program(m_root / ("crashsafe-" + std::to_string(::getpid())))
    {
        fs::remove_all(m_root);
        fs::create_directories(data());
        fs::create_directories(m_root / "xdg/applications");
        // A program name of its own, so test programs other tests run at the same time don't match.
        fs::copy_file(EXITWISE_TEST_APP, m_program);
        std::ofstream(m_root / "xdg/applications/org.example.CrashSafe.desktop")
            << "[Desktop Entry]\nType=Application\nName=Crash Safe\nExec=" << m_program.string()
            << " sleep\n";
        setenv("EXITWISE_APP_SUPPORT_DIR", data().c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root / "xdg").c_str(), 1);
        setenv("XDG_DATA_DIRS", (m_root / "xdg").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        setenv("EXITWISE_JOURNAL_DIR", (m_root / "no-journal").c_str(), 1);
    }
    ~WatchCrashSafety() override
    {
        for (pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

    [[nodiscard]] const fs::path& root() const { return m_root; }
    [[nodiscard]] fs::path data() const { return m_root / "data"; }

    pid_t start(const std::vector<std::string>& args, const fs::path& out = "/dev/null")
    {
        const pid_t pid = spawnWithOutput(args, out);
        if (pid > 0) {
            m_started.push_back(pid);
        }
        return pid;
    }

    // `exitwise watch --json` printing into `out`, once it holds the data directory (the lock a
    // killed one left is free again).
    pid_t startWatch(const fs::path& out = "/dev/null")
    {
        const pid_t pid = start({EXITWISE_BIN, "watch", "--json", "--no-journal-entry"}, out);
        const std::string holder = "exitwise watch, pid " + std::to_string(pid) + "\n";
        EXPECT_TRUE(waitFor([&] { return readFile(data() / "recorder.lock") == holder; }, 15s))
            << readFile(data() / "recorder.lock");
        return pid;
    }

    pid_t startApp() { return start({m_program.string(), "sleep"}); }

    // Ends a child with `signal` and reaps it; the status it ended with.
    std::optional<int> end(pid_t pid, int signal)
    {
        ::kill(pid, signal);
        const std::optional<int> status = waitForExit(pid, 10s);
        if (status) {
            std::erase(m_started, pid);
        }
        return status;
    }

private:
    fs::path m_root;
    fs::path m_program;
    std::vector<pid_t> m_started;
};

// `watch` killed at random moments while closures arrive, a new one started on the same
// directory each time: afterwards every record file decodes and every closure in the ledger is
// either a stored event or reported by the reconciliation.
TEST_F(WatchCrashSafety, EveryLedgerClosureIsAnEventOrAMismatchAfterRandomKills)
{
    // EXITWISE_TEST_SEED replays a run.
    const char* given = std::getenv("EXITWISE_TEST_SEED");
    const unsigned seed =
        given != nullptr ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", data in " + data().string() + " (kept on failure)");
    std::mt19937 rng(seed);

    constexpr int kRounds = 8;
    constexpr int kRunningApps = 5;
    constexpr int kWindowMs = 1200; // closures are spread over it
    // Exit 0, a crash (SIGSEGV), killed, terminated.
    const std::vector<int> endings{SIGUSR1, SIGUSR2, SIGKILL, SIGTERM};
    std::uniform_int_distribution<int> windowMs(0, kWindowMs);
    // A closure's diagnosis waits for the log to settle before it is stored.
    std::uniform_int_distribution<int> justAfterMs(20, 250);
    int roundsKilledMidClosures = 0;

    // Apps still running when a watcher is killed go on into the next round, found by the next
    // watcher's first scan.
    std::vector<pid_t> running;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        while (running.size() < kRunningApps) {
            running.push_back(startApp());
            ASSERT_GT(running.back(), 0);
        }
        const pid_t watcher = startWatch();
        ASSERT_GT(watcher, 0);
        std::this_thread::sleep_for(700ms); // the first scan of running processes

        std::vector<int> endAt;
        for (std::size_t i = 0; i < running.size(); ++i) {
            endAt.push_back(windowMs(rng));
        }
        std::sort(endAt.begin(), endAt.end());
        // Every other round the kill falls just after a closure, while its diagnosis runs.
        const int killAt = round % 2 == 0 ? windowMs(rng) : endAt[rng() % endAt.size()] + justAfterMs(rng);

        const auto begin = Clock::now();
        std::vector<pid_t> left;
        for (std::size_t i = 0; i < running.size(); ++i) {
            if (endAt[i] >= killAt) {
                left.push_back(running[i]);
                continue;
            }
            std::this_thread::sleep_until(begin + std::chrono::milliseconds(endAt[i]));
            ASSERT_TRUE(end(running[i], endings[rng() % endings.size()]).has_value());
        }
        std::this_thread::sleep_until(begin + std::chrono::milliseconds(killAt));
        ASSERT_EQ(end(watcher, SIGKILL), 128 + SIGKILL);
        roundsKilledMidClosures += left.size() < running.size() ? 1 : 0;
        running = left;
    }
    const core::Date lastKill = core::now();

    // A last watcher reconciles what the killed ones left, records the closures of the apps
    // still running, then stops as asked.
    const pid_t last = startWatch(root() / "last.jsonl");
    ASSERT_GT(last, 0);
    std::this_thread::sleep_for(700ms);
    for (pid_t app : running) {
        ASSERT_TRUE(end(app, SIGUSR1).has_value());
    }
    EXPECT_TRUE(
        waitFor([&] { return nonEmptyLines(readFile(root() / "last.jsonl")).size() >= running.size(); }, 15s))
        << "a watcher left running records every closure";
    ASSERT_EQ(end(last, SIGTERM), 0);

    // Nothing was set aside as unreadable.
    for (const auto& entry : fs::directory_iterator(data())) {
        EXPECT_EQ(entry.path().filename().string().find(".unreadable-"), std::string::npos) << entry.path();
    }

    // Every record file decodes with the readers the application uses.
    std::vector<app::TerminationLedgerEntry> ledger;
    const auto ledgerLines = nonEmptyLines(readFile(data() / "event_ledger.jsonl"));
    for (const auto& line : ledgerLines) {
        // Each line goes out in one write() on an O_APPEND descriptor, so a kill leaves whole
        // lines; a torn one would be a closure lost from the evidence.
        try {
            ledger.push_back(app::decodeTerminationLedgerEntry(core::json::parse(line)));
        } catch (const std::exception& error) {
            ADD_FAILURE() << "undecodable ledger line: " << line << " (" << error.what() << ")";
        }
    }
    EXPECT_EQ(app::TerminationEventLedger(data()).readAll(), ledger) << "the fast line reader disagrees";
    app::EventStore::EventFile stored;
    ASSERT_NO_THROW(stored = app::EventStore::decodeEventFile(readFile(data() / "events.json")));
    EXPECT_TRUE(stored.newerEvents.empty());
    const auto telemetry = core::json::parse(readFile(data() / "telemetry.json"));
    ASSERT_TRUE(telemetry.is_array());
    for (const auto& record : telemetry) {
        EXPECT_NO_THROW(static_cast<void>(app::decodeDiagnosisTelemetryRecord(record))) << record.dump();
    }
    EXPECT_EQ(undecodableLines(
                  data() / "product_events.jsonl",
                  [](const core::json::Json& value) { return app::decodeProductAnalyticsEvent(value); }),
              std::vector<std::string>{});
    EXPECT_EQ(
        undecodableLines(data() / "feedback.jsonl",
                         [](const core::json::Json& value) { return app::decodeFeedbackRecord(value); }),
        std::vector<std::string>{});
    ASSERT_NO_THROW(static_cast<void>(app::decodeEventLedgerReconciliationReport(
        core::json::parse(readFile(data() / "reconciliation_report.json")))));

    // The final reconciliation, late enough that no ledger entry is too young to be judged.
    const app::EventLedgerReconciler reconciler(data());
    const auto report = reconciler.reconcile(stored.events, core::now() + std::chrono::seconds(60));
    const auto reread = app::decodeEventLedgerReconciliationReport(
        core::json::parse(readFile(data() / "reconciliation_report.json")));
    EXPECT_EQ(reread.mismatchCount, report.mismatchCount);
    EXPECT_EQ(reread.mismatches.size(), report.mismatches.size());

    const double window = reconciler.matchingWindowSeconds();
    std::set<std::string> ledgerIDs;
    std::set<std::string> unmatched;
    for (const auto& entry : ledger) {
        EXPECT_TRUE(ledgerIDs.insert(entry.id.toString()).second)
            << "one closure twice: " << entry.id.toString();
        const bool isEvent =
            std::any_of(stored.events.begin(), stored.events.end(), [&](const app::AppEvent& event) {
                return app::ledgerEntryMatches(entry, event, window);
            });
        if (!isEvent) {
            unmatched.insert(entry.id.toString());
            EXPECT_LT(entry.capturedAt, lastKill) << "the watcher stopped as asked lost a closure";
        }
    }
    std::set<std::string> reported;
    for (const auto& mismatch : reread.mismatches) {
        reported.insert(mismatch.ledgerEntryID.toString());
    }
    ASSERT_LT(reread.mismatchCount, 1000) << "more closures than a full mismatch list holds";
    EXPECT_EQ(reread.mismatchCount, static_cast<std::int64_t>(reread.mismatches.size()));
    EXPECT_EQ(reported, unmatched) << "each closure without an event is reported, and only those";
    EXPECT_EQ(reread.evidenceCount, static_cast<std::int64_t>(ledger.size()));
    EXPECT_EQ(reread.recordedEventCount, static_cast<std::int64_t>(stored.events.size()));

    // Every stored event comes from a closure in the ledger.
    for (const auto& event : stored.events) {
        EXPECT_TRUE(std::any_of(ledger.begin(), ledger.end(),
                                [&](const app::TerminationLedgerEntry& entry) {
                                    return app::ledgerEntryMatches(entry, event, window);
                                }))
            << "an event without its closure: " << event.id.toString();
    }

    // The run did what it is for: closures were recorded, and kills fell among them.
    EXPECT_GT(stored.events.size(), running.size()) << "no killed watcher stored an event";
    EXPECT_FALSE(unmatched.empty()) << "no kill fell between a closure and its event";
    std::cout << "closures in the ledger " << ledger.size() << ", events " << stored.events.size()
              << ", without an event " << unmatched.size() << ", rounds killed mid-closures "
              << roundsKilledMidClosures << "\n";
}

} // namespace
} // namespace exitwise::test
