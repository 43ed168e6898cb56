// SPDX-License-Identifier: MIT
#include "app/FlatJsonObject.h"

#include "core/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace exitwise::app {

namespace {

class Scanner
{
public:
    explicit Scanner(std::string_view text)
        : m_text(text)
    {}

    void skipSpace()
    {
        while (m_pos < m_text.size()
               && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\r'
                   || m_text[m_pos] == '\n')) {
            ++m_pos;
        }
    }

    bool consume(char c)
    {
        skipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    [[nodiscard]] bool atEnd()
    {
        skipSpace();
        return m_pos == m_text.size();
    }

    [[nodiscard]] char peek()
    {
        skipSpace();
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }

    // A key: plain text without escapes, returned as a view into the line.
    // A key: plain text without escapes, returned as a view into the line.
    bool key(std::string_view& out)
    {
        const Span span = plainSpan();
        if (!span.found || span.special) {
            return false;
        }
        out = span.text;
        return !span.nonAscii || core::text::isValidUtf8(out);
    }

    // A string value: a view into the line when it has no escapes, else decoded into `storage`.
    bool string(std::string_view& out, std::vector<std::unique_ptr<std::string>>& storage)
    {
        const std::size_t start = m_pos + 1;
        const Span span = plainSpan();
        if (!span.found) {
            return false;
        }
        if (!span.special) {
            out = span.text;
            return !span.nonAscii || core::text::isValidUtf8(out);
        }
        // Escapes (or a control character, which fails there): decode from the start.
        m_pos = start;
        auto decoded = std::make_unique<std::string>();
        if (!escapedString(*decoded)) {
            return false;
        }
        out = *decoded;
        storage.push_back(std::move(decoded));
        return true;
    }

    // The literal text of a JSON number, checked against the JSON grammar.
    bool number(std::string_view& out)
    {
        skipSpace();
        const std::size_t start = m_pos;
        accept('-');
        if (accept('0')) {
        } else if (!digits()) {
            return false;
        }
        if (accept('.') && !digits()) {
            return false;
        }
        if (accept('e') || accept('E')) {
            if (!accept('+')) {
                accept('-');
            }
            if (!digits()) {
                return false;
            }
        }
        out = m_text.substr(start, m_pos - start);
        return !overflows(out);
    }

    // The general reader refuses a number too large for a double wherever it stands, even
    // under a key nobody reads. Locale-free: the app runs under the user's locale.
    static bool overflows(std::string_view number)
    {
        if (number.find_first_of("eE") == std::string_view::npos && number.size() < 300) {
            return false;
        }
        double value = 0;
        const char* end = number.data() + number.size();
        const char* first = number.front() == '-' ? number.data() + 1 : number.data();
        if (std::from_chars(first, end, value).ec != std::errc::result_out_of_range) {
            return false;
        }
        // Out of range one way or the other: the decimal magnitude says which.
        const std::size_t e = number.find_first_of("eE");
        const std::string_view mantissa = number.substr(0, e);
        long long magnitude = 0;
        if (e != std::string_view::npos) {
            long long exponent = 0;
            const std::string_view digits = number.substr(e + 1);
            const char* from = digits.data() + (digits.front() == '+' ? 1 : 0);
            // An exponent beyond long long is far beyond either end.
            if (std::from_chars(from, digits.data() + digits.size(), exponent).ec != std::errc{}) {
                return digits.front() != '-';
            }
            magnitude = exponent;
        }
        const std::size_t dot = mantissa.find('.');
        const std::string_view whole = mantissa.substr(0, dot);
        const std::size_t significant = whole.find_first_not_of("-0");
        if (significant != std::string_view::npos) {
            magnitude += static_cast<long long>(whole.size() - significant);
        } else if (dot != std::string_view::npos) {
            const std::string_view fraction = mantissa.substr(dot + 1);
            magnitude -= static_cast<long long>(std::min(fraction.find_first_not_of('0'), fraction.size()));
        }
        return magnitude > 0;
    }

    bool word(std::string_view w)
    {
        skipSpace();
        if (m_text.substr(m_pos, w.size()) != w) {
            return false;
        }
        m_pos += w.size();
        return true;
    }

private:
    struct Span
    {
        bool found = false;    // an opening and a closing quote
        bool special = false;  // holds a backslash or a control character
        bool nonAscii = false; // holds bytes of multi-byte characters
        std::string_view text; // between the quotes
    };

    // From an opening quote to the next quote, classifying the bytes between them in one
    // branch-free pass; m_pos ends after the closing quote. A backslash may mean the quote
    // found is escaped, so callers treat `special` spans with the full decoder.
    Span plainSpan()
    {
        Span span;
        if (!consume('"')) {
            return span;
        }
        const char* begin = m_text.data() + m_pos;
        const void* quote = std::memchr(begin, '"', m_text.size() - m_pos);
        if (quote == nullptr) {
            return span;
        }
        const auto* end = static_cast<const char*>(quote);
        unsigned special = 0;
        unsigned high = 0;
        for (const char* c = begin; c != end; ++c) {
            const auto u = static_cast<unsigned char>(*c);
            special |= static_cast<unsigned>(u < 0x20) | static_cast<unsigned>(u == '\\');
            high |= u;
        }
        span.found = true;
        span.special = special != 0;
        span.nonAscii = (high & 0x80) != 0;
        span.text = std::string_view(begin, static_cast<std::size_t>(end - begin));
        m_pos += span.text.size() + 1;
        return span;
    }

    // From just after the opening quote to just after the closing one, decoding escapes.
    bool escapedString(std::string& out)
    {
        std::size_t runStart = m_pos;
        bool ascii = true;
        while (m_pos < m_text.size()) {
            const auto c = static_cast<unsigned char>(m_text[m_pos]);
            if (c == '"') {
                out.append(m_text.substr(runStart, m_pos - runStart));
                ++m_pos;
                return ascii || core::text::isValidUtf8(out);
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                out.append(m_text.substr(runStart, m_pos - runStart));
                if (!escape(out)) {
                    return false;
                }
                runStart = m_pos;
                continue;
            }
            ascii = ascii && c < 0x80;
            ++m_pos;
        }
        return false;
    }

    bool accept(char c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool digits()
    {
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
            ++m_pos;
        }
        return m_pos > start;
    }

    bool hex4(std::uint32_t& value)
    {
        if (m_pos + 4 > m_text.size()) {
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_pos++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // At a backslash inside a string.
    bool escape(std::string& out)
    {
        ++m_pos;
        if (m_pos >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_pos++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t cp = 0;
        if (!hex4(cp)) {
            return false;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!accept('\\') || !accept('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

} // namespace

std::optional<FlatJsonObject> FlatJsonObject::parse(std::string_view line)
{
    Scanner s(line);
    FlatJsonObject object;
    if (!s.consume('{')) {
        return std::nullopt;
    }
    if (!s.consume('}')) {
        do {
            Member member;
            if (!s.key(member.key) || !s.consume(':')) {
                return std::nullopt;
            }
            switch (s.peek()) {
            case '"':
                member.kind = Kind::string;
                if (!s.string(member.text, object.m_decoded)) {
                    return std::nullopt;
                }
                break;
            case 't':
            case 'f':
                member.kind = Kind::boolean;
                member.boolean = s.peek() == 't';
                if (!s.word(member.boolean ? "true" : "false")) {
                    return std::nullopt;
                }
                break;
            case 'n':
                member.kind = Kind::null;
                if (!s.word("null")) {
                    return std::nullopt;
                }
                break;
            default:
                member.kind = Kind::number;
                if (!s.number(member.text)) {
                    return std::nullopt;
                }
            }
            // Duplicate keys are legal JSON with reader-specific meaning: leave them to the
            // general reader.
            if (object.find(member.key) != nullptr || object.m_count == kMaxMembers) {
                return std::nullopt;
            }
            object.m_members[object.m_count++] = member;
        } while (s.consume(','));
        if (!s.consume('}')) {
            return std::nullopt;
        }
    }
    if (!s.atEnd()) {
        return std::nullopt;
    }
    return object;
}

const FlatJsonObject::Member* FlatJsonObject::find(std::string_view key) const
{
    for (const Member& member : members()) {
        if (member.key == key) {
            return &member;
        }
    }
    return nullptr;
}

} // namespace exitwise::app
