// SPDX-License-Identifier: MIT
#pragma once

#include "sys/FileIo.h"

#include <filesystem>
#include <string>
#include <utility>
#include <variant>

namespace exitwise::app {

// The right to record into one data directory, held by one process at a time: two recorders
// on the same files would each overwrite the other's saves. An advisory lock on
// "recorder.lock" in the directory, released when this object goes or the process ends.
// Readers never take it.
class RecorderLock
{
public:
    // Why the lock was not taken: held by `holder` (its own description, empty when it has not
    // written one yet), or an error naming the lock file.
    struct Refusal
    {
        bool held = false;
        std::string holder;
        std::string error;
    };

    // Takes the lock without waiting and writes `holder` ("exitwise watch, pid 1234") into the
    // lock file so that a second recorder can say who records.
    [[nodiscard]] static std::variant<RecorderLock, Refusal> acquire(const std::filesystem::path& directory,
                                                                     const std::string& holder);

private:
    explicit RecorderLock(sys::Fd fd)
        : m_fd(std::move(fd))
    {}
    sys::Fd m_fd; // closing it releases the lock
};

// Makes `directory` ready for a recorder and takes its lock: the directory is checked as by
// prepareRecorderDirectory, then locked for `holder`. On failure, the line to print (without
// the "exitwise: " prefix).
[[nodiscard]] std::variant<RecorderLock, std::string>
claimDataDirectory(const std::filesystem::path& directory, const std::string& holder);

} // namespace exitwise::app
