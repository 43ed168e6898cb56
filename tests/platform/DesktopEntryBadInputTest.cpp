// SPDX-License-Identifier: MIT
// Desktop entries as any package or user may write them.

#include "platform/linux/DesktopEntry.h"
#include "platform/linux/LaunchTarget.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::platform {
namespace {

std::string regression(const std::string& name)
{
    std::ifstream in(std::filesystem::path(EXITWISE_TEST_DATA_DIR) / "regressions" / name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DesktopEntryBadInput, BrokenExecKeepsTheEntryAndItsName)
{
    for (const char* exec : {"\"unterminated %F", "'half quoted", "\"a\\\"", "\"\"\""}) {
        SCOPED_TRACE(exec);
        const auto entry = parseDesktopEntry(
            std::string("[Desktop Entry]\nType=Application\nName=Odd App\nExec=") + exec + "\nTryExec=odd\n",
            {});
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, "Odd App");
        EXPECT_TRUE(entry->exec.empty());
        EXPECT_EQ(entry->tryExec, "odd") << "keys after a broken Exec still count";
    }
    // Field codes with nothing to stand for leave no program behind rather than a bogus one.
    for (const char* exec : {"%", "%f", "\"\" %U"}) {
        const auto entry =
            parseDesktopEntry(std::string("[Desktop Entry]\nType=Application\nName=X\nExec=") + exec, {});
        ASSERT_TRUE(entry) << exec;
        EXPECT_FALSE(resolveLaunchTarget(entry->exec)) << exec;
    }
}

TEST(DesktopEntryBadInput, NamesLoseNulsAndControlsAndStayWithin1KiB)
{
    const std::string name = std::string("Ev\"il\\\u202E bad \xC3\x28 \x1B[31m nul") + '\0' + "end\\tx";
    const std::string text = "[Desktop Entry]\r\nType=Application\r\nName=" + name + "\r\nExec=odd\r\n";
    const auto entry = parseDesktopEntry(text, {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Ev\"il\\\u202E bad \xC3\x28  [31m nulend x")
        << "a NUL would cut the name short where it goes; other bytes are left to those places";
    EXPECT_EQ(entry->exec, std::vector<std::string>{"odd"});

    // No line ends at all, or nothing but a group header.
    EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]", {}));
    EXPECT_FALSE(parseDesktopEntry(std::string(100000, '['), {}));

    // A name fit for an argument list: 1 KiB, cut before a character that would straddle it.
    struct Case
    {
        std::string written;
        std::string kept;
    };
    // clang-format off
    const Case cases[] = {
        {std::string(1 << 20, 'x'),                  std::string(1024, 'x')},
        {std::string(1024, 'x'),                     std::string(1024, 'x')},
        {std::string(1023, 'x') + "\u00E9",          std::string(1023, 'x')},
        {std::string(1022, 'x') + "\u00E9",          std::string(1022, 'x') + "\u00E9"},
        {std::string(2000, '\0') + "App",            "App"},
        {std::string(2000, '\x80'),                  std::string(1021, '\x80')},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written.size());
        const auto parsed = parseDesktopEntry(
            "[Desktop Entry]\nType=Application\nName[de]=" + c.written + "\nName=x", {"de"});
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->name, c.kept);
    }
}

// Found by fuzzing a clang build: the wrapper tables held initializer_lists whose arrays did
// not outlive their construction, and looking through `env` read freed memory.
TEST(DesktopEntryBadInput, RegressionWrapperTable)
{
    const auto entry = parseDesktopEntry(regression("desktop_entry/wrapper-table.desktop"), {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Sketch \"Pad\" Pro");
    const auto target = resolveLaunchTarget(entry->exec);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->program, "/opt/sketch pad/bin/sketch");
    EXPECT_TRUE(isWrapperProgram("env"));
    EXPECT_TRUE(isWrapperProgram("python3.11"));
    EXPECT_FALSE(isWrapperProgram("sketch"));
}

} // namespace
} // namespace exitwise::platform
