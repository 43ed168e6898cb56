// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace exitwise::cli {

// Shorter prefixes would match most of a long history.
inline constexpr std::size_t kMinimumIdPrefixDigits = 4;

// What a reference given on the command line names among the stored events.
struct EventLookup
{
    enum class Kind
    {
        fullId,
        prefix,
        latest,
        invalid
    };
    Kind kind = Kind::invalid;
    // The events it names, in stored order: one when found, several when ambiguous.
    std::vector<const app::AppEvent*> matches;
};

// Which form `reference` has, without looking at any event.
[[nodiscard]] EventLookup::Kind referenceKind(std::string_view reference);

// `reference` is a whole id (any case), the start of one (at least kMinimumIdPrefixDigits hex
// digits, any case, hyphens anywhere or nowhere), or "latest": the first of `events`,
// which are stored newest first.
[[nodiscard]] EventLookup lookUpEvent(const std::vector<app::AppEvent>& events, std::string_view reference);

} // namespace exitwise::cli
