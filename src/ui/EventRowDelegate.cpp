// SPDX-License-Identifier: MIT
#include "ui/EventRowDelegate.h"

#include "ui/AppIconProvider.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EventListModel.h"
#include "ui/Style.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace exitwise::ui {

namespace {

constexpr int kOuterInset = 4; // selection background inside the row
constexpr int kHorizontalPadding = 10;
constexpr int kVerticalPadding = 8;
constexpr int kIconSpacing = 10;
constexpr int kLineSpacing = 2;
constexpr int kBadgeSpacing = 8; // the least space before the badge
constexpr int kSelectionRadius = 7;

QFont nameFont()
{
    return style::font(style::TextStyle::body);
}

QFont causeFont()
{
    return style::font(style::TextStyle::caption);
}

} // namespace

EventRowDelegate::EventRowDelegate(AppIconProvider& icons, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_icons(icons)
{}

QSize EventRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const int textHeight =
        QFontMetrics(nameFont()).height() + kLineSpacing + QFontMetrics(causeFont()).height();
    const int height = std::max(kIconSize, textHeight) + 2 * kVerticalPadding;
    return {std::max(option.rect.width(), 200), height};
}

void EventRowDelegate::paint(QPainter* painter,
                             const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    const auto* model = qobject_cast<const EventListModel*>(index.model());
    const EventListModel::Row* row = model != nullptr ? model->rowAt(index.row()) : nullptr;
    if (row == nullptr) {
        return;
    }
    const QWidget* view = option.widget;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // A soft rounded highlight keeps the coloured badge readable on the selected row.
    const QRectF background = QRectF(option.rect).adjusted(kOuterInset, 1, -kOuterInset, -1);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const bool active = option.state.testFlag(QStyle::State_Active);
    QColor fill;
    if (selected) {
        fill = active ? style::withAlpha(option.palette.color(QPalette::Active, QPalette::Highlight), 0.22)
                      : style::withAlpha(style::secondary(view), 0.18);
    } else if (option.state.testFlag(QStyle::State_MouseOver)) {
        fill = style::withAlpha(style::secondary(view), 0.08);
    }
    if (fill.isValid()) {
        QPainterPath path;
        path.addRoundedRect(background, kSelectionRadius, kSelectionRadius);
        painter->fillPath(path, fill);
    }

    const QRect content = option.rect.adjusted(kOuterInset + kHorizontalPadding, kVerticalPadding,
                                               -(kOuterInset + kHorizontalPadding), -kVerticalPadding);
    const QRect iconRect(content.left(), content.center().y() - kIconSize / 2 + 1, kIconSize, kIconSize);
    const qreal ratio = view != nullptr ? view->devicePixelRatioF() : qApp->devicePixelRatio();
    painter->drawPixmap(iconRect, m_icons.roundedPixmap(row->appPath, kIconSize, kIconCornerRadius, ratio));

    const QSize badgeSize = ConfidenceBadgeView::sizeFor(row->confidence);
    const QRect badgeRect(content.right() - badgeSize.width() + 1,
                          content.center().y() - badgeSize.height() / 2 + 1, badgeSize.width(),
                          badgeSize.height());
    ConfidenceBadgeView::paint(*painter, badgeRect, row->confidence, view);

    const int textLeft = iconRect.right() + 1 + kIconSpacing;
    const int textWidth = std::max(0, badgeRect.left() - kBadgeSpacing - textLeft);
    const QFontMetrics nameMetrics(nameFont());
    const QFontMetrics causeMetrics(causeFont());
    const int textHeight = nameMetrics.height() + kLineSpacing + causeMetrics.height();
    const int top = content.top() + (content.height() - textHeight) / 2;

    painter->setFont(nameFont());
    painter->setPen(option.palette.color(active ? QPalette::Active : QPalette::Inactive, QPalette::Text));
    painter->drawText(QRect(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(row->appName, Qt::ElideRight, textWidth));
    painter->setFont(causeFont());
    painter->setPen(style::secondary(view));
    painter->drawText(
        QRect(textLeft, top + nameMetrics.height() + kLineSpacing, textWidth, causeMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, causeMetrics.elidedText(row->cause, Qt::ElideRight, textWidth));

    if (option.state.testFlag(QStyle::State_HasFocus) && view != nullptr && view->hasFocus()) {
        QPainterPath focus;
        focus.addRoundedRect(background.adjusted(0.5, 0.5, -0.5, -0.5), kSelectionRadius, kSelectionRadius);
        painter->setPen(QPen(style::withAlpha(option.palette.color(QPalette::Highlight), 0.55), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(focus);
    }
    painter->restore();
}

} // namespace exitwise::ui
