// SPDX-License-Identifier: MIT
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <sys/wait.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The whole pipeline, for real: a desktop entry, a program started from it and ended three
// ways, and `exitwise watch --json` recording each closure.
TEST(WatchCommand, RecordsEachClosureEndToEnd)
{
    const fs::path root = fs::path(::testing::TempDir()) / "watch-e2e";
    fs::remove_all(root);
    fs::create_directories(root / "data");
    fs::create_directories(root / "xdg/applications");
    // A program name of its own, so test programs other tests run at the same time don't match.
    const fs::path program = root / ("sketchpad-" + std::to_string(getpid()));
    fs::copy_file(EXITWISE_TEST_APP, program);
    std::ofstream(root / "xdg/applications/org.example.SketchPad.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sketch Pad\nExec=" << program.string() << " sleep\n";
    setenv("EXITWISE_APP_SUPPORT_DIR", (root / "data").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root / "xdg").c_str(), 1);
    setenv("EXITWISE_JOURNAL_DIR", (root / "no-journal").c_str(), 1);

    const pid_t watcher = spawnWithOutput({EXITWISE_BIN, "watch", "--json"}, root / "out.jsonl");
    ASSERT_GT(watcher, 0);
    ASSERT_TRUE(waitFor([&] { return fs::exists(root / "data/product_events.jsonl"); }, 10s));
    std::this_thread::sleep_for(700ms); // the first scan of running processes

    for (int endSignal : {SIGUSR2 /* crash */, SIGKILL, SIGUSR1 /* normal exit */}) {
        const pid_t app = spawnWithOutput({program.string(), "sleep"}, "/dev/null");
        std::this_thread::sleep_for(1200ms); // seen by a scan
        kill(app, endSignal);
        waitpid(app, nullptr, 0);
    }
    ASSERT_TRUE(waitFor([&] { return nonEmptyLines(readFile(root / "out.jsonl")).size() >= 3; }, 20s))
        << readFile(root / "out.jsonl");
    kill(watcher, SIGTERM);
    int status = 0;
    waitpid(watcher, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const auto printed = nonEmptyLines(readFile(root / "out.jsonl"));
    ASSERT_EQ(printed.size(), 3u);
    for (const auto& line : printed) {
        const auto event = nlohmann::json::parse(line);
        EXPECT_EQ(event["appName"], "Sketch Pad");
        EXPECT_EQ(event["bundleIdentifier"], "org.example.SketchPad");
        EXPECT_TRUE(event.contains("diagnosis"));
    }
    const auto events = nlohmann::json::parse(readFile(root / "data/events.json"));
    EXPECT_EQ(events.size(), 3u);
    EXPECT_EQ(nonEmptyLines(readFile(root / "data/event_ledger.jsonl")).size(), 3u);
    EXPECT_EQ(nlohmann::json::parse(readFile(root / "data/telemetry.json")).size(), 3u);
    const auto report = nlohmann::json::parse(readFile(root / "data/reconciliation_report.json"));
    EXPECT_EQ(report["mismatchCount"], 0);
    EXPECT_EQ(report["evidenceCount"], 3);
    // Each closure is classified by its exit status, in the order the three ended.
    const auto ledger = nonEmptyLines(readFile(root / "data/event_ledger.jsonl"));
    const std::vector<std::pair<std::string, std::string>> expected{{"crashed", "terminated by SIGSEGV"},
                                                                    {"killed", "terminated by SIGKILL"},
                                                                    {"quit", "exited with code 0"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto entry = nlohmann::json::parse(ledger[i]);
        EXPECT_EQ(entry["terminationReason"], expected[i].first);
        EXPECT_EQ(entry["terminationRawValue"], expected[i].second);
    }
    fs::remove_all(root);
}

} // namespace
} // namespace exitwise::test
