// SPDX-License-Identifier: MIT
#include "core/ConfidenceEnforcer.h"

#include "core/Text.h"

#include <algorithm>
#include <set>

namespace exitwise::core::ConfidenceEnforcer {

namespace {

bool hasText(const std::optional<std::string>& value)
{
    return value && !text::isBlank(*value);
}

bool isDirect(const Signal& signal)
{
    switch (signal.type()) {
    case SignalType::termination:
        return signal.as<TerminationSignal>()->reason != TerminationReason::unknown;
    case SignalType::crashReport: {
        const auto* report = signal.as<CrashReportSignal>();
        return hasText(report->exceptionType) || hasText(report->terminationReason)
               || hasText(report->terminationSignal);
    }
    case SignalType::policy:
    case SignalType::dyld:
    case SignalType::jetsam:
    case SignalType::watchdog:
        return true;
    case SignalType::launchd:
    case SignalType::unifiedLog:
        break;
    }
    return false;
}

} // namespace

bool hasDirectEvidence(const EventContext& context, const std::vector<Signal>& signals)
{
    return context.reason() != TerminationReason::unknown
           || std::any_of(signals.begin(), signals.end(), isDirect);
}

int evidenceKindCount(const std::vector<Signal>& signals)
{
    std::set<EvidenceKind> kinds;
    for (const Signal& signal : signals) {
        if (const auto* termination = signal.as<TerminationSignal>();
            termination != nullptr && termination->reason == TerminationReason::unknown) {
            continue;
        }
        kinds.insert(signal.type());
    }
    return static_cast<int>(kinds.size());
}

Confidence enforce(Confidence raw, const EventContext& context, const std::vector<Signal>& signalsUsed)
{
    switch (raw) {
    case Confidence::high:
        if (hasDirectEvidence(context, signalsUsed)) {
            return Confidence::high;
        }
        return evidenceKindCount(signalsUsed) >= 2 ? Confidence::medium : Confidence::low;
    case Confidence::medium:
        return evidenceKindCount(signalsUsed) >= 2 ? Confidence::medium : Confidence::low;
    case Confidence::low:
        break;
    }
    return Confidence::low;
}

} // namespace exitwise::core::ConfidenceEnforcer
