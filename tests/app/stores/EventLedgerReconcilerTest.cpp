// SPDX-License-Identifier: MIT
#include "app/stores/EventLedgerReconciler.h"

#include "app/RecordFiles.h"
#include "support/StoreTesting.h"

#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> mismatchNames(const EventLedgerReconciliationReport& report)
{
    std::vector<std::string> names;
    for (const auto& mismatch : report.mismatches) {
        names.push_back(mismatch.appName);
    }
    return names;
}

// The line the monitor writes for a closure of `appName` `endedAt` seconds after the sample time.
TerminationLedgerEntry entryFor(const std::string& appName, double endedAt, double capturedAt)
{
    return test::ledgerEntryFor(test::fullEvent(appName, test::sampleTime(endedAt)),
                                test::sampleTime(capturedAt));
}

TEST(LedgerMatching, IdentityTimeReasonAndAttributionRules)
{
    const AppEvent base = test::fullEvent("Sketch", test::sampleTime());
    struct Case
    {
        const char* name;
        std::function<void(TerminationLedgerEntry&, AppEvent&)> change;
        bool matches;
    };
    const Case cases[] = {
        {"identical", [](auto&, auto&) {}, true},
        {"2.0 s apart", [](auto& e, auto&) { e.terminatedAt += core::Seconds(2.0); }, true},
        {"2.0 s apart the other way", [](auto&, auto& v) { v.terminatedAt += core::Seconds(2.0); }, true},
        {"2.1 s apart", [](auto& e, auto&) { e.terminatedAt += core::Seconds(2.1); }, false},
        {"entry without bundle, same name", [](auto& e, auto&) { e.bundleIdentifier.reset(); }, true},
        {"entry without bundle, other name",
         [](auto& e, auto&) {
             e.bundleIdentifier.reset();
             e.appName = "Other";
         },
         false},
        {"same bundle, other name", [](auto& e, auto&) { e.appName = "Renamed"; }, true},
        {"other bundle, same name", [](auto& e, auto&) { e.bundleIdentifier = "org.other.desktop"; }, false},
        {"other pid", [](auto& e, auto&) { e.pid = 999; }, false},
        {"event without pid",
         [](auto& e, auto& v) {
             e.pid = 999;
             v.pid.reset();
         },
         true},
        {"event without reason",
         [](auto& e, auto& v) {
             e.terminationReason = core::TerminationReason::quit;
             v.terminationReason.reset();
         },
         true},
        {"crashed event, quit entry",
         [](auto& e, auto&) { e.terminationReason = core::TerminationReason::quit; }, false},
        {"logout entry, event without attribution",
         [](auto& e, auto& v) {
             e.terminationQuitAttribution = core::QuitAttribution::logout;
             v.terminationQuitAttribution.reset();
         },
         true},
        {"different attributions",
         [](auto& e, auto&) { e.terminationQuitAttribution = core::QuitAttribution::logout; }, false},
    };
    for (const Case& c : cases) {
        AppEvent event = base;
        TerminationLedgerEntry entry = test::ledgerEntryFor(base, test::sampleTime(1));
        c.change(entry, event);
        EXPECT_EQ(ledgerEntryMatches(entry, event, 2.0), c.matches) << c.name;
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

    const EventLedgerReconciliationReport report = m_reconciler.reconcile({recorded}, now);
    EXPECT_EQ(report.generatedAt, now);
    EXPECT_EQ(report.evidenceCount, 5);
    EXPECT_EQ(report.recordedEventCount, 1);
    EXPECT_EQ(report.mismatchCount, 3);
    EXPECT_EQ(mismatchNames(report), (std::vector<std::string>{"Newer", "Middle", "Old"}));
    ASSERT_FALSE(report.mismatches.empty());
    EXPECT_EQ(report.mismatches[0].ledgerEntryID, entries[2].id);
    EXPECT_EQ(report.mismatches[0].reason, "No recorded AppEvent within 2.0s and same identity");

    // The report file is pretty-printed with sorted keys and holds the same report.
    const std::string text = records::readFile(m_reconciler.reportURL()).value();
    EXPECT_EQ(text.rfind("{\n  \"evidenceCount\": 5,", 0), 0u) << text;
    EXPECT_EQ(decodeEventLedgerReconciliationReport(core::json::parse(text)), report);
}

TEST(ReconciliationReportText, MatchesTheGeneralPrettyPrinter)
{
    EventLedgerReconciliationReport report;
    report.generatedAt = test::sampleTime(0.1);
    report.evidenceCount = 3;
    report.recordedEventCount = 2;
    EXPECT_EQ(prettyReportJson(report), core::json::dumpPretty(encode(report))) << "no mismatches";

    TerminationLedgerEntry odd = test::ledgerEntryFor(
        test::fullEvent("Caf\u00e9 \"Q\"\\\t\x01", test::sampleTime(-0.5)), test::sampleTime());
    odd.terminationRawValue = "line\nbreak \x7f \xF0\x9F\x98\x80";
    TerminationLedgerEntry bare = odd;
    bare.bundleIdentifier.reset();
    bare.pid.reset();
    bare.terminationRawValue.reset();
    bare.terminationQuitAttribution.reset();
    bare.appName = "Invalid \xC3 byte";
    bare.terminatedAt = core::dateFromReferenceSeconds(-1234.000001);
    report = EventLedgerReconciler("/nonexistent").buildReport({odd, bare}, {}, test::sampleTime(100));
    ASSERT_EQ(report.mismatchCount, 2);
    EXPECT_EQ(prettyReportJson(report), core::json::dumpPretty(encode(report)));
}

TEST_F(Reconciler, MissingLedgerGivesAnEmptyReportThatIsStillWritten)
{
    const auto report =
        m_reconciler.reconcile({test::fullEvent("A", test::sampleTime())}, test::sampleTime(10));
    EXPECT_EQ(report.evidenceCount, 0);
    EXPECT_EQ(report.recordedEventCount, 1);
    EXPECT_TRUE(report.mismatches.empty());
    EXPECT_TRUE(fs::exists(m_reconciler.reportURL()));
}

TEST(ReconcilerBound, ListsTheNewestThousandAndCountsThemAll)
{
    // Pairs of equal times, so the cut falls between two entries that tie.
    std::vector<TerminationLedgerEntry> entries;
    for (int i = 0; i < 1203; ++i) {
        entries.push_back(entryFor("A", ((i * 7) % 1203) / 2, 1000));
    }
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return core::secondsSince1970(entries[a].terminatedAt)
               > core::secondsSince1970(entries[b].terminatedAt);
    });
    const auto report =
        EventLedgerReconciler("/nonexistent").buildReport(entries, {}, test::sampleTime(2000));
    EXPECT_EQ(report.evidenceCount, 1203);
    EXPECT_EQ(report.mismatchCount, 1203);
    ASSERT_EQ(report.mismatches.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(report.mismatches[i].ledgerEntryID, entries[order[i]].id) << i;
    }
}

// The ledger's lines, each with its line feed.
std::vector<std::string> ledgerLines(const fs::path& file)
{
    std::vector<std::string> lines;
    static_cast<void>(records::forEachLineInFile(
        file, [&lines](std::string_view line) { lines.push_back(std::string(line) + "\n"); }));
    return lines;
}

// A reconciler that remembers the settled start of the ledger reports exactly what one reading
// the whole ledger reports: through trims, late and missing events, an event list unreadable
// once and one lost, a torn last line, and a ledger cut short in place or replaced.
TEST_F(Reconciler, RememberingTheSettledRunChangesNoReport)
{
    constexpr double kApart = 900; // eight kept events span two hours
    std::mt19937 random(11);
    TerminationEventLedger& ledger = m_ledger;
    std::vector<AppEvent> events; // newest first, at most 8
    std::vector<AppEvent> late;   // diagnosed a step after they ended
    std::optional<AppEvent> stray;
    const auto keep = [&events](AppEvent event) {
        events.push_back(std::move(event));
        std::stable_sort(events.begin(), events.end(), [](const AppEvent& a, const AppEvent& b) {
            return core::secondsSince1970(a.terminatedAt) > core::secondsSince1970(b.terminatedAt);
        });
        events.resize(std::min<std::size_t>(events.size(), 8));
    };
    for (int step = 0; step < 90; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const core::Date ended = test::sampleTime(kApart * step);
        if (step == 40) {
            events.clear(); // the event file lost: the list starts again
        }
        for (AppEvent& event : late) {
            keep(std::move(event));
        }
        late.clear();
        if (step == 41) {
            keep(std::move(*stray)); // older than every event now kept
        }
        AppEvent event = test::fullEvent(step % 3 == 0 ? "A" : "B", ended, 100 + step);
        ledger.append(test::ledgerEntryFor(event, ended + core::Seconds(1)));
        const unsigned fate = random() % 10;
        if (step == 39) {
            stray = std::move(event); // diagnosed two steps later
        } else if (fate < 7 || step == 40) {
            keep(std::move(event));
        } else if (fate < 9) {
            late.push_back(std::move(event));
        }
        if (step == 30) {
            ASSERT_FALSE(records::plainAppend(ledger.fileURL(), "{\"id\":\"torn").has_value());
        }
        if (step == 50 || step == 65) {
            const std::vector<std::string> lines = ledgerLines(ledger.fileURL());
            std::string kept;
            for (std::size_t i = lines.size() - 20; i < lines.size(); ++i) {
                kept += lines[i];
            }
            if (step == 50) {
                std::ofstream(ledger.fileURL(), std::ios::binary | std::ios::trunc) << kept; // same file
            } else {
                // A new file, no shorter, with other content where the old one was settled.
                kept = lines[0];
                kept.replace(kept.find("\"appName\":\"") + 11, 1, "C");
                for (std::size_t i = 1; i < lines.size(); ++i) {
                    kept += lines[i];
                }
                ASSERT_FALSE(records::atomicReplace(ledger.fileURL(), kept).has_value());
            }
        }
        const std::vector<AppEvent> shown = step == 20 ? std::vector<AppEvent>{} : events;
        const core::Date now = ended + core::Seconds(10);
        const auto remembered = m_reconciler.reconcile(shown, now);
        const auto whole = m_reconciler.buildReport(ledger.readAll(), shown, now);
        ASSERT_EQ(remembered, whole);
    }
}

// A line still being written is not part of the settled run, however old its entry.
TEST_F(Reconciler, ALineWithoutItsLineFeedIsReadAgain)
{
    for (int i = 0; i < 10; ++i) {
        m_ledger.append(entryFor("Old", i, i + 1));
    }
    const TerminationEventLedger& ledger = m_ledger;
    const std::string line = records::jsonLine(encode(entryFor("Old", 20, 21)));
    const AppEvent recent = test::fullEvent("Recent", test::sampleTime(7200));
    const core::Date now = test::sampleTime(7300);
    std::ofstream writer(ledger.fileURL(), std::ios::binary | std::ios::app);
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
        const auto report = reconciler.buildReport(entries, events, test::sampleTime(100));
        std::vector<Uuid> expected;
        for (const auto& entry : entries) {
            if (std::none_of(events.begin(), events.end(),
                             [&](const AppEvent& e) { return ledgerEntryMatches(entry, e, 2.0); })) {
                expected.push_back(entry.id);
            }
        }
        std::vector<Uuid> actual;
        std::transform(report.mismatches.begin(), report.mismatches.end(), std::back_inserter(actual),
                       [](const EventLedgerMismatch& m) { return m.ledgerEntryID; });
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        EXPECT_EQ(actual, expected) << "round " << round;
    }
}

} // namespace
} // namespace exitwise::app
