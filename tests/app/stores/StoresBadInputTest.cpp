// SPDX-License-Identifier: MIT
// The data directory as it may be found: damaged or newer files, no room left, no permission.

#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventStore.h"
#include "app/stores/FeedbackStore.h"
#include "app/stores/ProductAnalyticsStore.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/StoreTesting.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <map>
#include <unistd.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;
namespace json = core::json;
using namespace std::chrono_literals;
using test::eventList;

// 2026-03-01T14:15:09Z, the time in the names of set-aside copies.
const core::Date kAt = core::dateFromSecondsSince1970(1772374509.0);

std::string regression(const std::string& name)
{
    return test::readFile(fs::path(EXITWISE_TEST_DATA_DIR) / "regressions" / name);
}

// Every file of a directory with its content: what must stay as it was.
std::map<std::string, std::string> snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? test::readFile(entry.path()) : "<not a file>";
    }
    return files;
}

// Makes a directory refuse new entries or take them again: by its mode for an ordinary user, by
// the immutable flag for root, whom modes do not stop.
bool setReadOnly(const fs::path& directory, bool readOnly)
{
    if (::geteuid() != 0) {
        return ::chmod(directory.c_str(), readOnly ? 0555 : 0755) == 0;
    }
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return done;
}

class StoresBadInput : public test::StoreTest
{
protected:
    fs::path eventsFile() const { return directory() / "events.json"; }

    void writeEventsFile(std::string_view text) const
    {
        ASSERT_FALSE(records::atomicReplace(eventsFile(), text));
    }
};

// Nesting far beyond any record's is damage like any other: the file is moved aside instead of
// exhausting the stack on every start. Damage next to a newer event still condemns the file.
TEST_F(StoresBadInput, DamagedEventFileIsSetAsideWholeBeforeAnythingOverwritesIt)
{
    json::Json nextToNewer = json::parse(EventStore::encodeEventFile(eventList(2)));
    nextToNewer[0]["diagnosis"]["dominantCause"] = "Killed: cosmic ray";
    nextToNewer[1].erase("diagnosis");
    const std::string noDiagnosis =
        R"([{"id":"0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B","appName":"Notes","terminatedAt":1}])";
    const std::string tooDeep = "invalid JSON: nested deeper than 512 levels at byte 864";
    struct Row
    {
        const char* what;
        std::string text;
        std::string reason; // a part of the reader's reason
    };
    // clang-format off
    const Row rows[] = {
        {"number beyond range",          regression("event_file/number-overflow.json"),   ""},
        {"date beyond range",            regression("event_file/date-out-of-range.json"), ""},
        {"deep nesting",                 regression("event_file/deep-nesting.json"),      tooDeep},
        {"missing diagnosis",            noDiagnosis, "[0]: missing key \"diagnosis\""},
        {"damage next to a newer event", json::dumpCompact(nextToNewer), "missing key \"diagnosis\""},
    };
    // clang-format on
    const fs::path aside = directory() / "events.json.unreadable-20260301T141509Z";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeEventsFile(row.text);
        const auto read = EventStore::readStoredEvents(directory());
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().code, 0);
        EXPECT_NE(read.error().reason.find(row.reason), std::string::npos) << read.error().reason;
        EXPECT_FALSE(fs::exists(aside)) << "the reader changes nothing";

        EventStore store(directory());
        EXPECT_TRUE(store.load(kAt).empty());
        EXPECT_EQ(test::readFile(aside), row.text);
        ASSERT_FALSE(store.save(eventList(1), kAt));
        EXPECT_EQ(json::parse(test::readFile(eventsFile())).size(), 1u) << "nothing carried over";
        fs::remove(aside);
    }
}

TEST_F(StoresBadInput, DamagedTelemetryIsSetAsideAndReplaced)
{
    const fs::path file = directory() / "telemetry.json";
    const fs::path aside = directory() / "telemetry.json.unreadable-20260301T141509Z";
    for (const std::string damaged :
         {"{not json", R"([{"eventID":"5AF0E187-EB05-4A03-9D79-95DD3FCE50EB","recordedAt":1e400}])"}) {
        SCOPED_TRACE(damaged);
        ASSERT_FALSE(records::atomicReplace(file, damaged));
        DiagnosisTelemetryStore store(file);
        EXPECT_TRUE(store.load(kAt).empty());
        EXPECT_EQ(test::readFile(aside), damaged);
        store.record(test::fullEvent("Notes", test::sampleTime()), 12, test::sampleTime(1));
        EXPECT_EQ(store.load().size(), 1u);
        fs::remove(aside);
    }
}

// After a load failure that may pass (a FIFO or a link loop in the file's place) the file is
// read again before each save: refused while it cannot be read, then saved without losing
// what it held.
TEST_F(StoresBadInput, PassingLoadFailureIsRetriedBeforeTheNextSave)
{
    struct Case
    {
        const char* what;
        bool (*block)(const fs::path&);
    };
    // clang-format off
    const Case cases[] = {
        {"fifo",      [](const fs::path& at) { return ::mkfifo(at.c_str(), 0600) == 0; }},
        {"link loop", [](const fs::path& at) { return ::symlink(at.c_str(), at.c_str()) == 0; }},
    };
    // clang-format on
    const auto names = [this] { return test::namesOf(EventStore::readEventFile(eventsFile()).value()); };
    const fs::path held = directory() / "held.json";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeEventsFile(EventStore::encodeEventFile(eventList(2, "Old")));
        fs::rename(eventsFile(), held);
        ASSERT_TRUE(c.block(eventsFile()));

        EventStore store(directory());
        ASSERT_TRUE(store.load().empty());
        std::vector<AppEvent> events{test::fullEvent("New", test::sampleTime(60))};
        EXPECT_TRUE(store.save(events)) << "still unreadable";

        fs::remove(eventsFile());
        fs::rename(held, eventsFile());
        ASSERT_FALSE(store.save(events));
        EXPECT_EQ(names(), (std::vector<std::string>{"New", "Old0", "Old1"}));
        events.insert(events.begin(), test::fullEvent("Newer", test::sampleTime(120)));
        ASSERT_FALSE(store.save(events));
        EXPECT_EQ(names(), (std::vector<std::string>{"Newer", "New", "Old0", "Old1"}));
        EXPECT_EQ(snapshot(directory()).size(), 2u) << "nothing was moved aside from events.json";
    }
}

TEST_F(StoresBadInput, RegressionNewerEventFile)
{
    const std::string text = regression("event_file/newer-cause.json");
    writeEventsFile(text);
    EventStore store(directory());
    const std::vector<AppEvent> events = store.load();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_FALSE(store.save(events));
    EXPECT_EQ(json::parse(test::readFile(eventsFile())),
              json::Json::array({json::parse(text)[0], encode(events[0])}));
}

TEST_F(StoresBadInput, ReadOnlyDataDirectoryKeepsWhatIsStored)
{
    writeEventsFile(EventStore::encodeEventFile(eventList(2)));
    TerminationEventLedger(directory()).append(test::ledgerEntryFor(eventList(1)[0], test::sampleTime()));
    const auto before = snapshot(directory());

    EventStore store(directory());
    std::vector<AppEvent> events = store.load();
    ASSERT_EQ(events.size(), 2u);
    // Nothing may stop the test before the directory is writable again: it could not be removed.
    if (!setReadOnly(directory(), true) || std::ofstream(directory() / ".probe").is_open()) {
        setReadOnly(directory(), false);
        GTEST_SKIP() << "cannot make a directory read-only here";
    }
    events.push_back(test::fullEvent("Third", test::sampleTime(-600)));
    const std::optional<FileError> saveError = store.save(events);
    DiagnosisTelemetryStore(directory() / "telemetry.json").record(events.back(), 5, test::sampleTime());
    ProductAnalyticsStore(directory()).record(ProductAnalyticsEventName::appOpened, {}, test::sampleTime());
    setReadOnly(directory(), false);
    EXPECT_NE(saveError.value_or(FileError{}).code, 0);
    EXPECT_EQ(snapshot(directory()), before) << "no partial or temporary files, nothing rewritten";
    EXPECT_FALSE(store.save(events)) << "writable again: the next save goes through";
    EXPECT_EQ(EventStore(directory()).load().size(), 3u);
}

// A full disk fails a save whole and cuts a ledger line short.
TEST_F(StoresBadInput, FullDiskLeavesStoredFilesWhole)
{
    const std::vector<AppEvent> events = eventList(2);
    writeEventsFile(EventStore::encodeEventFile(events));
    TerminationEventLedger ledger(directory());
    ledger.append(test::ledgerEntryFor(events[0], test::sampleTime()));
    const std::string storedEvents = test::readFile(eventsFile());
    const auto ledgerSize = fs::file_size(ledger.fileURL());

    EventStore store(directory());
    ASSERT_EQ(store.load().size(), 2u);
    // A full disk for this process: room for part of one more ledger line only (writes beyond
    // fail with EFBIG instead of raising SIGXFSZ). Failures are checked once it is lifted, so that
    // a test log written to a file is not cut short.
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit full{ledgerSize + 20, previous.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    const std::optional<FileError> saveError = store.save(eventList(40));
    ledger.append(test::ledgerEntryFor(events[1], test::sampleTime()));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(saveError.value_or(FileError{}).code, EFBIG);
    EXPECT_EQ(test::readFile(eventsFile()), storedEvents);
    EXPECT_EQ(fs::file_size(ledger.fileURL()), ledgerSize + 20) << "the line was cut short";
    EXPECT_EQ(snapshot(directory()).size(), 2u) << "a temporary file was left beside events.json";
}

// A device that is always full and reads endless zeros: appends fail quietly, nothing is read.
TEST_F(StoresBadInput, ALedgerLinkedToAFullDeviceFailsQuietly)
{
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    fs::create_symlink("/dev/full", directory() / "event_ledger.jsonl");
    EXPECT_EQ(records::durableAppend(directory() / "event_ledger.jsonl", "{}\n").value().code, ENOSPC);
    TerminationEventLedger ledger(directory());
    EXPECT_NO_THROW(ledger.append(test::ledgerEntryFor(eventList(1)[0], test::sampleTime())));
    EXPECT_TRUE(ledger.readAll().empty());
}

TEST_F(StoresBadInput, RecordFilesReplacedByFifosNeverBlock)
{
    const std::vector<std::string> names{"events.json", "event_ledger.jsonl", "telemetry.json",
                                         "product_events.jsonl", "feedback.jsonl"};
    for (const std::string& name : names) {
        ASSERT_EQ(::mkfifo((directory() / name).c_str(), 0600), 0) << name;
    }
    // Nobody ever opens the other end: any blocking open, read or write would hang here.
    auto work = std::async(std::launch::async, [this] {
        const AppEvent event = eventList(1)[0];
        EventStore store(directory());
        EXPECT_TRUE(store.load().empty());
        EXPECT_TRUE(store.save({event})) << "refused";
        TerminationEventLedger ledger(directory());
        ledger.append(test::ledgerEntryFor(event, test::sampleTime()));
        EXPECT_TRUE(ledger.readAll().empty());
        DiagnosisTelemetryStore(directory() / "telemetry.json").record(event, 5, test::sampleTime());
        ProductAnalyticsStore(directory())
            .record(ProductAnalyticsEventName::appOpened, {}, test::sampleTime());
        FeedbackStore(directory() / "feedback.jsonl")
            .append(FeedbackRecord{Uuid::random(), "Notes", core::DominantCause::unknown,
                                   core::Confidence::low, true, test::sampleTime()});
        EXPECT_FALSE(EventStore::readStoredEvents(directory()).ok());
    });
    if (work.wait_for(30s) != std::future_status::ready) {
        std::fprintf(stderr, "a store blocked on a FIFO\n");
        std::_Exit(EXIT_FAILURE);
    }
    work.get();
    for (const std::string& name : names) {
        EXPECT_TRUE(fs::is_fifo(directory() / name)) << name << " was replaced";
    }
}

} // namespace
} // namespace exitwise::app
