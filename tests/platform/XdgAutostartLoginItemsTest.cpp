// SPDX-License-Identifier: MIT
#include "platform/linux/XdgAutostartLoginItems.h"

#include "app/RecordFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using app::LoginItemStatus;

class TemporaryDirectory
{
public:
    TemporaryDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "exitwise-autostart-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() { fs::remove_all(m_path); }
    [[nodiscard]] const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

std::string readText(const fs::path& path)
{
    const auto contents = app::records::readFile(path);
    return contents ? contents.value() : std::string();
}

void writeText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// Restores an environment variable when the test ends.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(XdgAutostartLoginItems, QuotesTheProgramAsExecRequires)
{
    struct Case
    {
        const char* program;
        const char* exec; // as written in the file
    };
    const Case cases[] = {
        {"/usr/bin/exitwise", "/usr/bin/exitwise"},
        {"/opt/My Apps/exitwise", R"("/opt/My Apps/exitwise")"},
        {"/opt/100%/exitwise", "/opt/100%%/exitwise"},
        {"/opt/it's/exitwise", R"("/opt/it's/exitwise")"},
        // Quoting escapes " ` $ \ with a backslash; the value escape then doubles every backslash.
        {R"(/opt/a"b`c$d\e/exitwise)", R"("/opt/a\\"b\\`c\\$d\\\\e/exitwise")"},
        {"/opt/tab\there", "\"/opt/tab\\there\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(detail::execValue(c.program), c.exec);
    }
}

TEST(XdgAutostartLoginItems, ReadsWhetherTheUserSwitchedTheEntryOff)
{
    struct Case
    {
        const char* name;
        const char* lines; // after the group header
        LoginItemStatus status;
    };
    const Case cases[] = {
        {"plain", "Exec=exitwise\n", LoginItemStatus::enabled},
        {"hidden", "Hidden=true\n", LoginItemStatus::notRegistered},
        {"hidden with spaces", "Hidden = true\n", LoginItemStatus::notRegistered},
        {"hidden as 1", "Hidden=1\n", LoginItemStatus::notRegistered},
        {"not hidden", "Hidden=false\n", LoginItemStatus::enabled},
        {"gnome disabled", "X-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
        {"gnome enabled", "X-GNOME-Autostart-enabled=true\n", LoginItemStatus::enabled},
        {"last line wins", "Hidden=true\nHidden=false\n", LoginItemStatus::enabled},
        {"comment", "#Hidden=true\n", LoginItemStatus::enabled},
        {"other group", "Exec=exitwise\n[Desktop Action quit]\nHidden=true\n", LoginItemStatus::enabled},
        {"localised key", "Hidden[de]=true\n", LoginItemStatus::enabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory home;
        XdgAutostartLoginItems items("/usr/bin/exitwise", home.path());
        writeText(items.entryPath(), std::string("[Desktop Entry]\nType=Application\n") + c.lines);

        EXPECT_EQ(items.status(), c.status);
    }
}

TEST(XdgAutostartLoginItems, RegistersAndUnregisters)
{
    TemporaryDirectory home;
    const fs::path directory = home.path() / "config" / "autostart"; // does not exist yet
    XdgAutostartLoginItems items("/opt/Exit Wise/exitwise", directory);
    EXPECT_EQ(items.entryPath(), directory / "exitwise.desktop");
    EXPECT_EQ(items.status(), LoginItemStatus::notRegistered);

    ASSERT_EQ(items.registerItem(), std::nullopt);
    EXPECT_EQ(items.status(), LoginItemStatus::enabled);
    const std::string entry = readText(items.entryPath());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nName=Exitwise\n"), std::string::npos);
    // Started at login it stays in the tray; TryExec names the program alone.
    EXPECT_NE(entry.find("\nExec=\"/opt/Exit Wise/exitwise\" --background\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nTryExec=/opt/Exit Wise/exitwise\n"), std::string::npos);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(items.entryPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0600, 0600u);

    ASSERT_EQ(items.registerItem(), std::nullopt);
    EXPECT_EQ(items.status(), LoginItemStatus::enabled);

    ASSERT_EQ(items.unregisterItem(), std::nullopt);
    EXPECT_FALSE(fs::exists(items.entryPath()));
    EXPECT_EQ(items.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(items.unregisterItem(), std::nullopt) << "removing what is already gone succeeds";
}

TEST(XdgAutostartLoginItems, RegisteringSwitchesADisabledEntryBackOn)
{
    TemporaryDirectory home;
    XdgAutostartLoginItems items("/usr/bin/exitwise", home.path());
    writeText(items.entryPath(), "[Desktop Entry]\nExec=/old/exitwise\nX-GNOME-Autostart-enabled=false\n");
    ASSERT_EQ(items.status(), LoginItemStatus::notRegistered);

    ASSERT_EQ(items.registerItem(), std::nullopt);

    EXPECT_EQ(items.status(), LoginItemStatus::enabled);
    EXPECT_NE(readText(items.entryPath()).find("\nExec=/usr/bin/exitwise --background\n"), std::string::npos);
}

TEST(XdgAutostartLoginItems, ReportsWhatPreventsRegistering)
{
    TemporaryDirectory home;
    writeText(home.path() / "config", "a file where the directory should be");

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
    const ScopedEnvironment home("HOME", "/home/ann");
    struct Case
    {
        const char* configHome;
        const char* directory;
    };
    const Case cases[] = {
        {nullptr, "/home/ann/.config/autostart"},
        {"", "/home/ann/.config/autostart"},
        {"relative/config", "/home/ann/.config/autostart"},
        {"/srv/config", "/srv/config/autostart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configHome ? c.configHome : "unset");
        const ScopedEnvironment configHome("XDG_CONFIG_HOME", c.configHome);
        EXPECT_EQ(XdgAutostartLoginItems::defaultAutostartDirectory(), fs::path(c.directory));
    }
}

} // namespace
} // namespace exitwise::platform
