// SPDX-License-Identifier: MIT
#include "core/Text.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace text = exitwise::core::text;
using namespace std::string_literals;

namespace {

// Trimming, lowercasing and sanitizing, with what must hold whatever the text: blank means
// nothing left after trimming, and sanitizing changes exactly the invalid texts.
TEST(Text, MapsTextsAsWritten)
{
    using Map = std::string (*)(std::string_view);
    const auto trim = text::trimmed;
    const auto lower = text::lowercased;
    const auto sanitize = text::sanitizedUtf8;
    // helper, name, input, expected
    // clang-format off
    const std::vector<std::tuple<Map, const char*, std::string, std::string>> cases = {
        {trim, "asciiWhiteSpace", " \t\r\nhello world\r\n\t\v\f ", "hello world"},
        {trim, "unicodeWhiteSpace", "\u00A0\u2028\u0085\u3000\u2009hello\u202F\u2029\u00A0", "hello"},
        {trim, "innerWhiteSpaceKept", " a \u00A0 b ", "a \u00A0 b"},
        {trim, "onlySpaces", " \t\u00A0\u2028\r\n", ""},
        {trim, "empty", "", ""},
        {trim, "zeroWidthSpaceIsNotWhiteSpace", "\u200Bhello\u200B", "\u200Bhello\u200B"},
        {trim, "invalidByteStopsTrimming", " \xFF hello \xFE ", "\xFF hello \xFE"},
        {lower, "ascii", "Hello World", "hello world"},
        {lower, "latin", "ÉCOLE Ÿ", "école ÿ"},
        {lower, "greek", "ΣΊΣΥΦΟΣ", "σίσυφοσ"},
        {lower, "eszettStaysOneCodePoint", "STRAẞE", "straße"},
        {lower, "invalidBytesKept", "A\xFF" "B\xC3", "a\xFF" "b\xC3"},
        {lower, "surrogateBytesKept", "Q\xED\xA0\x80Q", "q\xED\xA0\x80q"},
        {sanitize, "validUnchanged", "Grüße \U0001F44D", "Grüße \U0001F44D"},
        {sanitize, "loneByte", "a\xFF" "b", "a\uFFFDb"},
        {sanitize, "truncatedSequenceIsOneReplacement", "ab\xE2\x82", "ab\uFFFD"},
        {sanitize, "truncatedThenAscii", "\xF0\x9F\x91x", "\uFFFDx"},
        {sanitize, "overlongPerByte", "\xC0\xAF", "\uFFFD\uFFFD"},
        {sanitize, "surrogatePerByte", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        {sanitize, "beyondMaxPerByte", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {sanitize, "embeddedNulIsValid", "a\0b"s, "a\0b"s},
    };
    // clang-format on
    for (const auto& [map, name, input, expected] : cases) {
        EXPECT_EQ(map(input), expected) << name;
        EXPECT_EQ(text::isBlank(input), text::trimmed(input).empty()) << name;
        const std::string sanitized = text::sanitizedUtf8(input);
        EXPECT_TRUE(text::isValidUtf8(sanitized)) << name;
        EXPECT_EQ(text::isValidUtf8(input), sanitized == input) << name;
    }
}

TEST(TextContainsIgnoringCase, FoldsFullUnicodeCase)
{
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, bool>> cases = { // haystack, needle, found
        {"Firefox crashed", "FIREFOX", true},
        {"Straße", "STRASSE", true},
        {"STRASSE", "straße", true},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true},
        // Decomposed and precomposed forms of the same text match.
        {"cafe\u0301 au lait", "CAFÉ", true},
        {"CAFÉ", "cafe\u0301", true},
        // Folding is not accent stripping: "é" is one code point after NFC.
        {"cafe", "café", false},
        {"résumé", "RESUME", false},
        {"short", "much longer needle", false},
        // An empty needle is never found.
        {"anything", "", false},
        {"\xFF", "", false},
        // Invalid input falls back to ASCII matching, without Unicode folding.
        {"Seg\xFF" "FAULT in libfoo", "fault", true},
        {"x\xFFY", "\xFFy", true},
        {"x\xFFY", "\xFEy", false},
        {"STRASSE \xFF", "straße", false},
    };
    // clang-format on
    for (const auto& [haystack, needle, found] : cases) {
        EXPECT_EQ(text::containsIgnoringCase(haystack, needle), found) << haystack << " / " << needle;
    }
}

TEST(TextCharacters, CountsGraphemeClusters)
{
    // clang-format off
    const std::vector<std::tuple<const char*, std::string, std::size_t>> cases = {
        {"empty", "", 0},
        {"crlfIsOneCharacter", "a\r\nb", 3},
        {"combiningMark", "e\u0301e\u0301", 2},
        {"stackedMarks", "a\u0300\u0316\u0301", 1},
        {"hangulJamo", "\u1100\u1161\u11A8", 1},
        {"zwjFamily", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", 1},
        {"twoFlags", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
        {"oddRegionalIndicators", "\U0001F1E9\U0001F1EA\U0001F1EB", 2},
        {"skinTone", "\U0001F44D\U0001F3FD!", 2},
        {"eachInvalidByteIsOne", "a\xFF\xFE" "b", 4},
        {"truncatedSequenceBytes", "\xE2\x82", 2},
        {"markAfterInvalidByteStartsFresh", "\xFF\u0301", 2},
        {"flagPairingRestartsAfterInvalidByte", "\U0001F1E9\xFF\U0001F1EA\U0001F1EB", 3},
        {"zwjRestartsAfterInvalidByte", "\U0001F468\u200D\xFF\u200D\U0001F469", 4},
    };
    // clang-format on
    for (const auto& [name, input, count] : cases) {
        EXPECT_EQ(text::characterCount(input), count) << name;
    }
}

TEST(TextShortened, CutsOnlyBetweenGraphemeClusters)
{
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    // clang-format off
    const std::vector<std::tuple<const char*, std::string, std::size_t, std::string>> cases = {
        {"exactlyNUnchanged", "abcde", 5, "abcde"},
        {"fewerUnchanged", "abc", 5, "abc"},
        {"nPlusOneShortened", "abcdef", 5, "abcde…"},
        {"zero", "abc", 0, "…"},
        {"emptyStaysEmpty", "", 0, ""},
        {"combiningMarkKept", "e\u0301e\u0301e\u0301", 2, "e\u0301e\u0301…"},
        {"combiningMarksExactlyN", "e\u0301e\u0301", 2, "e\u0301e\u0301"},
        {"zwjFamilyNotSplit", "a" + family + "b", 2, "a" + family + "…"},
        {"zwjFamilyAlone", family, 1, family},
        {"flagsNotSplit", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 1, "\U0001F1E9\U0001F1EA…"},
        {"skinToneNotSplit", "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FF", 1, "\U0001F44D\U0001F3FD…"},
        {"invalidBytesKept", "\xFF\xFE\xFD", 2, "\xFF\xFE…"},
    };
    // clang-format on
    for (const auto& [name, input, max, expected] : cases) {
        EXPECT_EQ(text::shortened(input, max), expected) << name;
    }
}

} // namespace
