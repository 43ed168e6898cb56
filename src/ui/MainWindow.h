// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>

class QLabel;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

// The application's one window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(app::AppModel& model, QWidget* parent = nullptr);

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
    QLabel* m_statusNote = nullptr;
};

} // namespace exitwise::ui
