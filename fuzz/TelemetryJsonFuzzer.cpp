// SPDX-License-Identifier: MIT
// "telemetry.json": one array of telemetry records, read before every telemetry write.

#include "FuzzSupport.h"
#include "app/stores/DiagnosisTelemetryRecord.h"

using namespace exitwise;
namespace json = core::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json::Json value;
    if (!fuzz::parseJson(fuzz::asText(data, size), value)) {
        return 0;
    }
    const auto decodeAll = [](const json::Json& v) {
        return json::decodeArray(v,
                                 [](const json::Json& r) { return app::decodeDiagnosisTelemetryRecord(r); });
    };
    const auto encodeAll = [](const std::vector<app::DiagnosisTelemetryRecord>& records) {
        json::Json array = json::Json::array();
        for (const auto& r : records) {
            array.push_back(app::encode(r));
        }
        return array;
    };
    try {
        fuzz::expectStableEncoding(encodeAll(decodeAll(value)), decodeAll, encodeAll);
    } catch (const json::DecodeError&) {
    }
    return 0;
}
