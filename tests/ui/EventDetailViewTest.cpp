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

    test::ModelFixture fixture;
    AppIconProvider icons;
    std::unique_ptr<EventDetailView> view;
};

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

// The whole card, and why this confidence: what the evidence classes add up to, and a caveat in
// the caution tone unless the confidence is high. A reclassification is said only with the cause
// it replaced; without a launch time there is no running time.
TEST_F(EventDetailViewTest, TheCardSaysWhatHappenedAndWhyThisConfidence)
{
    using enum core::MemoryPressureEvidence;
    const core::Date at = test::sampleTime();
    // clang-format off
    const std::tuple<const char*, Confidence, std::optional<core::DominantCause>, std::vector<core::Signal>>
        cases[] = {
        {"no-signals", Confidence::high, std::nullopt, {}},
        {"correlated-and-context", Confidence::medium, core::DominantCause::killedJetsamMemory,
         {core::JetsamSignal{at, "memorystatus: pressure", correlatedPressure},
          core::UnifiedLogSignal{at, std::string("kernel"), "low memory"}}},
        {"direct-only", Confidence::low, std::nullopt,
         {core::TerminationSignal{at, core::TerminationReason::crashed, std::string("signal 11"), {}},
          core::JetsamSignal{at, "killed", directTermination}}},
    };
    // clang-format on
    for (const auto& [name, confidence, previousCause, signalsUsed] : cases) {
        SCOPED_TRACE(name);
        app::AppEvent event = test::fullEvent("Sketch Pad", at);
        event.diagnosis.signalsUsed = signalsUsed;
        event.diagnosis.confidence = confidence;
        event.diagnosisChanged = true;
        event.previousDominantCause = previousCause;
        if (confidence == Confidence::low) {
            event.launchedAt.reset();
        }
        EventDetailView& detail = show(behindFiftyNewer(event), event.id);
        test::expectTexts(detail, std::string("detail-") + name);
        const QRegularExpression caveat("^(Strong evidence|Evidence is limited|Reclassified)");
        for (const QLabel* label : detail.findChildren<QLabel*>()) {
            EXPECT_TRUE(!caveat.match(label->text()).hasMatch()
                        || label->palette().color(QPalette::WindowText)
                               == style::tone(style::Tone::caution, label->parentWidget()->palette()))
                << label->text().toStdString();
        }
    }
}

// What the card's buttons do, and which of them the usage records count.
TEST_F(EventDetailViewTest, TheCardsButtonsCopyRateAndExpand)
{
    app::AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation.whatHappened = "It stopped.\nThen it was gone.";
    event.diagnosis.explanation.whatToDo = "Reopen it.\nSave often.";
    event.diagnosis.explanation.alternatives = {"Check the disk.", "Update the driver."};
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
        test::usageValues(fixture, ProductAnalyticsEventName::actionCopied, "action"),
        (Strings{"copy_fix", "copy_incident_summary", "report_wrong_diagnosis", "report_wrong_diagnosis"}));
    EXPECT_EQ(test::usageValues(fixture, ProductAnalyticsEventName::actionCopied, "event_id"),
              Strings(4, event.id.toString()));

    // A rating goes to the model and tints the choice in the shade of its tone that reads on the
    // button; only the tint is re-rendered, not the view: the confirmation stays.
    QPushButton* helpful = detail.helpfulButton();
    QPushButton* unhelpful = detail.unhelpfulButton();
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
    EXPECT_EQ(test::labelTexts(detail).count(confirmation), 1);

    // Each expansion of "Why this confidence" is recorded, not its folding.
    QToolButton* toggle = detail.confidenceDetailsToggle();
    EXPECT_EQ(toggle->text(), "Why this confidence");
    toggle->click();
    toggle->click();
    toggle->click();
    EXPECT_TRUE(detail.showConfidenceDetails());
    EXPECT_EQ(test::usageValues(fixture, ProductAnalyticsEventName::confidenceNoteExpanded, "event_id"),
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
    EXPECT_EQ(test::labelTexts(show({event}, app::Uuid::random())), QStringList{"Event not found"});
    EXPECT_EQ(test::viewsSince(fixture), Strings{});

    EXPECT_EQ(show({event}).alternativesToggle(), nullptr); // no alternatives, no group
    EXPECT_EQ(test::viewsSince(fixture), Strings{"detail_view " + event.id.toString()});
}

} // namespace
} // namespace exitwise::ui
