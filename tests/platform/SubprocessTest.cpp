// SPDX-License-Identifier: MIT
#include "platform/linux/Subprocess.h"

#include "platform/linux/LocalTime.h"
#include "platform/linux/SubprocessLogTool.h"
#include "support/ScriptDirectory.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace exitwise::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SubprocessResult runShell(const std::string& script, std::chrono::milliseconds timeout)
{
    SubprocessOptions options;
    options.timeout = timeout;
    return runSubprocess("/bin/sh", {"-c", script}, options);
}

// Gone, or a zombie waiting for a reaper that is not ours.
bool processEnded(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string content;
        if (!std::getline(stat, content) || content.substr(content.rfind(')') + 2, 1) == "Z") {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(Subprocess, PassesArgumentsVerbatimWithoutAShell)
{
    const auto result = runSubprocess("/usr/bin/printf", {"[%s]\n", "a b", "$HOME", "x;y", "\"q\"", ""});
    EXPECT_TRUE(result.launched);
    EXPECT_EQ(result.standardOutput, "[a b]\n[$HOME]\n[x;y]\n[\"q\"]\n[]\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(result.timedOut);
}

// A child writing more than a pipe holds must not stall until the deadline.
TEST(Subprocess, ReadsOutputWhileTheChildRuns)
{
    const auto begin = Clock::now();
    const auto result = runShell("head -c 1000000 /dev/zero | tr '\\0' x; echo >&2 noise; exit 3", 5s);
    EXPECT_LT(Clock::now() - begin, 3s);
    EXPECT_EQ(result.standardOutput, std::string(1000000, 'x'));
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_FALSE(result.timedOut);
}

TEST(Subprocess, TerminatesAtTheDeadlineAndKeepsWhatWasPrinted)
{
    struct Row
    {
        const char* script;
        int signal;
    };
    const Row rows[] = {
        {"echo partial; exec sleep 30", SIGTERM},
        {"trap '' TERM; echo partial; while :; do sleep 0.05; done", SIGKILL},
    };
    for (const Row& row : rows) {
        const auto begin = Clock::now();
        const auto result = runShell(row.script, 300ms);
        const auto elapsed = Clock::now() - begin;
        EXPECT_GE(elapsed, 300ms) << row.script;
        EXPECT_LT(elapsed, 2s) << row.script;
        EXPECT_TRUE(result.timedOut) << row.script;
        EXPECT_EQ(result.terminatingSignal, row.signal) << row.script;
        EXPECT_EQ(result.standardOutput, "partial\n") << row.script;
    }
}

TEST(Subprocess, ADescendantHoldingTheOutputOpenIsEndedAtTheDeadline)
{
    const auto begin = Clock::now();
    const auto result = runShell("sleep 30 & echo $!", 300ms);
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_FALSE(result.standardOutput.empty());
    EXPECT_TRUE(processEnded(std::stoi(result.standardOutput)));
}

TEST(Subprocess, ChildGetsOnlyStandardDescriptorsAndNoInput)
{
    const int leaky = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaky, 0);
    const auto listing = runSubprocess("/bin/ls", {"/proc/self/fd"});
    ::close(leaky);
    EXPECT_EQ(listing.standardOutput, "0\n1\n2\n3\n") << "3 is ls's own directory handle";

    SubprocessOptions options;
    options.timeout = 2s;
    const auto cat = runSubprocess("/bin/cat", {}, options);
    EXPECT_EQ(cat.exitCode, 0);
    EXPECT_EQ(cat.standardOutput, "");
}

TEST(Subprocess, ConcurrentRunsKeepTheirOwnOutputAndLeaveNoZombie)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 5; ++i) {
                const std::string expected = std::to_string(t) + ":" + std::to_string(i);
                if (runSubprocess("/usr/bin/printf", {expected}).standardOutput != expected) {
                    ++failures[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// The output ends a moment before the child has exited; the runner must notice the exit itself
// rather than find it on its next look. Each closure runs the log tool once.
TEST(Subprocess, AQuickChildIsCollectedAsSoonAsItExits)
{
    SubprocessOptions options;
    options.pollInterval = 1000ms;
    for (int i = 0; i < 5; ++i) {
        const auto started = Clock::now();
        const SubprocessResult result = runSubprocess("/bin/echo", {"done"}, options);
        EXPECT_EQ(result.standardOutput, "done\n");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_LT(Clock::now() - started, 500ms) << "run " << i;
    }
}

TEST(Subprocess, MissingExecutableIsNotLaunched)
{
    const auto result = runSubprocess("/nonexistent/exitwise-log", {"show"});
    EXPECT_FALSE(result.launched);
    EXPECT_NE(result.error.find("No such file"), std::string::npos) << result.error;
    EXPECT_TRUE(result.standardOutput.empty());
}

TEST(SubprocessLogTool, RunsTheToolWithTheNineArgumentsAndTheJournal)
{
    test::ScriptDirectory scripts;
    const auto tool = scripts.script(
        "log", "printf '%s\\n' \"$@\" \"journal=$EXITWISE_JOURNAL_DIR\"; printf 'bad \\377\\n'");
    const core::Date start = core::dateFromSecondsSince1970(1700000000.75);
    const core::Date end = core::dateFromSecondsSince1970(1700000360.0);
    const std::string predicate = "process == \"a b\"";

    const std::string output = SubprocessLogTool(tool, "/var/tmp/j").show(start, end, predicate, 2s);
    EXPECT_EQ(output, "show\n--style\nsyslog\n--start\n" + formatLocalDateTime(start) + "\n--end\n"
                          + formatLocalDateTime(end) + "\n--predicate\n" + predicate
                          + "\njournal=/var/tmp/j\nbad \uFFFD\n");
    EXPECT_EQ(SubprocessLogTool("/nonexistent/log").show(start, end, predicate, 2s), "");
}

TEST(LocalTime, FormatsAndParsesLocalDates)
{
    const core::Date date = core::dateFromSecondsSince1970(1700000000.75);
    const std::string text = formatLocalDateTime(date);
    EXPECT_EQ(text.size(), 19u);
    EXPECT_EQ(parseLocalDateTime(text), core::dateFromSecondsSince1970(1700000000.0));
    EXPECT_EQ(formatLocalTimestamp(date).substr(0, 26), text + ".750000");
    for (const char* bad : {"2023-02-30 00:00:00", "2023-11-14T22:13:20", "2023-11-14 22:13",
                            "2023-13-01 00:00:00", "2023-11-14 24:00:00", "2023-11-14 22:13:2x"}) {
        EXPECT_EQ(parseLocalDateTime(bad), std::nullopt) << bad;
    }
}

} // namespace
} // namespace exitwise::platform
