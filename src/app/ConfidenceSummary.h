// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <optional>
#include <string>
#include <vector>

namespace exitwise::app {

// Why a diagnosis has the confidence it has, in words: shown under "Why this confidence".
struct ConfidenceSummary
{
    std::string headline;                     // "Confidence is medium based on 1 signal."
    std::vector<std::string> evidenceBullets; // one per evidence class present; never empty
    std::optional<std::string> caveat;        // medium and low only

    friend bool operator==(const ConfidenceSummary&, const ConfidenceSummary&) = default;
};

[[nodiscard]] ConfidenceSummary confidenceSummary(const core::Diagnosis& diagnosis);

} // namespace exitwise::app
