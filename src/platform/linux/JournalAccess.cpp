// SPDX-License-Identifier: MIT
#include "platform/linux/JournalAccess.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

namespace exitwise::platform {

namespace fs = std::filesystem;

namespace {

std::string machineId(const fs::path& file)
{
    std::ifstream in(file);
    std::string id;
    std::getline(in, id);
    return id;
}

bool readable(const fs::path& file)
{
    return ::access(file.c_str(), R_OK) == 0;
}

} // namespace

JournalAccess
JournalAccess::probe(unsigned uid, const std::vector<fs::path>& roots, const fs::path& machineIdFile)
{
    JournalAccess access;
    const std::string id = machineId(machineIdFile);
    const std::string userFile = "user-" + std::to_string(uid) + ".journal";
    for (const fs::path& root : roots) {
        std::error_code error;
        const fs::path directory = id.empty() ? root : root / id;
        for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
            const std::string name = entry.path().filename().string();
            if (!name.ends_with(".journal")) {
                continue;
            }
            access.anyJournal = true;
            if (name == "system.journal" || name.starts_with("system@")) {
                access.systemJournal = access.systemJournal || readable(entry.path());
            } else if (name == userFile || name.starts_with("user-" + std::to_string(uid) + "@")) {
                access.userJournal = access.userJournal || readable(entry.path());
            }
        }
    }
    return access;
}

std::optional<std::string> JournalAccess::note() const
{
    if (systemJournal) {
        return std::nullopt;
    }
    if (!anyJournal) {
        return "no systemd journal found: closures are explained from exit statuses and crash-report files "
               "only";
    }
    if (!userJournal) {
        return "the journal is not readable (add yourself to the systemd-journal or adm group, or enable "
               "persistent "
               "journal storage): closures are explained from exit statuses and crash-report files only";
    }
    return "kernel messages are not readable (add yourself to the systemd-journal or adm group to read "
           "them): "
           "crashes are still explained from exit statuses and systemd-coredump's records";
}

} // namespace exitwise::platform
