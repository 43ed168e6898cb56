// SPDX-License-Identifier: MIT
#include "platform/linux/JournalLogStore.h"

#include "platform/linux/JournalAccess.h"
#include "support/PlatformFixtures.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;
using core::LogEntry;
using core::LogPredicate;
using test::JournalFixture;

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

std::vector<std::string> messagesOf(const std::vector<LogEntry>& entries)
{
    std::vector<std::string> messages;
    for (const LogEntry& entry : entries) {
        messages.push_back(entry.message);
    }
    return messages;
}

TEST(JournalLogStore, MapsJournalFieldsToEntriesAndLeavesOutOurOwn)
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
    // Our own entry about an earlier closure says "Crash": as evidence it could turn a later quit
    // of the same application into a crash. Ours by the identifier or by the message id.
    const std::string ended = "entry: Notes ended: Crash · Crashed: app bug · High";
    const std::string ours = "ef40f9b1c23147b79ce4aea7f9de707b";
    ASSERT_EQ(journal.writeFields({
                  {kT + 5, {{"SYSLOG_IDENTIFIER", "exitwise"}, {"MESSAGE", ended}}},
                  {kT + 6, {{"SYSLOG_IDENTIFIER", "tracker"}, {"MESSAGE_ID", ours}, {"MESSAGE", ended}}},
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
    const std::string accented = std::string(65535, 'a') + "\u00E9\u00E9";
    ASSERT_EQ(journal.write({
                  {kT + 1, "app", 9, "", "", std::string(300000, 'x')},
                  {kT + 2, "app", 9, "", "", accented},
                  {kT + 3, "app", 9, "", "", std::string(300000, '\xFF')},
                  {kT + 4, "app", 9, "", "", std::string(300000, '\x80')},
                  {kT + 5, "app", 9, "", "", "short"},
              }),
              "");
    // Each bad byte becomes U+FFFD (three bytes): 21,845 of them fit; stray continuation bytes are
    // cut, not searched back through.
    std::string replaced;
    for (int i = 0; i < 21845; ++i) {
        replaced += "\uFFFD";
    }
    EXPECT_EQ(messagesOf(readAll(JournalLogStore(journal.directory()),
                                 {at(0), at(10), predicate(R"(process == "app")")})),
              (std::vector<std::string>{std::string(65536, 'x'), std::string(65535, 'a'), replaced, replaced,
                                        "short"}));
}

TEST(JournalLogStore, ReadsTheWindowInTimeOrderAcrossFilesOfTheDirectoryNamed)
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
    const core::LogQuery query{at(0), at(10),
                               predicate(R"(process IN {"a", "b"} AND eventMessage CONTAINS[c] "e")")};
    // The directory named by the environment, unless one is given.
    const test::ScopedEnvironment environment("EXITWISE_JOURNAL_DIR", journal.directory().c_str());
    const JournalLogStore store;
    EXPECT_EQ(messagesOf(readAll(store, query)),
              (std::vector<std::string>{"at the start", "other file", "inside", "inside too", "at the end"}));
    EXPECT_EQ(readAll(store, query, 2).size(), 2u) << "the visitor stops the reading";

    const auto error =
        JournalLogStore("/nonexistent/journal").readEntries(query, [](const LogEntry&) { return true; });
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->message.find("/nonexistent/journal"), std::string::npos) << error->message;
    const test::ScopedEnvironment unset("EXITWISE_JOURNAL_DIR", nullptr);
    EXPECT_EQ(JournalLogStore().directory(), std::nullopt);
}

TEST(JournalAccess, WhatAUserCanReadAndTheOneNoteAboutIt)
{
    const test::TempDir temp("exitwise-journal-access");
    const fs::path& root = temp.path();
    const fs::path machineId = test::writeTextFile(root / "machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
    const fs::path persistent = root / "var/3d1219c7c4c5404aaa1f6d2a48adfda4";
    const fs::path volatileDir = root / "run/3d1219c7c4c5404aaa1f6d2a48adfda4";

    struct Case
    {
        const char* name;
        std::vector<fs::path> files;
        bool system;
        bool user;
        std::optional<std::string> note;
    };
    const std::string noJournal =
        "no systemd journal found: closures are explained from exit statuses and crash-report files only";
    const std::string noKernel =
        "kernel messages are not readable (add yourself to the systemd-journal or adm group to read them): "
        "crashes are still explained from exit statuses and systemd-coredump's records";
    const std::string unreadable =
        "the journal is not readable (add yourself to the systemd-journal or adm group, or enable persistent "
        "journal storage): closures are explained from exit statuses and crash-report files only";
    const fs::path own = persistent / "user-1001.journal";
    const fs::path ownArchived = persistent / "user-1001@0005f0-1.journal";
    const std::vector<fs::path> otherKinds = {persistent / "system.journal~", persistent / "notes.txt"};
    // clang-format off
    const std::vector<Case> cases{
        {"no journal at all",           {},                                 false, false, noJournal},
        {"the system journal",          {persistent / "system.journal"},    true,  false, std::nullopt},
        {"a volatile system journal",   {volatileDir / "system.journal"},   true,  false, std::nullopt},
        {"only the user's own journal", {own, ownArchived},                 false, true,  noKernel},
        {"only another user's journal", {persistent / "user-1002.journal"}, false, false, unreadable},
        {"files of other kinds",        otherKinds,                         false, false, noJournal},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root / "var");
        fs::remove_all(root / "run");
        for (const fs::path& file : c.files) {
            test::writeTextFile(file, "x");
        }
        const JournalAccess access = JournalAccess::probe(1001, {root / "var", root / "run"}, machineId);
        EXPECT_EQ(std::tuple(access.systemJournal, access.userJournal, access.note()),
                  std::tuple(c.system, c.user, c.note));
    }
}

} // namespace
} // namespace exitwise::platform
