// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/LogEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace exitwise::core {

// A query over log entries in the small predicate language the log store and the log tool
// accept: comparisons on a few entry fields with `==`, `IN` and `CONTAINS[c]`, combined with
// AND, OR and parentheses. A value: it prints itself as predicate text, is parsed back from
// such text and is evaluated against entries. Parentheses and the spacing before AND/OR are
// kept, so parsing printed text and printing it again gives the same bytes.
class LogPredicate
{
public:
    enum class Field
    {
        processIdentifier,
        process,
        composedMessage,
        eventMessage,
        processImagePath,
        senderImagePath
    };

    enum class Kind
    {
        equals,
        in,
        containsIgnoringCase,
        anyOf,
        allOf,
        grouped
    };

    using Literal = std::variant<std::int64_t, std::string>;

    struct ParseError
    {
        // Byte offset into the text where the problem was found.
        std::size_t offset = 0;
        std::string message;

        // "column N: message", N counted from 1.
        [[nodiscard]] std::string describe() const;
    };

    // Comparisons. Integer literals go with processIdentifier, strings with the other fields;
    // a mismatch never matches.
    [[nodiscard]] static LogPredicate equals(Field field, Literal value);
    [[nodiscard]] static LogPredicate in(Field field, std::vector<Literal> values);
    [[nodiscard]] static LogPredicate containsIgnoringCase(Field field, std::string value);

    // OR / AND of the operands; a single operand is returned as it is. `spacesBefore` is the
    // number of spaces printed before each operator keyword. Throws std::invalid_argument on
    // an empty list.
    [[nodiscard]] static LogPredicate anyOf(std::vector<LogPredicate> operands, int spacesBefore = 1);
    [[nodiscard]] static LogPredicate allOf(std::vector<LogPredicate> operands, int spacesBefore = 1);
    // As above with the spaces before each keyword given one by one (operands.size() - 1 values).
    [[nodiscard]] static LogPredicate anyOf(std::vector<LogPredicate> operands,
                                            std::vector<int> spacesBefore);
    [[nodiscard]] static LogPredicate allOf(std::vector<LogPredicate> operands,
                                            std::vector<int> spacesBefore);
    // The operand in explicit parentheses.
    [[nodiscard]] static LogPredicate grouped(LogPredicate operand);

    [[nodiscard]] static std::variant<LogPredicate, ParseError> parse(std::string_view text);

    [[nodiscard]] std::string text() const;
    [[nodiscard]] bool matches(const LogEntry& entry) const;

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] const std::vector<LogPredicate>& operands() const { return m_operands; }

    [[nodiscard]] static std::string_view fieldName(Field field);
    // Backslashes doubled, then a backslash before each quotation mark.
    [[nodiscard]] static std::string escaped(std::string_view value);

    friend bool operator==(const LogPredicate&, const LogPredicate&) = default;

private:
    struct FoldedFields;

    LogPredicate(Kind kind, Field field, std::vector<Literal> values);
    LogPredicate(Kind kind, std::vector<LogPredicate> operands, std::vector<int> spacesBefore);
    [[nodiscard]] static LogPredicate
    compound(Kind kind, std::vector<LogPredicate> operands, std::vector<int> spacesBefore);

    [[nodiscard]] bool matches(const LogEntry& entry, FoldedFields& folded) const;
    void print(std::string& out) const;

    Kind m_kind = Kind::equals;
    Field m_field = Field::process;
    std::vector<Literal> m_values;
    // The case-folded needle of a CONTAINS[c] comparison.
    std::string m_foldedValue;
    std::vector<LogPredicate> m_operands;
    // Spaces printed before each AND/OR keyword: one per operand after the first.
    std::vector<int> m_spacesBefore;
};

} // namespace exitwise::core
