// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

namespace exitwise::ui {

class AppIconProvider;

// Paints one event row of the list: the application icon, its name above the cause, and the
// confidence badge at the trailing edge. Rows are painted, not built from widgets, so long
// lists scroll without cost.
class EventRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kIconSize = 28;
    static constexpr int kIconCornerRadius = 6;

    explicit EventRowDelegate(AppIconProvider& icons, QObject* parent = nullptr);

    void
    paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    AppIconProvider& m_icons;
};

} // namespace exitwise::ui
