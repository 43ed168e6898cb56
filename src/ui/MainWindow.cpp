// SPDX-License-Identifier: MIT
#include "ui/MainWindow.h"

#include "app/AppModel.h"
#include "ui/IdleDetailView.h"

#include <QLabel>
#include <QShowEvent>
#include <QStatusBar>

namespace exitwise::ui {

MainWindow::MainWindow(app::AppModel& model, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Exitwise"));
    setWindowIcon(QIcon(QStringLiteral(":/exitwise/exitwise.svg")));
    setMinimumSize(860, 540);
    setCentralWidget(new IdleDetailView(this));
    m_statusNote = new QLabel(this);
    statusBar()->addPermanentWidget(m_statusNote, 1);
    statusBar()->hide();
}

void MainWindow::setPersistentStatusMessage(const QString& text)
{
    m_statusNote->setText(text);
    statusBar()->setVisible(!text.isEmpty());
}

QString MainWindow::persistentStatusMessage() const
{
    return m_statusNote->text();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        emit contentShown();
    }
}

} // namespace exitwise::ui
