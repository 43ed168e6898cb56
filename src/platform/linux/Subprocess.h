// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace exitwise::platform {

struct SubprocessOptions
{
    // From the launch; a child still running then is terminated.
    std::chrono::milliseconds timeout{6000};
    // How often the child is checked while it runs; output is read as it arrives.
    std::chrono::milliseconds pollInterval{20};
    // Between SIGTERM and SIGKILL.
    std::chrono::milliseconds terminationGrace{250};
    // Standard output beyond this is read and dropped, so a chatty child never blocks.
    std::size_t maxOutputBytes = std::size_t{8} << 20;
    // "NAME=value" entries set in the child's environment on top of ours.
    std::vector<std::string> environment;
};

struct SubprocessResult
{
    bool launched = false;
    // Why the child could not be launched.
    std::string error;
    // Raw bytes the child wrote to standard output.
    std::string standardOutput;
    // The child was still running at the deadline and was terminated.
    bool timedOut = false;
    std::optional<int> exitCode;
    std::optional<int> terminatingSignal;
};

// Runs `executable` (a path, no PATH search, no shell) with `arguments` and collects its standard
// output while it runs; standard error is drained and dropped, standard input is /dev/null.
// The child gets no descriptor of ours but 0-2, runs in its own process group (terminated as a
// whole at the deadline) and is always reaped. Safe to call from several threads at once.
[[nodiscard]] SubprocessResult runSubprocess(const std::string& executable,
                                             const std::vector<std::string>& arguments,
                                             const SubprocessOptions& options = {});

} // namespace exitwise::platform
