// SPDX-License-Identifier: MIT
#pragma once

#include "core/Json.h"

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace exitwise::app {

// A 128-bit identifier. Its text is the canonical 36-character hyphenated form with
// upper-case digits; parsing accepts either case but nothing else (no braces, no "urn:").
class Uuid
{
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    explicit constexpr Uuid(const Bytes& bytes)
        : m_bytes(bytes)
    {}

    // A fresh random (version 4) identifier.
    [[nodiscard]] static Uuid random();
    [[nodiscard]] static std::optional<Uuid> parse(std::string_view text);

    [[nodiscard]] std::string toString() const;
    [[nodiscard]] const Bytes& bytes() const { return m_bytes; }

    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;
    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes m_bytes{};
};

[[nodiscard]] core::json::Json encode(const Uuid& uuid);
// Accepts the canonical form in either case; throws core::json::DecodeError otherwise.
[[nodiscard]] Uuid decodeUuid(const core::json::Json& value);

} // namespace exitwise::app

template <> struct std::hash<exitwise::app::Uuid>
{
    std::size_t operator()(const exitwise::app::Uuid& uuid) const noexcept;
};
