// SPDX-License-Identifier: MIT
#include "support/EventLoop.h"
#include "support/QtPrinters.h"
#include "support/UiFixtures.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/FailureTimelineView.h"
#include "ui/IdleDetailView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using core::Confidence;

TEST(ConfidenceBadgeViewTest, TextAccessibleNameAndColourPerConfidence)
{
    // clang-format off
    const std::tuple<Confidence, const char*, const char*> cases[] = {
        {Confidence::high,   "High",   "Confidence High"},
        {Confidence::medium, "Medium", "Confidence Medium"},
        {Confidence::low,    "Low",    "Confidence Low"},
    };
    // clang-format on
    for (const auto& [confidence, text, accessibleName] : cases) {
        SCOPED_TRACE(text);
        // Renamed when the confidence changes.
        ConfidenceBadgeView badge(confidence == Confidence::low ? Confidence::high : Confidence::low);
        badge.setConfidence(confidence);
        EXPECT_EQ(badge.text(), text);
        EXPECT_EQ(badge.accessibleName(), accessibleName);
    }
    // Shades of green and orange that read on the background (the contrast is measured in
    // ThemeTest): the hue stays.
    EXPECT_NEAR(ConfidenceBadgeView(Confidence::high).colour().hslHueF(), style::green().hslHueF(), 0.02);
    EXPECT_NEAR(ConfidenceBadgeView(Confidence::medium).colour().hslHueF(), style::orange().hslHueF(), 0.02);
    // The secondary grey, not a colour.
    ConfidenceBadgeView low(Confidence::low);
    EXPECT_EQ(low.colour().hslSaturation(), style::secondary(&low).hslSaturation());
}

TEST(FailureTimelineViewTest, EntranceFadesInPulsesOnceAndComesToRest)
{
    FailureTimelineView timeline(core::dateFromSecondsSince1970(1772373000),
                                 core::dateFromSecondsSince1970(1772373909));
    EXPECT_FALSE(timeline.didAnimateIn());
    timeline.resize(400, 140);
    timeline.show();
    EXPECT_TRUE(timeline.didAnimateIn());
    EXPECT_TRUE(test::waitUntil([&] { return timeline.isPulsing(); }, std::chrono::milliseconds(2000)));
    QSignalSpy finished(&timeline, &FailureTimelineView::entranceFinished);
    ASSERT_TRUE(finished.wait(2000));
    EXPECT_FALSE(timeline.isAnimating());
    EXPECT_EQ(std::make_tuple(timeline.barOpacity(), timeline.closeMarkerScale(), timeline.glowOpacity()),
              std::make_tuple(1.0, 1.0, 0.0));
    EXPECT_EQ(finished.count(), 1); // one pulse, no repeat
}

TEST(OnboardingChecklistViewTest, CompleteIsEnabledOnlyWithAllFourTickedAndSkipIsNoCompletion)
{
    OnboardingChecklistView view;
    QSignalSpy completed(&view, &OnboardingChecklistView::completed);
    QSignalSpy skipped(&view, &OnboardingChecklistView::skipped);
    const auto& boxes = view.checkBoxes();
    EXPECT_EQ(boxes[2]->text(), "Open the diagnosis and read \u201CWhat happened / Why / What to do\u201D");
    view.skipButton()->click();
    for (int i = 0; i < 3; ++i) {
        boxes[i]->setChecked(true);
    }
    EXPECT_FALSE(view.completeButton()->isEnabled());
    boxes[3]->setChecked(true);
    EXPECT_TRUE(view.completeButton()->isEnabled());
    boxes[1]->setChecked(false);
    EXPECT_FALSE(view.completeButton()->isEnabled());
    boxes[1]->setChecked(true);
    view.completeButton()->click();
    EXPECT_EQ(QList({completed.count(), skipped.count()}), QList<qsizetype>({1, 1}));
}

TEST(IdleDetailViewTest, ShowsTheFirstDiagnosisPromise)
{
    test::expectTexts(IdleDetailView(), "idle-view");
}

} // namespace
} // namespace exitwise::ui
