// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode text helpers shared by the diagnosis core and the layers above it. Inputs are
// UTF-8; invalid sequences never crash a helper.
namespace exitwise::core::text {

// Removes white space and line breaks (Unicode categories Zs/Zl/Zp, U+0009–U+000D, U+0085)
// from both ends.
[[nodiscard]] std::string trimmed(std::string_view text);

// True when the text is empty after trimming.
[[nodiscard]] bool isBlank(std::string_view text);

// Unicode lower-casing, code point by code point. Invalid bytes are kept as they are.
[[nodiscard]] std::string lowercased(std::string_view text);

// Case-insensitive substring search with full Unicode case folding (NFC-normalised).
// An empty needle is never found.
[[nodiscard]] bool containsIgnoringCase(std::string_view haystack, std::string_view needle);

// Number of user-perceived characters (extended grapheme clusters).
[[nodiscard]] std::size_t characterCount(std::string_view text);

// Text of more than `maxCharacters` user-perceived characters becomes its first
// `maxCharacters` characters followed by "…"; shorter text is returned unchanged.
[[nodiscard]] std::string shortened(std::string_view text, std::size_t maxCharacters);

// Replaces every invalid UTF-8 sequence with U+FFFD, so the result is always valid UTF-8.
[[nodiscard]] std::string sanitizedUtf8(std::string_view text);

[[nodiscard]] bool isValidUtf8(std::string_view text);

} // namespace exitwise::core::text
