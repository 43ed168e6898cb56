// SPDX-License-Identifier: MIT
#pragma once

#include "core/ProcessFacts.h"

namespace exitwise::platform {

// How a process ended, from the wait status its reaper got (also /proc/PID/stat field 52 of a
// zombie): a signal with its core-dump flag, or an exit code; unknown for anything else.
[[nodiscard]] core::ProcessExit exitFromWaitStatus(int status);

// What the kernel tells about the end of the process behind a pidfd (PIDFD_GET_INFO with
// PIDFD_INFO_EXIT, Linux 6.15 and later). It knows only once the process has been reaped by its
// parent, which may be a little after the pidfd became readable.
struct PidfdExit
{
    enum class State
    {
        ended,       // `waitStatus` holds how it ended
        notReaped,   // ask again soon
        unavailable, // this process's end cannot be learnt this way
        unsupported, // the kernel has no exit information for pidfds
    };

    State state = State::unavailable;
    int waitStatus = 0;
};

[[nodiscard]] PidfdExit readPidfdExit(int pidfd);

} // namespace exitwise::platform
