// SPDX-License-Identifier: MIT
// The watcher's bookkeeping against a hand-made /proc tree: matching, instances, pid reuse.
#include "platform/linux/ProcessWatcher.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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

const std::string kSessionCgroup = "0::/user.slice/user-1000.slice/session-2.scope\n";
const std::string kUnits = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

struct FakeProcess
{
    int pid = 0;
    std::string exe; // empty: unreadable
    std::vector<std::string> cmdline;
    int ppid = 1;
    std::uint64_t startTime = 100;
    char state = 'S';
    std::string cgroup = kSessionCgroup;
    std::optional<int> exitCode{}; // written as field 52, which older kernels do not have
};

// Fields 25 to 52 of a current kernel's stat line, the last the exit code; none for an older one.
std::string fieldsUpTo52(std::optional<int> exitCode)
{
    if (!exitCode) {
        return {};
    }
    std::string fields;
    for (int field = 25; field < 52; ++field) {
        fields += " 0";
    }
    return fields + " " + std::to_string(*exitCode);
}

class ProcTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "exitwise-proc-XXXXXX").string();
        m_root = mkdtemp(pattern.data());
        fs::create_directories(m_root / "proc");
        const std::map<std::string, std::string> entries = {
            {"viewer", "Exec=/opt/viewer/viewer %F\n"},
            {"editor", "Exec=/opt/editor/editor\n"},
            {"tool", "Exec=python3 /opt/tool/tool.py\n"},
            {"wrapped", "Exec=env GDK_BACKEND=x11 /opt/wrapped/wrapped-bin --flag\n"},
            {"org.example.Flat",
             "Exec=/usr/bin/flatpak run --branch=stable org.example.Flat\nX-Flatpak=org.example.Flat\n"},
            {"org.example.Scoped", "Exec=/opt/scoped/launcher\n"},
            {"helper", "Exec=/opt/helper/helper\nNoDisplay=true\n"},
            {"top", "Exec=htop\nTerminal=true\n"},
            {"office-writer", "Exec=office --writer %U\n"},
            {"office-calc", "Exec=office --calc %U\n"},
        };
        for (const auto& [id, keys] : entries) {
            writeEntry(id, keys);
        }
    }

    void TearDown() override
    {
        m_watcher.reset();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    void writeEntry(const std::string& id, const std::string& keys) const
    {
        fs::create_directories(m_root / "apps");
        std::ofstream(m_root / "apps" / (id + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=" << id << "\n"
            << keys;
    }

    void put(const FakeProcess& process) const
    {
        const fs::path dir = m_root / "proc" / std::to_string(process.pid);
        fs::create_directories(dir);
        const std::string comm =
            process.exe.empty() ? "x" : fs::path(process.exe).filename().string().substr(0, 15);
        std::ofstream(dir / "stat") << process.pid << " (" << comm << ") " << process.state << " "
                                    << process.ppid << " 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 "
                                    << process.startTime << " 1000 50" << fieldsUpTo52(process.exitCode)
                                    << "\n";
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

    void remove(int pid) const { fs::remove_all(m_root / "proc" / std::to_string(pid)); }

    ProcessWatcher& watcher(std::optional<unsigned> uid = std::nullopt)
    {
        ProcessWatcherOptions options;
        options.procRoot = m_root / "proc";
        options.desktop.applicationDirs = {m_root / "apps"};
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

    fs::path m_root;
    std::unique_ptr<ProcessWatcher> m_watcher;
    Events m_events;
    std::vector<app::RunningApplication> m_notices;
};

TEST_F(ProcTreeTest, MatchesProcessesToTheirEntries)
{
    const std::string viewer = "/opt/viewer/viewer";
    const std::string python = "/usr/bin/python3.11";
    const std::string flatpakScope = kUnits + "app-flatpak-org.example.Flat-4242.scope\n";
    const struct
    {
        FakeProcess process;
        std::string id; // empty: not an application
    } cases[] = {
        {{100, viewer, {viewer}}, "viewer"},
        {{101, viewer + " (deleted)", {viewer}}, "viewer"},
        {{102, python, {"python3", "/opt/tool/tool.py"}}, "tool"},
        {{103, python, {"python3", "/home/ann/other.py"}}, ""},
        {{104, python, {"python3"}}, ""},
        {{105, "/usr/bin/bash", {"bash"}}, ""},
        {{106, "/opt/wrapped/wrapped-bin", {"wrapped-bin", "--flag"}}, "wrapped"},
        // Seen between the wrapper's start and its exec.
        {{107, "/usr/bin/env", {"env", "GDK_BACKEND=x11", "/opt/wrapped/wrapped-bin"}}, "wrapped"},
        {{108, "/app/bin/flat", {"flat"}, 1, 100, 'S', flatpakScope}, "org.example.Flat"},
        {{109, "/usr/bin/bwrap", {"bwrap", "--args", "41", "flat"}, 1, 100, 'S', flatpakScope},
         "org.example.Flat"},
        {{110, "/usr/bin/flatpak", {"flatpak", "run", "org.example.Flat"}}, "org.example.Flat"},
        {{111,
          "/opt/other/thing",
          {"thing"},
          1,
          100,
          'S',
          kUnits + "app-gnome-org.example.Scoped-999.scope\n"},
         "org.example.Scoped"},
        {{112, "/opt/helper/helper", {"helper"}}, ""},
        {{113, "/opt/helper/helper", {"helper"}, 1, 100, 'S', kUnits + "app-gnome-helper-5.scope\n"},
         "helper"},
        {{114, "/usr/bin/htop", {"htop"}}, ""},
        {{115, "/usr/bin/unrelated", {"unrelated"}}, ""},
        // The program beats the unit it inherited from whoever started it.
        {{116, viewer, {viewer}, 1, 100, 'S', kUnits + "app-gnome-org.example.Scoped-999.scope\n"}, "viewer"},
        {{117, "", {viewer, "file.pdf"}}, "viewer"},
        {{118, "/opt/office/office", {"office", "--calc", "a.ods"}}, "office-calc"},
        {{119,
          "/opt/office/office",
          {"office", "--calc"},
          1,
          100,
          'S',
          kUnits + "app-gnome-office\\x2dwriter-3.scope\n"},
         "office-writer"},
        {{120, "", {}, 1, 100, 'Z'}, ""},
        // Copies of a program elsewhere are other programs, unless the desktop started them as the
        // application.
        {{121, "/home/ann/build/viewer", {"viewer"}}, ""},
        {{122, "/home/ann/build/viewer", {"viewer"}, 1, 100, 'S', kUnits + "app-gnome-viewer-77.scope\n"},
         "viewer"},
        {{123, python, {"python3", "/home/ann/tool/tool.py"}}, ""},
        {{124, python, {"python3", "tool.py"}}, "tool"}, // relative: the name decides
        {{125, "/usr/bin/env", {"env", "GDK_BACKEND=x11", "/home/ann/wrapped-bin"}}, ""},
        {{126, "/opt/office/office", {"office", "--writer"}},
         "office-writer"}, // found nowhere: the name decides
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
    const std::string scope = kUnits + "app-gnome-viewer-300.scope\n";
    const std::string unit =
        "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-viewer-300.scope";
    const FakeProcess viewer{300, "/opt/viewer/viewer", {"viewer"}, 1, 100, 'S', scope};
    const struct
    {
        const char* what;
        std::function<void()> end;
        ProcessExit exit;
    } cases[] = {
        // clang-format off
        {"a zombie of a crash", [&] { FakeProcess z = viewer; z.state = 'Z'; z.exitCode = 0x8b; put(z); }, ProcessExit::signaled("SIGSEGV", true)},
        {"a zombie that exited 1", [&] { FakeProcess z = viewer; z.state = 'Z'; z.exitCode = 0x100; put(z); }, ProcessExit::exited(1)},
        {"a zombie of an older kernel", [&] { FakeProcess z = viewer; z.state = 'Z'; put(z); }, ProcessExit::unknown()},
        {"reaped", [&] { remove(300); }, ProcessExit::unknown()},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        remove(300);
        ProcessWatcher& w = watcher();
        w.start();
        put(viewer);
        w.scanNow();
        c.end();
        w.scanNow();
        ASSERT_EQ(m_notices.size(), 2U);
        app::RunningApplication launched{
            "viewer", "viewer", 300, (m_root / "apps/viewer.desktop").string(), {}};
        launched.process.executable = "/opt/viewer/viewer";
        launched.process.command = "viewer";
        launched.process.cgroup = unit;
        EXPECT_EQ(m_notices[0], launched);
        app::RunningApplication terminated = launched;
        terminated.process.exit = c.exit;
        EXPECT_EQ(m_notices[1], terminated);
        m_notices.clear();
        (void)events();
    }
}

TEST_F(ProcTreeTest, OtherUsersProcessesAreIgnored)
{
    put({100, "/opt/viewer/viewer", {"viewer"}});
    watcher(getuid() + 1).start();
    EXPECT_TRUE(running().empty());
}

TEST_F(ProcTreeTest, AReusedPidIsANewProcess)
{
    const FakeProcess viewer{300, "/opt/viewer/viewer", {"viewer"}, 1, 100};
    const struct
    {
        const char* what;
        std::function<void()> change;
        Events events;
    } cases[] = {
        {"the same program again",
         [&] {
             remove(300);
             FakeProcess again = viewer;
             again.startTime = 500;
             put(again);
         },
         {"launched 300 viewer", "terminated 300 viewer"}},
        {"another program",
         [&] {
             put({300, "/usr/bin/unrelated", {"unrelated"}, 1, 500});
         },
         {"terminated 300 viewer"}},
        {"a zombie",
         [&] {
             FakeProcess zombie = viewer;
             zombie.state = 'Z';
             put(zombie);
         },
         {"terminated 300 viewer"}},
        {"gone", [&] { remove(300); }, {"terminated 300 viewer"}},
        {"unchanged", [] {}, {}},
    };
    for (const auto& c : cases) {
        remove(300);
        put(viewer);
        ProcessWatcher& w = watcher();
        w.start();
        c.change();
        w.scanNow();
        EXPECT_EQ(events(), c.events) << c.what;
        w.scanNow();
        EXPECT_EQ(events(), Events{}) << c.what << ": reported once";
    }
}

TEST_F(ProcTreeTest, OnlyTheTopProcessOfAnInstanceIsReported)
{
    const std::string viewer = "/opt/viewer/viewer";
    ProcessWatcher& w = watcher();
    w.start();
    put({300, viewer, {viewer}, 1});
    put({301, viewer, {viewer, "--type=renderer"}, 300});
    put({302, "/bin/sh", {"sh", "-c", "helper-script"}, 301});
    put({303, viewer, {viewer, "--type=gpu"}, 302});   // below an unmatched process, still the same instance
    put({304, "/opt/editor/editor", {"editor"}, 300}); // another application it started
    put({305, viewer, {viewer}, 1});                   // a second instance
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
    std::ofstream(m_root / "proc/uptime") << "10.00 3.00\n";
    const std::string viewer = "/opt/viewer/viewer";
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
        ProcessWatcher& w = watcher();
        w.start();
        put({300, viewer, {viewer}, 1, c.topStart});
        put({301, viewer, {viewer, "--daemon"}, 300, c.topStart + 1});
        w.scanNow();
        EXPECT_EQ(events(), Events{"launched 300 viewer"}) << c.what;
        remove(300);
        w.scanNow();
        EXPECT_EQ(events(), c.whenTopEnds) << c.what;
        remove(301);
        w.scanNow();
        EXPECT_EQ(events(), c.whenChildEnds) << c.what;
    }
}

TEST_F(ProcTreeTest, WhileNoPidIsHandedOutOnlyKnownProcessesAreLookedAt)
{
    auto newestPid = [this](int pid) {
        std::ofstream(m_root / "proc/loadavg") << "0.10 0.20 0.30 1/90 " << pid << "\n";
    };
    newestPid(300);
    put({300, "/opt/viewer/viewer", {"viewer"}});
    ProcessWatcher& w = watcher();
    w.start();
    put({400, "/usr/bin/gnome-shell", {"gnome-shell"}});
    newestPid(400);
    w.scanNow();
    EXPECT_EQ(events(), Events{});

    put({401, "/opt/editor/editor", {"editor"}}); // not listed: the newest pid says nothing is new
    put({400, "/opt/viewer/viewer", {"viewer"}});
    remove(300);
    w.scanNow();
    EXPECT_EQ(events(), (Events{"launched 400 viewer", "terminated 300 viewer"}));
    newestPid(401);
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 401 editor"});
}

TEST_F(ProcTreeTest, ALauncherChildThatExecsLaterIsNoticed)
{
    ProcessWatcher& w = watcher();
    w.start();
    put({400, "/usr/bin/gnome-shell", {"gnome-shell"}, 1, 700});
    w.scanNow();
    EXPECT_EQ(events(), Events{});
    put({400, "/opt/viewer/viewer", {"/opt/viewer/viewer"}, 1, 700});
    w.scanNow();
    EXPECT_EQ(events(), Events{"launched 400 viewer"});
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
    put({300, "/opt/viewer/viewer", {"viewer"}});
    ProcessWatcher& w = watcher();
    w.start();
    w.start();
    EXPECT_EQ(running().size(), 1U);
    w.stop();
    w.stop();
    EXPECT_FALSE(w.isRunning());
    EXPECT_TRUE(running().empty());
    remove(300);
    put({301, "/opt/viewer/viewer", {"viewer"}});
    w.scanNow();
    EXPECT_EQ(events(), Events{}) << "nothing is reported while stopped";
    w.start();
    EXPECT_EQ(running(), (std::map<int, std::string>{{301, "viewer"}}));
    EXPECT_EQ(events(), Events{});
}

} // namespace
} // namespace exitwise::platform
