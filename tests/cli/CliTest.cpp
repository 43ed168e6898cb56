// SPDX-License-Identifier: MIT
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

struct Outcome
{
    int status = -1;
    std::string out;
};

// Runs the real executable with the given arguments; standard error is discarded unless
// the arguments redirect it.
Outcome run(const std::string& args)
{
    Outcome result;
    const std::string command = std::string(EXITWISE_BIN) + " " + args;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) {
        result.out.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(Cli, VersionPrintsTheDiagnosisVersion)
{
    const Outcome r = run("version");
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_NE(r.out.find('.'), std::string::npos) << r.out;
}

TEST(Cli, HelpListsSubcommands)
{
    const Outcome r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("version"), std::string::npos) << r.out;
}

TEST(Cli, UnknownSubcommandIsAUsageError)
{
    const Outcome r = run("frobnicate 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.rfind("exitwise: ", 0), 0u) << r.out;
}

} // namespace
