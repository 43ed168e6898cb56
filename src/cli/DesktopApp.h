// SPDX-License-Identifier: MIT
#pragma once

namespace exitwise::cli {

struct DesktopAppOptions
{
    // `--background`, as the autostart entry starts it: in the tray, without the window.
    bool startInTray = false;
};

// Runs the desktop app (tray item, popover, main window) until the user quits it or SIGINT or
// SIGTERM arrives; returns the exit status. Without a graphical display it says so and fails.
[[nodiscard]] int runDesktopApp(int& argc, char** argv, DesktopAppOptions options = {});

} // namespace exitwise::cli
