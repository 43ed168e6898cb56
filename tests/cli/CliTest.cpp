// SPDX-License-Identifier: MIT
#include "support/CommandRunner.h"

#include <gtest/gtest.h>
#include <string>

namespace exitwise::test {
namespace {

CommandOutcome exitwise(const std::string& args)
{
    return runCommand(std::string(EXITWISE_BIN) + " " + args);
}

TEST(Cli, VersionPrintsTheDiagnosisVersion)
{
    const CommandOutcome r = exitwise("version");
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_NE(r.out.find('.'), std::string::npos) << r.out;
}

TEST(Cli, HelpListsSubcommands)
{
    const CommandOutcome r = exitwise("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"version", "diagnose"}) {
        EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
    }
}

TEST(Cli, UnknownSubcommandIsAUsageError)
{
    const CommandOutcome r = exitwise("frobnicate 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.rfind("exitwise: ", 0), 0u) << r.out;
}

} // namespace
} // namespace exitwise::test
