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
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const struct
    {
        std::string cgroup;
        Ids ids;
    } cases[] = {
        {user + "app-gnome-org.gnome.Evince-12345.scope\n",
         Ids{"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        {user + "app-org.kde.dolphin-a1b2c3.scope\n", Ids{"org.kde.dolphin"}},
        {user + "app-gnome-google\\x2dchrome-4242.scope\n", Ids{"google-chrome", "gnome-google-chrome"}},
        {user + "app-flatpak-org.mozilla.firefox-999.scope\n",
         Ids{"org.mozilla.firefox", "flatpak-org.mozilla.firefox"}},
        {user + "app-org.kde.konsole@0d5f.service\n", Ids{"org.kde.konsole"}},
        {user + "app-dbus\\x2d:1.2\\x2dorg.gnome.Terminal.slice/dbus-:1.2-org.gnome.Terminal@0.service\n",
         Ids{"org.gnome.Terminal"}},
        {user + "snap.firefox.firefox-0b3c4d5e-1234-4abc-8def-0123456789ab.scope\n", Ids{"firefox_firefox"}},
        {user + "snap.code.url-handler-0b3c4d5e-1234-4abc-8def-0123456789ab.scope\n",
         Ids{"code_url-handler"}},
        {user + "snap.vlc.vlc-1a2b3c.scope\n", Ids{"vlc_vlc"}},
        // Hybrid hierarchy: only systemd's named tree carries the unit.
        {"12:cpu:/\n1:name=systemd:/user.slice/user-1000.slice/session-2.scope/app-gnome-gedit-77.scope\n0::/"
         "\n",
         Ids{"gedit", "gnome-gedit"}},
        {user + "app-gnome-org.gnome.Evince-12345.scope/subgroup\n",
         Ids{"org.gnome.Evince", "gnome-org.gnome.Evince"}},
        // Not an application's unit.
        {"0::/user.slice/user-1000.slice/session-2.scope\n", Ids{}},
        {user + "pipewire.service\n", Ids{}},
        {"0::/\n", Ids{}},
        {"garbage", Ids{}},
        {"", Ids{}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scopeApplicationIds(c.cgroup), c.ids) << c.cgroup;
    }
}

} // namespace
} // namespace exitwise::platform
