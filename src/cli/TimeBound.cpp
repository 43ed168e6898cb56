// SPDX-License-Identifier: MIT
#include "cli/TimeBound.h"

#include "platform/linux/LocalTime.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace exitwise::cli {

namespace {

constexpr double kSecondsPerDay = 86400.0;

// Local midnight of the day `date` falls on.
std::optional<core::Date> midnightOf(core::Date date)
{
    return platform::parseLocalDateTime(platform::formatLocalDateTime(date).substr(0, 10) + " 00:00:00");
}

// "-2h": a whole number of seconds, minutes, hours, days or weeks before now. Days are 24
// hours, as journalctl counts them.
std::optional<core::Date> relativeBound(std::string_view text, core::Date now)
{
    static constexpr std::array<std::pair<char, double>, 5> kUnits{{
        {'s', 1.0},
        {'m', 60.0},
        {'h', 3600.0},
        {'d', kSecondsPerDay},
        {'w', 7 * kSecondsPerDay},
    }};
    constexpr std::size_t kMaxDigits = 9;
    if (text.size() < 3 || text.size() > kMaxDigits + 2 || text.front() != '-') {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(1, text.size() - 2);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto unit = std::find_if(kUnits.begin(), kUnits.end(),
                                   [&text](const auto& entry) { return entry.first == text.back(); });
    if (unit == kUnits.end()) {
        return std::nullopt;
    }
    const core::Date bound = now - core::Seconds(std::stod(std::string(digits)) * unit->second);
    return core::isSupportedDate(bound) ? std::optional(bound) : std::nullopt;
}

} // namespace

std::optional<core::Date> parseTimeBound(std::string_view text, core::Date now)
{
    if (text == "today") {
        return midnightOf(now);
    }
    if (text == "yesterday") {
        // Half a day before today's midnight is yesterday even across a daylight-saving change.
        const std::optional<core::Date> today = midnightOf(now);
        return today ? midnightOf(*today - core::Seconds(kSecondsPerDay / 2)) : std::nullopt;
    }
    if (text.starts_with('-')) {
        return relativeBound(text, now);
    }
    switch (text.size()) {
    case 10: // YYYY-MM-DD
        return platform::parseLocalDateTime(std::string(text) + " 00:00:00");
    case 16: // YYYY-MM-DD HH:MM
        return platform::parseLocalDateTime(std::string(text) + ":00");
    case 19: // YYYY-MM-DD HH:MM:SS
        return platform::parseLocalDateTime(text);
    default:
        return std::nullopt;
    }
}

} // namespace exitwise::cli
