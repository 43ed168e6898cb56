// SPDX-License-Identifier: MIT
#include "ui/EventRowDelegate.h"

#include "ui/AppIconProvider.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EndStateMark.h"
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
constexpr int kMarkSpacing = 5; // between the end-state sign and the cause

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

EventRowDelegate::Colours EventRowDelegate::colours(const QStyleOptionViewItem& option)
{
    const QPalette& palette = option.palette;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const bool active = option.state.testFlag(QStyle::State_Active);
    const QColor textColour = palette.color(active ? QPalette::Active : QPalette::Inactive, QPalette::Text);
    const QColor window = style::sidebarBackground(palette);
    const QColor secondary = style::tone(style::Tone::secondary, palette);
    // A soft highlight keeps the coloured badge readable on the selected row.
    Colours colours;
    if (selected) {
        colours.fill = active ? style::withAlpha(palette.color(QPalette::Active, QPalette::Highlight), 0.22)
                              : style::withAlpha(secondary, 0.18);
    } else if (option.state.testFlag(QStyle::State_MouseOver)) {
        colours.fill = style::withAlpha(secondary, 0.08);
    }
    colours.background = colours.fill.isValid() ? style::composite(colours.fill, window) : window;
    colours.name = style::legible(textColour, colours.background);
    colours.detail = style::legible(secondary, colours.background);
    return colours;
}

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
    const Colours colours = EventRowDelegate::colours(option);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRectF background = QRectF(option.rect).adjusted(kOuterInset, 1, -kOuterInset, -1);
    if (colours.fill.isValid()) {
        QPainterPath path;
        path.addRoundedRect(background, kSelectionRadius, kSelectionRadius);
        painter->fillPath(path, colours.fill);
    }

    const QRect content = option.rect.adjusted(kOuterInset + kHorizontalPadding, kVerticalPadding,
                                               -(kOuterInset + kHorizontalPadding), -kVerticalPadding);
    const QRect iconRect(content.left(), content.center().y() - kIconSize / 2 + 1, kIconSize, kIconSize);
    const qreal ratio = view != nullptr ? view->devicePixelRatioF() : qApp->devicePixelRatio();
    painter->drawPixmap(iconRect, m_icons.roundedPixmap(row->appPath, kIconSize, kIconCornerRadius, ratio));

    const QFontMetrics nameMetrics(nameFont());
    const QFontMetrics causeMetrics(causeFont());
    const int textHeight = nameMetrics.height() + kLineSpacing + causeMetrics.height();
    const int top = content.top() + (content.height() - textHeight) / 2;
    const int textLeft = iconRect.right() + 1 + kIconSpacing;

    const QSize badgeSize = ConfidenceBadgeView::sizeFor(row->confidence);
    const QRect badgeRect(content.right() - badgeSize.width() + 1,
                          content.center().y() - badgeSize.height() / 2 + 1, badgeSize.width(),
                          badgeSize.height());
    ConfidenceBadgeView::paint(*painter, badgeRect, row->confidence, view, colours.background);

    const int textRight = badgeRect.left() - kBadgeSpacing;
    const int nameWidth = std::max(0, textRight - textLeft);
    painter->setFont(nameFont());
    painter->setPen(colours.name);
    painter->drawText(QRect(textLeft, top, nameWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(row->appName, Qt::ElideRight, nameWidth));

    const int lineTop = top + nameMetrics.height() + kLineSpacing;
    const int markSize = causeMetrics.ascent();
    const QRectF markRect(textLeft, lineTop + (causeMetrics.height() - markSize) / 2.0, markSize, markSize);
    EndStateMark::paint(*painter, markRect, row->endState, option.palette, colours.background);

    // The time stays whole; the cause gives way.
    const int detailLeft = textLeft + markSize + kMarkSpacing;
    const int detailWidth = std::max(0, textRight - detailLeft);
    const QString time = QStringLiteral(" \u2022 ") + index.data(EventListModel::TimeRole).toString();
    const int timeWidth = std::min(detailWidth, causeMetrics.horizontalAdvance(time));
    const QString cause = causeMetrics.elidedText(row->cause, Qt::ElideRight, detailWidth - timeWidth);
    painter->setFont(causeFont());
    painter->setPen(colours.detail);
    painter->drawText(QRect(detailLeft, lineTop, detailWidth, causeMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, cause + time);

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
