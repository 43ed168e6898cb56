// SPDX-License-Identifier: MIT
#include "platform/linux/LaunchTarget.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

using Words = std::vector<std::string>;

TEST(LaunchTarget, LooksThroughWrappersAndInterpreters)
{
    const struct
    {
        Words argv;
        std::optional<LaunchTarget> target;
    } cases[] = {
        {{"/usr/bin/gedit", "--new-window"}, LaunchTarget{"/usr/bin/gedit", false, {}}},
        {{"env", "GDK_BACKEND=x11", "-u", "FOO", "firefox", "%u"}, LaunchTarget{"firefox", false, {}}},
        {{"env", "-S", "nice -n 5 app --x"}, LaunchTarget{"app", false, {}}},
        {{"nice", "-n", "10", "ionice", "-c", "3", "backup-gui"}, LaunchTarget{"backup-gui", false, {}}},
        {{"timeout", "-s", "KILL", "10m", "tool"}, LaunchTarget{"tool", false, {}}},
        {{"sh", "-c", "cd /opt/app && exec ./app \"$@\"", "sh"}, LaunchTarget{"./app", false, {}}},
        {{"bash", "-lc", "FOO=1 exec env BAR=2 /opt/x/run"}, LaunchTarget{"/opt/x/run", false, {}}},
        {{"/bin/sh", "/usr/bin/launcher.sh", "--opt"}, LaunchTarget{"/usr/bin/launcher.sh", true, {}}},
        {{"/usr/bin/python3.11", "-u", "-W", "ignore", "/opt/tool/tool.py"},
         LaunchTarget{"/opt/tool/tool.py", true, {}}},
        {{"python3", "-m", "tool.main", "--x"}, LaunchTarget{"tool.main", true, {}}},
        {{"perl", "-w", "script.pl"}, LaunchTarget{"script.pl", true, {}}},
        {{"java", "-Xmx1g", "-jar", "/opt/app/app.jar"}, LaunchTarget{"/opt/app/app.jar", true, {}}},
        {{"java", "-cp", "a.jar:b.jar", "org.example.Main"}, LaunchTarget{"org.example.Main", true, {}}},
        {{"/usr/bin/flatpak", "run", "--branch=stable", "--command", "x", "org.example.App//stable", "%U"},
         LaunchTarget{{}, false, "org.example.App"}},
        // Nothing but the wrapper itself: never an application of its own.
        {{"python3"}, std::nullopt},
        {{"python3", "-c", "print(1)"}, std::nullopt},
        {{"bash"}, std::nullopt},
        {{"sh", "-c", "cd /tmp; echo done"}, std::nullopt},
        {{"env", "A=1"}, std::nullopt},
        {{"flatpak", "update"}, std::nullopt},
        {{"bwrap", "--ro-bind", "/", "/", "app"}, std::nullopt},
        {{}, std::nullopt},
        {{""}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveLaunchTarget(c.argv), c.target) << ::testing::PrintToString(c.argv);
    }
}

TEST(LaunchTarget, WrapperNamesIncludeVersionedInterpreters)
{
    for (const char* name : {"python3.11", "python2", "pypy3", "lua5.4", "wish8.6", "bash", "env", "java"}) {
        EXPECT_TRUE(isWrapperProgram(name)) << name;
    }
    for (const char* name : {"gimp-2.10", "firefox-esr", "x264", "shotwell", "javac", "envy"}) {
        EXPECT_FALSE(isWrapperProgram(name)) << name;
    }
}

} // namespace
} // namespace exitwise::platform
