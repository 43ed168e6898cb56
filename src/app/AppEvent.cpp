// SPDX-License-Identifier: MIT
#include "app/AppEvent.h"

#include "core/RecordJson.h"

namespace exitwise::app {

namespace json = core::json;
using json::Json;

namespace {

template <class T, class F>
void put(Json& object, const char* key, const std::optional<T>& value, F&& encodeValue)
{
    if (value) {
        object[key] = encodeValue(*value);
    }
}

template <class E> auto enumDecoder()
{
    return [](const Json& value) { return json::decodeEnum<E>(value); };
}

const auto identity = [](const auto& value) { return Json(value); };
const auto enumEncoder = [](auto value) { return json::encodeEnum(value); };

} // namespace

Json encode(FeedbackRating rating)
{
    return json::encodeEnum(rating);
}

FeedbackRating decodeFeedbackRating(const Json& value)
{
    return json::decodeEnum<FeedbackRating>(value);
}

Json encode(const AppEvent& event, const json::Options& options)
{
    const auto date = [&options](core::Date d) { return json::encodeDate(d, options); };
    Json object = Json::object();
    object["id"] = encode(event.id);
    object["appName"] = event.appName;
    put(object, "bundleIdentifier", event.bundleIdentifier, identity);
    put(object, "pid", event.pid, identity);
    put(object, "appPath", event.appPath, identity);
    put(object, "launchedAt", event.launchedAt, date);
    object["terminatedAt"] = date(event.terminatedAt);
    put(object, "terminationReason", event.terminationReason, enumEncoder);
    put(object, "terminationRawValue", event.terminationRawValue, identity);
    put(object, "terminationQuitAttribution", event.terminationQuitAttribution, enumEncoder);
    object["diagnosis"] = json::encode(event.diagnosis, options);
    put(object, "diagnosisVersion", event.diagnosisVersion, identity);
    put(object, "diagnosisHash", event.diagnosisHash, identity);
    put(object, "diagnosisChanged", event.diagnosisChanged, identity);
    put(object, "previousDominantCause", event.previousDominantCause, enumEncoder);
    put(object, "previousEndState", event.previousEndState, enumEncoder);
    put(object, "previousConfidence", event.previousConfidence, enumEncoder);
    put(object, "feedback", event.feedback, enumEncoder);
    return object;
}

AppEvent decodeAppEvent(const Json& value, const json::Options& options)
{
    const json::ObjectReader r(value);
    const auto date = [&options](const Json& v) { return json::decodeDate(v, options); };
    return AppEvent{
        r.required("id", decodeUuid),
        r.required("appName", json::decodeString),
        r.optional("bundleIdentifier", json::decodeString),
        r.optional("pid", json::decodeInt32),
        r.optional("appPath", json::decodeString),
        r.optional("launchedAt", date),
        r.required("terminatedAt", date),
        r.optional("terminationReason", enumDecoder<core::TerminationReason>()),
        r.optional("terminationRawValue", json::decodeString),
        r.optional("terminationQuitAttribution", enumDecoder<core::QuitAttribution>()),
        r.required("diagnosis", [&options](const Json& v) { return json::decodeDiagnosis(v, options); }),
        r.optional("diagnosisVersion", json::decodeString),
        r.optional("diagnosisHash", json::decodeString),
        r.optional("diagnosisChanged", json::decodeBool),
        r.optional("previousDominantCause", enumDecoder<core::DominantCause>()),
        r.optional("previousEndState", enumDecoder<core::EndState>()),
        r.optional("previousConfidence", enumDecoder<core::Confidence>()),
        r.optional("feedback", decodeFeedbackRating),
    };
}

} // namespace exitwise::app
