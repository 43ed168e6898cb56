// SPDX-License-Identifier: MIT
#pragma once

#include "core/EventContext.h"
#include "core/Signal.h"

#include <vector>

namespace exitwise::core {

// One source of evidence about a closure.
//
// collectSignals() is called from several threads at once (one per provider and diagnosis,
// and several diagnoses may overlap), so implementations keep no shared mutable state and make
// no assumption about the calling thread or about other providers. It never throws: a source
// that cannot be read contributes fewer signals, possibly none.
class SignalProvider
{
public:
    virtual ~SignalProvider() = default;

    [[nodiscard]] virtual std::vector<Signal> collectSignals(const EventContext& context) const = 0;
};

} // namespace exitwise::core
