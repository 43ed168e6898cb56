// SPDX-License-Identifier: MIT
#include "core/OrderedMatcher.h"

#include "core/ConfidenceEnforcer.h"
#include "core/DiagnosisEngine.h"
#include "support/CorePrinters.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using R = TerminationReason;
const Date T0 = dateFromReferenceSeconds(786300000.0);

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

Signal termination(R reason, std::optional<std::string> raw = std::nullopt, double offset = 0)
{
    return TerminationSignal{at(offset), reason, std::move(raw), std::nullopt};
}

// What the engine adds for the context itself.
Signal own(const EventContext& c)
{
    return DiagnosisEngine::terminationSignal(c);
}

CrashReportSignal report(std::optional<std::string> exceptionType, double offset = 0)
{
    return CrashReportSignal{
        at(offset), "/var/crash/Preview.crash", std::move(exceptionType), {}, {}, {}, {}, false, false,
        false};
}

CrashReportSignal flagged(bool dyld,
                          bool jetsam,
                          bool watchdog,
                          double offset = 0,
                          std::optional<std::string> exceptionType = std::nullopt)
{
    CrashReportSignal r = report(std::move(exceptionType), offset);
    r.suspectedDyldFailure = dyld;
    r.suspectedJetsamMemory = jetsam;
    r.suspectedWatchdogHang = watchdog;
    return r;
}

Signal policy(double offset = 0)
{
    return PolicySignal{at(offset), PolicyBlockKind::gatekeeper, "blocked"};
}
Signal dyld(double offset = 0)
{
    return DyldSignal{at(offset), DyldFailureKind::missingLibrary, "Library not loaded"};
}
Signal watchdog(double offset = 0)
{
    return WatchdogSignal{at(offset), "hang"};
}
Signal memory(MemoryPressureEvidence evidence, double offset = 0)
{
    return JetsamSignal{at(offset), "memorystatus", evidence};
}
Signal helper(std::optional<std::string> service, std::optional<std::int64_t> exits, double offset = 0)
{
    return LaunchdSignal{at(offset), std::move(service), "exited", exits};
}
Signal logLine(double offset = 0)
{
    return UnifiedLogSignal{at(offset), "kernel", "abort crash watchdog jetsam"};
}

constexpr auto direct = MemoryPressureEvidence::directTermination;
constexpr auto correlated = MemoryPressureEvidence::correlatedPressure;

struct RuleCase
{
    const char* name;
    R reason;
    std::optional<std::string> raw;
    std::vector<Signal> signals; // the context's own termination is appended
    EndState endState;
    DominantCause cause;
    Confidence rawConfidence;
    Confidence capped;
};

std::vector<RuleCase> ruleCases()
{
    using E = EndState;
    using D = DominantCause;
    using C = Confidence;
    return {
        {"nothingKnown", R::unknown, {}, {}, E::cleanExit, D::unknown, C::low, C::low},
        {"quitContext", R::quit, {}, {}, E::cleanExit, D::explicitQuit, C::high, C::high},
        {"killedContextFallsThrough", R::killed, {}, {}, E::killed, D::unknown, C::low, C::low},
        {"crashedContext", R::crashed, "EXC_BAD_ACCESS", {}, E::crash, D::crashBug, C::high, C::high},
        {"crashedAbortWord", R::crashed, "Abort trap: 6", {}, E::crash, D::crashAbort, C::high, C::high},
        {"crashedSigabrt", R::crashed, "SIGABRT", {}, E::crash, D::crashAbort, C::high, C::high},
        {"crashedNoRaw", R::crashed, {}, {}, E::crash, D::crashBug, C::high, C::high},
        {"policy", R::unknown, {}, {policy()}, E::launchBlocked, D::policyBlocked, C::high, C::high},
        {"policyOverCrashReport",
         R::crashed,
         {},
         {report("EXC_CRASH (SIGABRT)"), policy()},
         E::launchBlocked,
         D::policyBlocked,
         C::high,
         C::high},
        {"loaderFailure", R::unknown, {}, {dyld()}, E::launchBlocked, D::dyldFailure, C::high, C::high},
        {"reportShowsLoaderFailure",
         R::unknown,
         {},
         {flagged(true, false, false)},
         E::launchBlocked,
         D::dyldFailure,
         C::high,
         C::high},
        {"crashReportBug",
         R::unknown,
         {},
         {report("EXC_BAD_ACCESS (SIGSEGV)")},
         E::crash,
         D::crashBug,
         C::high,
         C::high},
        {"crashReportAbort",
         R::unknown,
         {},
         {report("EXC_CRASH (SIGABRT)")},
         E::crash,
         D::crashAbort,
         C::high,
         C::high},
        {"crashReportOverCorrelatedMemory",
         R::unknown,
         {},
         {memory(correlated), report("EXC_BAD_ACCESS")},
         E::crash,
         D::crashBug,
         C::high,
         C::high},
        {"resourceReportWithMemory",
         R::unknown,
         {},
         {report("EXC_RESOURCE (RESOURCE_TYPE_MEMORY)"), memory(correlated)},
         E::killed,
         D::killedJetsamMemory,
         C::medium,
         C::low},
        {"resourceReportAlone",
         R::unknown,
         {},
         {report("EXC_RESOURCE (RESOURCE_TYPE_MEMORY)")},
         E::crash,
         D::crashBug,
         C::high,
         C::high},
        {"lowerCaseExcIsNotCrashLike",
         R::unknown,
         {},
         {report("  exc_bad_access")},
         E::cleanExit,
         D::unknown,
         C::low,
         C::low},
        {"signalNameIsCrashLike",
         R::unknown,
         {},
         {report("sigsegv")},
         E::crash,
         D::crashBug,
         C::high,
         C::high},
        {"watchdog", R::unknown, {}, {watchdog()}, E::killed, D::killedWatchdogHang, C::high, C::high},
        {"reportShowsWatchdog",
         R::unknown,
         {},
         {flagged(false, false, true)},
         E::killed,
         D::killedWatchdogHang,
         C::high,
         C::high},
        {"directMemory",
         R::unknown,
         {},
         {memory(direct)},
         E::killed,
         D::killedJetsamMemory,
         C::high,
         C::high},
        {"correlatedMemoryUnknownReason",
         R::unknown,
         {},
         {memory(correlated)},
         E::killed,
         D::killedJetsamMemory,
         C::medium,
         C::low},
        {"correlatedMemoryKilled",
         R::killed,
         {},
         {memory(correlated)},
         E::killed,
         D::killedJetsamMemory,
         C::medium,
         C::medium},
        {"reportShowsMemory",
         R::unknown,
         {},
         {flagged(false, true, false)},
         E::killed,
         D::killedJetsamMemory,
         C::high,
         C::high},
        {"quitOverKilledContext",
         R::killed,
         {},
         {termination(R::quit, "quit", 5)},
         E::cleanExit,
         D::explicitQuit,
         C::high,
         C::high},
        {"helperRepeatExits",
         R::unknown,
         {},
         {helper(std::nullopt, 2)},
         E::cleanExit,
         D::dependencyHelperFailure,
         C::medium,
         C::low},
        {"helperNamedKnownReason",
         R::killed,
         {},
         {helper("helperd", std::nullopt)},
         E::killed,
         D::dependencyHelperFailure,
         C::medium,
         C::medium},
        {"helperNamedUnknownReason",
         R::unknown,
         {},
         {helper("helperd", std::nullopt)},
         E::cleanExit,
         D::unknown,
         C::low,
         C::low},
        {"helperAnonymous",
         R::unknown,
         {},
         {helper(std::nullopt, std::nullopt)},
         E::cleanExit,
         D::unknown,
         C::low,
         C::low},
        {"twoHelpers",
         R::unknown,
         {},
         {helper(std::nullopt, std::nullopt), helper("b", std::nullopt, 1)},
         E::cleanExit,
         D::dependencyHelperFailure,
         C::medium,
         C::low},
        {"helpersTakeEffectiveEndState",
         R::unknown,
         {},
         {helper("a", 3), termination(R::crashed, {}, 100)},
         E::cleanExit,
         D::dependencyHelperFailure,
         C::medium,
         C::low},
    };
}

void PrintTo(const RuleCase& c, std::ostream* os)
{
    *os << c.name;
}

class Rules : public ::testing::TestWithParam<RuleCase>
{
};

TEST_P(Rules, DecideAndCap)
{
    const RuleCase& c = GetParam();
    const EventContext ctx = context(c.reason, c.raw);
    std::vector<Signal> signals = c.signals;
    signals.push_back(own(ctx));

    const MatchResult match = OrderedMatcher::match(ctx, signals);
    EXPECT_EQ(match.endState, c.endState);
    EXPECT_EQ(match.dominantCause, c.cause);
    EXPECT_EQ(match.confidence, c.rawConfidence);
    EXPECT_EQ(ConfidenceEnforcer::enforce(match.confidence, ctx, match.signalsUsed), c.capped);

    // Unified-log lines never change a verdict.
    std::vector<Signal> noisy = signals;
    noisy.insert(noisy.begin(), logLine());
    noisy.push_back(logLine(3));
    EXPECT_EQ(OrderedMatcher::match(ctx, noisy), match);

    // Diagnosing again from the recorded evidence gives the same verdict.
    const Diagnosis first = DiagnosisEngine().diagnose(ctx, c.signals, false);
    const Diagnosis again = DiagnosisEngine().diagnose(ctx, first.signalsUsed, false);
    EXPECT_EQ(again.endState, first.endState);
    EXPECT_EQ(again.dominantCause, first.dominantCause);
    EXPECT_EQ(again.confidence, first.confidence);
    EXPECT_EQ(first.confidence, c.capped);
}

INSTANTIATE_TEST_SUITE_P(OrderedMatcher, Rules, ::testing::ValuesIn(ruleCases()), [](const auto& info) {
    return std::string(info.param.name);
});

// Each row has evidence for two neighbouring rules; the earlier rule must decide, which shows in
// the cause or in the signal the verdict leads with.
TEST(OrderedMatcher, EarlierRuleWinsOverItsNeighbour)
{
    using D = DominantCause;
    struct Row
    {
        const char* rules;
        R reason;
        std::vector<Signal> signals; // the context's own termination is appended
        D cause;
        Signal first;
    };
    const CrashReportSignal loaderReport = flagged(true, false, false);
    const CrashReportSignal crashingLoaderReport = flagged(true, false, false, 0, "EXC_CRASH (SIGABRT)");
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
        const EventContext ctx =
            context(row.reason, row.reason == R::crashed ? "SIGSEGV" : std::optional<std::string>());
        std::vector<Signal> signals = row.signals;
        signals.push_back(own(ctx));
        const MatchResult match = OrderedMatcher::match(ctx, signals);
        EXPECT_EQ(match.dominantCause, row.cause) << row.rules;
        ASSERT_FALSE(match.signalsUsed.empty()) << row.rules;
        EXPECT_EQ(match.signalsUsed.front(), row.first) << row.rules;
    }
}

TEST(OrderedMatcher, SignalsUsedFollowTheRule)
{
    const EventContext ctx = context(R::unknown);
    const Signal t = own(ctx);

    // Rule 3: the made loader signal, the report, then the terminations.
    const CrashReportSignal loaderReport = [] {
        CrashReportSignal r = flagged(true, false, false, -2);
        r.dyldFailureKind = DyldFailureKind::missingLibrary;
        return r;
    }();
    EXPECT_EQ(OrderedMatcher::match(ctx, {loaderReport, t}).signalsUsed,
              (std::vector<Signal>{DyldSignal{at(-2), DyldFailureKind::other, "Dynamic loader failure"},
                                   loaderReport, t}));

    CrashReportSignal emptyMessage = loaderReport;
    emptyMessage.dyldErrorMessage = "";
    EXPECT_EQ(OrderedMatcher::match(ctx, {emptyMessage}).signalsUsed.front(),
              Signal(DyldSignal{at(-2), DyldFailureKind::other, ""}));

    // Rules 7 and 9 make their own signals from the report.
    const CrashReportSignal hang = flagged(false, false, true, 1);
    EXPECT_EQ(OrderedMatcher::match(ctx, {hang, t}).signalsUsed,
              (std::vector<Signal>{WatchdogSignal{at(1), "App became unresponsive (watchdog)"}, hang, t}));
    const CrashReportSignal oom = flagged(false, true, false, 1);
    EXPECT_EQ(OrderedMatcher::match(ctx, {oom, t}).signalsUsed,
              (std::vector<Signal>{JetsamSignal{at(1), "System memory pressure (jetsam)", direct}, oom, t}));
    EXPECT_EQ(OrderedMatcher::match(ctx, {hang, t}, Wording::linuxDesktop).signalsUsed.front(),
              Signal(WatchdogSignal{at(1), "App became unresponsive (ended from the desktop)"}));
    EXPECT_EQ(OrderedMatcher::match(ctx, {oom, t}, Wording::linuxDesktop).signalsUsed.front(),
              Signal(JetsamSignal{at(1), "System memory pressure (out-of-memory kill)", direct}));

    // Rule 5 uses the crashed termination alone, not every termination.
    const EventContext crashedCtx = context(R::crashed, "SIGSEGV");
    const Signal other = termination(R::quit, "x", 4);
    EXPECT_EQ(OrderedMatcher::match(crashedCtx, {other, own(crashedCtx)}).signalsUsed,
              (std::vector<Signal>{own(crashedCtx)}));

    // Rule 1: the first policy signal only, then every termination in pool order.
    const Signal p1 = policy(-3);
    const Signal p2 = PolicySignal{at(-1), PolicyBlockKind::quarantine, "q"};
    const Signal t2 = termination(R::quit, {}, 2);
    EXPECT_EQ(OrderedMatcher::match(ctx, {t2, p1, p2, t}).signalsUsed, (std::vector<Signal>{p1, t2, t}));

    // Rule 11: every helper signal, then the terminations.
    const Signal h1 = helper(std::nullopt, std::nullopt, -5);
    const Signal h2 = helper(std::nullopt, std::nullopt, -4);
    EXPECT_EQ(OrderedMatcher::match(ctx, {h1, t, h2}).signalsUsed, (std::vector<Signal>{h1, h2, t}));
}

TEST(OrderedMatcher, PoolKeepsSignalsWithinNinetySeconds)
{
    const EventContext ctx = context(R::unknown);
    const Signal t = own(ctx);
    EXPECT_EQ(OrderedMatcher::match(ctx, {watchdog(-90), t}).dominantCause,
              DominantCause::killedWatchdogHang);
    EXPECT_EQ(OrderedMatcher::match(ctx, {watchdog(90), t}).dominantCause, DominantCause::killedWatchdogHang);
    EXPECT_EQ(OrderedMatcher::match(ctx, {watchdog(-91), t}).dominantCause, DominantCause::unknown);
    EXPECT_EQ(OrderedMatcher::match(ctx, {watchdog(90.5), t}).dominantCause, DominantCause::unknown);

    // With nothing near the termination, every signal counts.
    const MatchResult farOnly = OrderedMatcher::match(ctx, {watchdog(-300), termination(R::killed, {}, 500)});
    EXPECT_EQ(farOnly.dominantCause, DominantCause::killedWatchdogHang);
    EXPECT_EQ(farOnly.signalsUsed.size(), 2u);
}

TEST(OrderedMatcher, LatestCandidateReportWinsAndTiesKeepPoolOrder)
{
    const EventContext ctx = context(R::unknown);
    EXPECT_EQ(OrderedMatcher::match(ctx, {report("EXC_CRASH (SIGABRT)", 10), report("EXC_BAD_ACCESS", 0)})
                  .dominantCause,
              DominantCause::crashAbort);
    EXPECT_EQ(OrderedMatcher::match(ctx, {report("EXC_CRASH (SIGABRT)", 0), report("EXC_BAD_ACCESS", 10)})
                  .dominantCause,
              DominantCause::crashBug);
    EXPECT_EQ(OrderedMatcher::match(ctx, {report("EXC_BAD_ACCESS", 5), report("EXC_CRASH (SIGABRT)", 5)})
                  .dominantCause,
              DominantCause::crashBug);

    CrashReportSignal abortBySignal = report("EXC_CRASH");
    abortBySignal.terminationSignal = "Abort trap: 6";
    EXPECT_EQ(OrderedMatcher::match(ctx, {abortBySignal}).dominantCause, DominantCause::crashAbort);
}

TEST(OrderedMatcher, BestMemorySignalPrefersDirectThenLatest)
{
    const EventContext ctx = context(R::unknown);
    const Signal lateCorrelated = memory(correlated, 20);
    const Signal earlyDirect = memory(direct, -20);
    const Signal lateDirect = JetsamSignal{at(10), "later", direct};
    const MatchResult m = OrderedMatcher::match(ctx, {lateCorrelated, earlyDirect, lateDirect});
    EXPECT_EQ(m.confidence, Confidence::high);
    EXPECT_EQ(m.signalsUsed.front(), lateDirect);
}

TEST(OrderedMatcher, EffectiveEndStateForUnknownReason)
{
    const EventContext ctx = context(R::unknown);
    const Signal anonymousHelper = helper(std::nullopt, std::nullopt);
    const auto endStateWith = [&](std::vector<Signal> signals) {
        signals.push_back(anonymousHelper);
        return OrderedMatcher::match(ctx, signals).endState;
    };
    EXPECT_EQ(endStateWith({}), EndState::cleanExit);
    EXPECT_EQ(endStateWith({termination(R::killed)}), EndState::killed);
    EXPECT_EQ(endStateWith({termination(R::killed), termination(R::crashed, "x", 200)}), EndState::killed);
}

TEST(ConfidenceEnforcer, CapTable)
{
    using C = Confidence;
    const EventContext unknown = context(R::unknown);
    const EventContext killed = context(R::killed);
    const Signal unknownTermination = own(unknown);
    const Signal bareReport = report("  ");
    const Signal correlatedMemory = memory(correlated);
    const Signal anonymousHelper = helper(std::nullopt, std::nullopt);

    EXPECT_EQ(ConfidenceEnforcer::enforce(C::high, unknown, {bareReport, unknownTermination}), C::low);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::high, unknown, {bareReport, anonymousHelper}), C::medium);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::high, unknown, {report("EXC_CRASH")}), C::high);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::high, killed, {}), C::high);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::high, unknown, {correlatedMemory}), C::high);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::medium, unknown, {correlatedMemory, unknownTermination}),
              C::low);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::medium, killed, {correlatedMemory, own(killed)}), C::medium);
    EXPECT_EQ(ConfidenceEnforcer::enforce(C::low, killed, {policy(), dyld(), own(killed)}), C::low);

    EXPECT_EQ(ConfidenceEnforcer::evidenceKindCount({}), 0);
    EXPECT_EQ(ConfidenceEnforcer::evidenceKindCount({unknownTermination, anonymousHelper, anonymousHelper}),
              1);
    EXPECT_FALSE(ConfidenceEnforcer::hasDirectEvidence(unknown, {anonymousHelper, logLine(), bareReport}));
    EXPECT_TRUE(ConfidenceEnforcer::hasDirectEvidence(unknown, {anonymousHelper, termination(R::quit)}));
}

} // namespace
} // namespace exitwise::core
