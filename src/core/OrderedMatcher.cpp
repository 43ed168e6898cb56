// SPDX-License-Identifier: MIT
#include "core/OrderedMatcher.h"

#include "core/Text.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

namespace exitwise::core {

namespace {

// The pool split by kind, in pool order.
struct Pool
{
    std::vector<TerminationSignal> terminations;
    std::vector<CrashReportSignal> crashReports;
    std::vector<PolicySignal> policies;
    std::vector<DyldSignal> loaderFailures;
    std::vector<WatchdogSignal> watchdogs;
    std::vector<JetsamSignal> memorySignals;
    std::vector<LaunchdSignal> helpers;
};

std::vector<Signal> selectPool(const EventContext& context, const std::vector<Signal>& signals)
{
    std::vector<Signal> near;
    for (const Signal& signal : signals) {
        if (std::abs((signal.timestamp() - context.terminatedAt).count()) <= OrderedMatcher::kPoolSeconds) {
            near.push_back(signal);
        }
    }
    // With nothing near the termination, every signal is considered.
    return near.empty() ? signals : near;
}

Pool partition(const std::vector<Signal>& pool)
{
    Pool result;
    for (const Signal& signal : pool) {
        std::visit(
            [&result](const auto& payload) {
                using T = std::decay_t<decltype(payload)>;
                if constexpr (std::is_same_v<T, TerminationSignal>) {
                    result.terminations.push_back(payload);
                } else if constexpr (std::is_same_v<T, CrashReportSignal>) {
                    result.crashReports.push_back(payload);
                } else if constexpr (std::is_same_v<T, PolicySignal>) {
                    result.policies.push_back(payload);
                } else if constexpr (std::is_same_v<T, DyldSignal>) {
                    result.loaderFailures.push_back(payload);
                } else if constexpr (std::is_same_v<T, WatchdogSignal>) {
                    result.watchdogs.push_back(payload);
                } else if constexpr (std::is_same_v<T, JetsamSignal>) {
                    result.memorySignals.push_back(payload);
                } else if constexpr (std::is_same_v<T, LaunchdSignal>) {
                    result.helpers.push_back(payload);
                }
                // Unified-log lines inform the user but decide nothing.
            },
            signal.payload());
    }
    return result;
}

bool isCrashLike(const CrashReportSignal& report)
{
    if (!report.exceptionType) {
        return false;
    }
    const std::string type = text::trimmed(*report.exceptionType);
    return !type.empty() && (type.starts_with("EXC_") || text::containsIgnoringCase(type, "SIG"));
}

bool passesAbortTest(const CrashReportSignal& report)
{
    return text::containsIgnoringCase(report.exceptionType.value_or(""), "SIGABRT")
           || text::containsIgnoringCase(report.terminationSignal.value_or(""), "ABORT");
}

// "SIGABRT" does not contain "abort", so the abbreviation is tested as well.
bool rawValueIsAbort(const std::optional<std::string>& rawValue)
{
    if (!rawValue) {
        return false;
    }
    const std::string lower = text::lowercased(*rawValue);
    return lower.find("abort") != std::string::npos || lower.find("abrt") != std::string::npos;
}

template <class T, class Pred> const T* firstWhere(const std::vector<T>& list, Pred pred)
{
    const auto it = std::find_if(list.begin(), list.end(), pred);
    return it == list.end() ? nullptr : &*it;
}

bool hasMemoryEvidence(const Pool& pool)
{
    return !pool.memorySignals.empty()
           || std::any_of(pool.crashReports.begin(), pool.crashReports.end(),
                          [](const CrashReportSignal& r) { return r.suspectedJetsamMemory; });
}

std::optional<CrashReportSignal> bestCrashReport(const Pool& pool)
{
    const CrashReportSignal* best = nullptr;
    for (const CrashReportSignal& report : pool.crashReports) {
        const bool resourceLimit =
            text::containsIgnoringCase(report.exceptionType.value_or(""), "EXC_RESOURCE");
        if (!resourceLimit && isCrashLike(report)
            && (best == nullptr || report.timestamp > best->timestamp)) {
            best = &report;
        }
    }
    if (best != nullptr) {
        return *best;
    }
    // A resource-limit report is left to the memory rules when there is memory evidence.
    if (hasMemoryEvidence(pool)) {
        return std::nullopt;
    }
    if (const auto* first = firstWhere(pool.crashReports, isCrashLike)) {
        return *first;
    }
    return std::nullopt;
}

std::optional<JetsamSignal> bestMemorySignal(const Pool& pool)
{
    if (pool.memorySignals.empty()) {
        return std::nullopt;
    }
    std::vector<JetsamSignal> ordered = pool.memorySignals;
    std::stable_sort(ordered.begin(), ordered.end(), [](const JetsamSignal& a, const JetsamSignal& b) {
        const bool aDirect = a.evidence == MemoryPressureEvidence::directTermination;
        const bool bDirect = b.evidence == MemoryPressureEvidence::directTermination;
        if (aDirect != bDirect) {
            return aDirect;
        }
        return a.timestamp > b.timestamp;
    });
    return ordered.front();
}

bool passesHelperTest(const EventContext& context, const Pool& pool)
{
    if (pool.helpers.size() >= 2) {
        return true;
    }
    const bool reasonKnown =
        context.reason() != TerminationReason::unknown
        || std::any_of(pool.terminations.begin(), pool.terminations.end(),
                       [](const TerminationSignal& t) { return t.reason != TerminationReason::unknown; });
    return std::any_of(pool.helpers.begin(), pool.helpers.end(), [reasonKnown](const LaunchdSignal& helper) {
        return (helper.exitCount && *helper.exitCount >= 2)
               || (helper.serviceName && !helper.serviceName->empty() && reasonKnown);
    });
}

EndState effectiveEndState(const EventContext& context, const Pool& pool)
{
    switch (context.reason()) {
    case TerminationReason::crashed:
        return EndState::crash;
    case TerminationReason::killed:
        return EndState::killed;
    case TerminationReason::quit:
        return EndState::cleanExit;
    case TerminationReason::unknown:
        break;
    }
    const auto anyReport = [&pool](auto pred) {
        return std::any_of(pool.crashReports.begin(), pool.crashReports.end(), pred);
    };
    const auto anyTermination = [&pool](TerminationReason reason) {
        return std::any_of(pool.terminations.begin(), pool.terminations.end(),
                           [reason](const TerminationSignal& t) { return t.reason == reason; });
    };
    if (!pool.policies.empty() || !pool.loaderFailures.empty()
        || anyReport([](const CrashReportSignal& r) { return r.suspectedDyldFailure; })) {
        return EndState::launchBlocked;
    }
    if (!pool.watchdogs.empty() || !pool.memorySignals.empty() || anyReport([](const CrashReportSignal& r) {
            return r.suspectedWatchdogHang || r.suspectedJetsamMemory;
        })) {
        return EndState::killed;
    }
    if (anyReport(isCrashLike) || anyTermination(TerminationReason::crashed)) {
        return EndState::crash;
    }
    if (anyTermination(TerminationReason::killed)) {
        return EndState::killed;
    }
    return EndState::cleanExit;
}

// `first` followed by every termination of the pool.
std::vector<Signal> withTerminations(std::vector<Signal> first, const Pool& pool)
{
    first.insert(first.end(), pool.terminations.begin(), pool.terminations.end());
    return first;
}

} // namespace

MatchResult
OrderedMatcher::match(const EventContext& context, const std::vector<Signal>& signals, Wording wording)
{
    const Pool pool = partition(selectPool(context, signals));
    const auto result = [](EndState endState, DominantCause cause, Confidence confidence,
                           std::vector<Signal> used) {
        return MatchResult{endState, cause, confidence, std::move(used)};
    };

    // 1. Policy block.
    if (!pool.policies.empty()) {
        return result(EndState::launchBlocked, DominantCause::policyBlocked, Confidence::high,
                      withTerminations({pool.policies.front()}, pool));
    }
    // 2. Loader failure.
    if (!pool.loaderFailures.empty()) {
        return result(EndState::launchBlocked, DominantCause::dyldFailure, Confidence::high,
                      withTerminations({pool.loaderFailures.front()}, pool));
    }
    // 3. A crash report that shows a loader failure.
    if (const auto* report = firstWhere(pool.crashReports,
                                        [](const CrashReportSignal& r) { return r.suspectedDyldFailure; })) {
        const DyldSignal made{report->timestamp, DyldFailureKind::other,
                              report->dyldErrorMessage.value_or("Dynamic loader failure")};
        return result(EndState::launchBlocked, DominantCause::dyldFailure, Confidence::high,
                      withTerminations({made, *report}, pool));
    }
    // 4. A crash report.
    if (const auto report = bestCrashReport(pool)) {
        const DominantCause cause =
            passesAbortTest(*report) ? DominantCause::crashAbort : DominantCause::crashBug;
        return result(EndState::crash, cause, Confidence::high, withTerminations({*report}, pool));
    }
    // 5. A crash reported by the termination itself.
    if (const auto* crashed = firstWhere(pool.terminations, [](const TerminationSignal& t) {
            return t.reason == TerminationReason::crashed;
        })) {
        const DominantCause cause =
            rawValueIsAbort(crashed->rawValue) ? DominantCause::crashAbort : DominantCause::crashBug;
        return result(EndState::crash, cause, Confidence::high, {*crashed});
    }
    // 6. Watchdog.
    if (!pool.watchdogs.empty()) {
        return result(EndState::killed, DominantCause::killedWatchdogHang, Confidence::high,
                      withTerminations({pool.watchdogs.front()}, pool));
    }
    // 7. A crash report that shows a watchdog kill.
    if (const auto* report = firstWhere(pool.crashReports,
                                        [](const CrashReportSignal& r) { return r.suspectedWatchdogHang; })) {
        const WatchdogSignal made{report->timestamp, std::string(explanationWording(wording).hangFromReport)};
        return result(EndState::killed, DominantCause::killedWatchdogHang, Confidence::high,
                      withTerminations({made, *report}, pool));
    }
    // 8. Memory pressure.
    if (const auto memory = bestMemorySignal(pool)) {
        const Confidence confidence = memory->evidence == MemoryPressureEvidence::directTermination
                                          ? Confidence::high
                                          : Confidence::medium;
        return result(EndState::killed, DominantCause::killedJetsamMemory, confidence,
                      withTerminations({*memory}, pool));
    }
    // 9. A crash report that shows a memory kill.
    if (const auto* report = firstWhere(pool.crashReports,
                                        [](const CrashReportSignal& r) { return r.suspectedJetsamMemory; })) {
        const JetsamSignal made{report->timestamp,
                                std::string(explanationWording(wording).memoryKillFromReport),
                                MemoryPressureEvidence::directTermination};
        return result(EndState::killed, DominantCause::killedJetsamMemory, Confidence::high,
                      withTerminations({made, *report}, pool));
    }
    // 10. A quit request.
    if (context.reason() == TerminationReason::quit
        || firstWhere(pool.terminations, [](const TerminationSignal& t) {
               return t.reason == TerminationReason::quit;
           }) != nullptr) {
        return result(EndState::cleanExit, DominantCause::explicitQuit, Confidence::high,
                      withTerminations({}, pool));
    }
    // 11. A failing helper. Every helper signal is kept, so that matching the recorded signals
    // again passes the helper test the same way.
    if (!pool.helpers.empty() && passesHelperTest(context, pool)) {
        return result(effectiveEndState(context, pool), DominantCause::dependencyHelperFailure,
                      Confidence::medium,
                      withTerminations(std::vector<Signal>(pool.helpers.begin(), pool.helpers.end()), pool));
    }
    // 12. Nothing decisive.
    return result(effectiveEndState(context, pool), DominantCause::unknown, Confidence::low,
                  withTerminations({}, pool));
}

} // namespace exitwise::core
