// SPDX-License-Identifier: MIT
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace exitwise::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A registered subcommand and what to run when it was chosen. The function returns the
// process exit status; options are bound to state the registration owns.
struct Command
{
    CLI::App* app = nullptr;
    std::function<int()> run;
};

[[nodiscard]] Command addVersionCommand(CLI::App& cli);
[[nodiscard]] Command addWatchCommand(CLI::App& cli);
[[nodiscard]] Command addDiagnoseCommand(CLI::App& cli);
[[nodiscard]] Command addListCommand(CLI::App& cli);
[[nodiscard]] Command addShowCommand(CLI::App& cli);
[[nodiscard]] Command addExportCommand(CLI::App& cli);

// Prints "exitwise: <message>" on standard error.
void printError(const std::string& message);

} // namespace exitwise::cli
