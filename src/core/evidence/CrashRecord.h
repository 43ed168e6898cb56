// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/TimestampWindow.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::core {

// One record the system keeps of a process that died abnormally: a core-dump entry in the
// journal, a crash-report file, a problem directory, or the marker a desktop leaves when it
// ends an application that stopped responding. Texts are empty when the record does not say.
struct CrashRecord
{
    enum class Kind
    {
        crash,            // the process died of a signal the system recorded
        unresponsiveKill, // the desktop ended it after it stopped responding
    };

    Kind kind = Kind::crash;
    // When it happened; for a crash the crash time, else when the record was written.
    Date timestamp;
    std::optional<std::int32_t> pid;
    std::optional<std::int32_t> parentPid;
    // The kernel's name for the process (comm, at most 15 bytes).
    std::string command;
    // Absolute path of its program; for a desktop's marker only the file name is known.
    std::string executable;
    // The signal that ended it, "SIGSEGV".
    std::string signal;
    // Its control group path.
    std::string cgroup;
    // Where the record was read: a file or directory path, or "journal:systemd-coredump".
    std::string source;
    // The system's own one-line summary, "Process 4741 (notes-bin) of user 1000 dumped core."
    std::string message;

    friend bool operator==(const CrashRecord&, const CrashRecord&) = default;
};

// A place the system keeps crash records. Implementations read afresh on every call and may be
// called from several threads at once.
class CrashRecordSource
{
public:
    virtual ~CrashRecordSource() = default;

    // The records whose timestamp lies within the window, both ends included, oldest first.
    // Never throws; a source that cannot be read gives none.
    [[nodiscard]] virtual std::vector<CrashRecord> records(const TimestampWindow& window) const = 0;
};

} // namespace exitwise::core
