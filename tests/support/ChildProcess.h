// SPDX-License-Identifier: MIT
#pragma once

#include "support/Files.h"

// Helpers for tests that run the real executables as child processes.

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" char** environ;

namespace exitwise::test {

// Starts `args` (the first a path) with its standard output and error written to files
// ("/dev/null" drops them); `environment` replaces the inherited one when given. -1 when it
// could not start.
inline pid_t spawnWithOutput(const std::vector<std::string>& args,
                             const std::filesystem::path& out,
                             const std::filesystem::path& err = "/dev/null",
                             const std::vector<std::string>* environment = nullptr)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (environment != nullptr) {
        for (const std::string& variable : *environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
    }
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                                   environment != nullptr ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
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
