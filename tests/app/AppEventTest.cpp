// SPDX-License-Identifier: MIT
#include "app/AppEvent.h"

#include "app/DiagnosisHash.h"
#include "support/Files.h"
#include "support/SampleEvents.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

using core::json::Json;

// The sample file holds an event with every field and one with only the four required keys:
// decoded and encoded again, each is unchanged but for the identifier's case.
TEST(AppEventJson, EveryFieldAndOnlyTheFieldsGivenSurviveARoundTrip)
{
    const Json file = core::json::parse(test::readFile(EXITWISE_TEST_DATA_DIR "/events/events.json"));
    ASSERT_EQ(file.size(), 2u);
    for (Json stored : file) {
        const AppEvent event = decodeAppEvent(stored);
        stored["id"] = event.id.toString();
        EXPECT_EQ(encode(event), stored);
        EXPECT_EQ(decodeAppEvent(core::json::parse(core::json::dumpCompact(encode(event)))), event);
    }
    const AppEvent full = decodeAppEvent(file[0]);
    EXPECT_EQ(full.terminatedAt, core::dateFromReferenceSeconds(794000000.123)); // seconds since 2001
    EXPECT_EQ(full.feedback, FeedbackRating::helpful);
}

TEST(AppEventJson, DecodingFollowsTheRequiredAndOptionalRules)
{
    const Json base = encode(test::fullEvent("Sketch Pad", test::sampleTime()));
    struct Case
    {
        const char* name;
        std::function<void(Json&)> change;
        const char* failurePath; // nullptr: decodes
    };
    const char* inside = "diagnosis.dominantCause";
    // clang-format off
    const Case cases[] = {
        {"no diagnosis",     [](Json& j) { j.erase("diagnosis"); }, ""},
        {"null optional",    [](Json& j) { j["bundleIdentifier"] = nullptr; }, nullptr},
        {"feedback helpful", [](Json& j) { j["feedback"] = "helpful"; }, nullptr},
        {"feedback Helpful", [](Json& j) { j["feedback"] = "Helpful"; }, "feedback"},
        {"braced id",        [](Json& j) { j["id"] = "{0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B}"; }, "id"},
        {"bad cause",        [](Json& j) { j["diagnosis"]["dominantCause"] = "Crash"; }, inside},
        {"unknown key",      [](Json& j) { j["futureField"] = 1; }, nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        Json value = base;
        c.change(value);
        if (c.failurePath == nullptr) {
            EXPECT_NO_THROW(static_cast<void>(decodeAppEvent(value))) << c.name;
            continue;
        }
        try {
            static_cast<void>(decodeAppEvent(value));
            ADD_FAILURE() << c.name << " decoded";
        } catch (const core::json::DecodeError& error) {
            EXPECT_EQ(error.path(), c.failurePath) << c.name << ": " << error.what();
        }
    }
}

TEST(Uuid, ParsesTheCanonicalFormInEitherCaseOnly)
{
    const auto upper = Uuid::parse("0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B");
    ASSERT_TRUE(upper);
    EXPECT_EQ(Uuid::parse("0e4cbd8a-1f5b-4c1e-8b7a-2d3c4e5f6a7b"), upper);
    EXPECT_EQ(upper->toString(), "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B");
    for (const char* bad : {"", "0E4CBD8A1F5B4C1E8B7A2D3C4E5F6A7B", "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7",
                            "0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7BC", "0E4CBD8A-1F5B-4C1E-8B7A_2D3C4E5F6A7B",
                            "0G4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B", "0E4CBD8A--F5B-4C1E-8B7A-2D3C4E5F6A7B"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
    const Uuid a = Uuid::random();
    EXPECT_NE(a, Uuid::random());
    EXPECT_EQ(Uuid::parse(a.toString()), a);
}

TEST(DiagnosisHash, HashesTheVerdictOnly)
{
    core::Diagnosis d = test::sampleDiagnosis(test::sampleTime());
    EXPECT_EQ(diagnosisHash(d), "5af0e187e7eb05a033b6d7995dd3fce50ebb35a3088dbfc88e233a0b2d8d0d61");

    core::Diagnosis otherEvidence = d;
    otherEvidence.signalsUsed.push_back(core::WatchdogSignal{test::sampleTime(), "hung"});
    otherEvidence.explanation.why = "Different words.";
    EXPECT_EQ(diagnosisHash(otherEvidence), diagnosisHash(d));

    core::Diagnosis medium = d;
    medium.confidence = core::Confidence::medium;
    EXPECT_NE(diagnosisHash(medium), diagnosisHash(d));
}

} // namespace
} // namespace exitwise::app
