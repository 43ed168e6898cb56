// SPDX-License-Identifier: MIT
#include "ui/EventDetailView.h"

#include "app/ClockTime.h"
#include "app/ReportTexts.h"
#include "support/EventLoop.h"
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/StableEvents.h"
#include "ui/AppIconProvider.h"
#include "ui/Style.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::ProductAnalyticsEventName;
using core::Confidence;

QStringList labelTexts(const QWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

QLabel* labelWithText(const QWidget& widget, const QString& text)
{
    for (QLabel* label : widget.findChildren<QLabel*>()) {
        if (label->text() == text) {
            return label;
        }
    }
    return nullptr;
}

QStringList startingWith(const QStringList& texts, const QString& prefix)
{
    QStringList result;
    for (const QString& text : texts) {
        if (text.startsWith(prefix)) {
            result << text;
        }
    }
    return result;
}

std::size_t usageWith(const test::ModelFixture& fixture,
                      ProductAnalyticsEventName name,
                      const std::string& key,
                      const std::string& value)
{
    std::size_t count = 0;
    for (const auto& event : fixture.usageEvents()) {
        const auto found = event.attributes.find(key);
        count += event.name == name && found != event.attributes.end() && found->second == value ? 1 : 0;
    }
    return count;
}

class EventDetailViewTest : public ::testing::Test
{
protected:
    // The model over `stored` and a shown detail for `id`.
    EventDetailView& show(const std::vector<app::AppEvent>& stored, const app::Uuid& id)
    {
        view.reset();
        app::AppModel& model = fixture.makeModel(stored);
        view = std::make_unique<EventDetailView>(model, id, icons);
        view->resize(720, 900);
        view->show();
        return *view;
    }

    test::ModelFixture fixture;
    AppIconProvider icons;
    std::unique_ptr<EventDetailView> view;
};

TEST_F(EventDetailViewTest, WhyThisConfidenceFollowsTheEvidenceClasses)
{
    const core::Date at = test::sampleTime();
    const struct
    {
        const char* what;
        std::vector<core::Signal> signalsUsed;
        Confidence confidence;
        const char* headline;
        QStringList bullets;
        const char* caveat;
    } cases[] = {
        {"no signals",
         {},
         Confidence::high,
         "Confidence is high based on 0 signals.",
         {"\u2022 No supporting signals were captured for this event."},
         nullptr},
        {"correlated and context",
         {core::JetsamSignal{at, "memorystatus: pressure", core::MemoryPressureEvidence::correlatedPressure},
          core::UnifiedLogSignal{at, std::string("kernel"), "low memory"}},
         Confidence::medium,
         "Confidence is medium based on 2 signals.",
         {"\u2022 1 correlated evidence signal", "\u2022 1 inferred/context signal"},
         "Strong evidence exists, but alternate causes are still possible."},
        {"direct only",
         {core::TerminationSignal{at, core::TerminationReason::crashed, std::string("signal 11"),
                                  std::nullopt},
          core::JetsamSignal{at, "killed", core::MemoryPressureEvidence::directTermination}},
         Confidence::low,
         "Confidence is low based on 2 signals.",
         {"\u2022 2 direct OS-level signals"},
         "Evidence is limited. Treat this as the best current hypothesis and verify with additional logs."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        app::AppEvent event = test::fullEvent("Sketch Pad", at);
        event.diagnosis.signalsUsed = c.signalsUsed;
        event.diagnosis.confidence = c.confidence;
        EventDetailView& detail = show({test::keptThroughRefresh(event)}, event.id);
        const QStringList texts = labelTexts(detail);

        EXPECT_EQ(texts.count(c.headline), 1);
        QStringList bullets;
        for (const QString& text : startingWith(texts, "\u2022 ")) {
            // Signal lines under "Details" are bullets too; keep the summary's.
            if (text.contains("signal") && !text.contains(':')) {
                bullets << text;
            }
        }
        EXPECT_EQ(bullets, c.bullets);
        EXPECT_EQ(texts.contains("None"), c.signalsUsed.empty());
        for (const core::Signal& signal : c.signalsUsed) {
            EXPECT_TRUE(texts.contains(QString::fromStdString("\u2022 " + signal.summary())));
        }
        for (const char* caveat :
             {"Strong evidence exists, but alternate causes are still possible.",
              "Evidence is limited. Treat this as the best current hypothesis and verify with "
              "additional logs."}) {
            EXPECT_EQ(texts.contains(caveat), c.caveat != nullptr && std::string_view(caveat) == c.caveat);
        }
        if (c.caveat != nullptr) {
            const QLabel* caveat = labelWithText(detail, c.caveat);
            EXPECT_EQ(caveat->palette().color(QPalette::WindowText),
                      style::tone(style::Tone::caution, caveat->parentWidget()->palette()));
        }
    }
}

TEST_F(EventDetailViewTest, HeaderShowsHowAndHowLongAfterLaunch)
{
    const struct
    {
        std::optional<double> secondsRunning;
        const char* closedAfter;
    } cases[] = {
        {std::nullopt, nullptr},    {3600.0, "Closed after 60m"},   {59.5, "Closed after 1m"},
        {59.4, "Closed after 59s"}, {725.5, "Closed after 12m 6s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closedAfter != nullptr ? c.closedAfter : "no launch time");
        app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
        event.launchedAt.reset();
        if (c.secondsRunning) {
            event.launchedAt = event.terminatedAt - core::Seconds(*c.secondsRunning);
        }
        const QStringList texts = labelTexts(show({test::keptThroughRefresh(event)}, event.id));
        EXPECT_TRUE(texts.contains("Sketch Pad"));
        EXPECT_TRUE(texts.contains("Crash \u2022 Crashed: app bug"));
        EXPECT_EQ(startingWith(texts, "Closed after "),
                  c.closedAfter != nullptr ? QStringList{c.closedAfter} : QStringList{});
        EXPECT_TRUE(startingWith(texts, "Reclassified").isEmpty());
        // 19:33:20 UTC, with the window of 180 seconds on each side.
        EXPECT_TRUE(texts.contains("Time window: 7:30:20 PM \u2192 7:36:20 PM"));
    }
}

// Only the 50 newest events are re-diagnosed at start; the 51st keeps its stored bookkeeping.
std::vector<app::AppEvent> behindFiftyNewer(const app::AppEvent& oldest)
{
    std::vector<app::AppEvent> events;
    for (int i = 1; i <= 50; ++i) {
        events.push_back(
            test::fullEvent("Newer " + std::to_string(i), oldest.terminatedAt + core::Seconds(i)));
    }
    std::reverse(events.begin(), events.end());
    events.push_back(oldest);
    return events;
}

TEST_F(EventDetailViewTest, ReclassifiedLineNeedsThePreviousCause)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.dominantCause = core::DominantCause::killedJetsamMemory;
    event.diagnosisChanged = true;
    EXPECT_TRUE(startingWith(labelTexts(show(behindFiftyNewer(event), event.id)), "Reclassified").isEmpty());

    event.previousDominantCause = core::DominantCause::crashBug;
    const QStringList texts = labelTexts(show(behindFiftyNewer(event), event.id));
    EXPECT_EQ(startingWith(texts, "Reclassified"),
              QStringList{"Reclassified: Crashed: app bug \u2192 Killed: memory pressure"});
    const QLabel* reclassified = labelWithText(*view, startingWith(texts, "Reclassified").first());
    EXPECT_EQ(reclassified->palette().color(QPalette::WindowText),
              style::tone(style::Tone::caution, reclassified->parentWidget()->palette()));
}

TEST_F(EventDetailViewTest, FeedbackTintFollowsTheStoredRatingAndRecordsChangesOnly)
{
    const app::AppEvent event = test::keptThroughRefresh(test::fullEvent("Sketch Pad", test::sampleTime()));
    EventDetailView& detail = show({event}, event.id);
    // Tinted in the shade of each tone that reads on the button.
    const auto shade = [&detail](style::Tone tone) {
        return style::tone(tone, detail.helpfulButton()->parentWidget()->palette(), QPalette::Button);
    };
    const QColor accent = shade(style::Tone::accent);
    const auto tint = [](const QPushButton* button) { return button->palette().color(QPalette::ButtonText); };
    EXPECT_EQ(detail.helpfulButton()->accessibleName(), "Mark diagnosis as helpful");
    EXPECT_EQ(detail.unhelpfulButton()->accessibleName(), "Mark diagnosis as not helpful");
    EXPECT_EQ(tint(detail.helpfulButton()), accent);
    EXPECT_EQ(tint(detail.unhelpfulButton()), accent);

    detail.unhelpfulButton()->click();
    EXPECT_EQ(tint(detail.unhelpfulButton()), shade(style::Tone::negative));
    EXPECT_EQ(tint(detail.helpfulButton()), accent);
    EXPECT_EQ(fixture.model().event(event.id)->feedback, app::FeedbackRating::unhelpful);

    detail.helpfulButton()->click();
    EXPECT_EQ(tint(detail.helpfulButton()), shade(style::Tone::positive));
    EXPECT_EQ(tint(detail.unhelpfulButton()), accent);
    detail.helpfulButton()->click();
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::feedbackSubmitted), 2u);
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::feedbackSubmitted, "helpful", "true"), 1u);
}

TEST_F(EventDetailViewTest, ReportTwiceCopiesTwiceAndConfirmsOnce)
{
    const app::AppEvent event = test::keptThroughRefresh(test::fullEvent("Sketch Pad", test::sampleTime()));
    EventDetailView& detail = show({event}, event.id);
    const QString confirmation = "Copied report template. Paste it in your support channel or issue tracker.";
    EXPECT_FALSE(labelTexts(detail).contains(confirmation));
    EXPECT_EQ(detail.reportButton()->accessibleDescription(),
              "Copies a structured report template to the clipboard.");

    detail.reportButton()->click();
    detail.reportButton()->click();
    EXPECT_EQ(labelTexts(detail).count(confirmation), 1);
    EXPECT_TRUE(detail.supportStatusLabel()->isVisible());
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::actionCopied, "action", "report_wrong_diagnosis"),
              2u);
    const std::string expected = app::wrongDiagnosisReport(event, app::clockTimeText(event.terminatedAt));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), expected);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(
        "Exitwise Wrong-Diagnosis Report\nEvent ID: " + QString::fromStdString(event.id.toString())));

    // A rating re-renders the feedback tint, not the view: the confirmation stays.
    detail.helpfulButton()->click();
    EXPECT_EQ(labelTexts(detail).count(confirmation), 1);
}

TEST_F(EventDetailViewTest, CopyActionsPutTheTextsOnTheClipboard)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation.whatHappened = "It stopped.\nThen it was gone.";
    event.diagnosis.explanation.whatToDo = "Reopen it.\nSave often.";
    event = test::keptThroughRefresh(event);
    EventDetailView& detail = show({event}, event.id);
    EXPECT_EQ(detail.copyFixButton()->text(), "Copy fix");
    EXPECT_EQ(detail.copyFixButton()->accessibleName(), "Copy recommended fix");

    detail.copyFixButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Reopen it.\nSave often.");
    detail.copyIncidentSummaryButton()->click();
    const std::string summary = app::incidentSummary(event, app::clockTimeText(event.terminatedAt));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), summary);
    EXPECT_NE(summary.find("What happened: It stopped.\nThen it was gone.\nWhy: "), std::string::npos);

    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::actionCopied, "action", "copy_fix"), 1u);
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::actionCopied, "action", "copy_incident_summary"),
              1u);
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::actionCopied, "event_id", event.id.toString()),
              2u);
}

TEST_F(EventDetailViewTest, EachExpansionOfWhyThisConfidenceIsRecorded)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation.alternatives = {"Check the disk.", "Update the driver."};
    event = test::keptThroughRefresh(event);
    EventDetailView& detail = show({event}, event.id);
    QToolButton* toggle = detail.confidenceDetailsToggle();
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), "Why this confidence");
    EXPECT_FALSE(detail.showConfidenceDetails());

    toggle->click();
    toggle->click();
    toggle->click();
    EXPECT_TRUE(detail.showConfidenceDetails());
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::confidenceNoteExpanded, "event_id",
                        event.id.toString()),
              2u);

    ASSERT_NE(detail.alternativesToggle(), nullptr);
    EXPECT_FALSE(labelWithText(detail, "\u2022 Check the disk.")->isVisible());
    detail.alternativesToggle()->click();
    EXPECT_TRUE(labelWithText(detail, "\u2022 Check the disk.")->isVisible());
    EXPECT_FALSE(labelWithText(detail, "Signals used")->isVisible());
    detail.detailsToggle()->click();
    EXPECT_TRUE(labelWithText(detail, "Signals used")->isVisible());
}

TEST_F(EventDetailViewTest, ShownEventRecordsOneView)
{
    const app::AppEvent event = test::keptThroughRefresh(test::fullEvent("Sketch Pad", test::sampleTime()));
    EventDetailView& detail = show({event}, event.id);
    EXPECT_TRUE(detail.isEventFound());
    EXPECT_EQ(detail.alternativesToggle(), nullptr); // no alternatives, no group
    EXPECT_EQ(usageWith(fixture, ProductAnalyticsEventName::diagnosisViewed, "source", "detail_view"), 1u);
}

TEST_F(EventDetailViewTest, UnknownEventShowsNotFoundAndRecordsNothing)
{
    const app::AppEvent event = test::keptThroughRefresh(test::fullEvent("Sketch Pad", test::sampleTime()));
    EventDetailView& missing = show({event}, app::Uuid::random());
    EXPECT_FALSE(missing.isEventFound());
    EXPECT_EQ(labelTexts(missing), QStringList{"Event not found"});
    EXPECT_EQ(fixture.usageCount(ProductAnalyticsEventName::diagnosisViewed), 0u);
}

} // namespace
} // namespace exitwise::ui
