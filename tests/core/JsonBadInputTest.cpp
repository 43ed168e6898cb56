// SPDX-License-Identifier: MIT
// Record JSON that a damaged, hostile or newer file may hold.

#include "core/RecordJson.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <utility>

namespace exitwise::core::json {
namespace {

std::string regression(const std::string& name)
{
    std::ifstream in(std::string(EXITWISE_TEST_DATA_DIR) + "/regressions/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whatever the text, only a DecodeError comes out: every reader of a record file catches
// just that one.
std::string failureOf(std::string_view text)
{
    try {
        static_cast<void>(decodeSignal(parse(text)));
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "<decoded>";
}

TEST(JsonBadInput, NumbersBeyondADoubleAreADecodeError)
{
    EXPECT_EQ(failureOf(regression("signal_json/number-overflow.json")), "invalid JSON: number out of range");
    for (const char* text :
         {"1e400", "[1e400]", "-1e400", R"({"type":"watchdog","payload":{"timestamp":1e999}})"}) {
        EXPECT_EQ(failureOf(text), "invalid JSON: number out of range") << text;
    }
    EXPECT_EQ(failureOf("[1, 2").rfind("invalid JSON at byte ", 0), 0u);
}

TEST(JsonBadInput, NestingIsBoundedAndBracketsInStringsDoNotCount)
{
    const auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            text += open;
        }
        text += "1";
        for (int i = 0; i < depth; ++i) {
            text += close;
        }
        return text;
    };
    const auto outcome = [](const std::string& text) -> std::string {
        try {
            static_cast<void>(parse(text));
        } catch (const DecodeError& error) {
            return error.what();
        }
        return "<parsed>";
    };
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {nested(512, "[", "]"),                                 "<parsed>"},
        {nested(513, "[", "]"),                                 "invalid JSON: nested deeper than 512 levels at byte 513"},
        {nested(513, "{\"a\":", "}"),                           "invalid JSON: nested deeper than 512 levels at byte 2561"},
        {nested(100000, "[", "]"),                              "invalid JSON: nested deeper than 512 levels at byte 513"},
        {"[\"" + std::string(1000, '[') + "\"]",                "<parsed>"},
        {"[\"\\\"" + std::string(1000, '{') + "\"]",            "<parsed>"},
        {"[\"\\\\\"," + nested(512, "[", "]") + "]",            "invalid JSON: nested deeper than 512 levels at byte 518"},
        {"[" + nested(300, "[", "]") + "," + nested(300, "{\"k\":", "}") + "]", "<parsed>"},
    };
    // clang-format on
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(outcome(text), expected) << text.substr(0, 40);
    }
}

TEST(JsonBadInput, DatesOutsideTheCalendarAreRejected)
{
    const auto watchdogAt = [](const std::string& timestamp) {
        return R"({"type":"watchdog","payload":{"timestamp":)" + timestamp + R"(,"message":"m"}})";
    };
    // Written back, 1e300 would be rounded to infinity and stored as null: the file would not
    // load again.
    for (const char* timestamp : {"1e300", "-1e300", "1.7976931348623157e308", "1e13"}) {
        EXPECT_EQ(failureOf(watchdogAt(timestamp)), "payload.timestamp: date out of range") << timestamp;
    }
    // From year 1 to year 9999 and a good way beyond, in both encodings.
    for (const double seconds : {-62135596800.0, 253402300799.999, 9.99e11, -9.99e11}) {
        for (const DateEncoding encoding :
             {DateEncoding::SecondsSince1970, DateEncoding::SecondsSinceReferenceDate}) {
            const Options options{encoding};
            const Date date = dateFromSecondsSince1970(seconds);
            const Signal signal = WatchdogSignal{date, "m"};
            const std::string text = dumpCompact(encode(signal, options));
            EXPECT_EQ(dumpCompact(encode(decodeSignal(parse(text), options), options)), text);
            EXPECT_EQ(text.find("null"), std::string::npos) << text;
        }
    }
}

// Found by fuzzing: a date beyond the year 2106 crept by a microsecond on every save.
TEST(JsonBadInput, RegressionFarDatesStayPutAcrossSaves)
{
    const Diagnosis stored = decodeDiagnosis(parse(regression("diagnosis_json/date-creep.json")));
    const std::string once = dumpCompact(encode(stored));
    EXPECT_EQ(dumpCompact(encode(decodeDiagnosis(parse(once)))), once);

    for (const double referenceSeconds :
         {4367504914.176501, 4294967296.5, 794000000.123, -5e9 + 0.25, 9e11}) {
        for (const DateEncoding encoding :
             {DateEncoding::SecondsSince1970, DateEncoding::SecondsSinceReferenceDate}) {
            const Options options{encoding};
            std::string text = dumpCompact(
                encode(Signal(WatchdogSignal{dateFromReferenceSeconds(referenceSeconds), "m"}), options));
            const std::string first = text;
            for (int save = 0; save < 5; ++save) {
                text = dumpCompact(encode(decodeSignal(parse(text), options), options));
            }
            EXPECT_EQ(text, first) << referenceSeconds;
        }
    }
    // Dates of this century keep their short form.
    EXPECT_EQ(dumpCompact(encodeDate(dateFromReferenceSeconds(794000000.123), {})), "794000000.123");
}

TEST(JsonBadInput, UnknownValuesAreToldApartFromDamage)
{
    const auto errorOf = [](std::string_view text) -> DecodeError {
        try {
            static_cast<void>(decodeDiagnosis(parse(text)));
        } catch (const DecodeError& error) {
            return error;
        }
        ADD_FAILURE() << "decoded: " << text;
        return DecodeError({}, {});
    };
    const std::string valid =
        R"({"endState":"Crash","dominantCause":"Crashed: app bug","confidence":"High","signalsUsed":[],)"
        R"("window":{"start":1,"end":2},"explanation":{"whatHappened":"a","why":"b","whatToDo":"c"}})";
    const auto with = [&valid](std::string_view from, std::string_view to) {
        std::string text = valid;
        text.replace(text.find(from), from.size(), to);
        return text;
    };

    const DecodeError newerCause = errorOf(with("Crashed: app bug", "Killed: cosmic ray"));
    EXPECT_TRUE(newerCause.isUnknownValue());
    EXPECT_EQ(newerCause.path(), "dominantCause");
    const DecodeError newerSignal = errorOf(with("[]", R"([{"type":"gpuReset","payload":{}}])"));
    EXPECT_TRUE(newerSignal.isUnknownValue());
    EXPECT_EQ(newerSignal.path(), "signalsUsed[0].type");

    EXPECT_FALSE(errorOf(with(R"("confidence":"High",)", "")).isUnknownValue());
    EXPECT_FALSE(errorOf(with(R"("High")", "3")).isUnknownValue());
    EXPECT_FALSE(errorOf(with(R"("start":1)", R"("start":1e300)")).isUnknownValue());
    // Unknown keys are no damage at all.
    EXPECT_NO_THROW(
        static_cast<void>(decodeDiagnosis(parse(with(R"("confidence")", R"("later":[{}],"confidence")")))));
}

} // namespace
} // namespace exitwise::core::json
