// SPDX-License-Identifier: MIT
#include "app/AppModel.h"
#include "app/ClockTime.h"
#include "app/DataDirectory.h"
#include "app/NotificationCenter.h"
#include "app/NotificationManager.h"
#include "app/PrintableText.h"
#include "app/WorkspaceEvents.h"
#include "cli/Commands.h"
#include "cli/EvidenceSources.h"
#include "core/Json.h"
#include "platform/linux/EvidenceFactory.h"
#include "platform/linux/PlatformFactory.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace exitwise::cli {

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// Quits the event loop on SIGINT or SIGTERM, so the model shuts down between writes.
std::unique_ptr<QSocketNotifier> installStopHandler(QCoreApplication& application)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &application, [&application] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        application.quit();
    });
    return notifier;
}

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

    const std::filesystem::path dataDirectory = app::appSupportDirectory();
    platform::EvidenceSettings settings = evidenceSettings(EvidenceOptions{}, dataDirectory);
    if (const char* journal = std::getenv("EXITWISE_JOURNAL_DIR"); journal != nullptr && *journal != '\0') {
        settings.journalDirectory = std::filesystem::path(journal);
    }
    const auto logTool = platform::createLogTool(settings);

    const std::unique_ptr<app::WorkspaceEvents> workspace = platform::createWorkspaceEvents();
    const std::unique_ptr<app::NotificationCenter> center = platform::createNotificationCenter();
    app::NotificationManager notifications(*center);
    notifications.ensureAuthorized([](bool) {});

    app::AppModel::Dependencies dependencies;
    dependencies.dataDirectory = dataDirectory;
    dependencies.workspace = workspace.get();
    dependencies.logQuery = [logTool](core::Date start, core::Date end, const std::string& predicate,
                                      std::chrono::seconds timeout) -> std::optional<std::string> {
        std::string output = logTool->show(start, end, predicate, timeout);
        if (output.empty()) {
            return std::nullopt;
        }
        return output;
    };
    dependencies.engine = core::DiagnosisEngine(platform::createEvidenceProviders(settings));
    dependencies.notify = [&notifications](const app::AppEvent& event) { notifications.notify(event); };
    app::AppModel model(std::move(dependencies));
    QObject::connect(&model, &app::AppModel::eventRecorded,
                     [json](const app::AppEvent& event) { printEvent(event, json); });

    std::cerr << "exitwise: watching application closures; data in " << dataDirectory.string()
              << " (Ctrl+C to stop)" << std::endl;
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
