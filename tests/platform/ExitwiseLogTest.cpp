// SPDX-License-Identifier: MIT
// The exitwise-log executable, run as the provider runs it.

#include "platform/linux/LocalTime.h"
#include "platform/linux/Subprocess.h"
#include "support/PlatformFixtures.h"

#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using test::JournalFixture;

constexpr double kT = 1700000000.0;

std::string local(double offset)
{
    return formatLocalDateTime(core::dateFromSecondsSince1970(kT + offset));
}

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
    const std::string start = local(0);
    const std::vector<std::vector<std::string>> rows = {
        {"list"},
        {"show"},
        {"show", "--style", "json", "--start", start, "--end", start, "--predicate", "process == \"a\""},
        {"show", "--style", "syslog", "--start", start, "--end", start, "--predicate", "process == \"a\"",
         "--info"},
        {"show", "--style", "syslog", "--start", start, "--end", start, "--predicate"},
        show("2023-02-30 00:00:00", start, "process == \"a\""),
        show(start, start, "process LIKE \"a\""),
    };
    for (const auto& arguments : rows) {
        const auto result = runLog(arguments, "/nonexistent");
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(arguments);
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_EQ(runLog(show(start, start, "process == \"a\""), "/nonexistent/journal").exitCode, 1);
}

TEST(ExitwiseLog, PrintsOneSyslogLinePerMatchingEntry)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.write({
                  {kT - 100, "kernel", std::nullopt, "", "", "Sketch Pad before the window"},
                  {kT - 10, "kernel", std::nullopt, "", "", "Out of memory: Killed process 812 (Sketch Pad)"},
                  {kT - 5, "editor", 99, "", "", "unrelated"},
                  {kT + 0.5, "", 812, "sketchpad", "", "two\nlines"},
                  {kT + 1, "kernel", std::nullopt, "", "", "Sketch Pad after the window"},
              }),
              "");
    const auto result = runLog(show(local(-60), local(0),
                                    R"(processIdentifier == 812 OR eventMessage CONTAINS[c] )"
                                    R"("sketch pad")"),
                               journal.directory().string());
    EXPECT_EQ(result.exitCode, 0);
    const auto stamp = [](double offset) {
        return formatLocalTimestamp(core::dateFromSecondsSince1970(kT + offset));
    };
    EXPECT_EQ(result.standardOutput,
              stamp(-10) + " localhost kernel: Out of memory: Killed process 812 (Sketch Pad)\n" + stamp(0.5)
                  + " localhost sketchpad[812]: two lines\n");
}

} // namespace
} // namespace exitwise::platform
