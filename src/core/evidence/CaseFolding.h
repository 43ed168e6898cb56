// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

// Case-insensitive search for text that is tested against many needles: fold the haystack
// once, then search with plain substring tests. Agrees with text::containsIgnoringCase.
namespace exitwise::core::detail {

// NFC-composed, fully case-folded text. Invalid UTF-8 is only ASCII-lower-cased.
[[nodiscard]] std::string caseFolded(std::string_view text);

// Substring test on two folded texts; an empty needle is never found.
[[nodiscard]] inline bool foldedContains(std::string_view foldedHaystack, std::string_view foldedNeedle)
{
    return !foldedNeedle.empty() && foldedHaystack.find(foldedNeedle) != std::string_view::npos;
}

} // namespace exitwise::core::detail
