// SPDX-License-Identifier: MIT
#pragma once

#include "support/Files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace exitwise::test {

// One journal entry to write; empty texts and an absent pid leave the field out.
struct JournalRecord
{
    double time = 0;        // seconds since 1970
    std::string identifier; // SYSLOG_IDENTIFIER
    std::optional<int> pid; // _PID
    std::string comm;       // _COMM
    std::string exe;        // _EXE
    std::string message;    // MESSAGE; any bytes
};

// One journal entry given field by field, for fields beyond JournalRecord's ("COREDUMP_PID",
// "USER_UNIT", "_TRANSPORT"); names upper-case, values any bytes.
struct JournalFields
{
    double time = 0; // seconds since 1970
    std::vector<std::pair<std::string, std::string>> fields;
};

// A temporary directory of journal files built with systemd-journal-remote from export-format
// text. Removed with the fixture.
class JournalFixture
{
public:
    static constexpr const char* kRemoteTool = "/lib/systemd/systemd-journal-remote";

    // Tests skip when the tool (package systemd-journal-remote) is missing.
    [[nodiscard]] static bool available();

    JournalFixture();

    [[nodiscard]] const std::filesystem::path& directory() const { return m_directory; }

    // Writes the records as the journal file `name` (ending in .journal); returns an error text,
    // empty on success.
    [[nodiscard]] std::string write(const std::vector<JournalRecord>& records,
                                    const std::string& name = "fixture.journal") const;

    // As write(), for entries given field by field.
    [[nodiscard]] std::string writeFields(const std::vector<JournalFields>& entries,
                                          const std::string& name = "fields.journal") const;

private:
    TempDir m_root;
    std::filesystem::path m_directory;
};

} // namespace exitwise::test
