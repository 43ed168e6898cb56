// SPDX-License-Identifier: MIT
#include "platform/linux/SdJournal.h"

#include "app/ClosureJournal.h"
#include "sys/FileIo.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace exitwise::platform::sdjournal {

Handle open(const std::optional<std::filesystem::path>& directory, int* error)
{
    sd_journal* raw = nullptr;
    int r = 0;
    if (directory) {
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(*directory, ignored);
        r = sd_journal_open_directory(&raw, absolute.c_str(), 0);
    } else {
        r = sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY);
    }
    if (error != nullptr) {
        *error = r < 0 ? r : 0;
    }
    Handle journal(raw);
    if (r < 0) {
        journal.reset();
    }
    return journal;
}

std::optional<std::string_view> field(sd_journal* journal, const char* name)
{
    const void* data = nullptr;
    std::size_t length = 0;
    if (sd_journal_get_data(journal, name, &data, &length) < 0) {
        return std::nullopt;
    }
    const std::string_view value(static_cast<const char*>(data), length);
    const std::size_t nameLength = std::strlen(name);
    if (value.size() <= nameLength || value[nameLength] != '=') {
        return std::string_view();
    }
    return value.substr(nameLength + 1);
}

bool isOwnEntry(sd_journal* journal)
{
    return field(journal, "SYSLOG_IDENTIFIER") == app::kJournalIdentifier
           || field(journal, "MESSAGE_ID") == app::kClosureMessageId;
}

std::uint64_t microseconds(core::Date date)
{
    const double value = std::round(core::secondsSince1970(date) * 1e6);
    return value <= 0 ? 0 : static_cast<std::uint64_t>(value);
}

std::optional<std::filesystem::path> directoryFromEnvironment()
{
    return sys::environment("EXITWISE_JOURNAL_DIR");
}

} // namespace exitwise::platform::sdjournal
