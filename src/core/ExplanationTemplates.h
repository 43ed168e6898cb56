// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"
#include "core/ExplanationWording.h"
#include "core/Signal.h"

#include <string_view>
#include <vector>

namespace exitwise::core::ExplanationTemplates {

// The explanation card for a diagnosis, in the texts of `wording`. `confidence` is the
// already-capped confidence; at `low` the action texts are replaced by the cautious variant
// and a note is added.
[[nodiscard]] ExplanationCard render(std::string_view appName,
                                     DominantCause dominantCause,
                                     Confidence confidence,
                                     const std::vector<Signal>& signalsUsed,
                                     Wording wording = Wording::macos);

} // namespace exitwise::core::ExplanationTemplates
