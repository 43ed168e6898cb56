// SPDX-License-Identifier: MIT
#include "ui/SidebarView.h"

#include "app/AppModel.h"
#include "ui/EventListModel.h"
#include "ui/EventRowDelegate.h"
#include "ui/Style.h"
#include "ui/VisibleEvents.h"

#include <QAction>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

namespace exitwise::ui {

namespace {

constexpr int kSegmentRadius = 6;

QIcon magnifierIcon(const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 3.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(QPointF(13.5, 13.5), 8, 8);
    painter.drawLine(QPointF(19.5, 19.5), QPointF(26.5, 26.5));
    painter.end();
    return QIcon(pixmap);
}

// Styles the four filter buttons as one segmented control following the palette.
QString segmentStyle(const QWidget* widget, bool first, bool last)
{
    const QPalette palette = widget->palette();
    const QString border = style::withAlpha(style::secondary(widget), 0.45).name(QColor::HexArgb);
    const QString radiusLeft = first ? QString::number(kSegmentRadius) : QStringLiteral("0");
    const QString radiusRight = last ? QString::number(kSegmentRadius) : QStringLiteral("0");
    return QStringLiteral("QToolButton { border: 1px solid %1; %2 background: %3; color: %4;"
                          " padding: 3px 8px; border-top-left-radius: %5px; border-bottom-left-radius: %5px;"
                          " border-top-right-radius: %6px; border-bottom-right-radius: %6px; }"
                          "QToolButton:hover:!checked { background: %7; }"
                          "QToolButton:checked { background: %8; color: %9; border-color: %8; }")
        .arg(border, first ? QString() : QStringLiteral("border-left: none;"),
             palette.color(QPalette::Base).name(), palette.color(QPalette::ButtonText).name(), radiusLeft,
             radiusRight, style::withAlpha(style::secondary(widget), 0.10).name(QColor::HexArgb),
             palette.color(QPalette::Highlight).name(), palette.color(QPalette::HighlightedText).name());
}

} // namespace

SidebarView::SidebarView(app::AppModel& model, AppIconProvider& icons, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 14, 4, 8);
    layout->setSpacing(12);

    auto* heading = new QVBoxLayout;
    heading->setSpacing(2);
    m_title = style::makeLabel(QString(), style::TextStyle::headline, false, this);
    m_title->setFont(style::font(style::TextStyle::headline));
    m_subtitle = style::makeLabel(QString(), style::TextStyle::subheadline, true, this);
    heading->addWidget(m_title);
    heading->addWidget(m_subtitle);
    layout->addLayout(heading);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search app or cause"));
    m_search->setClearButtonEnabled(true);
    m_search->setAccessibleName(QStringLiteral("Search app or cause"));
    m_search->addAction(magnifierIcon(style::secondary(this)), QLineEdit::LeadingPosition);
    layout->addWidget(m_search);

    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(8);
    filterRow->addWidget(
        style::makeLabel(QStringLiteral("Confidence"), style::TextStyle::subheadline, true, this));
    auto* segments = new QWidget(this);
    segments->setAccessibleName(QStringLiteral("Confidence"));
    auto* segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    m_filterButtons = new QButtonGroup(this);
    m_filterButtons->setExclusive(true);
    const auto filters = core::allCases<ConfidenceFilter>();
    for (std::size_t i = 0; i < filters.size(); ++i) {
        auto* button = new QToolButton(segments);
        button->setText(QString::fromUtf8(core::rawValue(filters[i])));
        button->setCheckable(true);
        button->setChecked(filters[i] == m_filter);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFont(style::font(style::TextStyle::subheadline));
        button->setStyleSheet(segmentStyle(this, i == 0, i + 1 == filters.size()));
        button->setCursor(Qt::PointingHandCursor);
        m_filterButtons->addButton(button, static_cast<int>(filters[i]));
        segmentLayout->addWidget(button);
    }
    filterRow->addWidget(segments, 1);
    layout->addLayout(filterRow);

    m_listModel = new EventListModel(this);
    m_list = new QListView(this);
    m_list->setModel(m_listModel);
    m_list->setItemDelegate(new EventRowDelegate(icons, m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAccessibleName(QStringLiteral("Latest closures"));
    layout->addWidget(m_list, 1);

    connect(m_search, &QLineEdit::textChanged, this, &SidebarView::refresh);
    connect(m_filterButtons, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            m_filter = static_cast<ConfidenceFilter>(id);
            refresh();
        }
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SidebarView::takeListSelection);
    connect(&m_model, &app::AppModel::eventsChanged, this, &SidebarView::refresh);
    connect(&m_model, &app::AppModel::selectedEventIDChanged, this, &SidebarView::showModelSelection);
    connect(&m_model, &app::AppModel::monitoringPausedChanged, this, &SidebarView::updateTitle);

    updateTitle();
    refresh();
}

QString SidebarView::searchQuery() const
{
    return m_search->text();
}

void SidebarView::setSearchQuery(const QString& query)
{
    m_search->setText(query);
}

void SidebarView::setConfidenceFilter(ConfidenceFilter filter)
{
    if (QAbstractButton* button = filterButton(filter)) {
        button->setChecked(true);
    }
}

QAbstractButton* SidebarView::filterButton(ConfidenceFilter filter) const
{
    return m_filterButtons->button(static_cast<int>(filter));
}

// A faintly tinted column with a hairline at its trailing edge sets the list apart from the
// detail.
void SidebarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Window);
    painter.fillRect(rect(), window.darker(103));
    painter.fillRect(QRect(width() - 1, 0, 1, height()), style::withAlpha(style::secondary(this), 0.35));
}

void SidebarView::updateTitle()
{
    m_title->setText(m_model.isMonitoringPaused() ? QStringLiteral("Monitoring paused")
                                                  : QStringLiteral("Monitoring apps"));
}

void SidebarView::refresh()
{
    m_visible = ui::visibleEvents(m_model.events(), m_search->text().toStdString(), m_filter);
    m_subtitle->setText(
        QStringLiteral("Latest closures \u2022 %1/%2").arg(m_visible.size()).arg(m_model.events().size()));
    m_followingModel = true;
    m_listModel->setEvents(m_visible);
    m_followingModel = false;
    showModelSelection();
}

void SidebarView::showModelSelection()
{
    m_followingModel = true;
    QItemSelectionModel* selection = m_list->selectionModel();
    const std::optional<app::Uuid>& selected = m_model.selectedEventID();
    const int row = selected ? m_listModel->rowOf(*selected) : -1;
    if (row >= 0) {
        const QModelIndex index = m_listModel->index(row);
        if (!selection->isSelected(index) || selection->currentIndex() != index) {
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        }
        m_list->scrollTo(index);
    } else if (selection->hasSelection() || selection->currentIndex().isValid()) {
        selection->clear();
    }
    m_followingModel = false;
}

void SidebarView::takeListSelection()
{
    if (m_followingModel) {
        return;
    }
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    const EventListModel::Row* row = rows.isEmpty() ? nullptr : m_listModel->rowAt(rows.first().row());
    m_model.setSelectedEventID(row != nullptr ? std::optional<app::Uuid>(row->id) : std::nullopt);
}

} // namespace exitwise::ui
