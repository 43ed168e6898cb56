// SPDX-License-Identifier: MIT
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <sys/wait.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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

// A private home for one run: data, settings, autostart and desktop entries all in `root`.
void useScratchEnvironment(const fs::path& root)
{
    fs::remove_all(root);
    fs::create_directories(root / "data");
    fs::create_directories(root / "xdg");
    setenv("EXITWISE_APP_SUPPORT_DIR", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root / "xdg").c_str(), 1);
    setenv("EXITWISE_JOURNAL_DIR", (root / "no-journal").c_str(), 1);
    // Never the desktop's own bus: an Exitwise running there would take these starts for its own.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
}

// From the menu, and from the autostart entry into the tray.
class DesktopAppStart : public ::testing::TestWithParam<const char*>
{
};

TEST_P(DesktopAppStart, StartsWithStoredEventsAndQuitsCleanlyOnSigterm)
{
    // ctest runs both starts at once: each needs its own directory.
    const fs::path root = fs::path(::testing::TempDir()) / ("desktop-app-" + std::to_string(getpid()));
    useScratchEnvironment(root);
    fs::copy_file(fs::path(EXITWISE_TEST_DATA_DIR) / "events/events.json", root / "data/events.json");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (root / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string option = GetParam();
    char* argv[] = {const_cast<char*>(EXITWISE_BIN),
                    option.empty() ? nullptr : const_cast<char*>(option.c_str()), nullptr};
    pid_t app = -1;
    ASSERT_EQ(posix_spawn(&app, EXITWISE_BIN, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The model records app_opened once it is built; the window follows at once.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (readFile(root / "data/product_events.jsonl").find("app_opened") == std::string::npos
           && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_NE(readFile(root / "data/product_events.jsonl").find("app_opened"), std::string::npos)
        << readFile(root / "err.txt");
    std::this_thread::sleep_for(300ms);
    ASSERT_FALSE(waitForExit(app, 0ms).has_value())
        << "the app ended by itself: " << readFile(root / "err.txt");

    kill(app, SIGTERM);
    const std::optional<int> status = waitForExit(app, 10s);
    if (!status) {
        kill(app, SIGKILL);
        waitpid(app, nullptr, 0);
    }
    ASSERT_TRUE(status.has_value()) << "still running 10 s after SIGTERM";
    EXPECT_EQ(*status, 0) << readFile(root / "err.txt");
    // The stored history is still whole.
    EXPECT_FALSE(readFile(root / "data/events.json").empty());
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(FromMenuAndAtLogin, DesktopAppStart, ::testing::Values("", "--background"));

TEST(DesktopApp, HelpExplainsTheStartInTheTray)
{
    const CommandOutcome r = runCommand(std::string(EXITWISE_BIN) + " --help 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--background"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("without opening its window"), std::string::npos) << r.out;
}

TEST(DesktopApp, ASecondStartOnTheSameSessionLeavesTheFirstRunning)
{
    if (runCommand("command -v dbus-run-session >/dev/null").status != 0) {
        GTEST_SKIP() << "dbus-run-session is not installed";
    }
    const fs::path root = fs::path(::testing::TempDir()) / "desktop-app-twice";
    useScratchEnvironment(root);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string app = shellQuoted(EXITWISE_BIN);
    const std::string opened = shellQuoted((root / "data/product_events.jsonl").string());
    // The second start must end by itself while the first keeps running; then SIGTERM the first.
    const std::string script =
        app
        + " 2>/dev/null & first=$!; "
          "for i in $(seq 200); do grep -q app_opened "
        + opened
        + " 2>/dev/null && break; sleep 0.05; done; "
          "timeout 10 "
        + app
        + " 2>&1; echo \"second=$?\"; "
          "kill -0 $first && echo first-running; kill -TERM $first; wait $first; echo \"first=$?\"";
    const CommandOutcome r = runCommand("dbus-run-session -- sh -c " + shellQuoted(script) + " 2>/dev/null");
    EXPECT_NE(r.out.find("exitwise: Exitwise is already running"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("second=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first-running"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first=0"), std::string::npos) << r.out;
    // Only the first instance built a model and recorded its start.
    const std::string usage = readFile(root / "data/product_events.jsonl");
    std::size_t starts = 0;
    for (std::size_t at = usage.find("app_opened"); at != std::string::npos;
         at = usage.find("app_opened", at + 1)) {
        ++starts;
    }
    EXPECT_EQ(starts, 1u) << usage;
    fs::remove_all(root);
}

// As a user meets it at login: an X server with no tray yet, Exitwise started into the tray, then
// a panel whose tray speaks D-Bus. Qt settles on one kind of tray when first asked, so the item
// only shows if nothing asked before the panel came.
TEST(DesktopApp, APanelThatStartsLaterGetsTheItem)
{
    if (runCommand("command -v dbus-run-session >/dev/null && command -v Xvfb >/dev/null").status != 0) {
        GTEST_SKIP() << "dbus-run-session or Xvfb is not installed";
    }
    const fs::path root = fs::path(::testing::TempDir()) / "desktop-app-late-tray";
    useScratchEnvironment(root);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string opened = shellQuoted((root / "data/product_events.jsonl").string());
    const std::string items = shellQuoted((root / "items.txt").string());
    const std::string display = shellQuoted((root / "display.txt").string());
    const std::string script = "Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>" + display
                               + " 2>/dev/null & x=$!; "
                                 "for i in $(seq 100); do [ -s "
                               + display + " ] && break; sleep 0.05; done; export DISPLAY=:$(cat " + display
                               + "); "
                                 "QT_QPA_PLATFORM=xcb "
                               + shellQuoted(EXITWISE_BIN) + " --background 2>"
                               + shellQuoted((root / "err.txt").string())
                               + " & app=$!; "
                                 "for i in $(seq 200); do grep -q app_opened "
                               + opened + " 2>/dev/null && break; sleep 0.05; done; sleep 0.5; "
                               + shellQuoted(EXITWISE_FAKE_TRAY_HOST) + " >" + items
                               + " & host=$!; "
                                 "for i in $(seq 100); do grep -q '^item ' "
                               + items + " && break; sleep 0.05; done; cat " + items
                               + "; kill -TERM $app; wait $app; echo \"app=$?\"; kill $host $x; wait";
    const CommandOutcome r = runCommand("dbus-run-session -- sh -c " + shellQuoted(script) + " 2>/dev/null");
    EXPECT_NE(r.out.find("host\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("item "), std::string::npos) << r.out << readFile(root / "err.txt");
    EXPECT_NE(r.out.find("app=0"), std::string::npos) << r.out << readFile(root / "err.txt");
    fs::remove_all(root);
}

TEST(DesktopApp, WithoutADisplayItSaysSoAndFails)
{
    const fs::path root = fs::path(::testing::TempDir()) / "desktop-app-no-display";
    useScratchEnvironment(root);
    const CommandOutcome r = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                        + std::string(EXITWISE_BIN) + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("exitwise: no graphical display found", 0), 0u) << r.out;
    EXPECT_FALSE(fs::exists(root / "data/product_events.jsonl")); // nothing started
    fs::remove_all(root);
}

} // namespace
} // namespace exitwise::test
