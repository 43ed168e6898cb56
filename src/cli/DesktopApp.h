// SPDX-License-Identifier: MIT
#pragma once

namespace exitwise::cli {

// Runs the desktop app (tray item, popover, main window) until the user quits it or SIGINT or
// SIGTERM arrives; returns the exit status. Without a graphical display it says so and fails.
[[nodiscard]] int runDesktopApp(int& argc, char** argv);

} // namespace exitwise::cli
