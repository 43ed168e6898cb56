// SPDX-License-Identifier: MIT
#include "ui/TrayWindowPolicy.h"

#include "app/BroadcastCenter.h"
#include "support/FakeTray.h"
#include "support/UiFixtures.h"
#include "ui/AppDelegate.h"

#include <QApplication>
#include <QMainWindow>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using namespace std::chrono_literals;

// A start of the application: the tray side, the window and the notes it was shown.
struct Start
{
    Start(bool trayAtStart, TrayWindowPolicyOptions options)
        : tray(trayAtStart)
    {
        AppDelegateOptions delegateOptions;
        delegateOptions.tray = &tray;
        delegateOptions.makeStatusItem = [] { return std::make_unique<test::FakeStatusItem>(); };
        delegate = std::make_unique<AppDelegate>(loginItems, broadcasts, delegateOptions);
        options.showNote = [this](const QString& text) { note = text; };
        policy = std::make_unique<TrayWindowPolicy>(*delegate, window, std::move(options));
        delegate->installStatusItem();
        policy->start();
    }
    ~Start() { QApplication::setQuitOnLastWindowClosed(true); }

    test::FakeLoginItems loginItems;
    app::BroadcastCenter broadcasts;
    test::FakeTrayAvailability tray;
    std::unique_ptr<AppDelegate> delegate;
    QMainWindow window;
    QString note = "(none)";
    std::unique_ptr<TrayWindowPolicy> policy;
};

// How a start goes: whether the window came, whether closing it quits, and what it says.
TEST(TrayWindowPolicy, TheWindowIsTheWayInUntilTheTrayIs)
{
    constexpr int never = -1;
    const char* const noTray =
        "No system tray found: Exitwise stays in this window. Closing it quits Exitwise. Journal note.";
    const struct
    {
        const char* name;
        bool startInTray;
        bool trayAtStart;
        int trayAfterMs;
        bool windowShown;
        bool quitsOnClose;
        const char* note;
    } cases[] = {
        // clang-format off
        {"menu start, tray there",             false, true,  never, true,  false, "Journal note."},
        {"menu start, no tray ever",           false, false, never, true,  true,  noTray},
        {"menu start, the panel comes later",  false, false, 50,    true,  false, "Journal note."},
        {"login start, tray there",            true,  true,  never, false, false, "Journal note."},
        {"login start, the panel comes later", true,  false, 50,    false, false, "Journal note."},
        {"login start, no tray ever",          true,  false, never, true,  true,  noTray},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrayWindowPolicyOptions options;
        options.startInTray = c.startInTray;
        options.trayWait = 200ms;
        options.otherNote = "Journal note.";
        Start start(c.trayAtStart, options);
        bool everShown = start.window.isVisible();
        if (c.trayAfterMs != never) {
            QTimer::singleShot(c.trayAfterMs, [&start] { start.tray.set(true); });
        }
        for (const auto until = std::chrono::steady_clock::now() + 400ms;
             std::chrono::steady_clock::now() < until;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            everShown = everShown || start.window.isVisible();
        }
        EXPECT_EQ(everShown, c.windowShown);
        EXPECT_EQ(QGuiApplication::quitOnLastWindowClosed(), c.quitsOnClose);
        EXPECT_EQ(start.note, c.note);
    }
}

TEST(TrayWindowPolicy, TheNoteIsExactAndGoesAwayWithoutOtherNotes)
{
    Start start(false, {});
    EXPECT_EQ(start.note, "No system tray found: Exitwise stays in this window. Closing it quits Exitwise.");
    EXPECT_FALSE(start.policy->hasTray());
    start.tray.set(true);
    EXPECT_TRUE(start.policy->hasTray());
    EXPECT_EQ(start.note, "");
    EXPECT_TRUE(start.window.isVisible()) << "the tray appearing does not close the window";
}

} // namespace
} // namespace exitwise::ui
