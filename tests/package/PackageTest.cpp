// SPDX-License-Identifier: MIT
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
    std::vector<std::string> files = {
        "/usr/bin/exitwise",
        "/usr/bin/exitwise-log",
        "/usr/lib/systemd/user/exitwise-watch.service",
        "/usr/share/applications/exitwise.desktop",
        "/usr/share/bash-completion/completions/exitwise",
        "/usr/share/doc/exitwise/copyright",
        "/usr/share/fish/vendor_completions.d/exitwise.fish",
        "/usr/share/icons/hicolor/scalable/apps/exitwise.svg",
        "/usr/share/icons/hicolor/symbolic/apps/exitwise-paused-symbolic.svg",
        "/usr/share/icons/hicolor/symbolic/apps/exitwise-symbolic.svg",
        "/usr/share/metainfo/io.github.exitwise.Exitwise.metainfo.xml",
        "/usr/share/zsh/vendor-completions/_exitwise",
    };
    if (EXITWISE_HAS_MAN_PAGE) {
        files.push_back("/usr/share/man/man1/exitwise.1.gz");
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The build installed once with `cmake --install --prefix /usr --strip` into a temporary root,
// shared by the tests of one suite.
class InstalledTree
{
public:
    InstalledTree()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "exitwise-package-XXXXXX").string();
        m_base = ::mkdtemp(pattern.data());
        m_root = m_base / "root";
        const CommandOutcome install =
            runCommand("DESTDIR=" + shellQuoted(m_root.string()) + " cmake --install "
                       + shellQuoted(EXITWISE_BUILD_DIR) + " --prefix /usr --strip 2>&1");
        m_log = install.out;
        m_ok = install.status == 0;
    }
    ~InstalledTree() { std::filesystem::remove_all(m_base); }
    InstalledTree(const InstalledTree&) = delete;
    InstalledTree& operator=(const InstalledTree&) = delete;

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] const std::string& log() const { return m_log; }
    [[nodiscard]] const std::filesystem::path& root() const { return m_root; }
    // A path beside the root, for what a test makes from it; removed with the tree.
    [[nodiscard]] std::filesystem::path scratch(const std::string& name) const { return m_base / name; }
    // `/usr/...` inside the temporary root.
    [[nodiscard]] std::filesystem::path path(const std::string& absolute) const
    {
        return m_root.string() + absolute;
    }

private:
    std::filesystem::path m_base;
    std::filesystem::path m_root;
    std::string m_log;
    bool m_ok = false;
};

// Whether `tool` is on the PATH.
bool haveTool(const std::string& tool)
{
    return runCommand("command -v " + shellQuoted(tool) + " >/dev/null 2>&1").status == 0;
}

class InstalledPackageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_tree = new InstalledTree; }
    static void TearDownTestSuite()
    {
        delete s_tree;
        s_tree = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_tree->ok()) << s_tree->log(); }

    static InstalledTree* s_tree;
};

InstalledTree* InstalledPackageTest::s_tree = nullptr;

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

TEST_F(InstalledPackageTest, InstallsExactlyTheShippedFiles)
{
    EXPECT_EQ(filesUnder(s_tree->root()), expectedInstalledFiles());
}

// Not enabled by installing: the exact file list has no link into a target's wants.
TEST_F(InstalledPackageTest, UserUnitRunsTheInstalledWatcher)
{
    const std::string unit = readFile(s_tree->path("/usr/lib/systemd/user/exitwise-watch.service"));
    EXPECT_NE(unit.find("\nExecStart=/usr/bin/exitwise watch\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\n[Install]\nWantedBy=default.target\n"), std::string::npos) << unit;
}

TEST_F(InstalledPackageTest, MetainfoNamesTheInstalledDesktopEntryAndThisVersion)
{
    const std::string metainfo =
        readFile(s_tree->path("/usr/share/metainfo/io.github.exitwise.Exitwise.metainfo.xml"));
    EXPECT_NE(metainfo.find("<id>io.github.exitwise.Exitwise</id>"), std::string::npos);
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">exitwise.desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(metainfo.find("<release version=\"" EXITWISE_VERSION "\" date=\"20"), std::string::npos)
        << metainfo;
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
    const std::string errors = s_tree->scratch("errors").string();
    const CommandOutcome outcome = runCommand("ROOT=" + shellQuoted(s_tree->root().string()) + "; ("
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
    const std::string directory = s_tree->scratch("deb").string();
    const CommandOutcome cpack = runCommand(
        "cpack -G DEB -B " + shellQuoted(directory) + " --config "
        + shellQuoted(EXITWISE_BUILD_DIR "/CPackConfig.cmake") + " -D CPACK_INSTALL_CMAKE_PROJECTS= -D "
        + shellQuoted("CPACK_INSTALLED_DIRECTORIES=" + s_tree->root().string() + ";.") + " 2>&1");
    ASSERT_EQ(cpack.status, 0) << cpack.out;
    std::vector<std::string> debs;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension() == ".deb") {
            debs.push_back(entry.path().string());
        }
    }
    ASSERT_EQ(debs.size(), 1U) << cpack.out;
    const std::string& deb = debs.front();
    EXPECT_EQ(std::filesystem::path(deb).filename().string().rfind("exitwise_" EXITWISE_VERSION "_", 0), 0U)
        << deb;

    EXPECT_EQ(controlFields(deb, "Package Section Recommends"),
              "Package: exitwise\nSection: utils\nRecommends: systemd-coredump\n");
    const std::string depends = controlFields(deb, "Depends");
    for (const char* package :
         {"libqt6core6", "libqt6widgets6", "libqt6svg6", "libsystemd0", "libutf8proc2"}) {
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
    }
    EXPECT_NE(controlFields(deb, "Description").find("\n ."), std::string::npos) << "no long description";
}

} // namespace
} // namespace exitwise::test
