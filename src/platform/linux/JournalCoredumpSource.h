// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/CrashRecord.h"

#include <filesystem>
#include <optional>

namespace exitwise::platform {

// systemd-coredump's journal entries (MESSAGE_ID fc2e22bc…). With persistent journal storage a
// user's crashes are in that user's own journal file, readable without any group.
class JournalCoredumpSource final : public core::CrashRecordSource
{
public:
    // systemd-coredump logs after it has stored the core and made the stack trace: entries up
    // to this long after the window still count when their crash time lies inside it.
    static constexpr core::Seconds kDefaultLoggingDelay{10};

    // Reads the journal files in `directory`; without one, the directory named by
    // EXITWISE_JOURNAL_DIR; without that, every journal of this machine the user may read.
    explicit JournalCoredumpSource(std::optional<std::filesystem::path> directory = std::nullopt,
                                   core::Seconds loggingDelay = kDefaultLoggingDelay);

    [[nodiscard]] std::vector<core::CrashRecord> records(const core::TimestampWindow& window) const override;

    [[nodiscard]] const std::optional<std::filesystem::path>& directory() const { return m_directory; }

private:
    std::optional<std::filesystem::path> m_directory;
    core::Seconds m_loggingDelay;
};

} // namespace exitwise::platform
