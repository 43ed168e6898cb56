// SPDX-License-Identifier: MIT
#include "app/RecorderLock.h"

#include "app/DataDirectory.h"
#include "app/RecordFiles.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/StoreTesting.h"

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <variant>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

using test::modeOf;
using test::readFile;

class RecorderLockTest : public ::testing::Test
{
protected:
    test::TempDir m_temp{"exitwise-recorder"};
    const fs::path& root = m_temp.path();
};

// flock conflicts between two opens in one process as between two processes.
TEST_F(RecorderLockTest, SecondClaimSaysWhoHoldsTheDirectoryUntilItIsReleased)
{
    const fs::path data = root / "data";
    auto first = std::make_optional(claimDataDirectory(data, "exitwise watch, pid 1234"));
    ASSERT_TRUE(std::holds_alternative<RecorderLock>(*first));
    EXPECT_EQ(readFile(data / "recorder.lock"), "exitwise watch, pid 1234\n");

    auto second = claimDataDirectory(data, "the Exitwise desktop app, pid 99");
    ASSERT_TRUE(std::holds_alternative<std::string>(second));
    EXPECT_EQ(std::get<std::string>(second), "another recorder already records into " + data.string()
                                                 + " (exitwise watch, pid 1234); stop it first");

    first.reset();
    auto third = claimDataDirectory(data, "the Exitwise desktop app, pid 99");
    EXPECT_TRUE(std::holds_alternative<RecorderLock>(third));
    EXPECT_EQ(readFile(data / "recorder.lock"), "the Exitwise desktop app, pid 99\n");
}

TEST_F(RecorderLockTest, LockFileLinkIsNotFollowed)
{
    const fs::path data = root / "data";
    fs::create_directory(data);
    std::ofstream(root / "mine.txt") << "keep";
    fs::create_symlink(root / "mine.txt", data / "recorder.lock");

    auto claim = claimDataDirectory(data, "exitwise watch, pid 1");
    ASSERT_TRUE(std::holds_alternative<std::string>(claim));
    EXPECT_EQ(std::get<std::string>(claim),
              "cannot lock " + (data / "recorder.lock").string() + ": Too many levels of symbolic links");
    EXPECT_EQ(readFile(root / "mine.txt"), "keep");
}

TEST_F(RecorderLockTest, RecorderDirectoryIsPrivateAndOwnedByTheUser)
{
    const std::string fix = "; remove it or set EXITWISE_APP_SUPPORT_DIR to a directory of your own";
    struct Case
    {
        const char* name;
        bool needsRoot;
        std::function<fs::path(const fs::path&)> make;       // returns the directory to prepare
        std::function<std::string(const fs::path&)> refusal; // empty: accepted
        unsigned modeAfter;                                  // of the directory it leads to
    };
    const auto accepted = [](const fs::path&) { return std::string(); };
    // clang-format off
    const Case cases[] = {
        {"missing, parents too", false, [](const fs::path& r) { return r / "a" / "b"; }, accepted, 0700},
        {"world-writable", false, [](const fs::path& r) { fs::create_directory(r / "d"); ::chmod((r / "d").c_str(), 0777); return r / "d"; }, accepted, 0700},
        {"sticky and open", false, [](const fs::path& r) { fs::create_directory(r / "d"); ::chmod((r / "d").c_str(), 01777); return r / "d"; }, accepted, 0700},
        {"group-readable", false, [](const fs::path& r) { fs::create_directory(r / "d"); ::chmod((r / "d").c_str(), 0750); return r / "d"; }, accepted, 0700},
        {"link to own directory", false, [](const fs::path& r) { fs::create_directory(r / "t"); ::chmod((r / "t").c_str(), 0755); fs::create_directory_symlink(r / "t", r / "d"); return r / "d"; }, accepted, 0700},
        {"a regular file", false, [](const fs::path& r) { std::ofstream(r / "f") << "x"; return r / "f"; }, [&fix](const fs::path& d) { return d.string() + " is not a directory" + fix; }, 0},
        {"someone else's", true, [](const fs::path& r) { fs::create_directory(r / "d"); ::chmod((r / "d").c_str(), 0777); [[maybe_unused]] int rc = ::chown((r / "d").c_str(), kNobody, kNobody); return r / "d"; }, [&fix](const fs::path& d) { return d.string() + " is owned by uid 65534, not you" + fix; }, 0777},
        {"link to someone else's", true, [](const fs::path& r) { fs::create_directory(r / "t"); [[maybe_unused]] int rc = ::chown((r / "t").c_str(), kNobody, kNobody); fs::create_directory_symlink(r / "t", r / "d"); return r / "d"; }, [&fix](const fs::path& d) { return d.string() + " is owned by uid 65534, not you" + fix; }, 0755},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            continue; // only root can make a directory someone else owns
        }
        fs::remove_all(root);
        fs::create_directories(root);
        const mode_t previousMask = ::umask(022);
        const fs::path directory = c.make(root);
        ::umask(previousMask);
        const std::optional<std::string> refusal = prepareRecorderDirectory(directory);
        EXPECT_EQ(refusal.value_or(""), c.refusal(directory));
        if (c.modeAfter != 0) {
            EXPECT_EQ(modeOf(directory), c.modeAfter);
        }
    }
}

// A link planted in the data directory must not lead the files only we write elsewhere.
TEST_F(RecorderLockTest, PlantedLinksInTheDataDirectoryAreNotWrittenThrough)
{
    const fs::path data = root / "data";
    fs::create_directory(data);
    const fs::path outside = root / "outside.txt";
    std::ofstream(outside) << "mine\n";
    fs::create_symlink(outside, data / "event_ledger.jsonl");
    fs::create_symlink(outside, data / "reconciliation_report.json");

    TerminationEventLedger ledger(data);
    ledger.append(test::ledgerEntryFor(test::fullEvent("Preview", test::sampleTime()), test::sampleTime()));
    static_cast<void>(EventLedgerReconciler(data).reconcile({}, test::sampleTime(60)));

    EXPECT_EQ(readFile(outside), "mine\n");
    EXPECT_TRUE(fs::is_symlink(data / "event_ledger.jsonl"));
    EXPECT_TRUE(fs::is_symlink(data / "reconciliation_report.json"));
    const std::optional<FileError> refused =
        records::durableAppend(data / "event_ledger.jsonl", "{}\n", records::Links::refuse);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, ELOOP);
}

} // namespace
} // namespace exitwise::app
