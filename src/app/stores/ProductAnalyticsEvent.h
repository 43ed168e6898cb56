// SPDX-License-Identifier: MIT
#pragma once

#include "app/Uuid.h"
#include "core/Enum.h"
#include "core/Json.h"

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace exitwise::app {

// A notable user action, stored by its raw value.
enum class ProductAnalyticsEventName
{
    appOpened,
    diagnosisViewed,
    confidenceNoteExpanded,
    actionCopied,
    feedbackSubmitted,
    onboardingViewed,
    onboardingCompleted
};

// One line of "product_events.jsonl". Its date is ISO 8601 text in whole UTC seconds.
struct ProductAnalyticsEvent
{
    Uuid id;
    ProductAnalyticsEventName name = ProductAnalyticsEventName::appOpened;
    std::map<std::string, std::string> attributes;
    core::Date recordedAt;

    friend bool operator==(const ProductAnalyticsEvent&, const ProductAnalyticsEvent&) = default;
};

[[nodiscard]] core::json::Json encode(const ProductAnalyticsEvent& event);
[[nodiscard]] ProductAnalyticsEvent decodeProductAnalyticsEvent(const core::json::Json& value);

} // namespace exitwise::app

template <> struct exitwise::core::EnumTraits<exitwise::app::ProductAnalyticsEventName>
{
    using Name = exitwise::app::ProductAnalyticsEventName;
    static constexpr std::array<std::pair<Name, std::string_view>, 7> values{{
        {Name::appOpened, "app_opened"},
        {Name::diagnosisViewed, "diagnosis_viewed"},
        {Name::confidenceNoteExpanded, "confidence_note_expanded"},
        {Name::actionCopied, "action_copied"},
        {Name::feedbackSubmitted, "feedback_submitted"},
        {Name::onboardingViewed, "onboarding_viewed"},
        {Name::onboardingCompleted, "onboarding_completed"},
    }};
};
