// SPDX-License-Identifier: MIT
#include "ui/RootView.h"

#include "app/AppModel.h"
#include "ui/EventDetailView.h"
#include "ui/IdleDetailView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/SidebarView.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace exitwise::ui {

namespace {

constexpr int kSidebarWidth = 330;
constexpr int kDetailMinimumWidth = 420;

} // namespace

RootView::RootView(app::AppModel& model, QSettings& settings, AppIconProvider& icons, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_settings(settings)
    , m_icons(icons)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    layout->addWidget(m_splitter);

    m_sidebar = new SidebarView(model, icons, m_splitter);
    m_detailColumn = new QWidget(m_splitter);
    m_detailColumn->setMinimumWidth(kDetailMinimumWidth);
    auto* detailLayout = new QVBoxLayout(m_detailColumn);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detailColumn);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kSidebarWidth, 10 * kSidebarWidth});

    showDetail();
    connect(&m_model, &app::AppModel::selectedEventIDChanged, this, &RootView::selectionChanged);
}

EventDetailView* RootView::eventDetail() const
{
    return qobject_cast<EventDetailView*>(m_detail);
}

void RootView::selectionChanged()
{
    // Recorded before the detail appears, so its own view record for the same event is the
    // duplicate the model drops. Nobody sees a selection made while the window is hidden: the
    // detail records its view when the window shows it.
    const std::optional<app::Uuid> selected = m_model.selectedEventID();
    if (selected && isVisible()) {
        m_model.recordDiagnosisViewed(*selected, "sidebar_selection");
    }
    showDetail();
}

void RootView::showDetail()
{
    if (m_detail != nullptr) {
        // Deleted later but kept parented, so it still goes with the window if no event loop
        // runs again; until then it no longer follows the model.
        disconnect(&m_model, nullptr, m_detail, nullptr);
        m_detailColumn->layout()->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    if (const std::optional<app::Uuid> selected = m_model.selectedEventID()) {
        m_detail = new EventDetailView(m_model, *selected, m_icons, m_detailColumn);
    } else {
        m_detail = new IdleDetailView(m_detailColumn);
    }
    m_detailColumn->layout()->addWidget(m_detail);
    m_detail->show();
}

void RootView::showExportError(const QString& message)
{
    m_exportErrorMessage = message;
    const QString text = message.isEmpty() ? QStringLiteral("Unknown error") : message;
    if (m_exportAlert != nullptr) {
        m_exportAlert->setText(text);
        return;
    }
    m_exportAlert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export failed"), text,
                                    QMessageBox::NoButton, this);
    // The message names a user-chosen path, which must never be taken for markup.
    m_exportAlert->setTextFormat(Qt::PlainText);
    QPushButton* ok = m_exportAlert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    m_exportAlert->setDefaultButton(ok);
    m_exportAlert->setEscapeButton(ok);
    m_exportAlert->setWindowModality(Qt::WindowModal);
    connect(m_exportAlert, &QMessageBox::finished, this, [this] {
        m_exportErrorMessage.reset();
        m_exportAlert->deleteLater();
        m_exportAlert = nullptr;
    });
    m_exportAlert->open();
}

bool RootView::isOnboardingCompleted() const
{
    return m_settings.value(QLatin1String(kOnboardingCompletedKey), false).toBool();
}

void RootView::windowContentShown()
{
    if (isOnboardingCompleted()) {
        return;
    }
    // After the window is mapped, so the sheet opens over it rather than before it.
    QTimer::singleShot(0, this, [this] {
        if (!isOnboardingCompleted()) {
            presentOnboarding();
        }
    });
}

void RootView::presentOnboarding()
{
    if (m_onboardingSheet != nullptr) {
        m_onboardingSheet->raise();
        m_onboardingSheet->activateWindow();
        return;
    }
    m_onboardingSheet = new QDialog(this);
    m_onboardingSheet->setWindowTitle(QStringLiteral("Getting Started"));
    m_onboardingSheet->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(m_onboardingSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_checklist = new OnboardingChecklistView(m_onboardingSheet);
    layout->addWidget(m_checklist);

    QDialog* sheet = m_onboardingSheet;
    connect(m_checklist, &OnboardingChecklistView::skipped, sheet, &QDialog::reject);
    connect(m_checklist, &OnboardingChecklistView::completed, sheet, [this, sheet] {
        m_model.recordOnboarding(true);
        m_settings.setValue(QLatin1String(kOnboardingCompletedKey), true);
        m_settings.sync();
        sheet->accept();
    });
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (m_onboardingSheet == sheet) {
            m_onboardingSheet = nullptr;
            m_checklist = nullptr;
        }
        sheet->deleteLater();
    });

    m_model.recordOnboarding(false);
    sheet->open();
}

} // namespace exitwise::ui
