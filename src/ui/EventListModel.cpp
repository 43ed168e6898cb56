// SPDX-License-Identifier: MIT
#include "ui/EventListModel.h"

#include "ui/EndStateMark.h"

#include <QLocale>

namespace exitwise::ui {

EventListModel::EventListModel(QObject* parent)
    : QAbstractListModel(parent)
{}

void EventListModel::setEvents(const std::vector<app::AppEvent>& events)
{
    std::vector<Row> rows;
    rows.reserve(events.size());
    for (const app::AppEvent& event : events) {
        rows.push_back(Row{event.id, QString::fromStdString(event.appName),
                           QString::fromUtf8(core::rawValue(event.diagnosis.dominantCause)),
                           event.diagnosis.confidence, event.appPath, event.diagnosis.endState,
                           event.terminatedAt});
    }
    if (rows == m_rows) {
        return;
    }
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    const Row* row = index.isValid() ? rowAt(index.row()) : nullptr;
    if (row == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return row->appName;
    case Qt::AccessibleTextRole:
        return QStringLiteral("%1, %2, %3, %4, Confidence %5")
            .arg(row->appName, EndStateMark::text(row->endState), row->cause,
                 closureTimeText(row->terminatedAt, core::now(), QLocale()),
                 QString::fromUtf8(core::rawValue(row->confidence)));
    case Qt::ToolTipRole:
        return QStringLiteral("%1 • %2").arg(EndStateMark::text(row->endState), row->cause);
    case EventIDRole:
        return QString::fromStdString(row->id.toString());
    case CauseRole:
        return row->cause;
    case ConfidenceRole:
        return static_cast<int>(row->confidence);
    case AppPathRole:
        return QString::fromStdString(row->appPath.value_or(std::string()));
    case EndStateRole:
        return static_cast<int>(row->endState);
    case TimeRole:
        return closureTimeText(row->terminatedAt, core::now(), QLocale());
    default:
        return {};
    }
}

QHash<int, QByteArray> EventListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(EventIDRole, "eventID");
    names.insert(CauseRole, "cause");
    names.insert(ConfidenceRole, "confidence");
    names.insert(AppPathRole, "appPath");
    names.insert(EndStateRole, "endState");
    names.insert(TimeRole, "time");
    return names;
}

const EventListModel::Row* EventListModel::rowAt(int row) const
{
    return row >= 0 && row < static_cast<int>(m_rows.size()) ? &m_rows[static_cast<std::size_t>(row)]
                                                             : nullptr;
}

int EventListModel::rowOf(const app::Uuid& id) const
{
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace exitwise::ui
