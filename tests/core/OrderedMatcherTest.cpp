// SPDX-License-Identifier: MIT
#include "core/OrderedMatcher.h"

#include "core/ConfidenceEnforcer.h"
#include "core/DiagnosisEngine.h"
#include "support/CorePrinters.h"

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
    return contextAround({.appName = "Preview",
                          .bundleIdentifier = "com.apple.Preview",
                          .pid = 812,
                          .terminatedAt = T0,
                          .terminationReason = reason,
                          .terminationRawValue = std::move(raw)},
                         180.0);
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

TEST(OrderedMatcher, DecidesAndCapsEachRule)
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
    };
    const CrashReportSignal resource = report("EXC_RESOURCE (RESOURCE_TYPE_MEMORY)");
    const Signal anonymous = helper(std::nullopt, std::nullopt);
    // clang-format off
    const Row rows[] = {
        {"nothing known", R::unknown, {}, {}, E::cleanExit, D::unknown, C::low, C::low},
        {"quit context", R::quit, {}, {}, E::cleanExit, D::explicitQuit, C::high, C::high},
        {"killed context falls through", R::killed, {}, {}, E::killed, D::unknown, C::low, C::low},
        {"crashed context", R::crashed, "EXC_BAD_ACCESS", {}, E::crash, D::crashBug, C::high, C::high},
        {"crashed, abort word", R::crashed, "Abort trap: 6", {}, E::crash, D::crashAbort, C::high, C::high},
        {"crashed, SIGABRT", R::crashed, "SIGABRT", {}, E::crash, D::crashAbort, C::high, C::high},
        {"crashed, no raw value", R::crashed, {}, {}, E::crash, D::crashBug, C::high, C::high},
        {"policy", R::unknown, {}, {policy()}, E::launchBlocked, D::policyBlocked, C::high, C::high},
        {"policy over a crash report", R::crashed, {}, {report("EXC_CRASH (SIGABRT)"), policy()}, E::launchBlocked, D::policyBlocked, C::high, C::high},
        {"loader failure", R::unknown, {}, {dyld()}, E::launchBlocked, D::dyldFailure, C::high, C::high},
        {"report shows a loader failure", R::unknown, {}, {flagged(true, false, false)}, E::launchBlocked, D::dyldFailure, C::high, C::high},
        {"crash report, bug", R::unknown, {}, {report("EXC_BAD_ACCESS (SIGSEGV)")}, E::crash, D::crashBug, C::high, C::high},
        {"crash report, abort", R::unknown, {}, {report("EXC_CRASH (SIGABRT)")}, E::crash, D::crashAbort, C::high, C::high},
        {"crash report over correlated memory", R::unknown, {}, {memory(correlated), report("EXC_BAD_ACCESS")}, E::crash, D::crashBug, C::high, C::high},
        {"resource report with memory", R::unknown, {}, {resource, memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::low},
        {"resource report alone", R::unknown, {}, {resource}, E::crash, D::crashBug, C::high, C::high},
        {"lower-case exc is not crash-like", R::unknown, {}, {report("  exc_bad_access")}, E::cleanExit, D::unknown, C::low, C::low},
        {"a signal name is crash-like", R::unknown, {}, {report("sigsegv")}, E::crash, D::crashBug, C::high, C::high},
        {"watchdog", R::unknown, {}, {watchdog()}, E::killed, D::killedWatchdogHang, C::high, C::high},
        {"report shows a watchdog", R::unknown, {}, {flagged(false, false, true)}, E::killed, D::killedWatchdogHang, C::high, C::high},
        {"direct memory", R::unknown, {}, {memory(direct)}, E::killed, D::killedJetsamMemory, C::high, C::high},
        {"correlated memory, unknown reason", R::unknown, {}, {memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::low},
        {"correlated memory, killed", R::killed, {}, {memory(correlated)}, E::killed, D::killedJetsamMemory, C::medium, C::medium},
        {"report shows memory", R::unknown, {}, {flagged(false, true, false)}, E::killed, D::killedJetsamMemory, C::high, C::high},
        {"quit over a killed context", R::killed, {}, {termination(R::quit, "quit", 5)}, E::cleanExit, D::explicitQuit, C::high, C::high},
        {"helper, repeated exits", R::unknown, {}, {helper(std::nullopt, 2)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low},
        {"named helper, known reason", R::killed, {}, {helper("helperd", std::nullopt)}, E::killed, D::dependencyHelperFailure, C::medium, C::medium},
        {"named helper, unknown reason", R::unknown, {}, {helper("helperd", std::nullopt)}, E::cleanExit, D::unknown, C::low, C::low},
        {"anonymous helper", R::unknown, {}, {anonymous}, E::cleanExit, D::unknown, C::low, C::low},
        {"two helpers", R::unknown, {}, {anonymous, helper("b", std::nullopt, 1)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low},
        {"helpers take the effective end state", R::unknown, {}, {helper("a", 3), termination(R::crashed, {}, 100)}, E::cleanExit, D::dependencyHelperFailure, C::medium, C::low},
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
        EXPECT_EQ(first.confidence, row.capped);
    }
}

// Each row has evidence for two neighbouring rules; the earlier rule must decide, which shows in
// the cause or in the signal the verdict leads with.
TEST(OrderedMatcher, EarlierRuleWinsOverItsNeighbour)
{
    struct Row
    {
        const char* rules;
        R reason;
        std::vector<Signal> signals; // the context's own termination is appended
        D cause;
        Signal first;
    };
    const CrashReportSignal loaderReport = flagged(true, false, false);
    CrashReportSignal crashingLoaderReport = loaderReport;
    crashingLoaderReport.exceptionType = "EXC_CRASH (SIGABRT)";
    const CrashReportSignal abortReport = report("EXC_CRASH (SIGABRT)");
    const CrashReportSignal hangReport = flagged(false, false, true);
    const CrashReportSignal memoryReport = flagged(false, true, false);
    const EventContext crashed = context(R::crashed, "SIGSEGV");
    const EventContext quit = context(R::quit);
    // clang-format off
    const Row rows[] = {
        {"1 over 2", R::unknown, {dyld(), policy()}, D::policyBlocked, policy()},
        {"2 over 3", R::unknown, {loaderReport, dyld()}, D::dyldFailure, dyld()},
        {"3 over 4", R::unknown, {crashingLoaderReport}, D::dyldFailure, DyldSignal{at(0), DyldFailureKind::other, "Dynamic loader failure"}},
        {"4 over 5", R::crashed, {abortReport}, D::crashAbort, abortReport},
        {"5 over 6", R::crashed, {watchdog()}, D::crashBug, own(crashed)},
        {"6 over 7", R::unknown, {hangReport, watchdog()}, D::killedWatchdogHang, watchdog()},
        {"6 over 8", R::unknown, {memory(direct), watchdog()}, D::killedWatchdogHang, watchdog()},
        {"7 over 8", R::unknown, {memory(direct), hangReport}, D::killedWatchdogHang, WatchdogSignal{at(0), "App became unresponsive (watchdog)"}},
        {"8 over 9", R::unknown, {memoryReport, memory(correlated)}, D::killedJetsamMemory, memory(correlated)},
        {"8 over 10", R::quit, {memory(direct)}, D::killedJetsamMemory, memory(direct)},
        {"9 over 10", R::quit, {memoryReport}, D::killedJetsamMemory, JetsamSignal{at(0), "System memory pressure (jetsam)", direct}},
        {"6 over 10", R::quit, {watchdog()}, D::killedWatchdogHang, watchdog()},
        {"10 over 11", R::quit, {helper("helperd", 3)}, D::explicitQuit, own(quit)},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rules);
        const EventContext ctx =
            context(row.reason, row.reason == R::crashed ? "SIGSEGV" : std::optional<std::string>());
        std::vector<Signal> signals = row.signals;
        signals.push_back(own(ctx));
        const MatchResult match = OrderedMatcher::match(ctx, signals);
        EXPECT_EQ(match.dominantCause, row.cause);
        ASSERT_FALSE(match.signalsUsed.empty());
        EXPECT_EQ(match.signalsUsed.front(), row.first);
    }
}

TEST(OrderedMatcher, SignalsUsedFollowTheRule)
{
    const EventContext ctx = context(R::unknown);
    const Signal t = own(ctx);
    const auto used = [&ctx](const std::vector<Signal>& signals, Wording wording = Wording::macos) {
        return OrderedMatcher::match(ctx, signals, wording).signalsUsed;
    };

    // Rule 3: the made loader signal, the report, then the terminations.
    CrashReportSignal loaderReport = flagged(true, false, false, -2);
    loaderReport.dyldFailureKind = DyldFailureKind::missingLibrary;
    EXPECT_EQ(used({loaderReport, t}),
              (std::vector<Signal>{DyldSignal{at(-2), DyldFailureKind::other, "Dynamic loader failure"},
                                   loaderReport, t}));
    loaderReport.dyldErrorMessage = "";
    EXPECT_EQ(used({loaderReport}).front(), Signal(DyldSignal{at(-2), DyldFailureKind::other, ""}));

    // Rules 7 and 9 make their own signals from the report, in the wording asked for.
    const CrashReportSignal hang = flagged(false, false, true, 1);
    const CrashReportSignal oom = flagged(false, true, false, 1);
    EXPECT_EQ(used({hang, t}),
              (std::vector<Signal>{WatchdogSignal{at(1), "App became unresponsive (watchdog)"}, hang, t}));
    EXPECT_EQ(used({oom, t}),
              (std::vector<Signal>{JetsamSignal{at(1), "System memory pressure (jetsam)", direct}, oom, t}));
    EXPECT_EQ(used({hang, t}, Wording::linuxDesktop).front(),
              Signal(WatchdogSignal{at(1), "App became unresponsive (ended from the desktop)"}));
    EXPECT_EQ(used({oom, t}, Wording::linuxDesktop).front(),
              Signal(JetsamSignal{at(1), "System memory pressure (out-of-memory kill)", direct}));

    // Rule 5 uses the crashed termination alone, not every termination.
    const EventContext crashedCtx = context(R::crashed, "SIGSEGV");
    EXPECT_EQ(OrderedMatcher::match(crashedCtx, {termination(R::quit, "x", 4), own(crashedCtx)}).signalsUsed,
              (std::vector<Signal>{own(crashedCtx)}));

    // Rule 1: the first policy signal only, then every termination in pool order.
    const Signal p1 = policy(-3);
    const Signal p2 = PolicySignal{at(-1), PolicyBlockKind::quarantine, "q"};
    const Signal t2 = termination(R::quit, {}, 2);
    EXPECT_EQ(used({t2, p1, p2, t}), (std::vector<Signal>{p1, t2, t}));

    // Rule 11: every helper signal, then the terminations.
    const Signal h1 = helper(std::nullopt, std::nullopt, -5);
    const Signal h2 = helper(std::nullopt, std::nullopt, -4);
    EXPECT_EQ(used({h1, t, h2}), (std::vector<Signal>{h1, h2, t}));
}

TEST(OrderedMatcher, PoolAndReportChoice)
{
    const EventContext ctx = context(R::unknown);
    const Signal t = own(ctx);
    const auto causeOf = [&ctx](const std::vector<Signal>& signals) {
        return OrderedMatcher::match(ctx, signals).dominantCause;
    };
    // The pool keeps signals within 90 seconds of the termination.
    EXPECT_EQ(causeOf({watchdog(-90), t}), D::killedWatchdogHang);
    EXPECT_EQ(causeOf({watchdog(90), t}), D::killedWatchdogHang);
    EXPECT_EQ(causeOf({watchdog(-91), t}), D::unknown);
    EXPECT_EQ(causeOf({watchdog(90.5), t}), D::unknown);
    // With nothing near the termination, every signal counts.
    const MatchResult farOnly = OrderedMatcher::match(ctx, {watchdog(-300), termination(R::killed, {}, 500)});
    EXPECT_EQ(farOnly.dominantCause, D::killedWatchdogHang);
    EXPECT_EQ(farOnly.signalsUsed.size(), 2u);

    // The latest crash-like report decides; at equal times the first in the pool.
    EXPECT_EQ(causeOf({report("EXC_CRASH (SIGABRT)", 10), report("EXC_BAD_ACCESS", 0)}), D::crashAbort);
    EXPECT_EQ(causeOf({report("EXC_CRASH (SIGABRT)", 0), report("EXC_BAD_ACCESS", 10)}), D::crashBug);
    EXPECT_EQ(causeOf({report("EXC_BAD_ACCESS", 5), report("EXC_CRASH (SIGABRT)", 5)}), D::crashBug);
    CrashReportSignal abortBySignal = report("EXC_CRASH");
    abortBySignal.terminationSignal = "Abort trap: 6";
    EXPECT_EQ(causeOf({abortBySignal}), D::crashAbort);

    // Of memory signals, a direct one first, then the latest.
    const Signal lateDirect = JetsamSignal{at(10), "later", direct};
    const MatchResult m =
        OrderedMatcher::match(ctx, {memory(correlated, 20), memory(direct, -20), lateDirect});
    EXPECT_EQ(m.confidence, C::high);
    EXPECT_EQ(m.signalsUsed.front(), lateDirect);
}

TEST(OrderedMatcher, EffectiveEndStateForUnknownReason)
{
    const EventContext ctx = context(R::unknown);
    const auto endStateWith = [&](std::vector<Signal> signals) {
        signals.push_back(helper(std::nullopt, std::nullopt));
        return OrderedMatcher::match(ctx, signals).endState;
    };
    EXPECT_EQ(endStateWith({}), E::cleanExit);
    EXPECT_EQ(endStateWith({termination(R::killed)}), E::killed);
    EXPECT_EQ(endStateWith({termination(R::killed), termination(R::crashed, "x", 200)}), E::killed);
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
        {C::high, unknown, {report("EXC_CRASH")}, C::high},
        {C::high, unknown, {memory(correlated)}, C::high},
        {C::high, killed, {}, C::high},
        {C::medium, unknown, {anonymous, anonymous, own(unknown)}, C::low},
        {C::medium, killed, {memory(correlated), own(killed)}, C::medium},
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
