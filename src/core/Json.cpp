// SPDX-License-Identifier: MIT
#include "core/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace exitwise::core::json {

DecodeError::DecodeError(std::string path, std::string reason, bool unknownValue)
    : std::runtime_error(path.empty() ? reason : path + ": " + reason)
    , m_path(std::move(path))
    , m_reason(std::move(reason))
    , m_unknownValue(unknownValue)
{}

DecodeError DecodeError::within(std::string_view key) const
{
    std::string path(key);
    if (!m_path.empty()) {
        if (m_path.front() != '[') {
            path += '.';
        }
        path += m_path;
    }
    return DecodeError(std::move(path), m_reason, m_unknownValue);
}

std::string typeName(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::object:
        return "an object";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return "a number";
    default:
        return "an unsupported value";
    }
}

namespace {

// Dates are held as seconds since 1970; moving them to another epoch leaves noise in the last
// bits (794000000.123 would come back as 794000000.1230001). Nothing is finer than a
// microsecond, so rounding there keeps a stored date stable across load and save. That holds
// while a double still resolves microseconds, up to 2^32 s from 1970 (the year 2106); further
// out, rounding would make a date creep by a microsecond per save, and the number written
// as it is comes back exactly.
double toMicroseconds(double seconds, Date date)
{
    constexpr double kMicrosecondsResolved = 4294967296.0;
    if (std::abs(secondsSince1970(date)) >= kMicrosecondsResolved) {
        return seconds;
    }
    return std::round(seconds * 1e6) / 1e6;
}

} // namespace

Json encodeDate(Date date, const Options& options)
{
    switch (options.dates) {
    case DateEncoding::SecondsSince1970:
        return toMicroseconds(secondsSince1970(date), date);
    case DateEncoding::SecondsSinceReferenceDate:
        break;
    }
    return toMicroseconds(secondsSinceReferenceDate(date), date);
}

Date decodeDate(const Json& value, const Options& options)
{
    const double seconds = decodeDouble(value);
    const Date date = options.dates == DateEncoding::SecondsSince1970 ? dateFromSecondsSince1970(seconds)
                                                                      : dateFromReferenceSeconds(seconds);
    if (!isSupportedDate(date)) {
        throw DecodeError({}, "date out of range");
    }
    return date;
}

std::string decodeString(const Json& value)
{
    if (!value.is_string()) {
        throw DecodeError({}, "expected a string, found " + typeName(value));
    }
    return value.get<std::string>();
}

bool decodeBool(const Json& value)
{
    if (!value.is_boolean()) {
        throw DecodeError({}, "expected a boolean, found " + typeName(value));
    }
    return value.get<bool>();
}

double decodeDouble(const Json& value)
{
    if (!value.is_number()) {
        throw DecodeError({}, "expected a number, found " + typeName(value));
    }
    const double result = value.get<double>();
    if (!std::isfinite(result)) {
        throw DecodeError({}, "number out of range");
    }
    return result;
}

namespace {

template <class Int> Int decodeInteger(const Json& value)
{
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v <= static_cast<std::uint64_t>(std::numeric_limits<Int>::max())) {
            return static_cast<Int>(v);
        }
    } else if (value.is_number_integer()) {
        const auto v = value.get<std::int64_t>();
        if (v >= std::numeric_limits<Int>::min() && v <= std::numeric_limits<Int>::max()) {
            return static_cast<Int>(v);
        }
    } else if (value.is_number_float()) {
        // An integral float such as 812.0 is accepted; 812.5 is not.
        const double v = value.get<double>();
        if (std::isfinite(v) && std::trunc(v) == v
            && v >= static_cast<double>(std::numeric_limits<Int>::min())
            && v < -static_cast<double>(std::numeric_limits<Int>::min())) {
            return static_cast<Int>(v);
        }
        if (std::isfinite(v) && std::trunc(v) != v) {
            throw DecodeError({}, "expected an integer, found a fractional number");
        }
    } else {
        throw DecodeError({}, "expected an integer, found " + typeName(value));
    }
    throw DecodeError({}, "integer out of range");
}

} // namespace

std::int32_t decodeInt32(const Json& value)
{
    return decodeInteger<std::int32_t>(value);
}

std::int64_t decodeInt64(const Json& value)
{
    return decodeInteger<std::int64_t>(value);
}

ObjectReader::ObjectReader(const Json& object)
    : m_object(object)
{
    if (!object.is_object()) {
        throw DecodeError({}, "expected an object, found " + typeName(object));
    }
}

const Json* ObjectReader::find(std::string_view key) const
{
    const auto it = m_object.find(key);
    return it == m_object.end() ? nullptr : &*it;
}

namespace {

// The offset of the bracket that first goes deeper than kMaxNestingDepth, if any. Brackets
// inside strings do not count; text that is not JSON is left for the parser to reject.
std::optional<std::size_t> tooDeepAt(std::string_view text)
{
    std::size_t depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        switch (text[i]) {
        case '"':
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\') {
                    ++i;
                }
            }
            break;
        case '[':
        case '{':
            if (++depth > kMaxNestingDepth) {
                return i;
            }
            break;
        case ']':
        case '}':
            depth -= depth > 0 ? 1 : 0;
            break;
        default:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

Json parse(std::string_view text)
{
    if (const std::optional<std::size_t> at = tooDeepAt(text)) {
        throw DecodeError({}, "invalid JSON: nested deeper than " + std::to_string(kMaxNestingDepth)
                                  + " levels at byte " + std::to_string(*at + 1));
    }
    try {
        return Json::parse(text);
    } catch (const Json::parse_error& error) {
        throw DecodeError({}, "invalid JSON at byte " + std::to_string(error.byte));
    } catch (const Json::out_of_range&) {
        // A number too large for a double ("1e400") is no syntax error to the parser; callers
        // expect every unusable text as a DecodeError.
        throw DecodeError({}, "invalid JSON: number out of range");
    } catch (const Json::exception& error) {
        throw DecodeError({}, std::string("invalid JSON: ") + error.what());
    }
}

void appendNumber(std::string& out, double value)
{
    // The shortest digits that read back as `value`, as d.ddde±x, laid out as the serializer does.
    char scientific[64];
    const char* end =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific).ptr;
    std::string_view text(scientific, static_cast<std::size_t>(end - scientific));
    if (text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    std::string digits(text.substr(0, e));
    std::erase(digits, '.');
    int exponent = 0;
    const std::string_view power = text.substr(e + 1);
    std::from_chars(power.data() + (power.front() == '+' ? 1 : 0), power.data() + power.size(), exponent);
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1; // value = 0.digits × 10^n
    if (k <= n && n <= 15) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
        out += ".0";
    } else if (0 < n && n <= 15) {
        out.append(digits, 0, static_cast<std::size_t>(n));
        out += '.';
        out.append(digits, static_cast<std::size_t>(n));
    } else if (-4 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += digits;
    } else {
        out += digits[0];
        if (k > 1) {
            out += '.';
            out.append(digits, 1);
        }
        const int shown = n - 1;
        out += shown < 0 ? "e-" : "e+";
        const int magnitude = shown < 0 ? -shown : shown;
        if (magnitude < 10) {
            out += '0';
        }
        out += std::to_string(magnitude);
    }
}

std::string dumpCompact(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string dumpPretty(const Json& value)
{
    return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

} // namespace exitwise::core::json
