// SPDX-License-Identifier: MIT
// The watcher's bookkeeping against a hand-made /proc tree (matching, instances, pid reuse, how an
// application ended), and against a real process: a test desktop entry runs exitwise_test_app.
#include "platform/linux/ProcessWatcher.h"

#include "platform/linux/ProcfsReader.h"
#include "support/ChildProcess.h"
#include "support/PlatformFixtures.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;
using Notices = std::vector<std::pair<bool, app::RunningApplication>>; // whether a launch, and what

const std::string kSession = "0::/user.slice/user-1000.slice/session-2.scope\n";
const std::string kUnits = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
const std::string kViewer = "/opt/viewer/viewer";
const std::string kBoot = "0123456789abcdef0123456789abcdef";
const auto kTick = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));

double secondsSince1970()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct FakeProcess
{
    int pid = 0;
    std::string exe; // empty: unreadable
    std::vector<std::string> cmdline;
    int ppid = 1;
    std::uint64_t startTime = 100; // ticks after boot; the machine is up for 10 s
    std::string cgroup = kSession;
    char state = 'S';
    int waitStatus = 0; // a zombie's
};

// A watcher of a /proc tree the test writes, scanning only when told to.
class ProcessWatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeEntry("viewer", "Exec=" + kViewer + " %F\n");
        writeEntry("editor", "Exec=/opt/editor/editor\n");
        writeEntry("scoped", "Exec=/opt/scoped/launcher\n");
        test::writeTextFile(m_root / "proc/uptime", "10.00 3.00\n");
        test::writeTextFile(m_root / "proc/sys/kernel/random/boot_id", kBoot + "\n");
    }

    void writeEntry(const std::string& id, const std::string& keys) const
    {
        test::writeTextFile(m_root / "applications" / (id + ".desktop"),
                            "[Desktop Entry]\nType=Application\nName=" + id + "\n" + keys);
    }

    void put(const FakeProcess& process) const
    {
        const fs::path dir = m_root / "proc" / std::to_string(process.pid);
        const std::string comm =
            process.exe.empty() ? "x" : fs::path(process.exe).filename().string().substr(0, 15);
        std::string stat = std::to_string(process.pid) + " (" + comm + ") " + process.state + " "
                           + std::to_string(process.ppid) + " 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 "
                           + std::to_string(process.startTime);
        for (int field = 23; field < 52; ++field) {
            stat += " 0";
        }
        test::writeTextFile(dir / "stat", stat + " " + std::to_string(process.waitStatus) + "\n");
        std::string cmdline;
        for (const std::string& argument : process.cmdline) {
            cmdline += argument + '\0';
        }
        test::writeTextFile(dir / "cmdline", cmdline);
        test::writeTextFile(dir / "cgroup", process.cgroup);
        fs::remove(dir / "exe");
        if (!process.exe.empty()) {
            fs::create_symlink(process.exe, dir / "exe");
        }
    }

    void remove(int pid) const { fs::remove_all(m_root / "proc" / std::to_string(pid)); }

    ProcessWatcher& watcher(const std::function<void(ProcessWatcherOptions&)>& adjust = {})
    {
        ProcessWatcherOptions options;
        options.desktop.applicationDirs = {m_root / "applications"};
        options.procRoot = m_root / "proc";
        options.scanInterval = 1h;
        options.ownPid = 999999;
        if (adjust) {
            adjust(options);
        }
        m_notices.clear();
        m_watcher = std::make_unique<ProcessWatcher>(options);
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationLaunched,
                         [this](const auto& application) { m_notices.emplace_back(true, application); });
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationTerminated,
                         [this](const auto& application) { m_notices.emplace_back(false, application); });
        m_watcher->start();
        return *m_watcher;
    }

    // The notices since the last call, sorted (one scan reports in directory order); an end says how.
    Events events()
    {
        Events result;
        for (const auto& [launched, application] : std::exchange(m_notices, {})) {
            result.push_back((launched ? "launched " : "terminated ") + std::to_string(application.pid) + " "
                             + application.bundleIdentifier.value_or("?")
                             + (application.process.exit ? ": " + application.process.exit->text() : "")
                             + (application.process.endedUnresponsive ? ", unresponsive" : ""));
        }
        std::sort(result.begin(), result.end());
        return result;
    }

    [[nodiscard]] std::map<int, std::string> running() const
    {
        std::map<int, std::string> result;
        for (const app::RunningApplication& application : m_watcher->runningApplications()) {
            result[application.pid] = application.bundleIdentifier.value_or("?");
        }
        return result;
    }

    const test::TempDir m_temp{"exitwise-watch"};
    const fs::path& m_root = m_temp.path();
    std::unique_ptr<ProcessWatcher> m_watcher;
    Notices m_notices;
};

// Each thing the matching reads, read from the files /proc has; the ways of matching themselves are
// tabled in the matching's own test. Only this user's processes count, and only while started; an
// entry installed later matches the programs already running.
TEST_F(ProcessWatcherTest, EachStartTakesStockOfTheRunningApplications)
{
    // clang-format off
    for (const FakeProcess& process : {
             FakeProcess{100, kViewer, {kViewer}},
             FakeProcess{101, kViewer + " (deleted)", {kViewer}},
             FakeProcess{102, "", {kViewer, "file.pdf"}},
             FakeProcess{104, "/opt/other/thing", {"thing"}, 1, 100, kUnits + "app-gnome-scoped-9.scope\n"},
             FakeProcess{106, "", {}, 1, 100, kUnits + "app-gnome-scoped-8.scope\n", 'Z'},
             FakeProcess{500, "/opt/newapp/newapp", {"newapp"}}}) {
        put(process);
    }
    // clang-format on
    std::map<int, std::string> expected{{100, "viewer"}, {101, "viewer"}, {102, "viewer"}, {104, "scoped"}};
    watcher([](ProcessWatcherOptions& options) { options.uid = getuid() + 1; });
    EXPECT_TRUE(running().empty()) << "another user's";

    ProcessWatcher& w = watcher();
    EXPECT_EQ(running(), expected);
    w.stop();
    EXPECT_TRUE(running().empty());
    put({107, kViewer, {kViewer}});
    w.scanNow();
    EXPECT_EQ(events(), Events{}) << "neither those running at start nor anything while stopped";
    w.start();
    expected[107] = "viewer";
    EXPECT_EQ(running(), expected);
    std::this_thread::sleep_for(20ms); // past the directory's timestamp tick
    writeEntry("newapp", "Exec=newapp\n");
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 500 newapp"}) << "an entry installed later matches programs running";
}

TEST_F(ProcessWatcherTest, AReusedPidIsANewProcess)
{
    const FakeProcess viewer{300, kViewer, {"viewer"}};
    const Events relaunched{"launched 300 viewer", "terminated 300 viewer: exit status unknown"};
    const struct
    {
        const char* what;
        FakeProcess after; // what pid 300 is at the next scan
        Events events;
    } cases[] = {
        // clang-format off
        {"the same program again", FakeProcess{300, kViewer, {"viewer"}, 1, 500}, relaunched},
        {"another program", FakeProcess{300, "/usr/bin/unrelated", {"unrelated"}, 1, 500}, {relaunched[1]}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        remove(300);
        put(viewer);
        ProcessWatcher& w = watcher();
        put(c.after);
        w.scanNow();
        EXPECT_EQ(events(), c.events);
        w.scanNow();
        EXPECT_EQ(events(), Events{}) << "reported once";
    }
}

TEST_F(ProcessWatcherTest, OnlyTheTopProcessOfAnInstanceIsReported)
{
    ProcessWatcher& w = watcher();
    put({300, kViewer, {kViewer}, 1});
    put({301, kViewer, {kViewer, "--type=renderer"}, 300});
    put({302, "/bin/sh", {"sh", "-c", "helper-script"}, 301});
    put({303, kViewer, {kViewer, "--type=gpu"}, 302}); // below an unmatched process, still the same instance
    put({304, "/opt/editor/editor", {"editor"}, 300}); // another application it started
    put({305, kViewer, {kViewer}, 1});                 // a second instance
    w.scanNow();
    EXPECT_EQ(events(), (Events{"launched 300 viewer", "launched 304 editor", "launched 305 viewer"}));

    remove(301);
    remove(303);
    w.scanNow();
    EXPECT_EQ(events(), Events{});
    remove(300);
    w.scanNow();
    EXPECT_EQ(events(), Events{"terminated 300 viewer: exit status unknown"});
}

// On a machine up for 10 s, a top process 1 s old that ends while its child lives on was a
// launcher; one 9 s old was the application.
TEST_F(ProcessWatcherTest, ALauncherThatEndsAtOnceHandsTheInstanceToItsChild)
{
    const struct
    {
        const char* what;
        std::uint64_t topStart;
        Events whenTopEnds;
        Events whenChildEnds;
    } cases[] = {
        // clang-format off
        {"a launcher", 9 * kTick, {"launched 301 viewer"}, {"terminated 301 viewer: exit status unknown"}},
        {"an application", 1 * kTick, {"terminated 300 viewer: exit status unknown"}, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessWatcher& w = watcher();
        put({300, kViewer, {kViewer}, 1, c.topStart});
        put({301, kViewer, {kViewer, "--daemon"}, 300, c.topStart + 1});
        w.scanNow();
        EXPECT_EQ(events(), Events{"launched 300 viewer"});
        remove(300);
        w.scanNow();
        EXPECT_EQ(events(), c.whenTopEnds);
        remove(301);
        w.scanNow();
        EXPECT_EQ(events(), c.whenChildEnds);
    }
}

TEST_F(ProcessWatcherTest, WhileNoPidIsHandedOutOnlyKnownProcessesAreLookedAt)
{
    auto newestPid = [this](int pid) {
        test::writeTextFile(m_root / "proc/loadavg", "0.10 0.20 0.30 1/90 " + std::to_string(pid) + "\n");
    };
    newestPid(300);
    put({300, kViewer, {"viewer"}});
    ProcessWatcher& w = watcher();
    put({400, "/usr/bin/gnome-shell", {"gnome-shell"}});
    newestPid(400);
    w.scanNow();
    EXPECT_EQ(events(), Events{});

    put({401, "/opt/editor/editor", {"editor"}}); // not listed: the newest pid says nothing is new
    put({400, kViewer, {"viewer"}});              // a launcher's child that execs later
    remove(300);
    w.scanNow();
    EXPECT_EQ(events(), (Events{"launched 400 viewer", "terminated 300 viewer: exit status unknown"}));
    newestPid(401);
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 401 editor"});
}

// Without a pidfd the scan reads how an application ended from its zombie; once reaped it cannot
// tell. A marker of KWin's marks the first application; the first's and each of the second's would
// mark the second wrongly if one part were not compared: another pid, another program, another
// boot, from before it started.
TEST_F(ProcessWatcherTest, AZombieAndKWinsMarkerTellHowAnApplicationEnded)
{
    const fs::path markers = m_root / "markers";
    ProcessWatcher& w =
        watcher([&](ProcessWatcherOptions& options) { options.unresponsiveMarkers = markers; });
    put({300, kViewer, {kViewer}, 1, 9 * kTick}); // started 1 s ago
    put({301, kViewer, {kViewer}, 1, 9 * kTick});
    w.scanNow();
    const auto mark = [&](const std::string& program, const std::string& boot, int pid, double age) {
        const auto ms = std::to_string(static_cast<long long>((secondsSince1970() - age) * 1000));
        test::writeTextFile(markers / (program + "." + boot + "." + std::to_string(pid) + "." + ms + ".json"),
                            "");
    };
    mark("viewer", kBoot, 300, 0);
    mark("kate", kBoot, 301, 0);
    mark("viewer", "fedcba9876543210fedcba9876543210", 301, 0);
    mark("viewer", kBoot, 301, 3600);
    put({300, kViewer, {kViewer}, 1, 9 * kTick, kSession, 'Z', SIGABRT});
    remove(301);
    w.scanNow();
    EXPECT_EQ(events(), (Events{"launched 300 viewer", "launched 301 viewer",
                                "terminated 300 viewer: terminated by SIGABRT, unresponsive",
                                "terminated 301 viewer: exit status unknown"}));
}

// A launch that ended before any scan could see it is known from the line it wrote to the
// launcher's stream: reported as launched and ended, once, unless it is no application, still runs,
// an instance runs that started before the line or within a second of it (a single-instance
// application launched again hands its request over), or its end was reported already.
TEST_F(ProcessWatcherTest, StreamLinesOfLaunchesThatEndedBeforeAnyScan)
{
    ProcessWatcher& w = watcher();
    const double now = secondsSince1970();
    put({300, kViewer, {kViewer}, 1, 10 * kTick});            // an instance started just now
    put({301, kViewer, {}, 1, 100, kSession, 'Z', 127 << 8}); // ended at once; 302 was reaped already
    for (const int pid : {301, 301, 302}) {
        w.noticeApplicationOutput("viewer", pid, now - 10);
    }
    w.noticeApplicationOutput("org.exitwise.Unknown", 303, now - 10);
    w.noticeApplicationOutput("viewer", 304, now - 0.5);      // handed over to 300
    put({305, "/usr/bin/python3", {"python3", "helper.py"}}); // still runs
    w.noticeApplicationOutput("viewer", 305, now - 10);
    remove(300);
    w.scanNow();
    w.noticeApplicationOutput("viewer", 300, now);

    std::map<int, std::string> commands; // of an ended launch only a zombie's name is known
    for (const auto& [launched, application] : m_notices) {
        commands[application.pid] = application.process.command;
    }
    EXPECT_EQ(commands, (std::map<int, std::string>{{300, "viewer"}, {301, "viewer"}, {302, ""}}));
    EXPECT_EQ(events(), (Events{"launched 300 viewer", "launched 301 viewer", "launched 302 viewer",
                                "terminated 300 viewer: exit status unknown",
                                "terminated 301 viewer: exited with code 127",
                                "terminated 302 viewer: exit status unknown"}));
}

// A real application as the kernel names it: its file, its name cut to 15 bytes and the test's
// own control group; its end is seen through its pidfd (scans no longer look at it).
TEST_F(ProcessWatcherTest, ARealApplicationFromLaunchToEnd)
{
    // A copy of its own: the same program that tests running beside this one start is, at another
    // path, another application, so their processes never pass for an instance.
    const fs::path program = m_root / fs::path(EXITWISE_TEST_APP).filename();
    fs::copy_file(EXITWISE_TEST_APP, program);
    writeEntry("org.exitwise.TestApp", "Exec=\"" + program.string() + "\" sleep\n");
    watcher([](ProcessWatcherOptions& options) {
        options.procRoot = "/proc";
        options.scanInterval = 50ms;
    });
    const pid_t pid = test::spawnWithOutput({program.string(), "sleep"}, "/dev/null");
    ASSERT_GT(pid, 0); // kill(-1) would end every process of the user
    const auto ours = [&] {
        std::erase_if(m_notices, [pid](const auto& notice) { return notice.second.pid != pid; });
        return m_notices.size();
    };
    EXPECT_TRUE(test::waitUntil([&] { return ours() == 1; }));
    kill(pid, SIGKILL);
    EXPECT_TRUE(test::waitUntil([&] { return ours() == 2; }));
    waitpid(pid, nullptr, 0);

    const core::ProcessFacts facts{std::nullopt, fs::canonical(program).string(), "exitwise_test_a",
                                   unifiedCgroupPath(test::readFile("/proc/self/cgroup")), false};
    const app::RunningApplication launched{"org.exitwise.TestApp", "org.exitwise.TestApp", pid,
                                           (m_root / "applications/org.exitwise.TestApp.desktop").string(),
                                           facts};
    app::RunningApplication ended = launched;
    ended.process.exit = core::ProcessExit::signaled("SIGKILL", false);
    EXPECT_EQ(m_notices, (Notices{{true, launched}, {false, ended}}));
}

TEST(ProcessWatcherOptions, ComeFromTheEnvironment)
{
    const std::string anr = "/drkonqi/application-not-responding";
    const struct
    {
        const char* noExit;
        const char* cache;
        const char* journalDir;
        bool pidfdExitInfo;
        fs::path markers;
        std::optional<fs::path> journal;
    } cases[] = {
        // clang-format off
        {nullptr, "/home/ann/cache", nullptr, true, "/home/ann/cache" + anr, std::nullopt},
        {"1", nullptr, "/tmp/journal", false, "/home/ann/.cache" + anr, "/tmp/journal"},
        {"0", "relative/cache", "", true, "/home/ann/.cache" + anr, std::nullopt},
        // clang-format on
    };
    const test::ScopedEnvironment home("HOME", "/home/ann");
    for (const auto& c : cases) {
        const test::ScopedEnvironment noExit("EXITWISE_NO_PIDFD_EXIT", c.noExit);
        const test::ScopedEnvironment cache("XDG_CACHE_HOME", c.cache);
        const test::ScopedEnvironment journal("EXITWISE_JOURNAL_DIR", c.journalDir);
        const ProcessWatcherOptions options = ProcessWatcherOptions::fromEnvironment();
        // The launcher streams are followed in the journal the rest of the evidence comes from.
        EXPECT_EQ(std::tuple(options.pidfdExitInfo, options.unresponsiveMarkers,
                             options.followLauncherStreams, options.launcherJournal),
                  std::tuple(c.pidfdExitInfo, c.markers, true, c.journal));
    }
}

} // namespace
} // namespace exitwise::platform
