// SPDX-License-Identifier: MIT
#include "app/stores/EventLedgerReconciler.h"

#include "app/RecordFiles.h"
#include "app/stores/EventStore.h"
#include "support/StoreTesting.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

// The line the monitor writes for a closure of `appName` `endedAt` seconds after the sample time.
TerminationLedgerEntry entryFor(const std::string& appName, double endedAt, double capturedAt)
{
    return test::ledgerEntryFor(test::fullEvent(appName, test::sampleTime(endedAt)),
                                test::sampleTime(capturedAt));
}

// Each row changes the ledger entry and the event of one closure by a JSON merge patch (null
// removes a key).
TEST(LedgerMatching, IdentityTimeReasonAndAttributionRules)
{
    const AppEvent base = test::fullEvent("Sketch", test::sampleTime());
    struct Case
    {
        const char* name;
        const char* entry;
        const char* event;
        bool matches;
    };
    const char* logout = R"({"terminationQuitAttribution":"Logout/session end"})";
    // clang-format off
    const Case cases[] = {
        {"identical", "{}", "{}", true},
        {"2.0 s apart", R"({"terminatedAt":794000002})", "{}", true},
        {"2.0 s apart the other way", "{}", R"({"terminatedAt":794000002})", true},
        {"2.1 s apart", R"({"terminatedAt":794000002.1})", "{}", false},
        {"entry without bundle, same name", R"({"bundleIdentifier":null})", "{}", true},
        {"entry without bundle, other name", R"({"bundleIdentifier":null,"appName":"Other"})", "{}", false},
        {"same bundle, other name", R"({"appName":"Renamed"})", "{}", true},
        {"other bundle, same name", R"({"bundleIdentifier":"org.other.desktop"})", "{}", false},
        {"other pid", R"({"pid":999})", "{}", false},
        {"event without pid", R"({"pid":999})", R"({"pid":null})", true},
        {"event without reason", R"({"terminationReason":"quit"})", R"({"terminationReason":null})", true},
        {"crashed event, quit entry", R"({"terminationReason":"quit"})", "{}", false},
        {"logout entry, event without attribution", logout, R"({"terminationQuitAttribution":null})", true},
        {"different attributions", logout, "{}", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        core::json::Json entry = encode(test::ledgerEntryFor(base, test::sampleTime(1)));
        core::json::Json event = encode(base);
        entry.merge_patch(core::json::parse(c.entry));
        event.merge_patch(core::json::parse(c.event));
        EXPECT_EQ(ledgerEntryMatches(decodeTerminationLedgerEntry(entry), decodeAppEvent(event), 2.0),
                  c.matches)
            << c.name;
    }
}

class Reconciler : public test::StoreTest
{
protected:
    EventLedgerReconciler m_reconciler{directory()};
    TerminationEventLedger m_ledger{directory()};
};

TEST_F(Reconciler, ReportsUnmatchedEntriesNewestFirstAndSkipsYoungOnes)
{
    const core::Date now = test::sampleTime(1000);
    const AppEvent recorded = test::fullEvent("Recorded", test::sampleTime(100));
    const std::vector<TerminationLedgerEntry> entries = {
        entryFor("Old", 10, 11),      test::ledgerEntryFor(recorded, test::sampleTime(101)),
        entryFor("Newer", 500, 501),  entryFor("Young", 996, 997),
        entryFor("Middle", 200, 201),
    };
    for (const auto& entry : entries) {
        m_ledger.append(entry);
    }

    const auto mismatch = [](const TerminationLedgerEntry& e) {
        return EventLedgerMismatch(e.id, e.appName, e.bundleIdentifier, e.pid, e.terminatedAt, e.reason(),
                                   e.terminationQuitAttribution, e.terminationRawValue,
                                   "No recorded AppEvent within 2.0s and same identity");
    };
    const EventLedgerReconciliationReport expected{
        now, 5, 1, 3, {mismatch(entries[2]), mismatch(entries[4]), mismatch(entries[0])}};
    EXPECT_EQ(m_reconciler.reconcile({recorded}, now), expected);

    EXPECT_EQ(records::readFile(m_reconciler.reportURL()).value(), core::json::dumpPretty(encode(expected)));
}

TEST(ReconciliationReportText, MatchesTheGeneralPrettyPrinter)
{
    EventLedgerReconciliationReport report{test::sampleTime(0.1), 3, 2, 0, {}};
    EXPECT_EQ(prettyReportJson(report), core::json::dumpPretty(encode(report))) << "no mismatches";

    TerminationLedgerEntry odd = test::ledgerEntryFor(
        test::fullEvent("Caf\u00e9 \"Q\"\\\t\x01", test::sampleTime(-0.5)), test::sampleTime());
    odd.terminationRawValue = "line\nbreak \x7f \xF0\x9F\x98\x80";
    const TerminationLedgerEntry bare{{.appName = "Invalid \xC3 byte",
                                       .terminatedAt = core::dateFromReferenceSeconds(-1234.000001),
                                       .terminationReason = core::TerminationReason::quit},
                                      Uuid::random(),
                                      test::sampleTime(),
                                      kWorkspaceTerminationSource};
    report = EventLedgerReconciler("/nonexistent").buildReport({odd, bare}, {}, test::sampleTime(100));
    ASSERT_EQ(report.mismatchCount, 2);
    EXPECT_EQ(prettyReportJson(report), core::json::dumpPretty(encode(report)));
}

TEST(ReconcilerBound, ListsTheNewestThousandAndCountsThemAll)
{
    // Pairs of equal times, so the cut falls between two entries that tie.
    std::vector<TerminationLedgerEntry> entries;
    for (int i = 0; i < 1203; ++i) {
        entries.push_back(entryFor("A", ((i * 7) % 1203) / 2, 1000));
    }
    const auto report =
        EventLedgerReconciler("/nonexistent").buildReport(entries, {}, test::sampleTime(2000));
    EXPECT_EQ(report.evidenceCount, 1203);
    EXPECT_EQ(report.mismatchCount, 1203);
    ASSERT_EQ(report.mismatches.size(), 1000u);
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return core::secondsSince1970(a.terminatedAt) > core::secondsSince1970(b.terminatedAt);
    });
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(report.mismatches[i].ledgerEntryID, entries[i].id) << i;
    }
}

// A reconciler that remembers the settled start of the ledger reports exactly what one reading
// the whole ledger reports: through trims, late and missing events, an event list unreadable
// once and one lost, a torn last line, and a ledger cut short in place or replaced.
TEST_F(Reconciler, RememberingTheSettledRunChangesNoReport)
{
    constexpr double kApart = 900; // eight kept events span two hours
    std::mt19937 random(11);
    std::vector<AppEvent> events; // newest first, at most 8
    std::optional<AppEvent> late; // diagnosed a step after it ended
    std::optional<AppEvent> stray;
    const auto keep = [&events](AppEvent event) {
        events.push_back(std::move(event));
        sortNewestFirst(events);
        events.resize(std::min<std::size_t>(events.size(), 8));
    };
    for (int step = 0; step < 90; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const core::Date ended = test::sampleTime(kApart * step);
        if (step == 40) {
            events.clear(); // the event file lost: the list starts again
        }
        if (late) {
            keep(*std::exchange(late, std::nullopt));
        }
        if (step == 41) {
            keep(std::move(*stray)); // older than every event now kept
        }
        AppEvent event = test::fullEvent(step % 3 == 0 ? "A" : "B", ended, 100 + step);
        m_ledger.append(test::ledgerEntryFor(event, ended + core::Seconds(1)));
        const unsigned fate = random() % 10;
        if (step == 39) {
            stray = std::move(event); // diagnosed two steps later
        } else if (fate < 7 || step == 40) {
            keep(std::move(event));
        } else if (fate < 9) {
            late = std::move(event);
        }
        if (step == 30) {
            ASSERT_FALSE(records::plainAppend(m_ledger.fileURL(), "{\"id\":\"torn").has_value());
        }
        std::string text = step == 50 || step == 65 ? test::readFile(m_ledger.fileURL()) : "";
        if (step == 50) { // the same file, its older half cut away
            text.erase(0, text.find('\n', text.size() / 2) + 1);
            std::ofstream(m_ledger.fileURL(), std::ios::binary | std::ios::trunc) << text;
        } else if (step == 65) { // a new file, no shorter, with other content where the old was settled
            text.replace(text.find("\"appName\":\"") + 11, 1, "C");
            ASSERT_FALSE(records::atomicReplace(m_ledger.fileURL(), text).has_value());
        }
        const std::vector<AppEvent> shown = step == 20 ? std::vector<AppEvent>{} : events;
        const core::Date now = ended + core::Seconds(10);
        ASSERT_EQ(m_reconciler.reconcile(shown, now),
                  m_reconciler.buildReport(m_ledger.readAll(), shown, now))
            << "the remembered settled run and the whole ledger disagree";
    }
}

// A line still being written is not part of the settled run, however old its entry.
TEST_F(Reconciler, ALineWithoutItsLineFeedIsReadAgain)
{
    for (int i = 0; i < 10; ++i) {
        m_ledger.append(entryFor("Old", i, i + 1));
    }
    const std::string line = records::jsonLine(encode(entryFor("Old", 20, 21)));
    const AppEvent recent = test::fullEvent("Recent", test::sampleTime(7200));
    const core::Date now = test::sampleTime(7300);
    std::ofstream writer(m_ledger.fileURL(), std::ios::binary | std::ios::app);
    writer << line.substr(0, 40) << std::flush;
    EXPECT_EQ(m_reconciler.reconcile({recent}, now).mismatchCount, 10);
    writer << line.substr(40) << std::flush;
    EXPECT_EQ(m_reconciler.reconcile({recent}, now).mismatchCount, 11);
}

// The time-indexed search must agree with trying every event for every entry.
TEST(ReconcilerIndex, AgreesWithTheExhaustiveSearch)
{
    std::mt19937 random(7);
    const char* names[] = {"A", "B", "C"};
    const EventLedgerReconciler reconciler("/nonexistent");
    for (int round = 0; round < 20; ++round) {
        std::vector<AppEvent> events;
        std::vector<TerminationLedgerEntry> entries;
        for (int i = 0; i < 40; ++i) {
            AppEvent event =
                test::fullEvent(names[random() % 3], test::sampleTime(random() % 200 / 4.0), random() % 2);
            if (random() % 3 == 0) {
                event.bundleIdentifier.reset();
            }
            if (random() % 4 == 0) {
                event.terminationReason.reset();
            }
            entries.push_back(test::ledgerEntryFor(
                test::fullEvent(names[random() % 3], test::sampleTime(random() % 200 / 4.0), random() % 2),
                test::sampleTime(60)));
            events.push_back(std::move(event));
        }
        // Each entry that no event matches, once, and no other.
        std::multiset<Uuid> expected;
        for (const auto& entry : entries) {
            const auto matches = [&entry](const AppEvent& e) { return ledgerEntryMatches(entry, e, 2.0); };
            if (std::none_of(events.begin(), events.end(), matches)) {
                expected.insert(entry.id);
            }
        }
        std::multiset<Uuid> reported;
        for (const EventLedgerMismatch& mismatch :
             reconciler.buildReport(entries, events, test::sampleTime(100)).mismatches) {
            reported.insert(mismatch.ledgerEntryID);
        }
        EXPECT_EQ(reported, expected) << "round " << round;
    }
}

} // namespace
} // namespace exitwise::app
