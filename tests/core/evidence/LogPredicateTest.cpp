// SPDX-License-Identifier: MIT
#include "core/evidence/LogPredicate.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using Field = LogPredicate::Field;

LogPredicate parsed(std::string_view text)
{
    auto result = LogPredicate::parse(text);
    if (const auto* error = std::get_if<LogPredicate::ParseError>(&result)) {
        ADD_FAILURE() << text << ": " << error->describe();
        return LogPredicate::equals(Field::process, "unparsable");
    }
    return std::get<LogPredicate>(std::move(result));
}

TEST(LogPredicate, PrintsComparisonsWithEscapedStrings)
{
    EXPECT_EQ(LogPredicate::equals(Field::processIdentifier, std::int64_t{812}).text(),
              "processIdentifier == 812");
    EXPECT_EQ(LogPredicate::equals(Field::process, R"(Say "hi" \o/)").text(),
              R"(process == "Say \"hi\" \\o/")");
    EXPECT_EQ(LogPredicate::in(Field::process, {"kernel", "launchd"}).text(),
              R"(process IN {"kernel", "launchd"})");
    EXPECT_EQ(LogPredicate::containsIgnoringCase(Field::senderImagePath, "x").text(),
              R"(senderImagePath CONTAINS[c] "x")");
    EXPECT_EQ(LogPredicate::escaped(R"(a\"b)"), R"(a\\\"b)");
}

TEST(LogPredicate, KeepsGroupsAndAddsOnlyTheParenthesesMeaningNeeds)
{
    const auto a = LogPredicate::equals(Field::process, "a");
    const auto b = LogPredicate::equals(Field::process, "b");
    const auto c = LogPredicate::equals(Field::process, "c");
    EXPECT_EQ(LogPredicate::allOf({LogPredicate::anyOf({a, b}), c}).text(),
              R"((process == "a" OR process == "b") AND process == "c")");
    EXPECT_EQ(LogPredicate::anyOf({LogPredicate::allOf({a, b}), c}, 2).text(),
              R"(process == "a" AND process == "b"  OR process == "c")");
    EXPECT_EQ(LogPredicate::allOf({LogPredicate::grouped(a), LogPredicate::grouped(b)}).text(),
              R"((process == "a") AND (process == "b"))");
    EXPECT_EQ(LogPredicate::anyOf({a}), a);
    EXPECT_THROW((void)LogPredicate::anyOf(std::vector<LogPredicate>{}), std::invalid_argument);
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
}

// Keywords in any case, single quotes and escapes parse; printing is canonical.
TEST(LogPredicate, ParseAcceptsOtherSpellings)
{
    EXPECT_EQ(
        parsed("(process in {'a'}) and eventMessage contains[C] 'x\\ty' or processIdentifier==-5").text(),
        "(process IN {\"a\"}) AND eventMessage CONTAINS[c] \"x\ty\" OR processIdentifier == -5");
}

TEST(LogPredicate, ParseErrorsSayWhatAndWhere)
{
    struct Row
    {
        std::string text;
        std::size_t column;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"", 1, "empty predicate"},
        {"   ", 4, "empty predicate"},
        {"process", 8, "expected ==, IN or CONTAINS[c] after 'process', found the end of the predicate"},
        {"process ==", 11, "expected a quoted string for process, found the end of the predicate"},
        {"process = \"x\"", 9, "unsupported operator '='"},
        {"process != \"x\"", 9, "unsupported operator '!='"},
        {"process LIKE \"x\"", 9, "unsupported operator 'LIKE'"},
        {"process CONTAINS \"x\"", 9, "unsupported operator 'CONTAINS'"},
        {"process CONTAINS[cd] \"x\"", 9, "unsupported operator 'CONTAINS[cd]'"},
        {"name == \"x\"", 1, "expected a field name"},
        {"NOT process == \"x\"", 1, "expected a field name"},
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
        {"process == \"x\" AND", 19, "expected a field name"},
        {"process == \"x\" && process == \"y\"", 16, "unsupported operator '&&'"},
        {"process == \"x\" # comment", 16, "unexpected character '#'"},
    };
    for (const Row& row : rows) {
        const auto result = LogPredicate::parse(row.text);
        const auto* error = std::get_if<LogPredicate::ParseError>(&result);
        ASSERT_NE(error, nullptr) << row.text;
        EXPECT_EQ(error->offset + 1, row.column) << row.text << ": " << error->describe();
        EXPECT_NE(error->message.find(row.message), std::string::npos)
            << row.text << ": " << error->describe();
    }
    // Deep nesting is refused instead of exhausting the stack.
    const std::string deep = std::string(100000, '(') + "process == \"x\"" + std::string(100000, ')');
    const auto result = LogPredicate::parse(deep);
    ASSERT_TRUE(std::holds_alternative<LogPredicate::ParseError>(result));
    EXPECT_EQ(std::get<LogPredicate::ParseError>(result).message, "parentheses nested too deeply");
}

TEST(LogPredicate, EvaluatesAgainstEntries)
{
    const LogEntry kernel{Date{}, "kernel", std::nullopt, "",
                          "Out of memory: Killed process 812 (Sketch Pad)"};
    const LogEntry app{Date{}, "sketchpad", 812, "/opt/Sketch Pad/bin/sketchpad", "saved drawing.svg"};
    const std::vector<std::tuple<std::string, bool, bool>> rows = {
        // predicate, matches kernel, matches app
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
    for (const auto& [text, kernelMatches, appMatches] : rows) {
        const LogPredicate predicate = parsed(text);
        EXPECT_EQ(predicate.matches(kernel), kernelMatches) << text;
        EXPECT_EQ(predicate.matches(app), appMatches) << text;
    }
    EXPECT_FALSE(LogPredicate::equals(Field::processIdentifier, "812").matches(app));
}

} // namespace
} // namespace exitwise::core
