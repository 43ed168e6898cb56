// SPDX-License-Identifier: MIT
// What the package ships: the installed tree, its validity, the .deb and the shell completions.
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace exitwise::test {
namespace {

// Every file the build installs under /usr, sorted; the man page only when scdoc built it.
std::vector<std::string> expectedInstalledFiles()
{
    std::vector<std::string> files =
        nonEmptyLines(readFile(EXITWISE_TEST_DATA_DIR "/package/installed-files.txt"));
    if (!EXITWISE_HAS_MAN_PAGE) {
        std::erase(files, "/usr/share/man/man1/exitwise.1.gz");
    }
    return files;
}

// Files and symlinks under `root`, as absolute paths inside it, sorted.
std::vector<std::string> filesUnder(const std::filesystem::path& root)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_directory()) {
            files.push_back("/" + entry.path().lexically_relative(root).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool haveTool(const std::string& tool)
{
    return runCommand("command -v " + shellQuoted(tool) + " >/dev/null 2>&1").status == 0;
}

// The build installed once with `cmake --install --prefix /usr --strip` into a temporary root,
// shared by the tests of one suite.
class InstalledPackageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_base = new TempDir("exitwise-package");
        s_install = runCommand("DESTDIR=" + shellQuoted(root().string()) + " cmake --install "
                               + shellQuoted(EXITWISE_BUILD_DIR) + " --prefix /usr --strip 2>&1");
    }
    static void TearDownTestSuite()
    {
        delete s_base;
        s_base = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_install.status, 0) << s_install.out; }

    static std::filesystem::path root() { return s_base->path() / "root"; }
    // A path beside the root, for what a test makes from it; removed with the tree.
    static std::filesystem::path scratch(const std::string& name) { return s_base->path() / name; }
    // `/usr/...` inside the temporary root.
    static std::string installed(const std::string& absolute) { return readFile(root().string() + absolute); }

    static inline TempDir* s_base = nullptr;
    static inline CommandOutcome s_install;
};

// The unit is not enabled by installing: the exact file list has no link into a target's wants.
TEST_F(InstalledPackageTest, InstallsExactlyTheShippedFilesNamingEachOther)
{
    EXPECT_EQ(filesUnder(root()), expectedInstalledFiles());
    const std::string unit = "/usr/lib/systemd/user/exitwise-watch.service";
    const std::string metainfo = "/usr/share/metainfo/io.github.exitwise.Exitwise.metainfo.xml";
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> expected = {
        {unit,     "\nExecStart=/usr/bin/exitwise watch\n"},
        {unit,     "\n[Install]\nWantedBy=default.target\n"},
        {metainfo, "<id>io.github.exitwise.Exitwise</id>"},
        {metainfo, "<launchable type=\"desktop-id\">exitwise.desktop</launchable>"},
        {metainfo, "<release version=\"" EXITWISE_VERSION "\" date=\"20"},
    };
    // clang-format on
    for (const auto& [file, text] : expected) {
        EXPECT_NE(installed(file).find(text), std::string::npos) << text << " in\n" << installed(file);
    }
}

struct Validation
{
    const char* name;
    const char* tool;
    // Run with the temporary root in $ROOT; must exit 0 and print nothing on standard error.
    const char* commandLine;
};

class ValidationTest : public InstalledPackageTest, public ::testing::WithParamInterface<Validation>
{
};

// The user unit is verified as a system unit: `--user` needs a running user manager.
// clang-format off
const Validation kValidations[] = {
    {"DesktopEntry", "desktop-file-validate", "desktop-file-validate \"$ROOT/usr/share/applications/exitwise.desktop\""},
    {"Metainfo", "appstreamcli", "appstreamcli validate --no-net \"$ROOT/usr/share/metainfo/io.github.exitwise.Exitwise.metainfo.xml\" >/dev/null"},
    {"ManPage", "groff", "test -f \"$ROOT/usr/share/man/man1/exitwise.1.gz\" && gzip -dc \"$ROOT/usr/share/man/man1/exitwise.1.gz\" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z"},
    {"UserUnit", "systemd-analyze", "d=$(mktemp -d) && sed \"s|^ExecStart=/|ExecStart=$ROOT/|\" \"$ROOT/usr/lib/systemd/user/exitwise-watch.service\" >\"$d/exitwise-watch.service\" && systemd-analyze verify --man=no \"$d/exitwise-watch.service\"; status=$?; rm -rf \"$d\"; exit $status"},
};
// clang-format on

TEST_P(ValidationTest, PassesTheDistributionsChecker)
{
    const Validation& validation = GetParam();
    if (!haveTool(validation.tool)) {
        GTEST_SKIP() << validation.tool << " is not installed";
    }
    if (std::string(validation.name) == "ManPage" && !EXITWISE_HAS_MAN_PAGE) {
        GTEST_SKIP() << "scdoc is not installed: no man page was built";
    }
    const std::string errors = scratch("errors").string();
    const CommandOutcome outcome = runCommand("ROOT=" + shellQuoted(root().string()) + "; ("
                                              + validation.commandLine + ") 2>" + shellQuoted(errors));
    const std::string stderrText = readFile(errors);
    EXPECT_EQ(outcome.status, 0) << outcome.out << stderrText;
    EXPECT_EQ(stderrText, "");
}

INSTANTIATE_TEST_SUITE_P(Shipped, ValidationTest, ::testing::ValuesIn(kValidations), [](const auto& info) {
    return std::string(info.param.name);
});

// The lines of `dpkg-deb -f` for these fields.
std::string controlFields(const std::string& deb, const std::string& fields)
{
    return runCommand("dpkg-deb -f " + shellQuoted(deb) + " " + fields).out;
}

// CPack's package of the installed tree. CPack would first build every target of this tree,
// tests included: handing it the installed files keeps the test fast.
TEST_F(InstalledPackageTest, DebDeclaresItsDependencies)
{
    if (!haveTool("cpack") || !haveTool("dpkg-shlibdeps")) {
        GTEST_SKIP() << "cpack or dpkg-shlibdeps (package dpkg-dev) is not installed";
    }
    const std::string directory = scratch("deb").string();
    const CommandOutcome cpack = runCommand(
        "cpack -G DEB -B " + shellQuoted(directory) + " --config "
        + shellQuoted(EXITWISE_BUILD_DIR "/CPackConfig.cmake") + " -D CPACK_INSTALL_CMAKE_PROJECTS= -D "
        + shellQuoted("CPACK_INSTALLED_DIRECTORIES=" + root().string() + ";.") + " 2>&1");
    ASSERT_EQ(cpack.status, 0) << cpack.out;
    const auto debs = nonEmptyLines(runCommand("ls " + shellQuoted(directory) + "/*.deb").out);
    ASSERT_EQ(debs.size(), 1U) << cpack.out;
    const std::string& deb = debs.front();
    EXPECT_EQ(std::filesystem::path(deb).filename().string().rfind("exitwise_" EXITWISE_VERSION "_", 0), 0U)
        << deb;

    EXPECT_EQ(controlFields(deb, "Package Section Recommends"),
              "Package: exitwise\nSection: utils\nRecommends: systemd-coredump\n");
    const std::string depends = controlFields(deb, "Depends");
    for (const char* package :
         {"libqt6core6", "libqt6widgets6", "libqt6svg6", "libsystemd0", "libutf8proc2", "libsimdjson14"}) {
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
    }
}

// The shell completions, from the source tree.
const std::string kCompletions = EXITWISE_SOURCE_DIR "/data/completions/";

struct Completion
{
    const char* shell;
    const char* line; // what is typed; the word being completed is the part after the last space
    const char* offered;
};

// clang-format off
const Completion kCompletionLines[] = {
    {"bash", "exitwise ", "list show export diagnose watch version"},
    {"bash", "exitwise --", "--background --version --help"},
    {"bash", "exitwise list --", "--since --until --app --state --limit --no-legend --json --help"},
    {"bash", "exitwise list --state ", "crash killed clean blocked"},
    {"bash", "exitwise list --since ", "today yesterday"},
    {"bash", "exitwise list --limit ", ""},
    {"bash", "exitwise show ", "latest"},
    {"bash", "exitwise export --format ", "csv json"},
    {"bash", "exitwise diagnose --", "--input --collect --report-dir --journal-dir --help"},
    {"bash", "exitwise watch --", "--json --no-journal-entry --help"},
    {"bash", "exitwise version --", "--help"},
    {"fish", "exitwise ", "diagnose export list show version watch"},
    {"fish", "exitwise list --state ", "blocked clean crash killed"},
    {"fish", "exitwise watch --no", "--no-journal-entry"},
};
// clang-format on

class CompletionTest : public ::testing::TestWithParam<Completion>
{
};

// Bash: the completion function called as on Tab, with the line split into COMP_WORDS. Fish: its
// own `complete -C`, descriptions cut off.
TEST_P(CompletionTest, OffersTheWordsThatFit)
{
    const Completion& completion = GetParam();
    if (!haveTool(completion.shell)) {
        GTEST_SKIP() << completion.shell << " is not installed";
    }
    const std::string line = completion.line;
    const bool bash = std::string(completion.shell) == "bash";
    const std::string script =
        bash ? "source " + shellQuoted(kCompletions + "exitwise.bash") + "\n" + "read -ra COMP_WORDS <<< "
                   + shellQuoted(line) + "\n" + (line.back() == ' ' ? "COMP_WORDS+=('')\n" : "")
                   + "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=" + shellQuoted(line) + "\n"
                   + "complete -p exitwise\n_exitwise\necho \"${COMPREPLY[*]}\"\n"
             : "source " + shellQuoted(kCompletions + "exitwise.fish") + "; complete -C " + shellQuoted(line)
                   + " | string replace -r '\\t.*' '' | string join ' '";
    const CommandOutcome outcome =
        runCommand((bash ? "bash -c " : "fish --no-config -c ") + shellQuoted(script) + " 2>&1");
    EXPECT_EQ(outcome.out,
              (bash ? "complete -F _exitwise exitwise\n" : "") + std::string(completion.offered) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, CompletionTest, ::testing::ValuesIn(kCompletionLines));

TEST(ZshCompletionTest, LoadsAsACompletionFunction)
{
    if (!haveTool("zsh")) {
        GTEST_SKIP() << "zsh is not installed";
    }
    // compinit reads the #compdef line: the function must end up bound to the command.
    const std::string script = "fpath=(" + shellQuoted(kCompletions) + " $fpath); autoload -U compinit; "
                               + "compinit -u -D; print -r -- $_comps[exitwise]; autoload +X _exitwise && "
                               + "print -r -- ${+functions[_exitwise]}";
    const CommandOutcome outcome = runCommand("zsh -f -c " + shellQuoted(script) + " 2>&1");
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(outcome.out, "_exitwise\n1\n");
}

} // namespace
} // namespace exitwise::test
