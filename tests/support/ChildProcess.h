// SPDX-License-Identifier: MIT
#pragma once

// Helpers for tests that run the real executables as child processes.

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace exitwise::test {

// The whole file, or "" when it cannot be read (yet).
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// The lines of a text that are not empty.
inline std::vector<std::string> nonEmptyLines(const std::string& text)
{
    std::vector<std::string> result;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            result.push_back(line);
        }
    }
    return result;
}

// Polls `done` every 20 ms until it holds or `limit` passes; whether it held.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The child's exit status (128 + signal when killed), or nothing while it still runs after `limit`.
inline std::optional<int> waitForExit(pid_t pid, std::chrono::milliseconds limit)
{
    std::optional<int> result;
    waitFor(
        [&] {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return result.has_value();
        },
        limit);
    return result;
}

} // namespace exitwise::test
