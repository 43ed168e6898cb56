// SPDX-License-Identifier: MIT
#include "platform/linux/XdgAutostartLoginItems.h"

#include "support/PlatformFixtures.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using app::LoginItemStatus;
using test::readFile;
using test::TempDir;
using test::writeTextFile;

TEST(XdgAutostartLoginItems, QuotesTheProgramAsExecRequires)
{
    // The program, and its Exec value as written in the file.
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/exitwise", "/usr/bin/exitwise"},
        {"/opt/My Apps/exitwise", R"("/opt/My Apps/exitwise")"},
        {"/opt/100%/exitwise", "/opt/100%%/exitwise"},
        {"/opt/it's/exitwise", R"("/opt/it's/exitwise")"},
        // Quoting escapes " ` $ \ with a backslash; the value escape then doubles every backslash.
        {R"(/opt/a"b`c$d\e/exitwise)", R"("/opt/a\\"b\\`c\\$d\\\\e/exitwise")"},
        {"/opt/tab\there", "\"/opt/tab\\there\""},
    };
    for (const auto& [program, exec] : cases) {
        EXPECT_EQ(detail::execValue(program), exec) << program;
    }
}

// How the status follows from it: with registering, below.
TEST(XdgAutostartLoginItems, ReadsWhetherTheUserSwitchedTheEntryOff)
{
    // clang-format off
    const std::pair<const char*, bool> cases[] = {
        {"Exec=exitwise\n",                                      false},
        {"Hidden=true\n",                                        true},
        {"Hidden = 1\n",                                         true},
        {"X-GNOME-Autostart-enabled=false\n",                    true},
        {"Hidden=true\nHidden=false\n",                          false}, // the last line wins
        {"#Hidden=true\n",                                       false},
        {"Exec=exitwise\n[Desktop Action quit]\nHidden=true\n", false},
        {"Hidden[de]=true\n",                                    false},
    };
    // clang-format on
    for (const auto& [lines, off] : cases) {
        EXPECT_EQ(detail::isSwitchedOff(std::string("[Desktop Entry]\nType=Application\n") + lines), off)
            << lines;
    }
}

TEST(XdgAutostartLoginItems, RegistersAndUnregisters)
{
    const TempDir home("exitwise-autostart");
    const fs::path directory = home.path() / "config" / "autostart"; // does not exist yet
    XdgAutostartLoginItems items("/opt/Exit Wise/exitwise", directory);
    EXPECT_EQ(items.entryPath(), directory / "exitwise.desktop");
    EXPECT_EQ(items.status(), LoginItemStatus::notRegistered);

    ASSERT_EQ(items.registerItem(), std::nullopt);
    EXPECT_EQ(items.status(), LoginItemStatus::enabled);
    // Started at login it stays in the tray; TryExec names the program alone.
    EXPECT_EQ(readFile(items.entryPath()), "[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Exitwise\n"
                                           "Comment=Explains why desktop applications closed\n"
                                           "Exec=\"/opt/Exit Wise/exitwise\" --background\n"
                                           "TryExec=/opt/Exit Wise/exitwise\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n");
    const fs::perms readWrite = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(items.entryPath()).permissions() & readWrite, readWrite);

    ASSERT_EQ(items.unregisterItem(), std::nullopt);
    EXPECT_FALSE(fs::exists(items.entryPath()));
    EXPECT_EQ(items.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(items.unregisterItem(), std::nullopt) << "removing what is already gone succeeds";

    // An entry the user switched off is switched back on.
    writeTextFile(items.entryPath(),
                  "[Desktop Entry]\nExec=/old/exitwise\nX-GNOME-Autostart-enabled=false\n");
    ASSERT_EQ(items.status(), LoginItemStatus::notRegistered);
    ASSERT_EQ(items.registerItem(), std::nullopt);
    EXPECT_EQ(items.status(), LoginItemStatus::enabled);
    EXPECT_NE(readFile(items.entryPath()).find("\nExec=\"/opt/Exit Wise/exitwise\" --background\n"),
              std::string::npos);
}

TEST(XdgAutostartLoginItems, ReportsWhatPreventsRegistering)
{
    const TempDir home("exitwise-autostart");
    writeTextFile(home.path() / "config", "a file where the directory should be");

    XdgAutostartLoginItems blocked("/usr/bin/exitwise", home.path() / "config" / "autostart");
    const auto error = blocked.registerItem();
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->message.find((home.path() / "config").string()), std::string::npos) << error->message;
    EXPECT_EQ(blocked.status(), LoginItemStatus::notRegistered);

    XdgAutostartLoginItems unknownProgram(fs::path(), home.path() / "autostart");
    EXPECT_TRUE(unknownProgram.registerItem().has_value());
    EXPECT_FALSE(fs::exists(unknownProgram.entryPath()));
}

TEST(XdgAutostartLoginItems, FindsTheAutostartDirectory)
{
    const test::ScopedEnvironment home("HOME", "/home/ann");
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "/home/ann/.config/autostart"},
        {"", "/home/ann/.config/autostart"},
        {"relative/config", "/home/ann/.config/autostart"},
        {"/srv/config", "/srv/config/autostart"},
    };
    for (const auto& [configHome, directory] : cases) {
        const test::ScopedEnvironment environment("XDG_CONFIG_HOME", configHome);
        EXPECT_EQ(XdgAutostartLoginItems::defaultAutostartDirectory(), fs::path(directory));
    }
}

} // namespace
} // namespace exitwise::platform
