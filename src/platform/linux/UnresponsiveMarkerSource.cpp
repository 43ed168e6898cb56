// SPDX-License-Identifier: MIT
#include "platform/linux/UnresponsiveMarkerSource.h"

#include "core/Text.h"
#include "core/evidence/UnresponsiveMarker.h"
#include "platform/linux/CrashRecordFiles.h"

#include <algorithm>
#include <utility>

namespace exitwise::platform {

UnresponsiveMarkerSource::UnresponsiveMarkerSource(std::filesystem::path directory)
    : m_directory(std::move(directory))
{}

std::vector<core::CrashRecord> UnresponsiveMarkerSource::records(const core::TimestampWindow& window) const
{
    std::vector<core::CrashRecord> found;
    const detail::FileDescriptor directory = detail::openDirectory(m_directory);
    // Names are checked before anything is looked up on disk.
    const auto entries = detail::listDirectory(directory, [&](std::string_view name) {
        const auto marker = core::UnresponsiveMarker::parseFileName(name);
        return marker && marker->writtenAt >= window.start && marker->writtenAt <= window.end;
    });
    for (const detail::DirectoryEntry& entry : entries) {
        const auto marker = core::UnresponsiveMarker::parseFileName(entry.name);
        if (entry.isDirectory || !marker) {
            continue;
        }
        core::CrashRecord record;
        record.kind = core::CrashRecord::Kind::unresponsiveKill;
        record.timestamp = marker->writtenAt;
        record.pid = marker->pid;
        // Records end up in JSON, which takes only valid UTF-8; file names may hold any bytes.
        record.executable = core::text::sanitizedUtf8(marker->executable);
        record.source = core::text::sanitizedUtf8((m_directory / entry.name).string());
        found.push_back(std::move(record));
    }
    std::sort(found.begin(), found.end(), [](const core::CrashRecord& a, const core::CrashRecord& b) {
        return a.timestamp != b.timestamp ? a.timestamp < b.timestamp : a.source < b.source;
    });
    return found;
}

} // namespace exitwise::platform
