// SPDX-License-Identifier: MIT
#include "app/Uuid.h"

#include "core/Text.h"

#include <QUuid>

#include <array>
#include <cstring>

namespace exitwise::app {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Hex digit values, -1 for anything else.
constexpr std::array<std::int8_t, 256> kHexValue = [] {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int c = 0; c < 10; ++c) {
        table[static_cast<std::size_t>('0' + c)] = static_cast<std::int8_t>(c);
    }
    for (int c = 0; c < 6; ++c) {
        table[static_cast<std::size_t>('a' + c)] = static_cast<std::int8_t>(10 + c);
        table[static_cast<std::size_t>('A' + c)] = static_cast<std::int8_t>(10 + c);
    }
    return table;
}();

// Where each byte's two digits start in "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
constexpr std::array<std::size_t, 16> kDigitPositions = {0,  2,  4,  6,  9,  11, 14, 16,
                                                         19, 21, 24, 26, 28, 30, 32, 34};

} // namespace

Uuid Uuid::random()
{
    // QUuid draws from the system's secure random source.
    const QByteArray raw = QUuid::createUuid().toRfc4122();
    Bytes bytes{};
    std::memcpy(bytes.data(), raw.constData(), bytes.size());
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text)
{
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
        return std::nullopt;
    }
    Bytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = kHexValue[static_cast<unsigned char>(text[kDigitPositions[i]])];
        const int low = kHexValue[static_cast<unsigned char>(text[kDigitPositions[i] + 1])];
        if ((high | low) < 0) {
            return std::nullopt;
        }
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return Uuid(bytes);
}

std::string Uuid::toString() const
{
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kHexDigits[m_bytes[i] >> 4];
        text += kHexDigits[m_bytes[i] & 0x0F];
    }
    return text;
}

core::json::Json encode(const Uuid& uuid)
{
    return uuid.toString();
}

Uuid decodeUuid(const core::json::Json& value)
{
    const std::string text = core::json::decodeString(value);
    if (auto uuid = Uuid::parse(text)) {
        return *uuid;
    }
    throw core::json::DecodeError({}, "expected a UUID, found \"" + core::text::shortened(text, 40) + "\"");
}

} // namespace exitwise::app

std::size_t std::hash<exitwise::app::Uuid>::operator()(const exitwise::app::Uuid& uuid) const noexcept
{
    // Random identifiers are already uniformly distributed; fold the two halves.
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, uuid.bytes().data(), 8);
    std::memcpy(&low, uuid.bytes().data() + 8, 8);
    return static_cast<std::size_t>(high ^ (low * 0x9E3779B97F4A7C15ULL));
}
