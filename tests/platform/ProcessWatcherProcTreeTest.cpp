// SPDX-License-Identifier: MIT
// The watcher's bookkeeping against a hand-made /proc tree: matching, instances, pid reuse.
#include "platform/linux/ProcessWatcher.h"
#include "support/Files.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;

const std::string kSession = "0::/user.slice/user-1000.slice/session-2.scope\n";
const std::string kUnits = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
const std::string kViewer = "/opt/viewer/viewer";
const std::string kFields25To51 = " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ";

struct FakeProcess
{
    int pid = 0;
    std::string exe; // empty: unreadable
    std::vector<std::string> cmdline;
    int ppid = 1;
    std::uint64_t startTime = 100;
    std::string cgroup = kSession;
    char state = 'S';
    std::optional<int> exitCode{}; // written as field 52, which older kernels do not have
};

class ProcTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(m_root.path() / "proc");
        writeEntry("viewer", "Exec=" + kViewer + " %F\n");
        writeEntry("editor", "Exec=/opt/editor/editor\n");
        writeEntry("scoped", "Exec=/opt/scoped/launcher\n");
    }

    void writeEntry(const std::string& id, const std::string& keys) const
    {
        fs::create_directories(m_root.path() / "apps");
        std::ofstream(m_root.path() / "apps" / (id + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=" << id << "\n"
            << keys;
    }

    void put(const FakeProcess& process) const
    {
        const fs::path dir = m_root.path() / "proc" / std::to_string(process.pid);
        fs::create_directories(dir);
        const std::string comm =
            process.exe.empty() ? "x" : fs::path(process.exe).filename().string().substr(0, 15);
        // A current kernel's line has 52 fields, the last the exit code; an older one stops at 24.
        const std::string newerFields =
            process.exitCode ? kFields25To51 + std::to_string(*process.exitCode) : "";
        std::ofstream(dir / "stat") << process.pid << " (" << comm << ") " << process.state << " "
                                    << process.ppid << " 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 "
                                    << process.startTime << " 1000 50" << newerFields << "\n";
        std::ofstream cmdline(dir / "cmdline", std::ios::binary);
        for (const std::string& argument : process.cmdline) {
            cmdline << argument << '\0';
        }
        std::ofstream(dir / "cgroup") << process.cgroup;
        std::error_code ignored;
        fs::remove(dir / "exe", ignored);
        if (!process.exe.empty()) {
            fs::create_symlink(process.exe, dir / "exe");
        }
    }

    void remove(int pid) const { fs::remove_all(m_root.path() / "proc" / std::to_string(pid)); }

    ProcessWatcher& watcher(std::optional<unsigned> uid = std::nullopt)
    {
        ProcessWatcherOptions options;
        options.procRoot = m_root.path() / "proc";
        options.desktop.applicationDirs = {m_root.path() / "apps"};
        options.scanInterval = 1h; // scans are driven by scanNow()
        options.uid = uid.value_or(getuid());
        options.ownPid = 999999;
        m_watcher = std::make_unique<ProcessWatcher>(options);
        auto record = [this](const char* what, const app::RunningApplication& application) {
            m_events.push_back(std::string(what) + " " + std::to_string(application.pid) + " "
                               + application.bundleIdentifier.value_or("?"));
            m_notices.push_back(application);
        };
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationLaunched,
                         [record](const app::RunningApplication& a) { record("launched", a); });
        QObject::connect(m_watcher.get(), &app::WorkspaceEvents::applicationTerminated,
                         [record](const app::RunningApplication& a) { record("terminated", a); });
        return *m_watcher;
    }

    // The events since the last call, sorted: one scan reports in directory order.
    Events events()
    {
        Events result;
        result.swap(m_events);
        std::sort(result.begin(), result.end());
        return result;
    }

    std::map<int, std::string> running() const
    {
        std::map<int, std::string> result;
        for (const app::RunningApplication& application : m_watcher->runningApplications()) {
            result[application.pid] = application.bundleIdentifier.value_or("?");
        }
        return result;
    }

    test::TempDir m_root{"exitwise-proc"};
    std::unique_ptr<ProcessWatcher> m_watcher;
    Events m_events;
    std::vector<app::RunningApplication> m_notices;
};

// Each thing the matching reads, read from the files /proc has; the ways of matching themselves are
// tabled in the matching's own test.
TEST_F(ProcTreeTest, MatchesProcessesToTheirEntries)
{
    const struct
    {
        FakeProcess process;
        std::string id; // empty: not an application
    } cases[] = {
        // clang-format off
        {{100, kViewer, {kViewer}}, "viewer"},
        {{101, kViewer + " (deleted)", {kViewer}}, "viewer"},
        {{102, "", {kViewer, "file.pdf"}}, "viewer"},
        {{104, "/opt/other/thing", {"thing"}, 1, 100, kUnits + "app-gnome-scoped-9.scope\n"}, "scoped"},
        {{106, "", {}, 1, 100, kSession, 'Z'}, ""},
        // clang-format on
    };
    std::map<int, std::string> expected;
    for (const auto& c : cases) {
        put(c.process);
        if (!c.id.empty()) {
            expected[c.process.pid] = c.id;
        }
    }
    watcher().start();
    EXPECT_EQ(running(), expected);
    EXPECT_EQ(events(), Events{}) << "applications running at start are not launches";
}

TEST_F(ProcTreeTest, NoticesTellHowTheKernelNamesTheProcessAndHowItEnded)
{
    using core::ProcessExit;
    const std::string unit =
        "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-viewer-300.scope";
    const FakeProcess viewer{300, kViewer, {"viewer"}, 1, 100, "0::" + unit + "\n"};
    const auto zombie = [&viewer](std::optional<int> exitCode) {
        FakeProcess z = viewer;
        z.state = 'Z';
        z.exitCode = exitCode;
        return std::optional<FakeProcess>(z);
    };
    const struct
    {
        const char* what;
        std::optional<FakeProcess> end; // nothing: reaped
        ProcessExit exit;
    } cases[] = {
        {"a zombie of a crash", zombie(0x8b), ProcessExit::signaled("SIGSEGV", true)},
        {"a zombie of an older kernel", zombie(std::nullopt), ProcessExit::unknown()},
        {"reaped", std::nullopt, ProcessExit::unknown()},
    };
    const core::ProcessFacts facts{{}, kViewer, "viewer", unit, false};
    const app::RunningApplication launched{"viewer", "viewer", 300,
                                           (m_root.path() / "apps/viewer.desktop").string(), facts};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        remove(300);
        ProcessWatcher& w = watcher();
        w.start();
        put(viewer);
        w.scanNow();
        c.end ? put(*c.end) : remove(300);
        w.scanNow();
        app::RunningApplication terminated = launched;
        terminated.process.exit = c.exit;
        EXPECT_EQ(m_notices, (std::vector<app::RunningApplication>{launched, terminated}));
        m_notices.clear();
    }
}

TEST_F(ProcTreeTest, OtherUsersProcessesAreIgnored)
{
    put({100, kViewer, {"viewer"}});
    watcher(getuid() + 1).start();
    EXPECT_TRUE(running().empty());
}

TEST_F(ProcTreeTest, AReusedPidIsANewProcess)
{
    const FakeProcess viewer{300, kViewer, {"viewer"}};
    const Events relaunched{"launched 300 viewer", "terminated 300 viewer"};
    const Events ended{"terminated 300 viewer"};
    const struct
    {
        const char* what;
        FakeProcess after; // what pid 300 is at the next scan
        Events events;
    } cases[] = {
        // clang-format off
        {"the same program again", FakeProcess{300, kViewer, {"viewer"}, 1, 500}, relaunched},
        {"another program", FakeProcess{300, "/usr/bin/unrelated", {"unrelated"}, 1, 500}, ended},
        {"unchanged", viewer, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        remove(300);
        put(viewer);
        ProcessWatcher& w = watcher();
        w.start();
        put(c.after);
        w.scanNow();
        EXPECT_EQ(events(), c.events);
        w.scanNow();
        EXPECT_EQ(events(), Events{}) << "reported once";
    }
}

TEST_F(ProcTreeTest, OnlyTheTopProcessOfAnInstanceIsReported)
{
    ProcessWatcher& w = watcher();
    w.start();
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
    EXPECT_EQ(events(), Events{"terminated 300 viewer"});
}

TEST_F(ProcTreeTest, ALauncherThatEndsAtOnceHandsTheInstanceToItsChild)
{
    const auto tick = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
    std::ofstream(m_root.path() / "proc/uptime") << "10.00 3.00\n";
    const struct
    {
        const char* what;
        std::uint64_t topStart;
        Events whenTopEnds;
        Events whenChildEnds;
    } cases[] = {
        {"a launcher, 1 s old", 9 * tick, {"launched 301 viewer"}, {"terminated 301 viewer"}},
        {"an application, 9 s old", 1 * tick, {"terminated 300 viewer"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessWatcher& w = watcher();
        w.start();
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

TEST_F(ProcTreeTest, WhileNoPidIsHandedOutOnlyKnownProcessesAreLookedAt)
{
    auto newestPid = [this](int pid) {
        std::ofstream(m_root.path() / "proc/loadavg") << "0.10 0.20 0.30 1/90 " << pid << "\n";
    };
    newestPid(300);
    put({300, kViewer, {"viewer"}});
    ProcessWatcher& w = watcher();
    w.start();
    put({400, "/usr/bin/gnome-shell", {"gnome-shell"}});
    newestPid(400);
    w.scanNow();
    EXPECT_EQ(events(), Events{});

    put({401, "/opt/editor/editor", {"editor"}}); // not listed: the newest pid says nothing is new
    put({400, kViewer, {"viewer"}});              // a launcher's child that execs later
    remove(300);
    w.scanNow();
    EXPECT_EQ(events(), (Events{"launched 400 viewer", "terminated 300 viewer"}));
    newestPid(401);
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 401 editor"});
}

TEST_F(ProcTreeTest, AnEntryInstalledLaterMatchesRunningPrograms)
{
    put({500, "/opt/newapp/newapp", {"newapp"}});
    ProcessWatcher& w = watcher();
    w.start();
    EXPECT_TRUE(running().empty());
    std::this_thread::sleep_for(20ms); // past the directory's timestamp tick
    writeEntry("newapp", "Exec=newapp\n");
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 500 newapp"});
}

TEST_F(ProcTreeTest, StopForgetsEverythingAndStartTakesStockAgain)
{
    put({300, kViewer, {"viewer"}});
    ProcessWatcher& w = watcher();
    w.start();
    w.start();
    EXPECT_EQ(running().size(), 1U);
    w.stop();
    w.stop();
    EXPECT_FALSE(w.isRunning());
    EXPECT_TRUE(running().empty());
    remove(300);
    put({301, kViewer, {"viewer"}});
    w.scanNow();
    EXPECT_EQ(events(), Events{}) << "nothing is reported while stopped";
    w.start();
    EXPECT_EQ(running(), (std::map<int, std::string>{{301, "viewer"}}));
    EXPECT_EQ(events(), Events{});
}

} // namespace
} // namespace exitwise::platform
