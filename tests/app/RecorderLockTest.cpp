// SPDX-License-Identifier: MIT
#include "app/RecorderLock.h"

#include "app/DataDirectory.h"
#include "app/stores/EventLedgerReconciler.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/StoreTesting.h"

#include <sys/stat.h>

#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <variant>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

using test::modeOf;
using test::readFile;

class RecorderLockTest : public ::testing::Test
{
protected:
    test::TempDir m_temp{"exitwise-recorder"};
    const fs::path& root = m_temp.path();
};

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
    EXPECT_EQ(prepareRecorderDirectory(root / "a" / "b"), std::nullopt);
    EXPECT_EQ(modeOf(root / "a"), 0700u) << "a missing parent is made too";
    EXPECT_EQ(modeOf(root / "a" / "b"), 0700u);
    std::ofstream(root / "f") << "x";
    EXPECT_EQ(prepareRecorderDirectory(root / "f"), (root / "f").string() + " is not a directory" + fix);

    struct Case
    {
        const char* name;
        bool viaLink;
        mode_t mode;
        bool othersOwn;
        unsigned modeAfter; // of the directory it leads to
    };
    // clang-format off
    const Case cases[] = {
        {"world-writable",  false, 0777,  false, 0700},
        {"sticky and open", false, 01777, false, 0700},
        {"group-readable",  false, 0750,  false, 0700},
        {"own, linked",     true,  0755,  false, 0700},
        {"someone else's",  false, 0777,  true,  0777},
        {"theirs, linked",  true,  0755,  true,  0755},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.othersOwn && ::geteuid() != 0) {
            continue; // only root can make a directory someone else owns
        }
        const fs::path made = root / c.name;
        fs::create_directory(made);
        ::chmod(made.c_str(), c.mode);
        ASSERT_EQ(c.othersOwn ? ::chown(made.c_str(), 65534, 65534) : 0, 0);
        const fs::path directory = c.viaLink ? root / (std::string(c.name) + " link") : made;
        if (c.viaLink) {
            fs::create_directory_symlink(made, directory);
        }
        const std::string refusal = directory.string() + " is owned by uid 65534, not you" + fix;
        EXPECT_EQ(prepareRecorderDirectory(directory).value_or(""), c.othersOwn ? refusal : "");
        EXPECT_EQ(modeOf(directory), c.modeAfter);
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
}

} // namespace
} // namespace exitwise::app
