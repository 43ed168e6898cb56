// SPDX-License-Identifier: MIT
#include "app/AppEvent.h"

#include "app/DiagnosisHash.h"
#include "support/SampleEvents.h"

#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

using core::json::Json;

Json roundTripText(const Json& value)
{
    return core::json::parse(core::json::dumpCompact(value));
}

TEST(AppEventJson, AbsentOptionalsLeaveExactlyTheFourRequiredKeys)
{
    const AppEvent minimal = test::minimalEvent("Notes", test::sampleTime());
    const Json object = encode(minimal);
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"appName", "diagnosis", "id", "terminatedAt"}));
    EXPECT_EQ(decodeAppEvent(object), minimal) << "missing optionals decode as absent";
}

TEST(AppEventJson, EveryFieldSurvivesARoundTrip)
{
    AppEvent event = test::fullEvent("Sketch Pad", test::sampleTime());
    event.diagnosisChanged = true;
    event.previousDominantCause = core::DominantCause::unknown;
    event.previousEndState = core::EndState::cleanExit;
    event.previousConfidence = core::Confidence::low;
    event.feedback = FeedbackRating::unhelpful;

    const Json object = encode(event);
    EXPECT_EQ(object["id"], event.id.toString());
    EXPECT_EQ(object["terminatedAt"], 794000000.0); // seconds since 2001
    EXPECT_EQ(object["pid"], 812);
    EXPECT_EQ(object["feedback"], "unhelpful");
    EXPECT_EQ(decodeAppEvent(roundTripText(object)), event);
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
        {"pid as text",      [](Json& j) { j["pid"] = "812"; }, "pid"},
        {"pid too large",    [](Json& j) { j["pid"] = 4294967296LL; }, "pid"},
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
