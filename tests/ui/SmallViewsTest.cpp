// SPDX-License-Identifier: MIT
#include "support/EventLoop.h"
#include "support/ModelFixture.h"
#include "support/QtPrinters.h"
#include "ui/ConfidenceBadgeView.h"
#include "ui/FailureTimelineView.h"
#include "ui/IdleDetailView.h"
#include "ui/MenuBarPopoverContentView.h"
#include "ui/OnboardingChecklistView.h"
#include "ui/PopoverWindow.h"
#include "ui/Style.h"

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

core::Date utc(double secondsSince1970)
{
    return core::dateFromSecondsSince1970(secondsSince1970);
}

struct BadgeCase
{
    Confidence confidence;
    const char* text;
    const char* accessibleName;
};

TEST(ConfidenceBadgeViewTest, TextAccessibleNameAndColourPerConfidence)
{
    const BadgeCase cases[] = {
        {Confidence::high, "High", "Confidence High"},
        {Confidence::medium, "Medium", "Confidence Medium"},
        {Confidence::low, "Low", "Confidence Low"},
    };
    for (const BadgeCase& c : cases) {
        SCOPED_TRACE(c.text);
        ConfidenceBadgeView badge(c.confidence);
        EXPECT_EQ(badge.text(), QString::fromUtf8(c.text));
        EXPECT_EQ(badge.accessibleName(), QString::fromUtf8(c.accessibleName));
        EXPECT_EQ(badge.colour(), style::confidenceColour(c.confidence, &badge));
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

TEST(ConfidenceBadgeViewTest, ChangingConfidenceRenamesTheBadge)
{
    ConfidenceBadgeView badge(Confidence::low);
    badge.setConfidence(Confidence::high);
    EXPECT_EQ(badge.accessibleName(), "Confidence High");
    EXPECT_GT(ConfidenceBadgeView::sizeFor(Confidence::medium).width(),
              ConfidenceBadgeView::sizeFor(Confidence::low).width());
}

TEST(FailureTimelineViewTest, WithoutLaunchTimeTheLaunchRowReadsUnknown)
{
    FailureTimelineView timeline(std::nullopt, utc(1772373909)); // 2026-03-01 14:05:09 UTC
    EXPECT_EQ(timeline.launchText(), "Unknown");
    EXPECT_EQ(timeline.closedText(), "Mar 1, 2026, 2:05:09 PM");
}

TEST(FailureTimelineViewTest, EntranceFadesInPulsesOnceAndComesToRest)
{
    FailureTimelineView timeline(utc(1772373000), utc(1772373909));
    EXPECT_FALSE(timeline.didAnimateIn());
    timeline.resize(400, 140);
    timeline.show();
    EXPECT_TRUE(timeline.didAnimateIn());
    EXPECT_TRUE(test::waitUntil([&] { return timeline.isPulsing(); }, std::chrono::milliseconds(2000)));
    QSignalSpy finished(&timeline, &FailureTimelineView::entranceFinished);
    ASSERT_TRUE(finished.wait(2000));
    EXPECT_FALSE(timeline.isPulsing());
    EXPECT_DOUBLE_EQ(timeline.barOpacity(), 1.0);
    EXPECT_DOUBLE_EQ(timeline.closeMarkerScale(), 1.0);
    EXPECT_DOUBLE_EQ(timeline.glowOpacity(), 0.0);
    EXPECT_FALSE(timeline.isAnimating());
    EXPECT_EQ(finished.count(), 1); // one pulse, no repeat
}

TEST(OnboardingChecklistViewTest, CompleteIsEnabledOnlyWithAllFourTicked)
{
    OnboardingChecklistView view;
    QSignalSpy completed(&view, &OnboardingChecklistView::completed);
    const auto& boxes = view.checkBoxes();
    EXPECT_EQ(boxes[2]->text(), "Open the diagnosis and read \u201CWhat happened / Why / What to do\u201D");
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
}

TEST(OnboardingChecklistViewTest, SkipReportsOnlySkipped)
{
    OnboardingChecklistView view;
    QSignalSpy completed(&view, &OnboardingChecklistView::completed);
    QSignalSpy skipped(&view, &OnboardingChecklistView::skipped);
    view.skipButton()->click();
    EXPECT_EQ(skipped.count(), 1);
    EXPECT_EQ(completed.count(), 0);
}

TEST(IdleDetailViewTest, ShowsTheFirstDiagnosisPromise)
{
    IdleDetailView view;
    QStringList texts;
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains("No events yet"));
    EXPECT_TRUE(texts.contains("Leave Exitwise running. The next time an app closes unexpectedly, "
                               "you\u2019ll see the reason here."));
    EXPECT_TRUE(texts.contains("\u2022 A concrete next action you can copy/share"));
}

app::AppEvent closure(const std::string& name, EndState state, DominantCause cause, Confidence confidence)
{
    return test::eventWithVerdict(name, core::now(), state, cause, confidence);
}

std::unique_ptr<QWidget> popover(app::AppModel& model)
{
    MenuBarPopoverContentView::Options options;
    options.supportsLaunchAtLogin = true;
    options.notificationScope = [] { return app::NotificationScope::unexpectedOnly; };
    options.onChangeNotificationScope = [](app::NotificationScope) {};
    auto window = std::make_unique<PopoverWindow>();
    window->setContent(new MenuBarPopoverContentView(model, std::move(options)));
    return window;
}

// Five rows (the newest of six) with every end state's mark and a name too long for its row.
std::unique_ptr<QWidget> popoverWithClosures(test::ModelFixture& fixture)
{
    // clang-format off
    return popover(fixture.makeModel({
        closure("Firefox", EndState::killed, DominantCause::killedJetsamMemory, Confidence::high),
        closure("Visual Studio Code", EndState::killed, DominantCause::killedWatchdogHang, Confidence::medium),
        closure("Thunderbird Mail with a very long window name indeed", EndState::crash, DominantCause::dependencyHelperFailure, Confidence::low),
        closure("LibreOffice Writer", EndState::cleanExit, DominantCause::explicitQuit, Confidence::high),
        closure("Inkscape", EndState::launchBlocked, DominantCause::dyldFailure, Confidence::medium),
        closure("GIMP", EndState::crash, DominantCause::crashBug, Confidence::high),
    }));
    // clang-format on
}

std::unique_ptr<QWidget> emptyPopover(test::ModelFixture& fixture)
{
    return popover(fixture.makeModel());
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

struct FitCase
{
    const char* view;
    std::unique_ptr<QWidget> (*make)(test::ModelFixture&);
};

// Every child lies inside its parent and every text has the height it needs: nothing is cut off.
TEST(ViewFitTest, EveryViewFitsItsContent)
{
    // clang-format off
    const FitCase cases[] = {
        {"popover with closures", popoverWithClosures},
        {"popover without closures", emptyPopover},
        {"onboarding checklist, half done", onboardingHalfDone},
        {"idle view", idle},
    };
    // clang-format on
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.view);
        test::ModelFixture fixture;
        const std::unique_ptr<QWidget> root = c.make(fixture);
        root->show();
        QCoreApplication::processEvents();
        for (const QWidget* child : root->findChildren<QWidget*>()) {
            if (!child->isVisible()) {
                continue;
            }
            EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
                << child->metaObject()->className() << " " << child->objectName().toStdString();
            if (const auto* label = qobject_cast<const QLabel*>(child)) {
                const int needed =
                    label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
                EXPECT_GE(label->height(), needed) << label->text().toStdString();
            }
        }
    }
}

} // namespace
} // namespace exitwise::ui
