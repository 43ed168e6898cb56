// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <optional>
#include <string>
#include <string_view>

namespace exitwise::app {

// UTC texts of a date. Both truncate: 14:05:09.999 is "…14:05:09Z" and "…14:05:09.999Z",
// never rounded up into the next second or millisecond.

// "2026-03-01T14:05:09Z" — the usage file's dates.
[[nodiscard]] std::string iso8601Seconds(core::Date date);
// "2026-03-01T14:05:09.123Z" — the CSV export's dates.
[[nodiscard]] std::string iso8601Milliseconds(core::Date date);
// "20260301T140509Z" — compact, for file names.
[[nodiscard]] std::string compactUtcStamp(core::Date date);

// Reads exactly the form iso8601Seconds writes.
[[nodiscard]] std::optional<core::Date> parseIso8601Seconds(std::string_view text);

} // namespace exitwise::app
