// SPDX-License-Identifier: MIT
#include "platform/linux/LocalTime.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace exitwise::platform {

namespace {

struct Split
{
    std::time_t seconds;
    long micros;
};

Split split(core::Date date)
{
    const double total = std::round(core::secondsSince1970(date) * 1e6);
    const double seconds = std::floor(total / 1e6);
    return {static_cast<std::time_t>(seconds), static_cast<long>(total - seconds * 1e6)};
}

std::tm localParts(std::time_t seconds)
{
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    return parts;
}

bool readNumber(std::string_view text, std::size_t pos, std::size_t digits, int& value)
{
    value = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::string formatLocalDateTime(core::Date date)
{
    const std::time_t seconds = static_cast<std::time_t>(std::floor(core::secondsSince1970(date)));
    const std::tm parts = localParts(seconds);
    std::array<char, 32> buffer{};
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%d %H:%M:%S", &parts);
    return std::string(buffer.data(), length);
}

std::optional<core::Date> parseLocalDateTime(std::string_view text)
{
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] != 'd' && text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readNumber(text, 0, 4, year) || !readNumber(text, 5, 2, month) || !readNumber(text, 8, 2, day)
        || !readNumber(text, 11, 2, hour) || !readNumber(text, 14, 2, minute)
        || !readNumber(text, 17, 2, second)) {
        return std::nullopt;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59
        || second > 59) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&parts);
    // mktime rolls 31 April over into May; such a date does not exist.
    if (seconds == static_cast<std::time_t>(-1) || parts.tm_mday != day || parts.tm_mon != month - 1) {
        return std::nullopt;
    }
    return core::dateFromSecondsSince1970(static_cast<double>(seconds));
}

std::string formatLocalTimestamp(core::Date date)
{
    const Split s = split(date);
    const std::tm parts = localParts(s.seconds);
    std::array<char, 32> stamp{};
    std::array<char, 8> zone{};
    const std::size_t stampLength = std::strftime(stamp.data(), stamp.size(), "%Y-%m-%d %H:%M:%S", &parts);
    const std::size_t zoneLength = std::strftime(zone.data(), zone.size(), "%z", &parts);
    std::array<char, 8> micros{};
    std::snprintf(micros.data(), micros.size(), ".%06ld", s.micros);
    return std::string(stamp.data(), stampLength) + micros.data() + std::string(zone.data(), zoneLength);
}

} // namespace exitwise::platform
