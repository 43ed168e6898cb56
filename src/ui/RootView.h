// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QDialog;
class QMessageBox;
class QSettings;
class QSplitter;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

class AppIconProvider;
class EventDetailView;
class OnboardingChecklistView;
class SidebarView;

// The window's content: the event list beside the detail of the selected closure (or the idle
// view), the export failure alert and the first-run checklist sheet.
class RootView : public QWidget
{
    Q_OBJECT

public:
    static constexpr const char* kOnboardingCompletedKey = "exws_onboarding_completed";

    RootView(app::AppModel& model, QSettings& settings, AppIconProvider& icons, QWidget* parent = nullptr);

    [[nodiscard]] SidebarView* sidebar() const { return m_sidebar; }
    [[nodiscard]] QSplitter* splitter() const { return m_splitter; }
    // The detail column's content: an EventDetailView or the idle view.
    [[nodiscard]] QWidget* detail() const { return m_detail; }
    // Null while no event is selected.
    [[nodiscard]] EventDetailView* eventDetail() const;

    // The export failure alert ("Unknown error" for an empty message); any dismissal clears
    // the message.
    void showExportError(const QString& message);
    [[nodiscard]] const std::optional<QString>& exportErrorMessage() const { return m_exportErrorMessage; }
    [[nodiscard]] QMessageBox* exportAlert() const { return m_exportAlert; }

    // Opens the checklist sheet (a fresh one) unless it is already open.
    void presentOnboarding();
    [[nodiscard]] bool isOnboardingPresented() const { return m_onboardingSheet != nullptr; }
    [[nodiscard]] QDialog* onboardingSheet() const { return m_onboardingSheet; }
    [[nodiscard]] OnboardingChecklistView* onboardingChecklist() const { return m_checklist; }
    [[nodiscard]] bool isOnboardingCompleted() const;

    // The window's content came on screen: the sheet opens until the checklist was completed.
    void windowContentShown();

private:
    void selectionChanged();
    void showDetail();

    app::AppModel& m_model;
    QSettings& m_settings;
    AppIconProvider& m_icons;

    QSplitter* m_splitter = nullptr;
    SidebarView* m_sidebar = nullptr;
    QWidget* m_detailColumn = nullptr;
    QWidget* m_detail = nullptr;

    std::optional<QString> m_exportErrorMessage;
    QMessageBox* m_exportAlert = nullptr;
    QDialog* m_onboardingSheet = nullptr;
    OnboardingChecklistView* m_checklist = nullptr;
};

} // namespace exitwise::ui
