// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"

#include "support/StoreTesting.h"

#include <sys/stat.h>

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;
using test::modeOf;

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
        value ? ::setenv(m_name, value->c_str(), 1) : ::unsetenv(m_name);
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

class DataDirectory : public ::testing::Test
{
protected:
    test::TempDir m_temp{"exitwise-home"};
    fs::path m_home = m_temp.path() / "home dir";
    ScopedEnv m_homeEnv{"HOME", m_home.string()};
    ScopedEnv m_xdg{"XDG_DATA_HOME", std::nullopt};
};

TEST_F(DataDirectory, OverrideExpandsTildeTrimsAndIsUsedWithoutSubdirectory)
{
    const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", " \t~/tmp/my data \n");
    const fs::path expected = m_home / "tmp" / "my data";
    EXPECT_EQ(resolveAppSupportDirectory(), expected);
    EXPECT_FALSE(fs::exists(expected)) << "resolving alone must not create it";

    EXPECT_EQ(appSupportDirectory(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(modeOf(expected), 0700u);
    EXPECT_EQ(modeOf(m_home / "tmp"), 0700u) << "created parents are private too";
    EXPECT_EQ(appSupportDirectory(), expected) << "idempotent";
}

// A relative override is taken from the working directory. Without a usable override the data
// lives under an absolute XDG_DATA_HOME, else ~/.local/share.
TEST_F(DataDirectory, OtherwiseTheStandardLocationUnderAnAbsoluteXdgDataHome)
{
    using Value = std::optional<std::string>;
    const fs::path standard = m_home / ".local" / "share" / "Exitwise";
    // clang-format off
    const std::tuple<Value, Value, fs::path> cases[] = {
        {"state/./exitwise/", std::nullopt,              m_home / "state" / "exitwise"},
        {"",                  std::nullopt,              standard},
        {"   ",               std::nullopt,              standard},
        {"\n\t",              (m_home / "xdg").string(), m_home / "xdg" / "Exitwise"},
        {std::nullopt,        "relative/xdg",            standard},
    };
    // clang-format on
    const fs::path previous = fs::current_path();
    fs::create_directories(m_home);
    fs::current_path(m_home);
    for (const auto& [override, xdg, expected] : cases) {
        SCOPED_TRACE('"' + override.value_or("<unset>") + "\", " + xdg.value_or("<unset>"));
        const ScopedEnv overrideEnv("EXITWISE_APP_SUPPORT_DIR", override);
        const ScopedEnv xdgEnv("XDG_DATA_HOME", xdg);
        EXPECT_EQ(resolveAppSupportDirectory(), expected);
    }
    fs::current_path(previous);
}

TEST_F(DataDirectory, ExistingDirectoryKeepsItsPermissions)
{
    const fs::path shared = m_home / "shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 0755);
    const ScopedEnv env("EXITWISE_APP_SUPPORT_DIR", shared.string());
    EXPECT_EQ(appSupportDirectory(), shared);
    EXPECT_EQ(modeOf(shared), 0755u);
}

TEST(TildeExpansion, OnlyALeadingTildeIsExpanded)
{
    const ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(expandTilde("~"), fs::path("/home/ann"));
    EXPECT_EQ(expandTilde("~/"), fs::path("/home/ann"));
    EXPECT_EQ(expandTilde("/x/~/y"), fs::path("/x/~/y"));
    EXPECT_EQ(expandTilde("~no-such-user-exitwise/x"), fs::path("~no-such-user-exitwise/x"));
}

} // namespace
} // namespace exitwise::app
