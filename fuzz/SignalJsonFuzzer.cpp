// SPDX-License-Identifier: MIT
// One signal or one event context as JSON: the records stored inside every event and the
// input of `exitwise diagnose`.

#include "FuzzSupport.h"
#include "core/RecordJson.h"

using namespace exitwise;
namespace json = core::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json::Json value;
    if (!fuzz::parseJson(fuzz::asText(data, size), value)) {
        return 0;
    }
    for (const json::Options options : {json::Options{json::DateEncoding::SecondsSinceReferenceDate},
                                        json::Options{json::DateEncoding::SecondsSince1970}}) {
        try {
            const core::Signal signal = json::decodeSignal(value, options);
            static_cast<void>(signal.summary());
            fuzz::expectStableEncoding(
                json::encode(signal, options),
                [&](const json::Json& v) { return json::decodeSignal(v, options); },
                [&](const core::Signal& s) { return json::encode(s, options); });
        } catch (const json::DecodeError&) {
        }
        try {
            const core::EventContext context = json::decodeEventContext(value, options, [](core::Date at) {
                return core::TimestampWindow{at - core::Seconds(180), at + core::Seconds(180)};
            });
            fuzz::expectStableEncoding(
                json::encode(context, options),
                [&](const json::Json& v) { return json::decodeEventContext(v, options); },
                [&](const core::EventContext& c) { return json::encode(c, options); });
        } catch (const json::DecodeError&) {
        }
    }
    return 0;
}
