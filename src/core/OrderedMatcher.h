// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"
#include "core/EventContext.h"
#include "core/ExplanationWording.h"
#include "core/Signal.h"

#include <vector>

namespace exitwise::core {

// The matcher's raw decision, before the confidence is capped.
struct MatchResult
{
    EndState endState = EndState::cleanExit;
    DominantCause dominantCause = DominantCause::unknown;
    Confidence confidence = Confidence::low;
    std::vector<Signal> signalsUsed;

    friend bool operator==(const MatchResult&, const MatchResult&) = default;
};

// A fixed, ordered list of rules over the signals of one closure. The first rule that applies
// decides. Pure: no clock, no I/O, no state; every input yields a result.
namespace OrderedMatcher {

// Signals further than this from the termination are ignored, unless none is closer.
inline constexpr double kPoolSeconds = 90.0;

// Signals the matcher makes from a crash report's hints carry the texts of `wording`.
[[nodiscard]] MatchResult
match(const EventContext& context, const std::vector<Signal>& signals, Wording wording = Wording::macos);

} // namespace OrderedMatcher

} // namespace exitwise::core
