// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Linux signal numbers (x86, ARM and most other architectures) and their names, for the
// records that store a number: wait statuses, crash-report files, problem directories.
namespace exitwise::core::linuxsignals {

// "SIGSEGV" for 11; "signal 42" for a number without a fixed name (real-time signals).
[[nodiscard]] std::string name(int number);

// 11 for "SIGSEGV" or "SEGV"; nothing for a name it does not know.
[[nodiscard]] std::optional<int> number(std::string_view name);

// The signals whose default action writes a core dump: SIGQUIT, SIGILL, SIGTRAP, SIGABRT,
// SIGBUS, SIGFPE, SIGSEGV, SIGXCPU, SIGXFSZ, SIGSYS.
[[nodiscard]] bool dumpsCore(std::string_view name);

} // namespace exitwise::core::linuxsignals
