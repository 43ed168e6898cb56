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

// How a start goes: whether the window came (and stayed), whether closing it quits, and what it
// says beside the other notes.
TEST(TrayWindowPolicy, TheWindowIsTheWayInUntilTheTrayIs)
{
    const std::string other = "Journal note.";
    const std::string noTray =
        "No system tray found: Exitwise stays in this window. Closing it quits Exitwise.";
    // clang-format off
    const struct { const char* name; bool inTray; bool trayAtStart; bool trayLater; std::string otherNote;
                   bool windowShown; bool quitsOnClose; std::string note; } cases[] = {
        {"menu start, tray there",         false, true,  false, other, true,  false, other},
        {"menu start, no tray ever",       false, false, false, "",    true,  true,  noTray},
        {"menu start, panel comes later",  false, false, true,  "",    true,  false, ""},
        {"login start, tray there",        true,  true,  false, other, false, false, other},
        {"login start, panel comes later", true,  false, true,  other, false, false, other},
        {"login start, no tray ever",      true,  false, false, other, true,  true,  noTray + " " + other},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeTrayAvailability tray(c.trayAtStart);
        AppDelegateOptions delegateOptions;
        delegateOptions.tray = &tray;
        delegateOptions.makeStatusItem = [] { return std::make_unique<test::FakeStatusItem>(); };
        test::FakeLoginItems loginItems;
        app::BroadcastCenter broadcasts;
        AppDelegate delegate(loginItems, broadcasts, delegateOptions);
        QMainWindow window;
        QString note = "(none)";
        TrayWindowPolicyOptions options;
        options.startInTray = c.inTray;
        options.trayWait = 200ms;
        options.otherNote = QString::fromStdString(c.otherNote);
        options.showNote = [&note](const QString& text) { note = text; };
        TrayWindowPolicy policy(delegate, window, std::move(options));
        delegate.installStatusItem();
        policy.start();
        bool everShown = window.isVisible();
        if (c.trayLater) {
            QTimer::singleShot(50ms, [&tray] { tray.set(true); });
        }
        for (const auto until = std::chrono::steady_clock::now() + 400ms;
             std::chrono::steady_clock::now() < until;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            everShown = everShown || window.isVisible();
        }
        // Shown or not from start to end: a tray appearing closes no window.
        EXPECT_EQ(std::tuple(everShown, window.isVisible(), QGuiApplication::quitOnLastWindowClosed(),
                             note.toStdString()),
                  std::tuple(c.windowShown, c.windowShown, c.quitsOnClose, c.note));
        QApplication::setQuitOnLastWindowClosed(true);
    }
}

} // namespace
} // namespace exitwise::ui
