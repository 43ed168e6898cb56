// SPDX-License-Identifier: MIT
#include "platform/linux/LauncherStreamFollower.h"

#include "support/PlatformFixtures.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace exitwise::platform {
namespace {

constexpr double kT = 1700000000.0;
constexpr unsigned kUid = 1000;

// A report: identifier, pid, time.
using Outputs = std::vector<std::tuple<std::string, int, double>>;

// A line as journald stores it.
test::JournalFields line(double time,
                         const std::string& identifier,
                         int pid,
                         const std::string& uid = std::to_string(kUid),
                         const std::string& transport = "stdout")
{
    return {time,
            {{"SYSLOG_IDENTIFIER", identifier},
             {"_PID", std::to_string(pid)},
             {"_UID", uid},
             {"_TRANSPORT", transport},
             {"MESSAGE", "notes-bin: error while loading shared libraries: libnotes.so.1"}}};
}

// A follower of a fixture journal, collecting what it reports.
class LauncherStreamFollowerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_JOURNAL_TOOL();
        QObject::connect(&m_follower, &LauncherStreamFollower::applicationOutput,
                         [this](const QString& identifier, int pid, double time) {
                             outputs.emplace_back(identifier.toStdString(), pid, time);
                         });
    }

    // Waits for the count of reports; a few more milliseconds let any surplus show.
    [[nodiscard]] bool waitFor(std::size_t count,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
    {
        const bool reached = test::waitUntil([&] { return outputs.size() >= count; }, limit);
        test::waitUntil([] { return false; }, std::chrono::milliseconds(100));
        return reached;
    }

    test::JournalFixture m_journal;
    LauncherStreamFollower m_follower{
        {m_journal.directory(), kUid, [](std::string_view identifier) {
             static const std::set<std::string_view> installed{"org.example.Notes", "org.example.Paint"};
             return installed.contains(identifier);
         }}};
    Outputs outputs;
};

TEST_F(LauncherStreamFollowerTest, ReportsEachNewApplicationStreamOnce)
{
    ASSERT_EQ(m_journal.writeFields({line(kT, "org.example.Notes", 100)}, "user-1000.journal"), "");
    ASSERT_EQ(m_journal.writeFields({line(kT + 1, "org.example.Paint", 101)}, "old.journal"), "");
    ASSERT_TRUE(m_follower.start());
    ASSERT_TRUE(m_follower.isFollowing());

    // clang-format off
    ASSERT_EQ(m_journal.writeFields({
        line(kT + 10, "org.example.Notes", 200),
        line(kT + 11, "org.example.Notes", 200),                    // the same stream again
        line(kT + 12, "org.example.Paint.desktop", 201),            // as GNOME Shell names it
        line(kT + 13, "org.example.Notes", 202, "1001"),            // another user
        line(kT + 14, "org.example.Notes", 203, std::to_string(kUid), "journal"),
        line(kT + 19, "org.example.Unknown", 208),
        line(kT + 21, "org.example.Paint", 210),
    }, "live.journal"), "");
    // clang-format on
    EXPECT_TRUE(waitFor(3));
    EXPECT_EQ(outputs, (Outputs{{"org.example.Notes", 200, kT + 10},
                                {"org.example.Paint", 201, kT + 12},
                                {"org.example.Paint", 210, kT + 21}}));

    // Rotation renames the active file; vacuuming removes an archived one. Neither is news.
    outputs.clear();
    const std::filesystem::path directory = m_journal.directory();
    std::filesystem::rename(directory / "user-1000.journal",
                            directory / "user-1000@0123456789abcdef0123456789abcdef-1-1.journal");
    std::filesystem::remove(directory / "old.journal");
    EXPECT_FALSE(waitFor(1, std::chrono::milliseconds(300)));

    // A new active file is read from its start; a stream already reported stays reported.
    ASSERT_EQ(m_journal.writeFields(
                  {line(kT + 30, "org.example.Notes", 200), line(kT + 31, "org.example.Notes", 300)},
                  "user-1000.journal"),
              "");
    EXPECT_TRUE(waitFor(1));
    EXPECT_EQ(outputs, (Outputs{{"org.example.Notes", 300, kT + 31}}));
}

// Lines that do not match are no place to start from: the first file that does is read whole,
// to its end, without further notice.
TEST_F(LauncherStreamFollowerTest, ReadsABurstFromTheFirstFileOnward)
{
    ASSERT_EQ(m_journal.writeFields({line(kT, "org.example.Notes", 100, "0")}, "other-user.journal"), "");
    ASSERT_TRUE(m_follower.start());

    std::vector<test::JournalFields> lines;
    Outputs expected;
    for (int pid = 1000; pid < 2200; ++pid) {
        const char* identifier = pid % 3 == 0 ? "org.example.Paint" : "org.example.Notes";
        lines.push_back(line(kT + pid, identifier, pid));
        expected.emplace_back(identifier, pid, kT + pid);
    }
    ASSERT_EQ(m_journal.writeFields(lines, "burst.journal"), "");
    EXPECT_TRUE(waitFor(expected.size()));
    EXPECT_EQ(outputs, expected);
}

TEST_F(LauncherStreamFollowerTest, StopsFromWithinItsOwnSignal)
{
    ASSERT_TRUE(m_follower.start());
    QObject::connect(&m_follower, &LauncherStreamFollower::applicationOutput, [&] { m_follower.stop(); });

    ASSERT_EQ(m_journal.writeFields(
                  {line(kT + 10, "org.example.Notes", 200), line(kT + 11, "org.example.Notes", 201)},
                  "live.journal"),
              "");
    EXPECT_FALSE(waitFor(2, std::chrono::milliseconds(1000)));
    EXPECT_EQ(outputs.size(), 1U);
    EXPECT_FALSE(m_follower.isFollowing());
}

TEST(LauncherStreamFollower, StartsOnlyWithAJournal)
{
    LauncherStreamFollower missing({test::JournalFixture().directory() / "missing", kUid, {}});
    EXPECT_FALSE(missing.start());
}

} // namespace
} // namespace exitwise::platform
