// SPDX-License-Identifier: MIT
#pragma once

#include "core/Enum.h"

#include <array>
#include <string_view>
#include <utility>

namespace exitwise::ui {

// The event list's confidence filter. Declaration order (core::allCases) is the order of its
// segments, and each raw value is its segment label.
enum class ConfidenceFilter
{
    all,
    high,
    medium,
    low
};

} // namespace exitwise::ui

template <> struct exitwise::core::EnumTraits<exitwise::ui::ConfidenceFilter>
{
    static constexpr std::array<std::pair<exitwise::ui::ConfidenceFilter, std::string_view>, 4> values{{
        {exitwise::ui::ConfidenceFilter::all, "All"},
        {exitwise::ui::ConfidenceFilter::high, "High"},
        {exitwise::ui::ConfidenceFilter::medium, "Medium"},
        {exitwise::ui::ConfidenceFilter::low, "Low"},
    }};
};
