// SPDX-License-Identifier: MIT
// What `export` may write to and what the readers make of a hostile event file, through the
// real binary.
#include "support/CommandRunner.h"
#include "support/Files.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using exitwise::test::readFile;
using exitwise::test::runCommand;
using exitwise::test::shellQuoted;

const fs::path kData = EXITWISE_TEST_DATA_DIR;

bool isCharacterDevice(const fs::path& path)
{
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

class ExportTargets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_data = m_root / "data";
        fs::create_directories(m_data);
        fs::copy_file(kData / "events/events.json", m_data / "events.json");
    }

    exitwise::test::CommandOutcome exitwise(const std::string& args) const
    {
        return runCommand("EXITWISE_APP_SUPPORT_DIR=" + shellQuoted(m_data.string()) + " " + EXITWISE_BIN
                          + " " + args + " 2>&1");
    }
    exitwise::test::CommandOutcome exportTo(const fs::path& target) const
    {
        return exitwise("export --format csv --output " + shellQuoted(target.string()));
    }

    exitwise::test::TempDir m_temp{"exitwise-export"};
    fs::path m_root = m_temp.path();
    fs::path m_data;
};

TEST_F(ExportTargets, RefusesFifosAndLinksThatLeadNowhereAndChangesNothing)
{
    const fs::path fifo = m_root / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path dangling = m_root / "dangling.csv";
    fs::create_symlink(m_root / "gone" / "x.csv", dangling);

    // Nobody reads the FIFO: an export that opened it blocking would hang here.
    const auto toFifo = exportTo(fifo);
    EXPECT_EQ(toFifo.status, 1);
    EXPECT_EQ(toFifo.out, "exitwise: cannot write " + fifo.string() + ": it is a FIFO, not a regular file\n");
    EXPECT_TRUE(fs::is_fifo(fifo));

    const auto toDangling = exportTo(dangling);
    EXPECT_EQ(toDangling.status, 1);
    EXPECT_EQ(toDangling.out, "exitwise: cannot write " + dangling.string()
                                  + ": it is a symbolic link that cannot be resolved\n");
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_FALSE(fs::exists(m_root / "gone"));

    // Standard output is a pipe here: /dev/stdout leads to it, and - is the way to write there.
    const auto toPipe = exitwise("export --format csv --output /dev/stdout");
    EXPECT_EQ(toPipe.status, 1);
    EXPECT_EQ(toPipe.out, "exitwise: cannot write /dev/stdout: it is a FIFO, not a regular file\n");
    const auto toDash = exitwise("export --format csv --output -");
    EXPECT_EQ(toDash.status, 0);
    EXPECT_EQ(toDash.out.rfind("appName,terminatedAt,dominantCause,endState,confidence\n", 0), 0u)
        << toDash.out;

    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 3)
        << "data, fifo and the link: nothing created";
}

TEST_F(ExportTargets, WritesACharacterDeviceInPlace)
{
    // A null device of our own first: a fault must not replace the system's.
    const fs::path null = m_root / "null";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    for (const char* format : {"csv", "json"}) {
        const auto outcome =
            exitwise(std::string("export --format ") + format + " --output " + null.string());
        EXPECT_EQ(outcome.status, 0) << outcome.out;
        EXPECT_EQ(outcome.out, "");
        ASSERT_TRUE(isCharacterDevice(null)) << format;
    }
    ASSERT_TRUE(isCharacterDevice("/dev/null"));
    EXPECT_EQ(exportTo("/dev/null").status, 0);
    EXPECT_TRUE(isCharacterDevice("/dev/null"));
}

TEST_F(ExportTargets, DeeplyNestedEventFileIsReportedWithoutACrash)
{
    // An event of a later version (kept as written) with a key nested 100,000 levels deep.
    std::string deep = readFile(kData / "regressions/event_file/deep-nesting.json");
    const std::string nesting = std::string(600, '[') + std::string(600, ']');
    ASSERT_NE(deep.find(nesting), std::string::npos);
    deep.replace(deep.find(nesting), nesting.size(), std::string(100000, '[') + std::string(100000, ']'));
    std::ofstream(m_data / "events.json", std::ios::binary) << deep;

    const std::string expected = "exitwise: cannot decode " + (m_data / "events.json").string()
                                 + ": invalid JSON: nested deeper than 512 levels at byte 864\n";
    for (const char* args : {"list", "show latest", "export --format json --output -"}) {
        const auto outcome = exitwise(args);
        EXPECT_EQ(outcome.status, 1) << args;
        EXPECT_EQ(outcome.out, expected) << args;
    }
    EXPECT_EQ(readFile(m_data / "events.json"), deep) << "readers never move or rewrite it";
}

} // namespace
