// SPDX-License-Identifier: MIT
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace exitwise::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RecorderClaim : public ::testing::Test
{
protected:
    RecorderClaim()
        : m_root(fs::path(::testing::TempDir()) / ("recorder-claim-" + std::to_string(::getpid())))
    {
        fs::remove_all(m_root);
        fs::create_directories(data());
        setenv("EXITWISE_APP_SUPPORT_DIR", data().c_str(), 1);
        setenv("EXITWISE_JOURNAL_DIR", (m_root / "no-journal").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
    }
    ~RecorderClaim() override
    {
        for (pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(m_root);
    }

    [[nodiscard]] fs::path data() const { return m_root / "data"; }

    // `exitwise watch` in the background, holding the data directory once it says so.
    pid_t startWatch()
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        char bin[] = EXITWISE_BIN;
        char watch[] = "watch";
        char noJournal[] = "--no-journal-entry";
        char* argv[] = {bin, watch, noJournal, nullptr};
        pid_t pid = -1;
        posix_spawn(&pid, bin, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (pid > 0) {
            m_started.push_back(pid);
        }
        return pid;
    }

    bool holds(pid_t pid) const
    {
        return waitFor([&] { return readFile(data() / "recorder.lock") == holder(pid) + "\n"; }, 10s);
    }

    static std::string holder(pid_t pid) { return "exitwise watch, pid " + std::to_string(pid); }

    std::optional<int> stop(pid_t pid)
    {
        ::kill(pid, SIGTERM);
        const std::optional<int> status = waitForExit(pid, 10s);
        if (status) {
            std::erase(m_started, pid);
        }
        return status;
    }

    static CommandOutcome run(const std::string& arguments)
    {
        return runCommand(std::string(EXITWISE_BIN) + " " + arguments + " 2>&1");
    }

private:
    fs::path m_root;
    std::vector<pid_t> m_started;
};

TEST_F(RecorderClaim, SecondWatchOnOneDirectoryExitsNamingTheFirst)
{
    const pid_t first = startWatch();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(holds(first)) << readFile(data() / "recorder.lock");

    const CommandOutcome second = run("watch --no-journal-entry");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "exitwise: another recorder already records into " + data().string() + " ("
                              + holder(first) + "); stop it first\n");
    // Readers never need the lock.
    EXPECT_EQ(run("list").status, 0);

    ASSERT_EQ(stop(first), 0);
    const pid_t next = startWatch();
    ASSERT_GT(next, 0);
    EXPECT_TRUE(holds(next)) << "the directory is free once the first stopped";
    EXPECT_EQ(stop(next), 0);
}

TEST_F(RecorderClaim, WatchRefusesADataDirectorySomeoneElseOwns)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a directory to another user";
    }
    ::chmod(data().c_str(), 0777);
    ASSERT_EQ(::chown(data().c_str(), 65534, 65534), 0);

    const CommandOutcome outcome = run("watch --no-journal-entry");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "exitwise: " + data().string()
                               + " is owned by uid 65534, not you; remove it or set EXITWISE_APP_SUPPORT_DIR "
                                 "to a directory of your own\n");
    EXPECT_FALSE(fs::exists(data() / "recorder.lock"));
}

} // namespace
} // namespace exitwise::test
