// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopEntry.h"

#include "platform/linux/LaunchTarget.h"

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
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& word : c.argv) {
            line += word + " ";
        }
        EXPECT_EQ(resolveLaunchTarget(c.argv), c.target) << line;
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
