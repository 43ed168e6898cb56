// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace exitwise::core {

// How a process ended, as the kernel told whoever reaped it. Signal names are the portable
// ones ("SIGSEGV"); the platform turns its numbers into them.
struct ProcessExit
{
    enum class Kind
    {
        unknown,  // the platform tried but could not learn it
        exited,   // it called exit: `code`
        signaled, // a signal ended it: `signal`, `coreDumped`
    };

    Kind kind = Kind::unknown;
    int code = 0;
    std::string signal;
    bool coreDumped = false;

    [[nodiscard]] static ProcessExit unknown();
    [[nodiscard]] static ProcessExit exited(int code);
    [[nodiscard]] static ProcessExit signaled(std::string signal, bool coreDumped);

    // Plain words: "exited with code 1", "terminated by SIGSEGV (core dumped)",
    // "exit status unknown".
    [[nodiscard]] std::string text() const;

    friend bool operator==(const ProcessExit&, const ProcessExit&) = default;
};

// What the system knows about an application's process beyond its pid: how the kernel and its
// services name it, and how it ended. Every text is empty when unknown.
struct ProcessFacts
{
    // Absent while the process runs, and on platforms that do not report how processes end.
    std::optional<ProcessExit> exit;
    // Absolute path of the program it ran.
    std::string executable;
    // The kernel's name for it (comm): the program's file name cut to 15 bytes.
    std::string command;
    // Its control group, "/user.slice/…/app-gnome-org.example.Notes-4711.scope".
    std::string cgroup;
    // The desktop ended it after it had stopped responding (KWin's "Terminate").
    bool endedUnresponsive = false;

    friend bool operator==(const ProcessFacts&, const ProcessFacts&) = default;
};

} // namespace exitwise::core
