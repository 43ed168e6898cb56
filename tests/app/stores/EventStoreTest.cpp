// SPDX-License-Identifier: MIT
#include "app/stores/EventStore.h"

#include "app/RecordFiles.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

class EventStoreTest : public ::testing::Test
{
protected:
    fs::path directory() const { return m_temp.path().toStdString(); }

    static std::vector<AppEvent> sampleList(int count, const char* prefix = "App")
    {
        std::vector<AppEvent> events;
        for (int i = 0; i < count; ++i) {
            events.push_back(test::fullEvent(prefix + std::to_string(i), test::sampleTime(-60.0 * i)));
        }
        return events;
    }

    std::vector<std::string> entriesStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory())) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    QTemporaryDir m_temp;
};

TEST_F(EventStoreTest, SavesACompactArrayAndLoadsItBack)
{
    EventStore store(directory());
    EXPECT_TRUE(store.load().empty()) << "no file yet";
    const std::vector<AppEvent> events = sampleList(3);
    ASSERT_FALSE(store.save(events, test::sampleTime(100)));

    const std::string text = records::readFile(store.fileURL()).value();
    EXPECT_EQ(text.front(), '[');
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(EventStore(directory()).load(), events);
    EXPECT_TRUE(fs::exists(store.reconciler().reportURL())) << "a save reconciles";

    ASSERT_FALSE(store.save({}, test::sampleTime(100)));
    EXPECT_EQ(records::readFile(store.fileURL()).value(), "[]");
}

TEST_F(EventStoreTest, LaterEventsWithAnIdAlreadySeenAreDroppedAtLoad)
{
    namespace json = core::json;
    json::Json file = json::parse(EventStore::encodeEventFile(sampleList(3, "First")));
    json::Json twin = file[0];
    twin["appName"] = "Twin";
    json::Json newerTwin = file[1];
    newerTwin["appName"] = "NewerTwin";
    newerTwin["diagnosis"]["endState"] = "Suspended";
    json::Json newerTwinOfTwin = file[2];
    newerTwinOfTwin["diagnosis"]["endState"] = "Suspended";
    json::Json newer = newerTwinOfTwin;
    newer["id"] = "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B";
    file.push_back(twin);
    file.push_back(newerTwin);
    file.push_back(newer);
    file.push_back(newerTwinOfTwin);
    file.push_back(newer);
    std::ofstream(directory() / "events.json") << json::dumpCompact(file);

    EventStore store(directory());
    const std::vector<AppEvent> events = store.load();
    std::vector<std::string> names;
    for (const AppEvent& event : events) {
        names.push_back(event.appName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"First0", "First1", "First2"}));
    ASSERT_TRUE(EventStore::readStoredEvents(directory()).ok());
    EXPECT_EQ(EventStore::readStoredEvents(directory()).value().size(), 3u);

    ASSERT_FALSE(store.save(events));
    const json::Json saved = json::parse(records::readFile(store.fileURL()).value());
    ASSERT_EQ(saved.size(), 4u) << saved.dump();
    EXPECT_EQ(saved[3], newer) << "one newer event kept, once";
}

TEST_F(EventStoreTest, UndecodableFileIsMovedAsideBeforeAnythingOverwritesIt)
{
    const std::string damaged = R"([{"id":"0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B","appName":"Notes"}])";
    std::ofstream(directory() / "events.json") << damaged;

    EventStore store(directory());
    const core::Date at = core::dateFromSecondsSince1970(1772374509.0); // 2026-03-01T14:15:09Z
    EXPECT_TRUE(store.load(at).empty());
    ASSERT_FALSE(store.save(sampleList(1), at));

    EXPECT_EQ(records::readFile(directory() / "events.json.unreadable-20260301T141509Z").value(), damaged);
    EXPECT_EQ(EventStore(directory()).load().size(), 1u);
}

TEST_F(EventStoreTest, ReaderReportsWhyAFileCannotBeUsedAndChangesNothing)
{
    const fs::path file = directory() / "events.json";
    std::ofstream(file)
        << R"([{"id":"0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B","appName":"Notes","terminatedAt":1}])";
    const auto result = EventStore::readStoredEvents(directory());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, 0);
    EXPECT_NE(result.error().reason.find("[0]: missing key \"diagnosis\""), std::string::npos)
        << result.error().reason;
    EXPECT_EQ(entriesStartingWith("events.json"), std::vector<std::string>{"events.json"});

    fs::remove(file);
    const auto missing = EventStore::readStoredEvents(directory());
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing.value().empty());
}

// A process killed at any moment of a save leaves either the old or the new list.
TEST_F(EventStoreTest, SaveSurvivesSigkillAtAnyMoment)
{
    const std::vector<AppEvent> listA = sampleList(40, "Old");
    const std::vector<AppEvent> listB = sampleList(60, "New");
    EventStore store(directory());
    // Kill within a few save durations, however fast this disk is.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_FALSE(store.save(listB, test::sampleTime(1000)));
    ASSERT_FALSE(store.save(listA, test::sampleTime(1000)));
    const auto saveMicros = std::max<long long>(
        100, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started)
                     .count()
                 / 2);

    std::mt19937 random(42);
    constexpr int kKills = 25;
    int sawB = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            EventStore writer(directory());
            for (int i = 0;; ++i) {
                static_cast<void>(writer.save(i % 2 == 0 ? listB : listA, test::sampleTime(1000)));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(saveMicros / 4 + random() % (2 * saveMicros)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const auto loaded = EventStore::readEventFile(store.fileURL());
        ASSERT_TRUE(loaded) << "after kill " << kill << ": " << loaded.error().message();
        const bool isA = loaded.value() == listA;
        const bool isB = loaded.value() == listB;
        ASSERT_TRUE(isA || isB) << "after kill " << kill << " the file holds neither list";
        sawB += isB ? 1 : 0;
    }
    EXPECT_GT(sawB, 0) << "the child never completed a save";
}

} // namespace
} // namespace exitwise::app
