// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>

namespace exitwise::app {
class AppModel;
class BroadcastCenter;
class NotificationCenter;
class NotificationManager;
class WorkspaceEvents;
} // namespace exitwise::app

namespace exitwise::cli {

// The application model wired to this desktop: the process watcher and logind for
// terminations, the log tool for quit evidence, the three evidence providers, desktop
// notifications. Needs a running QCoreApplication; the model starts monitoring at once.
class ModelComposition
{
public:
    // `broadcasts` (may be null, not owned) carries notification clicks to the model.
    explicit ModelComposition(app::BroadcastCenter* broadcasts = nullptr);
    // Destroys the model first: it waits for diagnoses in flight.
    ~ModelComposition();
    ModelComposition(const ModelComposition&) = delete;
    ModelComposition& operator=(const ModelComposition&) = delete;

    [[nodiscard]] app::AppModel& model() { return *m_model; }
    [[nodiscard]] app::NotificationCenter& notificationCenter() { return *m_center; }
    [[nodiscard]] const std::filesystem::path& dataDirectory() const { return m_dataDirectory; }

private:
    std::filesystem::path m_dataDirectory;
    std::unique_ptr<app::WorkspaceEvents> m_workspace;
    std::unique_ptr<app::NotificationCenter> m_center;
    std::unique_ptr<app::NotificationManager> m_notifications;
    std::unique_ptr<app::AppModel> m_model;
};

} // namespace exitwise::cli
