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
namespace json = core::json;
using namespace std::chrono_literals;

using EventStoreTest = test::StoreTest;
using test::eventList;

// The sample file in its stored form, byte for byte: compact, keys sorted, ids in capitals.
TEST_F(EventStoreTest, SavesTheSampleInItsStoredForm)
{
    EXPECT_TRUE(EventStore(directory()).load().empty()) << "no file yet";
    EXPECT_TRUE(EventStore::readStoredEvents(directory()).value().empty());
    const fs::path data = fs::path(EXITWISE_TEST_DATA_DIR) / "events";
    ASSERT_FALSE(records::atomicReplace(directory() / "events.json", test::readFile(data / "events.json")));
    EventStore store(directory());
    const std::vector<AppEvent> events = store.load();
    ASSERT_FALSE(store.save(events, test::sampleTime(100)));
    EXPECT_EQ(test::readFile(store.fileURL()), test::readFile(data / "events-stored.json"));
    EXPECT_EQ(EventStore(directory()).load(), events);
    EXPECT_TRUE(fs::exists(store.reconciler().reportURL())) << "a save reconciles";

    ASSERT_FALSE(store.save({}, test::sampleTime(100)));
    EXPECT_EQ(test::readFile(store.fileURL()), "[]");
}

TEST_F(EventStoreTest, LaterEventsWithAnIdAlreadySeenAreDroppedAtLoad)
{
    json::Json file = json::parse(EventStore::encodeEventFile(eventList(3, "First")));
    json::Json twin = file[0];
    twin["appName"] = "Twin";
    json::Json newerTwin = file[2]; // of a later version
    newerTwin["diagnosis"]["endState"] = "Suspended";
    json::Json newer = newerTwin;
    newer["id"] = "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B";
    const json::Json expected =
        json::Json::array({file[0], file[1], file[2], newer}); // one newer event, once
    file.insert(file.end(), {twin, newerTwin, newer, newer});
    std::ofstream(directory() / "events.json") << json::dumpCompact(file);

    EventStore store(directory());
    const std::vector<AppEvent> events = store.load();
    EXPECT_EQ(test::namesOf(events), (std::vector<std::string>{"First0", "First1", "First2"}));
    ASSERT_FALSE(store.save(events));
    EXPECT_EQ(json::parse(test::readFile(store.fileURL())), expected);
}

// Events of a later version (a cause, a rating or a reason this one does not know) are left out
// of the list, kept exactly as written in their place by time, counted in the trim to the newest
// 200 and matched by the reconciliation like any other event.
TEST_F(EventStoreTest, EventsOfALaterVersionAreKeptTrimmedAndReconciled)
{
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
    const std::pair<json::Json::json_pointer, json::Json> unknown[] = {
        {json::Json::json_pointer("/diagnosis/dominantCause"), "Killed: cosmic ray"},
        {json::Json::json_pointer("/feedback"),                "Helpful"},
        {json::Json::json_pointer("/terminationReason"),       "suspended"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<AppEvent> known = eventList(c.known, "Known");
        json::Json file = json::parse(EventStore::encodeEventFile(known));
        std::vector<json::Json> byTime(file.begin(), file.end()); // the oracle: the newest 200 as written
        std::ofstream ledger(directory() / "event_ledger.jsonl"); // written directly: appends are synced
        for (int i = 0; i < c.later; ++i) {
            const core::Date at = test::sampleTime(c.laterFirstOffset + c.laterStep * i);
            const AppEvent event = test::fullEvent("Later" + std::to_string(i), at);
            json::Json later = encode(event);
            later[unknown[i % 3].first] = unknown[i % 3].second;
            later["addedLater"] = json::Json{{"nested", json::Json::array({1, 2})}};
            file.push_back(later);
            byTime.push_back(later);
            ledger << json::dumpCompact(encode(test::ledgerEntryFor(event, at))) << '\n';
            if (i == 0) { // another application's closure at the same moment
                AppEvent stranger = event;
                stranger.bundleIdentifier = "org.example.elsewhere";
                ledger << json::dumpCompact(encode(test::ledgerEntryFor(stranger, at))) << '\n';
            }
        }
        ledger.close();
        std::ofstream(directory() / "events.json") << json::dumpCompact(file);
        std::stable_sort(byTime.begin(), byTime.end(), [](const json::Json& a, const json::Json& b) {
            return a["terminatedAt"].get<double>() > b["terminatedAt"].get<double>();
        });
        byTime.resize(std::min<std::size_t>(byTime.size(), 200));

        EventStore store(directory());
        const std::vector<AppEvent> loaded = store.load();
        EXPECT_EQ(test::namesOf(loaded), test::namesOf(known));
        ASSERT_FALSE(store.save(loaded, test::sampleTime(1e7)));
        ASSERT_FALSE(store.save(loaded, test::sampleTime(1e7))) << "a second save keeps the trim";
        EXPECT_EQ(json::parse(test::readFile(store.fileURL())), json::Json(byTime));

        const auto report = decodeEventLedgerReconciliationReport(
            json::parse(test::readFile(store.reconciler().reportURL())));
        EXPECT_EQ(report.recordedEventCount, static_cast<std::int64_t>(byTime.size()));
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
    const auto save = std::max<std::chrono::steady_clock::duration>(
        100us, (std::chrono::steady_clock::now() - started) / 2);

    std::mt19937 random(42);
    int sawB = 0;
    for (int kill = 0; kill < 25; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            EventStore writer(directory());
            for (int i = 0;; ++i) {
                static_cast<void>(writer.save(i % 2 == 0 ? listB : listA, test::sampleTime(1000)));
            }
        }
        std::this_thread::sleep_for(save / 4 + random() % 200 * save / 100);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const auto loaded = EventStore::readEventFile(store.fileURL());
        ASSERT_TRUE(loaded) << "after kill " << kill << ": " << loaded.error().message();
        ASSERT_TRUE(loaded.value() == listA || loaded.value() == listB) << "after kill " << kill;
        sawB += loaded.value() == listB ? 1 : 0;
    }
    EXPECT_GT(sawB, 0) << "the child never completed a save";
}

} // namespace
} // namespace exitwise::app
