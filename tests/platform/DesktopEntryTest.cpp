// SPDX-License-Identifier: MIT
// Desktop entries, including as any package or user may write them.
#include "platform/linux/DesktopEntry.h"

#include "platform/linux/LaunchTarget.h"
#include "support/PlatformFixtures.h"

#include <sys/stat.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

using Words = std::vector<std::string>;

TEST(DesktopEntry, ParsesTheEntryGroupOnly)
{
    const std::optional<DesktopEntry> entry = parseDesktopEntry("# comment\n"
                                                                "[Desktop Entry]\n"
                                                                "Type = Application\n"
                                                                "Name=Text\\sEditor\n"
                                                                "Exec=gedit --new-window %U\n"
                                                                "TryExec=gedit\n"
                                                                "NoDisplay=false\n"
                                                                "X-Flatpak=org.gnome.gedit\n"
                                                                "\n"
                                                                "[Desktop Action new]\n"
                                                                "Name=New Window\n"
                                                                "Exec=other\n"
                                                                "NoDisplay=true\n",
                                                                {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Text Editor");
    EXPECT_EQ(entry->exec, (Words{"gedit", "--new-window"}));
    EXPECT_EQ(entry->tryExec, "gedit");
    EXPECT_EQ(entry->flatpakId, "org.gnome.gedit");
    EXPECT_FALSE(entry->noDisplay);
}

TEST(DesktopEntry, RejectsWhatIsNoUsableApplication)
{
    const std::pair<const char*, std::string> cases[] = {
        {"a link", "[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.org\n"},
        {"no type", "[Desktop Entry]\nName=Thing\nExec=thing\n"},
        {"hidden", "[Desktop Entry]\nType=Application\nName=Gone\nExec=gone\nHidden=true\n"},
        {"no entry group", "[Something Else]\nType=Application\nName=Thing\n"},
        {"binary junk", "\x7f"
                        "ELF\x02\x01\x01\0\0\0[\xff\xfe=\n==\n[Desktop Entry"},
        {"empty", ""},
        {"a group header only", "[Desktop Entry]"},
        {"no line end at all", std::string(100000, '[')},
    };
    for (const auto& [what, text] : cases) {
        EXPECT_FALSE(parseDesktopEntry(text, {})) << what;
    }
}

TEST(DesktopEntry, BrokenExecKeepsTheEntryAndItsName)
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
}

TEST(DesktopEntry, NameFollowsTheMessagesLocale)
{
    const std::string file = "[Desktop Entry]\nType=Application\nExec=x\n"
                             "Name=Default\n"
                             "Name[sr]=sr\n"
                             "Name[sr@latin]=sr@latin\n"
                             "Name[sr_RS]=sr_RS\n"
                             "Name[de]=de\n"
                             "Name[de_AT]=de_AT\n"
                             "Name[fr@euro]=fr@euro\n"
                             "Name[pt_BR]=\n";
    // The messages locale, and the name it reads.
    const std::pair<const char*, const char*> cases[] = {
        {"sr_RS.UTF-8@latin", "sr_RS"}, // lang_COUNTRY beats lang@MODIFIER
        {"sr_ME@latin", "sr@latin"},    {"sr_ME", "sr"},      {"de_DE.UTF-8", "de"},
        {"de_AT.ISO-8859-1", "de_AT"},  {"fr_FR", "Default"}, {"fr_FR@euro", "fr@euro"},
        {"pt_BR.UTF-8", "Default"}, // an empty translation is no translation
        {"C.UTF-8", "Default"},         {"POSIX", "Default"}, {"", "Default"},
    };
    for (const auto& [locale, name] : cases) {
        const std::optional<DesktopEntry> entry = parseDesktopEntry(file, localeFallbacks(locale));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, name) << locale;
    }
}

TEST(DesktopEntry, NamesLoseNulsAndControlsAndStayWithin1KiB)
{
    const std::string name = std::string("Ev\"il\\\u202E bad \xC3\x28 \x1B[31m nul") + '\0' + "end\\tx";
    const std::string text = "[Desktop Entry]\r\nType=Application\r\nName=" + name + "\r\nExec=odd\r\n";
    const auto entry = parseDesktopEntry(text, {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Ev\"il\\\u202E bad \xC3\x28  [31m nulend x")
        << "a NUL would cut the name short where it goes; other bytes are left to those places";
    EXPECT_EQ(entry->exec, std::vector<std::string>{"odd"});

    // A name fit for an argument list: 1 KiB, cut before a character that would straddle it.
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {std::string(1 << 20, 'x'),                  std::string(1024, 'x')},
        {std::string(1024, 'x'),                     std::string(1024, 'x')},
        {std::string(1023, 'x') + "\u00E9",          std::string(1023, 'x')},
        {std::string(1022, 'x') + "\u00E9",          std::string(1022, 'x') + "\u00E9"},
        {std::string(2000, '\0') + "App",            "App"},
        {std::string(2000, '\x80'),                  std::string(1021, '\x80')},
    };
    // clang-format on
    for (const auto& [written, kept] : cases) {
        SCOPED_TRACE(written.size());
        const auto parsed =
            parseDesktopEntry("[Desktop Entry]\nType=Application\nName[de]=" + written + "\nName=x", {"de"});
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->name, kept);
    }
}

TEST(DesktopEntry, IconNameOfTheFileAtAPath)
{
    const test::TempDir directory("exitwise-desktop-icons");
    const auto write = [&](const char* name, const std::string& text) {
        return test::writeTextFile(directory.path() / name,
                                   "[Desktop Entry]\nType=Application\nName=App\nExec=app\n" + text);
    };
    // A FIFO at the recorded path must not hang the caller.
    const std::filesystem::path fifo = directory.path() / "fifo.desktop";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct
    {
        const char* what;
        std::filesystem::path path;
        std::optional<std::string> icon;
    } cases[] = {
        {"theme name", write("themed.desktop", "Icon = org.example.App \n"), "org.example.App"},
        {"absolute path", write("path.desktop", "Icon=/opt/app/share/app icon.png\n"),
         "/opt/app/share/app icon.png"},
        {"blank icon", write("blank.desktop", "Icon=   \n"), std::nullopt},
        {"missing file", directory.path() / "missing.desktop", std::nullopt},
        {"directory", directory.path(), std::nullopt},
        {"fifo", fifo, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(desktopEntryIconName(c.path), c.icon) << c.what;
    }
}

TEST(DesktopEntry, ExecSplitsQuotesEscapesAndFieldCodes)
{
    const std::pair<const char*, std::optional<Words>> cases[] = {
        {"foo %U", Words{"foo"}},
        {"foo --icon=%i %f --name=%c", Words{"foo", "--icon=", "--name="}},
        {"\"/opt/My App/app\" --percent=100%%", Words{"/opt/My App/app", "--percent=100%"}},
        {R"(sh -c "echo \"hi\" \$HOME \\ \`x\`")", Words{"sh", "-c", R"(echo "hi" $HOME \ `x`)"}},
        {"sh -c 'exec foo \"$@\"' sh %F", Words{"sh", "-c", "exec foo \"$@\"", "sh"}},
        {"  spaced\targs  ", Words{"spaced", "args"}},
        {"", Words{}},
        // Field codes with nothing to stand for leave no program behind rather than a bogus one.
        {"%", Words{""}},
        {"%f", Words{}},
        {"\"\" %U", Words{""}},
        {"\"open", std::nullopt},
        {"'open", std::nullopt},
    };
    for (const auto& [exec, words] : cases) {
        EXPECT_EQ(splitExec(exec), words) << exec;
    }
}

// Found by fuzzing a clang build: the wrapper tables held initializer_lists whose arrays did
// not outlive their construction, and looking through `env` read freed memory.
TEST(DesktopEntry, RegressionWrapperTable)
{
    const auto entry = parseDesktopEntry(test::readFile(std::filesystem::path(EXITWISE_TEST_DATA_DIR)
                                                        / "regressions/desktop_entry/wrapper-table.desktop"),
                                         {});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Sketch \"Pad\" Pro");
    const auto target = resolveLaunchTarget(entry->exec);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->program, "/opt/sketch pad/bin/sketch");
}

} // namespace
} // namespace exitwise::platform
