// SPDX-License-Identifier: MIT
#include "core/Signal.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

const Date t = dateFromReferenceSeconds(786300000.0);

TEST(SignalSummary, EveryRow)
{
    using R = TerminationReason;
    using Q = QuitAttribution;
    // clang-format off
    const std::pair<Signal, std::string> cases[] = {
        {TerminationSignal{t, R::killed, "  SIGKILL\n", Q::logout}, "Termination reason: killed [Logout/session end] (SIGKILL)"},
        {TerminationSignal{t, R::crashed, "\tEXC_CRASH ", std::nullopt}, "Termination reason: crashed (EXC_CRASH)"},
        {TerminationSignal{t, R::quit, "   ", Q::userRequest}, "Termination reason: quit [User request]"},
        {TerminationSignal{t, R::killed, "   ", std::nullopt}, "Termination reason: killed"},
        {TerminationSignal{t, R::unknown, std::nullopt, std::nullopt}, "Termination reason: unknown"},
        {CrashReportSignal{t, "/r.ips", " EXC_BAD_ACCESS (SIGSEGV) ", {}, {}, {}, {}, false, false, false}, "Crash report: EXC_BAD_ACCESS (SIGSEGV)"},
        {CrashReportSignal{t, "/r.ips", "\n ", {}, {}, {}, {}, false, false, false}, "Crash report"},
        {CrashReportSignal{t, {}, {}, {}, {}, {}, {}, true, false, false}, "Crash report"},
        {PolicySignal{t, PolicyBlockKind::gatekeeper, " blocked "}, "Policy (Gatekeeper block):  blocked "},
        {DyldSignal{t, DyldFailureKind::missingLibrary, "Library not loaded"}, "dyld (Missing required library): Library not loaded"},
        {JetsamSignal{t, "pressure", MemoryPressureEvidence::correlatedPressure}, "Memory pressure (correlated): pressure"},
        {JetsamSignal{t, "killed", MemoryPressureEvidence::directTermination}, "Memory pressure: killed"},
        {WatchdogSignal{t, "hang"}, "Watchdog: hang"},
        {LaunchdSignal{t, "", "exited", 5}, "Helper/service issue"},
        {LaunchdSignal{t, std::nullopt, "exited", std::nullopt}, "Helper/service issue"},
        {LaunchdSignal{t, " ", "exited", std::nullopt}, "Helper/service:  "},
        {LaunchdSignal{t, "helperd", "exited", 5}, "Helper/service: helperd (repeat exits: 5)"},
        {LaunchdSignal{t, "helperd", "exited", std::nullopt}, "Helper/service: helperd"},
        {UnifiedLogSignal{t, "", "line"}, "Log: line"},
        {UnifiedLogSignal{t, std::nullopt, "line"}, "Log: line"},
        {UnifiedLogSignal{t, "kernel", "line"}, "Log (kernel): line"},
    };
    // clang-format on
    for (const auto& [signal, expected] : cases) {
        EXPECT_EQ(signal.summary(), expected);
    }
}

TEST(SignalSummary, LinuxWordsNameTheLoader)
{
    const Signal loader(DyldSignal{t, DyldFailureKind::missingLibrary, "libfoo.so.1: cannot open"});
    EXPECT_EQ(loader.summary(Wording::linuxDesktop),
              "Loader (Missing required library): libfoo.so.1: cannot open");
    EXPECT_EQ(loader.summary(Wording::macos), "dyld (Missing required library): libfoo.so.1: cannot open");
}

} // namespace
} // namespace exitwise::core
