// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

namespace exitwise::ui {

class AppIconProvider;

// Paints one event row of the list: the application icon, its name above the end-state sign,
// the cause and the time, and the confidence badge at the trailing edge. Rows are painted, not
// built from widgets, so long lists scroll without cost.
class EventRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kIconSize = 28;
    static constexpr int kIconCornerRadius = 6;

    // What a row is painted with, worked out from its state and palette at every paint.
    struct Colours
    {
        QColor background; // opaque: the list's background with the row's highlight over it
        QColor fill;       // the highlight itself; invalid when the row has none
        QColor name;
        QColor detail;
    };

    explicit EventRowDelegate(AppIconProvider& icons, QObject* parent = nullptr);

    [[nodiscard]] static Colours colours(const QStyleOptionViewItem& option);

    void
    paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    AppIconProvider& m_icons;
};

} // namespace exitwise::ui
