// SPDX-License-Identifier: MIT
#include "app/ConfidenceSummary.h"

#include "core/Text.h"

#include <cstddef>

namespace exitwise::app {

namespace {

enum class EvidenceClass
{
    direct,
    correlated,
    inferred
};

EvidenceClass classify(const core::Signal& signal)
{
    switch (signal.type()) {
    case core::SignalType::jetsam:
        return signal.as<core::JetsamSignal>()->evidence == core::MemoryPressureEvidence::directTermination
                   ? EvidenceClass::direct
                   : EvidenceClass::correlated;
    case core::SignalType::launchd:
    case core::SignalType::unifiedLog:
        return EvidenceClass::inferred;
    case core::SignalType::termination:
    case core::SignalType::crashReport:
    case core::SignalType::policy:
    case core::SignalType::dyld:
    case core::SignalType::watchdog:
        break;
    }
    return EvidenceClass::direct;
}

std::string counted(std::size_t n, const char* what)
{
    return std::to_string(n) + what + (n == 1 ? "signal" : "signals");
}

} // namespace

ConfidenceSummary confidenceSummary(const core::Diagnosis& diagnosis)
{
    std::size_t direct = 0;
    std::size_t correlated = 0;
    std::size_t inferred = 0;
    for (const core::Signal& signal : diagnosis.signalsUsed) {
        switch (classify(signal)) {
        case EvidenceClass::direct:
            ++direct;
            break;
        case EvidenceClass::correlated:
            ++correlated;
            break;
        case EvidenceClass::inferred:
            ++inferred;
            break;
        }
    }

    ConfidenceSummary summary;
    if (direct > 0) {
        summary.evidenceBullets.push_back(counted(direct, " direct OS-level "));
    }
    if (correlated > 0) {
        summary.evidenceBullets.push_back(counted(correlated, " correlated evidence "));
    }
    if (inferred > 0) {
        summary.evidenceBullets.push_back(counted(inferred, " inferred/context "));
    }
    if (summary.evidenceBullets.empty()) {
        summary.evidenceBullets.emplace_back("No supporting signals were captured for this event.");
    }

    const std::size_t total = diagnosis.signalsUsed.size();
    summary.headline = "Confidence is " + core::text::lowercased(core::rawValue(diagnosis.confidence))
                       + " based on " + std::to_string(total) + (total == 1 ? " signal." : " signals.");

    switch (diagnosis.confidence) {
    case core::Confidence::high:
        break;
    case core::Confidence::medium:
        summary.caveat = "Strong evidence exists, but alternate causes are still possible.";
        break;
    case core::Confidence::low:
        summary.caveat =
            "Evidence is limited. Treat this as the best current hypothesis and verify with additional logs.";
        break;
    }
    return summary;
}

} // namespace exitwise::app
