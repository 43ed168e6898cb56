// SPDX-License-Identifier: MIT
#include "ui/TrayWindowPolicy.h"

#include "app/BroadcastCenter.h"
#include "app/LoginItems.h"
#include "support/EventLoop.h"
#include "support/FakeTray.h"
#include "ui/AppDelegate.h"

#include <QApplication>
#include <QMainWindow>

#include <gtest/gtest.h>

namespace exitwise::ui {
namespace {

using namespace std::chrono_literals;

class NoLoginItems final : public app::LoginItems
{
public:
    [[nodiscard]] app::LoginItemStatus status() const override { return app::LoginItemStatus::notRegistered; }
    [[nodiscard]] std::optional<app::LoginItemError> registerItem() override { return std::nullopt; }
    [[nodiscard]] std::optional<app::LoginItemError> unregisterItem() override { return std::nullopt; }
};

constexpr const char* kNoTray =
    "No system tray found: Exitwise stays in this window. Closing it quits Exitwise.";

// How a start goes: whether the window came, whether closing it quits, and what it says.
TEST(TrayWindowPolicy, TheWindowIsTheWayInUntilTheTrayIs)
{
    constexpr int never = -1;
    struct Case
    {
        const char* name;
        bool startInTray;
        bool trayAtStart;
        int trayAfterMs;
        bool windowShown;
        bool quitsOnClose;
        const char* note;
    };
    // clang-format off
    const Case cases[] = {
        {"menu start, tray there",              false, true,  never, true,  false, "Journal note."},
        {"menu start, no tray ever",            false, false, never, true,  true,  "No system tray found: Exitwise stays in this window. Closing it quits Exitwise. Journal note."},
        {"menu start, the panel comes later",   false, false, 50,    true,  false, "Journal note."},
        {"login start, tray there",             true,  true,  never, false, false, "Journal note."},
        {"login start, the panel comes later",  true,  false, 50,    false, false, "Journal note."},
        {"login start, no tray ever",           true,  false, never, true,  true,  "No system tray found: Exitwise stays in this window. Closing it quits Exitwise. Journal note."},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoLoginItems loginItems;
        app::BroadcastCenter broadcasts;
        test::FakeTrayAvailability tray(c.trayAtStart);
        AppDelegateOptions delegateOptions;
        delegateOptions.tray = &tray;
        delegateOptions.makeStatusItem = [] { return std::make_unique<test::FakeStatusItem>(); };
        AppDelegate delegate(loginItems, broadcasts, delegateOptions);
        QMainWindow window;
        bool everShown = false;
        QString note = "(none)";

        TrayWindowPolicyOptions options;
        options.startInTray = c.startInTray;
        options.trayWait = 200ms;
        options.showNote = [&note](const QString& text) { note = text; };
        options.otherNote = "Journal note.";
        TrayWindowPolicy policy(delegate, window, options);
        delegate.installStatusItem();
        policy.start();
        everShown = window.isVisible();
        if (c.trayAfterMs != never) {
            QTimer::singleShot(c.trayAfterMs, [&tray] { tray.set(true); });
        }
        (void)test::waitUntil(
            [&] {
                everShown = everShown || window.isVisible();
                return false;
            },
            400ms);

        EXPECT_EQ(everShown, c.windowShown);
        EXPECT_EQ(QGuiApplication::quitOnLastWindowClosed(), c.quitsOnClose);
        EXPECT_EQ(note, c.note);
    }
    QApplication::setQuitOnLastWindowClosed(true);
}

TEST(TrayWindowPolicy, TheNoteIsExactAndGoesAwayWithoutOtherNotes)
{
    EXPECT_STREQ(TrayWindowPolicy::kNoTrayNote, kNoTray);
    NoLoginItems loginItems;
    app::BroadcastCenter broadcasts;
    test::FakeTrayAvailability tray(false);
    AppDelegateOptions delegateOptions;
    delegateOptions.tray = &tray;
    delegateOptions.makeStatusItem = [] { return std::make_unique<test::FakeStatusItem>(); };
    AppDelegate delegate(loginItems, broadcasts, delegateOptions);
    QMainWindow window;
    QString note;
    TrayWindowPolicyOptions options;
    options.showNote = [&note](const QString& text) { note = text; };
    TrayWindowPolicy policy(delegate, window, options);
    delegate.installStatusItem();
    policy.start();
    EXPECT_EQ(note, kNoTray);
    EXPECT_FALSE(policy.hasTray());
    tray.set(true);
    EXPECT_TRUE(policy.hasTray());
    EXPECT_EQ(note, "");
    EXPECT_TRUE(window.isVisible()) << "the tray appearing does not close the window";
    QApplication::setQuitOnLastWindowClosed(true);
}

} // namespace
} // namespace exitwise::ui
