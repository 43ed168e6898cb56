// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace exitwise::core {

// Every string-valued enumeration specialises this with `values`: its cases in declaration
// order, each with its raw value (the JSON value and, for most, the text shown to the user).
template <class E> struct EnumTraits;

template <class E> [[nodiscard]] constexpr std::string_view rawValue(E value)
{
    for (const auto& [candidate, raw] : EnumTraits<E>::values) {
        if (candidate == value) {
            return raw;
        }
    }
    return {};
}

// Exact match only: case and spacing count.
template <class E> [[nodiscard]] constexpr std::optional<E> fromRawValue(std::string_view raw)
{
    for (const auto& [candidate, text] : EnumTraits<E>::values) {
        if (text == raw) {
            return candidate;
        }
    }
    return std::nullopt;
}

template <class E> [[nodiscard]] constexpr auto allCases()
{
    std::array<E, EnumTraits<E>::values.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        cases[i] = EnumTraits<E>::values[i].first;
    }
    return cases;
}

} // namespace exitwise::core
