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

// What the application does when the user rates a diagnosis: a feedback line always, the rating
// on the event's telemetry record once it has one. A batch of changes ends like the same calls
// one by one.
TEST_F(RecordStores, RatingsAndRecordsOneByOneOrInABatch)
{
    using Rating = DiagnosisTelemetryStore::Rating;
    const AppEvent a = test::fullEvent("Sketch", test::sampleTime());
    const AppEvent b = test::fullEvent("B", test::sampleTime());
    const auto t = [](double s) { return test::sampleTime(s); };
    FeedbackStore feedback(directory() / "feedback.jsonl");
    DiagnosisTelemetryStore single(directory() / "single.json");
    const auto line = [&a](bool helpful, core::Date at) {
        return FeedbackRecord(a.id, "Sketch", core::DominantCause::crashBug, core::Confidence::high, helpful,
                              at);
    };
    const auto rate = [&](bool helpful, core::Date at) {
        feedback.append(line(helpful, at));
        single.updateFeedback(a.id, helpful, at);
    };
    rate(true, t(1));
    EXPECT_FALSE(fs::exists(single.fileURL())) << "a rating without a record writes feedback only";
    single.record(a, 1250, t(2));
    single.record(b, 20, t(3));
    rate(false, t(4));
    single.record(a, -40, t(5)); // keeps the rating; a negative time is stored as 0

    DiagnosisTelemetryStore batch(directory() / "batch.json");
    batch.apply({Rating{a.id, true, t(1)}, DiagnosisTelemetryStore::makeRecord(a, 1250, t(2)),
                 DiagnosisTelemetryStore::makeRecord(b, 20, t(3)), Rating{a.id, false, t(4)},
                 DiagnosisTelemetryStore::makeRecord(a, -40, t(5))},
                t(5));

    const DiagnosisTelemetryRecord rated(
        a.id, "Sketch", core::DominantCause::crashBug, core::Confidence::high,
        std::vector<std::string>{"Termination reason: crashed (signal 11)"}, 0, false, t(5), t(4));
    const std::vector expected{rated, DiagnosisTelemetryStore::makeRecord(b, 20, t(3))};
    EXPECT_EQ(single.load(), expected);
    EXPECT_EQ(batch.load(), expected);
    EXPECT_EQ(
        records::readJsonLines(feedback.fileURL(), [](const Json& j) { return decodeFeedbackRecord(j); }),
        (std::vector{line(true, t(1)), line(false, t(4))}));
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
    const std::string text = test::readFile(store.fileURL());
    EXPECT_EQ(text, core::json::dumpCompact(core::json::parse(text))) << "one compact array";
}

TEST_F(RecordStores, DuplicateTelemetryRecordsDoNotFailTheRead)
{
    const auto older =
        DiagnosisTelemetryStore::makeRecord(test::fullEvent("A", test::sampleTime()), 1, test::sampleTime(1));
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
    EXPECT_EQ(test::readFile(analytics.fileURL()),
              "{\"attributes\":{},\"id\":\"" + lines[0].id.toString()
                  + "\",\"name\":\"onboarding_viewed\",\"recordedAt\":\"2026-03-01T14:05:09Z\"}\n"
                    "{\"attributes\":{\"action\":\"copy_fix\",\"empty\":\"\"},\"id\":\""
                  + lines[1].id.toString()
                  + "\",\"name\":\"action_copied\",\"recordedAt\":\"2026-02-28T19:33:20Z\"}\n");
}

} // namespace
} // namespace exitwise::app
