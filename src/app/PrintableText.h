// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace exitwise::app {

// Text from records made safe to print on a terminal: invalid UTF-8 and control characters
// (an escape sequence in an application's name could rewrite the screen) become U+FFFD.
// On one line, tabs and line breaks become spaces; otherwise line feeds and tabs are kept.
// Direction overrides and isolates left open are closed at the end of each line, so they
// cannot turn around the text printed after a name.
[[nodiscard]] std::string printableLine(std::string_view text);
[[nodiscard]] std::string printableText(std::string_view text);

} // namespace exitwise::app
