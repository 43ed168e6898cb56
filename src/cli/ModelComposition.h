// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace exitwise::app {
class AppModel;
class BroadcastCenter;
class ClosureJournal;
class JournalWriter;
class NotificationCenter;
class NotificationManager;
class WorkspaceEvents;
} // namespace exitwise::app

namespace exitwise::cli {

// The application model wired to this desktop: the process watcher and logind for
// terminations, the log tool for quit evidence, the three evidence providers, desktop
// notifications, an entry in the system journal per closure. Needs a running QCoreApplication;
// the model starts monitoring at once.
class ModelComposition
{
public:
    // `broadcasts` (may be null, not owned) carries notification clicks to the model. Without
    // `journalEntries` no closure goes to the journal in this run, whatever the setting says.
    explicit ModelComposition(app::BroadcastCenter* broadcasts = nullptr, bool journalEntries = true);
    // Destroys the model first: it waits for diagnoses in flight.
    ~ModelComposition();
    ModelComposition(const ModelComposition&) = delete;
    ModelComposition& operator=(const ModelComposition&) = delete;

    [[nodiscard]] app::AppModel& model() { return *m_model; }
    [[nodiscard]] app::NotificationCenter& notificationCenter() { return *m_center; }
    // Which closures are announced, remembered in the application's settings.
    [[nodiscard]] app::NotificationManager& notificationManager() { return *m_notifications; }
    // Whether closures go to the system journal, remembered in the application's settings.
    [[nodiscard]] app::ClosureJournal& closureJournal() { return *m_closureJournal; }
    [[nodiscard]] const std::filesystem::path& dataDirectory() const { return m_dataDirectory; }
    // What evidence this user cannot read (kernel lines, the journal), to say once; nothing when
    // everything that matters is readable or a journal directory was given.
    [[nodiscard]] const std::optional<std::string>& evidenceNote() const { return m_evidenceNote; }

private:
    std::filesystem::path m_dataDirectory;
    std::optional<std::string> m_evidenceNote;
    std::unique_ptr<app::WorkspaceEvents> m_workspace;
    std::unique_ptr<app::NotificationCenter> m_center;
    std::unique_ptr<app::NotificationManager> m_notifications;
    std::unique_ptr<app::JournalWriter> m_journalWriter;
    std::unique_ptr<app::ClosureJournal> m_closureJournal;
    std::unique_ptr<app::AppModel> m_model;
};

} // namespace exitwise::cli
