// SPDX-License-Identifier: MIT
#pragma once

// What every reader of the systemd journal here needs; included by their sources only.

#include "core/Date.h"

#include <systemd/sd-journal.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace exitwise::platform::sdjournal {

struct Closer
{
    void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};

using Handle = std::unique_ptr<sd_journal, Closer>;

// Opens the journal files of `directory`, or, without one, every journal of this machine the
// user may read. Null with the negative errno in `error` when it cannot.
[[nodiscard]] Handle open(const std::optional<std::filesystem::path>& directory, int* error = nullptr);

// The value of FIELD in the current entry (sd-journal hands out "FIELD=value"); valid until
// the next read or move. Nothing when the entry has no such field.
[[nodiscard]] std::optional<std::string_view> field(sd_journal* journal, const char* name);

// Whether the current entry is one of Exitwise's own (its identifier or its closure MESSAGE_ID).
// Every reader of evidence skips them: a closure we wrote must never explain another.
[[nodiscard]] bool isOwnEntry(sd_journal* journal);

// A date as the journal's realtime stamps count it.
[[nodiscard]] std::uint64_t microseconds(core::Date date);

// EXITWISE_JOURNAL_DIR: a journal directory to read instead of the machine's.
[[nodiscard]] std::optional<std::filesystem::path> directoryFromEnvironment();

} // namespace exitwise::platform::sdjournal
