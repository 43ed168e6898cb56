// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Enum.h"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Strict JSON decoding shared by every record: required keys must be present with the right
// type, optional keys may be missing or null, enumerations match their raw value exactly and
// unknown keys are ignored. A failure names the path of the offending value.
namespace exitwise::core::json {

using Json = nlohmann::json;

// How dates are written. The record files mostly use seconds since 2001-01-01T00:00:00Z.
enum class DateEncoding
{
    SecondsSinceReferenceDate,
    SecondsSince1970
};

struct Options
{
    DateEncoding dates = DateEncoding::SecondsSinceReferenceDate;
};

class DecodeError : public std::runtime_error
{
public:
    DecodeError(std::string path, std::string reason, bool unknownValue = false);

    // Where the failure happened, e.g. `signalsUsed[2].payload`; empty for the top level.
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] const std::string& reason() const { return m_reason; }
    // The value is well-formed but names a case this version does not know, as a later
    // version may write (a new cause, a new signal type).
    [[nodiscard]] bool isUnknownValue() const { return m_unknownValue; }

    // The same failure seen from the enclosing value: `key` is an object key or "[n]".
    [[nodiscard]] DecodeError within(std::string_view key) const;

private:
    std::string m_path;
    std::string m_reason;
    bool m_unknownValue = false;
};

[[nodiscard]] std::string typeName(const Json& value);

[[nodiscard]] Json encodeDate(Date date, const Options& options);
[[nodiscard]] Date decodeDate(const Json& value, const Options& options);

[[nodiscard]] std::string decodeString(const Json& value);
[[nodiscard]] bool decodeBool(const Json& value);
[[nodiscard]] double decodeDouble(const Json& value);
[[nodiscard]] std::int32_t decodeInt32(const Json& value);
[[nodiscard]] std::int64_t decodeInt64(const Json& value);

template <class E> [[nodiscard]] E decodeEnum(const Json& value)
{
    const std::string raw = decodeString(value);
    if (auto result = fromRawValue<E>(raw)) {
        return *result;
    }
    throw DecodeError({}, "unknown value \"" + raw + "\"", true);
}

template <class E> [[nodiscard]] Json encodeEnum(E value)
{
    return std::string(rawValue(value));
}

// Reads the keys of one JSON object, prefixing any failure with the key's name.
class ObjectReader
{
public:
    explicit ObjectReader(const Json& object);

    template <class F> [[nodiscard]] auto required(std::string_view key, F&& decode) const
    {
        const Json* value = find(key);
        if (value == nullptr) {
            throw DecodeError({}, "missing key \"" + std::string(key) + "\"");
        }
        if (value->is_null()) {
            throw DecodeError(std::string(key), "expected a value, found null");
        }
        return nested(key, *value, decode);
    }

    template <class F>
    [[nodiscard]] auto optional(std::string_view key, F&& decode) const
        -> std::optional<std::invoke_result_t<F, const Json&>>
    {
        const Json* value = find(key);
        if (value == nullptr || value->is_null()) {
            return std::nullopt;
        }
        return nested(key, *value, decode);
    }

private:
    [[nodiscard]] const Json* find(std::string_view key) const;

    template <class F> static auto nested(std::string_view key, const Json& value, F& decode)
    {
        try {
            return decode(value);
        } catch (const DecodeError& error) {
            throw error.within(key);
        }
    }

    const Json& m_object;
};

template <class F>
[[nodiscard]] auto decodeArray(const Json& value, F&& decodeElement)
    -> std::vector<std::invoke_result_t<F, const Json&>>
{
    if (!value.is_array()) {
        throw DecodeError({}, "expected an array, found " + typeName(value));
    }
    std::vector<std::invoke_result_t<F, const Json&>> result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        try {
            result.push_back(decodeElement(value[i]));
        } catch (const DecodeError& error) {
            throw error.within("[" + std::to_string(i) + "]");
        }
    }
    return result;
}

// Arrays and objects nested deeper than this do not parse: copying, comparing and writing a
// value recurse once per level, and a hostile file must not exhaust the stack.
inline constexpr std::size_t kMaxNestingDepth = 512;

// Parses text into JSON, turning a syntax error into a DecodeError that gives its position.
// Nesting beyond kMaxNestingDepth is such an error too.
[[nodiscard]] Json parse(std::string_view text);

// Serialises without throwing on invalid UTF-8 in strings (it is replaced by U+FFFD).
[[nodiscard]] std::string dumpCompact(const Json& value);
// The text dumpCompact gives a finite double (shortest round trip, ".0" on whole numbers,
// an exponent outside 1e-5 … 1e15), written without building a value.
void appendNumber(std::string& out, double value);
// Indented by two spaces; nlohmann objects keep their keys sorted.
[[nodiscard]] std::string dumpPretty(const Json& value);

} // namespace exitwise::core::json
