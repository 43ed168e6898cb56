// SPDX-License-Identifier: MIT
#include "core/RecordJson.h"

#include <gtest/gtest.h>
#include <set>

namespace exitwise::core::json {
namespace {

const Date t = dateFromReferenceSeconds(786299990.25);

std::vector<Signal> oneOfEach()
{
    return {
        TerminationSignal{t, TerminationReason::killed, "SIGKILL", QuitAttribution::shutdown},
        CrashReportSignal{t, "/var/crash/a.crash", "EXC_CRASH (SIGABRT)", "Namespace SIGNAL", "Abort trap: 6",
                          "Library not loaded", DyldFailureKind::missingLibrary, true, false, true},
        PolicySignal{t, PolicyBlockKind::quarantine, "quarantine blocked"},
        DyldSignal{t, DyldFailureKind::wrongArchitecture, "incompatible architecture"},
        JetsamSignal{t, "memorystatus", MemoryPressureEvidence::directTermination},
        WatchdogSignal{t, "watchdog timeout"},
        LaunchdSignal{t, "com.example.helper", "exited 3 times", 3},
        UnifiedLogSignal{t, "kernel", "line"},
    };
}

std::set<std::string> keysOf(const Json& object)
{
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.insert(key);
    }
    return keys;
}

std::string decodeFailure(const std::function<void()>& decode)
{
    try {
        decode();
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "<decoded>";
}

TEST(SignalJson, EveryAlternativeRoundTripsThroughText)
{
    for (const Signal& signal : oneOfEach()) {
        const Json encoded = encode(signal);
        EXPECT_EQ(keysOf(encoded), (std::set<std::string>{"type", "payload"}));
        EXPECT_EQ(encoded["type"], std::string(rawValue(signal.type())));
        const Signal decoded = decodeSignal(parse(dumpCompact(encoded)));
        EXPECT_EQ(decoded, signal) << encoded.dump();
    }
}

TEST(SignalJson, OptionalFieldsAreOmittedAndNullMeansAbsent)
{
    const Json payload = encode(Signal(LaunchdSignal{t, std::nullopt, "exited", std::nullopt}))["payload"];
    EXPECT_EQ(keysOf(payload), (std::set<std::string>{"timestamp", "message"}));

    const Json withNulls = parse(R"({"type":"launchd","extra":1,
        "payload":{"timestamp":1.5,"message":"m","serviceName":null,"exitCount":null,"unknown":"x"}})");
    EXPECT_EQ(decodeSignal(withNulls), Signal(LaunchdSignal{dateFromReferenceSeconds(1.5), {}, "m", {}}));
}

TEST(SignalJson, DatesFollowTheChosenEncoding)
{
    const Signal signal = WatchdogSignal{dateFromSecondsSince1970(1700000000.5), "w"};
    EXPECT_EQ(encode(signal)["payload"]["timestamp"].get<double>(), 1700000000.5 - kReferenceDateOffset);
    const Options unix{DateEncoding::SecondsSince1970};
    EXPECT_EQ(encode(signal, unix)["payload"]["timestamp"].get<double>(), 1700000000.5);
    EXPECT_EQ(decodeSignal(encode(signal, unix), unix), signal);
}

TEST(SignalJson, DatesSurviveRepeatedLoadAndSave)
{
    Json value = parse(R"({"type":"watchdog","payload":{"timestamp":794000000.123,"message":"m"}})");
    for (int i = 0; i < 3; ++i) {
        value = encode(decodeSignal(value));
    }
    EXPECT_EQ(dumpCompact(value["payload"]["timestamp"]), "794000000.123");
}

TEST(SignalJson, StrictDecodingNamesTheFailure)
{
    struct Case
    {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {R"({"type":"crashReport","payload":{"timestamp":1,"suspectedDyldFailure":false,"suspectedJetsamMemory":false}})",
         R"(payload: missing key "suspectedWatchdogHang")"},
        {R"({"type":"crash","payload":{}})", R"(type: unknown value "crash")"},
        {R"({"payload":{}})", R"(missing key "type")"},
        {R"({"type":"watchdog","payload":null})", "payload: expected a value, found null"},
        {R"({"type":"watchdog","payload":{"timestamp":"yesterday","message":"m"}})",
         "payload.timestamp: expected a number, found a string"},
        {R"({"type":"termination","payload":{"timestamp":1,"reason":"Killed"}})",
         R"(payload.reason: unknown value "Killed")"},
        {R"({"type":"termination","payload":{"timestamp":1,"reason":"quit","quitAttribution":"userRequest"}})",
         R"(payload.quitAttribution: unknown value "userRequest")"},
        {R"({"type":"launchd","payload":{"timestamp":1,"message":"m","exitCount":2.5}})",
         "payload.exitCount: expected an integer, found a fractional number"},
        {R"({"type":"crashReport","payload":{"timestamp":1,"suspectedDyldFailure":0,"suspectedJetsamMemory":false,"suspectedWatchdogHang":false}})",
         "payload.suspectedDyldFailure: expected a boolean, found a number"},
        {R"([1])", "expected an object, found an array"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeFailure([&] { (void)decodeSignal(parse(c.json)); }), c.error) << c.json;
    }
}

TEST(EventContextJson, RoundTripAndWindowDefault)
{
    const EventContext full = contextAround({.appName = "Sketch Pad",
                                             .bundleIdentifier = "com.example.sketch",
                                             .pid = 812,
                                             .launchedAt = t - Seconds(60),
                                             .terminatedAt = t,
                                             .terminationReason = TerminationReason::quit,
                                             .terminationRawValue = "quit",
                                             .terminationQuitAttribution = QuitAttribution::logout},
                                            180.0);
    EXPECT_EQ(decodeEventContext(encode(full)), full);
    EXPECT_EQ(keysOf(encode(full)).size(), 9u);

    const Json minimal = parse(R"({"appName":"A","terminatedAt":10,"terminationReason":"unknown","pid":-3})");
    EXPECT_EQ(decodeFailure([&] { (void)decodeEventContext(minimal); }), R"(missing key "window")");
    const EventContext built = decodeEventContext(minimal, {}, [](Date at) {
        return TimestampWindow{at - Seconds(180), at + Seconds(180)};
    });
    EXPECT_EQ(built.pid, -3);
    EXPECT_EQ(built.window.end, dateFromReferenceSeconds(190));
    EXPECT_EQ(keysOf(encode(built)),
              (std::set<std::string>{"appName", "pid", "terminatedAt", "terminationReason", "window"}));

    EXPECT_EQ(
        decodeFailure([] {
            (void)decodeEventContext(parse(
                R"({"appName":"A","terminatedAt":10,"terminationReason":"quit","pid":4294967296,"window":{"start":1,"end":2}})"));
        }),
        "pid: integer out of range");
}

// Records that require the reason write an unreported one as "unknown"; the stored event
// leaves it out, so an event saved without one stays without one.
TEST(TerminationFactsJson, TheReasonIsWrittenOnlyWhereRequired)
{
    const TerminationFacts facts{.appName = "A", .appPath = "/usr/bin/a", .terminatedAt = t};
    Json required = Json::object();
    encodeFacts(required, facts, {}, ReasonKey::required);
    EXPECT_EQ(
        dumpCompact(required),
        R"({"appName":"A","appPath":"/usr/bin/a","terminatedAt":786299990.25,"terminationReason":"unknown"})");
    Json optional = Json::object();
    encodeFacts(optional, facts, {}, ReasonKey::optional);
    EXPECT_EQ(keysOf(optional), (std::set<std::string>{"appName", "appPath", "terminatedAt"}));
    EXPECT_EQ(decodeFacts(ObjectReader(optional), {}, ReasonKey::optional), facts);
    EXPECT_EQ(decodeFailure([&] { (void)decodeFacts(ObjectReader(optional), {}, ReasonKey::required); }),
              R"(missing key "terminationReason")");
}

ExplanationCard card(std::vector<std::string> alternatives, std::optional<std::string> note)
{
    return ExplanationCard{"What", "Why", "Do", std::move(alternatives), std::move(note)};
}

TEST(ExplanationCardJson, AlternativesAndNoteAreOmittedWhenEmpty)
{
    EXPECT_EQ(keysOf(encode(card({}, std::nullopt))),
              (std::set<std::string>{"whatHappened", "why", "whatToDo"}));

    const ExplanationCard fromMinimal =
        decodeExplanationCard(parse(R"({"whatHappened":"a","why":"b","whatToDo":"c"})"));
    EXPECT_TRUE(fromMinimal.alternatives.empty());
    EXPECT_FALSE(fromMinimal.confidenceNote.has_value());
    EXPECT_EQ(keysOf(encode(fromMinimal)).size(), 3u);

    const ExplanationCard full = card({"second", "first"}, "careful");
    EXPECT_EQ(decodeExplanationCard(encode(full)), full);
    EXPECT_EQ(
        decodeExplanationCard(parse(R"({"whatHappened":"a","why":"b","whatToDo":"c","alternatives":null})"))
            .alternatives.size(),
        0u);
    EXPECT_EQ(decodeFailure([] {
                  (void)decodeExplanationCard(
                      parse(R"({"whatHappened":"a","why":"b","whatToDo":"c","alternatives":["x",2]})"));
              }),
              "alternatives[1]: expected a string, found a number");
}

Diagnosis sampleDiagnosis()
{
    return Diagnosis{EndState::killed,
                     DominantCause::killedJetsamMemory,
                     Confidence::medium,
                     oneOfEach(),
                     TimestampWindow{t - Seconds(180), t + Seconds(180)},
                     card({"a", "b"}, std::nullopt)};
}

TEST(DiagnosisJson, FullRoundTrip)
{
    const Diagnosis diagnosis = sampleDiagnosis();
    const Json encoded = encode(diagnosis);
    EXPECT_EQ(keysOf(encoded), (std::set<std::string>{"endState", "dominantCause", "confidence",
                                                      "signalsUsed", "window", "explanation"}));
    EXPECT_EQ(encoded["endState"], "Killed");
    EXPECT_EQ(encoded["dominantCause"], "Killed: memory pressure");
    EXPECT_EQ(encoded["confidence"], "Medium");
    EXPECT_EQ(decodeDiagnosis(parse(dumpPretty(encoded))), diagnosis);

    Diagnosis empty = diagnosis;
    empty.signalsUsed.clear();
    EXPECT_EQ(encode(empty)["signalsUsed"], Json::array());
    EXPECT_EQ(decodeDiagnosis(encode(empty)), empty);
}

TEST(DiagnosisJson, StrictnessAndErrorPaths)
{
    Json missingWindow = encode(sampleDiagnosis());
    missingWindow.erase("window");
    EXPECT_EQ(decodeFailure([&] { (void)decodeDiagnosis(missingWindow); }), R"(missing key "window")");

    Json badSignal = encode(sampleDiagnosis());
    badSignal["signalsUsed"][1]["payload"].erase("suspectedWatchdogHang");
    EXPECT_EQ(decodeFailure([&] { (void)decodeDiagnosis(badSignal); }),
              R"(signalsUsed[1].payload: missing key "suspectedWatchdogHang")");

    EXPECT_EQ(decodeFailure([] { (void)parse("{\"endState\": "); }).rfind("invalid JSON at byte", 0), 0u);
}

TEST(JsonDump, InvalidUtf8IsReplacedNotThrown)
{
    const Json value = Signal(UnifiedLogSignal{t, "p", std::string("bad \xff byte")}).summary();
    const std::string text = dumpCompact(value);
    EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos);
}

// Numbers written without building a value read exactly as the serializer writes them.
TEST(JsonDump, NumbersAsTheSerializerWritesThem)
{
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {794000000.5, "794000000.5"}, {794000000.0, "794000000.0"}, {-0.25, "-0.25"}, {0.0, "0.0"},
        {-0.0, "-0.0"}, {0.1, "0.1"}, {1e14, "100000000000000.0"}, {1e15, "1e+15"}, {1e16, "1e+16"},
        {1.5e16, "1.5e+16"}, {123456789012345.6, "123456789012345.6"}, {0.0001, "0.0001"},
        {0.00012, "0.00012"}, {1e-5, "1e-05"}, {-1.25e-7, "-1.25e-07"}, {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"}, {-1234.000001, "-1234.000001"},
        {1e100, "1e+100"},
    };
    // clang-format on
    for (const auto& [value, text] : cases) {
        std::string written;
        appendNumber(written, value);
        EXPECT_EQ(written, text) << value;
        EXPECT_EQ(dumpCompact(Json(value)), text) << value;
    }
}

} // namespace
} // namespace exitwise::core::json
