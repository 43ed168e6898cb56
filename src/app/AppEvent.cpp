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
    Json object = Json::object();
    object["id"] = encode(event.id);
    json::encodeFacts(object, event, options, json::ReasonKey::optional);
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
    Uuid id = r.required("id", decodeUuid);
    return AppEvent{
        json::decodeFacts(r, options, json::ReasonKey::optional),
        id,
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
