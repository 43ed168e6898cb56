// SPDX-License-Identifier: MIT
#include "platform/linux/JournalLogStore.h"

#include "core/Text.h"
#include "platform/linux/SdJournal.h"

#include <systemd/sd-journal.h>

#include <algorithm>
#include <charconv>
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

// Longer field values are cut here; a log message has no use for more.
constexpr std::size_t kMaxFieldBytes = 64 * 1024;

std::string errorText(int negativeErrno)
{
    return std::strerror(-negativeErrno);
}

// At most `maxBytes`, never ending inside a UTF-8 sequence (a sequence has at most three
// continuation bytes; a longer run is invalid anyway and may be cut anywhere).
std::string_view cutAtCharacter(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && maxBytes - end < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// Journal values may hold any bytes; entries carry valid UTF-8. The data threshold is only a
// hint (uncompressed fields come back whole), so every value is cut here.
void assignText(std::string& target, std::optional<std::string_view> value)
{
    const std::string_view text = cutAtCharacter(value.value_or(std::string_view()), kMaxFieldBytes);
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || core::text::isValidUtf8(text)) {
        target.assign(text);
    } else {
        // Each replaced byte grows to three.
        target = core::text::sanitizedUtf8(text);
        target.resize(cutAtCharacter(target, kMaxFieldBytes).size());
    }
}

std::optional<std::int32_t> pidOf(std::optional<std::string_view> text)
{
    if (!text) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || ptr != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

JournalLogStore::JournalLogStore(std::optional<std::filesystem::path> directory)
    : m_directory(directory ? std::move(directory) : sdjournal::directoryFromEnvironment())
{}

std::optional<core::LogStoreError> JournalLogStore::readEntries(const core::LogQuery& query,
                                                                const EntryVisitor& visit) const
{
    int r = 0;
    const sdjournal::Handle journal = sdjournal::open(m_directory, &r);
    const std::string source =
        m_directory ? "journal directory " + m_directory->string() : "the system journal";
    if (r < 0) {
        return core::LogStoreError{"cannot open " + source + ": " + errorText(r)};
    }
    sd_journal_set_data_threshold(journal.get(), kMaxFieldBytes);

    const std::uint64_t startUsec = sdjournal::microseconds(query.start);
    r = sd_journal_seek_realtime_usec(journal.get(), startUsec);
    if (r < 0) {
        return core::LogStoreError{"cannot seek in " + source + ": " + errorText(r)};
    }

    bool delivered = false;
    core::LogEntry entry;
    while (true) {
        r = sd_journal_next(journal.get());
        if (r == 0) {
            return std::nullopt;
        }
        if (r < 0) {
            if (delivered) {
                return std::nullopt;
            }
            return core::LogStoreError{"cannot read " + source + ": " + errorText(r)};
        }
        std::uint64_t usec = 0;
        if (sd_journal_get_realtime_usec(journal.get(), &usec) < 0 || usec < startUsec) {
            continue;
        }
        entry.date = core::dateFromSecondsSince1970(static_cast<double>(usec) / 1e6);
        if (entry.date > query.end) {
            return std::nullopt;
        }
        if (sdjournal::isOwnEntry(journal.get())) {
            continue;
        }
        auto process = sdjournal::field(journal.get(), "SYSLOG_IDENTIFIER");
        if (!process) {
            process = sdjournal::field(journal.get(), "_COMM");
        }
        assignText(entry.process, process);
        entry.processIdentifier = pidOf(sdjournal::field(journal.get(), "_PID"));
        assignText(entry.imagePath, sdjournal::field(journal.get(), "_EXE"));
        assignText(entry.message, sdjournal::field(journal.get(), "MESSAGE"));
        if (!query.predicate.matches(entry)) {
            continue;
        }
        delivered = true;
        if (!visit(entry)) {
            return std::nullopt;
        }
    }
}

} // namespace exitwise::platform
