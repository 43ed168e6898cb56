// SPDX-License-Identifier: MIT
#include "core/evidence/LogPredicate.h"

#include "core/evidence/UnifiedLogProvider.h"
#include "support/Files.h"
#include "support/SampleContexts.h"

#include <gtest/gtest.h>
#include <sstream>

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

// Only the parentheses the meaning needs are added; the log provider's predicates, printed
// exactly in tests/data/logs/predicates.txt, show the rest of the printed form.
TEST(LogPredicate, PrintsOnlyTheParenthesesTheMeaningNeeds)
{
    const auto a = P::equals(Field::process, "a");
    const auto b = P::equals(Field::process, "b");
    const auto c = P::equals(Field::process, "c");
    EXPECT_EQ(P::allOf({P::anyOf({a, b}), c}).text(),
              R"((process == "a" OR process == "b") AND process == "c")");
    EXPECT_EQ(P::anyOf({P::allOf({a, b}), c}, 2).text(),
              R"(process == "a" AND process == "b"  OR process == "c")");
    EXPECT_EQ(P::anyOf({a}), a);
    EXPECT_THROW((void)P::anyOf(std::vector<LogPredicate>{}), std::invalid_argument);
}

// The log provider's predicates and a few more forms parse back to what printed them.
TEST(LogPredicate, ParsingPrintedTextGivesTheSameText)
{
    std::vector<std::string> texts = {
        R"(process == "a" OR process == "b"  OR process == "c" AND process == "d")",
        R"(processIdentifier IN {-1, 2} OR process IN {})",
        "eventMessage CONTAINS[c] \"two\nlines\"",
    };
    for (const std::string& line : test::dataLines(EXITWISE_TEST_DATA_DIR "/logs/predicates.txt")) {
        if (!line.starts_with("== ")) {
            texts.push_back(line);
        }
    }
    ASSERT_EQ(texts.size(), 9u);
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

// The log tool's query is text built around the application's name: no name may change what
// the query asks for.
EventContext contextNamed(const std::string& name, std::optional<std::string> bundle = std::nullopt)
{
    EventContext context = test::sketchPadContext(Date{}, TerminationReason::unknown, std::nullopt);
    context.appName = name;
    context.bundleIdentifier = std::move(bundle);
    return context;
}

TEST(LogPredicate, HostileNamesStayLiterals)
{
    const auto lineSaying = [](std::string message) {
        return LogEntry{Date{}, "other", 99, "/usr/bin/other", std::move(message)};
    };
    for (const std::string name :
         {"\" OR 1==1 OR \"", "\" OR eventMessage CONTAINS[c] \"", "\\\" OR eventMessage CONTAINS[c] \\\"",
          "x\") OR (eventMessage CONTAINS[c] \"", "trailing backslash\\", "'single' \"double\"", "two\nlines",
          "evil\u202E", "bad \xC3\x28 utf-8 \xFF", ""}) {
        for (const std::optional<std::string>& bundle : {std::optional<std::string>(), std::optional(name)}) {
            SCOPED_TRACE(name);
            const LogPredicate query = UnifiedLogProvider::toolPredicate(contextNamed(name, bundle));
            // The query built around the name as a literal is what the text says.
            EXPECT_EQ(parsed(query.text()), query);
            if (!name.empty()) {
                EXPECT_FALSE(query.matches(lineSaying("nothing to see"))) << query.text();
                EXPECT_TRUE(query.matches(lineSaying("before " + name + " after")));
            }
            const LogPredicate store =
                UnifiedLogProvider::storePredicate(contextNamed(name, bundle), {"kernel"});
            EXPECT_EQ(parsed(store.text()), store);
        }
    }
}

TEST(LogPredicate, NulInANameCannotWidenTheToolsQuery)
{
    // The query reaches the tool as one argument, which ends at the first NUL. What is left is
    // an unterminated string: the tool refuses it instead of running a shorter query.
    const std::string name("nul\0\" OR eventMessage CONTAINS[c] \"", 36);
    const std::string text = UnifiedLogProvider::toolPredicate(contextNamed(name)).text();
    const std::string asArgument = text.substr(0, text.find('\0'));
    EXPECT_TRUE(std::holds_alternative<LogPredicate::ParseError>(LogPredicate::parse(asArgument)))
        << asArgument;
}

} // namespace
} // namespace exitwise::core
