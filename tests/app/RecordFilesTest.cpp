// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"

#include "app/DateFormats.h"
#include "support/StoreTesting.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;
using test::modeOf;

class RecordFiles : public test::StoreTest
{
protected:
    fs::path file(const char* name) const { return directory() / name; }

    std::vector<std::string> directoryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(RecordFiles, EachWriterCreatesOwnerOnlyFilesAndLeavesNoTemporaries)
{
    const auto write = [](int writer, const fs::path& path, std::string_view text) {
        return writer == 0   ? records::atomicReplace(path, text)
               : writer == 1 ? records::durableAppend(path, text)
                             : records::plainAppend(path, text);
    };
    struct Case
    {
        const char* name;
        const char* written; // after writing "[1]\n", then "[2]\n"
    };
    const Case cases[] = {
        {"replace", "[2]\n"}, {"durable append", "[1]\n[2]\n"}, {"plain append", "[1]\n[2]\n"}};
    for (int writer = 0; writer < 3; ++writer) {
        const Case& c = cases[writer];
        SCOPED_TRACE(c.name);
        const fs::path target = file(c.name);
        ASSERT_FALSE(write(writer, target, "[1]\n"));
        ASSERT_FALSE(write(writer, target, "[2]\n"));
        EXPECT_EQ(test::readFile(target), c.written);
        EXPECT_EQ(modeOf(target), 0600u);
        EXPECT_EQ(directoryEntries(), std::vector<std::string>{c.name});
        if (writer > 0) {
            // A crash mid-append left half a record without its line feed: the next starts afresh.
            std::ofstream(target, std::ios::app) << "[3";
            ASSERT_FALSE(write(writer, target, "[4]\n"));
            EXPECT_EQ(test::readFile(target), std::string(c.written) + "[3\n[4]\n");
        }
        fs::remove(target);

        // A failed write keeps what is in the way and leaves nothing behind.
        fs::create_directory(file("folder"));
        EXPECT_EQ(write(writer, file("folder"), "x").value_or(FileError{}).code, EISDIR);
        EXPECT_EQ(directoryEntries(), std::vector<std::string>{"folder"});
        fs::remove(file("folder"));
    }
}

// What may stand in a target's place: a node made with mknod, or a link to `linkTo`. A node that
// cannot be made here is not tried; the null device gets a node of its own, so that a fault
// never touches the system's.
TEST_F(RecordFiles, WritesRefuseWhatIsNotARegularFileAndCreateNothing)
{
    struct Case
    {
        const char* what;
        mode_t type;
        dev_t device;
        const char* linkTo;
        const char* reason; // the export writes a character device in place
    };
    const char* fifo = "it is a FIFO, not a regular file";
    const char* socket = "it is a socket, not a regular file";
    const char* block = "it is a block device, not a regular file";
    const char* character = "it is a character device, not a regular file";
    const char* dangling = "it is a symbolic link that cannot be resolved";
    const char* loop = "Too many levels of symbolic links";
    // clang-format off
    const Case cases[] = {
        {"fifo",             S_IFIFO,  0,               nullptr,        fifo},
        {"socket",           S_IFSOCK, 0,               nullptr,        socket},
        {"block device",     S_IFBLK,  makedev(7, 200), nullptr,        block},
        {"character device", S_IFCHR,  makedev(1, 3),   nullptr,        character},
        {"dangling link",    0,        0,               "gone/out.csv", dangling},
        {"link to itself",   0,        0,               "target",       loop},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path target = file("target");
        if ((c.linkTo != nullptr ? ::symlink(c.linkTo, target.c_str())
                                 : ::mknod(target.c_str(), c.type | 0600, c.device))
            != 0) {
            std::fprintf(stderr, "cannot make a %s here: not tried\n", c.what);
            continue;
        }
        const std::vector<std::string> entries = directoryEntries();
        const fs::file_type type = fs::symlink_status(target).type();

        const std::string refused = "cannot write " + target.string() + ": " + c.reason;
        EXPECT_EQ(records::atomicReplace(target, "x").value_or(FileError{}).message(), refused);
        const auto chosen = records::writeChosenFile(target, "x");
        EXPECT_EQ(chosen ? chosen->message() : "written", c.type == S_IFCHR ? "written" : refused);
        EXPECT_EQ(fs::symlink_status(target).type(), type) << "replaced";
        EXPECT_EQ(directoryEntries(), entries) << "something was created";
        fs::remove(target);
    }
}

// A link leads a write to the file it names: created there first, replaced there after, and an
// existing file keeps its permissions.
TEST_F(RecordFiles, LinksLeadWritesToTheFileTheyName)
{
    fs::create_directory(file("elsewhere"));
    const fs::path link = file("out.csv");
    const fs::path named = file("elsewhere") / "made.csv";
    fs::create_symlink(named, link);
    for (const bool chosen : {false, true}) {
        SCOPED_TRACE(chosen ? "export" : "record");
        const std::string text = chosen ? "chosen" : "record";
        ASSERT_FALSE(chosen ? records::writeChosenFile(link, text) : records::atomicReplace(link, text));
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(test::readFile(named), text);
    }
    EXPECT_EQ(modeOf(named), 0600u) << "the first write made it";

    ::chmod(named.c_str(), 0640);
    ASSERT_FALSE(records::atomicReplace(link, "new", records::NewFileMode::standard));
    EXPECT_EQ(test::readFile(named), "new");
    EXPECT_EQ(modeOf(named), 0640u);
}

TEST_F(RecordFiles, LinesAreReadWholeAcrossReadBuffers)
{
    // Lines of varying length over several megabytes, so some straddle the reader's buffer,
    // with blank lines and no final line feed.
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; text.size() < (std::size_t{5} << 20); ++i) {
        std::string line(static_cast<std::size_t>(1 + (i * 7919) % 4000), static_cast<char>('a' + i % 26));
        line += std::to_string(i);
        text += line + (i % 10 == 0 ? "\n\n" : "\n");
        expected.push_back(std::move(line));
    }
    text.pop_back();
    std::ofstream(file("big.jsonl"), std::ios::binary) << text;

    std::vector<std::string> lines;
    ASSERT_FALSE(
        records::forEachLineInFile(file("big.jsonl"), [&](std::string_view l) { lines.emplace_back(l); }));
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(records::forEachLineInFile(file("absent.jsonl"), [](std::string_view) {}));
}

TEST_F(RecordFiles, SetAsideNeverOverwritesAnEarlierCopy)
{
    const fs::path events = file("events.json");
    const core::Date at = core::dateFromSecondsSince1970(1772374509.75); // 2026-03-01T14:15:09.75Z
    std::ofstream(events) << "first";
    const auto first = records::setAside(events, at);
    std::ofstream(events) << "second";
    const auto second = records::setAside(events, at);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first.value(), file("events.json.unreadable-20260301T141509Z"));
    EXPECT_EQ(test::readFile(first.value()) + test::readFile(second.value()), "firstsecond");
    EXPECT_FALSE(fs::exists(events));
}

TEST(DateFormats, TruncatesAndSurvivesTheFilesRounding)
{
    // clang-format off
    const std::tuple<double, const char*, const char*> cases[] = {
        {794000000.0,    "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.000Z"},
        {794000000.123,  "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.123Z"},
        {794000000.9999, "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.999Z"},
        {0.001,          "2001-01-01T00:00:00Z", "2001-01-01T00:00:00.001Z"},
        {-0.5,           "2000-12-31T23:59:59Z", "2000-12-31T23:59:59.500Z"},
    };
    // clang-format on
    for (const auto& [referenceSeconds, seconds, milliseconds] : cases) {
        const core::Date date = core::dateFromReferenceSeconds(referenceSeconds);
        EXPECT_EQ(iso8601Seconds(date), seconds) << referenceSeconds;
        EXPECT_EQ(iso8601Milliseconds(date), milliseconds) << referenceSeconds;
    }
}

TEST(DateFormats, ParsesOnlyWhatItWrites)
{
    EXPECT_EQ(iso8601Seconds(parseIso8601Seconds("2026-03-01T14:05:09Z").value()), "2026-03-01T14:05:09Z");
    for (const char* bad : {"2026-02-30T14:05:09Z", "2026-03-01T14:05:09", "2026-03-01 14:05:09Z",
                            "2026-03-01T14:05:09.123Z", "2026-13-01T14:05:09Z", "2026-03-01T24:00:00Z"}) {
        EXPECT_FALSE(parseIso8601Seconds(bad)) << bad;
    }
}

} // namespace
} // namespace exitwise::app
