// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <optional>
#include <string_view>

namespace exitwise::cli {

// What --since and --until accept, for their messages and help.
inline constexpr std::string_view kTimeBoundForms = "YYYY-MM-DD[ HH:MM[:SS]], today, yesterday or -2h/-3d";

// The instant a --since/--until value names, in the local time zone (TZ): "2026-03-01"
// (its midnight), "2026-03-01 14:05", "2026-03-01 14:05:09", "today", "yesterday" (their
// midnights) or a time before `now`: "-45s", "-30m", "-2h", "-3d", "-1w". nullopt for
// anything else, including dates that do not exist.
[[nodiscard]] std::optional<core::Date> parseTimeBound(std::string_view text, core::Date now);

} // namespace exitwise::cli
