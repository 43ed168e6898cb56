// SPDX-License-Identifier: MIT
#include "app/stores/TerminationLedgerEntry.h"

#include "core/RecordJson.h"

#include <limits>
#include <simdjson.h>
#include <type_traits>

namespace exitwise::app {

namespace json = core::json;
using json::Json;

Json encode(const TerminationLedgerEntry& entry, const json::Options& options)
{
    Json object = Json::object();
    object["id"] = encode(entry.id);
    object["capturedAt"] = json::encodeDate(entry.capturedAt, options);
    json::encodeFacts(object, entry, options, json::ReasonKey::required);
    object["source"] = entry.source;
    return object;
}

TerminationLedgerEntry decodeTerminationLedgerEntry(const Json& value, const json::Options& options)
{
    const json::ObjectReader r(value);
    Uuid id = r.required("id", decodeUuid);
    const core::Date capturedAt =
        r.required("capturedAt", [&options](const Json& v) { return json::decodeDate(v, options); });
    core::TerminationFacts facts = json::decodeFacts(r, options, json::ReasonKey::required);
    return TerminationLedgerEntry{std::move(facts), id, capturedAt, r.required("source", json::decodeString)};
}

namespace {

namespace dom = simdjson::dom;

// Longer lines are no common ledger line; a parser kept per thread should not grow for them.
constexpr std::size_t kMaxFastLine = 16 * 1024;

// Each reader fails on anything the general reader would not turn into the same field; failing
// is always safe, since the general reader then decides.
bool read(dom::element v, std::string& out)
{
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS) {
        return false;
    }
    out.assign(text);
    return true;
}

bool read(dom::element v, core::Date& out)
{
    double seconds = 0;
    if (v.get_double().get(seconds) != simdjson::SUCCESS) {
        return false;
    }
    out = core::dateFromReferenceSeconds(seconds);
    return core::isSupportedDate(out);
}

// Fractions and exponents (812.0, 8.12e2) are not integers to this parser: the general reader
// takes them.
bool read(dom::element v, std::int32_t& out)
{
    std::int64_t value = 0;
    if (v.get_int64().get(value) != simdjson::SUCCESS || value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

bool read(dom::element v, Uuid& out)
{
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS) {
        return false;
    }
    const std::optional<Uuid> uuid = Uuid::parse(text);
    if (uuid) {
        out = *uuid;
    }
    return uuid.has_value();
}

template <class E>
requires std::is_enum_v<E>
bool read(dom::element v, E& out)
{
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS) {
        return false;
    }
    const std::optional<E> value = core::fromRawValue<E>(text);
    if (value) {
        out = *value;
    }
    return value.has_value();
}

// Null leaves an optional field absent.
template <class T> bool read(dom::element v, std::optional<T>& out)
{
    if (v.is_null()) {
        out.reset();
        return true;
    }
    return read(v, out.emplace());
}

std::optional<TerminationLedgerEntry> decodeSimpleLine(std::string_view line)
{
    if (line.size() > kMaxFastLine) {
        return std::nullopt;
    }
    thread_local dom::parser parser;
    thread_local std::string padded;
    padded.assign(line);
    padded.resize(line.size() + simdjson::SIMDJSON_PADDING);
    // The whole line is checked, as the general reader checks it: bytes after the object and
    // values under keys nobody reads included.
    dom::object object;
    if (parser.parse(padded.data(), line.size(), false).get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    TerminationLedgerEntry entry;
    // Bit i: key i was seen. A repeated key is left to the general reader (it keeps the last).
    std::uint32_t seen = 0;
    const auto field = [&](std::size_t index, dom::element value, auto& target) {
        const std::uint32_t bit = 1U << index;
        const bool first = (seen & bit) == 0;
        seen |= bit;
        return first && read(value, target);
    };
    for (const dom::key_value_pair member : object) {
        const std::string_view key = member.key;
        const dom::element value = member.value;
        bool ok = false;
        if (key == "id") {
            ok = field(0, value, entry.id);
        } else if (key == "capturedAt") {
            ok = field(1, value, entry.capturedAt);
        } else if (key == "appName") {
            ok = field(2, value, entry.appName);
        } else if (key == "terminatedAt") {
            ok = field(3, value, entry.terminatedAt);
        } else if (key == "terminationReason") {
            // Required: null is no reason here, unlike the optional fields.
            core::TerminationReason reason{};
            ok = field(4, value, reason);
            entry.terminationReason = reason;
        } else if (key == "source") {
            ok = field(5, value, entry.source);
        } else if (key == "bundleIdentifier") {
            ok = field(6, value, entry.bundleIdentifier);
        } else if (key == "pid") {
            ok = field(7, value, entry.pid);
        } else if (key == "appPath") {
            ok = field(8, value, entry.appPath);
        } else if (key == "launchedAt") {
            ok = field(9, value, entry.launchedAt);
        } else if (key == "terminationRawValue") {
            ok = field(10, value, entry.terminationRawValue);
        } else if (key == "terminationQuitAttribution") {
            ok = field(11, value, entry.terminationQuitAttribution);
        } else {
            // Nested values of unknown keys are left to the general reader: it bounds their depth.
            ok = !value.is_array() && !value.is_object();
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    // The first six keys are required.
    constexpr std::uint32_t kRequired = 0x3F;
    if ((seen & kRequired) != kRequired) {
        return std::nullopt;
    }
    return entry;
}

} // namespace

std::optional<TerminationLedgerEntry> decodeTerminationLedgerLine(std::string_view line)
{
    if (auto entry = decodeSimpleLine(line)) {
        return entry;
    }
    // Anything unusual, including every line that does not decode, takes the general road.
    try {
        return decodeTerminationLedgerEntry(json::parse(line));
    } catch (const json::DecodeError&) {
        return std::nullopt;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

} // namespace exitwise::app
