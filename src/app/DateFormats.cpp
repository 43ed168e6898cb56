// SPDX-License-Identifier: MIT
#include "app/DateFormats.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace exitwise::app {

namespace {

struct SplitTime
{
    std::int64_t seconds;
    int milliseconds;
};

// A date read back from a file carries a rounding error below a microsecond; without the
// tolerance 09.123 could come out as 09.122.
constexpr double kToleranceMs = 1e-3;

SplitTime split(core::Date date)
{
    const double total = core::secondsSince1970(date);
    auto seconds = static_cast<std::int64_t>(std::floor(total));
    const double fraction = total - static_cast<double>(seconds);
    auto milliseconds = static_cast<int>(std::floor(fraction * 1000.0 + kToleranceMs));
    if (milliseconds >= 1000) {
        ++seconds;
        milliseconds -= 1000;
    }
    return {seconds, milliseconds};
}

std::tm utc(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm fields{};
    gmtime_r(&t, &fields);
    return fields;
}

std::string format(const char* pattern, const std::tm& t, int milliseconds = 0)
{
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                t.tm_hour, t.tm_min, t.tm_sec, milliseconds);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool digits(std::string_view text, std::size_t pos, std::size_t count, int& out)
{
    out = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::string iso8601Seconds(core::Date date)
{
    const SplitTime t = split(date);
    return format("%04d-%02d-%02dT%02d:%02d:%02dZ", utc(t.seconds));
}

std::string iso8601Milliseconds(core::Date date)
{
    const SplitTime t = split(date);
    return format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc(t.seconds), t.milliseconds);
}

std::string compactUtcStamp(core::Date date)
{
    const SplitTime t = split(date);
    return format("%04d%02d%02dT%02d%02d%02dZ", utc(t.seconds));
}

std::optional<core::Date> parseIso8601Seconds(std::string_view text)
{
    // 2026-03-01T14:05:09Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':'
        || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || !digits(text, 5, 2, month) || !digits(text, 8, 2, day)
        || !digits(text, 11, 2, hour) || !digits(text, 14, 2, minute) || !digits(text, 17, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const std::time_t t = timegm(&fields);
    // timegm normalises 31 February into March; a date that moved was not a real date.
    if (fields.tm_mday != day || fields.tm_mon != month - 1) {
        return std::nullopt;
    }
    return core::dateFromSecondsSince1970(static_cast<double>(t));
}

} // namespace exitwise::app
