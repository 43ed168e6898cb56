// SPDX-License-Identifier: MIT
#pragma once

// A real application model over a temporary data directory, for widget tests: stored events are
// written to events.json first, the monitor does not start, and the clock is settable.

#include "app/AppModel.h"
#include "app/BroadcastCenter.h"
#include "app/RecordFiles.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/EventStore.h"
#include "app/stores/ProductAnalyticsEvent.h"
#include "support/SampleEvents.h"

#include <QCoreApplication>

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace exitwise::test {

class ModelFixture
{
public:
    ModelFixture()
        : m_directory(
            std::filesystem::path(::testing::TempDir())
            / ("ui-model-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
    {
        std::filesystem::remove_all(m_directory);
        std::filesystem::create_directories(m_directory);
    }
    ~ModelFixture()
    {
        m_model.reset();
        std::filesystem::remove_all(m_directory);
    }
    ModelFixture(const ModelFixture&) = delete;
    ModelFixture& operator=(const ModelFixture&) = delete;

    // The words of the model's explanations; stored cards in the other set are reworded at start.
    core::Wording wording = core::Wording::macos;

    // Builds the model over `stored` (newest first, as the model keeps them).
    app::AppModel& makeModel(const std::vector<app::AppEvent>& stored = {})
    {
        m_model.reset();
        if (!stored.empty()) {
            EXPECT_FALSE(app::records::atomicReplace(m_directory / "events.json",
                                                     app::EventStore::encodeEventFile(stored)));
        }
        app::AppModel::Dependencies d;
        d.dataDirectory = m_directory;
        d.workspace = &m_workspace;
        d.broadcasts = &m_broadcasts;
        d.clock = [this] { return now; };
        d.startMonitoring = false;
        d.engine = core::DiagnosisEngine({}, wording);
        m_model = std::make_unique<app::AppModel>(std::move(d));
        QCoreApplication::processEvents(); // the start-up refresh
        return *m_model;
    }

    [[nodiscard]] app::AppModel& model() { return *m_model; }
    [[nodiscard]] const std::filesystem::path& directory() const { return m_directory; }
    [[nodiscard]] app::BroadcastCenter& broadcasts() { return m_broadcasts; }
    [[nodiscard]] app::WorkspaceEvents& workspace() { return m_workspace; }

    // Usage events recorded so far, as read back from the data directory.
    [[nodiscard]] std::vector<app::ProductAnalyticsEvent> usageEvents() const
    {
        return app::records::readJsonLines(
            m_directory / "product_events.jsonl",
            [](const core::json::Json& value) { return app::decodeProductAnalyticsEvent(value); });
    }
    [[nodiscard]] std::size_t usageCount(app::ProductAnalyticsEventName name) const
    {
        std::size_t count = 0;
        for (const auto& event : usageEvents()) {
            count += event.name == name ? 1 : 0;
        }
        return count;
    }

    core::Date now = sampleTime(3600);

private:
    std::filesystem::path m_directory;
    app::WorkspaceEvents m_workspace;
    app::BroadcastCenter m_broadcasts;
    std::unique_ptr<app::AppModel> m_model;
};

} // namespace exitwise::test
