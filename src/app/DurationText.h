// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// How long an application ran, from launch to close. Both round to the nearest whole second
// (halves away from zero) and count a negative or non-finite duration as 0.
namespace exitwise::app {

// The event detail's form: "45s", "1m", "12m 5s", "120m" (minutes never become hours).
[[nodiscard]] std::string detailDurationText(double seconds);

// The notification's form: "1 seconds", "45 seconds", "1 minutes", "120 minutes", "2m 5s".
[[nodiscard]] std::string notificationDurationText(double seconds);

} // namespace exitwise::app
