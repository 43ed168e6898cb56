// SPDX-License-Identifier: MIT
#pragma once

#include "platform/linux/DesktopEntryIndex.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {

// What is known of a process when it is matched to an application. The command line and the
// control group are read only when the executable alone does not decide.
struct ProcessView
{
    std::optional<std::string> executable; // canonical, as the kernel gives it
    std::function<std::vector<std::string>()> commandLine;
    std::function<std::string()> cgroup; // the contents of /proc/<pid>/cgroup
};

// The desktop entry the process runs, by its program (the executable, else the command line or
// the program a wrapper such as env, sh -c or flatpak run starts), then its Flatpak ID, then
// the application unit the desktop started it in. Several entries for one program are told
// apart by that unit, else by the arguments they share with the process.
[[nodiscard]] std::optional<std::string> matchApplication(const DesktopEntryIndex& index,
                                                          const ProcessView& process);

} // namespace exitwise::platform
