// SPDX-License-Identifier: MIT
#include "core/evidence/LinuxCrashRecords.h"

#include "support/Files.h"
#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>

namespace exitwise::core {

// Only this file prints records.
[[maybe_unused]] static void PrintTo(const CrashRecord& r, std::ostream* os)
{
    *os << "{kind " << static_cast<int>(r.kind) << ", t " << std::fixed << secondsSince1970(r.timestamp)
        << ", pid " << (r.pid ? std::to_string(*r.pid) : "-") << ", ppid "
        << (r.parentPid ? std::to_string(*r.parentPid) : "-") << ", comm \"" << r.command << "\", exe \""
        << r.executable << "\", " << r.signal << ", cgroup \"" << r.cgroup << "\", source \"" << r.source
        << "\", message \"" << r.message << "\"}";
}

namespace {

using namespace linuxcrashrecords;
using test::readFile;
using TimeZone = test::ScopedTimeZone;
using Fields = std::map<std::string, std::string, std::less<>>;
// Item changes of a table row; nullopt removes the item.
using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;
// What a row changes in the expected record; nullptr: no record at all.
using Edit = std::function<void(CrashRecord&)>;

const std::string kData = std::string(EXITWISE_TEST_DATA_DIR) + "/crash-records/";
const std::string kApportFile = "/var/crash/_home_exwtest_notes-bin.1001.crash";
const Date kModified = dateFromSecondsSince1970(1796650000.0);
const std::optional<std::string> gone;

Date at(double seconds)
{
    return dateFromSecondsSince1970(seconds);
}

template <typename... Rest> CrashRecord crash(double time, Rest... rest)
{
    return {CrashRecord::Kind::crash, at(time), rest...};
}

// A journal entry as `journalctl -o json` printed it.
Fields coredumpSample(const std::string& name)
{
    Fields fields;
    const auto entry = nlohmann::json::parse(readFile(kData + name));
    for (const auto& [key, value] : entry.items()) {
        fields[key] = value.get<std::string>();
    }
    return fields;
}

ItemLookup lookup(const Fields& fields)
{
    return [&fields](std::string_view name) -> std::optional<std::string> {
        const auto it = fields.find(name);
        return it == fields.end() ? std::nullopt : std::optional(it->second);
    };
}

// The record a row expects: the base one as the row's edit changes it.
std::optional<CrashRecord> edited(CrashRecord record, const Edit& edit)
{
    return edit ? (edit(record), std::optional(record)) : std::nullopt;
}

// name, item changes, edit of the expected record
using ItemCases = std::vector<std::tuple<const char*, Changes, Edit>>;

// Runs each row on `base` changed as the row says; `read` makes the record of the items.
template <typename Read>
void expectRows(const Fields& base, const CrashRecord& record, const ItemCases& rows, Read read)
{
    for (const auto& [name, changes, edit] : rows) {
        Fields items = base;
        for (const auto& [key, value] : changes) {
            value ? void(items[key] = *value) : void(items.erase(key));
        }
        EXPECT_EQ(read(lookup(items)), edited(record, edit)) << name;
    }
}

// --- systemd-coredump ---------------------------------------------------------------------------

TEST(CoredumpRecord, ReadsRealEntries)
{
    const std::string store = "/var/lib/systemd/coredump/core.";
    const std::string boot = ".39c063c1482b4e34a43c2171d2eb4981.";
    // clang-format off
    const std::vector<std::pair<std::string, CrashRecord>> cases = {
        {"coredump-segv.json", crash(1796641220, 4467, 4450, "notes-bin", "/tmp/notes-bin", "SIGSEGV", "/", store + "notes-bin.0" + boot + "4467.1796641220000000.zst", "Process 4467 (notes-bin) of user 0 dumped core.")},
        {"coredump-fpe-long-name.json", crash(1796642014, 11789, 11780, "org.example.ver", "/tmp/crashers/org.example.very-long-name", "SIGFPE", "/", store + "org\\x2eexample\\x2ever.0" + boot + "11789.1796642014000000.zst", "Process 11789 (org.example.ver) of user 0 dumped core.")},
    };
    // clang-format on
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(coredumpRecord(lookup(coredumpSample(file)), kModified), expected) << file;
    }
    EXPECT_FALSE(coredumpRecord([](std::string_view) { return std::nullopt; }, kModified));
}

TEST(CoredumpRecord, FallsBackFieldByField)
{
    const Fields base = coredumpSample("coredump-segv.json");
    const std::string longLine(10000, 'x');
    // clang-format off
    const ItemCases cases = {
        {"signal only as a number", {{"COREDUMP_SIGNAL_NAME", gone}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; }},
        {"unknown name, number wins", {{"COREDUMP_SIGNAL_NAME", "segfault"}, {"COREDUMP_SIGNAL", "6"}}, [](CrashRecord& r) { r.signal = "SIGABRT"; }},
        {"real-time signal name", {{"COREDUMP_SIGNAL_NAME", "SIGRTMIN+3"}}, [](CrashRecord& r) { r.signal = "SIGRTMIN+3"; }},
        {"no signal at all", {{"COREDUMP_SIGNAL_NAME", gone}, {"COREDUMP_SIGNAL", "0"}}, [](CrashRecord& r) { r.signal = ""; }},
        {"core not stored", {{"COREDUMP_FILENAME", gone}}, [](CrashRecord& r) { r.source = "journal:systemd-coredump"; }},
        {"no crash time", {{"COREDUMP_TIMESTAMP", gone}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"garbled crash time", {{"COREDUMP_TIMESTAMP", "17966412200000x0"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"crash time beyond any date", {{"COREDUMP_TIMESTAMP", "9223372036854775807"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"microseconds kept", {{"COREDUMP_TIMESTAMP", "1796641220250000"}}, [](CrashRecord& r) { r.timestamp = at(1796641220.25); }},
        {"desktop cgroup", {{"COREDUMP_CGROUP", "/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Notes-4467.scope"}}, [](CrashRecord& r) { r.cgroup = "/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Notes-4467.scope"; }},
        {"no comm: status Name", {{"COREDUMP_COMM", gone}}, [](CrashRecord&) {}},
        {"no status", {{"COREDUMP_PROC_STATUS", gone}}, [](CrashRecord& r) { r.parentPid.reset(); }},
        {"pid garbled", {{"COREDUMP_PID", "-4467"}}, [](CrashRecord& r) { r.pid.reset(); }},
        {"only a comm", {{"COREDUMP_PID", gone}, {"COREDUMP_SIGNAL", gone}, {"COREDUMP_SIGNAL_NAME", gone}, {"COREDUMP_EXE", gone}}, [](CrashRecord& r) { r.pid.reset(); r.signal = ""; r.executable = ""; }},
        {"bad bytes in comm", {{"COREDUMP_COMM", "note\xffs"}}, [](CrashRecord& r) { r.command = "note\uFFFDs"; }},
        {"one long message line", {{"MESSAGE", longLine + "\nStack trace"}}, [&](CrashRecord& r) { r.message = longLine.substr(0, kMaxValueBytes); }},
        {"nothing names the process", {{"COREDUMP_PID", gone}, {"COREDUMP_COMM", gone}, {"COREDUMP_EXE", gone}, {"COREDUMP_PROC_STATUS", gone}}, nullptr},
    };
    // clang-format on
    const auto baseRecord = coredumpRecord(lookup(base), kModified);
    ASSERT_TRUE(baseRecord);
    expectRows(base, *baseRecord, cases,
               [](const ItemLookup& item) { return coredumpRecord(item, kModified); });
}

// --- apport -------------------------------------------------------------------------------------

const CrashRecord kApportAbort =
    crash(1796641223, 4491, 4490, "notes-bin", "/home/exwtest/notes-bin", "SIGABRT", "", kApportFile, "");

TEST(ApportRecord, ReadsTheDateInLocalTime)
{
    const TimeZone berlin("Europe/Berlin");
    const std::string text = readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash");
    EXPECT_EQ(apportRecord(text, kModified, "")->timestamp, at(1796641223 - 3600));
}

TEST(ApportRecord, KeepsWhatAReportSays)
{
    const TimeZone utc("UTC");
    const std::string date = "ProblemType: Crash\nDate: Mon Dec  7 11:00:23 2026\n";
    const std::string head = date + "ExecutablePath: /usr/bin/notes\n";
    const CrashRecord base =
        crash(1796641223, std::nullopt, std::nullopt, "", "/usr/bin/notes", "", "", "r", "");
    // clang-format off
    const std::vector<std::tuple<const char*, std::string, Edit>> cases = {
        {"minimal", head, [](CrashRecord&) {}},
        {"signal number", head + "Signal: 6\n", [](CrashRecord& r) { r.signal = "SIGABRT"; }},
        {"name wins", head + "Signal: 6\nSignalName: SIGILL\n", [](CrashRecord& r) { r.signal = "SIGILL"; }},
        {"garbled name", head + "Signal: 11\nSignalName: ???\n", [](CrashRecord& r) { r.signal = "SIGSEGV"; }},
        {"garbled number", head + "Signal: eleven\n", [](CrashRecord&) {}},
        {"no date", "ProblemType: Crash\nExecutablePath: /usr/bin/notes\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"impossible date", "ProblemType: Crash\nDate: Mon Feb 31 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"executable from the command line", date + "ProcCmdline: /opt/My\\ App/notes --new\n", [](CrashRecord& r) { r.executable = "/opt/My App/notes"; }},
        {"relative command line", date + "ProcCmdline: notes --new\n", nullptr},
        {"status", head + "ProcStatus:\n Name:\tnotes\n Umask:\t0022\n Pid:\t812\n PPid:\t1\n", [](CrashRecord& r) { r.command = "notes"; r.pid = 812; r.parentPid = 1; }},
        {"status cut short", head + "ProcStatus:\n Name:\tnotes\n Pid:\t81", [](CrashRecord& r) { r.command = "notes"; r.pid = 81; }},
        {"cgroup path", head + "ProcCgroup: /user.slice/app-notes.scope\n", [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"cgroup file", head + "ProcCgroup:\n 1:name=systemd:/\n 0::/user.slice/app-notes.scope\n", [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"key added after the core", head + "CoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\nSignal: 4\n", [](CrashRecord& r) { r.signal = "SIGILL"; }},
        {"CRLF line ends", "ProblemType: Crash\r\nExecutablePath: /usr/bin/notes\r\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"not a crash", "ProblemType: Package\nDate: Mon Dec  7 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", nullptr},
        {"a crash of nobody", date + "Signal: 11\n", nullptr},
        {"no problem type", "Date: Mon Dec  7 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", nullptr},
        {"empty", "", nullptr},
        {"binary garbage", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\n\xff\xfe:\n :", 17), nullptr},
    };
    // clang-format on
    for (const auto& [name, text, edit] : cases) {
        EXPECT_EQ(apportRecord(text, kModified, "r"), edited(base, edit)) << name;
    }
}

TEST(ApportReportReader, GivesTheSameRecordHoweverTheBytesArrive)
{
    const TimeZone utc("UTC");
    const std::string text = readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash");
    for (const std::size_t piece : {1, 2, 3, 7, 64, 4096}) {
        ApportReportReader reader;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            reader.feed(std::string_view(text).substr(at, piece));
        }
        EXPECT_TRUE(reader.complete()) << piece;
        EXPECT_EQ(reader.record(kModified, kApportFile), kApportAbort) << piece;
    }
}

TEST(ApportReportReader, KeepsLittleOfAHugeReport)
{
    const TimeZone utc("UTC");
    const std::string text = readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash");
    ApportReportReader reader;
    reader.feed(text.substr(0, text.find("CoreDump: base64")));
    EXPECT_FALSE(reader.complete());
    // 50 MB of core dump, as apport writes it: one base64 line per compressed block.
    reader.feed("CoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\n");
    EXPECT_TRUE(reader.complete());
    const std::string block = " " + std::string(65536, 'Q') + "\n";
    std::size_t mostKept = 0;
    for (int i = 0; i < 800; ++i) {
        reader.feed(block);
        mostKept = std::max(mostKept, reader.keptBytes());
    }
    EXPECT_LT(mostKept, 2 * kMaxValueBytes);
    EXPECT_EQ(reader.record(kModified, kApportFile), kApportAbort);

    // Values that are needed but huge are cut, never kept whole.
    ApportReportReader huge;
    huge.feed("ProblemType: Crash\nProcStatus:\n Name:\tnotes\n Pid:\t812\n");
    for (int i = 0; i < 1000; ++i) {
        huge.feed(" Groups:\t" + std::string(10000, '1') + "\n");
    }
    huge.feed("ExecutablePath: /" + std::string(5'000'000, 'a'));
    EXPECT_LT(huge.keptBytes(), 2 * kMaxValueBytes);
    const std::string cut = "/" + std::string(kMaxValueBytes - 1, 'a');
    EXPECT_EQ(huge.record(kModified, "r"),
              crash(secondsSince1970(kModified), 812, std::nullopt, "notes", cut, "", "", "r", ""));
}

// --- ABRT ---------------------------------------------------------------------------------------

TEST(AbrtRecord, KeepsWhatADirectorySays)
{
    const Fields base{
        {"type", "CCpp"}, {"executable", "/usr/bin/notes\n"}, {"pid", "812\n"}, {"time", "1796641220"}};
    const CrashRecord baseRecord =
        crash(1796641220, 812, std::nullopt, "", "/usr/bin/notes", "", "", "d", "");
    // clang-format off
    const ItemCases cases = {
        {"signal file", {{"signal", "11"}, {"reason", "notes killed by SIGABRT"}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; r.message = "notes killed by SIGABRT"; }},
        {"signal by number in the reason", {{"reason", "notes killed by signal 7"}}, [](CrashRecord& r) { r.signal = "SIGBUS"; r.message = "notes killed by signal 7"; }},
        {"older hook's number", {{"reason", "notes killed by SIG11"}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; r.message = "notes killed by SIG11"; }},
        {"reason without signal", {{"reason", "notes crashed\nsecond line"}}, [](CrashRecord& r) { r.message = "notes crashed"; }},
        {"type from the analyzer", {{"type", gone}, {"analyzer", "CCpp"}}, [](CrashRecord&) {}},
        {"no time", {{"time", gone}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"garbled time", {{"time", "yesterday"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"only the last occurrence", {{"time", gone}, {"last_occurrence", "1796641230"}}, [](CrashRecord& r) { r.timestamp = at(1796641230); }},
        {"executable from the command line", {{"executable", gone}, {"cmdline", "/usr/bin/notes --new"}}, [](CrashRecord&) {}},
        {"cgroup", {{"cgroup", "1:name=systemd:/\n0::/user.slice/app-notes.scope\n"}}, [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"kernel oops", {{"type", "Kerneloops"}}, nullptr},
        {"no type", {{"type", gone}}, nullptr},
        {"names nobody", {{"executable", gone}, {"pid", "0"}}, nullptr},
    };
    // clang-format on
    expectRows(base, baseRecord, cases,
               [](const ItemLookup& item) { return abrtRecord(item, kModified, "d"); });
}

// --- times --------------------------------------------------------------------------------------

TEST(LinuxCrashRecords, ParsesAsctimeDates)
{
    const TimeZone utc("UTC");
    // clang-format off
    const std::vector<std::pair<std::string, double>> valid = {
        {"Mon Dec  7 11:00:24 2026", 1796641224},
        {"Sat Feb 29 23:59:59 2028", 1835481599},
        {" Thu Jan  1 00:00:01 1970\n", 1},
        {"Mon Dec 07 11:00:24 2026", 1796641224},
    };
    // clang-format on
    for (const auto& [text, seconds] : valid) {
        const auto date = parseAsctimeDate(text);
        EXPECT_EQ(date ? secondsSince1970(*date) : -1, seconds) << text;
    }
    for (const char* text :
         {"Mon Dec  7 11:00:24", "Mon Dez  7 11:00:24 2026", "Monday Dec  7 11:00:24 2026",
          "Mon Dec 32 11:00:24 2026", "Mon Feb 29 11:00:24 2026", "Mon Dec  7 24:00:00 2026",
          "Mon Dec  7 11:0:24 2026", "Mon Dec  7 11:00:24 2026 extra", "2026-12-07 11:00:24", ""}) {
        EXPECT_FALSE(parseAsctimeDate(text)) << text;
    }
}

TEST(LinuxCrashRecords, AWholeSecondStandsForTheWholeSecond)
{
    const TimestampWindow window{at(100.5), at(110)};
    // clang-format off
    const std::vector<std::pair<double, bool>> cases = {
        {100.5, true}, {105, true}, {110, true},
        {100, true},     // the crash may have come at 100.7
        {99, false}, {100.25, false}, {110.001, false}, {111, false},
    };
    // clang-format on
    for (const auto& [time, inside] : cases) {
        EXPECT_EQ(crashTimeInWindow(at(time), window), inside) << time;
    }
}

} // namespace
} // namespace exitwise::core
