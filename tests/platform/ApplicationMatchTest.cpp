// SPDX-License-Identifier: MIT
#include "platform/linux/ApplicationMatch.h"

#include <QTemporaryDir>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;

std::string scopeOf(const std::string& id)
{
    return "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-" + id + "-4711.scope\n";
}

// Which entry each process is taken for, from what the kernel says of it.
TEST(ApplicationMatch, EachWayAProcessNamesItsApplication)
{
    QTemporaryDir temp;
    const fs::path root = temp.path().toStdString();
    const auto write = [&root](const fs::path& relative, const std::string& text) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
        ::chmod((root / relative).c_str(), 0755);
    };
    const auto entry = [&write](const std::string& id, const std::string& exec,
                                const std::string& extra = {}) {
        write("applications/" + id + ".desktop",
              "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\n" + extra);
    };
    write("bin/editor", "");
    write("bin/office", "");
    entry("org.ex.Editor", "editor %F");
    entry("org.ex.Writer", "office --writer %U");
    entry("org.ex.Calc", "office --calc %U");
    entry("org.ex.Flat", "flatpak run org.ex.Flat", "X-Flatpak=org.ex.Flat\n");
    entry("org.ex.Scoped", "scoped-tool");
    const DesktopEntryIndex index(
        DesktopEntryEnvironment{{root / "applications"}, {root / "bin"}, "", "exitwise"});
    const std::string editor = (root / "bin/editor").string();
    const std::string office = (root / "bin/office").string();

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
        {"its executable",                 editor,            {},                                       "",                        "org.ex.Editor"},
        {"a copy elsewhere is another",    "/opt/editor",     {"/opt/editor"},                          "",                        std::nullopt},
        {"exe unreadable: command line",   std::nullopt,      {editor, "a.txt"},                        "",                        "org.ex.Editor"},
        {"through a wrapper",              "/usr/bin/env",    {"env", "A=1", "editor", "a.txt"},        "",                        "org.ex.Editor"},
        {"shared program: the arguments",  office,            {office, "--calc", "b.ods"},              "",                        "org.ex.Calc"},
        {"shared program: the unit first", office,            {office, "--calc"},                       scopeOf("org.ex.Writer"),  "org.ex.Writer"},
        {"a Flatpak application",          "/usr/bin/flatpak", {"flatpak", "run", "org.ex.Flat"},       "",                        "org.ex.Flat"},
        {"only its unit names it",         "/usr/bin/python3", {"python3"},                             scopeOf("org.ex.Scoped"),  "org.ex.Scoped"},
        {"nothing names it",               "/usr/bin/python3", {"python3"},                             "",                        std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessView process{c.executable, [&c] { return c.commandLine; }, [&c] { return c.cgroup; }};
        EXPECT_EQ(matchApplication(index, process), c.expected);
    }

    // A program that decides alone: neither the command line nor the unit is read.
    int reads = 0;
    const ProcessView decided{editor,
                              [&reads] {
                                  ++reads;
                                  return std::vector<std::string>{};
                              },
                              [&reads] {
                                  ++reads;
                                  return std::string();
                              }};
    EXPECT_EQ(matchApplication(index, decided), "org.ex.Editor");
    EXPECT_EQ(reads, 0);
}

} // namespace
} // namespace exitwise::platform
