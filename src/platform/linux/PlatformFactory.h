// SPDX-License-Identifier: MIT
#pragma once

#include "app/ClosureJournal.h"
#include "app/LoginItems.h"
#include "app/NotificationCenter.h"
#include "app/WorkspaceEvents.h"

#include <memory>

class QObject;

namespace exitwise::platform {

// The desktop's application lifecycle, already started: launches and terminations from the
// process watcher, power-off and session notices from logind when the system bus has it.
// `parent` only places the object in the Qt object tree; the caller owns it and must destroy it
// before the parent.
[[nodiscard]] std::unique_ptr<app::WorkspaceEvents> createWorkspaceEvents(QObject* parent = nullptr);

// User notifications on the session bus; without a notification server nothing is shown.
[[nodiscard]] std::unique_ptr<app::NotificationCenter> createNotificationCenter(QObject* parent = nullptr);

// Launch at login for the running program, through the user's XDG autostart directory.
[[nodiscard]] std::unique_ptr<app::LoginItems> createLoginItems();

// The local journal, where each closure is also written as one structured entry.
[[nodiscard]] std::unique_ptr<app::JournalWriter> createJournalWriter();

} // namespace exitwise::platform
