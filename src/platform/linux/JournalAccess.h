// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {

// Which journal files this user can read, by looking at them: with persistent storage journald
// keeps each user's messages, and the crash records of that user's processes, in
// `user-UID.journal`, readable by that user; kernel lines and everything else stay in
// `system.journal`, readable only by the groups systemd-journal, adm and wheel. With volatile
// storage there is no split: without those groups nothing is readable.
struct JournalAccess
{
    bool systemJournal = false; // kernel lines, system services, other users
    bool userJournal = false;   // this user's own messages and crash records
    bool anyJournal = false;    // some journal file exists at all

    // Looks in `roots` (the persistent and the volatile journal directory), in the directory
    // of this machine's id.
    [[nodiscard]] static JournalAccess
    probe(unsigned uid,
          const std::vector<std::filesystem::path>& roots = {"/var/log/journal", "/run/log/journal"},
          const std::filesystem::path& machineIdFile = "/etc/machine-id");

    // The one note to show a user about evidence they cannot read, or nothing when they can
    // read everything that matters.
    [[nodiscard]] std::optional<std::string> note() const;
};

} // namespace exitwise::platform
