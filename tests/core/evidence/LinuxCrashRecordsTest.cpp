// SPDX-License-Identifier: MIT
#include "core/evidence/LinuxCrashRecords.h"

#include "support/ScopedTimeZone.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

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

const std::string kData = std::string(EXITWISE_TEST_DATA_DIR) + "/crash-records/";
const Date kModified = dateFromSecondsSince1970(1796650000.0);

Date at(double seconds)
{
    return dateFromSecondsSince1970(seconds);
}

using TimeZone = test::ScopedTimeZone;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

using Fields = std::map<std::string, std::string, std::less<>>;

// A journal entry as `journalctl -o json` printed it.
Fields coredumpSample(const std::string& name)
{
    Fields fields;
    const nlohmann::json entry = nlohmann::json::parse(readFile(kData + name));
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        fields[it.key()] = it.value().get<std::string>();
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

Fields abrtSample(const std::string& directory)
{
    Fields items;
    for (const char* name : {"type", "analyzer", "executable", "cmdline", "pid", "uid", "time",
                             "last_occurrence", "reason", "proc_pid_status", "cgroup", "signal"}) {
        std::ifstream in(kData + "abrt/" + directory + "/" + name, std::ios::binary);
        if (in) {
            std::ostringstream out;
            out << in.rdbuf();
            items[name] = out.str();
        }
    }
    return items;
}

CrashRecord crash(double time,
                  std::optional<std::int32_t> pid,
                  std::optional<std::int32_t> parentPid,
                  std::string command,
                  std::string executable,
                  std::string signal,
                  std::string cgroup,
                  std::string source,
                  std::string message)
{
    return {CrashRecord::Kind::crash,
            at(time),
            pid,
            parentPid,
            std::move(command),
            std::move(executable),
            std::move(signal),
            std::move(cgroup),
            std::move(source),
            std::move(message)};
}

// --- systemd-coredump ---------------------------------------------------------------------------

TEST(CoredumpRecord, ReadsRealEntries)
{
    const std::string store = "/var/lib/systemd/coredump/core.";
    const std::string boot = ".39c063c1482b4e34a43c2171d2eb4981.";
    // clang-format off
    const std::vector<std::pair<std::string, CrashRecord>> cases = {
        {"coredump-segv.json", crash(1796641220, 4467, 4450, "notes-bin", "/tmp/notes-bin", "SIGSEGV", "/", store + "notes-bin.0" + boot + "4467.1796641220000000.zst", "Process 4467 (notes-bin) of user 0 dumped core.")},
        {"coredump-abort-user.json", crash(1796641223, 4491, 4490, "notes-bin", "/home/exwtest/notes-bin", "SIGABRT", "/", store + "notes-bin.1001" + boot + "4491.1796641223000000.zst", "Process 4491 (notes-bin) of user 1001 dumped core.")},
        {"coredump-fpe-long-name.json", crash(1796642014, 11789, 11780, "org.example.ver", "/tmp/crashers/org.example.very-long-name", "SIGFPE", "/", store + "org\\x2eexample\\x2ever.0" + boot + "11789.1796642014000000.zst", "Process 11789 (org.example.ver) of user 0 dumped core.")},
        {"coredump-bus-user.json", crash(1796642015, 11793, 11780, "photo-lab", "/home/exwtest/photo-lab", "SIGBUS", "/", store + "photo-lab.1001" + boot + "11793.1796642015000000.zst", "Process 11793 (photo-lab) of user 1001 dumped core.")},
    };
    // clang-format on
    for (const auto& [file, expected] : cases) {
        const Fields fields = coredumpSample(file);
        EXPECT_EQ(coredumpRecord(lookup(fields), kModified), expected) << file;
    }
}

TEST(CoredumpRecord, FallsBackFieldByField)
{
    const Fields base = coredumpSample("coredump-segv.json");
    const std::string longLine(10000, 'x');
    struct Case
    {
        const char* name;
        std::vector<std::pair<std::string, std::optional<std::string>>> change; // nullopt removes
        std::function<void(CrashRecord&)> expect;                               // nullptr: no record
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"signal only as a number", {{"COREDUMP_SIGNAL_NAME", std::nullopt}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; }},
        {"unknown name, number wins", {{"COREDUMP_SIGNAL_NAME", "segfault"}, {"COREDUMP_SIGNAL", "6"}}, [](CrashRecord& r) { r.signal = "SIGABRT"; }},
        {"real-time signal name", {{"COREDUMP_SIGNAL_NAME", "SIGRTMIN+3"}}, [](CrashRecord& r) { r.signal = "SIGRTMIN+3"; }},
        {"no signal at all", {{"COREDUMP_SIGNAL_NAME", std::nullopt}, {"COREDUMP_SIGNAL", "0"}}, [](CrashRecord& r) { r.signal = ""; }},
        {"core not stored", {{"COREDUMP_FILENAME", std::nullopt}}, [](CrashRecord& r) { r.source = "journal:systemd-coredump"; }},
        {"no crash time", {{"COREDUMP_TIMESTAMP", std::nullopt}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"garbled crash time", {{"COREDUMP_TIMESTAMP", "17966412200000x0"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"crash time beyond any date", {{"COREDUMP_TIMESTAMP", "9223372036854775807"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"microseconds kept", {{"COREDUMP_TIMESTAMP", "1796641220250000"}}, [](CrashRecord& r) { r.timestamp = at(1796641220.25); }},
        {"desktop cgroup", {{"COREDUMP_CGROUP", "/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Notes-4467.scope"}}, [](CrashRecord& r) { r.cgroup = "/user.slice/user-1000.slice/user@1000.service/app.slice/app-org.example.Notes-4467.scope"; }},
        {"no comm: status Name", {{"COREDUMP_COMM", std::nullopt}}, [](CrashRecord&) {}},
        {"no status", {{"COREDUMP_PROC_STATUS", std::nullopt}}, [](CrashRecord& r) { r.parentPid.reset(); }},
        {"pid garbled", {{"COREDUMP_PID", "-4467"}}, [](CrashRecord& r) { r.pid.reset(); }},
        {"only a comm", {{"COREDUMP_PID", std::nullopt}, {"COREDUMP_SIGNAL", std::nullopt}, {"COREDUMP_SIGNAL_NAME", std::nullopt}, {"COREDUMP_EXE", std::nullopt}}, [](CrashRecord& r) { r.pid.reset(); r.signal = ""; r.executable = ""; }},
        {"bad bytes in comm", {{"COREDUMP_COMM", "note\xffs"}}, [](CrashRecord& r) { r.command = "note\uFFFDs"; }},
        {"one long message line", {{"MESSAGE", longLine + "\nStack trace"}}, [&](CrashRecord& r) { r.message = longLine.substr(0, kMaxValueBytes); }},
        {"nothing names the process", {{"COREDUMP_PID", std::nullopt}, {"COREDUMP_COMM", std::nullopt}, {"COREDUMP_EXE", std::nullopt}, {"COREDUMP_PROC_STATUS", std::nullopt}}, nullptr},
    };
    // clang-format on
    const auto baseRecord = coredumpRecord(lookup(base), kModified);
    ASSERT_TRUE(baseRecord);
    for (const Case& c : cases) {
        Fields fields = base;
        for (const auto& [name, value] : c.change) {
            value ? void(fields[name] = *value) : void(fields.erase(name));
        }
        const auto record = coredumpRecord(lookup(fields), kModified);
        if (!c.expect) {
            EXPECT_FALSE(record) << c.name;
            continue;
        }
        CrashRecord expected = *baseRecord;
        c.expect(expected);
        EXPECT_EQ(record, expected) << c.name;
    }
    EXPECT_FALSE(coredumpRecord([](std::string_view) { return std::nullopt; }, kModified));
}

// --- apport -------------------------------------------------------------------------------------

const CrashRecord kApportAbort = crash(1796641223,
                                       4491,
                                       4490,
                                       "notes-bin",
                                       "/home/exwtest/notes-bin",
                                       "SIGABRT",
                                       "",
                                       "/var/crash/_home_exwtest_notes-bin.1001.crash",
                                       "");

TEST(ApportRecord, ReadsReportsAsApportWritesThem)
{
    const TimeZone utc("UTC");
    EXPECT_EQ(apportRecord(readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash"), kModified,
                           "/var/crash/_home_exwtest_notes-bin.1001.crash"),
              kApportAbort);
    // Older apport writes only the number.
    EXPECT_EQ(
        apportRecord(readFile(kData + "apport/_tmp_notes-bin.0.crash"), kModified, "/var/crash/x.crash"),
        crash(1796641220, 4467, 4450, "notes-bin", "/tmp/notes-bin", "SIGSEGV", "", "/var/crash/x.crash",
              ""));
}

TEST(ApportRecord, ReadsTheDateInLocalTime)
{
    const std::string text = readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash");
    const TimeZone berlin("Europe/Berlin");
    EXPECT_EQ(apportRecord(text, kModified, "")->timestamp, at(1796641223 - 3600));
}

TEST(ApportRecord, KeepsWhatAReportSays)
{
    const TimeZone utc("UTC");
    const std::string head =
        "ProblemType: Crash\nDate: Mon Dec  7 11:00:23 2026\nExecutablePath: /usr/bin/notes\n";
    const CrashRecord base =
        crash(1796641223, std::nullopt, std::nullopt, "", "/usr/bin/notes", "", "", "r", "");
    struct Case
    {
        const char* name;
        std::string text;
        std::function<void(CrashRecord&)> expect; // nullptr: no record
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"minimal", head, [](CrashRecord&) {}},
        {"signal number", head + "Signal: 6\n", [](CrashRecord& r) { r.signal = "SIGABRT"; }},
        {"name wins", head + "Signal: 6\nSignalName: SIGILL\n", [](CrashRecord& r) { r.signal = "SIGILL"; }},
        {"garbled name", head + "Signal: 11\nSignalName: ???\n", [](CrashRecord& r) { r.signal = "SIGSEGV"; }},
        {"garbled number", head + "Signal: eleven\n", [](CrashRecord&) {}},
        {"no date", "ProblemType: Crash\nExecutablePath: /usr/bin/notes\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"impossible date", "ProblemType: Crash\nDate: Mon Feb 31 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"executable from the command line", "ProblemType: Crash\nDate: Mon Dec  7 11:00:23 2026\nProcCmdline: /opt/My\\ App/notes --new\n", [](CrashRecord& r) { r.executable = "/opt/My App/notes"; }},
        {"relative command line", "ProblemType: Crash\nDate: Mon Dec  7 11:00:23 2026\nProcCmdline: notes --new\n", nullptr},
        {"status", head + "ProcStatus:\n Name:\tnotes\n Umask:\t0022\n Pid:\t812\n PPid:\t1\n", [](CrashRecord& r) { r.command = "notes"; r.pid = 812; r.parentPid = 1; }},
        {"status cut short", head + "ProcStatus:\n Name:\tnotes\n Pid:\t81", [](CrashRecord& r) { r.command = "notes"; r.pid = 81; }},
        {"cgroup path", head + "ProcCgroup: /user.slice/app-notes.scope\n", [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"cgroup file", head + "ProcCgroup:\n 1:name=systemd:/\n 0::/user.slice/app-notes.scope\n", [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"key added after the core", head + "CoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\nSignal: 4\n", [](CrashRecord& r) { r.signal = "SIGILL"; }},
        {"CRLF line ends", "ProblemType: Crash\r\nExecutablePath: /usr/bin/notes\r\n", [](CrashRecord& r) { r.timestamp = kModified; }},
        {"not a crash", "ProblemType: Package\nDate: Mon Dec  7 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", nullptr},
        {"a crash of nobody", "ProblemType: Crash\nDate: Mon Dec  7 11:00:23 2026\nSignal: 11\n", nullptr},
        {"no problem type", "Date: Mon Dec  7 11:00:23 2026\nExecutablePath: /usr/bin/notes\n", nullptr},
        {"empty", "", nullptr},
        {"binary garbage", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\n\xff\xfe:\n :", 17), nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto record = apportRecord(c.text, kModified, "r");
        if (!c.expect) {
            EXPECT_FALSE(record) << c.name;
            continue;
        }
        CrashRecord expected = base;
        c.expect(expected);
        EXPECT_EQ(record, expected) << c.name;
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
        EXPECT_EQ(reader.record(kModified, "/var/crash/_home_exwtest_notes-bin.1001.crash"), kApportAbort)
            << piece;
    }
}

TEST(ApportReportReader, KeepsLittleOfAHugeReport)
{
    const TimeZone utc("UTC");
    const std::string text = readFile(kData + "apport/_home_exwtest_notes-bin.1001.crash");
    const std::string textPart = text.substr(0, text.find("CoreDump: base64"));
    ApportReportReader reader;
    reader.feed(textPart);
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
    EXPECT_EQ(reader.record(kModified, "/var/crash/_home_exwtest_notes-bin.1001.crash"), kApportAbort);

    // Values that are needed but huge are cut, never kept whole.
    ApportReportReader huge;
    huge.feed("ProblemType: Crash\nProcStatus:\n Name:\tnotes\n Pid:\t812\n");
    for (int i = 0; i < 1000; ++i) {
        huge.feed(" Groups:\t" + std::string(10000, '1') + "\n");
    }
    huge.feed("ExecutablePath: /" + std::string(5'000'000, 'a'));
    EXPECT_LT(huge.keptBytes(), 2 * kMaxValueBytes);
    const auto record = huge.record(kModified, "r");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->pid, 812);
    EXPECT_EQ(record->command, "notes");
    EXPECT_EQ(record->executable.size(), kMaxValueBytes);
}

// --- ABRT ---------------------------------------------------------------------------------------

TEST(AbrtRecord, ReadsRealProblemDirectories)
{
    const std::string fresh = "ccpp-2026-12-07-11:13:35.693769-11793";
    EXPECT_EQ(abrtRecord(lookup(abrtSample(fresh)), kModified, "/var/spool/abrt/" + fresh),
              crash(1796642015, 11793, 11780, "photo-lab", "/home/exwtest/photo-lab", "SIGBUS", "/",
                    "/var/spool/abrt/" + fresh, "photo-lab killed by SIGBUS"));
    // Seen twice: the time of the last occurrence, and no pid (it was the first one's).
    const std::string repeated = "ccpp-2026-12-07-11:00:20.412345-4467";
    EXPECT_EQ(abrtRecord(lookup(abrtSample(repeated)), kModified, "d"),
              crash(1796641520, std::nullopt, std::nullopt, "notes-bin", "/tmp/notes-bin", "SIGSEGV", "", "d",
                    "notes-bin killed by SIGSEGV"));
    // A Python exception is no native crash.
    EXPECT_FALSE(abrtRecord(lookup(abrtSample("Python3-2026-12-07-11:05:00.718122-4600")), kModified, "d"));
}

TEST(AbrtRecord, KeepsWhatADirectorySays)
{
    const Fields base{
        {"type", "CCpp"}, {"executable", "/usr/bin/notes\n"}, {"pid", "812\n"}, {"time", "1796641220"}};
    const CrashRecord baseRecord =
        crash(1796641220, 812, std::nullopt, "", "/usr/bin/notes", "", "", "d", "");
    struct Case
    {
        const char* name;
        Fields change; // an empty value removes the item
        std::function<void(CrashRecord&)> expect;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"signal file", {{"signal", "11"}, {"reason", "notes killed by SIGABRT"}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; r.message = "notes killed by SIGABRT"; }},
        {"signal by number in the reason", {{"reason", "notes killed by signal 7"}}, [](CrashRecord& r) { r.signal = "SIGBUS"; r.message = "notes killed by signal 7"; }},
        {"older hook's number", {{"reason", "notes killed by SIG11"}}, [](CrashRecord& r) { r.signal = "SIGSEGV"; r.message = "notes killed by SIG11"; }},
        {"reason without signal", {{"reason", "notes crashed\nsecond line"}}, [](CrashRecord& r) { r.message = "notes crashed"; }},
        {"type from the analyzer", {{"type", ""}, {"analyzer", "CCpp"}}, [](CrashRecord&) {}},
        {"no time", {{"time", ""}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"garbled time", {{"time", "yesterday"}}, [](CrashRecord& r) { r.timestamp = kModified; }},
        {"only the last occurrence", {{"time", ""}, {"last_occurrence", "1796641230"}}, [](CrashRecord& r) { r.timestamp = at(1796641230); }},
        {"executable from the command line", {{"executable", ""}, {"cmdline", "/usr/bin/notes --new"}}, [](CrashRecord&) {}},
        {"cgroup", {{"cgroup", "1:name=systemd:/\n0::/user.slice/app-notes.scope\n"}}, [](CrashRecord& r) { r.cgroup = "/user.slice/app-notes.scope"; }},
        {"kernel oops", {{"type", "Kerneloops"}}, nullptr},
        {"no type", {{"type", ""}}, nullptr},
        {"names nobody", {{"executable", ""}, {"pid", "0"}}, nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        Fields items = base;
        for (const auto& [name, value] : c.change) {
            value.empty() ? void(items.erase(name)) : void(items[name] = value);
        }
        const auto record = abrtRecord(lookup(items), kModified, "d");
        if (!c.expect) {
            EXPECT_FALSE(record) << c.name;
            continue;
        }
        CrashRecord expected = baseRecord;
        c.expect(expected);
        EXPECT_EQ(record, expected) << c.name;
    }
}

// --- times --------------------------------------------------------------------------------------

TEST(LinuxCrashRecords, ParsesAsctimeDates)
{
    const TimeZone utc("UTC");
    // clang-format off
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"Mon Dec  7 11:00:24 2026", 1796641224},
        {"Sat Feb 29 23:59:59 2028", 1835481599},
        {" Thu Jan  1 00:00:01 1970\n", 1},
        {"Mon Dec 07 11:00:24 2026", 1796641224},
        {"Mon Dec  7 11:00:24", std::nullopt},
        {"Mon Dez  7 11:00:24 2026", std::nullopt},
        {"Monday Dec  7 11:00:24 2026", std::nullopt},
        {"Mon Dec 32 11:00:24 2026", std::nullopt},
        {"Mon Feb 29 11:00:24 2026", std::nullopt},
        {"Mon Dec  7 24:00:00 2026", std::nullopt},
        {"Mon Dec  7 11:0:24 2026", std::nullopt},
        {"Mon Dec  7 11:00:24 2026 extra", std::nullopt},
        {"2026-12-07 11:00:24", std::nullopt},
        {"", std::nullopt},
    };
    // clang-format on
    for (const auto& [text, seconds] : cases) {
        const auto date = parseAsctimeDate(text);
        EXPECT_EQ(date.has_value(), seconds.has_value()) << text;
        if (date && seconds) {
            EXPECT_EQ(secondsSince1970(*date), *seconds) << text;
        }
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
