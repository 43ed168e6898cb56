// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <string_view>

class QSettings;

namespace exitwise::app {

// Which closures are announced with a notification.
enum class NotificationScope
{
    everyClosure,
    unexpectedOnly
};

// A crash, a kill, a blocked launch or a failing helper: anything but an ordinary clean exit.
// A helper failure counts even when the engine settled on a clean exit as the end state, since
// the application still ended because something it relied on failed.
[[nodiscard]] bool isUnexpectedEnding(core::EndState endState, core::DominantCause cause);
[[nodiscard]] bool isUnexpectedEnding(const core::Diagnosis& diagnosis);

// Whether a closure with this diagnosis gets a notification under `scope`.
[[nodiscard]] bool isAnnounced(NotificationScope scope, const core::Diagnosis& diagnosis);

// Kept in the application's settings as "everyClosure" or "unexpectedOnly". A missing or
// unreadable value reads as every closure.
inline constexpr std::string_view kNotificationScopeKey = "exws_notify_about";
[[nodiscard]] NotificationScope readNotificationScope(const QSettings& settings);
void writeNotificationScope(QSettings& settings, NotificationScope scope);

} // namespace exitwise::app
