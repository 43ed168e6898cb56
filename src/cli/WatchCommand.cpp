// SPDX-License-Identifier: MIT
#include "app/AppModel.h"
#include "app/ClockTime.h"
#include "app/DataDirectory.h"
#include "app/PrintableText.h"
#include "app/RecorderLock.h"
#include "cli/Commands.h"
#include "cli/ModelComposition.h"
#include "cli/StopSignalHandler.h"
#include "core/Json.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <variant>

namespace exitwise::cli {

namespace {

void printEvent(const app::AppEvent& event, bool json)
{
    if (json) {
        std::cout << core::json::dumpCompact(app::encode(event)) << std::endl;
        return;
    }
    std::cout << app::localDateTimeText(event.terminatedAt) << "  " << app::printableLine(event.appName)
              << "  " << core::rawValue(event.diagnosis.endState) << "  "
              << core::rawValue(event.diagnosis.dominantCause) << "  "
              << core::rawValue(event.diagnosis.confidence) << "  " << event.id.toString() << std::endl;
}

int runWatch(bool json, bool journalEntries)
{
    int argc = 1;
    char name[] = "exitwise";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const auto stopHandler = installStopHandler(application);

    // Held until the model is gone: its last saves are still ours.
    auto claim = app::claimDataDirectory(app::appSupportDirectory(),
                                         "exitwise watch, pid " + std::to_string(::getpid()));
    if (const auto* refusal = std::get_if<std::string>(&claim)) {
        printError(*refusal);
        return kExitFailure;
    }

    ModelComposition composition(nullptr, journalEntries);
    app::AppModel& model = composition.model();
    QObject::connect(&model, &app::AppModel::eventRecorded,
                     [json](const app::AppEvent& event) { printEvent(event, json); });
    // Said once: closures go on being watched and printed, but are no longer kept.
    QObject::connect(&model, &app::AppModel::saveFailed, [](const QString& message) {
        std::cerr << "exitwise: closures cannot be saved (" << message.toStdString() << "); still watching"
                  << std::endl;
    });

    std::cerr << "exitwise: watching application closures; data in " << composition.dataDirectory().string()
              << " (Ctrl+C to stop)" << std::endl;
    if (const auto& note = composition.evidenceNote()) {
        std::cerr << "exitwise: " << *note << std::endl;
    }
    return application.exec() == 0 ? kExitOk : kExitFailure;
}

} // namespace

Command addWatchCommand(CLI::App& cli)
{
    auto json = std::make_shared<bool>(false);
    auto noJournalEntry = std::make_shared<bool>(false);
    auto* app = cli.add_subcommand("watch", "Record and diagnose application closures until interrupted");
    app->add_flag("--json", *json, "Print each recorded closure as one line of event JSON");
    app->add_flag("--no-journal-entry", *noJournalEntry,
                  "Do not write each closure to the system journal in this run");
    return {app, [json, noJournalEntry] { return runWatch(*json, !*noJournalEntry); }};
}

} // namespace exitwise::cli
