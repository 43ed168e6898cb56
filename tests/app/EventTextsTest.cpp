// SPDX-License-Identifier: MIT
#include "app/ConfidenceSummary.h"
#include "app/DurationText.h"
#include "app/ReportTexts.h"
#include "support/Files.h"
#include "support/SampleEvents.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

using core::Confidence;

// The detail view's golden cards hold the summaries of no signals, of correlated and context
// signals, and of direct ones alone; these are the rest: one signal, and each class counted.
TEST(ConfidenceSummaryText, CountsEachEvidenceClass)
{
    const core::Signal termination = core::TerminationSignal{
        test::sampleTime(), core::TerminationReason::killed, std::nullopt, std::nullopt};
    const core::Signal log = core::UnifiedLogSignal{test::sampleTime(), std::string("kernel"), "low memory"};
    const core::Signal launchd =
        core::LaunchdSignal{test::sampleTime(), std::nullopt, "exited", std::nullopt};
    const core::Signal jetsam = core::JetsamSignal{test::sampleTime(), "memorystatus",
                                                   core::MemoryPressureEvidence::directTermination};
    const core::Diagnosis four =
        test::sampleDiagnosis(test::sampleTime(), Confidence::low, {log, termination, jetsam, launchd});
    EXPECT_EQ(confidenceSummary(four),
              (ConfidenceSummary{"Confidence is low based on 4 signals.",
                                 {"2 direct OS-level signals", "2 inferred/context signals"},
                                 "Evidence is limited. Treat this as the best current hypothesis and verify "
                                 "with additional logs."}));
    const core::Diagnosis one = test::sampleDiagnosis(test::sampleTime(), Confidence::medium, {termination});
    EXPECT_EQ(confidenceSummary(one),
              (ConfidenceSummary{"Confidence is medium based on 1 signal.",
                                 {"1 direct OS-level signal"},
                                 "Strong evidence exists, but alternate causes are still possible."}));
}

TEST(DurationTexts, DetailAndNotificationFormats)
{
    // clang-format off
    const std::tuple<double, const char*, const char*> cases[] = {
        {0,    "0s",     "0 seconds"},
        {-5,   "0s",     "0 seconds"},
        {1,    "1s",     "1 seconds"},
        {59.4, "59s",    "59 seconds"},
        {59.5, "1m",     "1 minutes"},
        {61,   "1m 1s",  "1m 1s"},
        {3600, "60m",    "60 minutes"},
        {std::numeric_limits<double>::quiet_NaN(), "0s", "0 seconds"},
    };
    // clang-format on
    for (const auto& [seconds, detail, notification] : cases) {
        EXPECT_EQ(detailDurationText(seconds), detail) << seconds;
        EXPECT_EQ(notificationDurationText(seconds), notification) << seconds;
    }
}

// The incident summary keeps the card's embedded line feeds; the report is a fixed template.
TEST(ReportTexts, CopiedTextsAreTheirTemplates)
{
    AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.id = *Uuid::parse("0e4cbd8a-1f5b-4c1e-8b7a-2d3c4e5f6a7b");
    EXPECT_EQ(wrongDiagnosisReport(event, "19:33:20") + "\n",
              test::readFile(EXITWISE_TEST_DATA_DIR "/texts/wrong-diagnosis-report.txt"));
    event.diagnosis.explanation = {"It crashed.\nTwice.", "Bad pointer.", "Update it.\nThen reopen.", {}, {}};
    EXPECT_EQ(incidentSummary(event, "7:33:20 PM") + "\n",
              test::readFile(EXITWISE_TEST_DATA_DIR "/texts/incident-summary.txt"));
}

} // namespace
} // namespace exitwise::app
