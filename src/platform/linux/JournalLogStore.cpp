// SPDX-License-Identifier: MIT
#include "platform/linux/JournalLogStore.h"

#include "core/Text.h"

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

struct JournalCloser
{
    void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};

using Journal = std::unique_ptr<sd_journal, JournalCloser>;

// Longer field values are cut here; a log message has no use for more.
constexpr std::size_t kMaxFieldBytes = 64 * 1024;

std::string errorText(int negativeErrno)
{
    return std::strerror(-negativeErrno);
}

// The value of FIELD in the current entry, or nothing when the entry has no such field.
std::optional<std::string_view> field(sd_journal* journal, const char* name)
{
    const void* data = nullptr;
    std::size_t length = 0;
    if (sd_journal_get_data(journal, name, &data, &length) < 0) {
        return std::nullopt;
    }
    const std::string_view value(static_cast<const char*>(data), length);
    // The data is "NAME=value".
    const std::size_t nameLength = std::strlen(name);
    if (value.size() <= nameLength || value[nameLength] != '=') {
        return std::string_view();
    }
    return value.substr(nameLength + 1);
}

// Journal values may hold any bytes; entries carry valid UTF-8.
void assignText(std::string& target, std::optional<std::string_view> value)
{
    const std::string_view text = value.value_or(std::string_view());
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || core::text::isValidUtf8(text)) {
        target.assign(text);
    } else {
        target = core::text::sanitizedUtf8(text);
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

std::uint64_t microseconds(core::Date date)
{
    const double value = std::round(core::secondsSince1970(date) * 1e6);
    return value <= 0 ? 0 : static_cast<std::uint64_t>(value);
}

std::optional<std::filesystem::path> environmentDirectory()
{
    const char* value = std::getenv("EXITWISE_JOURNAL_DIR");
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

} // namespace

JournalLogStore::JournalLogStore(std::optional<std::filesystem::path> directory)
    : m_directory(directory ? std::move(directory) : environmentDirectory())
{}

std::optional<core::LogStoreError> JournalLogStore::readEntries(const core::LogQuery& query,
                                                                const EntryVisitor& visit) const
{
    sd_journal* raw = nullptr;
    int r = 0;
    if (m_directory) {
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(*m_directory, ignored);
        r = sd_journal_open_directory(&raw, absolute.c_str(), 0);
    } else {
        r = sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY);
    }
    const Journal journal(raw);
    const std::string source =
        m_directory ? "journal directory " + m_directory->string() : "the system journal";
    if (r < 0) {
        return core::LogStoreError{"cannot open " + source + ": " + errorText(r)};
    }
    sd_journal_set_data_threshold(journal.get(), kMaxFieldBytes);

    const std::uint64_t startUsec = microseconds(query.start);
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
        auto process = field(journal.get(), "SYSLOG_IDENTIFIER");
        if (!process) {
            process = field(journal.get(), "_COMM");
        }
        assignText(entry.process, process);
        entry.processIdentifier = pidOf(field(journal.get(), "_PID"));
        assignText(entry.imagePath, field(journal.get(), "_EXE"));
        assignText(entry.message, field(journal.get(), "MESSAGE"));
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
