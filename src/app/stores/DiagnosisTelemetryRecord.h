// SPDX-License-Identifier: MIT
#pragma once

#include "app/Uuid.h"
#include "core/Diagnosis.h"
#include "core/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::app {

// Facts about one diagnosed event: what was concluded from which signals, how long it took,
// and the user's latest rating once given.
struct DiagnosisTelemetryRecord
{
    Uuid eventID;
    std::string appName;
    core::DominantCause dominantCause = core::DominantCause::unknown;
    core::Confidence confidence = core::Confidence::low;
    std::vector<std::string> signalsUsed; // one-line texts, in the diagnosis's order
    std::int64_t timeToDiagnosisMS = 0;
    std::optional<bool> helpful;
    core::Date recordedAt;
    std::optional<core::Date> feedbackAt;

    friend bool operator==(const DiagnosisTelemetryRecord&, const DiagnosisTelemetryRecord&) = default;
};

[[nodiscard]] core::json::Json encode(const DiagnosisTelemetryRecord& record,
                                      const core::json::Options& options = {});
[[nodiscard]] DiagnosisTelemetryRecord
decodeDiagnosisTelemetryRecord(const core::json::Json& value, const core::json::Options& options = {});

} // namespace exitwise::app
