// SPDX-License-Identifier: MIT
#include "platform/linux/ApplicationMatch.h"

#include "support/PlatformFixtures.h"

#include <sys/stat.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;

// The control group of a unit the desktop started an application in.
std::string unitOf(const std::string& id, const std::string& launcher = "gnome")
{
    return "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-" + launcher + "-" + id
           + "-4711.scope\n";
}

// Which entry each process is taken for, from what the kernel says of it.
TEST(ApplicationMatch, EachWayAProcessNamesItsApplication)
{
    const test::TempDir temp("exitwise-match");
    const fs::path& root = temp.path();
    for (const char* program : {"bin/editor", "bin/office"}) {
        ::chmod(test::writeTextFile(root / program, "").c_str(), 0755);
    }
    const auto entry = [&root](const std::string& id, const std::string& exec) {
        test::writeTextFile(root / "applications" / (id + ".desktop"),
                            "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\n");
    };
    entry("org.ex.Editor", "editor %F");
    entry("org.ex.Writer", "office --writer %U");
    entry("org.ex.Calc", "office --calc %U");
    entry("org.ex.Flat", "flatpak run org.ex.Flat\nX-Flatpak=org.ex.Flat");
    entry("org.ex.Scoped", "scoped-tool");
    entry("org.ex.Tool", "python3 /opt/tool/tool.py");
    const DesktopEntryIndex index(
        DesktopEntryEnvironment{{root / "applications"}, {root / "bin"}, "", "exitwise"});
    const std::string ed = (root / "bin/editor").string();
    const std::string office = (root / "bin/office").string();
    const std::string py = "/usr/bin/python3.11";

    struct Case
    {
        const char* what;
        std::optional<std::string> executable;
        std::vector<std::string> commandLine;
        std::string cgroup;
        std::optional<std::string> expected;
    };
    // clang-format off
    const Case cases[] = {
        {"a copy elsewhere is another", "/opt/editor", {"/opt/editor"}, "", std::nullopt},
        {"a copy the desktop started as it", "/opt/editor", {}, unitOf("org.ex.Editor"), "org.ex.Editor"},
        {"the program beats an inherited unit", ed, {ed}, unitOf("org.ex.Scoped"), "org.ex.Editor"},
        {"exe unreadable: command line", std::nullopt, {ed, "a.txt"}, "", "org.ex.Editor"},
        {"through a wrapper", "/usr/bin/env", {"env", "A=1", "editor", "a.txt"}, "", "org.ex.Editor"},
        {"a wrapper starting a copy", "/usr/bin/env", {"env", "A=1", "/home/ann/editor"}, "", std::nullopt},
        {"an interpreter's script", py, {"python3", "-u", "/opt/tool/tool.py"}, "", "org.ex.Tool"},
        {"a relative script: its name", py, {"python3", "tool.py"}, "", "org.ex.Tool"},
        {"shared program: the arguments", office, {office, "--calc", "b.ods"}, "", "org.ex.Calc"},
        {"shared program: unit", office, {"office", "--calc"}, unitOf("org.ex.Writer"), "org.ex.Writer"},
        {"a Flatpak application", "/usr/bin/flatpak", {"flatpak", "run", "org.ex.Flat"}, "", "org.ex.Flat"},
        {"inside its sandbox", "/app/bin/flat", {"flat"}, unitOf("org.ex.Flat", "flatpak"), "org.ex.Flat"},
        {"nothing names it", py, {"python3"}, "", std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessView process{c.executable, [&c] { return c.commandLine; }, [&c] { return c.cgroup; }};
        EXPECT_EQ(matchApplication(index, process), c.expected);
    }

    // A program that decides alone: neither the command line nor the unit is read.
    const ProcessView decided{ed,
                              []() -> std::vector<std::string> { throw std::logic_error("arguments read"); },
                              []() -> std::string { throw std::logic_error("unit read"); }};
    EXPECT_EQ(matchApplication(index, decided), "org.ex.Editor");
}

} // namespace
} // namespace exitwise::platform
