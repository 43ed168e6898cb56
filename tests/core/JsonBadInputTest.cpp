// SPDX-License-Identifier: MIT
// Record JSON that a damaged, hostile or newer file may hold.

#include "core/RecordJson.h"
#include "support/Files.h"

#include <functional>
#include <gtest/gtest.h>

namespace exitwise::core::json {
namespace {

std::string regression(const std::string& name)
{
    return test::readFile(std::string(EXITWISE_TEST_DATA_DIR) + "/regressions/" + name);
}

// Whatever the text, only a DecodeError comes out: every reader of a record file catches
// just that one.
std::string failureOf(
    std::string_view text,
    const std::function<void(const Json&)>& decode = [](const Json& value) { (void)decodeSignal(value); })
{
    try {
        decode(parse(text));
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "<decoded>";
}

TEST(JsonBadInput, NumbersAndDatesOutOfRangeAreADecodeError)
{
    const auto watchdogAt = [](const std::string& timestamp) {
        return R"({"type":"watchdog","payload":{"timestamp":)" + timestamp + R"(,"message":"m"}})";
    };
    EXPECT_EQ(failureOf(regression("signal_json/number-overflow.json")), "invalid JSON: number out of range");
    for (const std::string& text :
         std::vector<std::string>{"1e400", "[1e400]", "-1e400", watchdogAt("1e999")}) {
        EXPECT_EQ(failureOf(text), "invalid JSON: number out of range") << text;
    }
    // Written back, 1e300 would be rounded to infinity and stored as null: the file would not
    // load again.
    for (const char* timestamp : {"1e300", "-1e300", "1.7976931348623157e308", "1e13"}) {
        EXPECT_EQ(failureOf(watchdogAt(timestamp)), "payload.timestamp: date out of range") << timestamp;
    }
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
    const std::string tooDeep = "invalid JSON: nested deeper than 512 levels at byte ";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {nested(512, "[", "]"),                                 "<decoded>"},
        {nested(513, "[", "]"),                                 tooDeep + "513"},
        {nested(513, "{\"a\":", "}"),                           tooDeep + "2561"},
        {nested(100000, "[", "]"),                              tooDeep + "513"},
        {"[\"" + std::string(1000, '[') + "\"]",                "<decoded>"},
        {"[\"\\\"" + std::string(1000, '{') + "\"]",            "<decoded>"},
        {"[\"\\\\\"," + nested(512, "[", "]") + "]",            tooDeep + "518"},
        {"[" + nested(300, "[", "]") + "," + nested(300, "{\"k\":", "}") + "]", "<decoded>"},
    };
    // clang-format on
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(failureOf(text, [](const Json&) {}), expected) << text.substr(0, 40);
    }
}

// Found by fuzzing: a date beyond the year 2106 crept by a microsecond on every save.
TEST(JsonBadInput, RegressionFarDatesStayPutAcrossSaves)
{
    const Diagnosis stored = decodeDiagnosis(parse(regression("diagnosis_json/date-creep.json")));
    const std::string once = dumpCompact(encode(stored));
    EXPECT_EQ(dumpCompact(encode(decodeDiagnosis(parse(once)))), once);

    std::vector<Date> dates;
    for (const double referenceSeconds :
         {4367504914.176501, 4294967296.5, 794000000.123, -5e9 + 0.25, 9e11}) {
        dates.push_back(dateFromReferenceSeconds(referenceSeconds));
    }
    // From year 1 to year 9999 and a good way beyond.
    for (const double seconds : {-62135596800.0, 253402300799.999, 9.99e11, -9.99e11}) {
        dates.push_back(dateFromSecondsSince1970(seconds));
    }
    for (const Date date : dates) {
        for (const DateEncoding encoding :
             {DateEncoding::SecondsSince1970, DateEncoding::SecondsSinceReferenceDate}) {
            const Options options{encoding};
            const std::string first = dumpCompact(encode(Signal(WatchdogSignal{date, "m"}), options));
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

TEST(JsonBadInput, UnknownValuesAreToldApartFromDamage)
{
    const std::string valid =
        R"({"endState":"Crash","dominantCause":"Crashed: app bug","confidence":"High","signalsUsed":[],)"
        R"("window":{"start":1,"end":2},"explanation":{"whatHappened":"a","why":"b","whatToDo":"c"}})";
    // clang-format off
    // replaced text, replacement, path of the failure, whether it is an unknown value
    const std::vector<std::tuple<std::string_view, std::string_view, std::string, bool>> cases = {
        {"Crashed: app bug", "Killed: cosmic ray", "dominantCause", true},
        {"[]", R"([{"type":"gpuReset","payload":{}}])", "signalsUsed[0].type", true},
        {R"("confidence":"High",)", "", "", false},
        {R"("High")", "3", "confidence", false},
        {R"("start":1)", R"("start":1e300)", "window.start", false},
        // Unknown keys are no damage at all.
        {R"("confidence")", R"("later":[{}],"confidence")", "<decoded>", false},
    };
    // clang-format on
    for (const auto& [from, to, path, unknown] : cases) {
        std::string text = valid;
        text.replace(text.find(from), from.size(), to);
        try {
            static_cast<void>(decodeDiagnosis(parse(text)));
            EXPECT_EQ(path, "<decoded>");
        } catch (const DecodeError& error) {
            EXPECT_EQ(std::pair(error.path(), error.isUnknownValue()), std::pair(path, unknown)) << text;
        }
    }
}

} // namespace
} // namespace exitwise::core::json
