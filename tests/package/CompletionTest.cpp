// SPDX-License-Identifier: MIT
#include "support/ChildProcess.h"
#include "support/CommandRunner.h"

#include <gtest/gtest.h>
#include <string>

namespace exitwise::test {
namespace {

const std::string kCompletions = EXITWISE_SOURCE_DIR "/data/completions/";

bool haveShell(const std::string& shell)
{
    return runCommand("command -v " + shell + " >/dev/null").status == 0;
}

struct Completion
{
    const char* line; // what is typed; the word being completed is the part after the last space
    const char* offered;
};

// clang-format off
const Completion kBashCompletions[] = {
    {"exitwise ", "list show export diagnose watch version"},
    {"exitwise --", "--background --version --help"},
    {"exitwise l", "list"},
    {"exitwise list --", "--since --until --app --state --limit --no-legend --json --help"},
    {"exitwise list --state ", "crash killed clean blocked"},
    {"exitwise list --json --state k", "killed"},
    {"exitwise list --since ", "today yesterday"},
    {"exitwise list --limit ", ""},
    {"exitwise show ", "latest"},
    {"exitwise export --format ", "csv json"},
    {"exitwise diagnose --", "--input --collect --report-dir --journal-dir --help"},
    {"exitwise watch --", "--json --no-journal-entry --help"},
    {"exitwise version --", "--help"},
};
// clang-format on

class BashCompletionTest : public ::testing::TestWithParam<Completion>
{
};

// Calls the completion function as bash does on Tab, with the line split into COMP_WORDS.
TEST_P(BashCompletionTest, OffersTheWordsThatFit)
{
    const std::string line = GetParam().line;
    const std::string script = "source " + shellQuoted(kCompletions + "exitwise.bash") + "\n"
                               + "read -ra COMP_WORDS <<< " + shellQuoted(line) + "\n"
                               + (line.back() == ' ' ? "COMP_WORDS+=('')\n" : "")
                               + "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=" + shellQuoted(line)
                               + "\n" + "complete -p exitwise\n_exitwise\necho \"${COMPREPLY[*]}\"\n";
    const CommandOutcome outcome = runCommand("bash -c " + shellQuoted(script) + " 2>&1");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, std::string("complete -F _exitwise exitwise\n") + GetParam().offered + "\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, BashCompletionTest, ::testing::ValuesIn(kBashCompletions));

// clang-format off
const Completion kFishCompletions[] = {
    {"exitwise ", "diagnose export list show version watch"},
    {"exitwise list --state ", "blocked clean crash killed"},
    {"exitwise export --format ", "csv json"},
    {"exitwise watch --no", "--no-journal-entry"},
};
// clang-format on

class FishCompletionTest : public ::testing::TestWithParam<Completion>
{
};

TEST_P(FishCompletionTest, OffersTheWordsThatFit)
{
    if (!haveShell("fish")) {
        GTEST_SKIP() << "fish is not installed";
    }
    const std::string script = "source " + shellQuoted(kCompletions + "exitwise.fish") + "; complete -C "
                               + shellQuoted(GetParam().line)
                               + " | string replace -r '\\t.*' '' | string join ' '";
    const CommandOutcome outcome = runCommand("fish --no-config -c " + shellQuoted(script) + " 2>&1");
    EXPECT_EQ(outcome.out, std::string(GetParam().offered) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Lines, FishCompletionTest, ::testing::ValuesIn(kFishCompletions));

TEST(ZshCompletionTest, LoadsAsACompletionFunction)
{
    if (!haveShell("zsh")) {
        GTEST_SKIP() << "zsh is not installed";
    }
    // compinit reads the #compdef line: the function must end up bound to the command.
    const std::string script = "fpath=(" + shellQuoted(kCompletions) + " $fpath); autoload -U compinit; "
                               + "compinit -u -D; print -r -- $_comps[exitwise]; autoload +X _exitwise && "
                               + "print -r -- ${+functions[_exitwise]}";
    const CommandOutcome outcome = runCommand("zsh -f -c " + shellQuoted(script) + " 2>&1");
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(outcome.out, "_exitwise\n1\n");
}

} // namespace
} // namespace exitwise::test
