// SPDX-License-Identifier: MIT
#include "ui/EventDetailView.h"

#include "app/AppModel.h"
#include "app/ClockTime.h"
#include "app/ConfidenceSummary.h"
#include "app/DurationText.h"
#include "app/ReportTexts.h"
#include "ui/AppIconView.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/FailureTimelineView.h"
#include "ui/Style.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

namespace exitwise::ui {

namespace {

constexpr int kMaxColumnWidth = 780;
constexpr int kCardShadow = 4;

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QString raw(auto value)
{
    return QString::fromUtf8(core::rawValue(value));
}

QLabel* textLabel(const QString& text, style::TextStyle type, bool secondary, QWidget* parent)
{
    QLabel* label = style::makeLabel(text, type, secondary, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QVBoxLayout* column(int spacing, const QMargins& margins = {})
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(margins);
    return layout;
}

void setButtonTint(QPushButton* button, style::Tone tone)
{
    style::setTextTone(button, tone, QPalette::ButtonText, QPalette::Button);
}

// A titled group that opens and closes: an arrow and the title in the secondary colour,
// and the content below while expanded.
class DisclosureGroup : public QWidget
{
public:
    DisclosureGroup(const QString& title, bool expanded, QWidget* parent)
        : QWidget(parent)
        , m_expanded(expanded)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        // Not checkable: a checked tool button would draw as pressed while the group is open.
        m_toggle = new QToolButton(this);
        m_toggle->setText(title);
        m_toggle->setAutoRaise(true);
        m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        m_toggle->setCursor(Qt::PointingHandCursor);
        m_toggle->setAccessibleName(title);
        style::setTextTone(m_toggle, style::Tone::secondary, QPalette::ButtonText);
        layout->addWidget(m_toggle, 0, Qt::AlignLeft);
        m_content = new QWidget(this);
        layout->addWidget(m_content);
        present(expanded);
        connect(m_toggle, &QToolButton::clicked, this, [this] {
            m_expanded = !m_expanded;
            present(m_expanded);
            if (m_onToggle) {
                m_onToggle(m_expanded);
            }
        });
    }

    [[nodiscard]] QToolButton* toggle() const { return m_toggle; }
    [[nodiscard]] QWidget* content() const { return m_content; }
    void onToggle(std::function<void(bool)> action) { m_onToggle = std::move(action); }

private:
    void present(bool expanded)
    {
        m_toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        m_toggle->setAccessibleDescription(expanded ? QStringLiteral("Expanded")
                                                    : QStringLiteral("Collapsed"));
        m_content->setVisible(expanded);
    }

    bool m_expanded;
    QToolButton* m_toggle = nullptr;
    QWidget* m_content = nullptr;
    std::function<void(bool)> m_onToggle;
};

// The explanation card: a rounded panel lifted off the column by a faint shadow.
class CardFrame : public QWidget
{
public:
    explicit CardFrame(QWidget* parent)
        : QWidget(parent)
    {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF card = QRectF(rect()).adjusted(kCardShadow, kCardShadow - 2, -kCardShadow, -kCardShadow);
        painter.setPen(Qt::NoPen);
        for (int i = kCardShadow; i >= 1; --i) {
            painter.setBrush(QColor(0, 0, 0, 4));
            painter.drawRoundedRect(card.adjusted(-i, -i + 1, i, i + 1), 14 + i, 14 + i);
        }
        painter.setBrush(palette().color(QPalette::Base));
        painter.setPen(QPen(QColor(0, 0, 0, 18), 1));
        painter.drawRoundedRect(card, 14, 14);
    }
};

QWidget* explanationSection(const QString& title, const QString& text, QWidget* parent)
{
    auto* section = new QWidget(parent);
    QVBoxLayout* layout = column(6);
    section->setLayout(layout);
    layout->addWidget(style::makeLabel(title, style::TextStyle::headline, false, section));
    layout->addWidget(textLabel(text, style::TextStyle::body, false, section));
    return section;
}

} // namespace

EventDetailView::EventDetailView(app::AppModel& model,
                                 const app::Uuid& eventID,
                                 AppIconProvider& icons,
                                 QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_eventID(eventID)
    , m_icons(icons)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    if (const app::AppEvent* event = m_model.event(m_eventID)) {
        m_shown = *event;
    }
    rebuild();
    connect(&m_model, &app::AppModel::eventsChanged, this, &EventDetailView::refresh);
}

void EventDetailView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && m_shown) {
        m_model.recordDiagnosisViewed(m_eventID, "detail_view");
    }
}

void EventDetailView::refresh()
{
    const app::AppEvent* current = m_model.event(m_eventID);
    if (current == nullptr) {
        if (m_shown) {
            m_shown.reset();
            rebuild();
        }
        return;
    }
    if (m_shown && *m_shown == *current) {
        return;
    }
    if (m_shown) {
        app::AppEvent ratedOnly = *m_shown;
        ratedOnly.feedback = current->feedback;
        if (ratedOnly == *current) {
            m_shown = *current;
            applyFeedbackTints();
            return;
        }
    }
    m_shown = *current;
    rebuild();
}

void EventDetailView::clearControls()
{
    m_scroll = nullptr;
    m_copyFix = m_copyIncidentSummary = m_helpful = m_unhelpful = m_report = nullptr;
    m_alternativesToggle = m_confidenceToggle = m_detailsToggle = nullptr;
    m_supportStatus = nullptr;
}

void EventDetailView::rebuild()
{
    const int scrollPosition = m_scroll != nullptr ? m_scroll->verticalScrollBar()->value() : 0;
    if (m_page != nullptr) {
        // Possibly inside a handler of one of its buttons: let it finish first.
        m_layout->removeWidget(m_page);
        m_page->hide();
        m_page->deleteLater();
    }
    clearControls();
    m_page = m_shown ? buildPage(*m_shown) : buildNotFound();
    m_layout->addWidget(m_page);
    m_page->show();
    if (m_scroll != nullptr && scrollPosition > 0) {
        QTimer::singleShot(0, this, [scroll = QPointer<QScrollArea>(m_scroll), scrollPosition] {
            if (scroll) {
                scroll->verticalScrollBar()->setValue(scrollPosition);
            }
        });
    }
}

QWidget* EventDetailView::buildNotFound()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(
        style::makeLabel(QStringLiteral("Event not found"), style::TextStyle::body, false, page));
    layout->addStretch(1);
    return page;
}

QWidget* EventDetailView::buildPage(const app::AppEvent& event)
{
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* canvas = new QWidget;
    canvas->setBackgroundRole(QPalette::Window);
    auto* canvasLayout = new QHBoxLayout(canvas);
    canvasLayout->setContentsMargins(24, 24, 24, 24);
    canvasLayout->setSpacing(0);

    // Long lines are hard to read on a wide window: the column stops growing at a comfortable
    // width and stays at the leading edge.
    auto* body = new QWidget(canvas);
    body->setMaximumWidth(kMaxColumnWidth);
    QVBoxLayout* blocks = column(18);
    body->setLayout(blocks);
    blocks->addWidget(buildHeader(event, body));
    blocks->addWidget(new FailureTimelineView(event.launchedAt, event.terminatedAt, body));
    blocks->addWidget(buildExplanation(event, body));
    blocks->addWidget(buildFeedback(body));
    blocks->addWidget(buildDetails(event, body));
    blocks->addStretch(1);
    canvasLayout->addWidget(body, 1);
    canvasLayout->addStretch(0);

    m_scroll->setWidget(canvas);
    m_scroll->viewport()->setBackgroundRole(QPalette::Window);
    applyFeedbackTints();
    return m_scroll;
}

QWidget* EventDetailView::buildHeader(const app::AppEvent& event, QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(new AppIconView(m_icons, event.appPath, 44, 10, header), 0, Qt::AlignVCenter);

    QVBoxLayout* lines = column(4);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(10);
    QLabel* name = style::makeLabel(qs(event.appName), style::TextStyle::title2, false, header);
    name->setFont(style::font(style::TextStyle::title2, true));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name->setWordWrap(true);
    nameRow->addWidget(name, 0);
    nameRow->addWidget(new ConfidenceBadgeView(event.diagnosis.confidence, header), 0, Qt::AlignVCenter);
    nameRow->addStretch(1);
    lines->addLayout(nameRow);

    lines->addWidget(textLabel(raw(event.diagnosis.endState) + QStringLiteral(" \u2022 ")
                                   + raw(event.diagnosis.dominantCause),
                               style::TextStyle::body, true, header));
    if (event.diagnosisChanged.value_or(false) && event.previousDominantCause) {
        QLabel* reclassified =
            textLabel(QStringLiteral("Reclassified: ") + raw(*event.previousDominantCause)
                          + QStringLiteral(" \u2192 ") + raw(event.diagnosis.dominantCause),
                      style::TextStyle::caption, false, header);
        style::setTextTone(reclassified, style::Tone::caution);
        lines->addWidget(reclassified);
    }
    if (event.launchedAt) {
        const double seconds = (event.terminatedAt - *event.launchedAt).count();
        lines->addWidget(textLabel(QStringLiteral("Closed after ") + qs(app::detailDurationText(seconds)),
                                   style::TextStyle::caption, true, header));
    }
    row->addLayout(lines, 1);
    return header;
}

QWidget* EventDetailView::buildExplanation(const app::AppEvent& event, QWidget* parent)
{
    const core::ExplanationCard& card = event.diagnosis.explanation;
    auto* frame = new CardFrame(parent);
    QVBoxLayout* items =
        column(12, QMargins(16 + kCardShadow, 16 + kCardShadow - 2, 16 + kCardShadow, 16 + kCardShadow));
    frame->setLayout(items);

    items->addWidget(explanationSection(QStringLiteral("What happened"), qs(card.whatHappened), frame));
    items->addWidget(explanationSection(QStringLiteral("Why"), qs(card.why), frame));

    QVBoxLayout* fix = column(6);
    fix->addWidget(style::makeLabel(QStringLiteral("What to do"), style::TextStyle::headline, false, frame));
    fix->addWidget(textLabel(qs(card.whatToDo), style::TextStyle::body, false, frame));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->setContentsMargins(0, 4, 0, 0);
    m_copyFix = new QPushButton(QStringLiteral("Copy fix"), frame);
    m_copyFix->setAccessibleName(QStringLiteral("Copy recommended fix"));
    m_copyFix->setAutoDefault(false);
    // The prominent button: filled with the accent colour.
    style::setAccentFill(m_copyFix);
    m_copyIncidentSummary = new QPushButton(QStringLiteral("Copy incident summary"), frame);
    m_copyIncidentSummary->setAccessibleName(QStringLiteral("Copy incident summary"));
    m_copyIncidentSummary->setAutoDefault(false);
    buttons->addWidget(m_copyFix);
    buttons->addWidget(m_copyIncidentSummary);
    buttons->addStretch(1);
    fix->addLayout(buttons);
    items->addLayout(fix);

    connect(m_copyFix, &QPushButton::clicked, this,
            [this] { copyText(qs(m_shown->diagnosis.explanation.whatToDo), "copy_fix"); });
    connect(m_copyIncidentSummary, &QPushButton::clicked, this, [this] {
        copyText(qs(app::incidentSummary(*m_shown, app::clockTimeText(m_shown->terminatedAt))),
                 "copy_incident_summary");
    });

    if (!card.alternatives.empty()) {
        auto* group = new DisclosureGroup(QStringLiteral("Alternate actions"), m_showAlternatives, frame);
        QVBoxLayout* lines = column(4, QMargins(0, 6, 0, 0));
        group->content()->setLayout(lines);
        for (const std::string& alternative : card.alternatives) {
            lines->addWidget(textLabel(QStringLiteral("\u2022 ") + qs(alternative), style::TextStyle::caption,
                                       true, group->content()));
        }
        group->onToggle([this](bool open) { m_showAlternatives = open; });
        m_alternativesToggle = group->toggle();
        items->addWidget(group);
    }

    if (card.confidenceNote) {
        QLabel* note = textLabel(qs(*card.confidenceNote), style::TextStyle::caption, true, frame);
        note->setContentsMargins(0, 4, 0, 0);
        items->addWidget(note);
    }

    const app::ConfidenceSummary summary = app::confidenceSummary(event.diagnosis);
    auto* group = new DisclosureGroup(QStringLiteral("Why this confidence"), m_showConfidenceDetails, frame);
    QVBoxLayout* lines = column(6, QMargins(0, 4, 0, 0));
    group->content()->setLayout(lines);
    QWidget* content = group->content();
    lines->addWidget(
        style::makeLabel(QStringLiteral("Why this confidence"), style::TextStyle::headline, false, content));
    lines->addWidget(textLabel(qs(summary.headline), style::TextStyle::caption, true, content));
    for (const std::string& bullet : summary.evidenceBullets) {
        lines->addWidget(
            textLabel(QStringLiteral("\u2022 ") + qs(bullet), style::TextStyle::caption, true, content));
    }
    if (summary.caveat) {
        QLabel* caveat = textLabel(qs(*summary.caveat), style::TextStyle::caption, false, content);
        style::setTextTone(caveat, style::Tone::caution);
        lines->addWidget(caveat);
    }
    group->onToggle([this](bool open) {
        m_showConfidenceDetails = open;
        if (open) {
            m_model.recordConfidenceNoteExpanded(m_eventID);
        }
    });
    m_confidenceToggle = group->toggle();
    items->addWidget(group);
    return frame;
}

QWidget* EventDetailView::buildFeedback(QWidget* parent)
{
    auto* block = new QWidget(parent);
    QVBoxLayout* lines = column(8);
    block->setLayout(lines);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(style::makeLabel(QStringLiteral("Helpful?"), style::TextStyle::subheadline, true, block));
    m_helpful = new QPushButton(QStringLiteral("Yes"), block);
    m_helpful->setAccessibleName(QStringLiteral("Mark diagnosis as helpful"));
    m_unhelpful = new QPushButton(QStringLiteral("No"), block);
    m_unhelpful->setAccessibleName(QStringLiteral("Mark diagnosis as not helpful"));
    m_report = new QPushButton(QStringLiteral("Report wrong diagnosis"), block);
    m_report->setAccessibleName(QStringLiteral("Report wrong diagnosis"));
    m_report->setAccessibleDescription(
        QStringLiteral("Copies a structured report template to the clipboard."));
    m_report->setToolTip(m_report->accessibleDescription());
    for (QPushButton* button : {m_helpful, m_unhelpful, m_report}) {
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    row->addStretch(1);
    lines->addLayout(row);

    m_supportStatus =
        style::makeLabel(m_supportStatusMessage.value_or(QString()), style::TextStyle::caption, true, block);
    m_supportStatus->setVisible(m_supportStatusMessage && !m_supportStatusMessage->isEmpty());
    lines->addWidget(m_supportStatus);

    connect(m_helpful, &QPushButton::clicked, this,
            [this] { m_model.submitFeedback(app::FeedbackRating::helpful, m_eventID); });
    connect(m_unhelpful, &QPushButton::clicked, this,
            [this] { m_model.submitFeedback(app::FeedbackRating::unhelpful, m_eventID); });
    connect(m_report, &QPushButton::clicked, this, &EventDetailView::reportWrongDiagnosis);
    return block;
}

QWidget* EventDetailView::buildDetails(const app::AppEvent& event, QWidget* parent)
{
    auto* group = new DisclosureGroup(QStringLiteral("Details"), m_showDetails, parent);
    QWidget* content = group->content();
    QVBoxLayout* lines = column(8, QMargins(0, 8, 0, 0));
    content->setLayout(lines);
    lines->addWidget(
        style::makeLabel(QStringLiteral("Signals used"), style::TextStyle::headline, false, content));
    const std::vector<core::Signal>& evidence = event.diagnosis.signalsUsed;
    if (evidence.empty()) {
        lines->addWidget(style::makeLabel(QStringLiteral("None"), style::TextStyle::body, true, content));
    }
    for (const core::Signal& signal : evidence) {
        lines->addWidget(textLabel(QStringLiteral("\u2022 ") + qs(signal.summary(m_model.wording())),
                                   style::TextStyle::caption, true, content));
    }
    lines->addWidget(
        textLabel(QStringLiteral("Time window: ") + qs(app::clockTimeText(event.diagnosis.window.start))
                      + QStringLiteral(" \u2192 ") + qs(app::clockTimeText(event.diagnosis.window.end)),
                  style::TextStyle::caption, true, content));
    group->onToggle([this](bool open) { m_showDetails = open; });
    m_detailsToggle = group->toggle();
    return group;
}

void EventDetailView::applyFeedbackTints()
{
    if (m_helpful == nullptr || !m_shown) {
        return;
    }
    setButtonTint(m_helpful, m_shown->feedback == app::FeedbackRating::helpful ? style::Tone::positive
                                                                               : style::Tone::accent);
    setButtonTint(m_unhelpful, m_shown->feedback == app::FeedbackRating::unhelpful ? style::Tone::negative
                                                                                   : style::Tone::accent);
}

void EventDetailView::copyText(const QString& text, const char* action)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    m_model.recordActionCopied(m_eventID, action);
}

void EventDetailView::reportWrongDiagnosis()
{
    copyText(qs(app::wrongDiagnosisReport(*m_shown, app::clockTimeText(m_shown->terminatedAt))),
             "report_wrong_diagnosis");
    m_supportStatusMessage =
        QStringLiteral("Copied report template. Paste it in your support channel or issue tracker.");
    m_supportStatus->setText(*m_supportStatusMessage);
    m_supportStatus->setVisible(true);
}

} // namespace exitwise::ui
