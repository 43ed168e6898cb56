// SPDX-License-Identifier: MIT
#include "ui/SidebarView.h"

#include "app/AppModel.h"
#include "ui/EventListModel.h"
#include "ui/EventRowDelegate.h"
#include "ui/Style.h"
#include "ui/VisibleEvents.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace exitwise::ui {

namespace {

constexpr int kSegmentRadius = 6;
constexpr int kSegmentPaddingX = 8;
constexpr int kSegmentPaddingY = 3;

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

// The filter's segments as one choice for assistive technology: a group of radio buttons.
constexpr const char* kGroupRoleProperty = "exitwiseAccessibleGrouping";

QAccessibleInterface* groupingFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QWidget") && object != nullptr && object->isWidgetType()
        && object->property(kGroupRoleProperty).toBool()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    }
    return nullptr;
}

// One segment of the confidence filter, painted from the palette at every paint. Auto-exclusive
// so that it is announced, and moved through with the arrow keys, as a radio button.
class SegmentButton : public QAbstractButton
{
public:
    SegmentButton(const QString& text, bool first, bool last, QWidget* parent)
        : QAbstractButton(parent)
        , m_first(first)
        , m_last(last)
    {
        setText(text);
        setCheckable(true);
        setAutoExclusive(true);
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    [[nodiscard]] QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 2 * kSegmentPaddingX + 2,
                metrics.height() + 2 * kSegmentPaddingY + 2};
    }
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        const style::Fill colours = style::segmentColours(palette(), isChecked());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, m_last ? -0.5 : 0.5, -0.5);
        QPainterPath path;
        const double left = m_first ? kSegmentRadius : 0;
        const double right = m_last ? kSegmentRadius : 0;
        path.moveTo(area.left() + left, area.top());
        path.lineTo(area.right() - right, area.top());
        path.quadTo(area.topRight(), QPointF(area.right(), area.top() + right));
        path.lineTo(area.right(), area.bottom() - right);
        path.quadTo(area.bottomRight(), QPointF(area.right() - right, area.bottom()));
        path.lineTo(area.left() + left, area.bottom());
        path.quadTo(area.bottomLeft(), QPointF(area.left(), area.bottom() - left));
        path.lineTo(area.left(), area.top() + left);
        path.quadTo(area.topLeft(), QPointF(area.left() + left, area.top()));
        QColor fill = colours.background;
        if (!isChecked() && underMouse()) {
            fill = style::composite(style::withAlpha(style::secondary(this), 0.10), fill);
        }
        painter.fillPath(path, fill);
        painter.setPen(
            QPen(isChecked() ? colours.background : style::withAlpha(style::secondary(this), 0.45), 1));
        painter.drawPath(path);
        if (hasFocus()) {
            painter.setPen(QPen(isChecked() ? colours.text : palette().color(QPalette::Highlight), 1.5));
            painter.drawRoundedRect(area.adjusted(2, 2, -2, -2), 3, 3);
        }
        painter.setPen(colours.text);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }

private:
    bool m_first;
    bool m_last;
};

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
    m_searchIcon = m_search->addAction(magnifierIcon(style::secondary(this)), QLineEdit::LeadingPosition);
    layout->addWidget(m_search);

    static const bool factoryInstalled = [] {
        QAccessible::installFactory(groupingFactory);
        return true;
    }();
    (void)factoryInstalled;
    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(8);
    filterRow->addWidget(
        style::makeLabel(QStringLiteral("Confidence"), style::TextStyle::subheadline, true, this));
    auto* segments = new QWidget(this);
    segments->setProperty(kGroupRoleProperty, true);
    segments->setAccessibleName(QStringLiteral("Confidence"));
    auto* segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    m_filterButtons = new QButtonGroup(this);
    m_filterButtons->setExclusive(true);
    const auto filters = core::allCases<ConfidenceFilter>();
    for (std::size_t i = 0; i < filters.size(); ++i) {
        const QString label = QString::fromUtf8(core::rawValue(filters[i]));
        auto* button = new SegmentButton(label, i == 0, i + 1 == filters.size(), segments);
        button->setChecked(filters[i] == m_filter);
        button->setFont(style::font(style::TextStyle::subheadline));
        button->setAccessibleName(label);
        button->setAccessibleDescription(
            filters[i] == ConfidenceFilter::all
                ? QStringLiteral("Show closures of every confidence")
                : QStringLiteral("Show only closures of %1 confidence").arg(label));
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

QSize SidebarView::minimumSizeHint() const
{
    QSize size = QWidget::minimumSizeHint();
    size.setWidth(std::max(size.width(), kMinimumWidth));
    return size;
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
    painter.fillRect(rect(), style::sidebarBackground(palette()));
    painter.fillRect(QRect(width() - 1, 0, 1, height()), style::withAlpha(style::secondary(this), 0.35));
}

void SidebarView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (m_searchIcon != nullptr
        && (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)) {
        m_searchIcon->setIcon(magnifierIcon(style::secondary(this)));
    }
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
