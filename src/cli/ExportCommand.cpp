// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"
#include "app/stores/EventStore.h"
#include "app/stores/Export.h"
#include "cli/Commands.h"

#include <iostream>
#include <memory>

namespace exitwise::cli {

namespace {

struct ExportOptions
{
    std::string format;
    std::string output;
};

} // namespace

Command addExportCommand(CLI::App& cli)
{
    auto options = std::make_shared<ExportOptions>();
    auto* app = cli.add_subcommand("export", "Write every recorded closure as CSV or JSON");
    app->add_option("--format", options->format, "csv or json")
        ->required()
        ->check(CLI::IsMember({"csv", "json"}));
    app->add_option("--output", options->output, "The file to write; - for standard output")->required();
    app->footer("The file is replaced whole, or created; a symbolic link is followed to the file it names.\n"
                "A character device such as /dev/null is written in place. A FIFO, a socket, a block\n"
                "device or a link that leads nowhere is refused (exit status 1): use - for a pipe.");

    return {app, [options] {
                auto stored = app::EventStore::readStoredEvents(app::resolveAppSupportDirectory());
                if (!stored) {
                    printError(stored.error().message());
                    return kExitFailure;
                }
                const bool csv = options->format == "csv";
                if (options->output == "-") {
                    const auto& events = stored.value();
                    std::cout << (csv ? app::exporting::csvText(events) : app::exporting::jsonText(events));
                    std::cout.flush();
                    if (!std::cout) {
                        printError("cannot write to standard output");
                        return kExitFailure;
                    }
                    return kExitOk;
                }
                const std::optional<app::FileError> error =
                    csv ? app::exporting::exportCSV(stored.value(), options->output)
                        : app::exporting::exportJSON(stored.value(), options->output);
                if (error) {
                    printError(error->message());
                    return kExitFailure;
                }
                return kExitOk;
            }};
}

} // namespace exitwise::cli
