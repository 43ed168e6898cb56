// SPDX-License-Identifier: MIT
#include "core/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utf8proc.h>

namespace exitwise::core::text {

namespace {

constexpr std::string_view kEllipsis = "\u2026";
constexpr std::string_view kReplacement = "\uFFFD";

// One step through UTF-8 text: either a valid code point or a single invalid byte.
struct Unit
{
    std::int32_t codePoint;
    std::size_t length;
    bool valid;
};

Unit decodeAt(std::string_view text, std::size_t pos)
{
    utf8proc_int32_t codePoint = -1;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos);
    const auto consumed =
        utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - pos), &codePoint);
    // Negative for malformed bytes, overlongs and encoded surrogates alike.
    if (consumed > 0 && codePoint >= 0) {
        return {codePoint, static_cast<std::size_t>(consumed), true};
    }
    return {-1, 1, false};
}

// Length of the longest prefix at `pos` that could still start a valid sequence, so a
// truncated character becomes one replacement rather than one per byte.
std::size_t invalidSequenceLength(std::string_view text, std::size_t pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t continuations = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        low = lead == 0xE0 ? 0xA0 : low;   // overlong
        high = lead == 0xED ? 0x9F : high; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        low = lead == 0xF0 ? 0x90 : low;   // overlong
        high = lead == 0xF4 ? 0x8F : high; // beyond U+10FFFF
    } else {
        return 1;
    }
    std::size_t length = 1;
    while (length <= continuations && pos + length < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos + length]);
        if (byte < low || byte > high) {
            break;
        }
        low = 0x80;
        high = 0xBF;
        ++length;
    }
    return length;
}

bool isWhiteSpace(std::int32_t codePoint)
{
    if ((codePoint >= 0x09 && codePoint <= 0x0D) || codePoint == 0x85) {
        return true;
    }
    const auto category = utf8proc_category(codePoint);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL
           || category == UTF8PROC_CATEGORY_ZP;
}

// Calls `onClusterStart(offset)` at the first byte of every extended grapheme cluster until
// it returns false. An invalid byte is a cluster of its own and resets the segmentation state.
template <typename Callback> void forEachClusterStart(std::string_view text, Callback&& onClusterStart)
{
    utf8proc_int32_t state = 0;
    std::int32_t previous = -1;
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        const bool startsCluster =
            !unit.valid || previous < 0 || utf8proc_grapheme_break_stateful(previous, unit.codePoint, &state);
        if (startsCluster && !onClusterStart(pos)) {
            return;
        }
        if (!unit.valid) {
            state = 0;
        }
        previous = unit.codePoint;
        pos += unit.length;
    }
}

struct FreeDeleter
{
    void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

// NFC plus full case folding; nullopt when utf8proc rejects the input.
std::optional<std::string> caseFolded(std::string_view text)
{
    utf8proc_uint8_t* raw = nullptr;
    const auto length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
        &raw, static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(raw);
    if (length < 0 || owned == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(owned.get()), static_cast<std::size_t>(length));
}

bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                                [&](char a, char b) { return lower(a) == lower(b); });
    return it != haystack.end();
}

} // namespace

std::string trimmed(std::string_view text)
{
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        if (!unit.valid || !isWhiteSpace(unit.codePoint)) {
            begin = std::min(begin, pos);
            end = pos + unit.length;
        }
        pos += unit.length;
    }
    return begin < end ? std::string(text.substr(begin, end - begin)) : std::string();
}

bool isBlank(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        if (!unit.valid || !isWhiteSpace(unit.codePoint)) {
            return false;
        }
        pos += unit.length;
    }
    return true;
}

std::string lowercased(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        if (unit.valid) {
            utf8proc_uint8_t buffer[4];
            const auto written = utf8proc_encode_char(utf8proc_tolower(unit.codePoint), buffer);
            result.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(written));
        } else {
            result.push_back(text[pos]);
        }
        pos += unit.length;
    }
    return result;
}

bool containsIgnoringCase(std::string_view haystack, std::string_view needle)
{
    if (needle.empty()) {
        return false;
    }
    if (!isValidUtf8(haystack) || !isValidUtf8(needle)) {
        return containsIgnoringAsciiCase(haystack, needle);
    }
    const auto foldedHaystack = caseFolded(haystack);
    const auto foldedNeedle = caseFolded(needle);
    if (!foldedHaystack || !foldedNeedle) {
        return containsIgnoringAsciiCase(haystack, needle);
    }
    // Valid UTF-8 is self-synchronising, so a byte match never starts mid-character.
    return !foldedNeedle->empty() && foldedHaystack->find(*foldedNeedle) != std::string::npos;
}

std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    forEachClusterStart(text, [&](std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string shortened(std::string_view text, std::size_t maxCharacters)
{
    std::size_t seen = 0;
    std::size_t cut = std::string_view::npos;
    forEachClusterStart(text, [&](std::size_t offset) {
        if (seen == maxCharacters) {
            cut = offset;
            return false;
        }
        ++seen;
        return true;
    });
    if (cut == std::string_view::npos) {
        return std::string(text);
    }
    std::string result(text.substr(0, cut));
    result.append(kEllipsis);
    return result;
}

std::string sanitizedUtf8(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        if (unit.valid) {
            result.append(text.substr(pos, unit.length));
            pos += unit.length;
        } else {
            result.append(kReplacement);
            pos += invalidSequenceLength(text, pos);
        }
    }
    return result;
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        const Unit unit = decodeAt(text, pos);
        if (!unit.valid) {
            return false;
        }
        pos += unit.length;
    }
    return true;
}

} // namespace exitwise::core::text
