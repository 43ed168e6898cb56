// SPDX-License-Identifier: MIT
#pragma once

// What the predicate printer and the parser share; not for use outside them.

#include "core/evidence/LogPredicate.h"

#include <array>
#include <string_view>
#include <utility>
#include <variant>

namespace exitwise::core::detail {

inline constexpr std::array<std::pair<LogPredicate::Field, std::string_view>, 6> kFieldNames{{
    {LogPredicate::Field::processIdentifier, "processIdentifier"},
    {LogPredicate::Field::process, "process"},
    {LogPredicate::Field::composedMessage, "composedMessage"},
    {LogPredicate::Field::eventMessage, "eventMessage"},
    {LogPredicate::Field::processImagePath, "processImagePath"},
    {LogPredicate::Field::senderImagePath, "senderImagePath"},
}};

// Hostile input must not exhaust the stack of the recursive parser and printer.
inline constexpr int kMaxNesting = 64;

inline bool isIntegerField(LogPredicate::Field field)
{
    return field == LogPredicate::Field::processIdentifier;
}

// Reads predicate text; the error names the byte where reading stopped.
[[nodiscard]] std::variant<LogPredicate, LogPredicate::ParseError> parseLogPredicate(std::string_view text);

} // namespace exitwise::core::detail
