// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace exitwise::ui {

class AppDelegate;

struct TrayWindowPolicyOptions
{
    // Started at login: stay in the tray and leave the window closed.
    bool startInTray = false;
    // How long a start in the tray waits for a tray before it opens the window after all.
    std::chrono::milliseconds trayWait = std::chrono::seconds(10);
    // Shows a note in the window's status area; an empty text removes it.
    std::function<void(const QString&)> showNote;
    // Said after the tray note, or alone once there is a tray.
    QString otherNote;
};

// Keeps the window the way in until the tray is. While no item is in the tray, closing the
// window quits and the window says so; once the delegate has put its item there, closing the
// window leaves Exitwise running and the note goes. A start in the tray opens no window unless no
// tray turned up within `trayWait`: an app at login with neither would be running unseen.
// Main thread only; the delegate and the window must outlive the policy.
class TrayWindowPolicy : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kNoTrayNote =
        "No system tray found: Exitwise stays in this window. Closing it quits Exitwise.";

    TrayWindowPolicy(AppDelegate& delegate,
                     QWidget& window,
                     TrayWindowPolicyOptions options,
                     QObject* parent = nullptr);

    // Shows the window, or waits for the tray when starting in it.
    void start();
    [[nodiscard]] bool hasTray() const;

private:
    void apply();

    AppDelegate& m_delegate;
    QPointer<QWidget> m_window;
    TrayWindowPolicyOptions m_options;
    QTimer m_trayWait;
};

} // namespace exitwise::ui
