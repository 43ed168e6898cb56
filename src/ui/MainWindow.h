// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QSettings;
class QToolButton;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

class AppIconProvider;
class RootView;

// What the window needs from outside that tests replace.
struct MainWindowOptions
{
    // Where "exws_onboarding_completed" is kept; the application's QSettings when null.
    QSettings* settings = nullptr;
    // Asks where to save an export (title, proposed file name, name filter); nothing when the
    // user cancels. A QFileDialog when empty.
    std::function<std::optional<QString>(
        const QString& title, const QString& proposedName, const QString& filter)>
        savePanel;
    // The icon of the application at a bundle path: a theme icon name or an absolute image
    // path. The generic application icon when empty or when it gives nothing.
    std::function<std::optional<std::string>(const std::string& appPath)> iconNameLookup;
    // Ends the application (Ctrl+Q); QCoreApplication::quit() when empty.
    std::function<void()> quit;
    // For "About Exitwise": where the history is kept (the resolved data directory when empty)
    // and what evidence this user cannot read, if that is known.
    QString dataDirectory;
    std::optional<QString> evidenceNote;
};

// The application's one window: the toolbar (pause or resume, export, getting started, about)
// over the event list and the detail of the selected closure. Every toolbar button takes Tab
// focus; Ctrl+F searches, Ctrl+E opens the export menu, F1 the checklist, Ctrl+W closes the
// window and Ctrl+Q quits.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(app::AppModel& model, MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // A note that stays in the window's status area, e.g. that there is no tray to reach it by.
    void setPersistentStatusMessage(const QString& text);
    [[nodiscard]] QString persistentStatusMessage() const;

    [[nodiscard]] RootView* rootView() const { return m_root; }
    [[nodiscard]] QAction* pauseAction() const { return m_pause; }
    [[nodiscard]] QToolButton* pauseButton() const;
    [[nodiscard]] QToolButton* exportButton() const { return m_exportButton; }
    [[nodiscard]] QAction* exportJsonAction() const { return m_exportJson; }
    [[nodiscard]] QAction* exportCsvAction() const { return m_exportCsv; }
    [[nodiscard]] QAction* gettingStartedAction() const { return m_gettingStarted; }
    [[nodiscard]] QAction* aboutAction() const { return m_about; }
    [[nodiscard]] QAction* searchAction() const { return m_search; }
    [[nodiscard]] QAction* exportMenuAction() const { return m_exportMenu; }
    [[nodiscard]] QAction* closeAction() const { return m_close; }
    [[nodiscard]] QAction* quitAction() const { return m_quit; }
    // The open "About Exitwise" dialog, or null.
    [[nodiscard]] QDialog* aboutDialog() const { return m_aboutDialog; }
    void showAbout();

    // The two exports of the whole history; a cancelled dialog does nothing.
    void exportJSON();
    void exportCSV();

signals:
    // The window's content came on screen: at the first show and whenever it is reopened.
    void contentShown();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updatePauseAction();
    [[nodiscard]] std::optional<QString>
    askSaveLocation(const QString& title, const QString& proposedName, const QString& filter);

    app::AppModel& m_model;
    MainWindowOptions m_options;
    std::unique_ptr<QSettings> m_ownSettings;
    std::unique_ptr<AppIconProvider> m_icons;
    RootView* m_root = nullptr;
    QAction* m_pause = nullptr;
    QToolButton* m_exportButton = nullptr;
    QAction* m_exportJson = nullptr;
    QAction* m_exportCsv = nullptr;
    QAction* m_gettingStarted = nullptr;
    QAction* m_about = nullptr;
    QAction* m_search = nullptr;
    QAction* m_exportMenu = nullptr;
    QAction* m_close = nullptr;
    QAction* m_quit = nullptr;
    QPointer<QDialog> m_aboutDialog;
    QLabel* m_statusNote = nullptr;
};

} // namespace exitwise::ui
