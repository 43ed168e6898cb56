// SPDX-License-Identifier: MIT
#include "cli/ModelComposition.h"

#include "app/AppModel.h"
#include "app/ClosureJournal.h"
#include "app/DataDirectory.h"
#include "app/NotificationCenter.h"
#include "app/NotificationManager.h"
#include "app/WorkspaceEvents.h"
#include "cli/EvidenceSources.h"
#include "platform/linux/DesktopEntry.h"
#include "platform/linux/EvidenceFactory.h"
#include "platform/linux/JournalAccess.h"
#include "platform/linux/PlatformFactory.h"
#include "sys/FileIo.h"

#include <QSettings>

#include <cstdlib>
#include <unistd.h>

namespace exitwise::cli {

ModelComposition::ModelComposition(app::BroadcastCenter* broadcasts, bool journalEntries)
    : m_dataDirectory(app::appSupportDirectory())
{
    platform::EvidenceSettings settings = evidenceSettings(EvidenceOptions{}, m_dataDirectory);
    if (const std::optional<std::string> journal = sys::environment("EXITWISE_JOURNAL_DIR")) {
        settings.journalDirectory = std::filesystem::path(*journal);
    }
    const auto logTool = platform::createLogTool(settings);
    if (!settings.journalDirectory) {
        m_evidenceNote = platform::JournalAccess::probe(getuid()).note();
    }

    m_workspace = platform::createWorkspaceEvents();
    m_center = platform::createNotificationCenter();
    app::NotificationManagerOptions notificationOptions;
    notificationOptions.iconLookup = [](const std::string& appPath) {
        return platform::desktopEntryIconName(appPath);
    };
    // Named here, not taken from the application, so `watch` honours the desktop app's choice.
    notificationOptions.settings =
        std::make_unique<QSettings>(QStringLiteral("exitwise"), QStringLiteral("Exitwise"));
    m_notifications = std::make_unique<app::NotificationManager>(*m_center, std::move(notificationOptions));
    m_notifications->ensureAuthorized([](bool) {});

    m_journalWriter = platform::createJournalWriter();
    m_closureJournal = std::make_unique<app::ClosureJournal>(
        *m_journalWriter,
        std::make_unique<QSettings>(QStringLiteral("exitwise"), QStringLiteral("Exitwise")));

    app::AppModel::Dependencies dependencies;
    dependencies.dataDirectory = m_dataDirectory;
    dependencies.workspace = m_workspace.get();
    dependencies.logQuery = [logTool](core::Date start, core::Date end, const std::string& predicate,
                                      std::chrono::seconds timeout) -> std::optional<std::string> {
        std::string output = logTool->show(start, end, predicate, timeout);
        if (output.empty()) {
            return std::nullopt;
        }
        return output;
    };
    dependencies.logDialect = core::LogDialect::linuxDesktop;
    dependencies.engine =
        core::DiagnosisEngine(platform::createEvidenceProviders(settings), platform::kWording);
    // Called once per closure as it is recorded; re-evaluated old closures never come here.
    dependencies.notify = [notifications = m_notifications.get(),
                           journal = journalEntries ? m_closureJournal.get()
                                                    : nullptr](const app::AppEvent& event) {
        notifications->notify(event);
        if (journal != nullptr) {
            journal->publish(event);
        }
    };
    dependencies.broadcasts = broadcasts;
    m_model = std::make_unique<app::AppModel>(std::move(dependencies));
}

ModelComposition::~ModelComposition()
{
    m_model.reset();
}

} // namespace exitwise::cli
