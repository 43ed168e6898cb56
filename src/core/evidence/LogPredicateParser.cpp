// SPDX-License-Identifier: MIT
// The predicate tokenizer and recursive-descent parser.
#include "core/evidence/LogPredicateSyntax.h"

#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::core::detail {

namespace {

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

std::variant<LogPredicate, LogPredicate::ParseError> parseLogPredicate(std::string_view text)
{
    try {
        return Parser(text).parseAll();
    } catch (const ParseFailure& failure) {
        return failure.error;
    }
}

} // namespace exitwise::core::detail
