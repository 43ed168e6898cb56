// SPDX-License-Identifier: MIT
// Which entries the index holds and by which names and paths it finds them. How one file is read
// is pinned with the entry parser, which programs are wrappers with the launch target.
#include "platform/linux/DesktopEntryIndex.h"

#include "support/PlatformFixtures.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using Ids = std::vector<std::string>;

// A temporary tree to lay out directories of entries and programs in.
class DesktopEntryIndexTest : public ::testing::Test
{
protected:
    fs::path write(const fs::path& relative, const std::string& text, bool executable = false) const
    {
        const fs::path file = test::writeTextFile(root / relative, text);
        if (executable) {
            chmod(file.c_str(), 0755);
        }
        return file;
    }

    test::TempDir m_temp{"exitwise-index"};
    const fs::path& root = m_temp.path();
};

std::string app(const std::string& name, const std::string& exec, const std::string& extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
}

// The ids of `entries`, sorted.
Ids idsOf(const std::vector<const DesktopEntry*>& entries)
{
    Ids ids;
    for (const DesktopEntry* entry : entries) {
        ids.push_back(entry->id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

TEST_F(DesktopEntryIndexTest, FirstFileForAnIdDecides)
{
    write("home/applications/org.a.App.desktop", app("Home A", "a"));
    write("sys/applications/org.a.App.desktop", app("System A", "a"));
    write("sys/applications/kde/konsole.desktop", app("Konsole", "konsole"));
    write("home/applications/masked.desktop", app("Masked", "masked", "Hidden=true\n"));
    write("sys/applications/masked.desktop", app("Masked", "masked"));
    write("home/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
    write("sys/applications/link.desktop", app("Link App", "link-app"));
    write("sys/applications/exitwise.desktop", app("Exitwise", "exitwise"));
    write("sys/applications/uninstalled.desktop", app("Gone", "gone", "TryExec=/nonexistent/gone\n"));
    write("sys/applications/notes.txt", app("Not An Entry", "notes"));

    const DesktopEntryIndex index(
        {{root / "home/applications", root / "sys/applications"}, {}, "", "exitwise"});

    // Masked, links, our own entry, uninstalled programs and other files are left out.
    std::vector<std::string> entries;
    for (const DesktopEntry& entry : index.entries()) {
        entries.push_back(entry.id + " " + entry.name + " " + fs::relative(entry.path, root).string());
    }
    EXPECT_EQ(entries,
              (std::vector<std::string>{"org.a.App Home A home/applications/org.a.App.desktop",
                                        "kde-konsole Konsole sys/applications/kde/konsole.desktop"}));
    EXPECT_EQ(index.byId("kde-konsole"), &index.entries()[1]);
    EXPECT_EQ(index.byId("masked"), nullptr);
    EXPECT_EQ(idsOf(index.byProgram("konsole")), Ids{"kde-konsole"});
    EXPECT_TRUE(index.byProgram("link-app").empty());
}

TEST_F(DesktopEntryIndexTest, ProgramsAreFoundByEveryNameTheyRunUnder)
{
    const fs::path real = write("bin/real-editor", "#!/bin/true\n", true);
    fs::create_symlink(real, root / "bin/editor");
    write("apps/editor.desktop", app("Editor", "editor %F"));
    write("apps/tried.desktop", app("Tried", "launch-tried", "TryExec=" + real.string() + "\n"));
    write("apps/helper.desktop", app("Helper", "/opt/helper/helper", "NoDisplay=true\n"));
    write("apps/top.desktop", app("Top", "htop", "Terminal=true\n"));
    write("apps/org.x.Flat.desktop", app("Flat", "/usr/bin/flatpak run --branch=stable org.x.Flat %U"));

    const DesktopEntryIndex index({{root / "apps"}, {root / "bin"}, "", "exitwise"});

    EXPECT_EQ(idsOf(index.byProgram("editor")), Ids{"editor"});
    EXPECT_EQ(idsOf(index.byProgram("real-editor")), (Ids{"editor", "tried"}));
    EXPECT_EQ(idsOf(index.byProgram("launch-tried")), Ids{"tried"});
    // Helpers and terminal tools are applications only when started as such.
    EXPECT_TRUE(index.byProgram("helper").empty());
    EXPECT_TRUE(index.byProgram("htop").empty());
    EXPECT_NE(index.byId("helper"), nullptr);
    ASSERT_NE(index.byFlatpakId("org.x.Flat"), nullptr);
    EXPECT_EQ(index.byFlatpakId("org.x.Flat")->id, "org.x.Flat");
}

// Which files count as an entry's program: the one it names, or any of that name where it cannot
// know.
TEST_F(DesktopEntryIndexTest, AProgramIsTheFileItsEntryNames)
{
    const std::string elf("\x7f"
                          "ELF\x02\x01\x01",
                          7);
    const fs::path binary = write("opt/app/app-bin", elf, true);
    fs::create_directories(root / "bin");
    fs::create_symlink(binary, root / "bin/app");
    write("opt/script/launch", "#!/bin/sh\nexec /opt/elsewhere/launch \"$@\"\n", true);
    fs::create_symlink(root / "opt/script/launch", root / "bin/launch");
    const fs::path snap = write("usr/bin/snap", elf, true);
    fs::create_directories(root / "snap/bin");
    fs::create_symlink(snap, root / "snap/bin/snapped");
    const fs::path tool = write("opt/tool/tool.py", "print()\n");
    fs::create_symlink(tool, root / "opt/tool/current.py");
    write("apps/app.desktop", app("App", "app %U"));
    write("apps/absolute.desktop", app("Absolute", (root / "opt/app/app-bin").string()));
    write("apps/launch.desktop", app("Launch", "launch"));
    write("apps/snapped.desktop", app("Snapped", (root / "snap/bin/snapped").string()));
    write("apps/missing.desktop", app("Missing", "/opt/nowhere/missing"));
    write("apps/offpath.desktop", app("Off Path", "offpath"));
    write("apps/tool.desktop", app("Tool", "python3 " + (root / "opt/tool/current.py").string()));
    write("apps/relative.desktop", app("Relative", "python3 relative.py"));

    const DesktopEntryIndex index({{root / "apps"}, {root / "bin"}, "", "exitwise"});
    const std::pair<fs::path, Ids> cases[] = {
        // clang-format off
        {binary, Ids{"absolute", "app"}},
        {"/home/ann/copy/app-bin", Ids{}},
        {"/home/ann/copy/app", Ids{}},
        {root / "opt/script/launch", Ids{"launch"}},
        {"/opt/elsewhere/launch", Ids{"launch"}},     // a script starts whatever it likes
        {"/snap/snapped/12/usr/bin/snapped", Ids{"snapped"}}, // so does snap
        {"/opt/nowhere/missing", Ids{"missing"}},
        {"/opt/copy/missing", Ids{}},
        {"/usr/local/bin/offpath", Ids{"offpath"}},   // not on this path: perhaps on the launcher's
        {tool, Ids{"tool"}},
        {"/home/ann/current.py", Ids{}},
        {"/home/ann/relative.py", Ids{"relative"}},
        // clang-format on
    };
    for (const auto& [path, ids] : cases) {
        EXPECT_EQ(idsOf(index.byProgramPath(path.string())), ids) << path;
    }
}

TEST_F(DesktopEntryIndexTest, ReloadsWhenDirectoriesChange)
{
    // Past the file system's timestamp tick, so each change shows in the directory's time.
    auto nextTick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    write("sys/applications/a.desktop", app("A", "a"));
    DesktopEntryIndex index({{root / "home/applications", root / "sys/applications"}, {}, "", ""});
    EXPECT_FALSE(index.reloadIfChanged());

    nextTick();
    write("home/applications/b.desktop", app("B", "b")); // the directory appears
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_NE(index.byId("b"), nullptr);

    nextTick();
    write("sys/applications/vendor/c.desktop", app("C", "c"));
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_NE(index.byId("vendor-c"), nullptr);

    nextTick();
    fs::remove(root / "sys/applications/a.desktop");
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_EQ(index.byId("a"), nullptr);
}

TEST_F(DesktopEntryIndexTest, EnvironmentFollowsTheXdgRules)
{
    fs::create_directories(root / "data/flatpak/exports/share/applications");
    // Application directories | executable directories | messages locale. The system-wide
    // Flatpak and Snap directories depend on the machine and are left out.
    const auto read = [](std::map<std::string, std::string> variables) {
        const DesktopEntryEnvironment found =
            DesktopEntryEnvironment::fromEnvironment([&](const char* name) -> std::optional<std::string> {
                const auto it = variables.find(name);
                return it == variables.end() ? std::nullopt : std::optional(it->second);
            });
        std::string text;
        for (const fs::path& dir : found.applicationDirs) {
            text += dir.string().starts_with("/var/lib/") ? "" : dir.string() + " ";
        }
        text += "|";
        for (const fs::path& dir : found.executableDirs) {
            text += " " + dir.string();
        }
        return text + " | " + found.messagesLocale;
    };
    const std::string data = (root / "data").string();
    // clang-format off
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
        {{{"HOME", "/home/ann"}},
         "/home/ann/.local/share/applications /usr/local/share/applications /usr/share/applications "
         "| /usr/local/bin /usr/bin /bin | "},
        {{{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "relative/share"},
          {"XDG_DATA_DIRS", "/opt/share:relative::/usr/share/"}, {"PATH", "/opt/bin:bin"},
          {"LC_ALL", ""}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR.UTF-8"}},
         "/home/ann/.local/share/applications /opt/share/applications /usr/share/applications "
         "| /opt/bin | de_DE.UTF-8"},
        {{{"XDG_DATA_HOME", data}, {"XDG_DATA_DIRS", "/usr/share"}, {"LANG", "sv_SE"}},
         data + "/applications " + data + "/flatpak/exports/share/applications /usr/share/applications "
         "| /usr/local/bin /usr/bin /bin | sv_SE"},
    };
    // clang-format on
    for (const auto& [variables, expected] : cases) {
        EXPECT_EQ(read(variables), expected);
    }
}

} // namespace
} // namespace exitwise::platform
