// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/LogStore.h"

#include <filesystem>
#include <optional>

namespace exitwise::platform {

// The log store on the systemd journal. Entry fields: process = SYSLOG_IDENTIFIER, else _COMM;
// pid = _PID; image path = _EXE; message = MESSAGE; date = the entry's realtime stamp.
// The predicate is evaluated on each entry from the window start on.
class JournalLogStore final : public core::LogStore
{
public:
    // Reads the journal files in `directory`; without one, the directory named by
    // EXITWISE_JOURNAL_DIR; without that, every journal of this machine the user may read.
    explicit JournalLogStore(std::optional<std::filesystem::path> directory = std::nullopt);

    [[nodiscard]] std::optional<core::LogStoreError> readEntries(const core::LogQuery& query,
                                                                 const EntryVisitor& visit) const override;

    // The directory read, or nothing for the machine's journal.
    [[nodiscard]] const std::optional<std::filesystem::path>& directory() const { return m_directory; }

private:
    std::optional<std::filesystem::path> m_directory;
};

} // namespace exitwise::platform
