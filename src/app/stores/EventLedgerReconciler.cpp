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
                               entry.reason(),
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

// The newest mismatches by terminatedAt (ledger order among equal times), at most `limit`
// of them, and how many there were in all.
class NewestMismatches
{
public:
    explicit NewestMismatches(std::size_t limit)
        : m_limit(limit)
    {}

    // `position` orders the ledger: later lines have larger positions.
    void add(std::uint64_t position, EventLedgerMismatch&& mismatch)
    {
        ++m_count;
        m_kept.push_back(Kept{position, std::move(mismatch)});
        trimWhenFull();
    }

    void add(const NewestMismatches& other)
    {
        m_count += other.m_count;
        m_kept.insert(m_kept.end(), other.m_kept.begin(), other.m_kept.end());
        trimWhenFull();
    }

    [[nodiscard]] std::int64_t count() const { return m_count; }

    [[nodiscard]] std::vector<EventLedgerMismatch> newestFirst() &&
    {
        trim();
        std::vector<EventLedgerMismatch> mismatches;
        mismatches.reserve(m_kept.size());
        for (Kept& kept : m_kept) {
            mismatches.push_back(std::move(kept.mismatch));
        }
        return mismatches;
    }

private:
    struct Kept
    {
        std::uint64_t position;
        EventLedgerMismatch mismatch;
    };

    // Trimming at twice the limit keeps adding cheap.
    void trimWhenFull()
    {
        if (m_kept.size() > 2 * m_limit) {
            trim();
        }
    }

    void trim()
    {
        std::sort(m_kept.begin(), m_kept.end(), [](const Kept& a, const Kept& b) {
            const double ta = seconds(a.mismatch.terminatedAt);
            const double tb = seconds(b.mismatch.terminatedAt);
            return ta != tb ? ta > tb : a.position < b.position;
        });
        if (m_kept.size() > m_limit) {
            m_kept.erase(m_kept.begin() + static_cast<std::ptrdiff_t>(m_limit), m_kept.end());
        }
    }

    std::size_t m_limit;
    std::int64_t m_count = 0;
    std::vector<Kept> m_kept;
};

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
    if (event.terminationReason && *event.terminationReason != entry.reason()) {
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
    , m_settled(std::make_unique<Settled>())
{}

EventLedgerReconciler::~EventLedgerReconciler() = default;

// The run of ledger lines from the start that no event can match any more: all mismatches.
struct EventLedgerReconciler::Settled
{
    records::FileIdentity file; // device and inode of the ledger it was read from
    std::uint64_t end = 0;      // where the run ends: the start of the first unsettled line
    std::int64_t entries = 0;   // decodable entries in it, each a mismatch
    NewestMismatches mismatches{kMaxListedMismatches};
};

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

    void add(std::uint64_t position, TerminationLedgerEntry&& entry)
    {
        ++m_evidenceCount;
        const double age = seconds(m_now) - seconds(entry.capturedAt);
        // Younger entries may still be being diagnosed.
        if (age + kTimeToleranceSeconds < m_reconciler.m_minimumAgeBeforeMismatchSeconds || hasMatch(entry)) {
            return;
        }
        m_unmatched.add(position, mismatchFor(std::move(entry), m_reason));
    }

    // Whether no event can match `entry`, now or later: it ended well before the oldest event
    // (events only ever come newer) and was written long enough ago that its own event, if it
    // gets one, has arrived. Without events nothing is settled: a list that could not be read
    // this time may be back the next.
    [[nodiscard]] bool settles(const TerminationLedgerEntry& entry) const
    {
        if (m_byTime.empty()) {
            return false;
        }
        const double reach = m_reconciler.m_matchingWindowSeconds + 1.0;
        return seconds(entry.terminatedAt) < seconds(m_byTime.front()->terminatedAt) - reach
               && seconds(entry.capturedAt) < seconds(m_now) - kSettledAfterSeconds;
    }

    [[nodiscard]] const std::string& reason() const { return m_reason; }

    // The report of this pass after the settled run (none for a pass over a list of entries).
    EventLedgerReconciliationReport finish(const Settled* settled, const Settled* newlySettled) &&
    {
        EventLedgerReconciliationReport report;
        report.generatedAt = m_now;
        report.evidenceCount = m_evidenceCount;
        report.recordedEventCount = m_recordedEventCount;
        for (const Settled* run : {settled, newlySettled}) {
            if (run != nullptr) {
                report.evidenceCount += run->entries;
                m_unmatched.add(run->mismatches);
            }
        }
        report.mismatchCount = m_unmatched.count();
        report.mismatches = std::move(m_unmatched).newestFirst();
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
    NewestMismatches m_unmatched{kMaxListedMismatches};
};

EventLedgerReconciliationReport
EventLedgerReconciler::buildReport(std::vector<TerminationLedgerEntry> entries,
                                   const std::vector<AppEvent>& events,
                                   core::Date now,
                                   const std::vector<core::json::Json>& newerEvents) const
{
    Pass pass(*this, events, newerEvents, now);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        pass.add(i, std::move(entries[i]));
    }
    return std::move(pass).finish(nullptr, nullptr);
}

std::optional<EventLedgerReconciliationReport>
EventLedgerReconciler::reconcileFrom(Settled& settled,
                                     const std::vector<AppEvent>& events,
                                     core::Date now,
                                     const std::vector<core::json::Json>& newerEvents) const
{
    Pass pass(*this, events, newerEvents, now);
    // Lines that settle right after the settled run extend it, once the file proves the same.
    Settled grown;
    grown.end = settled.end;
    bool extending = true;
    records::FileIdentity file;
    const bool read = m_ledger.forEachLineFrom(
        settled.end, file,
        [&](std::optional<TerminationLedgerEntry>&& entry, const records::LineInFile& line) {
            extending = extending && line.complete && (!entry || pass.settles(*entry));
            if (!extending) {
                if (entry) {
                    pass.add(line.end, std::move(*entry));
                }
                return;
            }
            if (entry) {
                ++grown.entries;
                grown.mismatches.add(line.end, mismatchFor(std::move(*entry), pass.reason()));
            }
            grown.end = line.end;
        });
    if (settled.end > 0
        && (!read || file.device != settled.file.device || file.inode != settled.file.inode
            || file.size < settled.end)) {
        return std::nullopt; // not the ledger the run was read from
    }
    EventLedgerReconciliationReport report = std::move(pass).finish(&settled, &grown);
    if (read) {
        settled.file = file;
        settled.end = grown.end;
        settled.entries += grown.entries;
        settled.mismatches.add(grown.mismatches);
    }
    return report;
}

EventLedgerReconciliationReport
EventLedgerReconciler::reconcile(const std::vector<AppEvent>& events,
                                 core::Date now,
                                 const std::vector<core::json::Json>& newerEvents) const
{
    const std::lock_guard lock(m_settledLock);
    std::optional<EventLedgerReconciliationReport> report =
        reconcileFrom(*m_settled, events, now, newerEvents);
    if (!report) {
        *m_settled = Settled{};
        report = reconcileFrom(*m_settled, events, now, newerEvents);
    }
    // The report is for inspection only; failing to write it changes nothing.
    static_cast<void>(records::atomicReplace(
        m_reportURL, [&report](const records::ContentSink& sink) { writePrettyReportJson(*report, sink); },
        records::NewFileMode::ownerOnly, records::Links::refuse));
    return std::move(*report);
}

} // namespace exitwise::app
