// SPDX-License-Identifier: MIT
#include "app/stores/TerminationLedgerEntry.h"

#include "app/FlatJsonObject.h"
#include "core/RecordJson.h"

#include <charconv>
#include <cmath>
#include <limits>

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

using Member = FlatJsonObject::Member;
using Kind = FlatJsonObject::Kind;

bool isNumber(const Member& m)
{
    return m.kind == Kind::number;
}

std::optional<core::Date> dateOf(const Member& m)
{
    if (!isNumber(m)) {
        return std::nullopt;
    }
    double seconds = 0;
    const auto [end, error] = std::from_chars(m.text.data(), m.text.data() + m.text.size(), seconds);
    if (error != std::errc() || end != m.text.data() + m.text.size() || !std::isfinite(seconds)) {
        return std::nullopt;
    }
    const core::Date date = core::dateFromReferenceSeconds(seconds);
    return core::isSupportedDate(date) ? std::optional(date) : std::nullopt;
}

std::optional<std::int32_t> int32Of(const Member& m)
{
    // Fractions and exponents (812.0, 8.12e2) are left to the general reader.
    if (!isNumber(m) || m.text.find_first_of(".eE") != std::string::npos) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(m.text.data(), m.text.data() + m.text.size(), value);
    if (error != std::errc() || end != m.text.data() + m.text.size()
        || value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

template <class E> std::optional<E> enumOf(const Member& m)
{
    return m.kind == Kind::string ? core::fromRawValue<E>(m.text) : std::nullopt;
}

std::optional<std::string> stringOf(const Member& m)
{
    return m.kind == Kind::string ? std::optional<std::string>(std::in_place, m.text) : std::nullopt;
}

// Reads an optional field: null leaves it absent, a value of the wrong form fails the line.
template <class T, class F> bool readOptional(const Member& m, std::optional<T>& target, F&& read)
{
    if (m.kind == Kind::null) {
        target.reset();
        return true;
    }
    target = read(m);
    return target.has_value();
}

template <class T, class F> bool readRequired(const Member& m, T& target, F&& read)
{
    std::optional<T> value = read(m);
    if (!value) {
        return false;
    }
    target = std::move(*value);
    return true;
}

std::optional<TerminationLedgerEntry> decodeSimpleLine(std::string_view line)
{
    const std::optional<FlatJsonObject> object = FlatJsonObject::parse(line);
    if (!object) {
        return std::nullopt;
    }
    TerminationLedgerEntry entry;
    const auto uuidOf = [](const Member& m) {
        return m.kind == Kind::string ? Uuid::parse(m.text) : std::nullopt;
    };
    // One pass over the members; keys are unique, unknown keys are ignored.
    enum Required : unsigned
    {
        kId = 1,
        kCapturedAt = 2,
        kAppName = 4,
        kTerminatedAt = 8,
        kReason = 16,
        kSource = 32,
        kAll = 63
    };
    unsigned seen = 0;
    for (const Member& m : object->members()) {
        const std::string_view key = m.key;
        bool ok = true;
        if (key == "id") {
            ok = readRequired(m, entry.id, uuidOf);
            seen |= kId;
        } else if (key == "capturedAt") {
            ok = readRequired(m, entry.capturedAt, dateOf);
            seen |= kCapturedAt;
        } else if (key == "appName") {
            ok = readRequired(m, entry.appName, stringOf);
            seen |= kAppName;
        } else if (key == "bundleIdentifier") {
            ok = readOptional(m, entry.bundleIdentifier, stringOf);
        } else if (key == "pid") {
            ok = readOptional(m, entry.pid, int32Of);
        } else if (key == "appPath") {
            ok = readOptional(m, entry.appPath, stringOf);
        } else if (key == "launchedAt") {
            ok = readOptional(m, entry.launchedAt, dateOf);
        } else if (key == "terminatedAt") {
            ok = readRequired(m, entry.terminatedAt, dateOf);
            seen |= kTerminatedAt;
        } else if (key == "terminationReason") {
            entry.terminationReason = enumOf<core::TerminationReason>(m);
            ok = entry.terminationReason.has_value();
            seen |= kReason;
        } else if (key == "terminationRawValue") {
            ok = readOptional(m, entry.terminationRawValue, stringOf);
        } else if (key == "terminationQuitAttribution") {
            ok = readOptional(m, entry.terminationQuitAttribution, enumOf<core::QuitAttribution>);
        } else if (key == "source") {
            ok = readRequired(m, entry.source, stringOf);
            seen |= kSource;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (seen != kAll) {
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
