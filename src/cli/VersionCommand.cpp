// SPDX-License-Identifier: MIT
#include "app/DiagnosisVersion.h"
#include "cli/Commands.h"

#include <iostream>

namespace exitwise::cli {

Command addVersionCommand(CLI::App& cli)
{
    auto* app = cli.add_subcommand("version", "Print the diagnosis version text");
    return {app, [] {
                std::cout << app::currentDiagnosisVersion() << '\n';
                return kExitOk;
            }};
}

} // namespace exitwise::cli
