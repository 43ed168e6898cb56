// SPDX-License-Identifier: MIT
#pragma once

#include "app/FeedbackRating.h"
#include "app/Uuid.h"
#include "core/Diagnosis.h"
#include "core/Json.h"
#include "core/Signal.h"
#include "core/TerminationFacts.h"

#include <cstdint>
#include <optional>
#include <string>

namespace exitwise::app {

// The stored record of one application closure: its facts, the diagnosis, the bookkeeping
// that tells a later version whether its verdict changed, and the user's rating.
struct AppEvent : core::TerminationFacts
{
    Uuid id{};
    core::Diagnosis diagnosis{};
    std::optional<std::string> diagnosisVersion{};
    std::optional<std::string> diagnosisHash{};
    std::optional<bool> diagnosisChanged{};
    std::optional<core::DominantCause> previousDominantCause{};
    std::optional<core::EndState> previousEndState{};
    std::optional<core::Confidence> previousConfidence{};
    std::optional<FeedbackRating> feedback{};

    friend bool operator==(const AppEvent&, const AppEvent&) = default;
};

// JSON form: keys equal the field names, absent optionals are omitted, the identifier is
// upper-case text. Decoding throws core::json::DecodeError naming the failing path.
[[nodiscard]] core::json::Json encode(const AppEvent& event, const core::json::Options& options = {});
[[nodiscard]] AppEvent decodeAppEvent(const core::json::Json& value, const core::json::Options& options = {});

[[nodiscard]] core::json::Json encode(FeedbackRating rating);
[[nodiscard]] FeedbackRating decodeFeedbackRating(const core::json::Json& value);

} // namespace exitwise::app
