// SPDX-License-Identifier: MIT
#include "ui/MainWindow.h"

#include "app/AppModel.h"
#include "app/DataDirectory.h"
#include "app/DiagnosisVersion.h"
#include "app/stores/Export.h"
#include "ui/AboutDialog.h"
#include "ui/AppIconProvider.h"
#include "ui/RootView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
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

    m_gettingStarted = toolbar->addAction(themedIcon("help-contents", QStyle::SP_MessageBoxQuestion, this),
                                          QStringLiteral("Getting Started"));
    m_gettingStarted->setToolTip(QStringLiteral("Open first-run checklist and sample workflow."));
    m_gettingStarted->setShortcut(QKeySequence(Qt::Key_F1));
    connect(m_gettingStarted, &QAction::triggered, this, [this] { m_root->presentOnboarding(); });

    m_about = toolbar->addAction(themedIcon("help-about", QStyle::SP_MessageBoxInformation, this),
                                 QStringLiteral("About"));
    m_about->setToolTip(QStringLiteral("Version, data directory and where the evidence comes from."));
    connect(m_about, &QAction::triggered, this, &MainWindow::showAbout);

    // Toolbar buttons take no focus by default; these must be reachable without a pointer.
    for (QAction* action : {m_pause, m_gettingStarted, m_about}) {
        toolbar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
    }
    toolbar->widgetForAction(m_gettingStarted)->setAccessibleName(QStringLiteral("Getting Started"));
    toolbar->widgetForAction(m_about)->setAccessibleName(QStringLiteral("About Exitwise"));

    // Shortcuts without a button of their own live on the window.
    const auto windowAction = [this](const QString& text, const QKeySequence& keys) {
        auto* action = new QAction(text, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        return action;
    };
    m_search = windowAction(QStringLiteral("Search"), QKeySequence(Qt::CTRL | Qt::Key_F));
    m_exportMenu = windowAction(QStringLiteral("Export"), QKeySequence(Qt::CTRL | Qt::Key_E));
    m_close = windowAction(QStringLiteral("Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W));
    m_quit = windowAction(QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_search, &QAction::triggered, this, [this] {
        QLineEdit* field = m_root->sidebar()->searchField();
        field->setFocus(Qt::ShortcutFocusReason);
        field->selectAll();
    });
    connect(m_exportMenu, &QAction::triggered, this, [this] {
        m_exportButton->setFocus(Qt::ShortcutFocusReason);
        m_exportButton->showMenu();
    });
    connect(m_close, &QAction::triggered, this, &QWidget::close);
    connect(m_quit, &QAction::triggered, this, [this] {
        if (m_options.quit) {
            m_options.quit();
        } else {
            QCoreApplication::quit();
        }
    });

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

void MainWindow::showAbout()
{
    if (m_aboutDialog != nullptr) {
        m_aboutDialog->raise();
        m_aboutDialog->activateWindow();
        return;
    }
    AboutInfo info;
    info.version = QString::fromStdString(app::currentDiagnosisVersion());
    info.dataDirectory = !m_options.dataDirectory.isEmpty()
                             ? m_options.dataDirectory
                             : QString::fromStdString(app::resolveAppSupportDirectory().string());
    info.evidenceNote = m_options.evidenceNote;
    m_aboutDialog = new AboutDialog(info, this);
    m_aboutDialog->setWindowModality(Qt::WindowModal);
    m_aboutDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_aboutDialog->open();
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

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A widget with a style sheet keeps the colours it was polished with: set it again, so that
    // the export button's text follows a change between light and dark.
    if (event->type() == QEvent::PaletteChange && m_exportButton != nullptr) {
        m_exportButton->setStyleSheet(m_exportButton->styleSheet());
    }
}

} // namespace exitwise::ui
