// SPDX-License-Identifier: MIT
#include "platform/linux/LauncherStreamFollower.h"

#include "support/EventLoop.h"
#include "support/JournalFixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace exitwise::platform {
namespace {

using test::JournalFields;
using test::JournalFixture;

constexpr double kT = 1700000000.0;
constexpr unsigned kUid = 1000;

struct Output
{
    std::string identifier;
    int pid = 0;
    double time = 0;

    bool operator==(const Output&) const = default;
};

void PrintTo(const Output& output, std::ostream* os)
{
    *os << "{" << output.identifier << ", " << output.pid << ", " << std::fixed << output.time << "}";
}

// A line as journald stores it; an empty transport or uid leaves the field out.
JournalFields line(double time,
                   const std::string& identifier,
                   int pid,
                   const std::string& uid = std::to_string(kUid),
                   const std::string& transport = "stdout")
{
    JournalFields entry{time, {{"SYSLOG_IDENTIFIER", identifier}, {"_PID", std::to_string(pid)}}};
    if (!uid.empty()) {
        entry.fields.emplace_back("_UID", uid);
    }
    if (!transport.empty()) {
        entry.fields.emplace_back("_TRANSPORT", transport);
    }
    entry.fields.emplace_back("MESSAGE", "notes-bin: error while loading shared libraries: libnotes.so.1");
    return entry;
}

// A follower of the fixture's directory, collecting what it reports.
class Following
{
public:
    explicit Following(const JournalFixture& journal)
        : m_follower(
            {journal.directory(), kUid, [](std::string_view identifier) {
                 static const std::set<std::string_view> installed{"org.example.Notes", "org.example.Paint"};
                 return installed.contains(identifier);
             }})
    {
        QObject::connect(&m_follower, &LauncherStreamFollower::applicationOutput,
                         [this](const QString& identifier, int pid, double time) {
                             outputs.push_back({identifier.toStdString(), pid, time});
                         });
    }

    LauncherStreamFollower& follower() { return m_follower; }

    // Waits for the count of reports; a few more milliseconds let any surplus show.
    [[nodiscard]] bool waitFor(std::size_t count,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
    {
        const bool reached = test::waitUntil([&] { return outputs.size() >= count; }, limit);
        test::waitUntil([] { return false; }, std::chrono::milliseconds(100));
        return reached;
    }

    std::vector<Output> outputs;

private:
    LauncherStreamFollower m_follower;
};

#define SKIP_WITHOUT_JOURNAL_TOOL()                                                                          \
    if (!JournalFixture::available()) {                                                                      \
        GTEST_SKIP() << JournalFixture::kRemoteTool << " is missing (package systemd-journal-remote)";       \
    }

TEST(LauncherStreamFollower, ReportsEachNewApplicationStreamOnce)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(
        journal.writeFields({line(kT, "org.example.Notes", 100), line(kT + 1, "org.example.Paint", 101)},
                            "before.journal"),
        "");
    Following following(journal);
    ASSERT_TRUE(following.follower().start());
    ASSERT_TRUE(following.follower().isFollowing());

    // clang-format off
    ASSERT_EQ(journal.writeFields({
        line(kT + 10, "org.example.Notes", 200),
        line(kT + 11, "org.example.Notes", 200),                    // the same stream again
        line(kT + 12, "org.example.Paint.desktop", 201),            // as GNOME Shell names it
        line(kT + 13, "org.example.Notes", 202, "1001"),            // another user
        line(kT + 14, "org.example.Notes", 203, std::to_string(kUid), "journal"),
        line(kT + 15, "org.example.Notes", 204, std::to_string(kUid), "syslog"),
        line(kT + 16, "org.example.Notes", 205, std::to_string(kUid), "kernel"),
        line(kT + 17, "org.example.Notes", 206, std::to_string(kUid), ""),
        line(kT + 18, "org.example.Notes", 207, ""),
        line(kT + 19, "org.example.Unknown", 208),
        line(kT + 21, "org.example.Paint", 210),
    }, "live.journal"), "");
    // clang-format on
    EXPECT_TRUE(following.waitFor(3));
    EXPECT_EQ(following.outputs, (std::vector<Output>{{"org.example.Notes", 200, kT + 10},
                                                      {"org.example.Paint", 201, kT + 12},
                                                      {"org.example.Paint", 210, kT + 21}}));

    // A stream already reported stays reported in later files and wake-ups.
    following.outputs.clear();
    ASSERT_EQ(journal.writeFields(
                  {line(kT + 30, "org.example.Notes", 200), line(kT + 31, "org.example.Notes", 300)},
                  "later.journal"),
              "");
    EXPECT_TRUE(following.waitFor(1));
    EXPECT_EQ(following.outputs, (std::vector<Output>{{"org.example.Notes", 300, kT + 31}}));
}

TEST(LauncherStreamFollower, FollowsAnEmptyDirectoryFromItsFirstFile)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    // Lines that do not match are no place to start from either.
    ASSERT_EQ(journal.writeFields({line(kT, "org.example.Notes", 100, "0")}, "other-user.journal"), "");
    Following following(journal);
    ASSERT_TRUE(following.follower().start());

    ASSERT_EQ(
        journal.writeFields({line(kT + 10, "org.example.Notes", 200), line(kT + 11, "org.example.Paint", 201),
                             line(kT + 12, "org.example.Notes", 202)},
                            "first.journal"),
        "");
    EXPECT_TRUE(following.waitFor(3));
    EXPECT_EQ(following.outputs, (std::vector<Output>{{"org.example.Notes", 200, kT + 10},
                                                      {"org.example.Paint", 201, kT + 11},
                                                      {"org.example.Notes", 202, kT + 12}}));
}

TEST(LauncherStreamFollower, ReadsABurstToItsEndWithoutFurtherNotice)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    Following following(journal);
    ASSERT_TRUE(following.follower().start());

    std::vector<JournalFields> lines;
    std::vector<Output> expected;
    for (int pid = 1000; pid < 2200; ++pid) {
        lines.push_back(line(kT + pid, "org.example.Notes", pid));
        expected.push_back({"org.example.Notes", pid, kT + pid});
    }
    ASSERT_EQ(journal.writeFields(lines, "burst.journal"), "");
    EXPECT_TRUE(following.waitFor(expected.size()));
    EXPECT_EQ(following.outputs, expected);
}

TEST(LauncherStreamFollower, KeepsItsPlaceWhenFilesAreRotatedAndRemoved)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    ASSERT_EQ(journal.writeFields({line(kT, "org.example.Notes", 100)}, "user-1000.journal"), "");
    ASSERT_EQ(journal.writeFields({line(kT + 1, "org.example.Paint", 101)}, "old.journal"), "");
    Following following(journal);
    ASSERT_TRUE(following.follower().start());

    // Rotation renames the active file; vacuuming removes an archived one. Neither is news.
    const std::filesystem::path directory = journal.directory();
    std::filesystem::rename(directory / "user-1000.journal",
                            directory / "user-1000@0123456789abcdef0123456789abcdef-1-1.journal");
    std::filesystem::remove(directory / "old.journal");
    EXPECT_FALSE(following.waitFor(1, std::chrono::milliseconds(300)));

    ASSERT_EQ(journal.writeFields({line(kT + 10, "org.example.Notes", 200)}, "user-1000.journal"), "");
    EXPECT_TRUE(following.waitFor(1));
    EXPECT_EQ(following.outputs, (std::vector<Output>{{"org.example.Notes", 200, kT + 10}}));
}

TEST(LauncherStreamFollower, StopsFromWithinItsOwnSignal)
{
    SKIP_WITHOUT_JOURNAL_TOOL();
    JournalFixture journal;
    Following following(journal);
    ASSERT_TRUE(following.follower().start());
    QObject::connect(&following.follower(), &LauncherStreamFollower::applicationOutput,
                     [&] { following.follower().stop(); });

    ASSERT_EQ(journal.writeFields(
                  {line(kT + 10, "org.example.Notes", 200), line(kT + 11, "org.example.Notes", 201)},
                  "live.journal"),
              "");
    EXPECT_FALSE(following.waitFor(2, std::chrono::milliseconds(1000)));
    EXPECT_EQ(following.outputs.size(), 1U);
    EXPECT_FALSE(following.follower().isFollowing());
}

TEST(LauncherStreamFollower, StartsOnlyWithAJournal)
{
    JournalFixture journal;
    LauncherStreamFollower missing({journal.directory() / "missing", kUid, {}});
    EXPECT_FALSE(missing.start());
    EXPECT_FALSE(missing.isFollowing());

    LauncherStreamFollower follower({journal.directory(), kUid, {}});
    EXPECT_TRUE(follower.start());
    follower.stop();
    EXPECT_FALSE(follower.isFollowing());
}

} // namespace
} // namespace exitwise::platform
