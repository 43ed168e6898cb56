// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"

#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

// Sets (or unsets) an environment variable for one test and restores it afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        apply(value);
    }
    ~ScopedEnv() { apply(m_old); }

private:
    void apply(const std::optional<std::string>& value)
    {
        if (value) {
            setenv(m_name, value->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

class DataDirectory : public ::testing::Test
{
protected:
    QTemporaryDir m_temp;
    fs::path m_home = fs::path(m_temp.path().toStdString()) / "home dir";
    ScopedEnv m_homeEnv{"HOME", m_home.string()};
    ScopedEnv m_xdg{"XDG_DATA_HOME", std::nullopt};
};

mode_t permissions(const fs::path& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST_F(DataDirectory, OverrideExpandsTildeTrimsAndIsUsedWithoutSubdirectory)
{
    const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", " \t~/tmp/my data \n");
    const fs::path expected = m_home / "tmp" / "my data";
    EXPECT_FALSE(fs::exists(expected));
    EXPECT_EQ(resolveAppSupportDirectory(), expected);
    EXPECT_FALSE(fs::exists(expected)) << "resolving alone must not create it";

    EXPECT_EQ(appSupportDirectory(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(permissions(expected), 0700u);
    EXPECT_EQ(permissions(m_home / "tmp"), 0700u) << "created parents are private too";
    EXPECT_EQ(appSupportDirectory(), expected) << "idempotent";
}

TEST_F(DataDirectory, BlankOverrideFallsBackToTheStandardLocation)
{
    for (const char* blank : {"", "   ", "\n\t"}) {
        const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", blank);
        EXPECT_EQ(resolveAppSupportDirectory(), m_home / ".local" / "share" / "Exitwise")
            << '"' << blank << '"';
    }
}

TEST_F(DataDirectory, RelativeOverrideIsTakenFromTheWorkingDirectory)
{
    const fs::path previous = fs::current_path();
    fs::create_directories(m_home);
    fs::current_path(m_home);
    const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", "state/./exitwise/");
    const fs::path resolved = appSupportDirectory();
    fs::current_path(previous);
    EXPECT_EQ(resolved, m_home / "state" / "exitwise");
    EXPECT_TRUE(fs::is_directory(resolved));
}

TEST_F(DataDirectory, XdgDataHomeIsUsedOnlyWhenAbsolute)
{
    const ScopedEnv unset("EXITWISE_APP_SUPPORT_DIR", std::nullopt);
    {
        const ScopedEnv xdg("XDG_DATA_HOME", (m_home / "xdg").string());
        EXPECT_EQ(resolveAppSupportDirectory(), m_home / "xdg" / "Exitwise");
    }
    const ScopedEnv relative("XDG_DATA_HOME", "relative/xdg");
    EXPECT_EQ(resolveAppSupportDirectory(), m_home / ".local" / "share" / "Exitwise");
}

TEST_F(DataDirectory, ExistingDirectoryKeepsItsPermissions)
{
    const fs::path shared = m_home / "shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 0755);
    const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", shared.string());
    EXPECT_EQ(appSupportDirectory(), shared);
    EXPECT_EQ(permissions(shared), 0755u);
}

TEST(TildeExpansion, OnlyALeadingTildeIsExpanded)
{
    const ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(expandTilde("~"), fs::path("/home/ann"));
    EXPECT_EQ(expandTilde("~/"), fs::path("/home/ann"));
    EXPECT_EQ(expandTilde("~/a b"), fs::path("/home/ann/a b"));
    EXPECT_EQ(expandTilde("/x/~/y"), fs::path("/x/~/y"));
    EXPECT_EQ(expandTilde("~no-such-user-exitwise/x"), fs::path("~no-such-user-exitwise/x"));
}

} // namespace
} // namespace exitwise::app
