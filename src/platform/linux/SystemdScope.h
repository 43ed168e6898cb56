// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace exitwise::platform {

// Application IDs that the desktop's systemd unit for a process names, from the text of
// /proc/PID/cgroup, most likely first. Desktops start each application in its own unit:
// app-[<launcher>-]<ID>-<random>.scope, app-[<launcher>-]<ID>[@<random>].service,
// app-flatpak-<ID>-<pid>.scope, snap.<snap>.<app>-<uuid>.scope (→ <snap>_<app>) and
// dbus-<bus>-<ID>@<n>.service for D-Bus activation. Escapes such as \x2d are decoded.
// Empty when the process is in no such unit.
[[nodiscard]] std::vector<std::string> scopeApplicationIds(std::string_view cgroupFile);

} // namespace exitwise::platform
