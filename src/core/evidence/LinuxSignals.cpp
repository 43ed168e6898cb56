// SPDX-License-Identifier: MIT
#include "core/evidence/LinuxSignals.h"

#include <algorithm>
#include <array>

namespace exitwise::core::linuxsignals {

namespace {

// Index = signal number; 0 has no name.
constexpr std::array<std::string_view, 32> kNames{
    "",          "SIGHUP",  "SIGINT",    "SIGQUIT", "SIGILL",   "SIGTRAP", "SIGABRT", "SIGBUS",
    "SIGFPE",    "SIGKILL", "SIGUSR1",   "SIGSEGV", "SIGUSR2",  "SIGPIPE", "SIGALRM", "SIGTERM",
    "SIGSTKFLT", "SIGCHLD", "SIGCONT",   "SIGSTOP", "SIGTSTP",  "SIGTTIN", "SIGTTOU", "SIGURG",
    "SIGXCPU",   "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGWINCH", "SIGIO",   "SIGPWR",  "SIGSYS"};

constexpr std::array<std::string_view, 10> kCoreDumping{"SIGQUIT", "SIGILL",  "SIGTRAP", "SIGABRT", "SIGBUS",
                                                        "SIGFPE",  "SIGSEGV", "SIGXCPU", "SIGXFSZ", "SIGSYS"};

} // namespace

std::string name(int number)
{
    if (number > 0 && static_cast<std::size_t>(number) < kNames.size()) {
        return std::string(kNames[static_cast<std::size_t>(number)]);
    }
    return "signal " + std::to_string(number);
}

std::optional<int> number(std::string_view name)
{
    for (std::size_t i = 1; i < kNames.size(); ++i) {
        if (name == kNames[i] || name == kNames[i].substr(3)) {
            return static_cast<int>(i);
        }
    }
    // Other spellings of the same numbers.
    if (name == "SIGIOT" || name == "IOT") {
        return 6;
    }
    if (name == "SIGPOLL" || name == "POLL") {
        return 29;
    }
    return std::nullopt;
}

bool dumpsCore(std::string_view name)
{
    return std::find(kCoreDumping.begin(), kCoreDumping.end(), name) != kCoreDumping.end();
}

} // namespace exitwise::core::linuxsignals
