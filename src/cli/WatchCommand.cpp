// SPDX-License-Identifier: MIT
#include "app/AppModel.h"
#include "app/ClockTime.h"
#include "app/PrintableText.h"
#include "cli/Commands.h"
#include "cli/ModelComposition.h"
#include "cli/StopSignalHandler.h"
#include "core/Json.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <iostream>
#include <memory>

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

int runWatch(bool json)
{
    int argc = 1;
    char name[] = "exitwise";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const auto stopHandler = installStopHandler(application);

    ModelComposition composition;
    app::AppModel& model = composition.model();
    QObject::connect(&model, &app::AppModel::eventRecorded,
                     [json](const app::AppEvent& event) { printEvent(event, json); });

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
    auto* app = cli.add_subcommand("watch", "Record and diagnose application closures until interrupted");
    app->add_flag("--json", *json, "Print each recorded closure as one line of event JSON");
    return {app, [json] { return runWatch(*json); }};
}

} // namespace exitwise::cli
