// SPDX-License-Identifier: MIT
#include "ui/MenuBarPopoverContentView.h"

#include "app/AppModel.h"
#include "app/PrintableText.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/EndStateMark.h"
#include "ui/Style.h"
#include "ui/SwitchControl.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace exitwise::ui {

namespace {

// A one-line label that shortens its text with an ellipsis instead of widening its row.
class ElidedLabel : public QLabel
{
public:
    ElidedLabel(const QString& text, QWidget* parent)
        : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    [[nodiscard]] QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        // A pixel to spare: eliding rounds differently from measuring.
        return {metrics.horizontalAdvance(text()) + 1, metrics.height()};
    }
    [[nodiscard]] QSize minimumSizeHint() const override { return {0, QFontMetrics(font()).height()}; }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = QFontMetrics(font()).elidedText(text(), Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
};

// The end-state sign as a widget, as tall as a caption's capitals.
class EndStateMarkView : public QWidget
{
public:
    EndStateMarkView(core::EndState state, QWidget* parent)
        : QWidget(parent)
        , m_state(state)
    {
        setFont(style::font(style::TextStyle::caption));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    [[nodiscard]] QSize sizeHint() const override
    {
        const int side = QFontMetrics(font()).ascent();
        return {side, side};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        EndStateMark::paint(painter, QRectF(rect()), m_state, palette(),
                            palette().color(QPalette::Active, QPalette::Window));
    }

private:
    core::EndState m_state;
};

// A hairline in the secondary colour of the palette it is painted with.
class Divider : public QWidget
{
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter(this).fillRect(rect(), style::withAlpha(style::secondary(this), 0.35));
    }
};

// One recent closure as a borderless button: name over cause at the left, confidence badge at
// the right, a soft highlight under the pointer.
class EventRowButton : public QAbstractButton
{
public:
    static constexpr int kHorizontalInset = 6;
    static constexpr int kVerticalInset = 4;

    EventRowButton(const app::AppEvent& event, QWidget* parent)
        : QAbstractButton(parent)
    {
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

        const QString name = QString::fromStdString(app::printableLine(event.appName));
        const QString cause = QString::fromUtf8(core::rawValue(event.diagnosis.dominantCause));
        const QString state = EndStateMark::text(event.diagnosis.endState);
        const QString time = closureTimeText(event.terminatedAt, core::now(), QLocale());
        setText(name);
        setAccessibleName(QStringLiteral("%1, %2, %3, %4").arg(name, state, cause, time));
        setToolTip(state + QStringLiteral(" \u2022 ") + cause);

        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(kHorizontalInset, kVerticalInset, kHorizontalInset, kVerticalInset);
        row->setSpacing(0);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* nameLabel = new ElidedLabel(name, this);
        nameLabel->setFont(style::font(style::TextStyle::body));
        auto* detail = new QHBoxLayout;
        detail->setSpacing(5);
        auto* mark = new EndStateMarkView(event.diagnosis.endState, this);
        auto* causeLabel = new ElidedLabel(cause, this);
        causeLabel->setFont(style::font(style::TextStyle::caption));
        style::setTextTone(causeLabel, style::Tone::secondary);
        auto* timeLabel = new ElidedLabel(QStringLiteral("\u2022 ") + time, this);
        timeLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        timeLabel->setFont(style::font(style::TextStyle::caption));
        style::setTextTone(timeLabel, style::Tone::secondary);
        // The cause takes the room it needs and gives way first; the time follows it.
        causeLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        detail->addWidget(mark, 0, Qt::AlignVCenter);
        detail->addWidget(causeLabel, 0);
        detail->addWidget(timeLabel, 0);
        detail->addStretch(1);
        texts->addWidget(nameLabel);
        texts->addLayout(detail);
        row->addLayout(texts, 1);
        row->addSpacing(8);
        auto* badge = new ConfidenceBadgeView(event.diagnosis.confidence, this);
        row->addWidget(badge, 0, Qt::AlignVCenter);

        // The button takes every click, wherever it lands.
        for (QWidget* child :
             {static_cast<QWidget*>(nameLabel), static_cast<QWidget*>(causeLabel),
              static_cast<QWidget*>(timeLabel), static_cast<QWidget*>(mark), static_cast<QWidget*>(badge)}) {
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        const bool hovered = underMouse() && isEnabled();
        if (!hovered && !isDown() && !hasFocus()) {
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = palette().color(QPalette::Highlight);
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(hasFocus() ? QPen(style::withAlpha(accent, 0.6), 1.0) : QPen(Qt::NoPen));
        painter.setBrush(isDown() ? style::withAlpha(accent, 0.22)
                                  : (hovered ? style::withAlpha(accent, 0.12) : QColor(Qt::transparent)));
        painter.drawRoundedRect(area, 6, 6);
    }
};

} // namespace

MenuBarPopoverContentView::MenuBarPopoverContentView(app::AppModel& model, Options options, QWidget* parent)
    : QWidget(parent)
    , m_model(&model)
    , m_options(std::move(options))
{
    // The rows' highlight reaches into the margin by its inset, so every text lines up at the
    // 12-point inset while a highlighted row still has air around its text.
    constexpr int inset = EventRowButton::kHorizontalInset;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kSpacing - inset, kSpacing, kSpacing - inset, kSpacing);
    layout->setSpacing(kSpacing);
    const auto indented = [layout] {
        auto* holder = new QHBoxLayout;
        holder->setContentsMargins(inset, 0, inset, 0);
        layout->addLayout(holder);
        return holder;
    };

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(style::makeLabel(QStringLiteral("Exitwise"), style::TextStyle::headline, false, this));
    header->addStretch(1);
    m_stateLabel = style::makeLabel(QString(), style::TextStyle::caption, false, this);
    header->addWidget(m_stateLabel, 0, Qt::AlignVCenter);
    indented()->addLayout(header);

    m_pauseSwitch = new SwitchControl(QStringLiteral("Pause monitoring"), this);
    indented()->addWidget(m_pauseSwitch);
    connect(m_pauseSwitch, &QCheckBox::toggled, this, [this](bool paused) {
        if (m_model) {
            m_model->setMonitoringPaused(paused);
        }
    });

    if (m_options.supportsLaunchAtLogin) {
        m_launchAtLoginSwitch = new SwitchControl(QStringLiteral("Launch at login"), this);
        // Set before connecting: only the user's changes reach the service.
        m_launchAtLoginSwitch->setChecked(m_options.launchAtLoginEnabled);
        indented()->addWidget(m_launchAtLoginSwitch);
        connect(m_launchAtLoginSwitch, &QCheckBox::toggled, this, [this](bool enabled) {
            if (m_options.onToggleLaunchAtLogin) {
                m_options.onToggleLaunchAtLogin(enabled);
            }
        });
    }

    if (m_options.notificationScope && m_options.onChangeNotificationScope) {
        auto* notifyRow = new QHBoxLayout;
        notifyRow->setSpacing(8);
        auto* notifyLabel = new QLabel(QStringLiteral("Notify about"), this);
        notifyLabel->setTextFormat(Qt::PlainText);
        m_notifyAbout = new QComboBox(this);
        using app::NotificationScope;
        m_notifyAbout->addItem(QStringLiteral("every closure"),
                               static_cast<int>(NotificationScope::everyClosure));
        m_notifyAbout->addItem(QStringLiteral("unexpected endings only"),
                               static_cast<int>(NotificationScope::unexpectedOnly));
        m_notifyAbout->setCurrentIndex(
            m_notifyAbout->findData(static_cast<int>(m_options.notificationScope())));
        m_notifyAbout->setAccessibleName(QStringLiteral("Notify about"));
        m_notifyAbout->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        notifyLabel->setBuddy(m_notifyAbout);
        notifyRow->addWidget(notifyLabel);
        notifyRow->addStretch(1);
        notifyRow->addWidget(m_notifyAbout);
        indented()->addLayout(notifyRow);
        // Connected after the initial value: only the user's choice is sent.
        connect(m_notifyAbout, &QComboBox::activated, this, [this](int index) {
            m_options.onChangeNotificationScope(
                static_cast<app::NotificationScope>(m_notifyAbout->itemData(index).toInt()));
        });
    }

    if (m_options.journalEntriesEnabled && m_options.onToggleJournalEntries) {
        m_journalEntriesSwitch =
            new SwitchControl(QStringLiteral("Log each closure to the system journal"), this);
        m_journalEntriesSwitch->setChecked(m_options.journalEntriesEnabled());
        indented()->addWidget(m_journalEntriesSwitch);
        connect(m_journalEntriesSwitch, &QCheckBox::toggled, this,
                [this](bool enabled) { m_options.onToggleJournalEntries(enabled); });
    }

    indented()->addWidget(new Divider(this));

    auto* recent = new QVBoxLayout;
    recent->setSpacing(0);
    auto* caption =
        style::makeLabel(QStringLiteral("Recent events"), style::TextStyle::subheadline, true, this);
    caption->setContentsMargins(inset, 0, inset, 0);
    recent->addWidget(caption);
    recent->addSpacing(kRecentSpacing - EventRowButton::kVerticalInset);
    m_recentRows = new QWidget(this);
    m_recentRowsLayout = new QVBoxLayout(m_recentRows);
    m_recentRowsLayout->setContentsMargins(0, 0, 0, 0);
    m_recentRowsLayout->setSpacing(kRecentSpacing - 2 * EventRowButton::kVerticalInset);
    recent->addWidget(m_recentRows);
    layout->addLayout(recent);
    layout->addStretch(1);

    indented()->addWidget(new Divider(this));

    auto* buttons = new QHBoxLayout;
    m_openWindow = new QPushButton(QStringLiteral("Open full window"), this);
    m_quit = new QPushButton(QStringLiteral("Quit"), this);
    for (QPushButton* button : {m_openWindow, m_quit}) {
        button->setAutoDefault(false);
    }
    buttons->addWidget(m_openWindow);
    buttons->addStretch(1);
    buttons->addWidget(m_quit);
    indented()->addLayout(buttons);
    connect(m_openWindow, &QPushButton::clicked, this, [this] {
        if (m_options.onOpenWindow) {
            m_options.onOpenWindow();
        }
    });
    connect(m_quit, &QPushButton::clicked, this, [this] {
        if (m_options.onQuit) {
            m_options.onQuit();
        }
    });

    connect(&model, &app::AppModel::monitoringPausedChanged, this,
            &MenuBarPopoverContentView::updateMonitoringState);
    connect(&model, &app::AppModel::eventsChanged, this, &MenuBarPopoverContentView::rebuildRecentEvents);
    updateMonitoringState();
    rebuildRecentEvents();
}

void MenuBarPopoverContentView::setLaunchAtLoginEnabled(bool enabled)
{
    if (m_launchAtLoginSwitch == nullptr) {
        return;
    }
    const QSignalBlocker blocker(m_launchAtLoginSwitch);
    m_launchAtLoginSwitch->setChecked(enabled);
}

void MenuBarPopoverContentView::updateMonitoringState()
{
    const bool paused = m_model && m_model->isMonitoringPaused();
    m_stateLabel->setText(paused ? QStringLiteral("Paused") : QStringLiteral("Monitoring"));
    style::setTextTone(m_stateLabel, paused ? style::Tone::secondary : style::Tone::primary);
    // Following the model is not a user change, so it must not be sent back.
    const QSignalBlocker blocker(m_pauseSwitch);
    m_pauseSwitch->setChecked(paused);
}

void MenuBarPopoverContentView::rebuildRecentEvents()
{
    for (QAbstractButton* row : m_rows) {
        row->hide();
        // A row may be in the middle of delivering its own click.
        row->deleteLater();
    }
    m_rows.clear();
    m_rowIDs.clear();
    if (m_emptyLabel != nullptr) {
        m_emptyLabel->deleteLater();
        m_emptyLabel = nullptr;
    }
    if (!m_model) {
        return;
    }

    const auto& events = m_model->events();
    if (events.empty()) {
        m_emptyLabel =
            style::makeLabel(QStringLiteral("No events yet."), style::TextStyle::caption, true, m_recentRows);
        m_emptyLabel->setContentsMargins(EventRowButton::kHorizontalInset, EventRowButton::kVerticalInset,
                                         EventRowButton::kHorizontalInset, EventRowButton::kVerticalInset);
        m_recentRowsLayout->addWidget(m_emptyLabel);
        return;
    }
    const std::size_t count = std::min<std::size_t>(events.size(), kRecentEventLimit);
    for (std::size_t i = 0; i < count; ++i) {
        const app::AppEvent& event = events[i];
        auto* row = new EventRowButton(event, m_recentRows);
        const app::Uuid id = event.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { openEvent(id); });
        m_recentRowsLayout->addWidget(row);
        m_rows.push_back(row);
        m_rowIDs.push_back(id);
    }
}

void MenuBarPopoverContentView::openEvent(const app::Uuid& id)
{
    if (m_model) {
        m_model->openEvent(id);
    }
    if (m_options.onOpenWindow) {
        m_options.onOpenWindow();
    }
}

} // namespace exitwise::ui
