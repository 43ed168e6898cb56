// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"

#include <string>

class QLocale;

namespace exitwise::app {

// The local time of day in the locale's medium style, without the date: "2:05:09 PM" in
// en_US, "14:05:09" in de_DE. Used for "Closed at: " and the time window.
[[nodiscard]] std::string clockTimeText(core::Date date);
[[nodiscard]] std::string clockTimeText(core::Date date, const QLocale& locale);

// The local date and time in the locale's medium styles: "Mar 1, 2026, 2:05:09 PM" in en_US,
// "1. März 2026, 14:05:09" in de_DE. Used by the timeline.
[[nodiscard]] std::string mediumDateTimeText(core::Date date);
[[nodiscard]] std::string mediumDateTimeText(core::Date date, const QLocale& locale);

// Local date and time as "2026-03-01 14:05:09", for listings where the day matters.
[[nodiscard]] std::string localDateTimeText(core::Date date);

} // namespace exitwise::app
