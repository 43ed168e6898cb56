// SPDX-License-Identifier: MIT
// The executable's long-running modes for real, in a private home: `exitwise watch` (a desktop
// entry, programs started from it and ended, the recorder's claim on its data directory) and the
// desktop app.
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/EventStore.h"
#include "app/stores/ProductAnalyticsEvent.h"
#include "app/stores/TerminationLedgerEntry.h"
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Watch : public ::testing::Test
{
protected:
    Watch()
    {
        fs::remove_all(m_root);
        fs::create_directories(data());
        fs::create_directories(m_root / "xdg/applications");
        // A program name of its own, so test programs other tests run at the same time don't match.
        fs::copy_file(EXITWISE_TEST_APP, m_program);
        std::ofstream(m_root / "xdg/applications/org.example.SketchPad.desktop")
            << "[Desktop Entry]\nType=Application\nName=Sketch Pad\nExec=" << m_program.string()
            << " sleep\n";
        setenv("EXITWISE_APP_SUPPORT_DIR", data().c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root / "xdg").c_str(), 1);
        setenv("XDG_DATA_DIRS", (m_root / "xdg").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        setenv("EXITWISE_JOURNAL_DIR", (m_root / "no-journal").c_str(), 1);
    }
    ~Watch() override
    {
        for (pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

    [[nodiscard]] fs::path data() const { return m_root / "data"; }
    static std::string holder(pid_t pid) { return "exitwise watch, pid " + std::to_string(pid); }

    pid_t start(const std::vector<std::string>& args, const fs::path& out = "/dev/null")
    {
        const pid_t pid = spawnWithOutput(args, out);
        if (pid > 0) {
            m_started.push_back(pid);
        }
        return pid;
    }

    // `exitwise watch --json` printing into `out`, once it holds the data directory (the lock a
    // killed one left is free again) and had its first look at the running processes.
    pid_t startWatch(const fs::path& out = "/dev/null")
    {
        const pid_t pid = start({EXITWISE_BIN, "watch", "--json", "--no-journal-entry"}, out);
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(waitFor([&] { return readFile(data() / "recorder.lock") == holder(pid) + "\n"; }, 15s))
            << readFile(data() / "recorder.lock");
        std::this_thread::sleep_for(700ms);
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

    const fs::path m_root = fs::path(::testing::TempDir()) / ("watch-" + std::to_string(::getpid()));
    const fs::path m_program = m_root / ("sketchpad-" + std::to_string(::getpid()));
    std::vector<pid_t> m_started;
};

using RecorderClaim = Watch;
using WatchCrashSafety = Watch;

TEST_F(RecorderClaim, SecondWatchOnOneDirectoryExitsNamingTheFirst)
{
    const pid_t first = startWatch();
    const auto run = [](const std::string& args) { return runCommand(EXITWISE_BIN " " + args + " 2>&1"); };
    const CommandOutcome second = run("watch --no-journal-entry");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "exitwise: another recorder already records into " + data().string() + " ("
                              + holder(first) + "); stop it first\n");
    // Readers never need the lock.
    EXPECT_EQ(run("list").status, 0);

    ASSERT_EQ(end(first, SIGTERM), 0);
    // The directory is free once the first stopped.
    EXPECT_EQ(end(startWatch(), SIGTERM), 0);
}

// Decodes every line of a JSON-lines file with `decode`, a failure for each line that fails.
template <class Decode> auto decodeLines(const fs::path& file, Decode decode)
{
    std::vector<decltype(decode(core::json::parse("{}")))> decoded;
    for (const auto& line : nonEmptyLines(readFile(file))) {
        try {
            decoded.push_back(decode(core::json::parse(line)));
        } catch (const std::exception& error) {
            ADD_FAILURE() << "undecodable line in " << file << ": " << line << " (" << error.what() << ")";
        }
    }
    return decoded;
}

// `watch` killed at random moments while closures arrive, a new one started on the same
// directory each time: afterwards every record file decodes, and the only closures in the ledger
// without a stored event are those a kill interrupted. How the reconciliation reports those, and
// how an exit is classified, is pinned with the reconciler and the exit evidence.
TEST_F(WatchCrashSafety, KillsLoseNoRecordAndOnlyClosuresTheyInterrupted)
{
    // EXITWISE_TEST_SEED replays a run.
    const char* given = std::getenv("EXITWISE_TEST_SEED");
    const unsigned seed =
        given != nullptr ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", data in " + data().string() + " (kept on failure)");
    std::mt19937 rng(seed);
    // Exit 0, a crash (SIGSEGV), killed, terminated.
    const std::vector<int> endings{SIGUSR1, SIGUSR2, SIGKILL, SIGTERM};
    std::uniform_int_distribution<int> windowMs(0, 1200); // closures are spread over it
    // A closure's diagnosis waits for the log to settle before it is stored.
    std::uniform_int_distribution<int> justAfterMs(20, 250);

    const double window = app::EventLedgerReconciler(data()).matchingWindowSeconds();
    const auto matches = [&](const app::TerminationLedgerEntry& entry, const app::AppEvent& event) {
        return app::ledgerEntryMatches(entry, event, window);
    };
    // Whether a kill has yet fallen between a closure's ledger line and its stored event.
    const auto anyInterrupted = [&] {
        std::vector<app::AppEvent> events;
        try {
            events = app::EventStore::decodeEventFile(readFile(data() / "events.json")).events;
        } catch (const std::exception&) {
            // None stored yet (a damaged file fails the checks at the end).
        }
        const auto ledger = decodeLines(data() / "event_ledger.jsonl", [](const auto& value) {
            return app::decodeTerminationLedgerEntry(value);
        });
        return std::any_of(ledger.begin(), ledger.end(), [&](const auto& entry) {
            return std::none_of(events.begin(), events.end(),
                                [&](const auto& e) { return matches(entry, e); });
        });
    };

    // Apps still running when a watcher is killed go on into the next round, found by the next
    // watcher's first scan. Eight rounds, and more until a kill has interrupted a closure: where
    // the kills fall among the closures is up to timing.
    std::vector<pid_t> running;
    for (int round = 0; round < 8 || (round < 24 && !anyInterrupted()); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        while (running.size() < 5) {
            running.push_back(startApp());
            ASSERT_GT(running.back(), 0);
        }
        const pid_t watcher = startWatch();
        std::vector<int> endAt(running.size());
        std::generate(endAt.begin(), endAt.end(), [&] { return windowMs(rng); });
        std::sort(endAt.begin(), endAt.end());
        // Every other round the kill falls just after a closure, while its diagnosis runs.
        const int killAt = round % 2 == 0 ? windowMs(rng) : endAt[rng() % endAt.size()] + justAfterMs(rng);

        const auto begin = std::chrono::steady_clock::now();
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
        running = left;
    }
    const core::Date lastKill = core::now();

    // A last watcher reconciles what the killed ones left, records the closures of the apps
    // still running and of new ones, each way of ending at least once, then stops as asked.
    while (running.size() < 5) {
        running.push_back(startApp());
    }
    const pid_t last = startWatch(m_root / "last.jsonl");
    for (std::size_t i = 0; i < running.size(); ++i) {
        ASSERT_TRUE(end(running[i], endings[i % endings.size()]).has_value());
    }
    EXPECT_TRUE(
        waitFor([&] { return nonEmptyLines(readFile(m_root / "last.jsonl")).size() >= running.size(); }, 15s))
        << "a watcher left running records every closure";
    ASSERT_EQ(end(last, SIGTERM), 0);

    // Nothing was set aside as unreadable: each watcher loads the files the one before left, and
    // would set a damaged one aside. The files only appended to decode line by line: each ledger
    // line goes out in one write() on an O_APPEND descriptor, so a kill leaves whole lines; a torn
    // one would be a closure lost from the evidence.
    for (const auto& entry : fs::directory_iterator(data())) {
        EXPECT_EQ(entry.path().filename().string().find(".unreadable-"), std::string::npos) << entry.path();
    }
    const auto ledger = decodeLines(data() / "event_ledger.jsonl", [](const auto& value) {
        return app::decodeTerminationLedgerEntry(value);
    });
    app::EventStore::EventFile stored;
    ASSERT_NO_THROW(stored = app::EventStore::decodeEventFile(readFile(data() / "events.json")));
    EXPECT_TRUE(stored.newerEvents.empty());
    decodeLines(data() / "product_events.jsonl",
                [](const auto& value) { return app::decodeProductAnalyticsEvent(value); });

    std::set<std::string> ledgerIDs;
    std::set<std::string> unmatched;
    for (const auto& entry : ledger) {
        EXPECT_TRUE(ledgerIDs.insert(entry.id.toString()).second)
            << "one closure twice: " << entry.id.toString();
        if (std::none_of(stored.events.begin(), stored.events.end(),
                         [&](const app::AppEvent& event) { return matches(entry, event); })) {
            unmatched.insert(entry.id.toString());
            EXPECT_LT(entry.capturedAt, lastKill) << "the watcher stopped as asked lost a closure";
        }
    }
    for (const auto& event : stored.events) {
        EXPECT_TRUE(std::any_of(ledger.begin(), ledger.end(),
                                [&](const auto& entry) { return matches(entry, event); }))
            << "an event without its closure: " << event.id.toString();
    }

    // The run did what it is for: closures were recorded, and kills fell among them.
    EXPECT_GT(stored.events.size(), running.size()) << "no killed watcher stored an event";
    EXPECT_FALSE(unmatched.empty()) << "no kill fell between a closure and its event";
}

// The desktop app in the same private home. Never the desktop's own bus: an Exitwise running
// there would take these starts for its own.
class DesktopApp : public Watch
{
protected:
    DesktopApp()
    {
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (m_root / "no-bus").string()).c_str(), 1);
    }

    // Runs `script` in sh, on a session bus of its own unless `bus` is false, with $R the root,
    // $APP the executable and `opened` waiting until the app recorded its start.
    [[nodiscard]] CommandOutcome inShell(const std::string& script, bool bus = true) const
    {
        const std::string opened =
            "opened() { for i in $(seq 200); do grep -q app_opened "
            "\"$R/data/product_events.jsonl\" 2>/dev/null && return; sleep 0.05; done; }\n";
        return runCommand("R=" + shellQuoted(m_root.string()) + " APP=" + shellQuoted(EXITWISE_BIN)
                          + " HOST=" + shellQuoted(EXITWISE_FAKE_TRAY_HOST)
                          + (bus ? " dbus-run-session -- sh -c " : " sh -c ") + shellQuoted(opened + script)
                          + " 2>/dev/null");
    }
};

// Without a session bus too: from the menu, and from the autostart entry into the tray.
TEST_F(DesktopApp, StartsWithStoredEventsAndQuitsCleanlyOnSigterm)
{
    fs::copy_file(fs::path(EXITWISE_TEST_DATA_DIR) / "events/events.json", m_root / "data/events.json");
    for (const std::string args : {"", "--background"}) {
        const CommandOutcome r = inShell(R"(rm -f "$R/data/product_events.jsonl"
QT_QPA_PLATFORM=offscreen "$APP" )" + args + R"( 2>"$R/err.txt" & app=$!; opened; sleep 0.3
kill -0 $app && echo running; kill -TERM $app; wait $app; echo "app=$?")",
                                         false);
        EXPECT_EQ(r.out, "running\napp=0\n") << args << "\n" << readFile(m_root / "err.txt");
    }
}

TEST_F(DesktopApp, ASecondStartOnTheSameSessionLeavesTheFirstRunning)
{
    if (runCommand("command -v dbus-run-session >/dev/null").status != 0) {
        GTEST_SKIP() << "dbus-run-session is not installed";
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The second start must end by itself while the first keeps running; then SIGTERM the first.
    const CommandOutcome r = inShell(R"("$APP" 2>/dev/null & first=$!; opened
timeout 10 "$APP" 2>&1; echo "second=$?"
kill -0 $first && echo first-running; kill -TERM $first; wait $first; echo "first=$?")");
    EXPECT_NE(r.out.find("exitwise: Exitwise is already running"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nsecond=0\nfirst-running\nfirst=0\n")) << r.out;
    // Only the first instance built a model and recorded its start.
    const std::string usage = readFile(m_root / "data/product_events.jsonl");
    const auto first = usage.find("app_opened");
    EXPECT_TRUE(first != std::string::npos && first == usage.rfind("app_opened")) << usage;
}

// As a user meets it at login: an X server with no tray yet, Exitwise started into the tray, then
// a panel whose tray speaks D-Bus. Qt settles on one kind of tray when first asked, so the item
// only shows if nothing asked before the panel came.
TEST_F(DesktopApp, APanelThatStartsLaterGetsTheItem)
{
    if (runCommand("command -v dbus-run-session >/dev/null && command -v Xvfb >/dev/null").status != 0) {
        GTEST_SKIP() << "dbus-run-session or Xvfb is not installed";
    }
    const CommandOutcome r = inShell(R"(
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$R/display" 2>/dev/null & x=$!
for i in $(seq 100); do [ -s "$R/display" ] && break; sleep 0.05; done; export DISPLAY=:$(cat "$R/display")
QT_QPA_PLATFORM=xcb "$APP" --background 2>"$R/err.txt" & app=$!; opened; sleep 0.5
"$HOST" >"$R/items.txt" & host=$!
for i in $(seq 100); do grep -q '^item ' "$R/items.txt" && break; sleep 0.05; done; cat "$R/items.txt"
kill -TERM $app; wait $app; echo "app=$?"; kill $host $x; wait)");
    EXPECT_NE(r.out.find("host\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("item "), std::string::npos) << r.out << readFile(m_root / "err.txt");
    EXPECT_NE(r.out.find("app=0"), std::string::npos) << r.out << readFile(m_root / "err.txt");
}

TEST_F(DesktopApp, WithoutADisplayItSaysSoAndFails)
{
    const CommandOutcome r = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                        + std::string(EXITWISE_BIN) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("exitwise: no graphical display found", 0), 0u) << r.out;
    EXPECT_FALSE(fs::exists(m_root / "data/product_events.jsonl")); // nothing started
}

} // namespace
} // namespace exitwise::test
