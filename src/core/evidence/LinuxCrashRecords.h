// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/TimestampWindow.h"
#include "core/evidence/CrashRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The crash records Linux keeps, read as CrashRecord: systemd-coredump's journal entries,
// apport's report files and ABRT's problem directories. Pure parsing: callers read the journal
// and the files. Every text kept is valid UTF-8 and at most kMaxValueBytes long.
namespace exitwise::core::linuxcrashrecords {

// The value of a named item: a journal field, a file of a problem directory; nothing when the
// record has no such item.
using ItemLookup = std::function<std::optional<std::string>(std::string_view name)>;

// MESSAGE_ID of systemd-coredump's entries.
inline constexpr std::string_view kCoredumpMessageId = "fc2e22bc6ee647b6b90729ab34a250b1";
// The source of a coredump entry whose core was not stored in a file.
inline constexpr std::string_view kCoredumpJournalSource = "journal:systemd-coredump";
// Longest text kept of one value; longer ones are cut.
inline constexpr std::size_t kMaxValueBytes = 4096;

// A systemd-coredump journal entry. The crash time is COREDUMP_TIMESTAMP (whole seconds), else
// `entryTime`. Nothing unless the entry names the process by pid, comm or executable.
[[nodiscard]] std::optional<CrashRecord> coredumpRecord(const ItemLookup& field, Date entryTime);

// An apport report (`/var/crash/*.crash`) fed in pieces of any size, line breaks anywhere.
// Only the values a record needs are kept, each capped: a report carries its core dump as
// base64 lines and may be hundreds of megabytes. Not thread-safe; one reader per file.
class ApportReportReader
{
public:
    void feed(std::string_view bytes);

    // True from the first base64 value on: apport writes every text value of a report, sorted,
    // before its binary ones, so the rest need not be read. (Keys appended to a report later,
    // such as a retrace's, come after them but are none a record needs.)
    [[nodiscard]] bool complete() const { return m_sawBinaryValue; }

    // Nothing unless "ProblemType: Crash" and the report names the process by pid, comm or
    // executable. "Date:" is read in the current time zone (TZ); `modifiedAt` (the file's
    // modification time) stands in when it is missing or unreadable.
    [[nodiscard]] std::optional<CrashRecord> record(Date modifiedAt, std::string source) const;

    // Bytes held for the values and the line being read; never more than a few kilobytes.
    [[nodiscard]] std::size_t keptBytes() const;

private:
    enum class Key
    {
        other,
        problemType,
        date,
        executablePath,
        procCmdline,
        signal,
        signalName,
        procStatus,
        procCgroup,
    };

    void endLine();
    void readLine(std::string_view line);

    std::string m_line;
    // The current line continues a value nobody needs: skip it without copying.
    bool m_skippingLine = false;
    bool m_atLineStart = true;
    Key m_key = Key::other;
    bool m_sawBinaryValue = false;

    std::string m_problemType;
    std::string m_date;
    std::string m_executablePath;
    std::string m_procCmdline;
    std::string m_signal;
    std::string m_signalName;
    std::string m_command;
    std::optional<std::int32_t> m_pid;
    std::optional<std::int32_t> m_parentPid;
    std::string m_cgroup;
};

// The text of an apport report, at once.
[[nodiscard]] std::optional<CrashRecord>
apportRecord(std::string_view text, Date modifiedAt, std::string source);

// An ABRT problem directory, item by item ("executable", "pid", "time", "reason", …). Only
// native crashes ("type" CCpp) give a record. The time is that of the latest occurrence, else
// `modifiedAt`; a problem seen again no longer names the pid of its last occurrence.
[[nodiscard]] std::optional<CrashRecord>
abrtRecord(const ItemLookup& item, Date modifiedAt, std::string source);

// "Date:" of an apport report, asctime() in local time: "Mon Dec  7 11:00:24 2026".
[[nodiscard]] std::optional<Date> parseAsctimeDate(std::string_view text);

// Whether a record's time may lie in the window, ends included. Most records keep whole
// seconds (the kernel's core-dump time, a report's Date, a problem directory's time), so a
// whole-second time stands for that whole second.
[[nodiscard]] bool crashTimeInWindow(Date time, const TimestampWindow& window);

} // namespace exitwise::core::linuxcrashrecords
