// SPDX-License-Identifier: MIT
#include "platform/linux/AbrtProblemSource.h"

#include "core/evidence/LinuxCrashRecords.h"
#include "platform/linux/CrashRecordFiles.h"

#include <algorithm>
#include <utility>

namespace exitwise::platform {

AbrtProblemSource::AbrtProblemSource(std::filesystem::path directory, core::Seconds slack)
    : m_directory(std::move(directory))
    , m_slack(slack)
{}

std::vector<core::CrashRecord> AbrtProblemSource::records(const core::TimestampWindow& window) const
{
    std::vector<core::CrashRecord> found;
    const detail::FileDescriptor spool = detail::openDirectory(m_directory);
    const auto entries = detail::listDirectory(spool, [](std::string_view) { return true; });
    for (const detail::DirectoryEntry& entry : entries) {
        if (!entry.isDirectory || entry.modifiedAt < window.start - m_slack) {
            continue;
        }
        const detail::FileDescriptor problem = detail::openDirectoryAt(spool, entry.name);
        if (!problem.valid()) {
            continue;
        }
        const auto item = [&](std::string_view name) {
            return detail::readSmallFileAt(problem, std::string(name), kMaxItemBytes);
        };
        auto record =
            core::linuxcrashrecords::abrtRecord(item, entry.modifiedAt, (m_directory / entry.name).string());
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
