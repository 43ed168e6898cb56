// SPDX-License-Identifier: MIT
#include "core/evidence/UnresponsiveMarker.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace exitwise::core {

namespace {

template <class Integer> std::optional<Integer> decimal(std::string_view text)
{
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::optional<UnresponsiveMarker> UnresponsiveMarker::parseFileName(std::string_view fileName)
{
    constexpr std::string_view kExtension = ".json";
    if (!fileName.ends_with(kExtension)) {
        return std::nullopt;
    }
    fileName.remove_suffix(kExtension.size());
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t dot = fileName.find('.');
        parts.push_back(fileName.substr(0, dot));
        if (dot == std::string_view::npos) {
            break;
        }
        fileName.remove_prefix(dot + 1);
    }
    if (parts.size() != 4 || parts[0].empty() || parts[1].size() != 32
        || !std::all_of(parts[1].begin(), parts[1].end(), isHex)) {
        return std::nullopt;
    }
    const auto pid = decimal<std::int32_t>(parts[2]);
    const auto milliseconds = decimal<std::int64_t>(parts[3]);
    if (!pid || *pid <= 0 || !milliseconds) {
        return std::nullopt;
    }
    return UnresponsiveMarker{std::string(parts[0]), std::string(parts[1]), *pid,
                              dateFromSecondsSince1970(static_cast<double>(*milliseconds) / 1000.0)};
}

} // namespace exitwise::core
