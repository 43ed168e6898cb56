// SPDX-License-Identifier: MIT
#include "app/DiagnosisVersion.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace {

// Exit statuses shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

} // namespace

int main(int argc, char** argv)
{
    CLI::App cli{"Exitwise explains why your desktop applications closed.", "exitwise"};
    cli.require_subcommand(0, 1);

    auto* version = cli.add_subcommand("version", "Print the diagnosis version text");

    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "exitwise: " << e.what() << "\nRun 'exitwise --help' for usage.\n";
        return kExitUsage;
    }

    if (version->parsed()) {
        std::cout << exitwise::app::currentDiagnosisVersion() << '\n';
        return kExitOk;
    }

    // The desktop app is not part of this build yet: show what is available.
    std::cout << cli.help();
    return kExitOk;
}
