// SPDX-License-Identifier: MIT
#include "app/PrintableText.h"

#include "core/Text.h"

namespace exitwise::app {

namespace {

constexpr std::string_view kReplacement = "\uFFFD";

std::string printable(std::string_view input, bool singleLine)
{
    const std::string text = core::text::sanitizedUtf8(input);
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || c == '\t' || c == '\r') {
            if (singleLine) {
                result += ' ';
            } else if (c == '\r') {
                result += kReplacement;
            } else {
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
