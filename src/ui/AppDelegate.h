// SPDX-License-Identifier: MIT
#pragma once

#include "app/NotificationScope.h"
#include "core/Date.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace exitwise::app {
struct AppEvent;
class AppModel;
class BroadcastCenter;
class LoginItems;
class TrayAvailability;
} // namespace exitwise::app

namespace exitwise::ui {

class MenuBarPopoverContentView;
class PopoverWindow;
class StatusItem;

struct AppDelegateOptions
{
    // Makes the tray item; a QSystemTrayIcon when empty. Returning null means there is no
    // tray: the delegate then installs nothing and the popover never opens.
    std::function<std::unique_ptr<StatusItem>()> makeStatusItem;
    // Ends the application; QCoreApplication::quit() when empty.
    std::function<void()> quit;
    // Says whether the desktop has a tray yet; null means it has one. Not owned; must outlive
    // the delegate.
    app::TrayAvailability* tray = nullptr;
    // What the tooltip's "2 min ago" counts to; the system clock when empty.
    std::function<core::Date()> clock;
    // The popover's "Notify about" choice; the choice is not offered when either is empty.
    std::function<app::NotificationScope()> notificationScope;
    std::function<void(app::NotificationScope)> onChangeNotificationScope;
    // The popover's journal switch; not offered when either is empty.
    std::function<bool()> journalEntriesEnabled;
    std::function<void(bool)> onToggleJournalEntries;
};

// The tray side of the application for the whole process: the status item, its popover, launch
// at login and notification clicks. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // Both references must outlive the delegate.
    AppDelegate(app::LoginItems& loginItems,
                app::BroadcastCenter& broadcasts,
                AppDelegateOptions options = {},
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // The model is never kept alive by the delegate; until one is set the popover has no content.
    void setModel(app::AppModel* model);
    [[nodiscard]] app::AppModel* model() const;

    // Puts the item in the tray, once; later calls do nothing. While the desktop has no tray yet
    // the item waits and is put there when one appears (statusItemInstalled() says so).
    void installStatusItem();
    [[nodiscard]] StatusItem* statusItem() const { return m_statusItem.get(); }
    // Shows the monitoring state and the newest closure on the item: its icon and tooltip.
    void refreshStatusItem();

    // Builds new popover content from the model and the login item's current state.
    void refreshPopoverContent();
    // Opens the popover under the status item, or closes it when open.
    void togglePopover();
    // Registers or unregisters the login item; a failure shows in the refreshed switch only.
    void setLaunchAtLogin(bool enabled);
    // Shows, restores and raises the main window; creates none.
    void bringMainWindowForward();
    void quit();

    [[nodiscard]] PopoverWindow& popover() const { return *m_popover; }
    [[nodiscard]] MenuBarPopoverContentView* popoverContent() const;

signals:
    // The item is in the tray: from now on the tray is a way back to the window.
    void statusItemInstalled();

public slots:
    // A click on one of our notifications: selects its event through the broadcast when
    // "event_id" holds an event identifier. Returns whether it did.
    bool handleNotificationActivated(const QString& identifier, const QVariantMap& userInfo);

private:
    void setPausedFromMenu(bool paused);
    [[nodiscard]] QString statusToolTip() const;

    app::LoginItems& m_loginItems;
    app::BroadcastCenter& m_broadcasts;
    AppDelegateOptions m_options;
    QPointer<app::AppModel> m_model;
    std::unique_ptr<PopoverWindow> m_popover;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<StatusItem> m_statusItem;
    QAction* m_pauseAction = nullptr; // in m_statusMenu
    QTimer m_ageTimer;                // keeps "2 min ago" true
    bool m_shownPaused = false;
    bool m_wantsStatusItem = false;
    bool m_didInstallStatusItem = false;
};

namespace detail {
// How long ago a closure was, as the tooltip says it: "just now", "2 min ago", "3 h ago",
// "yesterday", "4 days ago". Counts whole units down; a time in the future is "just now".
[[nodiscard]] QString closureAge(core::Seconds age);
// The tray item's tooltip: "Exitwise — Monitoring" (or "— Paused"), then the newest closure
// ("Notes — Crash, 2 min ago") or "No closures yet". Null `newest` means there are none.
[[nodiscard]] QString statusToolTip(bool paused, const app::AppEvent* newest, core::Date now);
} // namespace detail

} // namespace exitwise::ui
