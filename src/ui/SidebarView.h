// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "ui/ConfidenceFilter.h"

#include <QWidget>

#include <vector>

class QAbstractButton;
class QAction;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QListView;

namespace exitwise::app {
class AppModel;
}

namespace exitwise::ui {

class AppIconProvider;
class EventListModel;

// The list column: monitoring state, the count of listed closures, the search field, the
// confidence filter and the list itself. The list selection and the model's selectedEventID
// follow each other; an event hidden by the search or the filter stays selected in the model.
class SidebarView : public QWidget
{
    Q_OBJECT

public:
    SidebarView(app::AppModel& model, AppIconProvider& icons, QWidget* parent = nullptr);

    static constexpr int kMinimumWidth = 260;

    // At least kMinimumWidth, wider when a large font needs it.
    [[nodiscard]] QSize minimumSizeHint() const override;

    [[nodiscard]] QString searchQuery() const;
    void setSearchQuery(const QString& query);
    [[nodiscard]] ConfidenceFilter confidenceFilter() const { return m_filter; }
    void setConfidenceFilter(ConfidenceFilter filter);

    // The events listed now, in list order.
    [[nodiscard]] const std::vector<app::AppEvent>& visibleEvents() const { return m_visible; }

    [[nodiscard]] QLabel* titleLabel() const { return m_title; }
    [[nodiscard]] QLabel* subtitleLabel() const { return m_subtitle; }
    [[nodiscard]] QLineEdit* searchField() const { return m_search; }
    [[nodiscard]] QAbstractButton* filterButton(ConfidenceFilter filter) const;
    [[nodiscard]] QListView* listView() const { return m_list; }
    [[nodiscard]] EventListModel* listModel() const { return m_listModel; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void updateTitle();
    void showModelSelection();
    void takeListSelection();

    app::AppModel& m_model;
    ConfidenceFilter m_filter = ConfidenceFilter::all;
    std::vector<app::AppEvent> m_visible;
    // Set while the list is changed from the model, so the change is not sent back.
    bool m_followingModel = false;

    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QLineEdit* m_search = nullptr;
    QAction* m_searchIcon = nullptr;
    QButtonGroup* m_filterButtons = nullptr;
    QListView* m_list = nullptr;
    EventListModel* m_listModel = nullptr;
};

} // namespace exitwise::ui
