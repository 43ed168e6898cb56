// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"

#include <QAbstractListModel>

#include <optional>
#include <string>
#include <vector>

namespace exitwise::ui {

// The rows of the event list: what a row draws of each visible event, in list order. The
// accessible text says everything a row shows: name, end state, cause, time and confidence.
class EventListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        EventIDRole = Qt::UserRole + 1, // QString, upper-case UUID
        CauseRole,                      // QString, the dominant cause's raw value
        ConfidenceRole,                 // int, a core::Confidence
        AppPathRole,                    // QString, empty when the event has none
        EndStateRole,                   // int, a core::EndState
        TimeRole,                       // QString, when it closed (closureTimeText)
    };

    struct Row
    {
        app::Uuid id;
        QString appName;
        QString cause;
        core::Confidence confidence = core::Confidence::low;
        std::optional<std::string> appPath;
        core::EndState endState = core::EndState::cleanExit;
        core::Date terminatedAt;

        friend bool operator==(const Row&, const Row&) = default;
    };

    explicit EventListModel(QObject* parent = nullptr);

    // Replaces the rows; a list that draws the same as before leaves the model untouched.
    void setEvents(const std::vector<app::AppEvent>& events);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] const Row* rowAt(int row) const;
    // The row showing that event, or -1.
    [[nodiscard]] int rowOf(const app::Uuid& id) const;

private:
    std::vector<Row> m_rows;
};

} // namespace exitwise::ui
