// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/stores/EventLedgerReconciliationReport.h"
#include "app/stores/TerminationEventLedger.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace exitwise::app {

// Compares the termination ledger with the recorded events and writes
// "reconciliation_report.json" listing the observed terminations that have no event
// (a diagnosis that never finished, an event trimmed away or lost with an unreadable file).
//
// A years-long ledger is mostly entries older than every stored event, which no event can
// match any more. The reconciler remembers how far such a run from the ledger's start reaches,
// with its count and its newest mismatches, and reads only the rest at the next call, so the
// cost per closure does not grow with the ledger. The report lists the newest
// kMaxListedMismatches mismatches; its mismatchCount counts them all.
class EventLedgerReconciler
{
public:
    static constexpr std::size_t kMaxListedMismatches = 1000;
    // An entry is taken as settled only this long after it was written: no diagnosis runs that
    // long, so no event for it can still arrive.
    static constexpr double kSettledAfterSeconds = 3600.0;

    explicit EventLedgerReconciler(const std::filesystem::path& dataDirectory,
                                   double matchingWindowSeconds = 2.0,
                                   double minimumAgeBeforeMismatchSeconds = 5.0);
    ~EventLedgerReconciler();
    EventLedgerReconciler(const EventLedgerReconciler&) = delete;
    EventLedgerReconciler& operator=(const EventLedgerReconciler&) = delete;

    // Matches the ledger against `events` and replaces the report file. Entries younger than
    // the minimum age are counted but neither matched nor reported: their diagnosis may still
    // be running. A report that cannot be written is still returned. `newerEvents` are events
    // a later version wrote (kept as written): they are recorded events too, matched by the
    // fields this version can read. A ledger replaced or cut short is read again from its start.
    EventLedgerReconciliationReport reconcile(const std::vector<AppEvent>& events,
                                              core::Date now,
                                              const std::vector<core::json::Json>& newerEvents = {}) const;

    // The matching alone, without reading or writing files.
    [[nodiscard]] EventLedgerReconciliationReport
    buildReport(std::vector<TerminationLedgerEntry> entries,
                const std::vector<AppEvent>& events,
                core::Date now,
                const std::vector<core::json::Json>& newerEvents = {}) const;

    [[nodiscard]] const std::filesystem::path& reportURL() const { return m_reportURL; }
    [[nodiscard]] double matchingWindowSeconds() const { return m_matchingWindowSeconds; }
    [[nodiscard]] double minimumAgeBeforeMismatchSeconds() const { return m_minimumAgeBeforeMismatchSeconds; }

private:
    class Pass;
    struct Settled;

    [[nodiscard]] std::optional<EventLedgerReconciliationReport>
    reconcileFrom(Settled& settled,
                  const std::vector<AppEvent>& events,
                  core::Date now,
                  const std::vector<core::json::Json>& newerEvents) const;

    TerminationEventLedger m_ledger;
    std::filesystem::path m_reportURL;
    double m_matchingWindowSeconds;
    double m_minimumAgeBeforeMismatchSeconds;
    mutable std::mutex m_settledLock;
    std::unique_ptr<Settled> m_settled;
};

// Whether `event` accounts for `entry`: same identity (bundle identifiers when both have one,
// else application names), same pid and quit attribution when both have them, the event's
// reason (if any) equal to the entry's, and termination times at most `windowSeconds` apart.
[[nodiscard]] bool
ledgerEntryMatches(const TerminationLedgerEntry& entry, const AppEvent& event, double windowSeconds);

} // namespace exitwise::app
