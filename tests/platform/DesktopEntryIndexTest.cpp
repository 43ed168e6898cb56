// SPDX-License-Identifier: MIT
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

// A temporary tree to lay out directories of entries and programs in.
class TempTree : public test::TempDir
{
public:
    TempTree()
        : test::TempDir("exitwise-index")
    {}

    [[nodiscard]] const fs::path& root() const { return path(); }

    fs::path write(const fs::path& relative, const std::string& text, bool executable = false) const
    {
        const fs::path file = test::writeTextFile(root() / relative, text);
        if (executable) {
            chmod(file.c_str(), 0755);
        }
        return file;
    }
};

std::string app(const std::string& name, const std::string& exec, const std::string& extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
}

std::vector<std::string> idsFor(const DesktopEntryIndex& index, const std::string& program)
{
    std::vector<std::string> ids;
    for (const DesktopEntry* entry : index.byProgram(program)) {
        ids.push_back(entry->id);
    }
    return ids;
}

TEST(DesktopEntryIndex, FirstFileForAnIdDecides)
{
    TempTree tree;
    tree.write("home/applications/org.a.App.desktop", app("Home A", "a"));
    tree.write("sys/applications/org.a.App.desktop", app("System A", "a"));
    tree.write("sys/applications/kde/konsole.desktop", app("Konsole", "konsole"));
    tree.write("home/applications/masked.desktop", app("Masked", "masked", "Hidden=true\n"));
    tree.write("sys/applications/masked.desktop", app("Masked", "masked"));
    tree.write("home/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
    tree.write("sys/applications/link.desktop", app("Link App", "link-app"));
    tree.write("sys/applications/exitwise.desktop", app("Exitwise", "exitwise"));
    tree.write("sys/applications/uninstalled.desktop", app("Gone", "gone", "TryExec=/nonexistent/gone\n"));
    tree.write("sys/applications/notes.txt", app("Not An Entry", "notes"));

    const DesktopEntryIndex index(
        {{tree.root() / "home/applications", tree.root() / "sys/applications"}, {}, "", "exitwise"});

    // Masked, links, our own entry, uninstalled programs and other files are left out.
    std::vector<std::string> entries;
    for (const DesktopEntry& entry : index.entries()) {
        entries.push_back(entry.id + " " + entry.name + " " + fs::relative(entry.path, tree.root()).string());
    }
    EXPECT_EQ(entries,
              (std::vector<std::string>{"org.a.App Home A home/applications/org.a.App.desktop",
                                        "kde-konsole Konsole sys/applications/kde/konsole.desktop"}));
    EXPECT_EQ(index.byId("kde-konsole"), &index.entries()[1]);
    EXPECT_EQ(index.byId("masked"), nullptr);
    EXPECT_EQ(idsFor(index, "konsole"), (std::vector<std::string>{"kde-konsole"}));
    EXPECT_TRUE(idsFor(index, "link-app").empty());
}

TEST(DesktopEntryIndex, ProgramsAreFoundByEveryNameTheyRunUnder)
{
    TempTree tree;
    const fs::path real = tree.write("bin/real-editor", "#!/bin/true\n", true);
    fs::create_symlink(real, tree.root() / "bin/editor");
    tree.write("apps/editor.desktop", app("Editor", "editor %F"));
    tree.write("apps/shell.desktop", app("Shell", "bash"));
    tree.write("apps/tried.desktop", app("Tried", "launch-tried", "TryExec=" + real.string() + "\n"));
    tree.write("apps/helper.desktop", app("Helper", "/opt/helper/helper", "NoDisplay=true\n"));
    tree.write("apps/top.desktop", app("Top", "htop", "Terminal=true\n"));
    tree.write("apps/org.x.Flat.desktop", app("Flat", "/usr/bin/flatpak run --branch=stable org.x.Flat %U"));

    const DesktopEntryIndex index({{tree.root() / "apps"}, {tree.root() / "bin"}, "", "exitwise"});

    EXPECT_EQ(idsFor(index, "editor"), (std::vector<std::string>{"editor"}));
    EXPECT_EQ(idsFor(index, "real-editor"), (std::vector<std::string>{"editor", "tried"}));
    EXPECT_EQ(idsFor(index, "launch-tried"), (std::vector<std::string>{"tried"}));
    for (const char* wrapper : {"bash", "flatpak"}) {
        EXPECT_TRUE(idsFor(index, wrapper).empty()) << wrapper;
    }
    // Helpers and terminal tools are applications only when started as such.
    EXPECT_TRUE(idsFor(index, "helper").empty());
    EXPECT_TRUE(idsFor(index, "htop").empty());
    EXPECT_NE(index.byId("helper"), nullptr);
    ASSERT_NE(index.byFlatpakId("org.x.Flat"), nullptr);
    EXPECT_EQ(index.byFlatpakId("org.x.Flat")->id, "org.x.Flat");
}

// Which files count as an entry's program: the one it names, or any of that name where it cannot
// know.
TEST(DesktopEntryIndex, AProgramIsTheFileItsEntryNames)
{
    TempTree tree;
    const std::string elf("\x7f"
                          "ELF\x02\x01\x01",
                          7);
    const fs::path binary = tree.write("opt/app/app-bin", elf, true);
    fs::create_directories(tree.root() / "bin");
    fs::create_symlink(binary, tree.root() / "bin/app");
    tree.write("opt/script/launch", "#!/bin/sh\nexec /opt/elsewhere/launch \"$@\"\n", true);
    fs::create_symlink(tree.root() / "opt/script/launch", tree.root() / "bin/launch");
    const fs::path snap = tree.write("usr/bin/snap", elf, true);
    fs::create_directories(tree.root() / "snap/bin");
    fs::create_symlink(snap, tree.root() / "snap/bin/snapped");
    const fs::path tool = tree.write("opt/tool/tool.py", "print()\n");
    fs::create_symlink(tool, tree.root() / "opt/tool/current.py");
    tree.write("apps/app.desktop", app("App", "app %U"));
    tree.write("apps/absolute.desktop", app("Absolute", (tree.root() / "opt/app/app-bin").string()));
    tree.write("apps/launch.desktop", app("Launch", "launch"));
    tree.write("apps/snapped.desktop", app("Snapped", (tree.root() / "snap/bin/snapped").string()));
    tree.write("apps/missing.desktop", app("Missing", "/opt/nowhere/missing"));
    tree.write("apps/offpath.desktop", app("Off Path", "offpath"));
    tree.write("apps/tool.desktop", app("Tool", "python3 " + (tree.root() / "opt/tool/current.py").string()));
    tree.write("apps/relative.desktop", app("Relative", "python3 relative.py"));

    const DesktopEntryIndex index({{tree.root() / "apps"}, {tree.root() / "bin"}, "", "exitwise"});
    auto idsAt = [&](const fs::path& path) {
        std::vector<std::string> ids;
        for (const DesktopEntry* entry : index.byProgramPath(path.string())) {
            ids.push_back(entry->id);
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    using Ids = std::vector<std::string>;
    const std::pair<fs::path, Ids> cases[] = {
        // clang-format off
        {binary, Ids{"absolute", "app"}},
        {"/home/ann/copy/app-bin", Ids{}},
        {"/home/ann/copy/app", Ids{}},
        {tree.root() / "opt/script/launch", Ids{"launch"}},
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
        EXPECT_EQ(idsAt(path), ids) << path;
    }
}

TEST(DesktopEntryIndex, ReloadsWhenDirectoriesChange)
{
    // Past the file system's timestamp tick, so each change shows in the directory's time.
    auto nextTick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    TempTree tree;
    tree.write("sys/applications/a.desktop", app("A", "a"));
    DesktopEntryIndex index(
        {{tree.root() / "home/applications", tree.root() / "sys/applications"}, {}, "", ""});
    EXPECT_FALSE(index.reloadIfChanged());

    nextTick();
    tree.write("home/applications/b.desktop", app("B", "b")); // the directory appears
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_NE(index.byId("b"), nullptr);

    nextTick();
    tree.write("sys/applications/vendor/c.desktop", app("C", "c"));
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_NE(index.byId("vendor-c"), nullptr);

    nextTick();
    fs::remove(tree.root() / "sys/applications/a.desktop");
    EXPECT_TRUE(index.reloadIfChanged());
    EXPECT_EQ(index.byId("a"), nullptr);
}

TEST(DesktopEntryEnvironment, FollowsTheXdgRules)
{
    TempTree tree;
    fs::create_directories(tree.root() / "data/flatpak/exports/share/applications");
    auto environment = [&](std::map<std::string, std::string> variables) {
        DesktopEntryEnvironment result =
            DesktopEntryEnvironment::fromEnvironment([&](const char* name) -> std::optional<std::string> {
                const auto it = variables.find(name);
                return it == variables.end() ? std::nullopt : std::optional(it->second);
            });
        // The system-wide Flatpak and Snap directories depend on the machine.
        std::erase_if(result.applicationDirs,
                      [](const fs::path& dir) { return dir.string().starts_with("/var/lib/"); });
        return result;
    };
    using Paths = std::vector<fs::path>;

    const DesktopEntryEnvironment defaults = environment({{"HOME", "/home/ann"}});
    EXPECT_EQ(defaults.applicationDirs, (Paths{"/home/ann/.local/share/applications",
                                               "/usr/local/share/applications", "/usr/share/applications"}));
    EXPECT_EQ(defaults.executableDirs, (Paths{"/usr/local/bin", "/usr/bin", "/bin"}));
    EXPECT_EQ(defaults.messagesLocale, "");

    const DesktopEntryEnvironment relative =
        environment({{"HOME", "/home/ann"},
                     {"XDG_DATA_HOME", "relative/share"},
                     {"XDG_DATA_DIRS", "/opt/share:relative::/usr/share/"},
                     {"PATH", "/opt/bin:bin"},
                     {"LC_ALL", ""},
                     {"LC_MESSAGES", "de_DE.UTF-8"},
                     {"LANG", "fr_FR.UTF-8"}});
    EXPECT_EQ(relative.applicationDirs, (Paths{"/home/ann/.local/share/applications",
                                               "/opt/share/applications", "/usr/share/applications"}));
    EXPECT_EQ(relative.executableDirs, (Paths{"/opt/bin"}));
    EXPECT_EQ(relative.messagesLocale, "de_DE.UTF-8");

    const fs::path data = tree.root() / "data";
    const DesktopEntryEnvironment flatpak =
        environment({{"XDG_DATA_HOME", data.string()}, {"XDG_DATA_DIRS", "/usr/share"}, {"LANG", "sv_SE"}});
    EXPECT_EQ(flatpak.applicationDirs,
              (Paths{data / "applications", data / "flatpak/exports/share/applications",
                     "/usr/share/applications"}));
    EXPECT_EQ(flatpak.messagesLocale, "sv_SE");
}

} // namespace
} // namespace exitwise::platform
