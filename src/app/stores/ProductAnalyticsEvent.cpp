// SPDX-License-Identifier: MIT
#include "app/stores/ProductAnalyticsEvent.h"

#include "app/DateFormats.h"
#include "core/Text.h"

namespace exitwise::app {

namespace json = core::json;
using json::Json;

Json encode(const ProductAnalyticsEvent& event)
{
    Json attributes = Json::object();
    for (const auto& [key, value] : event.attributes) {
        attributes[key] = value;
    }
    return Json{{"id", encode(event.id)},
                {"name", json::encodeEnum(event.name)},
                {"attributes", std::move(attributes)},
                {"recordedAt", iso8601Seconds(event.recordedAt)}};
}

ProductAnalyticsEvent decodeProductAnalyticsEvent(const Json& value)
{
    const json::ObjectReader r(value);
    return ProductAnalyticsEvent{
        r.required("id", decodeUuid),
        r.required("name", json::decodeEnum<ProductAnalyticsEventName>),
        r.required("attributes",
                   [](const Json& object) {
                       if (!object.is_object()) {
                           throw json::DecodeError({}, "expected an object, found " + json::typeName(object));
                       }
                       std::map<std::string, std::string> attributes;
                       for (const auto& [key, text] : object.items()) {
                           try {
                               attributes.emplace(key, json::decodeString(text));
                           } catch (const json::DecodeError& error) {
                               throw error.within(key);
                           }
                       }
                       return attributes;
                   }),
        r.required("recordedAt",
                   [](const Json& text) {
                       const std::string raw = json::decodeString(text);
                       if (auto date = parseIso8601Seconds(raw)) {
                           return *date;
                       }
                       throw json::DecodeError({}, "expected an ISO 8601 date, found \""
                                                       + core::text::shortened(raw, 40) + "\"");
                   }),
    };
}

} // namespace exitwise::app
