// SPDX-License-Identifier: MIT
#include "app/DurationText.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace exitwise::app {

namespace {

std::int64_t wholeSeconds(double seconds)
{
    // Out-of-range values would make the conversion undefined; a century is plenty.
    constexpr double kLimit = 100.0 * 366 * 24 * 3600;
    if (!std::isfinite(seconds) || seconds <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(std::round(std::min(seconds, kLimit)));
}

std::string minutesAndSeconds(std::int64_t s)
{
    return std::to_string(s / 60) + "m " + std::to_string(s % 60) + "s";
}

} // namespace

std::string detailDurationText(double seconds)
{
    const std::int64_t s = wholeSeconds(seconds);
    if (s < 60) {
        return std::to_string(s) + "s";
    }
    if (s % 60 == 0) {
        return std::to_string(s / 60) + "m";
    }
    return minutesAndSeconds(s);
}

std::string notificationDurationText(double seconds)
{
    const std::int64_t s = wholeSeconds(seconds);
    if (s <= 59) {
        return std::to_string(s) + " seconds";
    }
    if (s % 60 == 0) {
        return std::to_string(s / 60) + " minutes";
    }
    return minutesAndSeconds(s);
}

} // namespace exitwise::app
