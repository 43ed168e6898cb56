// SPDX-License-Identifier: MIT
#include "platform/linux/Subprocess.h"

#include "platform/linux/LocalTime.h"
#include "platform/linux/SubprocessLogTool.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/ScriptDirectory.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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

// Its output ends a moment before it has exited: the runner must notice the exit itself rather
// than find it on its next look. Each closure runs the log tool once, several of them at a time.
TEST(Subprocess, PassesArgumentsVerbatimAndCollectsEachOfConcurrentChildrenAsSoonAsItExits)
{
    SubprocessOptions options;
    options.pollInterval = 1000ms;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t, &options] {
                for (int run = 0; run < 5; ++run) {
                    const std::string tag = std::to_string(t) + ":" + std::to_string(run);
                    const auto started = Clock::now();
                    const auto result = runSubprocess(
                        "/usr/bin/printf", {"[%s]\n", tag, "a b", "$HOME", "x;y", "\"q\"", ""}, options);
                    EXPECT_LT(Clock::now() - started, 500ms) << tag;
                    EXPECT_EQ(result.standardOutput, "[" + tag + "]\n[a b]\n[$HOME]\n[x;y]\n[\"q\"]\n[]\n");
                    EXPECT_EQ(result.exitCode, 0);
                }
            });
        }
    }
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a zombie is left";
    EXPECT_EQ(errno, ECHILD);
}

// A child writing more than a pipe holds must not stall until the deadline; it reads no input (cat
// ends at once).
TEST(Subprocess, ReadsOutputWhileTheChildRuns)
{
    const auto begin = Clock::now();
    const auto result = runShell("cat; head -c 1000000 /dev/zero | tr '\\0' x; echo >&2 noise; exit 3", 5s);
    EXPECT_LT(Clock::now() - begin, 3s);
    EXPECT_EQ(result.standardOutput, std::string(1000000, 'x'));
    EXPECT_EQ(result.exitCode, 3);
}

TEST(Subprocess, TerminatesAtTheDeadlineAndKeepsWhatWasPrinted)
{
    for (const auto& [script, signal] :
         {std::pair("echo partial; exec sleep 30", SIGTERM),
          {"trap '' TERM; echo partial; while :; do sleep 0.05; done", SIGKILL}}) {
        SCOPED_TRACE(script);
        const auto begin = Clock::now();
        const auto result = runShell(script, 300ms);
        EXPECT_GE(Clock::now() - begin, 300ms);
        EXPECT_LT(Clock::now() - begin, 2s);
        EXPECT_TRUE(result.timedOut);
        EXPECT_EQ(result.terminatingSignal, signal);
        EXPECT_EQ(result.standardOutput, "partial\n");
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
    const std::string stat = "/proc/" + std::to_string(std::stoi(result.standardOutput)) + "/stat";
    EXPECT_TRUE(test::waitFor(
        [&stat] { // gone, or a zombie waiting for a reaper that is not ours
            const std::string text = test::readFile(stat);
            return text.empty() || text.substr(text.rfind(')') + 2, 1) == "Z";
        },
        1s));
}

TEST(Subprocess, ChildGetsOnlyStandardDescriptors)
{
    const int leaky = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaky, 0);
    const auto listing = runSubprocess("/bin/ls", {"/proc/self/fd"});
    ::close(leaky);
    EXPECT_EQ(listing.standardOutput, "0\n1\n2\n3\n") << "3 is ls's own directory handle";
}

TEST(Subprocess, MissingExecutableIsNotLaunched)
{
    const auto result = runSubprocess("/nonexistent/exitwise-log", {"show"});
    EXPECT_FALSE(result.launched);
    EXPECT_NE(result.error.find("No such file"), std::string::npos) << result.error;
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

TEST(LocalTime, FormatsAndParsesLocalDatesBackToTheSecond)
{
    const core::Date date = core::dateFromSecondsSince1970(1700000000.75);
    const std::string text = formatLocalDateTime(date);
    EXPECT_EQ(text.size(), 19u);
    EXPECT_EQ(parseLocalDateTime(text), core::dateFromSecondsSince1970(1700000000.0));
    EXPECT_EQ(formatLocalTimestamp(date).substr(0, 26), text + ".750000");
}

} // namespace
} // namespace exitwise::platform
