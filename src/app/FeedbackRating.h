// SPDX-License-Identifier: MIT
#pragma once

#include "core/Enum.h"

#include <array>
#include <string_view>
#include <utility>

namespace exitwise::app {

// The user's verdict on one diagnosis; stored as its raw value.
enum class FeedbackRating
{
    helpful,
    unhelpful
};

} // namespace exitwise::app

template <> struct exitwise::core::EnumTraits<exitwise::app::FeedbackRating>
{
    static constexpr std::array<std::pair<exitwise::app::FeedbackRating, std::string_view>, 2> values{{
        {exitwise::app::FeedbackRating::helpful, "helpful"},
        {exitwise::app::FeedbackRating::unhelpful, "unhelpful"},
    }};
};
