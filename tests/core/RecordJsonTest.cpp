// SPDX-License-Identifier: MIT
#include "core/RecordJson.h"

#include "support/CorePrinters.h"
#include "support/Files.h"
#include "support/SampleContexts.h"

#include <gtest/gtest.h>

namespace exitwise::core::json {
namespace {

using Decoder = std::function<void(const Json&)>;

const Date t = dateFromReferenceSeconds(786299990.25);
const TimestampWindow window{t - Seconds(180), t + Seconds(180)};

std::string data(const std::string& name)
{
    return test::readFile(std::string(EXITWISE_TEST_DATA_DIR) + "/" + name);
}

// Whatever the text, only a DecodeError comes out: every reader of a record file catches just
// that one. A value that is only one this version does not know is marked as such.
std::string failureOf(std::string_view text, const Decoder& decode)
{
    try {
        decode(parse(text));
    } catch (const DecodeError& error) {
        return error.what() + std::string(error.isUnknownValue() ? " (unknown)" : "");
    }
    return "<decoded>";
}

const Decoder signal = [](const Json& value) { (void)decodeSignal(value); };
const Decoder none = [](const Json&) {};

// Every field of every record set, then every optional left out: the sample file holds them
// exactly as the record files write them, and reading it gives the same values back.
TEST(RecordJson, SampleRecordsAreWrittenAndReadExactly)
{
    EventContext context = test::sketchPadContext(t, TerminationReason::quit);
    context.appPath = "/usr/bin/sketch";
    context.launchedAt = t - Seconds(60);
    context.terminationRawValue = "quit";
    context.terminationQuitAttribution = QuitAttribution::logout;
    const std::vector<Signal> signals = {
        TerminationSignal{t, TerminationReason::killed, "SIGKILL", QuitAttribution::shutdown},
        CrashReportSignal{t, "/var/crash/a.crash", "EXC_CRASH (SIGABRT)", "Namespace SIGNAL", "Abort trap: 6",
                          "Library not loaded", DyldFailureKind::missingLibrary, true, false, true},
        PolicySignal{t, PolicyBlockKind::quarantine, "quarantine blocked"},
        DyldSignal{t, DyldFailureKind::wrongArchitecture, "incompatible architecture"},
        JetsamSignal{t, "memorystatus", MemoryPressureEvidence::directTermination},
        WatchdogSignal{t, "watchdog timeout"},
        LaunchdSignal{t, "com.example.helper", "exited 3 times", 3},
        UnifiedLogSignal{t, "kernel", "line"},
        TerminationSignal{t, TerminationReason::unknown, std::nullopt, std::nullopt},
        CrashReportSignal{t, {}, {}, {}, {}, {}, {}, false, true, false},
        LaunchdSignal{t, std::nullopt, "exited", std::nullopt},
        UnifiedLogSignal{t, std::nullopt, "line"},
    };
    const Diagnosis full{EndState::killed,
                         DominantCause::killedJetsamMemory,
                         Confidence::medium,
                         signals,
                         window,
                         {"What", "Why", "Do", {"second", "first"}, "careful"}};
    const Diagnosis minimal{EndState::crash, DominantCause::crashBug, Confidence::high, {},
                            window,          {"a", "b", "c", {}, {}}};

    const Json samples = {{"context", encode(context)}, {"full", encode(full)}, {"minimal", encode(minimal)}};
    const std::string text = data("records/samples.json");
    EXPECT_EQ(dumpPretty(samples) + '\n', text);
    const Json read = parse(text);
    EXPECT_EQ(decodeEventContext(read.at("context")), context);
    EXPECT_EQ(decodeDiagnosis(read.at("full")), full);
    EXPECT_EQ(decodeDiagnosis(read.at("minimal")), minimal);
}

TEST(RecordJson, NullMeansAbsentAndUnknownKeysAreIgnored)
{
    EXPECT_EQ(decodeSignal(parse(R"({"type":"launchd","extra":1,
        "payload":{"timestamp":1.5,"message":"m","serviceName":null,"exitCount":null,"unknown":"x"}})")),
              Signal(LaunchdSignal{dateFromReferenceSeconds(1.5), {}, "m", {}}));
    EXPECT_EQ(
        decodeExplanationCard(parse(R"({"whatHappened":"a","why":"b","whatToDo":"c","alternatives":null})")),
        (ExplanationCard{"a", "b", "c", {}, {}}));
}

TEST(SignalJson, DatesFollowTheChosenEncoding)
{
    const Signal signal = WatchdogSignal{dateFromSecondsSince1970(1700000000.5), "w"};
    const Options unix{DateEncoding::SecondsSince1970};
    EXPECT_EQ(encode(signal, unix)["payload"]["timestamp"].get<double>(), 1700000000.5);
    EXPECT_EQ(decodeSignal(encode(signal, unix), unix), signal);
}

TEST(RecordJson, DecodingNamesTheFailure)
{
    const Decoder diagnosis = [](const Json& value) { (void)decodeDiagnosis(value); };
    const Decoder card = [](const Json& value) { (void)decodeExplanationCard(value); };
    const Decoder context = [](const Json& value) { (void)decodeEventContext(value); };
    const auto changed = [](std::string_view from, std::string_view to) {
        std::string text = R"({"endState":"Crash","dominantCause":"Crashed: app bug","confidence":"High",)"
                           R"("signalsUsed":[],"window":{"start":1,"end":2},)"
                           R"("explanation":{"whatHappened":"a","why":"b","whatToDo":"c"}})";
        return text.replace(text.find(from), from.size(), to);
    };
    const auto watchdogAt = [](const std::string& timestamp) {
        return R"({"type":"watchdog","payload":{"timestamp":)" + timestamp + R"(,"message":"m"}})";
    };
    const std::string outOfRange = "invalid JSON: number out of range";
    // clang-format off
    const std::tuple<std::string, Decoder, std::string> cases[] = {
        {R"({"type":"crashReport","payload":{"timestamp":1,"suspectedDyldFailure":false,"suspectedJetsamMemory":false}})", signal, R"(payload: missing key "suspectedWatchdogHang")"},
        {R"({"type":"crash","payload":{}})", signal, R"(type: unknown value "crash" (unknown))"},
        {R"({"payload":{}})", signal, R"(missing key "type")"},
        {R"({"type":"watchdog","payload":null})", signal, "payload: expected a value, found null"},
        {watchdogAt(R"("yesterday")"), signal, "payload.timestamp: expected a number, found a string"},
        {R"({"type":"termination","payload":{"timestamp":1,"reason":"Killed"}})", signal, R"(payload.reason: unknown value "Killed" (unknown))"},
        {R"({"type":"termination","payload":{"timestamp":1,"reason":"quit","quitAttribution":"userRequest"}})", signal, R"(payload.quitAttribution: unknown value "userRequest" (unknown))"},
        {R"({"type":"launchd","payload":{"timestamp":1,"message":"m","exitCount":2.5}})", signal, "payload.exitCount: expected an integer, found a fractional number"},
        {R"({"type":"crashReport","payload":{"timestamp":1,"suspectedDyldFailure":0,"suspectedJetsamMemory":false,"suspectedWatchdogHang":false}})", signal, "payload.suspectedDyldFailure: expected a boolean, found a number"},
        {"[1]", signal, "expected an object, found an array"},
        {changed("Crashed: app bug", "Killed: cosmic ray"), diagnosis, R"(dominantCause: unknown value "Killed: cosmic ray" (unknown))"},
        {changed("[]", R"([{"type":"gpuReset","payload":{}}])"), diagnosis, R"(signalsUsed[0].type: unknown value "gpuReset" (unknown))"},
        {changed("[]", R"([{"type":"watchdog","payload":{"timestamp":1,"message":"m"}},{"type":"policy","payload":{}}])"), diagnosis, R"(signalsUsed[1].payload: missing key "timestamp")"},
        {changed(R"("confidence":"High",)", ""), diagnosis, R"(missing key "confidence")"},
        {changed(R"("High")", "3"), diagnosis, "confidence: expected a string, found a number"},
        {changed(R"("window":{"start":1,"end":2},)", ""), diagnosis, R"(missing key "window")"},
        {changed(R"("confidence")", R"("later":[{}],"confidence")"), diagnosis, "<decoded>"},
        {R"({"whatHappened":"a","why":"b","whatToDo":"c","alternatives":["x",2]})", card, "alternatives[1]: expected a string, found a number"},
        {R"({"appName":"A","terminatedAt":10,"terminationReason":"quit","pid":4294967296,"window":{"start":1,"end":2}})", context, "pid: integer out of range"},
        {"{\"endState\": ", none, "invalid JSON at byte 14"},
        {data("regressions/signal_json/number-overflow.json"), signal, outOfRange},
        {"1e400", none, outOfRange},
        {watchdogAt("1e999"), signal, outOfRange},
        // Written back, 1e300 would be rounded to infinity and stored as null: the file would
        // not load again.
        {watchdogAt("1e300"), signal, "payload.timestamp: date out of range"},
        {watchdogAt("-1e300"), signal, "payload.timestamp: date out of range"},
        {watchdogAt("1e13"), signal, "payload.timestamp: date out of range"},
        {changed(R"("start":1)", R"("start":1.7976931348623157e308)"), diagnosis, "window.start: date out of range"},
    };
    // clang-format on
    for (const auto& [text, decode, error] : cases) {
        EXPECT_EQ(failureOf(text, decode), error) << text;
    }
}

// Callers that build the window themselves may leave it out.
TEST(EventContextJson, AMissingWindowComesFromTheCaller)
{
    const Json minimal = parse(R"({"appName":"A","terminatedAt":10,"terminationReason":"unknown","pid":-3})");
    const EventContext built = decodeEventContext(minimal, {}, [](Date at) {
        return TimestampWindow{at - Seconds(180), at + Seconds(180)};
    });
    EXPECT_EQ(built, contextAround({.appName = "A",
                                    .pid = -3,
                                    .terminatedAt = dateFromReferenceSeconds(10),
                                    .terminationReason = TerminationReason::unknown},
                                   180.0));
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
    EXPECT_EQ(dumpCompact(optional), R"({"appName":"A","appPath":"/usr/bin/a","terminatedAt":786299990.25})");
    EXPECT_EQ(decodeFacts(ObjectReader(optional), {}, ReasonKey::optional), facts);
    const Decoder reasonRequired = [](const Json& value) {
        (void)decodeFacts(ObjectReader(value), {}, ReasonKey::required);
    };
    EXPECT_EQ(failureOf(dumpCompact(optional), reasonRequired), R"(missing key "terminationReason")");
}

TEST(RecordJson, NestingIsBoundedAndBracketsInStringsDoNotCount)
{
    const auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string text = "1";
        for (int i = 0; i < depth; ++i) {
            text = open + text + close;
        }
        return text;
    };
    const std::string tooDeep = "invalid JSON: nested deeper than 512 levels at byte ";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {nested(512, "[", "]"),                                 "<decoded>"},
        {nested(513, "[", "]"),                                 tooDeep + "513"},
        {nested(513, "{\"a\":", "}"),                           tooDeep + "2561"},
        {std::string(100000, '[') + std::string(100000, ']'),  tooDeep + "513"},
        {"[\"" + std::string(1000, '[') + "\"]",                "<decoded>"},
        {"[\"\\\"" + std::string(1000, '{') + "\"]",            "<decoded>"},
        {"[\"\\\\\"," + nested(512, "[", "]") + "]",            tooDeep + "518"},
        {"[" + nested(300, "[", "]") + "," + nested(300, "{\"k\":", "}") + "]", "<decoded>"},
    };
    // clang-format on
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failureOf(text, none), expected) << text.substr(0, 40);
    }
}

// Found by fuzzing: a date beyond the year 2106 crept by a microsecond on every save.
TEST(RecordJson, RegressionFarDatesStayPutAcrossSaves)
{
    const Diagnosis stored = decodeDiagnosis(parse(data("regressions/diagnosis_json/date-creep.json")));
    const std::string once = dumpCompact(encode(stored));
    EXPECT_EQ(dumpCompact(encode(decodeDiagnosis(parse(once)))), once);

    // Far in the future and the past, from year 1 to year 9999 and beyond, in seconds since 2001.
    for (const double seconds : {4367504914.176501, 4294967296.5, 794000000.123, -5e9 + 0.25, 9e11,
                                 -63113904000.0, 252423993599.999, 9.99e11, -9.99e11}) {
        for (const DateEncoding encoding :
             {DateEncoding::SecondsSince1970, DateEncoding::SecondsSinceReferenceDate}) {
            const Options options{encoding};
            const Signal signal = WatchdogSignal{dateFromReferenceSeconds(seconds), "m"};
            const std::string first = dumpCompact(encode(signal, options));
            std::string text = first;
            for (int save = 0; save < 5; ++save) {
                text = dumpCompact(encode(decodeSignal(parse(text), options), options));
            }
            EXPECT_EQ(text, first);
            EXPECT_EQ(text.find("null"), std::string::npos) << text;
        }
    }
    // Dates of this century keep their short form.
    EXPECT_EQ(dumpCompact(encodeDate(dateFromReferenceSeconds(794000000.123), {})), "794000000.123");
}

TEST(JsonDump, InvalidUtf8IsReplacedNotThrown)
{
    const Json value = Signal(UnifiedLogSignal{t, "p", std::string("bad \xff byte")}).summary();
    EXPECT_EQ(dumpCompact(value), "\"Log (p): bad \xEF\xBF\xBD byte\"");
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
