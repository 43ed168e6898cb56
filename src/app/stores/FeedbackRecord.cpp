// SPDX-License-Identifier: MIT
#include "app/stores/FeedbackRecord.h"

namespace exitwise::app {

namespace json = core::json;
using json::Json;

Json encode(const FeedbackRecord& record, const json::Options& options)
{
    return Json{{"eventID", encode(record.eventID)},
                {"appName", record.appName},
                {"dominantCause", json::encodeEnum(record.dominantCause)},
                {"confidence", json::encodeEnum(record.confidence)},
                {"helpful", record.helpful},
                {"recordedAt", json::encodeDate(record.recordedAt, options)}};
}

FeedbackRecord decodeFeedbackRecord(const Json& value, const json::Options& options)
{
    const json::ObjectReader r(value);
    return FeedbackRecord{
        r.required("eventID", decodeUuid),
        r.required("appName", json::decodeString),
        r.required("dominantCause", json::decodeEnum<core::DominantCause>),
        r.required("confidence", json::decodeEnum<core::Confidence>),
        r.required("helpful", json::decodeBool),
        r.required("recordedAt", [&options](const Json& v) { return json::decodeDate(v, options); }),
    };
}

} // namespace exitwise::app
