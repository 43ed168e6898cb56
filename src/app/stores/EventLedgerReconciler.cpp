// SPDX-License-Identifier: MIT
#include "app/stores/EventLedgerReconciler.h"

#include "app/RecordFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace exitwise::app {

namespace {

// Dates read from the files pass through an epoch conversion that leaves a rounding error
// below a microsecond; without this slack two times stored exactly 2.0 s apart could miss.
constexpr double kTimeToleranceSeconds = 1e-6;

double seconds(core::Date date)
{
    return core::secondsSince1970(date);
}

std::string mismatchReason(double windowSeconds)
{
    char window[64];
    std::snprintf(window, sizeof window, "%.1f", windowSeconds);
    return std::string("No recorded AppEvent within ") + window + "s and same identity";
}

EventLedgerMismatch mismatchFor(TerminationLedgerEntry&& entry, const std::string& reason)
{
    return EventLedgerMismatch{entry.id,
                               std::move(entry.appName),
                               std::move(entry.bundleIdentifier),
                               entry.pid,
                               entry.terminatedAt,
                               entry.terminationReason,
                               entry.terminationQuitAttribution,
                               std::move(entry.terminationRawValue),
                               reason};
}

// What the reconciliation needs of an event a later version wrote, read field by field: a
// field this version cannot read (a new reason) is left out and then matches any.
std::optional<AppEvent> matchingFieldsOf(const core::json::Json& value)
{
    namespace json = core::json;
    if (!value.is_object()) {
        return std::nullopt;
    }
    const auto field = [&value](const char* key) -> const json::Json* {
        const auto it = value.find(key);
        return it == value.end() || it->is_null() ? nullptr : &*it;
    };
    const auto read = [](const json::Json* v, auto decode) -> std::optional<decltype(decode(*v))> {
        if (v == nullptr) {
            return std::nullopt;
        }
        try {
            return decode(*v);
        } catch (const json::DecodeError&) {
            return std::nullopt;
        }
    };
    const auto appName = read(field("appName"), json::decodeString);
    const auto terminatedAt =
        read(field("terminatedAt"), [](const json::Json& v) { return json::decodeDate(v, {}); });
    if (!appName || !terminatedAt) {
        return std::nullopt;
    }
    AppEvent event{};
    event.appName = *appName;
    event.terminatedAt = *terminatedAt;
    event.bundleIdentifier = read(field("bundleIdentifier"), json::decodeString);
    event.pid = read(field("pid"), json::decodeInt32);
    event.terminationReason = read(field("terminationReason"), json::decodeEnum<core::TerminationReason>);
    event.terminationQuitAttribution =
        read(field("terminationQuitAttribution"), json::decodeEnum<core::QuitAttribution>);
    return event;
}

} // namespace

bool ledgerEntryMatches(const TerminationLedgerEntry& entry, const AppEvent& event, double windowSeconds)
{
    if (entry.bundleIdentifier && event.bundleIdentifier) {
        if (*entry.bundleIdentifier != *event.bundleIdentifier) {
            return false;
        }
    } else if (entry.appName != event.appName) {
        return false;
    }
    if (entry.pid && event.pid && *entry.pid != *event.pid) {
        return false;
    }
    if (std::abs(seconds(entry.terminatedAt) - seconds(event.terminatedAt))
        > windowSeconds + kTimeToleranceSeconds) {
        return false;
    }
    if (event.terminationReason && *event.terminationReason != entry.terminationReason) {
        return false;
    }
    if (entry.terminationQuitAttribution && event.terminationQuitAttribution
        && *entry.terminationQuitAttribution != *event.terminationQuitAttribution) {
        return false;
    }
    return true;
}

EventLedgerReconciler::EventLedgerReconciler(const std::filesystem::path& dataDirectory,
                                             double matchingWindowSeconds,
                                             double minimumAgeBeforeMismatchSeconds)
    : m_ledger(dataDirectory)
    , m_reportURL(dataDirectory / "reconciliation_report.json")
    , m_matchingWindowSeconds(matchingWindowSeconds)
    , m_minimumAgeBeforeMismatchSeconds(minimumAgeBeforeMismatchSeconds)
{}

// One pass over the ledger: counts every entry and keeps the unmatched eligible ones.
class EventLedgerReconciler::Pass
{
public:
    Pass(const EventLedgerReconciler& reconciler,
         const std::vector<AppEvent>& events,
         const std::vector<core::json::Json>& newerEvents,
         core::Date now)
        : m_reconciler(reconciler)
        , m_now(now)
        , m_recordedEventCount(static_cast<std::int64_t>(events.size() + newerEvents.size()))
        , m_reason(mismatchReason(reconciler.m_matchingWindowSeconds))
    {
        for (const core::json::Json& newer : newerEvents) {
            if (std::optional<AppEvent> fields = matchingFieldsOf(newer)) {
                m_newer.push_back(std::move(*fields));
            }
        }
        // A years-long ledger meets up to 200 events: look only at the events whose
        // termination time is near the entry's. The exact rules decide in the end.
        m_byTime.reserve(events.size() + m_newer.size());
        for (const AppEvent& event : events) {
            m_byTime.push_back(&event);
        }
        for (const AppEvent& event : m_newer) {
            m_byTime.push_back(&event);
        }
        std::stable_sort(m_byTime.begin(), m_byTime.end(), [](const AppEvent* a, const AppEvent* b) {
            return seconds(a->terminatedAt) < seconds(b->terminatedAt);
        });
    }

    void add(TerminationLedgerEntry&& entry)
    {
        ++m_evidenceCount;
        const double age = seconds(m_now) - seconds(entry.capturedAt);
        // Younger entries may still be being diagnosed.
        if (age + kTimeToleranceSeconds < m_reconciler.m_minimumAgeBeforeMismatchSeconds || hasMatch(entry)) {
            return;
        }
        m_unmatched.push_back(mismatchFor(std::move(entry), m_reason));
    }

    EventLedgerReconciliationReport finish()
    {
        // Newest first; equal times keep ledger order. Sorting indices moves each record once.
        std::vector<std::size_t> order(m_unmatched.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
            return seconds(m_unmatched[a].terminatedAt) > seconds(m_unmatched[b].terminatedAt);
        });
        EventLedgerReconciliationReport report;
        report.generatedAt = m_now;
        report.evidenceCount = m_evidenceCount;
        report.recordedEventCount = m_recordedEventCount;
        report.mismatchCount = static_cast<std::int64_t>(order.size());
        report.mismatches.reserve(order.size());
        for (const std::size_t i : order) {
            report.mismatches.push_back(std::move(m_unmatched[i]));
        }
        return report;
    }

private:
    bool hasMatch(const TerminationLedgerEntry& entry) const
    {
        const double window = m_reconciler.m_matchingWindowSeconds;
        const double reach = window + 1.0;
        const double t = seconds(entry.terminatedAt);
        auto it = std::lower_bound(
            m_byTime.begin(), m_byTime.end(), t - reach,
            [](const AppEvent* event, double bound) { return seconds(event->terminatedAt) < bound; });
        for (; it != m_byTime.end() && seconds((*it)->terminatedAt) <= t + reach; ++it) {
            if (ledgerEntryMatches(entry, **it, window)) {
                return true;
            }
        }
        return false;
    }

    const EventLedgerReconciler& m_reconciler;
    core::Date m_now;
    std::int64_t m_evidenceCount = 0;
    std::int64_t m_recordedEventCount;
    std::string m_reason;
    std::vector<AppEvent> m_newer; // the readable part of the later version's events
    std::vector<const AppEvent*> m_byTime;
    std::vector<EventLedgerMismatch> m_unmatched;
};

EventLedgerReconciliationReport
EventLedgerReconciler::buildReport(std::vector<TerminationLedgerEntry> entries,
                                   const std::vector<AppEvent>& events,
                                   core::Date now,
                                   const std::vector<core::json::Json>& newerEvents) const
{
    Pass pass(*this, events, newerEvents, now);
    for (TerminationLedgerEntry& entry : entries) {
        pass.add(std::move(entry));
    }
    return pass.finish();
}

EventLedgerReconciliationReport
EventLedgerReconciler::reconcile(const std::vector<AppEvent>& events,
                                 core::Date now,
                                 const std::vector<core::json::Json>& newerEvents) const
{
    // Streams the ledger instead of holding all of it: a long one is mostly mismatches.
    Pass pass(*this, events, newerEvents, now);
    m_ledger.forEachEntry([&pass](TerminationLedgerEntry&& entry) { pass.add(std::move(entry)); });
    EventLedgerReconciliationReport report = pass.finish();
    // The report is for inspection only; failing to write it changes nothing.
    static_cast<void>(records::atomicReplace(
        m_reportURL, [&report](const records::ContentSink& sink) { writePrettyReportJson(report, sink); },
        records::NewFileMode::ownerOnly, records::Links::refuse));
    return report;
}

} // namespace exitwise::app
