// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QSettings;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

// What the window needs from outside that tests replace.
struct MainWindowOptions
{
    // Where "exws_onboarding_completed" is kept; the application's QSettings when null.
    QSettings* settings = nullptr;
    // Asks where to save an export (title, proposed file name, name filter); nothing when the
    // user cancels. A QFileDialog when empty.
    std::function<std::optional<QString>(const QString& title, const QString& proposedName, const QString& filter)>
        savePanel;
    // The icon of the application at a bundle path: a theme icon name or an absolute image
    // path. The generic application icon when empty or when it gives nothing.
    std::function<std::optional<std::string>(const std::string& appPath)> iconNameLookup;
};

// The application's one window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(app::AppModel& model, MainWindowOptions options = {}, QWidget* parent = nullptr);

    // A note that stays in the window's status area, e.g. that there is no tray to reach it by.
    void setPersistentStatusMessage(const QString& text);
    [[nodiscard]] QString persistentStatusMessage() const;

signals:
    // The window's content came on screen: at the first show and whenever it is reopened.
    void contentShown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    app::AppModel& m_model;
    MainWindowOptions m_options;
    QLabel* m_statusNote = nullptr;
};

} // namespace exitwise::ui
