// SPDX-License-Identifier: MIT
#pragma once

#include "app/NotificationScope.h"
#include "app/Uuid.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

// What the popover shows: monitoring state with its switches and the notification choice, the
// five newest closures (each with how it ended and when) and the way to the main window. Built afresh each
// time the popover is refreshed, it then follows the model's events and pause state while it is shown. Main
// thread only.
class MenuBarPopoverContentView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kRecentEventLimit = 5;
    static constexpr int kSpacing = 12;
    static constexpr int kRecentSpacing = 8;

    struct Options
    {
        // The switch's value when built; the view never writes the login item itself.
        bool launchAtLoginEnabled = false;
        bool supportsLaunchAtLogin = false;
        // Called with the new value when the user flips "Launch at login".
        std::function<void(bool)> onToggleLaunchAtLogin;
        // "Notify about: every closure / unexpected endings only", shown when both are set: the
        // remembered choice, and where the user's new choice goes.
        std::function<app::NotificationScope()> notificationScope;
        std::function<void(app::NotificationScope)> onChangeNotificationScope;
        // "Log each closure to the system journal", shown when both are set.
        std::function<bool()> journalEntriesEnabled;
        std::function<void(bool)> onToggleJournalEntries;
        // Brings the main window forward (and closes the popover).
        std::function<void()> onOpenWindow;
        std::function<void()> onQuit;
    };

    explicit MenuBarPopoverContentView(app::AppModel& model, Options options, QWidget* parent = nullptr);

    // "Paused" or "Monitoring".
    [[nodiscard]] QLabel* stateLabel() const { return m_stateLabel; }
    [[nodiscard]] QCheckBox* pauseSwitch() const { return m_pauseSwitch; }
    // Null unless launch at login is supported.
    [[nodiscard]] QCheckBox* launchAtLoginSwitch() const { return m_launchAtLoginSwitch; }
    // Shows the login item's real state after a toggle, without rebuilding the panel (which
    // would take the keyboard focus away) and without reporting it as the user's change.
    void setLaunchAtLoginEnabled(bool enabled);
    // Null unless the notification choice was given.
    [[nodiscard]] QComboBox* notifyAboutChoice() const { return m_notifyAbout; }
    // Null unless the journal switch was given.
    [[nodiscard]] QCheckBox* journalEntriesSwitch() const { return m_journalEntriesSwitch; }
    // One button per listed closure, newest first.
    [[nodiscard]] const std::vector<QAbstractButton*>& eventRows() const { return m_rows; }
    [[nodiscard]] const std::vector<app::Uuid>& listedEventIDs() const { return m_rowIDs; }
    // "No events yet.", or null while closures are listed.
    [[nodiscard]] QLabel* emptyLabel() const { return m_emptyLabel; }
    [[nodiscard]] QPushButton* openWindowButton() const { return m_openWindow; }
    [[nodiscard]] QPushButton* quitButton() const { return m_quit; }

private:
    void updateMonitoringState();
    void rebuildRecentEvents();
    void openEvent(const app::Uuid& id);

    QPointer<app::AppModel> m_model;
    Options m_options;
    QLabel* m_stateLabel = nullptr;
    QCheckBox* m_pauseSwitch = nullptr;
    QCheckBox* m_launchAtLoginSwitch = nullptr;
    QComboBox* m_notifyAbout = nullptr;
    QCheckBox* m_journalEntriesSwitch = nullptr;
    QWidget* m_recentRows = nullptr;
    QVBoxLayout* m_recentRowsLayout = nullptr;
    std::vector<QAbstractButton*> m_rows;
    std::vector<app::Uuid> m_rowIDs;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_openWindow = nullptr;
    QPushButton* m_quit = nullptr;
};

} // namespace exitwise::ui
