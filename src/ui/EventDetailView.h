// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <QWidget>

#include <optional>

class QAbstractButton;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

class AppIconProvider;

// The detail column for one closure: header, timeline, the explanation with its copy actions,
// why the confidence is what it is, the feedback row and the raw signals. It reads the event
// from the model whenever the model's events change, so a new rating shows at once; "Event
// not found" stands in while the model has no such event.
class EventDetailView : public QWidget
{
    Q_OBJECT

public:
    EventDetailView(app::AppModel& model,
                    const app::Uuid& eventID,
                    AppIconProvider& icons,
                    QWidget* parent = nullptr);

    [[nodiscard]] const app::Uuid& eventID() const { return m_eventID; }
    [[nodiscard]] bool isEventFound() const { return m_shown.has_value(); }

    // View state; each survives a re-render of the same event.
    [[nodiscard]] bool showAlternatives() const { return m_showAlternatives; }
    [[nodiscard]] bool showConfidenceDetails() const { return m_showConfidenceDetails; }
    [[nodiscard]] bool showDetails() const { return m_showDetails; }
    [[nodiscard]] const std::optional<QString>& supportStatusMessage() const
    {
        return m_supportStatusMessage;
    }

    // The controls, null while the event is not found (and the alternatives toggle also when
    // the explanation has no alternatives).
    [[nodiscard]] QPushButton* copyFixButton() const { return m_copyFix; }
    [[nodiscard]] QPushButton* copyIncidentSummaryButton() const { return m_copyIncidentSummary; }
    [[nodiscard]] QPushButton* helpfulButton() const { return m_helpful; }
    [[nodiscard]] QPushButton* unhelpfulButton() const { return m_unhelpful; }
    [[nodiscard]] QPushButton* reportButton() const { return m_report; }
    [[nodiscard]] QToolButton* alternativesToggle() const { return m_alternativesToggle; }
    [[nodiscard]] QToolButton* confidenceDetailsToggle() const { return m_confidenceToggle; }
    [[nodiscard]] QToolButton* detailsToggle() const { return m_detailsToggle; }
    [[nodiscard]] QLabel* supportStatusLabel() const { return m_supportStatus; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void rebuild();
    [[nodiscard]] QWidget* buildNotFound();
    [[nodiscard]] QWidget* buildPage(const app::AppEvent& event);
    [[nodiscard]] QWidget* buildHeader(const app::AppEvent& event, QWidget* parent);
    [[nodiscard]] QWidget* buildExplanation(const app::AppEvent& event, QWidget* parent);
    [[nodiscard]] QWidget* buildFeedback(QWidget* parent);
    [[nodiscard]] QWidget* buildDetails(const app::AppEvent& event, QWidget* parent);
    void applyFeedbackTints();
    void copyText(const QString& text, const char* action);
    void reportWrongDiagnosis();
    void clearControls();

    app::AppModel& m_model;
    app::Uuid m_eventID;
    AppIconProvider& m_icons;
    std::optional<app::AppEvent> m_shown;

    bool m_showAlternatives = false;
    bool m_showConfidenceDetails = false;
    bool m_showDetails = false;
    std::optional<QString> m_supportStatusMessage;

    QVBoxLayout* m_layout = nullptr;
    QWidget* m_page = nullptr;
    QScrollArea* m_scroll = nullptr;
    QPushButton* m_copyFix = nullptr;
    QPushButton* m_copyIncidentSummary = nullptr;
    QPushButton* m_helpful = nullptr;
    QPushButton* m_unhelpful = nullptr;
    QPushButton* m_report = nullptr;
    QToolButton* m_alternativesToggle = nullptr;
    QToolButton* m_confidenceToggle = nullptr;
    QToolButton* m_detailsToggle = nullptr;
    QLabel* m_supportStatus = nullptr;
};

} // namespace exitwise::ui
