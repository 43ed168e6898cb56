// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/CrashRecord.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace exitwise::platform {

struct CrashRecordSourceSettings
{
    // A journal directory to read instead of this machine's journal; unset: EXITWISE_JOURNAL_DIR,
    // else the machine's.
    std::optional<std::filesystem::path> journalDirectory;
    // apport's reports; unset: /var/crash.
    std::optional<std::filesystem::path> apportDirectory;
    // ABRT's problem directories; unset: /var/spool/abrt.
    std::optional<std::filesystem::path> abrtDirectory;
    // The user's cache directory, where KWin leaves its "not responding" markers; unset:
    // userCacheDirectory().
    std::optional<std::filesystem::path> cacheDirectory;
};

// Every place this machine keeps crash records: systemd-coredump's journal entries, apport's
// reports, ABRT's problem directories and, when a cache directory is known, KWin's "not
// responding" markers. Places that do not exist or cannot be read give no records.
[[nodiscard]] std::vector<std::shared_ptr<const core::CrashRecordSource>>
createCrashRecordSources(const CrashRecordSourceSettings& settings = {});

// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache; nothing without a home.
[[nodiscard]] std::optional<std::filesystem::path> userCacheDirectory();

} // namespace exitwise::platform
