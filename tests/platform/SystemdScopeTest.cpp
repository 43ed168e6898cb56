// SPDX-License-Identifier: MIT
#include "platform/linux/SystemdScope.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

TEST(SystemdScope, NamesTheApplicationTheDesktopStarted)
{
    using Ids = std::vector<std::string>;
    const std::string u = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const struct
    {
        std::string cgroup;
        Ids ids;
    } cases[] = {
        // clang-format off
        {u + "app-gnome-org.gnome.Evince-12345.scope\n", {"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        {u + "app-org.kde.dolphin-a1b2c3.scope\n", {"org.kde.dolphin"}},
        {u + "app-gnome-google\\x2dchrome-4242.scope\n", {"google-chrome", "gnome-google-chrome"}},
        {u + "app-org.kde.konsole@0d5f.service\n", {"org.kde.konsole"}},
        {u + "app-dbus\\x2d:1.2\\x2dorg.gnome.Terminal.slice/dbus-:1.2-org.gnome.Terminal@0.service\n",
         {"org.gnome.Terminal"}},
        {u + "snap.code.url-handler-0b3c4d5e-1234-4abc-8def-0123456789ab.scope\n", {"code_url-handler"}},
        {u + "snap.vlc.vlc-1a2b3c.scope\n", {"vlc_vlc"}},
        // Hybrid hierarchy: only systemd's named tree carries the unit.
        {"12:cpu:/\n1:name=systemd:/user.slice/user-1000.slice/session-2.scope/app-gnome-gedit-77.scope\n"
         "0::/\n", {"gedit", "gnome-gedit"}},
        {u + "app-gnome-org.gnome.Evince-12345.scope/subgroup\n",
         {"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        // Not an application's unit.
        {"0::/user.slice/user-1000.slice/session-2.scope\n", {}},
        {u + "pipewire.service\n", {}},
        {"garbage", {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scopeApplicationIds(c.cgroup), c.ids) << c.cgroup;
    }
}

} // namespace
} // namespace exitwise::platform
