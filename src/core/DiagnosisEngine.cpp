// SPDX-License-Identifier: MIT
#include "core/DiagnosisEngine.h"

#include "core/ConfidenceEnforcer.h"
#include "core/ExplanationTemplates.h"
#include "core/OrderedMatcher.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

namespace exitwise::core {

DiagnosisEngine::DiagnosisEngine(Providers providers, Wording wording)
    : m_providers(std::move(providers))
    , m_wording(wording)
{}

TerminationSignal DiagnosisEngine::terminationSignal(const EventContext& context)
{
    return TerminationSignal{context.terminatedAt, context.reason(), context.terminationRawValue,
                             context.terminationQuitAttribution};
}

std::vector<Signal> DiagnosisEngine::collect(const EventContext& context) const
{
    std::mutex mutex;
    std::vector<std::vector<Signal>> blocks; // in completion order
    blocks.reserve(m_providers.size());

    std::vector<std::thread> threads;
    threads.reserve(m_providers.size());
    for (const auto& provider : m_providers) {
        if (!provider) {
            continue;
        }
        auto run = [&mutex, &blocks, &context, provider] {
            std::vector<Signal> block;
            try {
                block = provider->collectSignals(context);
            } catch (...) {
                // A provider reports trouble only by contributing nothing.
                block.clear();
            }
            const std::lock_guard lock(mutex);
            blocks.push_back(std::move(block));
        };
        try {
            threads.emplace_back(run);
        } catch (const std::system_error&) {
            run(); // out of threads: still ask the provider, just not concurrently
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::vector<Signal> signals;
    for (auto& block : blocks) {
        std::move(block.begin(), block.end(), std::back_inserter(signals));
    }
    return signals;
}

Diagnosis DiagnosisEngine::diagnose(const EventContext& context,
                                    const std::vector<Signal>& initialSignals,
                                    bool collectFreshSignals) const
{
    std::vector<Signal> signals = initialSignals;
    // A stored diagnosis already holds the context's termination; listing it twice would
    // change the evidence count when the closure is diagnosed again.
    const Signal own = terminationSignal(context);
    if (std::find(signals.begin(), signals.end(), own) == signals.end()) {
        signals.push_back(own);
    }
    if (collectFreshSignals && !m_providers.empty()) {
        std::vector<Signal> fresh = collect(context);
        std::move(fresh.begin(), fresh.end(), std::back_inserter(signals));
    }

    MatchResult match = OrderedMatcher::match(context, signals, m_wording);
    const Confidence confidence = ConfidenceEnforcer::enforce(match.confidence, context, match.signalsUsed);
    ExplanationCard explanation = ExplanationTemplates::render(context.appName, match.dominantCause,
                                                               confidence, match.signalsUsed, m_wording);
    return Diagnosis{match.endState, match.dominantCause,   confidence, std::move(match.signalsUsed),
                     context.window, std::move(explanation)};
}

} // namespace exitwise::core
