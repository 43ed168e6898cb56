// SPDX-License-Identifier: MIT
#include "app/PrintableText.h"

#include "core/Text.h"

#include <algorithm>
#include <vector>

namespace exitwise::app {

namespace {

constexpr std::string_view kReplacement = "\uFFFD";

// Direction controls a text leaves open would turn around whatever is printed after it: a name
// ending in U+202E (right-to-left override) shows " closed" as "desolc ". Each embedding,
// override or isolate still open at the end of a line is closed there.
class DirectionScopes
{
public:
    // Takes note of the character whose UTF-8 bytes start at `at`.
    void see(std::string_view text, std::size_t at)
    {
        if (at + 2 >= text.size() || static_cast<unsigned char>(text[at]) != 0xE2) {
            return;
        }
        const auto second = static_cast<unsigned char>(text[at + 1]);
        const auto third = static_cast<unsigned char>(text[at + 2]);
        if (second == 0x80 && third >= 0xAA && third <= 0xAE) {
            if (third != 0xAC) {
                m_open.push_back(false); // LRE, RLE, LRO, RLO
            } else if (!m_open.empty() && !m_open.back()) {
                m_open.pop_back(); // PDF closes the innermost embedding, never an isolate
            }
        } else if (second == 0x81 && third >= 0xA6 && third <= 0xA9) {
            if (third != 0xA9) {
                m_open.push_back(true); // LRI, RLI, FSI
            } else if (std::find(m_open.begin(), m_open.end(), true) != m_open.end()) {
                // PDI closes the innermost isolate and everything opened inside it.
                while (!m_open.back()) {
                    m_open.pop_back();
                }
                m_open.pop_back();
            }
        }
    }

    void closeAll(std::string& out)
    {
        for (auto it = m_open.rbegin(); it != m_open.rend(); ++it) {
            out += *it ? "\u2069" : "\u202C";
        }
        m_open.clear();
    }

private:
    std::vector<bool> m_open; // true for an isolate
};

std::string printable(std::string_view input, bool singleLine)
{
    const std::string text = core::text::sanitizedUtf8(input);
    std::string result;
    result.reserve(text.size());
    DirectionScopes scopes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        scopes.see(text, i);
        if (c == '\n' || c == '\t' || c == '\r') {
            if (singleLine) {
                result += ' ';
            } else if (c == '\r') {
                result += kReplacement;
            } else {
                if (c == '\n') {
                    scopes.closeAll(result);
                }
                result += static_cast<char>(c);
            }
        } else if (c < 0x20 || c == 0x7F) {
            result += kReplacement;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
                   && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // C1 controls (U+0080–U+009F), among them the one-byte CSI.
            result += kReplacement;
            ++i;
        } else {
            result += static_cast<char>(c);
        }
    }
    scopes.closeAll(result);
    return result;
}

} // namespace

std::string printableLine(std::string_view text)
{
    return printable(text, true);
}

std::string printableText(std::string_view text)
{
    return printable(text, false);
}

} // namespace exitwise::app
