// SPDX-License-Identifier: MIT
#pragma once

#include "app/TrayAvailability.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QTimer>

#include <chrono>
#include <functional>

namespace exitwise::platform {

// A tray is there when a StatusNotifierWatcher on the session bus has a host registered (a panel
// that shows StatusNotifierItems), or when `xembedTrayPresent` says an XEmbed tray manager owns
// its selection. Qt 6.4 makes the same D-Bus check, once, when the first tray icon is made or
// availability is asked, and keeps that answer for the process: so nobody should ask Qt before
// this class has said yes. The bus is followed by its signals; the XEmbed probe is polled every
// `pollInterval` while no tray is known. Main thread only.
class DbusTrayAvailability final : public app::TrayAvailability
{
    Q_OBJECT

public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
    static constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";

    // `xembedTrayPresent` may be empty (no X11 display, or a Wayland session).
    explicit DbusTrayAvailability(QDBusConnection bus,
                                  std::function<bool()> xembedTrayPresent = {},
                                  std::chrono::milliseconds pollInterval = std::chrono::seconds(2),
                                  QObject* parent = nullptr);

    [[nodiscard]] bool isAvailable() const override { return m_hostRegistered || m_xembedTray; }

private slots:
    // Bus signals: QtDBus needs them as slots.
    void onHostRegistered();
    void onHostUnregistered();

private:
    void askWatcher();
    void pollXembed();
    void setState(bool hostRegistered, bool xembedTray);

    QDBusConnection m_bus;
    QDBusServiceWatcher m_serviceWatcher;
    std::function<bool()> m_xembedTrayPresent;
    QTimer m_poll;
    bool m_hostRegistered = false;
    bool m_xembedTray = false;
    // Answers to older questions are dropped: the watcher may have changed meanwhile.
    quint64 m_question = 0;
};

} // namespace exitwise::platform
