// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"
#include "core/EventContext.h"
#include "core/ExplanationWording.h"
#include "core/Signal.h"
#include "core/SignalProvider.h"

#include <memory>
#include <vector>

namespace exitwise::core {

// Turns what is known about one closure into a Diagnosis: adds the context's own termination,
// optionally asks the providers for fresh evidence, matches, caps the confidence and renders
// the explanation. A copyable value; diagnose() may run on several threads at once.
class DiagnosisEngine
{
public:
    using Providers = std::vector<std::shared_ptr<const SignalProvider>>;

    DiagnosisEngine() = default;
    // `wording` is the set of texts the explanations (and the signals the engine makes) use.
    explicit DiagnosisEngine(Providers providers, Wording wording = Wording::macos);

    [[nodiscard]] const Providers& providers() const { return m_providers; }
    [[nodiscard]] Wording wording() const { return m_wording; }

    // Never fails. With `collectFreshSignals`, every provider runs on its own thread and each
    // one's signals are appended as one block, in the order the providers finish; a provider
    // that throws contributes nothing. Blocks until the last provider returns.
    [[nodiscard]] Diagnosis diagnose(const EventContext& context,
                                     const std::vector<Signal>& initialSignals,
                                     bool collectFreshSignals) const;

    // The context's own termination, as the engine adds it to the evidence.
    [[nodiscard]] static TerminationSignal terminationSignal(const EventContext& context);

private:
    [[nodiscard]] std::vector<Signal> collect(const EventContext& context) const;

    Providers m_providers;
    Wording m_wording = Wording::macos;
};

} // namespace exitwise::core
