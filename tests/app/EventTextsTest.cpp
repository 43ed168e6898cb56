// SPDX-License-Identifier: MIT
#include "app/ConfidenceSummary.h"
#include "app/DurationText.h"
#include "app/ReportTexts.h"
#include "support/SampleEvents.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

using core::Confidence;
using core::MemoryPressureEvidence;

core::Signal jetsam(MemoryPressureEvidence evidence)
{
    return core::JetsamSignal{test::sampleTime(), "memorystatus", evidence};
}

TEST(ConfidenceSummaryText, CountsEachEvidenceClass)
{
    const core::Signal termination = core::TerminationSignal{
        test::sampleTime(), core::TerminationReason::killed, std::nullopt, std::nullopt};
    const core::Signal log = core::UnifiedLogSignal{test::sampleTime(), std::string("kernel"), "low memory"};
    const core::Signal launchd =
        core::LaunchdSignal{test::sampleTime(), std::nullopt, "exited", std::nullopt};
    struct Case
    {
        std::vector<core::Signal> signals;
        Confidence confidence;
        ConfidenceSummary expected;
    };
    const Case cases[] = {
        {{},
         Confidence::high,
         {"Confidence is high based on 0 signals.",
          {"No supporting signals were captured for this event."},
          std::nullopt}},
        {{jetsam(MemoryPressureEvidence::correlatedPressure), log},
         Confidence::medium,
         {"Confidence is medium based on 2 signals.",
          {"1 correlated evidence signal", "1 inferred/context signal"},
          "Strong evidence exists, but alternate causes are still possible."}},
        {{log, termination, jetsam(MemoryPressureEvidence::directTermination), launchd},
         Confidence::low,
         {"Confidence is low based on 4 signals.",
          {"2 direct OS-level signals", "2 inferred/context signals"},
          "Evidence is limited. Treat this as the best current hypothesis and verify with additional logs."}},
        {{termination},
         Confidence::medium,
         {"Confidence is medium based on 1 signal.",
          {"1 direct OS-level signal"},
          "Strong evidence exists, but alternate causes are still possible."}},
    };
    for (const Case& c : cases) {
        const core::Diagnosis d = test::sampleDiagnosis(test::sampleTime(), c.confidence, c.signals);
        EXPECT_EQ(confidenceSummary(d), c.expected) << c.expected.headline;
    }
}

TEST(DurationTexts, DetailAndNotificationFormats)
{
    struct Case
    {
        double seconds;
        const char* detail;
        const char* notification;
    };
    // clang-format off
    const Case cases[] = {
        {0,    "0s",     "0 seconds"},
        {-5,   "0s",     "0 seconds"},
        {1,    "1s",     "1 seconds"},
        {59.4, "59s",    "59 seconds"},
        {59.5, "1m",     "1 minutes"},
        {60,   "1m",     "1 minutes"},
        {61,   "1m 1s",  "1m 1s"},
        {725,  "12m 5s", "12m 5s"},
        {3600, "60m",    "60 minutes"},
        {std::numeric_limits<double>::quiet_NaN(), "0s", "0 seconds"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(detailDurationText(c.seconds), c.detail) << c.seconds;
        EXPECT_EQ(notificationDurationText(c.seconds), c.notification) << c.seconds;
    }
}

TEST(ReportTexts, IncidentSummaryHasNineLinesAndKeepsEmbeddedLineFeeds)
{
    AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosis.explanation = {"It crashed.\nTwice.", "Bad pointer.", "Update it.\nThen reopen.", {}, {}};
    EXPECT_EQ(incidentSummary(event, "7:33:20 PM"), "Exitwise Incident Summary\n"
                                                    "App: Sketch Pad\n"
                                                    "Closed at: 7:33:20 PM\n"
                                                    "End state: Crash\n"
                                                    "Likely cause: Crashed: app bug\n"
                                                    "Confidence: High\n"
                                                    "What happened: It crashed.\nTwice.\n"
                                                    "Why: Bad pointer.\n"
                                                    "Recommended action: Update it.\nThen reopen.");
}

TEST(ReportTexts, WrongDiagnosisReportIsTheEighteenLineTemplate)
{
    AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.id = *Uuid::parse("0e4cbd8a-1f5b-4c1e-8b7a-2d3c4e5f6a7b");
    EXPECT_EQ(wrongDiagnosisReport(event, "19:33:20"), "Exitwise Wrong-Diagnosis Report\n"
                                                       "Event ID: 0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B\n"
                                                       "App: Sketch Pad\n"
                                                       "Closed at: 19:33:20\n"
                                                       "Current diagnosis: Crashed: app bug\n"
                                                       "Confidence: High\n"
                                                       "Exitwise explanation: A crash report was found.\n"
                                                       "\n"
                                                       "What you expected instead:\n"
                                                       "- \n"
                                                       "\n"
                                                       "What actually happened:\n"
                                                       "- \n"
                                                       "\n"
                                                       "Optional evidence (safe to share):\n"
                                                       "- crash report filename or snippet\n"
                                                       "- exported event JSON/CSV row\n"
                                                       "- steps to reproduce");
}

} // namespace
} // namespace exitwise::app
