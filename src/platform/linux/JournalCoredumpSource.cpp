// SPDX-License-Identifier: MIT
#include "platform/linux/JournalCoredumpSource.h"

#include "core/evidence/LinuxCrashRecords.h"
#include "platform/linux/SdJournal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace exitwise::platform {

namespace {

namespace records = core::linuxcrashrecords;

// Values are read up to here. The message holds a whole stack trace of which only the first
// line is kept, and an entry may even hold the core itself (COREDUMP=, never asked for).
constexpr std::size_t kDataThreshold = 8 * 1024;

std::optional<std::string> field(sd_journal* journal, std::string_view name)
{
    const auto value = sdjournal::field(journal, std::string(name).c_str());
    if (!value) {
        return std::nullopt;
    }
    // The threshold is only a hint: an uncompressed value comes whole.
    return std::string(value->substr(0, kDataThreshold));
}

} // namespace

JournalCoredumpSource::JournalCoredumpSource(std::optional<std::filesystem::path> directory,
                                             core::Seconds loggingDelay)
    : m_directory(directory ? std::move(directory) : sdjournal::directoryFromEnvironment())
    , m_loggingDelay(loggingDelay)
{}

std::vector<core::CrashRecord> JournalCoredumpSource::records(const core::TimestampWindow& window) const
{
    std::vector<core::CrashRecord> found;
    const sdjournal::Handle journal = sdjournal::open(m_directory);
    if (!journal) {
        return found;
    }
    sd_journal_set_data_threshold(journal.get(), kDataThreshold);
    const std::string match = "MESSAGE_ID=" + std::string(records::kCoredumpMessageId);
    if (sd_journal_add_match(journal.get(), match.data(), match.size()) < 0) {
        return found;
    }
    // The entry comes after the crash, whose time is kept in whole seconds.
    const std::uint64_t firstUsec = sdjournal::microseconds(window.start - core::Seconds(1));
    const std::uint64_t lastUsec = sdjournal::microseconds(window.end + m_loggingDelay);
    if (sd_journal_seek_realtime_usec(journal.get(), firstUsec) < 0) {
        return found;
    }
    const records::ItemLookup lookup = [&](std::string_view name) { return field(journal.get(), name); };
    while (sd_journal_next(journal.get()) > 0) {
        std::uint64_t usec = 0;
        if (sd_journal_get_realtime_usec(journal.get(), &usec) < 0 || usec < firstUsec) {
            continue;
        }
        if (usec > lastUsec) {
            break;
        }
        if (sdjournal::isOwnEntry(journal.get())) {
            continue;
        }
        const core::Date loggedAt = core::dateFromSecondsSince1970(static_cast<double>(usec) / 1e6);
        auto record = records::coredumpRecord(lookup, loggedAt);
        if (record && records::crashTimeInWindow(record->timestamp, window)) {
            found.push_back(std::move(*record));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const core::CrashRecord& a, const core::CrashRecord& b) {
        return a.timestamp < b.timestamp;
    });
    return found;
}

} // namespace exitwise::platform
