// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class QMenu;

namespace exitwise::app {
class AppModel;
class BroadcastCenter;
class LoginItems;
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

    // Puts the item in the tray, once; later calls do nothing.
    void installStatusItem();
    [[nodiscard]] StatusItem* statusItem() const { return m_statusItem.get(); }

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

public slots:
    // A click on one of our notifications: selects its event through the broadcast when
    // "event_id" holds an event identifier. Returns whether it did.
    bool handleNotificationActivated(const QString& identifier, const QVariantMap& userInfo);

private:
    app::LoginItems& m_loginItems;
    app::BroadcastCenter& m_broadcasts;
    AppDelegateOptions m_options;
    QPointer<app::AppModel> m_model;
    std::unique_ptr<PopoverWindow> m_popover;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<StatusItem> m_statusItem;
    bool m_didInstallStatusItem = false;
};

} // namespace exitwise::ui
