// SPDX-License-Identifier: MIT
#include "app/RecordFiles.h"

#include "app/DateFormats.h"
#include "support/StoreTesting.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::string contents(const fs::path& path)
{
    const auto result = records::readFile(path);
    return result ? result.value() : "<" + result.error().message() + ">";
}

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
        EXPECT_EQ(contents(target), c.written);
        EXPECT_EQ(modeOf(target), 0600u);
        EXPECT_EQ(directoryEntries(), std::vector<std::string>{c.name});
        if (writer > 0) {
            // A crash mid-append left half a record without its line feed: the next starts afresh.
            std::ofstream(target, std::ios::app) << "[3";
            ASSERT_FALSE(write(writer, target, "[4]\n"));
            EXPECT_EQ(contents(target), std::string(c.written) + "[3\n[4]\n");
        }
        fs::remove(target);

        const auto failed = write(writer, file("no/such/dir/out.csv"), "x");
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->code, ENOENT);
    }
}

TEST_F(RecordFiles, FailedReplaceReportsTheSystemsReasonAndKeepsTheOldFile)
{
    fs::create_directory(file("folder"));
    const auto intoDirectory = records::atomicReplace(file("folder"), "x");
    ASSERT_TRUE(intoDirectory);
    EXPECT_EQ(intoDirectory->code, EISDIR);
    EXPECT_TRUE(fs::is_directory(file("folder")));
    EXPECT_EQ(directoryEntries(), std::vector<std::string>{"folder"});
}

bool makeFifo(const fs::path& at)
{
    return ::mkfifo(at.c_str(), 0600) == 0;
}

bool makeSocket(const fs::path& at)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (at.string().size() >= sizeof address.sun_path) {
        return false;
    }
    std::strcpy(address.sun_path, at.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return bound;
}

bool makeBlockDevice(const fs::path& at)
{
    return ::mknod(at.c_str(), S_IFBLK | 0600, makedev(7, 200)) == 0;
}

bool makeNullDevice(const fs::path& at)
{
    return ::mknod(at.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

bool makeDanglingLink(const fs::path& at)
{
    return ::symlink((at.parent_path() / "gone" / "out.csv").c_str(), at.c_str()) == 0;
}

bool makeLinkLoop(const fs::path& at)
{
    const fs::path other = at.parent_path() / "loop";
    return ::symlink(other.c_str(), at.c_str()) == 0 && ::symlink(at.c_str(), other.c_str()) == 0;
}

// What may stand in a target's place. Each maker returns false when it cannot be made here; the
// null device gets a node of its own, so that a fault never touches the system's.
TEST_F(RecordFiles, WritesRefuseWhatIsNotARegularFileAndCreateNothing)
{
    struct Case
    {
        const char* what;
        bool (*make)(const fs::path&);
        const char* reason;       // the record write's, and the export's unless given
        const char* chosenReason; // nullptr: the export writes it in place
    };
    const char* fifo = "it is a FIFO, not a regular file";
    const char* socket = "it is a socket, not a regular file";
    const char* block = "it is a block device, not a regular file";
    const char* dangling = "it is a symbolic link that cannot be resolved";
    const char* loop = "Too many levels of symbolic links";
    // clang-format off
    const Case cases[] = {
        {"fifo",             makeFifo,         fifo,     fifo},
        {"socket",           makeSocket,       socket,   socket},
        {"block device",     makeBlockDevice,  block,    block},
        {"dangling link",    makeDanglingLink, dangling, dangling},
        {"link loop",        makeLinkLoop,     loop,     loop},
        {"character device", makeNullDevice,   "it is a character device, not a regular file", nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path target = file("target");
        if (!c.make(target)) {
            std::fprintf(stderr, "cannot make a %s here: not tried\n", c.what);
            continue;
        }
        const std::vector<std::string> entries = directoryEntries();
        const fs::file_type type = fs::symlink_status(target).type();

        EXPECT_EQ(records::atomicReplace(target, "x").value_or(FileError{}).message(),
                  "cannot write " + target.string() + ": " + c.reason);
        const auto chosen = records::writeChosenFile(target, "x");
        if (c.chosenReason != nullptr) {
            ASSERT_TRUE(chosen);
            EXPECT_EQ(chosen->message(), "cannot write " + target.string() + ": " + c.chosenReason);
        } else {
            EXPECT_FALSE(chosen) << chosen->message();
        }
        EXPECT_EQ(fs::symlink_status(target).type(), type) << "replaced";
        EXPECT_EQ(directoryEntries(), entries) << "something was created";
        fs::remove(target);
        fs::remove(file("loop"));
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
        EXPECT_EQ(contents(named), text);
    }
    EXPECT_EQ(modeOf(named), 0600u) << "the first write made it";

    ::chmod(named.c_str(), 0640);
    ASSERT_FALSE(records::atomicReplace(link, "new", records::NewFileMode::standard));
    EXPECT_EQ(contents(named), "new");
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
    EXPECT_NE(second.value(), first.value());
    EXPECT_EQ(contents(first.value()), "first");
    EXPECT_EQ(contents(second.value()), "second");
    EXPECT_FALSE(fs::exists(events));
}

TEST(DateFormats, TruncatesAndSurvivesTheFilesRounding)
{
    struct Case
    {
        double referenceSeconds;
        const char* seconds;
        const char* milliseconds;
    };
    // clang-format off
    const Case cases[] = {
        {794000000.0,    "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.000Z"},
        {794000000.123,  "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.123Z"},
        {794000000.9999, "2026-02-28T19:33:20Z", "2026-02-28T19:33:20.999Z"},
        {0.001,          "2001-01-01T00:00:00Z", "2001-01-01T00:00:00.001Z"},
        {-0.5,           "2000-12-31T23:59:59Z", "2000-12-31T23:59:59.500Z"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const core::Date date = core::dateFromReferenceSeconds(c.referenceSeconds);
        EXPECT_EQ(iso8601Seconds(date), c.seconds) << c.referenceSeconds;
        EXPECT_EQ(iso8601Milliseconds(date), c.milliseconds) << c.referenceSeconds;
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
