// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/FeedbackStore.h"
#include "app/stores/ProductAnalyticsStore.h"
#include "support/SampleEvents.h"

#include <QTemporaryDir>

#include <sys/stat.h>

#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;
using core::json::Json;

class RecordStores : public ::testing::Test
{
protected:
    fs::path directory() const { return m_temp.path().toStdString(); }

    QTemporaryDir m_temp;
};

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
    telemetry.record(event, 1250, test::sampleTime(1));

    rate(feedback, telemetry, event, true, test::sampleTime(10));
    rate(feedback, telemetry, event, false, test::sampleTime(20));

    const auto lines =
        records::readJsonLines(feedback.fileURL(), [](const Json& j) { return decodeFeedbackRecord(j); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].helpful);
    EXPECT_FALSE(lines[1].helpful);
    EXPECT_EQ(lines[1].recordedAt, test::sampleTime(20));

    const auto records = telemetry.load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].helpful, false);
    EXPECT_EQ(records[0].feedbackAt, test::sampleTime(20));
    EXPECT_EQ(records[0].timeToDiagnosisMS, 1250);
    EXPECT_EQ(records[0].signalsUsed, std::vector<std::string>{"Termination reason: crashed (signal 11)"});
}

TEST_F(RecordStores, RatingWithoutTelemetryRecordWritesFeedbackOnly)
{
    FeedbackStore feedback(directory() / "feedback.jsonl");
    DiagnosisTelemetryStore telemetry(directory() / "telemetry.json");
    rate(feedback, telemetry, test::fullEvent("Old", test::sampleTime()), true, test::sampleTime(5));
    EXPECT_TRUE(fs::exists(feedback.fileURL()));
    EXPECT_FALSE(fs::exists(telemetry.fileURL()));
}

TEST_F(RecordStores, RecordingAgainKeepsTheRatingAndReplacesTheRest)
{
    DiagnosisTelemetryStore telemetry(directory() / "telemetry.json");
    AppEvent event = test::fullEvent("Sketch", test::sampleTime());
    const AppEvent other = test::fullEvent("Other", test::sampleTime());
    telemetry.record(event, 100, test::sampleTime(1));
    telemetry.record(other, 5, test::sampleTime(2));
    telemetry.updateFeedback(event.id, true, test::sampleTime(3));

    event.diagnosis.confidence = core::Confidence::low;
    event.diagnosis.signalsUsed.clear();
    telemetry.record(event, -40, test::sampleTime(4));

    const auto records = telemetry.load();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].eventID, event.id) << "newest recordedAt first";
    EXPECT_EQ(records[0].helpful, true);
    EXPECT_EQ(records[0].feedbackAt, test::sampleTime(3));
    EXPECT_EQ(records[0].confidence, core::Confidence::low);
    EXPECT_TRUE(records[0].signalsUsed.empty());
    EXPECT_EQ(records[0].timeToDiagnosisMS, 0) << "a negative time is stored as 0";
    EXPECT_EQ(records[1].eventID, other.id);
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
    single.record(a, 30, t(5));

    DiagnosisTelemetryStore batch(directory() / "batch.json");
    batch.apply({Rating{a.id, true, t(1)}, DiagnosisTelemetryStore::makeRecord(a, 10, t(2)),
                 DiagnosisTelemetryStore::makeRecord(b, 20, t(3)), Rating{a.id, false, t(4)},
                 DiagnosisTelemetryStore::makeRecord(a, 30, t(5))},
                t(5));

    const auto records = batch.load();
    EXPECT_EQ(records, single.load());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].eventID, a.id);
    EXPECT_EQ(records[0].helpful, false) << "a later record keeps the rating";
    EXPECT_EQ(records[0].timeToDiagnosisMS, 30);

    DiagnosisTelemetryStore ratingsOnly(directory() / "ratings.json");
    ratingsOnly.apply({Rating{a.id, true, t(1)}}, t(1));
    EXPECT_FALSE(fs::exists(ratingsOnly.fileURL())) << "nothing to rate, nothing written";
}

TEST_F(RecordStores, TelemetryKeepsTheNewestFiveThousandRecords)
{
    DiagnosisTelemetryStore store(directory() / "telemetry.json");
    std::vector<DiagnosisTelemetryStore::Change> changes;
    std::vector<Uuid> ids;
    for (int i = 0; i < 5001; ++i) {
        // Recorded out of order: the newest are kept, not the last written.
        const double at = (i * 7919) % 5001;
        const AppEvent event = test::fullEvent("App", test::sampleTime(at));
        changes.push_back(DiagnosisTelemetryStore::makeRecord(event, 1, test::sampleTime(at)));
        ids.push_back(event.id);
    }
    store.apply(changes, test::sampleTime(6000));
    auto records = store.load();
    ASSERT_EQ(records.size(), 5000u);
    EXPECT_EQ(records.front().recordedAt, test::sampleTime(5000));
    EXPECT_EQ(records.back().recordedAt, test::sampleTime(1));

    // One more: the oldest kept goes.
    const AppEvent newest = test::fullEvent("App", test::sampleTime(7000));
    store.record(newest, 1, test::sampleTime(7000));
    records = store.load();
    ASSERT_EQ(records.size(), 5000u);
    EXPECT_EQ(records.front().eventID, newest.id);
    EXPECT_EQ(records.back().recordedAt, test::sampleTime(2));
}

// The store keeps what it wrote between changes; a file changed by anyone else is read again.
TEST_F(RecordStores, TelemetryWrittenByAnotherIsReadAgain)
{
    const AppEvent a = test::fullEvent("A", test::sampleTime(1));
    const AppEvent b = test::fullEvent("B", test::sampleTime(2));
    const AppEvent c = test::fullEvent("C", test::sampleTime(3));
    DiagnosisTelemetryStore store(directory() / "telemetry.json");
    store.record(a, 10, test::sampleTime(1));
    store.updateFeedback(a.id, true, test::sampleTime(1.5));
    DiagnosisTelemetryStore(store.fileURL()).record(b, 20, test::sampleTime(2));
    store.record(c, 30, test::sampleTime(3));

    const auto records = store.load();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].eventID, b.id);
    EXPECT_EQ(records[2].helpful, true);
    Json array = Json::array();
    for (const auto& record : records) {
        array.push_back(encode(record));
    }
    EXPECT_EQ(records::readFile(store.fileURL()).value(), core::json::dumpCompact(array));
}

TEST_F(RecordStores, CorruptTelemetryIsKeptAsideAndReplaced)
{
    const fs::path file = directory() / "telemetry.json";
    std::ofstream(file) << "{not json";
    DiagnosisTelemetryStore telemetry(file);
    EXPECT_TRUE(telemetry.load(core::dateFromSecondsSince1970(1772374509.0)).empty());
    EXPECT_EQ(records::readFile(directory() / "telemetry.json.unreadable-20260301T141509Z").value(),
              "{not json");

    telemetry.record(test::fullEvent("Sketch", test::sampleTime()), 10, test::sampleTime(1));
    EXPECT_EQ(telemetry.load().size(), 1u);
}

TEST_F(RecordStores, DuplicateTelemetryRecordsDoNotFailTheRead)
{
    const AppEvent event = test::fullEvent("Sketch", test::sampleTime());
    DiagnosisTelemetryRecord older{
        event.id, "Sketch",     core::DominantCause::unknown, core::Confidence::low, {},
        1,        std::nullopt, test::sampleTime(1),          std::nullopt};
    DiagnosisTelemetryRecord newer = older;
    newer.recordedAt = test::sampleTime(2);
    std::ofstream(directory() / "telemetry.json") << Json::array({encode(older), encode(newer)}).dump();
    const auto records = DiagnosisTelemetryStore(directory() / "telemetry.json").load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].recordedAt, test::sampleTime(2));
}

TEST_F(RecordStores, AnalyticsLineHasSortedKeysAndIsoSeconds)
{
    ProductAnalyticsStore analytics(directory());
    analytics.record(ProductAnalyticsEventName::onboardingViewed, {},
                     core::dateFromSecondsSince1970(1772373909.987));

    const std::string text = records::readFile(analytics.fileURL()).value();
    const auto lines = records::readJsonLines(analytics.fileURL(),
                                              [](const Json& j) { return decodeProductAnalyticsEvent(j); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(text, "{\"attributes\":{},\"id\":\"" + lines[0].id.toString()
                        + "\",\"name\":\"onboarding_viewed\",\"recordedAt\":\"2026-03-01T14:05:09Z\"}\n");

    struct stat info = {};
    ASSERT_EQ(::stat(analytics.fileURL().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(RecordStores, AnalyticsAttributesAreTrimmed)
{
    ProductAnalyticsStore analytics(directory());
    analytics.record(ProductAnalyticsEventName::actionCopied,
                     {{" action ", "  copy_fix\n"}, {"   ", "dropped"}, {"empty", "  "}}, test::sampleTime());
    const auto lines = records::readJsonLines(analytics.fileURL(),
                                              [](const Json& j) { return decodeProductAnalyticsEvent(j); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, ProductAnalyticsEventName::actionCopied);
    EXPECT_EQ(lines[0].attributes,
              (std::map<std::string, std::string>{{"action", "copy_fix"}, {"empty", ""}}));
}

} // namespace
} // namespace exitwise::app
