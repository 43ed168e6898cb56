// SPDX-License-Identifier: MIT
#include "platform/linux/DbusTrayAvailability.h"

#include "platform/linux/XcbTrayProbe.h"
#include "support/FakeStatusNotifierWatcher.h"
#include "support/PlatformFixtures.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace exitwise::platform {
namespace {

using namespace std::chrono_literals;

// The application (client) and the panel (service): two processes as far as the bus can tell.
using DbusTrayAvailabilityTest = test::ServiceBusTest;

// Lets the bus deliver what is under way.
void settle()
{
    (void)test::waitUntil([] { return false; }, 150ms);
}

TEST_F(DbusTrayAvailabilityTest, FollowsAPanelThatRegistersItsHostAfterTheStartAndRestarts)
{
    DbusTrayAvailability tray(client());
    std::vector<bool> changes;
    QObject::connect(&tray, &app::TrayAvailability::availabilityChanged,
                     [&changes](bool available) { changes.push_back(available); });
    settle();
    EXPECT_FALSE(tray.isAvailable()) << "nobody answers for a tray yet";

    test::FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.registerOn(service()));
    watcher.registerHost();
    ASSERT_TRUE(test::waitUntil([&] { return tray.isAvailable(); }));

    watcher.unregister(); // the panel went away
    ASSERT_TRUE(test::waitUntil([&] { return !tray.isAvailable(); }));

    // A panel that restarts takes the name again: its host counts once it says so.
    test::FakeStatusNotifierWatcher restarted;
    ASSERT_TRUE(restarted.registerOn(service()));
    settle();
    EXPECT_FALSE(tray.isAvailable()) << "a watcher without a host shows no items";
    restarted.registerHost();
    ASSERT_TRUE(test::waitUntil([&] { return tray.isAvailable(); }));
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));

    const DbusTrayAvailability later(client());
    EXPECT_TRUE(test::waitUntil([&] { return later.isAvailable(); })) << "a panel that was there first";
}

TEST_F(DbusTrayAvailabilityTest, AnXembedTrayCountsAndIsLookedForUntilOneIsThere)
{
    bool xembedTray = false;
    int probes = 0;
    DbusTrayAvailability tray(
        client(),
        [&] {
            ++probes;
            return xembedTray;
        },
        20ms);
    settle();
    EXPECT_FALSE(tray.isAvailable());
    EXPECT_GE(probes, 3) << "polled while there is none";

    xembedTray = true; // tint2 started
    ASSERT_TRUE(test::waitUntil([&] { return tray.isAvailable(); }));
    const int probesWhenFound = probes;
    settle();
    EXPECT_EQ(probes, probesWhenFound) << "no more polling once found";

    // A D-Bus host coming and going does not take the XEmbed tray away.
    test::FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.registerOn(service()));
    watcher.registerHost();
    settle();
    watcher.unregister();
    settle();
    EXPECT_TRUE(tray.isAvailable());
}

TEST(DbusTrayAvailability, WithoutABusOnlyTheXembedTrayCounts)
{
    const test::BusConnection none(QStringLiteral("unix:path=/nonexistent/bus"));
    DbusTrayAvailability noTray(none.connection);
    settle();
    EXPECT_FALSE(noTray.isAvailable());
    DbusTrayAvailability xembed(none.connection, [] { return true; });
    EXPECT_TRUE(xembed.isAvailable()) << "known at once, before any event";
}

// A real X server (Xvfb) and a tray manager played by taking the tray selection.
TEST(XcbTrayProbe, SeesTheTraySelectionBeingTaken)
{
    const test::ScopedEnvironment noDisplay("DISPLAY", ":9999");
    EXPECT_EQ(XcbTrayProbe::connect(), nullptr) << "no probe without a display";

    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForStarted());
    while (!server.canReadLine() && server.waitForReadyRead(5000)) {
    }
    const QByteArray display = ":" + server.readLine().trimmed();
    ASSERT_NE(display, ":") << "Xvfb did not start";
    const test::ScopedEnvironment displayed("DISPLAY", display.constData());

    const std::unique_ptr<XcbTrayProbe> probe = XcbTrayProbe::connect();
    ASSERT_NE(probe, nullptr);
    EXPECT_FALSE(probe->trayPresent());

    int screenNumber = 0;
    xcb_connection_t* manager = xcb_connect(nullptr, &screenNumber);
    ASSERT_EQ(xcb_connection_has_error(manager), 0);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(manager)).data->root;
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        manager, xcb_intern_atom(manager, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    ASSERT_NE(atom, nullptr);
    xcb_set_selection_owner(manager, root, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    std::free(xcb_get_input_focus_reply(manager, xcb_get_input_focus(manager), nullptr)); // a round trip
    EXPECT_TRUE(probe->trayPresent());

    xcb_disconnect(manager); // the tray manager quits: its selection goes with it
    EXPECT_TRUE(test::waitUntil([&] { return !probe->trayPresent(); }));
    server.terminate();
    server.waitForFinished(3000);
}

} // namespace
} // namespace exitwise::platform
