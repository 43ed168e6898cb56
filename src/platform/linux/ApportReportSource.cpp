// SPDX-License-Identifier: MIT
#include "platform/linux/ApportReportSource.h"

#include "core/evidence/LinuxCrashRecords.h"
#include "platform/linux/CrashRecordFiles.h"

#include <algorithm>
#include <utility>

namespace exitwise::platform {

ApportReportSource::ApportReportSource(std::filesystem::path directory, core::Seconds slack)
    : m_directory(std::move(directory))
    , m_slack(slack)
{}

std::vector<core::CrashRecord> ApportReportSource::records(const core::TimestampWindow& window) const
{
    std::vector<core::CrashRecord> found;
    const detail::FileDescriptor directory = detail::openDirectory(m_directory);
    const auto entries =
        detail::listDirectory(directory, [](std::string_view name) { return name.ends_with(".crash"); });
    for (const detail::DirectoryEntry& entry : entries) {
        if (entry.isDirectory || entry.modifiedAt < window.start - m_slack) {
            continue;
        }
        core::linuxcrashrecords::ApportReportReader reader;
        const bool read =
            detail::readFileAt(directory, entry.name, kMaxReadBytes, [&](std::string_view chunk) {
                reader.feed(chunk);
                return !reader.complete();
            });
        if (!read) {
            continue;
        }
        auto record = reader.record(entry.modifiedAt, (m_directory / entry.name).string());
        if (record && core::linuxcrashrecords::crashTimeInWindow(record->timestamp, window)) {
            found.push_back(std::move(*record));
        }
    }
    std::sort(found.begin(), found.end(), [](const core::CrashRecord& a, const core::CrashRecord& b) {
        return a.timestamp != b.timestamp ? a.timestamp < b.timestamp : a.source < b.source;
    });
    return found;
}

} // namespace exitwise::platform
