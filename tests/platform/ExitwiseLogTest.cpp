// SPDX-License-Identifier: MIT
// The exitwise-log executable, and the runner the log provider starts it with.

#include "platform/linux/Subprocess.h"
#include "platform/linux/SubprocessLogTool.h"
#include "support/PlatformFixtures.h"
#include "support/ScopedTimeZone.h"
#include "support/ScriptDirectory.h"

#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using namespace std::chrono_literals;
using test::JournalFixture;

constexpr double kT = 1700000000.0; // 2023-11-14 22:13:20 UTC
const std::string kStart = "2023-11-14 22:13:20";

SubprocessResult runLog(const std::vector<std::string>& arguments, const std::string& journalDirectory)
{
    SubprocessOptions options;
    options.timeout = std::chrono::seconds(10);
    options.environment = {"EXITWISE_JOURNAL_DIR=" + journalDirectory};
    return runSubprocess(EXITWISE_LOG_BIN, arguments, options);
}

std::vector<std::string> show(const std::string& start, const std::string& end, const std::string& predicate)
{
    return {"show", "--style", "syslog", "--start", start, "--end", end, "--predicate", predicate};
}

TEST(ExitwiseLog, RejectsWhatItDoesNotUnderstand)
{
    const std::vector<std::vector<std::string>> rows = {
        {"list"},
        {"show"},
        {"show", "--style", "json", "--start", kStart, "--end", kStart, "--predicate", "process == \"a\""},
        {"show", "--style", "syslog", "--start", kStart, "--end", kStart, "--predicate", "process == \"a\"",
         "--info"},
        {"show", "--style", "syslog", "--start", kStart, "--end", kStart, "--predicate"},
        show("2023-02-30 00:00:00", kStart, "process == \"a\""),
        show(kStart, kStart, "process LIKE \"a\""),
    };
    for (const auto& arguments : rows) {
        const auto result = runLog(arguments, "/nonexistent");
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(arguments);
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(runLog(show(kStart, kStart, "process == \"a\""), "/nonexistent/journal").exitCode, 1);
}

// The lines are those the provider reads back: local time with microseconds and the zone.
TEST(ExitwiseLog, PrintsOneSyslogLinePerMatchingEntry)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    const test::ScopedTimeZone utc("UTC"); // the child's too
    JournalFixture journal;
    ASSERT_EQ(journal.write({
                  {kT - 100, "kernel", std::nullopt, "", "", "Sketch Pad before the window"},
                  {kT - 10, "kernel", std::nullopt, "", "", "Out of memory: Killed process 812 (Sketch Pad)"},
                  {kT - 5, "editor", 99, "", "", "unrelated"},
                  {kT + 0.5, "", 812, "sketchpad", "", "two\nlines"},
                  {kT + 1, "kernel", std::nullopt, "", "", "Sketch Pad after the window"},
              }),
              "");
    const auto result = runLog(show("2023-11-14 22:12:20", kStart,
                                    R"(processIdentifier == 812 OR eventMessage CONTAINS[c] )"
                                    R"("sketch pad")"),
                               journal.directory().string());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(
        result.standardOutput,
        "2023-11-14 22:13:10.000000+0000 localhost kernel: Out of memory: Killed process 812 (Sketch Pad)\n"
        "2023-11-14 22:13:20.500000+0000 localhost sketchpad[812]: two lines\n");
}

TEST(SubprocessLogTool, AToolPastItsDeadlineIsEndedAndWhatItPrintedIsKept)
{
    const test::ScriptDirectory scripts;
    const SubprocessLogTool tool(scripts.script("log", "echo 'a line'; exec sleep 30"));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.show(core::Date(), core::Date(), "", 400ms), "a line\n");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}

} // namespace
} // namespace exitwise::platform
