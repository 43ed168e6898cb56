// SPDX-License-Identifier: MIT
#include "cli/Commands.h"
#include "cli/DesktopApp.h"

#include <iostream>
#include <vector>

namespace exitwise::cli {

void printError(const std::string& message)
{
    std::cerr << "exitwise: " << message << '\n';
}

} // namespace exitwise::cli

int main(int argc, char** argv)
{
    using namespace exitwise::cli;

    CLI::App cli{"Exitwise explains why your desktop applications closed.", "exitwise"};
    cli.require_subcommand(0, 1);
    DesktopAppOptions desktop;
    cli.add_flag(
        "--background", desktop.startInTray,
        "Start the desktop app in the system tray without opening its window, as at login; the window "
        "opens anyway when no tray appears within 10 seconds");

    const std::vector<Command> commands = {
        addListCommand(cli),     addShowCommand(cli),    addExportCommand(cli),
        addDiagnoseCommand(cli), addVersionCommand(cli), addWatchCommand(cli),
    };

    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.exit(e);
    } catch (const CLI::ParseError& e) {
        printError(std::string(e.what()) + " (run 'exitwise --help' for usage)");
        return kExitUsage;
    }

    for (const Command& command : commands) {
        if (command.app->parsed()) {
            return command.run();
        }
    }

    return runDesktopApp(argc, argv, desktop);
}
