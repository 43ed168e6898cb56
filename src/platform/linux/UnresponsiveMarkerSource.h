// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/CrashRecord.h"

#include <filesystem>

namespace exitwise::platform {

// The markers KWin leaves when the user ends an application that stopped responding
// (`<exe>.<boot id>.<pid>.<ms>.json` in `$XDG_CACHE_HOME/drkonqi/application-not-responding`),
// as records of kind unresponsiveKill. The time is the one in the name.
class UnresponsiveMarkerSource final : public core::CrashRecordSource
{
public:
    explicit UnresponsiveMarkerSource(std::filesystem::path directory);

    [[nodiscard]] std::vector<core::CrashRecord> records(const core::TimestampWindow& window) const override;

    [[nodiscard]] const std::filesystem::path& directory() const { return m_directory; }

private:
    std::filesystem::path m_directory;
};

} // namespace exitwise::platform
