// SPDX-License-Identifier: MIT
#include "core/Text.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace text = exitwise::core::text;
using namespace std::string_literals;

namespace {

struct Case
{
    std::string name;
    std::string input;
    std::string expected;
};

// Malformed inputs every helper must survive.
const std::vector<std::string> kInvalid = {
    "\xFF"s,                  // never valid in UTF-8
    "ab\xE2\x82"s,            // truncated euro sign
    "\xC0\xAF"s,              // overlong '/'
    "\xE0\x80\xAF"s,          // overlong three-byte '/'
    "x\xED\xA0\x80y"s,        // encoded high surrogate
    "\xF4\x90\x80\x80"s,      // beyond U+10FFFF
    "\x80\x80 caf\xC3\xA9 "s, // stray continuation bytes
};

} // namespace

TEST(TextTrimmed, RemovesUnicodeWhiteSpaceFromBothEnds)
{
    const std::vector<Case> cases = {
        {"ascii", "  hello  ", "hello"},
        {"tabsAndCrlf", "\t\r\nhello world\r\n\t", "hello world"},
        {"nbsp", "\u00A0hello\u00A0", "hello"},
        {"lineAndParagraphSeparators", "\u2028hello\u2029", "hello"},
        {"nelAndVerticalTab", "\u0085\vhello\f\u0085", "hello"},
        {"ideographicAndThinSpace", "\u3000\u2009hello\u202F", "hello"},
        {"innerWhiteSpaceKept", " a \u00A0 b ", "a \u00A0 b"},
        {"onlySpaces", " \t\u00A0\u2028\r\n", ""},
        {"empty", "", ""},
        {"zeroWidthSpaceIsNotWhiteSpace", "\u200Bhello\u200B", "\u200Bhello\u200B"},
        {"invalidByteStopsTrimming", " \xFF hello \xFE ", "\xFF hello \xFE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::trimmed(c.input), c.expected) << c.name;
        EXPECT_EQ(text::isBlank(c.input), c.expected.empty()) << c.name;
    }
}

TEST(TextLowercased, MapsEachCodePointAndKeepsInvalidBytes)
{
    const std::vector<Case> cases = {
        {"ascii", "Hello World", "hello world"},
        {"latin", "ÉCOLE Ÿ", "école ÿ"},
        {"greek", "ΣΊΣΥΦΟΣ", "σίσυφοσ"},
        {"cyrillic", "ПРИВЕТ Мир", "привет мир"},
        {"eszettStaysOneCodePoint", "STRAẞE", "straße"},
        {"invalidBytesKept",
         "A\xFF"
         "B\xC3",
         "a\xFF"
         "b\xC3"},
        {"surrogateBytesKept", "Q\xED\xA0\x80Q", "q\xED\xA0\x80q"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::lowercased(c.input), c.expected) << c.name;
    }
}

TEST(TextContainsIgnoringCase, FoldsFullUnicodeCase)
{
    struct Search
    {
        std::string haystack;
        std::string needle;
        bool found;
    };
    const std::vector<Search> cases = {
        {"Firefox crashed", "FIREFOX", true},
        {"Straße", "STRASSE", true},
        {"STRASSE", "straße", true},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true},
        {"Le petit ÉCOLE", "école", true},
        {"Приложение ЗАКРЫТО", "закрыто", true},
        // Decomposed and precomposed forms of the same text match.
        {"cafe\u0301 au lait", "CAFÉ", true},
        {"CAFÉ", "cafe\u0301", true},
        // Folding is not accent stripping: "é" is one code point after NFC.
        {"cafe", "café", false},
        {"café", "cafe", false},
        {"résumé", "RESUME", false},
        {"short", "much longer needle", false},
        {"", "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::containsIgnoringCase(c.haystack, c.needle), c.found)
            << c.haystack << " / " << c.needle;
    }
}

TEST(TextContainsIgnoringCase, EmptyNeedleIsNeverFound)
{
    EXPECT_FALSE(text::containsIgnoringCase("anything", ""));
    EXPECT_FALSE(text::containsIgnoringCase("", ""));
}

TEST(TextContainsIgnoringCase, InvalidInputFallsBackToAsciiMatching)
{
    EXPECT_TRUE(text::containsIgnoringCase("Seg\xFF"
                                           "FAULT in libfoo",
                                           "fault"));
    EXPECT_TRUE(text::containsIgnoringCase("x\xFFY", "\xFFy"));
    EXPECT_FALSE(text::containsIgnoringCase("x\xFFY", "\xFEy"));
    // No Unicode folding in the fallback.
    EXPECT_FALSE(text::containsIgnoringCase("STRASSE \xFF", "straße"));
    EXPECT_FALSE(text::containsIgnoringCase("\xFF", ""));
}

TEST(TextCharacters, CountsGraphemeClusters)
{
    struct Count
    {
        std::string name;
        std::string input;
        std::size_t count;
    };
    const std::vector<Count> cases = {
        {"empty", "", 0},
        {"ascii", "abc", 3},
        {"crlfIsOneCharacter", "a\r\nb", 3},
        {"combiningMark", "e\u0301e\u0301", 2},
        {"stackedMarks", "a\u0300\u0316\u0301", 1},
        {"hangulJamo", "\u1100\u1161\u11A8", 1},
        {"zwjFamily", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", 1},
        {"twoFlags", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
        {"oddRegionalIndicators", "\U0001F1E9\U0001F1EA\U0001F1EB", 2},
        {"skinTone", "\U0001F44D\U0001F3FD!", 2},
        {"eachInvalidByteIsOne",
         "a\xFF\xFE"
         "b",
         4},
        {"truncatedSequenceBytes", "\xE2\x82", 2},
        {"markAfterInvalidByteStartsFresh", "\xFF\u0301", 2},
        {"flagPairingRestartsAfterInvalidByte", "\U0001F1E9\xFF\U0001F1EA\U0001F1EB", 3},
        {"zwjRestartsAfterInvalidByte", "\U0001F468\u200D\xFF\u200D\U0001F469", 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::characterCount(c.input), c.count) << c.name;
    }
}

TEST(TextShortened, CutsOnlyBetweenGraphemeClusters)
{
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    const std::string flags = "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7";
    struct Shorten
    {
        std::string name;
        std::string input;
        std::size_t max;
        std::string expected;
    };
    const std::vector<Shorten> cases = {
        {"exactlyNUnchanged", "abcde", 5, "abcde"},
        {"fewerUnchanged", "abc", 5, "abc"},
        {"nPlusOneShortened", "abcdef", 5, "abcde…"},
        {"zero", "abc", 0, "…"},
        {"emptyStaysEmpty", "", 0, ""},
        {"combiningMarkKept", "e\u0301e\u0301e\u0301", 2, "e\u0301e\u0301…"},
        {"combiningMarksExactlyN", "e\u0301e\u0301", 2, "e\u0301e\u0301"},
        {"zwjFamilyNotSplit", "a" + family + "b", 2, "a" + family + "…"},
        {"zwjFamilyAlone", family, 1, family},
        {"flagsNotSplit", flags, 1, "\U0001F1E9\U0001F1EA…"},
        {"skinToneNotSplit", "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FF", 1, "\U0001F44D\U0001F3FD…"},
        {"invalidBytesKept", "\xFF\xFE\xFD", 2, "\xFF\xFE…"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::shortened(c.input, c.max), c.expected) << c.name;
    }
}

TEST(TextSanitized, ReplacesInvalidSequences)
{
    const std::vector<Case> cases = {
        {"validUnchanged", "Grüße \U0001F44D", "Grüße \U0001F44D"},
        {"loneByte",
         "a\xFF"
         "b",
         "a\uFFFDb"},
        {"truncatedSequenceIsOneReplacement", "ab\xE2\x82", "ab\uFFFD"},
        {"truncatedThenAscii", "\xF0\x9F\x91x", "\uFFFDx"},
        {"overlongPerByte", "\xC0\xAF", "\uFFFD\uFFFD"},
        {"surrogatePerByte", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        {"beyondMaxPerByte", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"embeddedNulIsValid", "a\0b"s, "a\0b"s},
    };
    for (const auto& c : cases) {
        const std::string out = text::sanitizedUtf8(c.input);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_TRUE(text::isValidUtf8(out)) << c.name;
        EXPECT_EQ(text::isValidUtf8(c.input), c.input == c.expected) << c.name;
    }
}

TEST(TextInvalidUtf8, EveryHelperCopes)
{
    for (const auto& bad : kInvalid) {
        SCOPED_TRACE(::testing::PrintToString(bad));
        EXPECT_FALSE(text::isValidUtf8(bad));
        EXPECT_TRUE(text::isValidUtf8(text::sanitizedUtf8(bad)));
        EXPECT_FALSE(text::isBlank(bad));
        EXPECT_FALSE(text::trimmed(bad).empty());
        EXPECT_EQ(text::lowercased(bad).size(), bad.size());
        EXPECT_GT(text::characterCount(bad), 0u);
        EXPECT_EQ(text::shortened(bad, 1000), bad);
        EXPECT_TRUE(text::containsIgnoringCase(bad, bad));
        EXPECT_FALSE(text::containsIgnoringCase("plain text", bad));
        const std::string cut = text::shortened(bad, 1);
        if (text::characterCount(bad) > 1) {
            EXPECT_EQ(cut.substr(cut.size() - 3), "…");
        }
    }
}
