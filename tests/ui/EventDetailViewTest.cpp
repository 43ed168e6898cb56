// SPDX-License-Identifier: MIT
#include "ui/EventDetailView.h"

#include "app/ClockTime.h"
#include "app/ReportTexts.h"
#include "support/QtPrinters.h"
#include "support/SampleEvents.h"
#include "support/StableEvents.h"
#include "support/UiFixtures.h"
#include "ui/AppIconProvider.h"
#include "ui/Style.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using app::ProductAnalyticsEventName;
using core::Confidence;
using Strings = std::vector<std::string>;

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
    return texts.filter(QRegularExpression("^" + QRegularExpression::escape(prefix)));
}

// Whether `label` is drawn in the caution tone of where it sits.
bool inCaution(const QLabel* label)
{
    return label != nullptr
           && label->palette().color(QPalette::WindowText)
                  == style::tone(style::Tone::caution, label->parentWidget()->palette());
}

class EventDetailViewTest : public ::testing::Test
{
protected:
    // The model over `stored` and a shown detail for `id`, by default the first stored event's.
    EventDetailView& show(const std::vector<app::AppEvent>& stored, std::optional<app::Uuid> id = {})
    {
        view.reset();
        app::AppModel& model = fixture.makeModel(stored);
        view = std::make_unique<EventDetailView>(model, id.value_or(stored.front().id), icons);
        view->resize(720, 900);
        view->show();
        return *view;
    }
    // `event` alone, its hand-made diagnosis kept through the model's start.
    EventDetailView& showAlone(const app::AppEvent& event) { return show({test::keptThroughRefresh(event)}); }

    [[nodiscard]] Strings usage(ProductAnalyticsEventName name, const std::string& key) const
    {
        return test::usageValues(fixture, name, key);
    }

    test::ModelFixture fixture;
    AppIconProvider icons;
    std::unique_ptr<EventDetailView> view;
};

// The whole card, and why this confidence: what the evidence classes add up to, and a caveat in
// the caution tone unless the confidence is high.
TEST_F(EventDetailViewTest, TheCardSaysWhatHappenedAndWhyThisConfidence)
{
    using enum core::MemoryPressureEvidence;
    const core::Date at = test::sampleTime();
    const std::tuple<const char*, Confidence, std::vector<core::Signal>> cases[] = {
        {"no-signals", Confidence::high, {}},
        {"correlated-and-context",
         Confidence::medium,
         {core::JetsamSignal{at, "memorystatus: pressure", correlatedPressure},
          core::UnifiedLogSignal{at, std::string("kernel"), "low memory"}}},
        {"direct-only",
         Confidence::low,
         {core::TerminationSignal{at, core::TerminationReason::crashed, std::string("signal 11"),
                                  std::nullopt},
          core::JetsamSignal{at, "killed", directTermination}}},
    };
    for (const auto& [name, confidence, signalsUsed] : cases) {
        SCOPED_TRACE(name);
        app::AppEvent event = test::fullEvent("Sketch Pad", at);
        event.diagnosis.signalsUsed = signalsUsed;
        event.diagnosis.confidence = confidence;
        EventDetailView& detail = showAlone(event);
        test::expectTexts(detail, std::string("detail-") + name);
        for (const QString& caveat :
             test::labelTexts(detail).filter(QRegularExpression("^(Strong evidence|Evidence is limited)"))) {
            EXPECT_TRUE(inCaution(labelWithText(detail, caveat))) << caveat.toStdString();
        }
    }
}

TEST_F(EventDetailViewTest, HeaderSaysHowLongAfterLaunchItClosed)
{
    // clang-format off
    const std::pair<std::optional<double>, QStringList> cases[] = {
        {std::nullopt, {}},
        {3600.0, {"Closed after 60m"}},
        {59.5, {"Closed after 1m"}},
        {59.4, {"Closed after 59s"}},
        {725.5, {"Closed after 12m 6s"}},
    };
    // clang-format on
    for (const auto& [secondsRunning, closedAfter] : cases) {
        SCOPED_TRACE(secondsRunning.value_or(-1));
        app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
        event.launchedAt.reset();
        if (secondsRunning) {
            event.launchedAt = event.terminatedAt - core::Seconds(*secondsRunning);
        }
        EXPECT_EQ(startingWith(test::labelTexts(showAlone(event)), "Closed after "), closedAfter);
    }
}

// Only the 50 newest events are re-diagnosed at start; the 51st keeps its stored bookkeeping.
std::vector<app::AppEvent> behindFiftyNewer(const app::AppEvent& oldest)
{
    std::vector<app::AppEvent> events;
    for (int i = 50; i >= 1; --i) {
        events.push_back(
            test::fullEvent("Newer " + std::to_string(i), oldest.terminatedAt + core::Seconds(i)));
    }
    events.push_back(oldest);
    return events;
}

TEST_F(EventDetailViewTest, ReclassifiedLineNeedsThePreviousCause)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.dominantCause = core::DominantCause::killedJetsamMemory;
    event.diagnosisChanged = true;
    EXPECT_EQ(startingWith(test::labelTexts(show(behindFiftyNewer(event), event.id)), "Reclassified"),
              QStringList{});

    event.previousDominantCause = core::DominantCause::crashBug;
    const QString line = "Reclassified: Crashed: app bug \u2192 Killed: memory pressure";
    EXPECT_EQ(startingWith(test::labelTexts(show(behindFiftyNewer(event), event.id)), "Reclassified"),
              QStringList{line});
    EXPECT_TRUE(inCaution(labelWithText(*view, line)));
}

TEST_F(EventDetailViewTest, FeedbackTintFollowsTheStoredRatingAndRecordsChangesOnly)
{
    const app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    EventDetailView& detail = showAlone(event);
    QPushButton* helpful = detail.helpfulButton();
    QPushButton* unhelpful = detail.unhelpfulButton();
    // Tinted in the shade of each tone that reads on the button.
    const auto shade = [helpful](style::Tone tone) {
        return style::tone(tone, helpful->parentWidget()->palette(), QPalette::Button);
    };
    const auto tints = [helpful, unhelpful] {
        return std::pair(helpful->palette().color(QPalette::ButtonText),
                         unhelpful->palette().color(QPalette::ButtonText));
    };
    const QColor accent = shade(style::Tone::accent);
    EXPECT_EQ(helpful->accessibleName(), "Mark diagnosis as helpful");
    EXPECT_EQ(unhelpful->accessibleName(), "Mark diagnosis as not helpful");
    EXPECT_EQ(tints(), std::pair(accent, accent));

    unhelpful->click();
    EXPECT_EQ(tints(), std::pair(accent, shade(style::Tone::negative)));
    EXPECT_EQ(fixture.model().event(event.id)->feedback, app::FeedbackRating::unhelpful);
    helpful->click();
    EXPECT_EQ(tints(), std::pair(shade(style::Tone::positive), accent));
    helpful->click();
    EXPECT_EQ(usage(ProductAnalyticsEventName::feedbackSubmitted, "helpful"), (Strings{"false", "true"}));
}

TEST_F(EventDetailViewTest, CopyActionsPutTheTextsOnTheClipboardAndAreRecorded)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation.whatHappened = "It stopped.\nThen it was gone.";
    event.diagnosis.explanation.whatToDo = "Reopen it.\nSave often.";
    event = test::keptThroughRefresh(event);
    EventDetailView& detail = show({event});
    const QString confirmation = "Copied report template. Paste it in your support channel or issue tracker.";
    const QClipboard& clipboard = *QGuiApplication::clipboard();
    EXPECT_EQ(detail.copyFixButton()->text(), "Copy fix");
    EXPECT_EQ(detail.copyFixButton()->accessibleName(), "Copy recommended fix");
    EXPECT_EQ(detail.reportButton()->accessibleDescription(),
              "Copies a structured report template to the clipboard.");
    EXPECT_FALSE(test::labelTexts(detail).contains(confirmation));

    detail.copyFixButton()->click();
    EXPECT_EQ(clipboard.text(), "Reopen it.\nSave often.");
    detail.copyIncidentSummaryButton()->click();
    const std::string at = app::clockTimeText(event.terminatedAt);
    EXPECT_EQ(clipboard.text().toStdString(), app::incidentSummary(event, at));
    // Reported twice: copied twice, confirmed once.
    detail.reportButton()->click();
    detail.reportButton()->click();
    EXPECT_EQ(clipboard.text().toStdString(), app::wrongDiagnosisReport(event, at));
    EXPECT_EQ(test::labelTexts(detail).count(confirmation), 1);
    EXPECT_TRUE(detail.supportStatusLabel()->isVisible());
    EXPECT_EQ(
        usage(ProductAnalyticsEventName::actionCopied, "action"),
        (Strings{"copy_fix", "copy_incident_summary", "report_wrong_diagnosis", "report_wrong_diagnosis"}));
    EXPECT_EQ(usage(ProductAnalyticsEventName::actionCopied, "event_id"), Strings(4, event.id.toString()));

    // A rating re-renders the feedback tint, not the view: the confirmation stays.
    detail.helpfulButton()->click();
    EXPECT_EQ(test::labelTexts(detail).count(confirmation), 1);
}

TEST_F(EventDetailViewTest, EachExpansionOfWhyThisConfidenceIsRecorded)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation.alternatives = {"Check the disk.", "Update the driver."};
    EventDetailView& detail = showAlone(event);
    QToolButton* toggle = detail.confidenceDetailsToggle();
    EXPECT_EQ(toggle->text(), "Why this confidence");
    EXPECT_FALSE(detail.showConfidenceDetails());
    toggle->click();
    toggle->click();
    toggle->click();
    EXPECT_TRUE(detail.showConfidenceDetails());
    EXPECT_EQ(usage(ProductAnalyticsEventName::confidenceNoteExpanded, "event_id"),
              Strings(2, event.id.toString()));

    ASSERT_NE(detail.alternativesToggle(), nullptr);
    EXPECT_FALSE(labelWithText(detail, "\u2022 Check the disk.")->isVisible());
    detail.alternativesToggle()->click();
    EXPECT_TRUE(labelWithText(detail, "\u2022 Check the disk.")->isVisible());
    EXPECT_FALSE(labelWithText(detail, "Signals used")->isVisible());
    detail.detailsToggle()->click();
    EXPECT_TRUE(labelWithText(detail, "Signals used")->isVisible());
}

TEST_F(EventDetailViewTest, AShownEventIsOneViewAndAnUnknownOneNone)
{
    const app::AppEvent event = test::keptThroughRefresh(test::fullEvent("Sketch Pad", test::sampleTime()));
    EventDetailView& missing = show({event}, app::Uuid::random());
    EXPECT_FALSE(missing.isEventFound());
    EXPECT_EQ(test::labelTexts(missing), QStringList{"Event not found"});
    EXPECT_EQ(test::viewsSince(fixture), Strings{});

    EventDetailView& shown = show({event});
    EXPECT_TRUE(shown.isEventFound());
    EXPECT_EQ(shown.alternativesToggle(), nullptr); // no alternatives, no group
    EXPECT_EQ(test::viewsSince(fixture), Strings{"detail_view " + event.id.toString()});
}

} // namespace
} // namespace exitwise::ui
