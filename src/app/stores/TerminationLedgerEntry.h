// SPDX-License-Identifier: MIT
#pragma once

#include "app/Uuid.h"
#include "core/Json.h"
#include "core/Signal.h"
#include "core/TerminationFacts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace exitwise::app {

// One line of the termination ledger: a termination the monitor observed, written before
// its diagnosis starts. The reason is always written.
struct TerminationLedgerEntry : core::TerminationFacts
{
    Uuid id{};
    core::Date capturedAt{};
    std::string source{};

    friend bool operator==(const TerminationLedgerEntry&, const TerminationLedgerEntry&) = default;
};

// What the monitor writes as `source`.
inline constexpr const char* kWorkspaceTerminationSource = "NSWorkspace.didTerminateApplicationNotification";

// One ledger line as written (compact, dates as numbers), or nothing when it does not decode.
// A long ledger is read on every reconciliation, so common lines skip the general JSON reader;
// the result is the same as decoding the parsed line with decodeTerminationLedgerEntry.
[[nodiscard]] std::optional<TerminationLedgerEntry> decodeTerminationLedgerLine(std::string_view line);

[[nodiscard]] core::json::Json encode(const TerminationLedgerEntry& entry,
                                      const core::json::Options& options = {});
[[nodiscard]] TerminationLedgerEntry decodeTerminationLedgerEntry(const core::json::Json& value,
                                                                  const core::json::Options& options = {});

} // namespace exitwise::app
