// SPDX-License-Identifier: MIT
#pragma once

#include "app/Uuid.h"
#include "core/Diagnosis.h"
#include "core/Json.h"

#include <string>

namespace exitwise::app {

// One rating the user gave a diagnosis, as a line of "feedback.jsonl".
struct FeedbackRecord
{
    Uuid eventID;
    std::string appName;
    core::DominantCause dominantCause = core::DominantCause::unknown;
    core::Confidence confidence = core::Confidence::low;
    bool helpful = false;
    core::Date recordedAt;

    friend bool operator==(const FeedbackRecord&, const FeedbackRecord&) = default;
};

[[nodiscard]] core::json::Json encode(const FeedbackRecord& record, const core::json::Options& options = {});
[[nodiscard]] FeedbackRecord decodeFeedbackRecord(const core::json::Json& value,
                                                  const core::json::Options& options = {});

} // namespace exitwise::app
