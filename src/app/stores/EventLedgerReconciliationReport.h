// SPDX-License-Identifier: MIT
#pragma once

#include "app/Uuid.h"
#include "core/Json.h"
#include "core/Signal.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::app {

// A ledger entry for which no recorded event exists.
struct EventLedgerMismatch
{
    Uuid ledgerEntryID;
    std::string appName;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::int32_t> pid;
    core::Date terminatedAt;
    core::TerminationReason terminationReason = core::TerminationReason::unknown;
    std::optional<core::QuitAttribution> terminationQuitAttribution;
    std::optional<std::string> terminationRawValue;
    std::string reason;

    friend bool operator==(const EventLedgerMismatch&, const EventLedgerMismatch&) = default;
};

// One reconciliation: how much evidence was read and which entries found no event.
struct EventLedgerReconciliationReport
{
    core::Date generatedAt;
    std::int64_t evidenceCount = 0;
    std::int64_t recordedEventCount = 0;
    std::int64_t mismatchCount = 0;
    std::vector<EventLedgerMismatch> mismatches; // newest terminatedAt first

    friend bool operator==(const EventLedgerReconciliationReport&,
                           const EventLedgerReconciliationReport&) = default;
};

[[nodiscard]] core::json::Json encode(const EventLedgerMismatch& mismatch,
                                      const core::json::Options& options = {});
[[nodiscard]] EventLedgerMismatch decodeEventLedgerMismatch(const core::json::Json& value,
                                                            const core::json::Options& options = {});
[[nodiscard]] core::json::Json encode(const EventLedgerReconciliationReport& report,
                                      const core::json::Options& options = {});
// The report file's text: the encoded report pretty-printed with sorted keys, byte for byte
// what core::json::dumpPretty(encode(report)) gives, written directly because a report of a
// long ledger holds many thousands of mismatches.
[[nodiscard]] std::string prettyReportJson(const EventLedgerReconciliationReport& report);
// The same text handed to `sink` in pieces; stops writing once the sink returns false.
void writePrettyReportJson(const EventLedgerReconciliationReport& report,
                           const std::function<bool(std::string_view)>& sink);

[[nodiscard]] EventLedgerReconciliationReport
decodeEventLedgerReconciliationReport(const core::json::Json& value, const core::json::Options& options = {});

} // namespace exitwise::app
