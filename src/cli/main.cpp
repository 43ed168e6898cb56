// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"
#include "app/DiagnosisVersion.h"
#include "cli/Commands.h"
#include "cli/DesktopApp.h"

#include <iostream>
#include <vector>

namespace exitwise::cli {

void printError(const std::string& message)
{
    std::cerr << "exitwise: " << message << '\n';
}

namespace {

// The top-level help's closing part; the data directory is resolved when help is asked for.
std::string helpFooter()
{
    return "Without a subcommand, exitwise starts the desktop app: a tray item and its window\n"
           "(--background: in the tray only). The subcommands need no display.\n"
           "\n"
           "Data directory: "
           + app::resolveAppSupportDirectory().string()
           + "\n"
             "  (default $XDG_DATA_HOME/Exitwise, else ~/.local/share/Exitwise)\n"
             "\n"
             "Environment:\n"
             "  EXITWISE_APP_SUPPORT_DIR  use this data directory instead\n"
             "  EXITWISE_JOURNAL_DIR      read the journal files in this directory instead of this machine's "
             "journal\n"
             "\n"
             "Exit status:\n"
             "  "
           + std::to_string(kExitOk)
           + "  success\n"
             "  "
           + std::to_string(kExitFailure)
           + "  the work failed; the message says why\n"
             "  "
           + std::to_string(kExitUsage) + "  usage error or invalid input";
}

} // namespace

} // namespace exitwise::cli

int main(int argc, char** argv)
{
    using namespace exitwise::cli;

    CLI::App cli{"Exitwise explains why your desktop applications closed.", "exitwise"};
    cli.require_subcommand(0, 1);
    cli.set_version_flag(
        "--version", [] { return exitwise::app::currentDiagnosisVersion(); },
        "Print the diagnosis version text, as `version` does");
    cli.footer(helpFooter);
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
    } catch (const CLI::CallForVersion& e) {
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
