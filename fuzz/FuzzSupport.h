// SPDX-License-Identifier: MIT
#pragma once

// Helpers shared by the fuzz targets: splitting one input into several texts, and stopping
// with a readable message when a property breaks (libFuzzer then keeps the input).

#include "core/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::fuzz {

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {})
{
    std::fprintf(stderr, "fuzz property broken: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) {
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    std::abort();
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at the unit separator (0x1F) into `count` fields; the last one keeps the rest,
// separators included. Missing fields are empty.
inline std::vector<std::string_view> fields(std::string_view input, std::size_t count)
{
    std::vector<std::string_view> result;
    while (result.size() + 1 < count) {
        const std::size_t cut = input.find('\x1f');
        if (cut == std::string_view::npos) {
            break;
        }
        result.push_back(input.substr(0, cut));
        input.remove_prefix(cut + 1);
    }
    result.push_back(input);
    result.resize(count);
    return result;
}

// Parses JSON as the record files are parsed; nothing when the text is not JSON.
inline bool parseJson(std::string_view text, core::json::Json& out)
{
    try {
        out = core::json::parse(text);
        return true;
    } catch (const core::json::DecodeError&) {
        return false;
    }
}

// A record that decoded must encode to text that decodes again to the same encoding: whatever
// the application loads, it can save and load once more without losing it.
template <class Decode, class Encode>
void expectStableEncoding(const core::json::Json& encoded, Decode&& decode, Encode&& encode)
{
    const std::string text = core::json::dumpCompact(encoded);
    core::json::Json reparsed;
    if (!parseJson(text, reparsed)) {
        fail("an encoded record is not JSON", text);
    }
    try {
        const std::string again = core::json::dumpCompact(encode(decode(reparsed)));
        if (again != text) {
            fail("a record changed across save and load", text + "\n  became\n  " + again);
        }
    } catch (const core::json::DecodeError& error) {
        fail("an encoded record does not decode", text + "\n  " + error.what());
    }
}

} // namespace exitwise::fuzz
