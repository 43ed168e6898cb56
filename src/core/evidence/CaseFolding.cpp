// SPDX-License-Identifier: MIT
#include "core/evidence/CaseFolding.h"

#include "core/Text.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace exitwise::core::detail {

namespace {

std::string asciiLowercased(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

struct FreeDeleter
{
    void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

} // namespace

std::string caseFolded(std::string_view text)
{
    // Log text is almost always ASCII, where folding is plain lower-casing.
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !text::isValidUtf8(text)) {
        return asciiLowercased(text);
    }
    utf8proc_uint8_t* raw = nullptr;
    const auto length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
        &raw, static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(raw);
    if (length < 0 || owned == nullptr) {
        return asciiLowercased(text);
    }
    return std::string(reinterpret_cast<const char*>(owned.get()), static_cast<std::size_t>(length));
}

} // namespace exitwise::core::detail
