// SPDX-License-Identifier: MIT
#include "core/evidence/LogPredicate.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using Field = LogPredicate::Field;
using P = LogPredicate;

LogPredicate parsed(std::string_view text)
{
    auto result = LogPredicate::parse(text);
    if (const auto* error = std::get_if<LogPredicate::ParseError>(&result)) {
        ADD_FAILURE() << text << ": " << error->describe();
        return LogPredicate::equals(Field::process, "unparsable");
    }
    return std::get<LogPredicate>(std::move(result));
}

// Groups are kept, and only the parentheses the meaning needs are added.
TEST(LogPredicate, PrintsEscapedComparisonsAndGroups)
{
    const auto a = P::equals(Field::process, "a");
    const auto b = P::equals(Field::process, "b");
    const auto c = P::equals(Field::process, "c");
    // clang-format off
    const std::vector<std::pair<LogPredicate, std::string>> cases = {
        {P::equals(Field::processIdentifier, std::int64_t{812}), "processIdentifier == 812"},
        {P::equals(Field::process, R"(Say "hi" \o/)"), R"(process == "Say \"hi\" \\o/")"},
        {P::in(Field::process, {"kernel", "launchd"}), R"(process IN {"kernel", "launchd"})"},
        {P::containsIgnoringCase(Field::senderImagePath, "x"), R"(senderImagePath CONTAINS[c] "x")"},
        {P::allOf({P::anyOf({a, b}), c}), R"((process == "a" OR process == "b") AND process == "c")"},
        {P::anyOf({P::allOf({a, b}), c}, 2), R"(process == "a" AND process == "b"  OR process == "c")"},
        {P::allOf({P::grouped(a), P::grouped(b)}), R"((process == "a") AND (process == "b"))"},
    };
    // clang-format on
    for (const auto& [predicate, text] : cases) {
        EXPECT_EQ(predicate.text(), text);
    }
    EXPECT_EQ(P::anyOf({a}), a);
    EXPECT_EQ(P::escaped(R"(a\"b)"), R"(a\\\"b)");
    EXPECT_THROW((void)P::anyOf(std::vector<LogPredicate>{}), std::invalid_argument);
}

TEST(LogPredicate, ParsingPrintedTextGivesTheSameText)
{
    const std::vector<std::string> texts = {
        R"(processIdentifier == 812 OR process == "Sketch Pad" OR composedMessage CONTAINS[c] "org.example" OR )"
        R"((process IN {"syspolicyd", "kernel"}) AND (composedMessage CONTAINS[c] "Sketch Pad") OR )"
        R"(composedMessage CONTAINS[c] "Sketch Pad")",
        R"((eventMessage CONTAINS[c] "a\"b\\c"  OR processImagePath CONTAINS[c] "x") OR (eventMessage CONTAINS[c] )"
        R"("jetsam"  OR eventMessage CONTAINS[c] "SIGTERM"))",
        R"((process IN {"launchd", "kernel"}) AND (eventMessage CONTAINS[c] "Sketch Pad" OR eventMessage )"
        R"(CONTAINS[c] "812"))",
        R"(process == "a" OR process == "b"  OR process == "c" AND process == "d")",
        R"(processIdentifier IN {-1, 2} OR process IN {})",
        "eventMessage CONTAINS[c] \"two\nlines\"",
    };
    for (const std::string& text : texts) {
        const LogPredicate predicate = parsed(text);
        EXPECT_EQ(predicate.text(), text);
        EXPECT_EQ(parsed(predicate.text()), predicate) << text;
    }
    // Keywords in any case, single quotes and escapes parse; printing is canonical.
    EXPECT_EQ(
        parsed("(process in {'a'}) and eventMessage contains[C] 'x\\ty' or processIdentifier==-5").text(),
        "(process IN {\"a\"}) AND eventMessage CONTAINS[c] \"x\ty\" OR processIdentifier == -5");
}

TEST(LogPredicate, ParseErrorsSayWhatAndWhere)
{
    // clang-format off
    // text, column (0: not checked), message
    const std::vector<std::tuple<std::string, std::size_t, std::string>> rows = {
        {"", 1, "empty predicate"},
        {"   ", 4, "empty predicate"},
        {"process", 8, "expected ==, IN or CONTAINS[c] after 'process', found the end of the predicate"},
        {"process ==", 11, "expected a quoted string for process, found the end of the predicate"},
        {"process = \"x\"", 9, "unsupported operator '='"},
        {"process CONTAINS \"x\"", 9, "unsupported operator 'CONTAINS'"},
        {"process CONTAINS[cd] \"x\"", 9, "unsupported operator 'CONTAINS[cd]'"},
        {"name == \"x\"", 1, "expected a field name"},
        {"processIdentifier == \"812\"", 22, "expected an integer for processIdentifier"},
        {"processIdentifier CONTAINS[c] \"8\"", 19, "CONTAINS[c] needs a text field"},
        {"process == 5", 12, "expected a quoted string for process"},
        {"processIdentifier == 99999999999999999999", 22, "integer out of range"},
        {"(process == \"x\"", 16, "expected ')', found the end of the predicate"},
        {"process == \"x\")", 15, "expected AND, OR or the end of the predicate, found ')'"},
        {"process == \"x", 12, "unterminated string"},
        {"process == \"\\x\"", 13, "unsupported escape sequence '\\x'"},
        {"process IN {\"a\" \"b\"}", 17, "expected ',' or '}'"},
        {"process IN \"a\"", 12, "expected '{' after IN"},
        {"process == \"x\" && process == \"y\"", 16, "unsupported operator '&&'"},
        {"process == \"x\" # comment", 16, "unexpected character '#'"},
        // Deep nesting is refused instead of exhausting the stack.
        {std::string(100000, '(') + "process == \"x\"" + std::string(100000, ')'), 0, "parentheses nested too deeply"},
    };
    // clang-format on
    for (const auto& [text, column, message] : rows) {
        const auto result = LogPredicate::parse(text);
        const auto* error = std::get_if<LogPredicate::ParseError>(&result);
        ASSERT_NE(error, nullptr) << text;
        EXPECT_TRUE(column == 0 || error->offset + 1 == column) << text << ": " << error->describe();
        EXPECT_NE(error->message.find(message), std::string::npos) << text << ": " << error->describe();
    }
}

TEST(LogPredicate, EvaluatesAgainstEntries)
{
    const LogEntry kernel{Date{}, "kernel", std::nullopt, "",
                          "Out of memory: Killed process 812 (Sketch Pad)"};
    const LogEntry app{Date{}, "sketchpad", 812, "/opt/Sketch Pad/bin/sketchpad", "saved drawing.svg"};
    // clang-format off
    // predicate, matches kernel, matches app
    const std::vector<std::tuple<std::string, bool, bool>> rows = {
        {"processIdentifier == 812", false, true},
        {"processIdentifier IN {1, 812}", false, true},
        {"process == \"kernel\"", true, false},
        {"process == \"Kernel\"", false, false},
        {"process IN {\"launchd\", \"kernel\"}", true, false},
        {"eventMessage CONTAINS[c] \"SKETCH PAD\"", true, false},
        {"composedMessage CONTAINS[c] \"drawing\"", false, true},
        {"eventMessage CONTAINS[c] \"\"", false, false},
        {"processImagePath CONTAINS[c] \"sketch pad\"", false, true},
        {"senderImagePath CONTAINS[c] \"/opt/\"", false, true},
        {"process CONTAINS[c] \"SKETCH\"", false, true},
        {"(process IN {\"kernel\"}) AND (eventMessage CONTAINS[c] \"sketch pad\")", true, false},
        {"process == \"kernel\" AND processIdentifier == 812 OR process == \"sketchpad\"", false, true},
        {"process == \"kernel\" AND (processIdentifier == 812 OR process == \"sketchpad\")", false, false},
    };
    // clang-format on
    for (const auto& [text, kernelMatches, appMatches] : rows) {
        const LogPredicate predicate = parsed(text);
        EXPECT_EQ(std::pair(predicate.matches(kernel), predicate.matches(app)),
                  std::pair(kernelMatches, appMatches))
            << text;
    }
    EXPECT_FALSE(LogPredicate::equals(Field::processIdentifier, "812").matches(app));
}

} // namespace
} // namespace exitwise::core
