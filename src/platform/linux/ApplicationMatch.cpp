// SPDX-License-Identifier: MIT
#include "platform/linux/ApplicationMatch.h"

#include "platform/linux/LaunchTarget.h"
#include "platform/linux/SystemdScope.h"

#include <algorithm>

namespace exitwise::platform {

std::optional<std::string> matchApplication(const DesktopEntryIndex& index, const ProcessView& process)
{
    std::optional<std::vector<std::string>> arguments;
    auto commandLine = [&]() -> const std::vector<std::string>& {
        if (!arguments) {
            arguments = process.commandLine ? process.commandLine() : std::vector<std::string>();
        }
        return *arguments;
    };
    std::optional<std::vector<std::string>> scopeIds;
    auto scope = [&]() -> const std::vector<std::string>& {
        if (!scopeIds) {
            scopeIds = scopeApplicationIds(process.cgroup ? process.cgroup() : std::string());
        }
        return *scopeIds;
    };

    std::string programKey;
    // Where the program lies, when known: another copy of it elsewhere is not the application.
    std::string programPath;
    std::string flatpakId;
    const std::optional<std::string>& executable = process.executable;
    if (executable && !isWrapperProgram(baseName(*executable))) {
        programKey = baseName(*executable);
        programPath = *executable; // the kernel gives it canonical
    } else {
        std::vector<std::string> command = commandLine();
        if (executable && !command.empty()) {
            command.front() = *executable;
        }
        if (!command.empty() && !isWrapperProgram(baseName(command.front()))) {
            programKey = baseName(command.front()); // exe unreadable
        } else if (std::optional<LaunchTarget> target = resolveLaunchTarget(command)) {
            programKey = baseName(target->program);
            if (target->program.starts_with('/')) {
                programPath = canonicalPath(target->program);
            }
            flatpakId = target->flatpakId;
        }
    }

    std::vector<const DesktopEntry*> found;
    if (!programPath.empty()) {
        found = index.byProgramPath(programPath);
    } else if (!programKey.empty()) {
        found = index.byProgram(programKey);
    }
    if (found.size() == 1) {
        return found.front()->id;
    }
    if (found.size() > 1) {
        // Several entries run the same program (an office suite's parts): the unit the desktop
        // started it in decides, else the entry whose arguments the process was given.
        for (const std::string& id : scope()) {
            for (const DesktopEntry* entry : found) {
                if (entry->id == id) {
                    return entry->id;
                }
            }
        }
        const std::vector<std::string>& given = commandLine();
        const DesktopEntry* best = found.front();
        std::ptrdiff_t bestScore = -1;
        for (const DesktopEntry* entry : found) {
            const std::ptrdiff_t score = std::count_if(
                entry->exec.begin() + (entry->exec.empty() ? 0 : 1), entry->exec.end(),
                [&](const std::string& argument) {
                    return std::find(given.begin() + (given.empty() ? 0 : 1), given.end(), argument)
                           != given.end();
                });
            if (score > bestScore) {
                best = entry;
                bestScore = score;
            }
        }
        return best->id;
    }
    if (!flatpakId.empty()) {
        if (const DesktopEntry* entry = index.byFlatpakId(flatpakId)) {
            return entry->id;
        }
    }
    for (const std::string& id : scope()) {
        if (const DesktopEntry* entry = index.byId(id)) {
            return entry->id;
        }
        if (const DesktopEntry* entry = index.byFlatpakId(id)) {
            return entry->id;
        }
    }
    return std::nullopt;
}

} // namespace exitwise::platform
