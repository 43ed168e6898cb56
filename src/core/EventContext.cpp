// SPDX-License-Identifier: MIT
#include "core/EventContext.h"

#include <utility>

namespace exitwise::core {

EventContext contextAround(TerminationFacts facts, double correlationSeconds)
{
    const Date end = facts.terminatedAt;
    return EventContext{std::move(facts),
                        TimestampWindow{end - Seconds(correlationSeconds), end + Seconds(correlationSeconds)},
                        std::nullopt};
}

} // namespace exitwise::core
