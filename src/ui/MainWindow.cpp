// SPDX-License-Identifier: MIT
#include "ui/MainWindow.h"

#include "app/AppModel.h"
#include "app/stores/Export.h"
#include "ui/AppIconProvider.h"
#include "ui/RootView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSettings>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace exitwise::ui {

namespace {

QIcon themedIcon(const char* name, QStyle::StandardPixmap fallback, const QWidget* widget)
{
    return QIcon::fromTheme(QLatin1String(name), widget->style()->standardIcon(fallback, nullptr, widget));
}

} // namespace

MainWindow::MainWindow(app::AppModel& model, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Exitwise"));
    setWindowIcon(QIcon(QStringLiteral(":/exitwise/exitwise.svg")));
    setMinimumSize(860, 540);
    resize(1080, 700);

    QSettings* settings = m_options.settings;
    if (settings == nullptr) {
        m_ownSettings = std::make_unique<QSettings>();
        settings = m_ownSettings.get();
    }
    m_icons = std::make_unique<AppIconProvider>(m_options.iconNameLookup);

    auto* toolbar = addToolBar(QStringLiteral("Exitwise"));
    toolbar->setObjectName(QStringLiteral("mainToolBar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setEnabled(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(18, 18));
    setContextMenuPolicy(Qt::NoContextMenu);

    m_pause = toolbar->addAction(QString());
    connect(m_pause, &QAction::triggered, this,
            [this] { m_model.setMonitoringPaused(!m_model.isMonitoringPaused()); });

    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    auto* exportMenu = new QMenu(this);
    m_exportJson = exportMenu->addAction(QStringLiteral("Export JSON"));
    m_exportCsv = exportMenu->addAction(QStringLiteral("Export CSV"));
    connect(m_exportJson, &QAction::triggered, this, &MainWindow::exportJSON);
    connect(m_exportCsv, &QAction::triggered, this, &MainWindow::exportCSV);
    m_exportButton = new QToolButton(toolbar);
    m_exportButton->setText(QStringLiteral("Export"));
    m_exportButton->setIcon(themedIcon("document-save-as", QStyle::SP_DialogSaveButton, this));
    m_exportButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_exportButton->setPopupMode(QToolButton::InstantPopup);
    m_exportButton->setMenu(exportMenu);
    m_exportButton->setAccessibleName(QStringLiteral("Export"));
    // Beside the text rather than under it, where the platform style puts it for this mode.
    m_exportButton->setStyleSheet(QStringLiteral("QToolButton { padding-right: 14px; }"
                                                 "QToolButton::menu-indicator { subcontrol-origin: padding;"
                                                 " subcontrol-position: right center; right: 3px; }"));
    toolbar->addWidget(m_exportButton);

    m_gettingStarted = toolbar->addAction(themedIcon("help-about", QStyle::SP_MessageBoxQuestion, this),
                                          QStringLiteral("Getting Started"));
    m_gettingStarted->setToolTip(QStringLiteral("Open first-run checklist and sample workflow."));
    connect(m_gettingStarted, &QAction::triggered, this, [this] { m_root->presentOnboarding(); });

    m_root = new RootView(model, *settings, *m_icons, this);
    setCentralWidget(m_root);
    connect(this, &MainWindow::contentShown, m_root, &RootView::windowContentShown);
    // Keyboard focus starts in the list, so the arrow keys move through the closures.
    m_root->sidebar()->listView()->setFocus();

    updatePauseAction();
    connect(&m_model, &app::AppModel::monitoringPausedChanged, this, &MainWindow::updatePauseAction);

    m_statusNote = new QLabel(this);
    statusBar()->addPermanentWidget(m_statusNote, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->hide();
}

// The root view holds references to the icon provider; it goes first.
MainWindow::~MainWindow()
{
    delete m_root;
}

QToolButton* MainWindow::pauseButton() const
{
    const auto* toolbar = findChild<QToolBar*>(QStringLiteral("mainToolBar"));
    return toolbar != nullptr ? qobject_cast<QToolButton*>(toolbar->widgetForAction(m_pause)) : nullptr;
}

void MainWindow::updatePauseAction()
{
    const bool paused = m_model.isMonitoringPaused();
    m_pause->setText(paused ? QStringLiteral("Resume Monitoring") : QStringLiteral("Pause Monitoring"));
    m_pause->setIcon(paused ? themedIcon("media-playback-start", QStyle::SP_MediaPlay, this)
                            : themedIcon("media-playback-pause", QStyle::SP_MediaPause, this));
    const QString description = paused ? QStringLiteral("Resume monitoring app closures")
                                       : QStringLiteral("Pause monitoring app closures");
    m_pause->setToolTip(description);
    if (QToolButton* button = pauseButton()) {
        button->setAccessibleName(description);
    }
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

std::optional<QString>
MainWindow::askSaveLocation(const QString& title, const QString& proposedName, const QString& filter)
{
    std::optional<QString> chosen;
    if (m_options.savePanel) {
        chosen = m_options.savePanel(title, proposedName, filter);
    } else {
        QFileDialog dialog(this, title, QDir::home().filePath(proposedName), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QFileInfo(proposedName).suffix());
        dialog.selectFile(proposedName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().constFirst();
        }
    }
    if (!chosen || chosen->isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}

void MainWindow::exportJSON()
{
    const std::optional<QString> path = askSaveLocation(
        QStringLiteral("Export Diagnoses (JSON)"), QString::fromLatin1(app::exporting::kSuggestedJsonName),
        QStringLiteral("JSON (*.json)"));
    if (!path) {
        return;
    }
    if (const std::optional<app::FileError> error = m_model.exportJSON(path->toStdString())) {
        m_root->showExportError(QString::fromStdString(error->message()));
    }
}

void MainWindow::exportCSV()
{
    const std::optional<QString> path = askSaveLocation(
        QStringLiteral("Export Diagnoses (CSV)"), QString::fromLatin1(app::exporting::kSuggestedCsvName),
        QStringLiteral("Comma-separated values (*.csv)"));
    if (!path) {
        return;
    }
    if (const std::optional<app::FileError> error = m_model.exportCSV(path->toStdString())) {
        m_root->showExportError(QString::fromStdString(error->message()));
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        emit contentShown();
    }
}

} // namespace exitwise::ui
