// SPDX-License-Identifier: MIT
#include "app/stores/DiagnosisTelemetryRecord.h"

namespace exitwise::app {

namespace json = core::json;
using json::Json;

Json encode(const DiagnosisTelemetryRecord& record, const json::Options& options)
{
    Json object = Json::object();
    object["eventID"] = encode(record.eventID);
    object["appName"] = record.appName;
    object["dominantCause"] = json::encodeEnum(record.dominantCause);
    object["confidence"] = json::encodeEnum(record.confidence);
    object["signalsUsed"] = record.signalsUsed;
    object["timeToDiagnosisMS"] = record.timeToDiagnosisMS;
    if (record.helpful) {
        object["helpful"] = *record.helpful;
    }
    object["recordedAt"] = json::encodeDate(record.recordedAt, options);
    if (record.feedbackAt) {
        object["feedbackAt"] = json::encodeDate(*record.feedbackAt, options);
    }
    return object;
}

DiagnosisTelemetryRecord decodeDiagnosisTelemetryRecord(const Json& value, const json::Options& options)
{
    const json::ObjectReader r(value);
    const auto date = [&options](const Json& v) { return json::decodeDate(v, options); };
    return DiagnosisTelemetryRecord{
        r.required("eventID", decodeUuid),
        r.required("appName", json::decodeString),
        r.required("dominantCause", json::decodeEnum<core::DominantCause>),
        r.required("confidence", json::decodeEnum<core::Confidence>),
        r.required("signalsUsed",
                   [](const Json& list) { return json::decodeArray(list, json::decodeString); }),
        r.required("timeToDiagnosisMS", json::decodeInt64),
        r.optional("helpful", json::decodeBool),
        r.required("recordedAt", date),
        r.optional("feedbackAt", date),
    };
}

} // namespace exitwise::app
