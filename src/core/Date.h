// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

namespace exitwise::core {

// An absolute instant with double-precision seconds, as the records store it.
using Seconds = std::chrono::duration<double>;
using Date = std::chrono::time_point<std::chrono::system_clock, Seconds>;

// 2001-01-01T00:00:00Z in seconds since 1970: the epoch of the record files' numeric dates.
inline constexpr double kReferenceDateOffset = 978307200.0;

[[nodiscard]] constexpr Date dateFromSecondsSince1970(double seconds)
{
    return Date(Seconds(seconds));
}

[[nodiscard]] constexpr double secondsSince1970(Date date)
{
    return date.time_since_epoch().count();
}

[[nodiscard]] constexpr Date dateFromReferenceSeconds(double seconds)
{
    return Date(Seconds(seconds + kReferenceDateOffset));
}

[[nodiscard]] constexpr double secondsSinceReferenceDate(Date date)
{
    return date.time_since_epoch().count() - kReferenceDateOffset;
}

// How far from 1970 a stored date may lie: about 31,700 years either way. A number beyond it is
// no date; it could neither be written back to microseconds nor shown as a calendar date.
inline constexpr double kMaxDateSecondsFrom1970 = 1e12;

[[nodiscard]] constexpr bool isSupportedDate(Date date)
{
    const double seconds = secondsSince1970(date);
    return seconds >= -kMaxDateSecondsFrom1970 && seconds <= kMaxDateSecondsFrom1970;
}

[[nodiscard]] inline Date now()
{
    return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now());
}

} // namespace exitwise::core
