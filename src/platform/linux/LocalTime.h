// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <optional>
#include <string>
#include <string_view>

// Date texts of the log tool, in the local time zone (TZ).
namespace exitwise::platform {

// "yyyy-MM-dd HH:mm:ss"; the fraction of a second is dropped.
[[nodiscard]] std::string formatLocalDateTime(core::Date date);

// The inverse of formatLocalDateTime; nullopt unless the text has exactly that shape and names a
// real calendar date.
[[nodiscard]] std::optional<core::Date> parseLocalDateTime(std::string_view text);

// "yyyy-MM-dd HH:mm:ss.ffffff+hhmm", as the log tool prints entry dates.
[[nodiscard]] std::string formatLocalTimestamp(core::Date date);

} // namespace exitwise::platform
