// SPDX-License-Identifier: MIT
#include "app/stores/EventStore.h"

#include "app/RecordFiles.h"
#include "app/stores/EventLedgerReconciliationReport.h"
#include "app/stores/TerminationLedgerEntry.h"
#include "support/StoreTesting.h"

#include <sys/wait.h>

#include <algorithm>
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

using EventStoreTest = test::StoreTest;
using test::eventList;

TEST_F(EventStoreTest, SavesACompactArrayAndLoadsItBack)
{
    EventStore store(directory());
    EXPECT_TRUE(store.load().empty()) << "no file yet";
    EXPECT_TRUE(EventStore::readStoredEvents(directory()).value().empty());
    const std::vector<AppEvent> events = eventList(3);
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
    json::Json file = json::parse(EventStore::encodeEventFile(eventList(3, "First")));
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
    EXPECT_EQ(test::namesOf(events), (std::vector<std::string>{"First0", "First1", "First2"}));
    ASSERT_TRUE(EventStore::readStoredEvents(directory()).ok());
    EXPECT_EQ(EventStore::readStoredEvents(directory()).value().size(), 3u);

    ASSERT_FALSE(store.save(events));
    const json::Json saved = json::parse(records::readFile(store.fileURL()).value());
    ASSERT_EQ(saved.size(), 4u) << saved.dump();
    EXPECT_EQ(saved[3], newer) << "one newer event kept, once";
}

TEST_F(EventStoreTest, EventsOfALaterVersionCountInTheTrimAndTheReconciliation)
{
    namespace json = core::json;
    struct Case
    {
        const char* name;
        int known;
        int later;
        double laterFirstOffset; // seconds; known events end at 0, -60, -120, …
        double laterStep;
        int laterKept;
    };
    // clang-format off
    const Case cases[] = {
        {"later ones newest",      200, 5,  600,  60, 5},
        {"later ones oldest",      200, 5,  -1e6, 60, 0},
        {"interleaved",            198, 10, 30,  -120, 10},
        {"interleaved, overflows", 200, 10, 30,  -120, 10},
        {"later ones alone",       0,   205, 0,  -60, 200},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir temp("exitwise-trim");
        const fs::path& dir = temp.path();
        const std::vector<AppEvent> known = eventList(c.known, "Known");
        json::Json file = json::parse(EventStore::encodeEventFile(known));
        std::vector<std::pair<double, std::string>> byTime; // the oracle: newest 200 by time
        for (const AppEvent& event : known) {
            byTime.emplace_back(core::secondsSince1970(event.terminatedAt), event.appName);
        }
        std::ofstream ledger(dir / "event_ledger.jsonl"); // written directly: appends are synced
        for (int i = 0; i < c.later; ++i) {
            const core::Date at = test::sampleTime(c.laterFirstOffset + c.laterStep * i);
            const AppEvent event = test::fullEvent("Later" + std::to_string(i), at);
            json::Json later = encode(event);
            (i % 2 == 0 ? later["diagnosis"]["endState"] : later["terminationReason"]) = "Suspended";
            file.push_back(later);
            byTime.emplace_back(core::secondsSince1970(at), event.appName);
            ledger << json::dumpCompact(encode(test::ledgerEntryFor(event, at))) << '\n';
            if (i == 0) { // another application's closure at the same moment
                AppEvent stranger = event;
                stranger.bundleIdentifier = "org.example.elsewhere";
                ledger << json::dumpCompact(encode(test::ledgerEntryFor(stranger, at))) << '\n';
            }
        }
        ledger.close();
        std::ofstream(dir / "events.json") << json::dumpCompact(file);
        std::sort(byTime.rbegin(), byTime.rend());
        byTime.resize(std::min<std::size_t>(byTime.size(), 200));

        EventStore store(dir);
        const std::vector<AppEvent> loaded = store.load();
        ASSERT_FALSE(store.save(loaded, test::sampleTime(1e7)));
        ASSERT_FALSE(store.save(loaded, test::sampleTime(1e7))) << "a second save keeps the trim";

        const json::Json saved = json::parse(records::readFile(store.fileURL()).value());
        std::vector<std::string> names;
        int laterKept = 0;
        for (const json::Json& event : saved) {
            names.push_back(event["appName"].get<std::string>());
            laterKept += names.back().rfind("Later", 0) == 0 ? 1 : 0;
        }
        std::vector<std::string> expected;
        for (const auto& entry : byTime) {
            expected.push_back(entry.second);
        }
        EXPECT_EQ(names, expected);
        EXPECT_EQ(laterKept, c.laterKept);

        const auto report = decodeEventLedgerReconciliationReport(
            json::parse(records::readFile(store.reconciler().reportURL()).value()));
        EXPECT_EQ(report.recordedEventCount, static_cast<std::int64_t>(saved.size()));
        EXPECT_EQ(report.mismatchCount, c.later - c.laterKept + 1)
            << "kept later events match their own lines, and only those";
    }
}

// A process killed at any moment of a save leaves either the old or the new list.
TEST_F(EventStoreTest, SaveSurvivesSigkillAtAnyMoment)
{
    const std::vector<AppEvent> listA = eventList(40, "Old");
    const std::vector<AppEvent> listB = eventList(60, "New");
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
