// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/CrashRecord.h"

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace exitwise::platform {

// apport's crash reports (Ubuntu): `*.crash` files in /var/crash. Reports carry the core dump
// and can be hundreds of megabytes; each is streamed only as far as its text values go.
class ApportReportSource final : public core::CrashRecordSource
{
public:
    static constexpr std::string_view kDefaultDirectory = "/var/crash";
    // Files last modified this long before the window are not read: a report is written after
    // the crash (and may be changed long after).
    static constexpr core::Seconds kDefaultSlack{2};
    // A report whose text values go on longer is read only this far.
    static constexpr std::size_t kMaxReadBytes = 16u * 1024u * 1024u;

    explicit ApportReportSource(std::filesystem::path directory = std::filesystem::path(kDefaultDirectory),
                                core::Seconds slack = kDefaultSlack);

    [[nodiscard]] std::vector<core::CrashRecord> records(const core::TimestampWindow& window) const override;

    [[nodiscard]] const std::filesystem::path& directory() const { return m_directory; }

private:
    std::filesystem::path m_directory;
    core::Seconds m_slack;
};

} // namespace exitwise::platform
