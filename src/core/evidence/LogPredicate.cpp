// SPDX-License-Identifier: MIT
#include "core/evidence/LogPredicate.h"

#include "core/evidence/CaseFolding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <utility>

namespace exitwise::core {

namespace {

constexpr std::array<std::pair<LogPredicate::Field, std::string_view>, 6> kFieldNames{{
    {LogPredicate::Field::processIdentifier, "processIdentifier"},
    {LogPredicate::Field::process, "process"},
    {LogPredicate::Field::composedMessage, "composedMessage"},
    {LogPredicate::Field::eventMessage, "eventMessage"},
    {LogPredicate::Field::processImagePath, "processImagePath"},
    {LogPredicate::Field::senderImagePath, "senderImagePath"},
}};

// Hostile input must not exhaust the stack of the recursive parser and printer.
constexpr int kMaxNesting = 64;

bool isIntegerField(LogPredicate::Field field)
{
    return field == LogPredicate::Field::processIdentifier;
}

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

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

struct Token
{
    enum class Type
    {
        word,
        string,
        integer,
        equalsEquals,
        openParen,
        closeParen,
        openBrace,
        closeBrace,
        comma,
        end
    };

    Type type = Type::end;
    std::size_t offset = 0;
    std::string_view spelling;
    std::string stringValue;
    std::int64_t integerValue = 0;
    int spacesBefore = 1;
};

class ParseFailure
{
public:
    LogPredicate::ParseError error;
};

[[noreturn]] void fail(std::size_t offset, std::string message)
{
    throw ParseFailure{{offset, std::move(message)}};
}

bool isWordStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isWordChar(char c)
{
    return isWordStart(c) || (c >= '0' && c <= '9');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<Token> tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (true) {
        const std::size_t whiteStart = pos;
        bool onlySpaces = true;
        while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
            onlySpaces = onlySpaces && text[pos] == ' ';
            ++pos;
        }
        Token token;
        token.offset = pos;
        token.spacesBefore = onlySpaces && pos > whiteStart ? static_cast<int>(pos - whiteStart) : 1;
        if (pos == text.size()) {
            tokens.push_back(std::move(token));
            return tokens;
        }
        const char c = text[pos];
        const std::size_t start = pos;
        if (isWordStart(c)) {
            while (pos < text.size() && isWordChar(text[pos])) {
                ++pos;
            }
            // An option block such as [c] belongs to the operator before it.
            if (pos < text.size() && text[pos] == '[') {
                const std::size_t close = text.find(']', pos);
                if (close == std::string_view::npos) {
                    fail(pos, "unterminated option block '['");
                }
                pos = close + 1;
            }
            token.type = Token::Type::word;
        } else if (isDigit(c) || (c == '-' && pos + 1 < text.size() && isDigit(text[pos + 1]))) {
            ++pos;
            while (pos < text.size() && isDigit(text[pos])) {
                ++pos;
            }
            const auto [ptr, ec] =
                std::from_chars(text.data() + start, text.data() + pos, token.integerValue);
            if (ec != std::errc() || ptr != text.data() + pos) {
                fail(start, "integer out of range");
            }
            if (pos < text.size() && isWordChar(text[pos])) {
                fail(start, "malformed number");
            }
            token.type = Token::Type::integer;
        } else if (c == '"' || c == '\'') {
            ++pos;
            bool closed = false;
            while (pos < text.size()) {
                const char d = text[pos++];
                if (d == c) {
                    closed = true;
                    break;
                }
                if (d != '\\') {
                    token.stringValue.push_back(d);
                    continue;
                }
                if (pos == text.size()) {
                    break;
                }
                const char escape = text[pos++];
                switch (escape) {
                case '\\':
                case '"':
                case '\'':
                    token.stringValue.push_back(escape);
                    break;
                case 'n':
                    token.stringValue.push_back('\n');
                    break;
                case 't':
                    token.stringValue.push_back('\t');
                    break;
                case 'r':
                    token.stringValue.push_back('\r');
                    break;
                default:
                    fail(pos - 2, std::string("unsupported escape sequence '\\") + escape + "'");
                }
            }
            if (!closed) {
                fail(start, "unterminated string");
            }
            token.type = Token::Type::string;
        } else if (c == '=' && pos + 1 < text.size() && text[pos + 1] == '=') {
            pos += 2;
            token.type = Token::Type::equalsEquals;
        } else if (c == '(' || c == ')' || c == '{' || c == '}' || c == ',') {
            ++pos;
            token.type = c == '('   ? Token::Type::openParen
                         : c == ')' ? Token::Type::closeParen
                         : c == '{' ? Token::Type::openBrace
                         : c == '}' ? Token::Type::closeBrace
                                    : Token::Type::comma;
        } else {
            // Operators outside the subset (=, !=, <, &&, ||, …) end up here.
            std::size_t end = pos + 1;
            while (end < text.size()
                   && std::string_view("=!<>&|").find(text[end]) != std::string_view::npos) {
                ++end;
            }
            if (std::string_view("=!<>&|").find(c) != std::string_view::npos) {
                fail(start, "unsupported operator '" + std::string(text.substr(start, end - start))
                                + "' (expected ==, IN, CONTAINS[c], AND or OR)");
            }
            fail(start, "unexpected character '" + std::string(1, c) + "'");
        }
        token.spelling = text.substr(start, pos - start);
        tokens.push_back(std::move(token));
    }
}

std::string describeToken(const Token& token)
{
    if (token.type == Token::Type::end) {
        return "the end of the predicate";
    }
    // Built by appending: GCC 12 misreports `"'" + std::string(…)` under -Wrestrict.
    std::string quoted(1, '\'');
    quoted.append(token.spelling);
    quoted.push_back('\'');
    return quoted;
}

class Parser
{
public:
    explicit Parser(std::string_view text)
        : m_tokens(tokenize(text))
    {}

    LogPredicate parseAll()
    {
        if (peek().type == Token::Type::end) {
            fail(peek().offset, "empty predicate");
        }
        LogPredicate result = parseChain("OR", 0);
        if (peek().type != Token::Type::end) {
            fail(peek().offset,
                 "expected AND, OR or the end of the predicate, found " + describeToken(peek()));
        }
        return result;
    }

private:
    const Token& peek() const { return m_tokens[m_next]; }
    const Token& take() { return m_tokens[m_next++]; }

    bool atKeyword(std::string_view keyword) const
    {
        return peek().type == Token::Type::word && equalsIgnoringAsciiCase(peek().spelling, keyword);
    }

    // An OR chain of AND chains of primaries; keywords are case-insensitive.
    LogPredicate parseChain(std::string_view keyword, int depth)
    {
        const bool isOr = keyword == "OR";
        std::vector<LogPredicate> operands;
        std::vector<int> spaces;
        operands.push_back(isOr ? parseChain("AND", depth) : parsePrimary(depth));
        while (atKeyword(keyword)) {
            spaces.push_back(take().spacesBefore);
            operands.push_back(isOr ? parseChain("AND", depth) : parsePrimary(depth));
        }
        if (operands.size() == 1) {
            return std::move(operands.front());
        }
        return isOr ? LogPredicate::anyOf(std::move(operands), std::move(spaces))
                    : LogPredicate::allOf(std::move(operands), std::move(spaces));
    }

    LogPredicate parsePrimary(int depth)
    {
        if (peek().type == Token::Type::openParen) {
            if (depth >= kMaxNesting) {
                fail(peek().offset, "parentheses nested too deeply");
            }
            take();
            LogPredicate inner = parseChain("OR", depth + 1);
            if (peek().type != Token::Type::closeParen) {
                fail(peek().offset, "expected ')', found " + describeToken(peek()));
            }
            take();
            return LogPredicate::grouped(std::move(inner));
        }
        const Token& name = take();
        std::optional<LogPredicate::Field> field;
        for (const auto& [candidate, spelling] : kFieldNames) {
            if (name.type == Token::Type::word && name.spelling == spelling) {
                field = candidate;
            }
        }
        if (!field) {
            fail(name.offset,
                 "expected a field name (processIdentifier, process, composedMessage, eventMessage, "
                 "processImagePath or senderImagePath) or '(', found "
                     + describeToken(name));
        }
        const Token& op = take();
        if (op.type == Token::Type::equalsEquals) {
            return LogPredicate::equals(*field, parseLiteral(*field));
        }
        if (op.type == Token::Type::word && equalsIgnoringAsciiCase(op.spelling, "IN")) {
            return LogPredicate::in(*field, parseList(*field));
        }
        if (op.type == Token::Type::word && equalsIgnoringAsciiCase(op.spelling, "CONTAINS[c]")) {
            if (isIntegerField(*field)) {
                fail(op.offset, "CONTAINS[c] needs a text field, not processIdentifier");
            }
            auto value = parseLiteral(*field);
            return LogPredicate::containsIgnoringCase(*field, std::get<std::string>(std::move(value)));
        }
        if (op.type == Token::Type::word) {
            fail(op.offset,
                 "unsupported operator " + describeToken(op) + " (expected ==, IN or CONTAINS[c])");
        }
        fail(op.offset,
             "expected ==, IN or CONTAINS[c] after " + describeToken(name) + ", found " + describeToken(op));
    }

    LogPredicate::Literal parseLiteral(LogPredicate::Field field)
    {
        const Token& token = take();
        if (isIntegerField(field)) {
            if (token.type != Token::Type::integer) {
                fail(token.offset,
                     "expected an integer for processIdentifier, found " + describeToken(token));
            }
            return token.integerValue;
        }
        if (token.type != Token::Type::string) {
            fail(token.offset, "expected a quoted string for " + std::string(LogPredicate::fieldName(field))
                                   + ", found " + describeToken(token));
        }
        return token.stringValue;
    }

    std::vector<LogPredicate::Literal> parseList(LogPredicate::Field field)
    {
        if (peek().type != Token::Type::openBrace) {
            fail(peek().offset, "expected '{' after IN, found " + describeToken(peek()));
        }
        take();
        std::vector<LogPredicate::Literal> values;
        if (peek().type == Token::Type::closeBrace) {
            take();
            return values;
        }
        values.push_back(parseLiteral(field));
        while (peek().type == Token::Type::comma) {
            take();
            values.push_back(parseLiteral(field));
        }
        if (peek().type != Token::Type::closeBrace) {
            fail(peek().offset, "expected ',' or '}', found " + describeToken(peek()));
        }
        take();
        return values;
    }

    std::vector<Token> m_tokens;
    std::size_t m_next = 0;
};

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
    try {
        return Parser(text).parseAll();
    } catch (const ParseFailure& failure) {
        return failure.error;
    }
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
