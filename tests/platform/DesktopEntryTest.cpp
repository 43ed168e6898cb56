// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopEntry.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
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
    EXPECT_EQ(entry->icon, "");
    EXPECT_FALSE(entry->noDisplay);
    EXPECT_FALSE(entry->terminal);
}

TEST(DesktopEntry, RejectsWhatIsNoUsableApplication)
{
    const struct
    {
        const char* what;
        const char* text;
    } cases[] = {
        {"a link", "[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.org\n"},
        {"no type", "[Desktop Entry]\nName=Thing\nExec=thing\n"},
        {"hidden", "[Desktop Entry]\nType=Application\nName=Gone\nExec=gone\nHidden=true\n"},
        {"no entry group", "[Something Else]\nType=Application\nName=Thing\n"},
        {"binary junk", "\x7f"
                        "ELF\x02\x01\x01\0\0\0[\xff\xfe=\n==\n[Desktop Entry"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parseDesktopEntry(c.text, {})) << c.what;
    }
}

TEST(DesktopEntry, BrokenExecKeepsTheEntryWithoutAProgram)
{
    const std::optional<DesktopEntry> entry =
        parseDesktopEntry("[Desktop Entry]\nType=Application\nName=Odd\nExec=\"unterminated --flag\n", {});
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->exec.empty());
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
    const struct
    {
        const char* locale;
        const char* name;
    } cases[] = {
        {"sr_RS.UTF-8@latin", "sr_RS"}, // lang_COUNTRY beats lang@MODIFIER
        {"sr_ME@latin", "sr@latin"},    {"sr_ME", "sr"},      {"de_DE.UTF-8", "de"},
        {"de_AT.ISO-8859-1", "de_AT"},  {"fr_FR", "Default"}, {"fr_FR@euro", "fr@euro"},
        {"pt_BR.UTF-8", "Default"}, // an empty translation is no translation
        {"C.UTF-8", "Default"},         {"POSIX", "Default"}, {"", "Default"},
    };
    for (const auto& c : cases) {
        const std::optional<DesktopEntry> entry = parseDesktopEntry(file, localeFallbacks(c.locale));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, c.name) << c.locale;
    }
}

TEST(DesktopEntry, IconNameOfTheFileAtAPath)
{
    const std::filesystem::path directory =
        std::filesystem::path(::testing::TempDir()) / "desktop-entry-icons";
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    const auto write = [&](const char* name, const std::string& text) {
        std::ofstream(directory / name) << text;
        return directory / name;
    };
    const std::string head = "[Desktop Entry]\nType=Application\nName=App\nExec=app\n";
    const struct
    {
        const char* what;
        std::filesystem::path path;
        std::optional<std::string> icon;
    } cases[] = {
        {"theme name", write("themed.desktop", head + "Icon = org.example.App \n"), "org.example.App"},
        {"absolute path", write("path.desktop", head + "Icon=/opt/app/share/app icon.png\n"),
         "/opt/app/share/app icon.png"},
        {"action icon only", write("action.desktop", head + "[Desktop Action new]\nIcon=other\n"),
         std::nullopt},
        {"blank icon", write("blank.desktop", head + "Icon=   \n"), std::nullopt},
        {"hidden entry", write("hidden.desktop", head + "Hidden=true\nIcon=gone\n"), std::nullopt},
        {"missing file", directory / "missing.desktop", std::nullopt},
        {"directory", directory, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(desktopEntryIconName(c.path), c.icon) << c.what;
    }

    // A FIFO at the recorded path must not hang the caller.
    const std::filesystem::path fifo = directory / "fifo.desktop";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(desktopEntryIconName(fifo), std::nullopt);
    std::filesystem::remove_all(directory);
}

TEST(DesktopEntry, ExecSplitsQuotesEscapesAndFieldCodes)
{
    const struct
    {
        const char* exec;
        std::optional<Words> words;
    } cases[] = {
        {"foo %U", Words{"foo"}},
        {"foo --icon=%i %f --name=%c", Words{"foo", "--icon=", "--name="}},
        {"\"/opt/My App/app\" --percent=100%%", Words{"/opt/My App/app", "--percent=100%"}},
        {R"(sh -c "echo \"hi\" \$HOME \\ \`x\`")", Words{"sh", "-c", R"(echo "hi" $HOME \ `x`)"}},
        {"sh -c 'exec foo \"$@\"' sh %F", Words{"sh", "-c", "exec foo \"$@\"", "sh"}},
        {"  spaced\targs  ", Words{"spaced", "args"}},
        {"", Words{}},
        {"\"open", std::nullopt},
        {"'open", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitExec(c.exec), c.words) << c.exec;
    }
}

} // namespace
} // namespace exitwise::platform
