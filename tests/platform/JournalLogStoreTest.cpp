// SPDX-License-Identifier: MIT
#include "platform/linux/JournalLogStore.h"

#include "support/JournalFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using core::LogEntry;
using core::LogPredicate;
using test::JournalFixture;
using test::JournalRecord;

constexpr double kT = 1700000000.0;

core::Date at(double offset)
{
    return core::dateFromSecondsSince1970(kT + offset);
}

LogPredicate predicate(std::string_view text)
{
    return std::get<LogPredicate>(LogPredicate::parse(text));
}

std::vector<LogEntry>
readAll(const JournalLogStore& store, const core::LogQuery& query, std::size_t stopAfter = 1000)
{
    std::vector<LogEntry> entries;
    const auto error = store.readEntries(query, [&](const LogEntry& entry) {
        entries.push_back(entry);
        return entries.size() < stopAfter;
    });
    EXPECT_FALSE(error.has_value()) << error->message;
    return entries;
}

#define SKIP_WITHOUT_JOURNAL_TOOL()                                                                          \
    if (!JournalFixture::available()) {                                                                      \
        GTEST_SKIP() << JournalFixture::kRemoteTool << " is missing (package systemd-journal-remote)";       \
    }

TEST(JournalLogStore, MapsJournalFieldsToEntries)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.write({
                  {kT + 1, "kernel", std::nullopt, "", "", "entry from the kernel"},
                  {kT + 2, "", 812, "sketchpad", "/opt/sketchpad", "entry without identifier"},
                  {kT + 3, "Sketch Pad", 813, "sketchpad", "", "entry with both names"},
                  {kT + 4, "app", 9, "", "", std::string("entry\nwith a break and a bad byte \xff")},
              }),
              "");
    const auto entries = readAll(JournalLogStore(journal.directory()),
                                 {at(0), at(10), predicate(R"(eventMessage CONTAINS[c] "ENTRY")")});
    EXPECT_EQ(entries, (std::vector<LogEntry>{
                           {at(1), "kernel", std::nullopt, "", "entry from the kernel"},
                           {at(2), "sketchpad", 812, "/opt/sketchpad", "entry without identifier"},
                           {at(3), "Sketch Pad", 813, "", "entry with both names"},
                           {at(4), "app", 9, "", "entry\nwith a break and a bad byte \uFFFD"},
                       }));
}

TEST(JournalLogStore, CutsLongFieldsAt64KiBOnACharacterBoundary)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    // "é" is two bytes: 65,535 of "a" put one across the 64 KiB mark.
    std::string accented(65535, 'a');
    while (accented.size() < 300000) {
        accented += "\u00E9";
    }
    ASSERT_EQ(journal.write({
                  {kT + 1, "app", 9, "", "", std::string(300000, 'x')},
                  {kT + 2, "app", 9, "", "", accented},
                  {kT + 3, "app", 9, "", "", std::string(300000, '\xFF')},
                  {kT + 4, "app", 9, "", "", std::string(300000, '\x80')},
                  {kT + 5, "app", 9, "", "", "short"},
              }),
              "");
    const auto entries =
        readAll(JournalLogStore(journal.directory()), {at(0), at(10), predicate(R"(process == "app")")});
    ASSERT_EQ(entries.size(), 5U);
    EXPECT_EQ(entries[0].message, std::string(65536, 'x'));
    EXPECT_EQ(entries[1].message, std::string(65535, 'a'));
    // Each bad byte becomes U+FFFD (three bytes): 21,845 of them fit.
    std::string replaced;
    for (int i = 0; i < 21845; ++i) {
        replaced += "\uFFFD";
    }
    EXPECT_EQ(entries[2].message, replaced);
    EXPECT_EQ(entries[3].message, replaced) << "stray continuation bytes are cut, not searched back through";
    EXPECT_EQ(entries[4].message, "short");
}

TEST(JournalLogStore, ReadsTheWindowInTimeOrderAcrossFiles)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.write({{kT - 5, "a", 1, "", "", "before"},
                             {kT, "a", 1, "", "", "at the start"},
                             {kT + 2, "a", 1, "", "", "inside"},
                             {kT + 10, "a", 1, "", "", "at the end"},
                             {kT + 10.5, "a", 1, "", "", "after"}},
                            "one.journal"),
              "");
    ASSERT_EQ(journal.write({{kT + 1, "b", 2, "", "", "other file"},
                             {kT + 3, "b", 2, "", "", "inside too"},
                             {kT + 4, "c", 3, "", "", "other process"}},
                            "two.journal"),
              "");
    const JournalLogStore store(journal.directory());
    const core::LogQuery query{at(0), at(10),
                               predicate(R"(process IN {"a", "b"} AND eventMessage CONTAINS[c] "e")")};

    std::vector<std::string> messages;
    for (const LogEntry& entry : readAll(store, query)) {
        messages.push_back(entry.message);
    }
    EXPECT_EQ(messages,
              (std::vector<std::string>{"at the start", "other file", "inside", "inside too", "at the end"}));
    EXPECT_EQ(readAll(store, query, 2).size(), 2u) << "the visitor stops the reading";
}

TEST(JournalLogStore, DirectoryFromTheEnvironmentOrTheConstructor)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.write({{kT, "kernel", std::nullopt, "", "", "hello"}}), "");
    const core::LogQuery query{at(-1), at(1), predicate(R"(process == "kernel")")};

    ::setenv("EXITWISE_JOURNAL_DIR", journal.directory().c_str(), 1);
    const JournalLogStore fromEnvironment;
    const JournalLogStore explicitMissing("/nonexistent/journal");
    ::unsetenv("EXITWISE_JOURNAL_DIR");

    EXPECT_EQ(fromEnvironment.directory(), journal.directory());
    EXPECT_EQ(readAll(fromEnvironment, query).size(), 1u);
    const auto error = explicitMissing.readEntries(query, [](const LogEntry&) { return true; });
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->message.find("/nonexistent/journal"), std::string::npos) << error->message;
    EXPECT_EQ(JournalLogStore().directory(), std::nullopt);
}

} // namespace
} // namespace exitwise::platform
