// SPDX-License-Identifier: MIT
#include "platform/linux/PidfdExit.h"
#include "platform/linux/ProcfsReader.h"
#include "platform/linux/SystemdScope.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

std::string
statLine(const std::string& pidAndComm, const std::string& state, int ppid, const std::string& start)
{
    return pidAndComm + " " + state + " " + std::to_string(ppid)
           + " 1 1 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 1 0 " + start + " 1000 50 18446744073709551615\n";
}

// All 52 fields of a current kernel's line, the last the exit code.
std::string fullStatLine(const std::string& pidAndComm, const std::string& state, const std::string& exitCode)
{
    std::string line = pidAndComm + " " + state + " 1000";
    for (int field = 5; field <= 51; ++field) {
        line += field == 22 ? " 987654" : " " + std::to_string(field);
    }
    return line + " " + exitCode + "\n";
}

TEST(ProcStat, ParsesTheFieldsAfterTheLastParenthesis)
{
    const struct
    {
        std::string line;
        std::optional<ProcStat> stat;
    } cases[] = {
        // clang-format off
        {statLine("1234 (gedit)", "S", 1000, "987654"), ProcStat{"gedit", 'S', 1000, 987654, std::nullopt}},
        {statLine("77 (Web Content)", "R", 70, "5"), ProcStat{"Web Content", 'R', 70, 5, std::nullopt}},
        {statLine("78 (a) b (c))", "Z", 2, "18446744073709551615"), ProcStat{"a) b (c)", 'Z', 2, 18446744073709551615ULL, std::nullopt}},
        {fullStatLine("1234 (gedit)", "Z", "139"), ProcStat{"gedit", 'Z', 1000, 987654, 139}},
        {fullStatLine("1234 (gedit)", "S", "0"), ProcStat{"gedit", 'S', 1000, 987654, 0}},
        {fullStatLine("1234 (gedit)", "Z", "x"), ProcStat{"gedit", 'Z', 1000, 987654, std::nullopt}},
        {"1234 (gedit) S 1000 1 1", std::nullopt},              // cut short
        {statLine("1234 gedit", "S", 1, "5"), std::nullopt},    // no parentheses
        {statLine("1234 (gedit)", "S", 1, "x5"), std::nullopt}, // not a number
        {statLine("1234 (gedit)", "SS", 1, "5"), std::nullopt}, // not a state
        {"", std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseProcStat(c.line), c.stat) << c.line;
    }
}

TEST(ProcStat, TheUnifiedHierarchyNamesTheControlGroup)
{
    const struct
    {
        std::string text;
        std::string path;
    } cases[] = {
        // clang-format off
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.gnome.Evince-12345.scope\n", "/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-org.gnome.Evince-12345.scope"},
        {"12:cpu:/\n1:name=systemd:/user.slice/session-2.scope\n0::/user.slice/session-2.scope\n", "/user.slice/session-2.scope"},
        {"0::/", "/"},
        {"1:name=systemd:/user.slice/session-2.scope\n", ""},
        {"10::/not-unified\n", ""},
        {"", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unifiedCgroupPath(c.text), c.path) << c.text;
    }
}

TEST(ProcessExit, ComesFromTheWaitStatus)
{
    using core::ProcessExit;
    const struct
    {
        int status;
        ProcessExit exit;
    } cases[] = {
        // clang-format off
        {0,      ProcessExit::exited(0)},
        {0x0100, ProcessExit::exited(1)},
        {0x7f00, ProcessExit::exited(127)},
        {0xff00, ProcessExit::exited(255)},
        {9,      ProcessExit::signaled("SIGKILL", false)},
        {15,     ProcessExit::signaled("SIGTERM", false)},
        {0x8b,   ProcessExit::signaled("SIGSEGV", true)},
        {0x86,   ProcessExit::signaled("SIGABRT", true)},
        {6,      ProcessExit::signaled("SIGABRT", false)},
        {0x137f, ProcessExit::unknown()}, // stopped by SIGSTOP: not an end
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exitFromWaitStatus(c.status), c.exit) << c.status;
    }
}

TEST(SystemdScope, NamesTheApplicationTheDesktopStarted)
{
    using Ids = std::vector<std::string>;
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const struct
    {
        std::string cgroup;
        Ids ids;
    } cases[] = {
        {user + "app-gnome-org.gnome.Evince-12345.scope\n",
         Ids{"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        {user + "app-org.kde.dolphin-a1b2c3.scope\n", Ids{"org.kde.dolphin"}},
        {user + "app-gnome-google\\x2dchrome-4242.scope\n", Ids{"google-chrome", "gnome-google-chrome"}},
        {user + "app-flatpak-org.mozilla.firefox-999.scope\n",
         Ids{"org.mozilla.firefox", "flatpak-org.mozilla.firefox"}},
        {user + "app-org.kde.konsole@0d5f.service\n", Ids{"org.kde.konsole"}},
        {user + "app-dbus\\x2d:1.2\\x2dorg.gnome.Terminal.slice/dbus-:1.2-org.gnome.Terminal@0.service\n",
         Ids{"org.gnome.Terminal"}},
        {user + "snap.firefox.firefox-0b3c4d5e-1234-4abc-8def-0123456789ab.scope\n", Ids{"firefox_firefox"}},
        {user + "snap.code.url-handler-0b3c4d5e-1234-4abc-8def-0123456789ab.scope\n",
         Ids{"code_url-handler"}},
        {user + "snap.vlc.vlc-1a2b3c.scope\n", Ids{"vlc_vlc"}},
        // Hybrid hierarchy: only systemd's named tree carries the unit.
        {"12:cpu:/\n1:name=systemd:/user.slice/user-1000.slice/session-2.scope/app-gnome-gedit-77.scope\n0::/"
         "\n",
         Ids{"gedit", "gnome-gedit"}},
        {user + "app-gnome-org.gnome.Evince-12345.scope/subgroup\n",
         Ids{"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        // Not an application's unit.
        {"0::/user.slice/user-1000.slice/session-2.scope\n", Ids{}},
        {user + "pipewire.service\n", Ids{}},
        {"0::/\n", Ids{}},
        {"garbage", Ids{}},
        {"", Ids{}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scopeApplicationIds(c.cgroup), c.ids) << c.cgroup;
    }
}

} // namespace
} // namespace exitwise::platform
