// SPDX-License-Identifier: MIT
#include "platform/linux/PlatformFactory.h"

#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/LogindSessionEvents.h"
#include "platform/linux/ProcessWatcher.h"
#include "platform/linux/SdJournalWriter.h"
#include "platform/linux/XdgAutostartLoginItems.h"

#include <QDBusConnection>

namespace exitwise::platform {

std::unique_ptr<app::WorkspaceEvents> createWorkspaceEvents(QObject* parent)
{
    auto watcher = std::make_unique<ProcessWatcher>(ProcessWatcherOptions::fromEnvironment(), parent);
    // The session notices reach the monitor through the same object as the application events.
    auto* session = new LogindSessionEvents(QDBusConnection::systemBus(), watcher.get());
    QObject::connect(session, &LogindSessionEvents::willPowerOff, watcher.get(),
                     &app::WorkspaceEvents::willPowerOff);
    QObject::connect(session, &LogindSessionEvents::sessionDidResignActive, watcher.get(),
                     &app::WorkspaceEvents::sessionDidResignActive);
    (void)session->start(); // without logind there are simply no such notices
    watcher->start();
    return watcher;
}

std::unique_ptr<app::NotificationCenter> createNotificationCenter(QObject* parent)
{
    return std::make_unique<FreedesktopNotificationCenter>(QDBusConnection::sessionBus(), parent);
}

std::unique_ptr<app::LoginItems> createLoginItems()
{
    return std::make_unique<XdgAutostartLoginItems>();
}

std::unique_ptr<app::JournalWriter> createJournalWriter()
{
    return std::make_unique<SdJournalWriter>();
}

} // namespace exitwise::platform
