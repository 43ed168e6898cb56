// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/CrashRecord.h"

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace exitwise::platform {

// ABRT's problem directories (Fedora, RHEL): one directory per problem in /var/spool/abrt,
// one file per item. Only native crashes count.
class AbrtProblemSource final : public core::CrashRecordSource
{
public:
    static constexpr std::string_view kDefaultDirectory = "/var/spool/abrt";
    // Directories last modified this long before the window are not read: ABRT creates one after
    // the crash and adds to it later.
    static constexpr core::Seconds kDefaultSlack{2};
    // Items are small texts; the core dump beside them is never read.
    static constexpr std::size_t kMaxItemBytes = 64u * 1024u;

    explicit AbrtProblemSource(std::filesystem::path directory = std::filesystem::path(kDefaultDirectory),
                               core::Seconds slack = kDefaultSlack);

    [[nodiscard]] std::vector<core::CrashRecord> records(const core::TimestampWindow& window) const override;

    [[nodiscard]] const std::filesystem::path& directory() const { return m_directory; }

private:
    std::filesystem::path m_directory;
    core::Seconds m_slack;
};

} // namespace exitwise::platform
