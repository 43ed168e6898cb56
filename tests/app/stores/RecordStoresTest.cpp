// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/FeedbackStore.h"
#include "app/stores/ProductAnalyticsStore.h"
#include "support/StoreTesting.h"

#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;
using core::json::Json;
using RecordStores = test::StoreTest;

// What the application does when the user rates a diagnosis.
void rate(FeedbackStore& feedback,
          DiagnosisTelemetryStore& telemetry,
          const AppEvent& event,
          bool helpful,
          core::Date at)
{
    feedback.append(
        {event.id, event.appName, event.diagnosis.dominantCause, event.diagnosis.confidence, helpful, at});
    telemetry.updateFeedback(event.id, helpful, at);
}

TEST_F(RecordStores, ChangingARatingAppendsFeedbackAndUpdatesTelemetry)
{
    FeedbackStore feedback(directory() / "feedback.jsonl");
    DiagnosisTelemetryStore telemetry(directory() / "telemetry.json");
    const AppEvent event = test::fullEvent("Sketch", test::sampleTime());
    rate(feedback, telemetry, test::fullEvent("Old", test::sampleTime()), true, test::sampleTime(5));
    EXPECT_FALSE(fs::exists(telemetry.fileURL())) << "a rating without a record writes feedback only";

    telemetry.record(event, 1250, test::sampleTime(1));
    rate(feedback, telemetry, event, true, test::sampleTime(10));
    rate(feedback, telemetry, event, false, test::sampleTime(20));

    const auto lines =
        records::readJsonLines(feedback.fileURL(), [](const Json& j) { return decodeFeedbackRecord(j); });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[1].helpful);
    EXPECT_FALSE(lines[2].helpful);
    EXPECT_EQ(lines[2].recordedAt, test::sampleTime(20));

    DiagnosisTelemetryRecord expected;
    expected.eventID = event.id;
    expected.appName = "Sketch";
    expected.dominantCause = core::DominantCause::crashBug;
    expected.confidence = core::Confidence::high;
    expected.signalsUsed = {"Termination reason: crashed (signal 11)"};
    expected.timeToDiagnosisMS = 1250;
    expected.helpful = false;
    expected.recordedAt = test::sampleTime(1);
    expected.feedbackAt = test::sampleTime(20);
    EXPECT_EQ(telemetry.load(), std::vector<DiagnosisTelemetryRecord>{expected});
}

TEST_F(RecordStores, ABatchOfChangesEndsLikeTheSameCallsOneByOne)
{
    using Rating = DiagnosisTelemetryStore::Rating;
    const AppEvent a = test::fullEvent("A", test::sampleTime());
    const AppEvent b = test::fullEvent("B", test::sampleTime());
    const auto t = [](double s) { return test::sampleTime(s); };

    DiagnosisTelemetryStore single(directory() / "single.json");
    single.updateFeedback(a.id, true, t(1)); // no record yet: nothing
    single.record(a, 10, t(2));
    single.record(b, 20, t(3));
    single.updateFeedback(a.id, false, t(4));
    single.record(a, -40, t(5));

    DiagnosisTelemetryStore batch(directory() / "batch.json");
    batch.apply({Rating{a.id, true, t(1)}, DiagnosisTelemetryStore::makeRecord(a, 10, t(2)),
                 DiagnosisTelemetryStore::makeRecord(b, 20, t(3)), Rating{a.id, false, t(4)},
                 DiagnosisTelemetryStore::makeRecord(a, -40, t(5))},
                t(5));

    const auto records = batch.load();
    EXPECT_EQ(records, single.load());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].eventID, a.id);
    EXPECT_EQ(records[0].helpful, false) << "a later record keeps the rating";
    EXPECT_EQ(records[0].timeToDiagnosisMS, 0) << "replaced, and a negative time is stored as 0";

    DiagnosisTelemetryStore ratingsOnly(directory() / "ratings.json");
    ratingsOnly.apply({Rating{a.id, true, t(1)}}, t(1));
    EXPECT_FALSE(fs::exists(ratingsOnly.fileURL())) << "nothing to rate, nothing written";
}

TEST_F(RecordStores, TelemetryKeepsTheNewestFiveThousandRecords)
{
    DiagnosisTelemetryStore store(directory() / "telemetry.json");
    std::vector<DiagnosisTelemetryStore::Change> changes;
    for (int i = 0; i < 5001; ++i) {
        // Recorded out of order: the newest are kept, not the last written.
        const double at = (i * 7919) % 5001;
        changes.push_back(DiagnosisTelemetryStore::makeRecord(test::fullEvent("App", test::sampleTime(at)), 1,
                                                              test::sampleTime(at)));
    }
    store.apply(changes, test::sampleTime(6000));
    const auto records = store.load();
    ASSERT_EQ(records.size(), 5000u);
    EXPECT_EQ(records.front().recordedAt, test::sampleTime(5000));
    EXPECT_EQ(records.back().recordedAt, test::sampleTime(1));
}

// The store keeps what it wrote between changes; a file changed by anyone else is read again.
TEST_F(RecordStores, TelemetryWrittenByAnotherIsReadAgain)
{
    const AppEvent a = test::fullEvent("A", test::sampleTime(1));
    const AppEvent b = test::fullEvent("B", test::sampleTime(2));
    DiagnosisTelemetryStore store(directory() / "telemetry.json");
    store.record(a, 10, test::sampleTime(1));
    store.updateFeedback(a.id, true, test::sampleTime(1.5));
    DiagnosisTelemetryStore(store.fileURL()).record(b, 20, test::sampleTime(2));
    store.record(test::fullEvent("C", test::sampleTime(3)), 30, test::sampleTime(3));

    const auto records = store.load();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].eventID, b.id);
    EXPECT_EQ(records[2].helpful, true);
    Json array = Json::array();
    for (const auto& record : records) {
        array.push_back(encode(record));
    }
    EXPECT_EQ(test::readFile(store.fileURL()), core::json::dumpCompact(array));
}

TEST_F(RecordStores, DuplicateTelemetryRecordsDoNotFailTheRead)
{
    DiagnosisTelemetryRecord older;
    older.eventID = Uuid::random();
    older.recordedAt = test::sampleTime(1);
    DiagnosisTelemetryRecord newer = older;
    newer.recordedAt = test::sampleTime(2);
    std::ofstream(directory() / "telemetry.json") << Json::array({encode(older), encode(newer)}).dump();
    EXPECT_EQ(DiagnosisTelemetryStore(directory() / "telemetry.json").load(),
              std::vector<DiagnosisTelemetryRecord>{newer});
}

TEST_F(RecordStores, AnalyticsLinesHaveSortedKeysIsoSecondsAndTrimmedAttributes)
{
    ProductAnalyticsStore analytics(directory());
    analytics.record(ProductAnalyticsEventName::onboardingViewed, {},
                     core::dateFromSecondsSince1970(1772373909.987));
    analytics.record(ProductAnalyticsEventName::actionCopied,
                     {{" action ", "  copy_fix\n"}, {"   ", "dropped"}, {"empty", "  "}}, test::sampleTime());

    const auto lines = records::readJsonLines(analytics.fileURL(),
                                              [](const Json& j) { return decodeProductAnalyticsEvent(j); });
    ASSERT_EQ(lines.size(), 2u);
    const std::string text = test::readFile(analytics.fileURL());
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "{\"attributes\":{},\"id\":\"" + lines[0].id.toString()
                  + "\",\"name\":\"onboarding_viewed\",\"recordedAt\":\"2026-03-01T14:05:09Z\"}\n");
    EXPECT_EQ(test::modeOf(analytics.fileURL()), 0600u);
    EXPECT_EQ(lines[1].name, ProductAnalyticsEventName::actionCopied);
    EXPECT_EQ(lines[1].attributes,
              (std::map<std::string, std::string>{{"action", "copy_fix"}, {"empty", ""}}));
}

} // namespace
} // namespace exitwise::app
