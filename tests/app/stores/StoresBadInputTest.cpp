// SPDX-License-Identifier: MIT
// The data directory as it may be found: damaged or newer files, no room left, no permission.

#include "app/AppModel.h"
#include "app/RecordFiles.h"
#include "app/WorkspaceEvents.h"
#include "app/stores/DiagnosisTelemetryStore.h"
#include "app/stores/EventStore.h"
#include "app/stores/FeedbackStore.h"
#include "app/stores/ProductAnalyticsStore.h"
#include "app/stores/TerminationEventLedger.h"
#include "support/EventLoop.h"
#include "support/SampleEvents.h"

#include <QCoreApplication>
#include <QTemporaryDir>

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

std::string regression(const std::string& name)
{
    return records::readFile(fs::path(EXITWISE_TEST_DATA_DIR) / "regressions" / name).value();
}

// Every file of a directory with its content: what must stay as it was.
std::map<std::string, std::string> snapshot(const fs::path& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? records::readFile(entry.path()).value() : "<not a file>";
    }
    return files;
}

// A directory that refuses new entries while this lives: by its mode for an ordinary user, by
// the immutable flag for root, whom modes do not stop. `works()` says whether either took.
class ReadOnlyDirectory
{
public:
    explicit ReadOnlyDirectory(fs::path directory)
        : m_directory(std::move(directory))
    {
        if (::geteuid() != 0) {
            m_changedMode = ::chmod(m_directory.c_str(), 0555) == 0;
        } else {
            m_changedFlags = setImmutable(true);
        }
        const fs::path probe = m_directory / ".probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        m_works = fd < 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
        }
    }
    ~ReadOnlyDirectory()
    {
        if (m_changedMode) {
            ::chmod(m_directory.c_str(), 0755);
        }
        if (m_changedFlags) {
            setImmutable(false);
        }
    }
    ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
    ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

    [[nodiscard]] bool works() const { return m_works; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    fs::path m_directory;
    bool m_changedMode = false;
    bool m_changedFlags = false;
    bool m_works = false;
};

// A full disk for this process: no file may grow past `bytes` while this lives (writes beyond
// fail with EFBIG instead of raising SIGXFSZ). Failures are only checked once it is gone, so
// that a test log written to a file is not cut short.
class DiskFull
{
public:
    explicit DiskFull(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~DiskFull()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = SIG_DFL;
};

class StoresBadInput : public ::testing::Test
{
protected:
    fs::path directory() const { return m_temp.path().toStdString(); }
    fs::path eventsFile() const { return directory() / "events.json"; }

    void writeEventsFile(std::string_view text) const
    {
        ASSERT_FALSE(records::atomicReplace(eventsFile(), text));
    }

    static std::vector<AppEvent> sampleList(int count, const std::string& prefix = "App")
    {
        std::vector<AppEvent> events;
        for (int i = 0; i < count; ++i) {
            events.push_back(test::fullEvent(prefix + std::to_string(i), test::sampleTime(-60.0 * i)));
        }
        return events;
    }

    QTemporaryDir m_temp;
};

TEST_F(StoresBadInput, NumbersAndDatesBeyondRangeSetTheFileAsideInsteadOfEndingTheApp)
{
    for (const char* name : {"event_file/number-overflow.json", "event_file/date-out-of-range.json"}) {
        SCOPED_TRACE(name);
        const std::string damaged = regression(name);
        writeEventsFile(damaged);
        const auto readers = EventStore::readStoredEvents(directory());
        ASSERT_FALSE(readers.ok());
        EXPECT_EQ(readers.error().code, 0);

        EventStore store(directory());
        const core::Date at = core::dateFromSecondsSince1970(1772374509.0);
        EXPECT_TRUE(store.load(at).empty());

        EXPECT_EQ(records::readFile(directory() / "events.json.unreadable-20260301T141509Z").value(),
                  damaged);
        ASSERT_FALSE(store.save(sampleList(1), at));
        EXPECT_EQ(EventStore(directory()).load().size(), 1u);
        fs::remove(directory() / "events.json.unreadable-20260301T141509Z");
    }
}

// Nesting far beyond any record's is damage like any other: the file is moved aside instead of
// exhausting the stack on every start, and a ledger line nested so is skipped.
TEST_F(StoresBadInput, DeeplyNestedValuesSetTheFileAsideInsteadOfEndingTheApp)
{
    const std::string seed = regression("event_file/deep-nesting.json");
    std::string deep = seed;
    const std::string nesting = std::string(600, '[') + std::string(600, ']');
    ASSERT_NE(deep.find(nesting), std::string::npos);
    deep.replace(deep.find(nesting), nesting.size(), std::string(100000, '[') + std::string(100000, ']'));
    const core::Date at = core::dateFromSecondsSince1970(1772374509.0);
    const fs::path aside = directory() / "events.json.unreadable-20260301T141509Z";
    for (const std::string& damaged : {seed, deep}) {
        writeEventsFile(damaged);
        const auto readers = EventStore::readStoredEvents(directory());
        ASSERT_FALSE(readers.ok());
        EXPECT_EQ(readers.error().reason, "invalid JSON: nested deeper than 512 levels at byte 864");

        EventStore store(directory());
        EXPECT_TRUE(store.load(at).empty());
        EXPECT_EQ(records::readFile(aside).value(), damaged);
        ASSERT_FALSE(store.save(sampleList(1), at));
        fs::remove(aside);
    }

    const std::vector<AppEvent> events = sampleList(2);
    TerminationEventLedger ledger(directory());
    ledger.append(test::ledgerEntryFor(events[0], test::sampleTime()));
    ASSERT_FALSE(records::plainAppend(ledger.fileURL(), "{\"id\":" + std::string(100000, '{') + "\n"));
    ledger.append(test::ledgerEntryFor(events[1], test::sampleTime(1)));
    EXPECT_EQ(ledger.readAll().size(), 2u);
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
    const auto names = [this] {
        std::vector<std::string> result;
        const auto stored = EventStore::readEventFile(eventsFile());
        for (const AppEvent& event : stored.value()) {
            result.push_back(event.appName);
        }
        return result;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeEventsFile(EventStore::encodeEventFile(sampleList(2, "Old")));
        const fs::path held = directory() / "held.json";
        fs::rename(eventsFile(), held);
        ASSERT_TRUE(c.block(eventsFile()));

        EventStore store(directory());
        ASSERT_TRUE(store.load().empty());
        std::vector<AppEvent> events{test::fullEvent("New", test::sampleTime(60))};
        EXPECT_TRUE(store.save(events)) << "still unreadable";
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(eventsFile())));

        fs::remove(eventsFile());
        fs::rename(held, eventsFile());
        ASSERT_FALSE(store.save(events));
        EXPECT_EQ(names(), (std::vector<std::string>{"New", "Old0", "Old1"}));
        events.insert(events.begin(), test::fullEvent("Newer", test::sampleTime(120)));
        ASSERT_FALSE(store.save(events));
        EXPECT_EQ(names(), (std::vector<std::string>{"Newer", "New", "Old0", "Old1"}));
        for (const auto& [name, content] : snapshot(directory())) {
            EXPECT_EQ(name.find("unreadable"), std::string::npos) << "nothing was moved aside";
        }
    }
}

TEST_F(StoresBadInput, TelemetryWithANumberBeyondRangeIsSetAside)
{
    const std::string damaged = R"([{"eventID":"5AF0E187-EB05-4A03-9D79-95DD3FCE50EB","recordedAt":1e400}])";
    ASSERT_FALSE(records::atomicReplace(directory() / "telemetry.json", damaged));
    DiagnosisTelemetryStore store(directory() / "telemetry.json");
    EXPECT_TRUE(store.load().empty());
    const AppEvent event = test::fullEvent("Notes", test::sampleTime());
    store.record(event, 12, test::sampleTime(1));
    ASSERT_EQ(store.load().size(), 1u);
    std::size_t keptAside = 0;
    for (const auto& [name, content] : snapshot(directory())) {
        keptAside += name.rfind("telemetry.json.unreadable-", 0) == 0 && content == damaged ? 1 : 0;
    }
    EXPECT_EQ(keptAside, 1u);
}

// A later version may know causes, signal types or ratings this one does not. Such an event is
// left out of the list, kept as written and saved again; the rest of the history stays in use.
TEST_F(StoresBadInput, EventsOfALaterVersionSurviveAnOlderOne)
{
    const json::Json stored = json::parse(EventStore::encodeEventFile(sampleList(3, "Old")));
    struct Change
    {
        const char* what;
        json::Json::json_pointer at;
        json::Json value;
    };
    const std::vector<Change> changes{
        {"cause", json::Json::json_pointer("/diagnosis/dominantCause"), "Killed: cosmic ray"},
        {"end state", json::Json::json_pointer("/diagnosis/endState"), "Suspended"},
        {"signal type", json::Json::json_pointer("/diagnosis/signalsUsed/0/type"), "gpuReset"},
        {"rating", json::Json::json_pointer("/feedback"), "Helpful"},
        {"reason", json::Json::json_pointer("/terminationReason"), "suspended"},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        json::Json file = stored;
        file[1][change.at] = change.value;
        file[1]["addedLater"] = json::Json{{"nested", json::Json::array({1, 2})}};
        file[2]["addedLater"] = true;
        const json::Json newer = file[1];
        writeEventsFile(json::dumpCompact(file));

        EventStore store(directory());
        std::vector<AppEvent> events = store.load();
        ASSERT_EQ(events.size(), 2u) << "an unknown key alone hides nothing";
        EXPECT_EQ(events[0].appName, "Old0");
        EXPECT_EQ(events[1].appName, "Old2");
        for (const auto& [name, content] : snapshot(directory())) {
            EXPECT_EQ(name.find("unreadable"), std::string::npos) << "nothing was moved aside";
        }
        ASSERT_TRUE(EventStore::readStoredEvents(directory()).ok());
        EXPECT_EQ(EventStore::readStoredEvents(directory()).value().size(), 2u);

        events.insert(events.begin(), test::fullEvent("New", test::sampleTime(60)));
        ASSERT_FALSE(store.save(events));
        const json::Json saved = json::parse(records::readFile(eventsFile()).value());
        ASSERT_EQ(saved.size(), 4u);
        EXPECT_EQ(saved[0]["appName"], "New");
        EXPECT_EQ(saved[1]["appName"], "Old0");
        EXPECT_EQ(saved[2], newer) << "kept exactly as written, in its place by time";
        EXPECT_EQ(saved[3]["appName"], "Old2");

        // Saved again by a fresh instance, it is still there.
        EventStore again(directory());
        ASSERT_EQ(again.load().size(), 3u);
        ASSERT_FALSE(again.save(again.load()));
        EXPECT_EQ(json::parse(records::readFile(eventsFile()).value())[2], newer);
    }
}

TEST_F(StoresBadInput, RegressionNewerEventFile)
{
    writeEventsFile(regression("event_file/newer-cause.json"));
    EventStore store(directory());
    const std::vector<AppEvent> events = store.load();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_FALSE(store.save(events));
    const json::Json saved = json::parse(records::readFile(eventsFile()).value());
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]["diagnosis"]["dominantCause"], "Killed: cosmic ray");
    EXPECT_EQ(saved[0]["appName"], "Ev\"il\\\n\u202eName");
}

TEST_F(StoresBadInput, DamageNextToANewerEventStillSetsTheWholeFileAside)
{
    json::Json file = json::parse(EventStore::encodeEventFile(sampleList(2)));
    file[0]["diagnosis"]["dominantCause"] = "Killed: cosmic ray";
    file[1].erase("diagnosis");
    const std::string damaged = json::dumpCompact(file);
    writeEventsFile(damaged);

    EventStore store(directory());
    const core::Date at = core::dateFromSecondsSince1970(1772374509.0);
    EXPECT_TRUE(store.load(at).empty());
    EXPECT_EQ(records::readFile(directory() / "events.json.unreadable-20260301T141509Z").value(), damaged);
    ASSERT_FALSE(store.save(sampleList(1), at));
    EXPECT_EQ(json::parse(records::readFile(eventsFile()).value()).size(), 1u)
        << "nothing newer carried over";
}

TEST_F(StoresBadInput, ReadOnlyDataDirectoryKeepsWhatIsStored)
{
    writeEventsFile(EventStore::encodeEventFile(sampleList(2)));
    TerminationEventLedger(directory()).append(test::ledgerEntryFor(sampleList(1)[0], test::sampleTime()));
    const auto before = snapshot(directory());

    EventStore store(directory());
    std::vector<AppEvent> events = store.load();
    ASSERT_EQ(events.size(), 2u);
    std::optional<FileError> saveError;
    {
        const ReadOnlyDirectory readOnly(directory());
        if (!readOnly.works()) {
            GTEST_SKIP() << "cannot make a directory read-only here";
        }
        events.push_back(test::fullEvent("Third", test::sampleTime(-600)));
        saveError = store.save(events);
        DiagnosisTelemetryStore(directory() / "telemetry.json").record(events.back(), 5, test::sampleTime());
        ProductAnalyticsStore(directory())
            .record(ProductAnalyticsEventName::appOpened, {}, test::sampleTime());
    }
    ASSERT_TRUE(saveError);
    EXPECT_NE(saveError->code, 0);
    EXPECT_EQ(snapshot(directory()), before) << "no partial or temporary files, nothing rewritten";
    EXPECT_FALSE(store.save(events)) << "writable again: the next save goes through";
    EXPECT_EQ(EventStore(directory()).load().size(), 3u);
}

TEST_F(StoresBadInput, FullDiskLeavesStoredFilesWholeAndTornLinesAreSkipped)
{
    const std::vector<AppEvent> events = sampleList(2);
    writeEventsFile(EventStore::encodeEventFile(events));
    TerminationEventLedger ledger(directory());
    ledger.append(test::ledgerEntryFor(events[0], test::sampleTime()));
    const auto storedEvents = records::readFile(eventsFile()).value();
    const auto ledgerSize = fs::file_size(ledger.fileURL());

    EventStore store(directory());
    ASSERT_EQ(store.load().size(), 2u);
    std::optional<FileError> saveError;
    {
        // Room for part of one more ledger line only.
        const DiskFull full(ledgerSize + 20);
        saveError = store.save(sampleList(40));
        ledger.append(test::ledgerEntryFor(events[1], test::sampleTime()));
    }
    ASSERT_TRUE(saveError);
    EXPECT_EQ(saveError->code, EFBIG);
    EXPECT_EQ(records::readFile(eventsFile()).value(), storedEvents);
    EXPECT_EQ(fs::file_size(ledger.fileURL()), ledgerSize + 20) << "the line was cut short";
    for (const auto& [name, content] : snapshot(directory())) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << " left behind";
    }

    ledger.append(test::ledgerEntryFor(events[1], test::sampleTime(1)));
    const std::vector<TerminationLedgerEntry> entries = ledger.readAll();
    ASSERT_EQ(entries.size(), 2u) << "the torn line is skipped, the ones around it are kept";
    EXPECT_EQ(entries[0].appName, events[0].appName);
    EXPECT_EQ(entries[1].capturedAt, test::sampleTime(1));
}

TEST_F(StoresBadInput, AppendsToADeviceWithNoSpaceFailQuietly)
{
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    fs::create_symlink("/dev/full", directory() / "event_ledger.jsonl");
    fs::create_symlink("/dev/full", directory() / "product_events.jsonl");

    const std::optional<FileError> error = records::durableAppend(directory() / "event_ledger.jsonl", "{}\n");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ENOSPC);
    TerminationEventLedger ledger(directory());
    EXPECT_NO_THROW(ledger.append(test::ledgerEntryFor(sampleList(1)[0], test::sampleTime())));
    EXPECT_TRUE(ledger.readAll().empty());
    EXPECT_NO_THROW(ProductAnalyticsStore(directory())
                        .record(ProductAnalyticsEventName::appOpened, {}, test::sampleTime()));
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
        EventStore store(directory());
        const bool loadedNothing = store.load().empty();
        const bool saveRefused = store.save(sampleList(1)).has_value();
        TerminationEventLedger ledger(directory());
        ledger.append(test::ledgerEntryFor(sampleList(1)[0], test::sampleTime()));
        const bool ledgerEmpty = ledger.readAll().empty();
        DiagnosisTelemetryStore(directory() / "telemetry.json")
            .record(sampleList(1)[0], 5, test::sampleTime());
        ProductAnalyticsStore(directory())
            .record(ProductAnalyticsEventName::appOpened, {}, test::sampleTime());
        FeedbackStore(directory() / "feedback.jsonl")
            .append(FeedbackRecord{Uuid::random(), "Notes", core::DominantCause::unknown,
                                   core::Confidence::low, true, test::sampleTime()});
        const bool readerFailed = !EventStore::readStoredEvents(directory()).ok();
        return loadedNothing && saveRefused && ledgerEmpty && readerFailed;
    });
    if (work.wait_for(30s) != std::future_status::ready) {
        std::fprintf(stderr, "a store blocked on a FIFO\n");
        std::_Exit(EXIT_FAILURE);
    }
    EXPECT_TRUE(work.get());
    for (const std::string& name : names) {
        EXPECT_TRUE(fs::is_fifo(directory() / name)) << name << " was replaced";
    }
}

// The application goes on recording closures in memory while nothing can be written, and
// saves them all once there is room again.
TEST_F(StoresBadInput, ModelKeepsRunningOnAFullDisk)
{
    writeEventsFile(EventStore::encodeEventFile(sampleList(2)));
    WorkspaceEvents workspace;
    std::vector<std::string> notified;
    AppModel::Dependencies d;
    d.dataDirectory = directory();
    d.workspace = &workspace;
    d.notify = [&notified](const AppEvent& event) { notified.push_back(event.appName); };
    d.clock = [] { return test::sampleTime(3600); };
    AppModel model(std::move(d));
    QCoreApplication::processEvents();
    model.waitForWrites();
    const auto before = snapshot(directory());

    bool announced = false;
    std::size_t eventsWhileFull = 0;
    {
        const DiskFull full(1);
        emit workspace.applicationTerminated(
            RunningApplication{"Sketch Pad", "org.example.SketchPad", 812, {}, {}});
        announced = test::waitUntil([&] { return notified.size() == 1; }, 5000ms);
        eventsWhileFull = model.events().size();
        model.waitForWrites();
    }
    ASSERT_TRUE(announced);
    EXPECT_EQ(eventsWhileFull, 3u);
    EXPECT_EQ(model.events().front().appName, "Sketch Pad");
    // A full disk may take the first byte of an append; nothing stored before is changed.
    const auto after = snapshot(directory());
    for (const auto& [name, content] : before) {
        EXPECT_EQ(after.at(name).substr(0, content.size()), content) << name;
    }
    EXPECT_EQ(after.at("events.json"), before.at("events.json"));

    emit workspace.applicationTerminated(RunningApplication{"Notes", "org.example.Notes", 813, {}, {}});
    ASSERT_TRUE(test::waitUntil([&] { return notified.size() == 2; }, 5000ms));
    model.waitForWrites();
    const auto saved = EventStore::readEventFile(eventsFile());
    ASSERT_TRUE(saved.ok());
    ASSERT_EQ(saved.value().size(), 4u) << "the closure recorded while the disk was full is saved too";
    EXPECT_EQ(saved.value()[0].appName, "Notes");
    EXPECT_EQ(saved.value()[1].appName, "Sketch Pad");
}

} // namespace
} // namespace exitwise::app
