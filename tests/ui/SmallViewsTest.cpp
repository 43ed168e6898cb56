// SPDX-License-Identifier: MIT
#include "support/EventLoop.h"
#include "support/QtPrinters.h"
#include "support/UiFixtures.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/FailureTimelineView.h"
#include "ui/IdleDetailView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <memory>

namespace exitwise::ui {
namespace {

using core::Confidence;
using core::DominantCause;
using core::EndState;

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
        EXPECT_EQ(badge.colour(), style::confidenceColour(confidence, &badge));
    }
    // Shades of green and orange that read on the background (the contrast is measured in
    // ThemeTest): the hue stays.
    EXPECT_NEAR(ConfidenceBadgeView(Confidence::high).colour().hslHueF(), style::green().hslHueF(), 0.02);
    EXPECT_NEAR(ConfidenceBadgeView(Confidence::medium).colour().hslHueF(), style::orange().hslHueF(), 0.02);
    // The secondary grey, a shade darker where its own capsule needs it.
    ConfidenceBadgeView low(Confidence::low);
    EXPECT_EQ(low.colour().hslSaturation(), style::secondary(&low).hslSaturation());
    EXPECT_LE(low.colour().lightness(), style::secondary(&low).lightness());
    EXPECT_GE(low.colour().lightness(), style::secondary(&low).lightness() - 16);
}

TEST(FailureTimelineViewTest, WithoutLaunchTimeTheLaunchRowReadsUnknown)
{
    FailureTimelineView timeline(std::nullopt,
                                 core::dateFromSecondsSince1970(1772373909)); // 2026-03-01 14:05:09
    EXPECT_EQ(timeline.launchText(), "Unknown");
    EXPECT_EQ(timeline.closedText(), "Mar 1, 2026, 2:05:09 PM");
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
    EXPECT_EQ(skipped.count(), 1);
    for (int i = 0; i < 3; ++i) {
        boxes[i]->setChecked(true);
    }
    EXPECT_FALSE(view.completeButton()->isEnabled());
    view.completeButton()->click();
    EXPECT_EQ(completed.count(), 0);
    boxes[3]->setChecked(true);
    EXPECT_TRUE(view.completeButton()->isEnabled());
    boxes[1]->setChecked(false);
    EXPECT_FALSE(view.completeButton()->isEnabled());
    boxes[1]->setChecked(true);
    view.completeButton()->click();
    view.completeButton()->click();
    EXPECT_EQ(completed.count(), 2);
    EXPECT_EQ(skipped.count(), 1);
}

TEST(IdleDetailViewTest, ShowsTheFirstDiagnosisPromise)
{
    test::expectTexts(IdleDetailView(), "idle-view");
}

app::AppEvent closure(const std::string& name, EndState state, DominantCause cause, Confidence confidence)
{
    return test::eventWithVerdict(name, core::now(), state, cause, confidence);
}

// Five rows (the newest of six) with every end state's mark and a name too long for its row.
std::unique_ptr<QWidget> popoverWithClosures(test::ModelFixture& fixture)
{
    using enum EndState;
    using enum DominantCause;
    using enum Confidence;
    // clang-format off
    return test::popoverWith(fixture.makeModel({
        closure("Firefox", killed, killedJetsamMemory, high),
        closure("Visual Studio Code", killed, killedWatchdogHang, medium),
        closure("Thunderbird Mail with a very long window name indeed", crash, dependencyHelperFailure, low),
        closure("LibreOffice Writer", cleanExit, explicitQuit, high),
        closure("Inkscape", launchBlocked, dyldFailure, medium),
        closure("GIMP", crash, crashBug, high),
    }), app::NotificationScope::unexpectedOnly);
    // clang-format on
}

std::unique_ptr<QWidget> emptyPopover(test::ModelFixture& fixture)
{
    return test::popoverWith(fixture.makeModel(), app::NotificationScope::unexpectedOnly);
}

std::unique_ptr<QWidget> onboardingHalfDone(test::ModelFixture&)
{
    auto view = std::make_unique<OnboardingChecklistView>();
    view->checkBoxes()[0]->setChecked(true);
    view->checkBoxes()[1]->setChecked(true);
    view->adjustSize();
    return view;
}

std::unique_ptr<QWidget> idle(test::ModelFixture&)
{
    auto view = std::make_unique<IdleDetailView>();
    view->resize(620, 360);
    return view;
}

// Every child lies inside its parent and every text has the room it needs, also with the
// application font 25 % larger: nothing is cut off.
TEST(ViewFitTest, EveryViewFitsItsContent)
{
    const std::pair<const char*, std::unique_ptr<QWidget> (*)(test::ModelFixture&)> cases[] = {
        {"popover with closures", popoverWithClosures},
        {"popover without closures", emptyPopover},
        {"onboarding checklist, half done", onboardingHalfDone},
        {"idle view", idle},
    };
    const QFont original = QApplication::font();
    for (const double scale : {1.0, 1.25}) {
        QFont font = original;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        for (const auto& [view, make] : cases) {
            SCOPED_TRACE(std::string(view) + " at " + std::to_string(scale));
            test::ModelFixture fixture;
            const std::unique_ptr<QWidget> root = make(fixture);
            root->show();
            QCoreApplication::processEvents();
            for (const QWidget* child : root->findChildren<QWidget*>()) {
                if (!child->isVisible()) {
                    continue;
                }
                EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
                    << child->metaObject()->className() << " " << child->objectName().toStdString();
                if (const auto* label = qobject_cast<const QLabel*>(child)) {
                    EXPECT_GE(label->height(), label->wordWrap() ? label->heightForWidth(label->width())
                                                                 : label->sizeHint().height())
                        << label->text().toStdString();
                } else if (const auto* box = qobject_cast<const QCheckBox*>(child)) {
                    EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString();
                }
            }
        }
    }
    QApplication::setFont(original);
}

} // namespace
} // namespace exitwise::ui
