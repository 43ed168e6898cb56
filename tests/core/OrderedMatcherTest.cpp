// SPDX-License-Identifier: MIT
#include "core/OrderedMatcher.h"

#include "core/ConfidenceEnforcer.h"
#include "core/DiagnosisEngine.h"
#include "support/CorePrinters.h"
#include "support/SampleContexts.h"

#include <gtest/gtest.h>
#include <tuple>

namespace exitwise::core {
namespace {

using R = TerminationReason;
using E = EndState;
using D = DominantCause;
using C = Confidence;
const Date T0 = dateFromReferenceSeconds(786300000.0);
constexpr auto direct = MemoryPressureEvidence::directTermination;
constexpr auto correlated = MemoryPressureEvidence::correlatedPressure;

Date at(double offset)
{
    return T0 + Seconds(offset);
}

EventContext context(R reason, std::optional<std::string> raw = std::nullopt)
{
    EventContext context = test::sketchPadContext(T0, reason);
    context.terminationRawValue = std::move(raw);
    return context;
}

// What the engine adds for the context itself.
Signal own(const EventContext& c)
{
    return DiagnosisEngine::terminationSignal(c);
}

Signal termination(R reason, std::optional<std::string> raw = std::nullopt, double offset = 0)
{
    return TerminationSignal{at(offset), reason, std::move(raw), std::nullopt};
}

CrashReportSignal report(std::optional<std::string> exceptionType, double offset = 0)
{
    return CrashReportSignal{at(offset), "/var/crash/Preview.crash", std::move(exceptionType), {}, {}, {},
                             {}};
}

CrashReportSignal flagged(bool dyld, bool jetsam, bool watchdog, double offset = 0)
{
    CrashReportSignal r = report(std::nullopt, offset);
    r.suspectedDyldFailure = dyld;
    r.suspectedJetsamMemory = jetsam;
    r.suspectedWatchdogHang = watchdog;
    return r;
}

Signal policy(double offset = 0)
{
    return PolicySignal{at(offset), PolicyBlockKind::gatekeeper, "blocked"};
}
Signal dyld()
{
    return DyldSignal{at(0), DyldFailureKind::missingLibrary, "Library not loaded"};
}
Signal watchdog(double offset = 0)
{
    return WatchdogSignal{at(offset), "hang"};
}
Signal memory(MemoryPressureEvidence evidence, double offset = 0)
{
    return JetsamSignal{at(offset), "memorystatus", evidence};
}
Signal logLine(double offset = 0)
{
    return UnifiedLogSignal{at(offset), "kernel", "abort crash watchdog jetsam"};
}

Signal helper(std::optional<std::string> service, std::optional<std::int64_t> exits, double offset = 0)
{
    return LaunchdSignal{at(offset), std::move(service), "exited", exits};
}

// Each rule on its own, then evidence for two neighbouring rules, where the earlier rule must
// decide: that shows in the cause or in the signal the verdict leads with.
TEST(OrderedMatcher, EarlierRuleWinsOverItsNeighbour)
{
    struct Row
    {
        const char* name;
        R reason;
        std::optional<std::string> raw;
        std::vector<Signal> signals; // the context's own termination is appended
        E endState;
        D cause;
        C rawConfidence;
        C capped;
        std::optional<Signal> leading; // the signal the verdict leads with, when it tells the rules apart
    };
    const CrashReportSignal resource = report("EXC_RESOURCE (RESOURCE_TYPE_MEMORY)");
    const Signal anonymous = helper(std::nullopt, std::nullopt);
    CrashReportSignal abortBySignal = report("EXC_CRASH");
    abortBySignal.terminationSignal = "Abort trap: 6";
    const CrashReportSignal loaderReport = flagged(true, false, false);
    CrashReportSignal crashingLoaderReport = loaderReport;
    crashingLoaderReport.exceptionType = "EXC_CRASH (SIGABRT)";
    const CrashReportSignal abortReport = report("EXC_CRASH (SIGABRT)");
    const CrashReportSignal hangReport = flagged(false, false, true);
    const CrashReportSignal memoryReport = flagged(false, true, false);
    // clang-format off
    const Row rows[] = {
        {"nothing known", R::unknown, {}, {}, E::cleanExit, D::unknown, C::low, C::low, {}},
        {"killed context falls through", R::killed, {}, {}, E::killed, D::unknown, C::low, C::low, {}},
        {"crashed, abort word", R::crashed, "Abort trap: 6", {}, E::crash, D::crashAbort, C::high, C::high, {}},
        {"crashed, SIGABRT", R::crashed, "SIGABRT", {}, E::crash, D::crashAbort, C::high, C::high, {}},
        {"crashed, no raw value", R::crashed, {}, {}, E::crash, D::crashBug, C::high, C::high, {}},
        {"policy over a crash report", R::crashed, {}, {report("EXC_CRASH (SIGABRT)"), policy()}, E::launchBlocked, D::policyBlocked, C::high, C::high, {}},
        {"crash report, bug", R::unknown, {}, {report("EXC_BAD_ACCESS (SIGSEGV)")}, E::crash, D::crashBug, C::high, C::high, {}},
        {"crash report, abort signal", R::unknown, {}, {abortBySignal}, E::crash, D::crashAbort, C::high, C::high, {}},
        {"crash report over correlated memory", R::unknown, {}, {memory(correlated), report("EXC_BAD_ACCESS")}, E::crash, D::crashBug, C::high, C::high, {}},
        {"resource report with memory", R::unknown, {}, {resource, memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::low, {}},
        {"resource report alone", R::unknown, {}, {resource}, E::crash, D::crashBug, C::high, C::high, {}},
        {"lower-case exc is not crash-like", R::unknown, {}, {report("  exc_bad_access")}, E::cleanExit, D::unknown, C::low, C::low, {}},
        {"a signal name is crash-like", R::unknown, {}, {report("sigsegv")}, E::crash, D::crashBug, C::high, C::high, {}},
        {"correlated memory, unknown reason", R::unknown, {}, {memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::low, {}},
        {"correlated memory, killed", R::killed, {}, {memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::medium, {}},
        {"quit over a killed context", R::killed, {}, {termination(R::quit, "quit", 5)}, E::cleanExit, D::explicitQuit, C::high, C::high, {}},
        {"helper, repeated exits", R::unknown, {}, {helper(std::nullopt, 2)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low, {}},
        {"named helper, known reason", R::killed, {}, {helper("helperd", std::nullopt)}, E::killed, D::dependencyHelperFailure, C::medium, C::medium, {}},
        {"named helper, unknown reason", R::unknown, {}, {helper("helperd", std::nullopt)}, E::cleanExit, D::unknown, C::low, C::low, {}},
        {"anonymous helper", R::unknown, {}, {anonymous}, E::cleanExit, D::unknown, C::low, C::low, {}},
        {"two helpers", R::unknown, {}, {anonymous, helper("b", std::nullopt, 1)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low, {}},
        {"helpers take the effective end state", R::unknown, {}, {helper("a", 3), termination(R::crashed, {}, 100)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low, {}},
        {"a killed termination in the pool", R::unknown, {}, {termination(R::killed), termination(R::crashed, "x", 200)}, E::killed, D::unknown, C::low, C::low, {}},
        {"1 over 2", R::unknown, {}, {dyld(), policy()}, E::launchBlocked, D::policyBlocked, C::high, C::high, policy()},
        {"2 over 3", R::unknown, {}, {loaderReport, dyld()}, E::launchBlocked, D::dyldFailure, C::high, C::high, dyld()},
        {"3 over 4", R::unknown, {}, {crashingLoaderReport}, E::launchBlocked, D::dyldFailure, C::high, C::high, DyldSignal{at(0), DyldFailureKind::other, "Dynamic loader failure"}},
        {"4 over 5", R::crashed, "SIGSEGV", {abortReport}, E::crash, D::crashAbort, C::high, C::high, abortReport},
        {"5 over 6", R::crashed, "SIGSEGV", {watchdog()}, E::crash, D::crashBug, C::high, C::high, own(context(R::crashed, "SIGSEGV"))},
        {"6 over 7", R::unknown, {}, {hangReport, watchdog()}, E::killed, D::killedWatchdogHang, C::high, C::high, watchdog()},
        {"6 over 8", R::unknown, {}, {memory(direct), watchdog()}, E::killed, D::killedWatchdogHang, C::high, C::high, watchdog()},
        {"7 over 8", R::unknown, {}, {memory(direct), hangReport}, E::killed, D::killedWatchdogHang, C::high, C::high, WatchdogSignal{at(0), "App became unresponsive (watchdog)"}},
        {"8 over 9", R::unknown, {}, {memoryReport, memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::low, memory(correlated)},
        {"8 over 10", R::quit, {}, {memory(direct)}, E::killed, D::killedJetsamMemory, C::high, C::high, memory(direct)},
        {"9 over 10", R::quit, {}, {memoryReport}, E::killed, D::killedJetsamMemory, C::high, C::high, JetsamSignal{at(0), "System memory pressure (jetsam)", direct}},
        {"6 over 10", R::quit, {}, {watchdog()}, E::killed, D::killedWatchdogHang, C::high, C::high, watchdog()},
        {"10 over 11", R::quit, {}, {helper("helperd", 3)}, E::cleanExit, D::explicitQuit, C::high, C::high, own(context(R::quit))},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const EventContext ctx = context(row.reason, row.raw);
        std::vector<Signal> signals = row.signals;
        signals.push_back(own(ctx));
        const MatchResult match = OrderedMatcher::match(ctx, signals);
        EXPECT_EQ(std::tuple(match.endState, match.dominantCause, match.confidence,
                             ConfidenceEnforcer::enforce(match.confidence, ctx, match.signalsUsed)),
                  std::tuple(row.endState, row.cause, row.rawConfidence, row.capped));
        if (row.leading) {
            EXPECT_EQ(match.signalsUsed.at(0), *row.leading);
        }

        // Unified-log lines never change a verdict.
        std::vector<Signal> noisy = signals;
        noisy.insert(noisy.begin(), logLine());
        noisy.push_back(logLine(3));
        EXPECT_EQ(OrderedMatcher::match(ctx, noisy), match);

        // Diagnosing again from the recorded evidence gives the same verdict.
        const Diagnosis first = DiagnosisEngine().diagnose(ctx, row.signals, false);
        const Diagnosis again = DiagnosisEngine().diagnose(ctx, first.signalsUsed, false);
        EXPECT_EQ(std::tie(again.endState, again.dominantCause, again.confidence),
                  std::tie(first.endState, first.dominantCause, first.confidence));
    }
}

// Rules 3, 7 and 9 make their own signal from the report, in the wording asked for; rule 5
// uses the crashed termination alone; the others add every termination in pool order. The pool
// keeps the signals within 90 seconds of the termination, or all of them when none is that near.
// Of crash-like reports the latest decides, at equal times the first; of memory signals a
// direct one, then the latest.
TEST(OrderedMatcher, SignalsUsedFollowTheRuleAndThePool)
{
    const EventContext ctx = context(R::unknown);
    const Signal t = own(ctx);
    CrashReportSignal loaderReport = flagged(true, false, false, -2);
    loaderReport.dyldFailureKind = DyldFailureKind::missingLibrary;
    CrashReportSignal blankLoaderReport = loaderReport;
    blankLoaderReport.dyldErrorMessage = "";
    const CrashReportSignal hang = flagged(false, false, true, 1);
    const CrashReportSignal oom = flagged(false, true, false, 1);
    const Signal crashed = termination(R::crashed, "SIGSEGV", 2);
    const Signal farKilled = termination(R::killed, {}, 500);
    const Signal lateDirect = JetsamSignal{at(10), "later", direct};
    const auto onLinux = Wording::linuxDesktop;
    // clang-format off
    const std::vector<std::tuple<Wording, std::vector<Signal>, std::vector<Signal>>> rows = {
        {Wording::macos, {loaderReport, t}, {DyldSignal{at(-2), DyldFailureKind::other, "Dynamic loader failure"}, loaderReport, t}},
        {Wording::macos, {blankLoaderReport}, {DyldSignal{at(-2), DyldFailureKind::other, ""}, blankLoaderReport}},
        {Wording::macos, {hang, t}, {WatchdogSignal{at(1), "App became unresponsive (watchdog)"}, hang, t}},
        {Wording::macos, {oom, t}, {JetsamSignal{at(1), "System memory pressure (jetsam)", direct}, oom, t}},
        {onLinux, {hang, t}, {WatchdogSignal{at(1), "App became unresponsive (ended from the desktop)"}, hang, t}},
        {onLinux, {oom, t}, {JetsamSignal{at(1), "System memory pressure (out-of-memory kill)", direct}, oom, t}},
        {Wording::macos, {termination(R::quit, "x", 4), crashed, t}, {crashed}},
        {Wording::macos, {termination(R::quit, {}, 2), policy(-3), PolicySignal{at(-1), PolicyBlockKind::quarantine, "q"}, t}, {policy(-3), termination(R::quit, {}, 2), t}},
        {Wording::macos, {helper(std::nullopt, std::nullopt, -5), t, helper(std::nullopt, std::nullopt, -4)}, {helper(std::nullopt, std::nullopt, -5), helper(std::nullopt, std::nullopt, -4), t}},
        {Wording::macos, {watchdog(-90), t}, {watchdog(-90), t}},
        {Wording::macos, {watchdog(90), t}, {watchdog(90), t}},
        {Wording::macos, {watchdog(-91), t}, {t}},
        {Wording::macos, {watchdog(90.5), t}, {t}},
        {Wording::macos, {watchdog(-300), farKilled}, {watchdog(-300), farKilled}},
        {Wording::macos, {report("EXC_CRASH (SIGABRT)", 10), report("EXC_BAD_ACCESS", 0)}, {report("EXC_CRASH (SIGABRT)", 10)}},
        {Wording::macos, {report("EXC_CRASH (SIGABRT)", 0), report("EXC_BAD_ACCESS", 10)}, {report("EXC_BAD_ACCESS", 10)}},
        {Wording::macos, {report("EXC_BAD_ACCESS", 5), report("EXC_CRASH (SIGABRT)", 5)}, {report("EXC_BAD_ACCESS", 5)}},
        {Wording::macos, {memory(correlated, 20), memory(direct, -20), lateDirect}, {lateDirect}},
    };
    // clang-format on
    for (const auto& [wording, signals, used] : rows) {
        EXPECT_EQ(OrderedMatcher::match(ctx, signals, wording).signalsUsed, used);
    }
}

// High stays with direct evidence (a known reason, a report with text, any but helper and log
// signals); otherwise, and for medium, two kinds keep medium, one gives low. Unknown
// terminations are no kind.
TEST(ConfidenceEnforcer, CapTable)
{
    const EventContext unknown = context(R::unknown);
    const EventContext killed = context(R::killed);
    const Signal bareReport = report("  ");
    const Signal anonymous = helper(std::nullopt, std::nullopt);
    // clang-format off
    const std::vector<std::tuple<C, const EventContext&, std::vector<Signal>, C>> rows = {
        {C::high, unknown, {bareReport, own(unknown)}, C::low},
        {C::high, unknown, {bareReport, anonymous}, C::medium},
        {C::high, unknown, {anonymous, logLine(), bareReport}, C::medium},
        {C::high, unknown, {anonymous, termination(R::quit)}, C::high},
        {C::low, killed, {policy(), dyld(), own(killed)}, C::low},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [raw, ctx, signals, expected] = rows[i];
        EXPECT_EQ(ConfidenceEnforcer::enforce(raw, ctx, signals), expected) << "row " << i;
    }
}

} // namespace
} // namespace exitwise::core
