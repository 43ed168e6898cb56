// SPDX-License-Identifier: MIT
#include "app/monitor/ExitEvidence.h"

#include "support/CorePrinters.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

using core::ProcessExit;
using core::QuitAttribution;
using core::TerminationReason;

TEST(ExitEvidence, EveryWayAProcessEnds)
{
    struct Case
    {
        ProcessExit exit;
        bool unresponsive;
        std::optional<TerminationReason> reason;
        const char* raw;
        std::optional<QuitAttribution> attribution;
        bool logMayRefine;
    };
    const auto quit = QuitAttribution::unknown;
    // clang-format off
    const std::vector<Case> cases{
        {ProcessExit::signaled("SIGSEGV", true),  false, TerminationReason::crashed, "terminated by SIGSEGV (core dumped)", std::nullopt, false},
        {ProcessExit::signaled("SIGSEGV", false), false, TerminationReason::crashed, "terminated by SIGSEGV", std::nullopt, false},
        {ProcessExit::signaled("SIGUSR1", true),  false, TerminationReason::crashed, "terminated by SIGUSR1 (core dumped)", std::nullopt, false},
        {ProcessExit::signaled("SIGKILL", false), false, TerminationReason::killed,  "terminated by SIGKILL", std::nullopt, true},
        {ProcessExit::signaled("SIGXCPU", true),  false, TerminationReason::killed,  "terminated by SIGXCPU (core dumped)", std::nullopt, false},
        {ProcessExit::signaled("SIGTERM", false), false, TerminationReason::quit,    "terminated by SIGTERM", quit, true},
        {ProcessExit::signaled("SIGINT", false),  false, TerminationReason::quit,    "terminated by SIGINT", quit, true},
        {ProcessExit::signaled("SIGHUP", false),  false, TerminationReason::quit,    "terminated by SIGHUP", quit, true},
        {ProcessExit::signaled("SIGPIPE", false), false, TerminationReason::unknown, "terminated by SIGPIPE", std::nullopt, true},
        {ProcessExit::exited(0),                  false, TerminationReason::quit,    "exited with code 0", quit, false},
        {ProcessExit::exited(1),                  false, TerminationReason::unknown, "exited with code 1", std::nullopt, true},
        {ProcessExit::unknown(),                  false, std::nullopt,               "", std::nullopt, true},
        // KWin's "Terminate" sends SIGABRT, then SIGKILL: either way the desktop killed it.
        {ProcessExit::signaled("SIGABRT", true),  true,  TerminationReason::killed,  "ended by the desktop after it stopped responding (terminated by SIGABRT (core dumped))", std::nullopt, false},
        {ProcessExit::unknown(),                  true,  TerminationReason::killed,  "ended by the desktop after it stopped responding", std::nullopt, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exit.text() + (c.unresponsive ? " (unresponsive)" : ""));
        EXPECT_EQ(ExitEvidence::classify(c.exit, c.unresponsive),
                  c.reason ? std::optional(QuitEvidence::Classification{*c.reason, c.raw, c.attribution})
                           : std::nullopt);
        EXPECT_EQ(ExitEvidence::logMayRefine(c.exit, c.unresponsive), c.logMayRefine);
    }
    EXPECT_EQ(
        ExitEvidence::unknownClassification(),
        (QuitEvidence::Classification{TerminationReason::unknown, "exit status unknown", std::nullopt}));
}

} // namespace
} // namespace exitwise::app
