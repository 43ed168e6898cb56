// SPDX-License-Identifier: MIT
#include "core/evidence/LogPredicate.h"

#include "core/evidence/CaseFolding.h"
#include "core/evidence/LogPredicateSyntax.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <utility>

namespace exitwise::core {

namespace {

using detail::isIntegerField;
using detail::kFieldNames;

void printLiteral(std::string& out, const LogPredicate::Literal& literal)
{
    if (const auto* number = std::get_if<std::int64_t>(&literal)) {
        out += std::to_string(*number);
    } else {
        out += '"';
        out += LogPredicate::escaped(std::get<std::string>(literal));
        out += '"';
    }
}

} // namespace

struct LogPredicate::FoldedFields
{
    explicit FoldedFields(const LogEntry& entry)
        : entry(entry)
    {}

    const std::string& get(Field field)
    {
        switch (field) {
        case Field::process:
            return fold(process, entry.process);
        case Field::processImagePath:
        case Field::senderImagePath:
            return fold(imagePath, entry.imagePath);
        case Field::composedMessage:
        case Field::eventMessage:
        case Field::processIdentifier:
            break;
        }
        return fold(message, entry.message);
    }

    static const std::string& fold(std::optional<std::string>& slot, const std::string& value)
    {
        if (!slot) {
            slot = detail::caseFolded(value);
        }
        return *slot;
    }

    const LogEntry& entry;
    std::optional<std::string> message;
    std::optional<std::string> process;
    std::optional<std::string> imagePath;
};

std::string LogPredicate::ParseError::describe() const
{
    return "column " + std::to_string(offset + 1) + ": " + message;
}

LogPredicate::LogPredicate(Kind kind, Field field, std::vector<Literal> values)
    : m_kind(kind)
    , m_field(field)
    , m_values(std::move(values))
{
    if (m_kind == Kind::containsIgnoringCase) {
        m_foldedValue = detail::caseFolded(std::get<std::string>(m_values.front()));
    }
}

LogPredicate::LogPredicate(Kind kind, std::vector<LogPredicate> operands, std::vector<int> spacesBefore)
    : m_kind(kind)
    , m_operands(std::move(operands))
    , m_spacesBefore(std::move(spacesBefore))
{}

LogPredicate LogPredicate::equals(Field field, Literal value)
{
    return LogPredicate(Kind::equals, field, {std::move(value)});
}

LogPredicate LogPredicate::in(Field field, std::vector<Literal> values)
{
    return LogPredicate(Kind::in, field, std::move(values));
}

LogPredicate LogPredicate::containsIgnoringCase(Field field, std::string value)
{
    return LogPredicate(Kind::containsIgnoringCase, field, {std::move(value)});
}

LogPredicate LogPredicate::anyOf(std::vector<LogPredicate> operands, int spacesBefore)
{
    const std::size_t gaps = operands.empty() ? 0 : operands.size() - 1;
    return anyOf(std::move(operands), std::vector<int>(gaps, spacesBefore));
}

LogPredicate LogPredicate::allOf(std::vector<LogPredicate> operands, int spacesBefore)
{
    const std::size_t gaps = operands.empty() ? 0 : operands.size() - 1;
    return allOf(std::move(operands), std::vector<int>(gaps, spacesBefore));
}

LogPredicate LogPredicate::anyOf(std::vector<LogPredicate> operands, std::vector<int> spacesBefore)
{
    return compound(Kind::anyOf, std::move(operands), std::move(spacesBefore));
}

LogPredicate LogPredicate::allOf(std::vector<LogPredicate> operands, std::vector<int> spacesBefore)
{
    return compound(Kind::allOf, std::move(operands), std::move(spacesBefore));
}

LogPredicate
LogPredicate::compound(Kind kind, std::vector<LogPredicate> operands, std::vector<int> spacesBefore)
{
    if (operands.empty() || spacesBefore.size() != operands.size() - 1) {
        throw std::invalid_argument("a compound log predicate needs operands and one spacing per keyword");
    }
    if (operands.size() == 1) {
        return std::move(operands.front());
    }
    return LogPredicate(kind, std::move(operands), std::move(spacesBefore));
}

LogPredicate LogPredicate::grouped(LogPredicate operand)
{
    std::vector<LogPredicate> operands;
    operands.push_back(std::move(operand));
    return LogPredicate(Kind::grouped, std::move(operands), {});
}

std::variant<LogPredicate, LogPredicate::ParseError> LogPredicate::parse(std::string_view text)
{
    return detail::parseLogPredicate(text);
}

std::string_view LogPredicate::fieldName(Field field)
{
    for (const auto& [candidate, spelling] : kFieldNames) {
        if (candidate == field) {
            return spelling;
        }
    }
    return {};
}

std::string LogPredicate::escaped(std::string_view value)
{
    std::string result;
    result.reserve(value.size());
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            result.push_back('\\');
        }
        result.push_back(c);
    }
    return result;
}

std::string LogPredicate::text() const
{
    std::string out;
    print(out);
    return out;
}

void LogPredicate::print(std::string& out) const
{
    switch (m_kind) {
    case Kind::equals:
        out += fieldName(m_field);
        out += " == ";
        printLiteral(out, m_values.front());
        return;
    case Kind::in:
        out += fieldName(m_field);
        out += " IN {";
        for (std::size_t i = 0; i < m_values.size(); ++i) {
            if (i > 0) {
                out += ", ";
            }
            printLiteral(out, m_values[i]);
        }
        out += '}';
        return;
    case Kind::containsIgnoringCase:
        out += fieldName(m_field);
        out += " CONTAINS[c] ";
        printLiteral(out, m_values.front());
        return;
    case Kind::grouped:
        out += '(';
        m_operands.front().print(out);
        out += ')';
        return;
    case Kind::anyOf:
    case Kind::allOf:
        break;
    }
    const std::string_view keyword = m_kind == Kind::anyOf ? "OR " : "AND ";
    for (std::size_t i = 0; i < m_operands.size(); ++i) {
        if (i > 0) {
            out.append(static_cast<std::size_t>(std::max(1, m_spacesBefore[i - 1])), ' ');
            out += keyword;
        }
        // AND binds tighter than OR: an OR inside an AND needs parentheses to keep its meaning.
        const bool parenthesize = m_kind == Kind::allOf && m_operands[i].m_kind == Kind::anyOf;
        if (parenthesize) {
            out += '(';
        }
        m_operands[i].print(out);
        if (parenthesize) {
            out += ')';
        }
    }
}

bool LogPredicate::matches(const LogEntry& entry) const
{
    FoldedFields folded(entry);
    return matches(entry, folded);
}

bool LogPredicate::matches(const LogEntry& entry, FoldedFields& folded) const
{
    const auto equalsLiteral = [&](const Literal& literal) {
        if (isIntegerField(m_field)) {
            const auto* number = std::get_if<std::int64_t>(&literal);
            return number != nullptr && entry.processIdentifier && *entry.processIdentifier == *number;
        }
        const auto* text = std::get_if<std::string>(&literal);
        if (text == nullptr) {
            return false;
        }
        switch (m_field) {
        case Field::process:
            return entry.process == *text;
        case Field::processImagePath:
        case Field::senderImagePath:
            return entry.imagePath == *text;
        default:
            return entry.message == *text;
        }
    };
    switch (m_kind) {
    case Kind::equals:
        return equalsLiteral(m_values.front());
    case Kind::in:
        for (const Literal& literal : m_values) {
            if (equalsLiteral(literal)) {
                return true;
            }
        }
        return false;
    case Kind::containsIgnoringCase:
        return !isIntegerField(m_field) && detail::foldedContains(folded.get(m_field), m_foldedValue);
    case Kind::grouped:
        return m_operands.front().matches(entry, folded);
    case Kind::anyOf:
        for (const LogPredicate& operand : m_operands) {
            if (operand.matches(entry, folded)) {
                return true;
            }
        }
        return false;
    case Kind::allOf:
        for (const LogPredicate& operand : m_operands) {
            if (!operand.matches(entry, folded)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

} // namespace exitwise::core
