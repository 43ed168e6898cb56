// SPDX-License-Identifier: MIT
#include "core/evidence/LinuxCrashRecords.h"

#include "support/Files.h"
#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>

namespace exitwise::core {

// Only this file prints records: "time | pid | parent pid | comm | executable | signal | cgroup |
// source | message", "-" for no pid.
[[maybe_unused]] static void PrintTo(const CrashRecord& r, std::ostream* os)
{
    const auto pid = [](std::optional<std::int32_t> p) { return p ? std::to_string(*p) : "-"; };
    *os << std::fixed << secondsSince1970(r.timestamp) << " | " << pid(r.pid) << " | " << pid(r.parentPid)
        << " | " << r.command << " | " << r.executable << " | " << r.signal << " | " << r.cgroup << " | "
        << r.source << " | " << r.message << (r.kind == CrashRecord::Kind::crash ? "" : " | unresponsive");
}

namespace {

using namespace linuxcrashrecords;
using test::readFile;
using TimeZone = test::ScopedTimeZone;
using Fields = std::map<std::string, std::string, std::less<>>;

const std::string kData = std::string(EXITWISE_TEST_DATA_DIR) + "/crash-records/";
const std::string kApportFile = "/var/crash/_home_exwtest_notes-bin.1001.crash";
const Date kModified = dateFromSecondsSince1970(1796650000.0);

Date at(double seconds)
{
    return dateFromSecondsSince1970(seconds);
}

template <typename... Rest> CrashRecord crash(double time, Rest... rest)
{
    return {CrashRecord::Kind::crash, at(time), rest...};
}

Fields fieldsOf(const nlohmann::ordered_json& object)
{
    Fields fields;
    for (const auto& [key, value] : object.items()) {
        fields[key] = value.get<std::string>();
    }
    return fields;
}

// A journal entry as `journalctl -o json` printed it.
Fields coredumpSample(const std::string& name)
{
    return fieldsOf(nlohmann::ordered_json::parse(readFile(kData + name)));
}

ItemLookup lookup(const Fields& fields)
{
    return [&fields](std::string_view name) -> std::optional<std::string> {
        const auto it = fields.find(name);
        return it == fields.end() ? std::nullopt : std::optional(it->second);
    };
}

const nlohmann::ordered_json& cases()
{
    static const auto all = nlohmann::ordered_json::parse(readFile(kData + "cases.json"));
    return all;
}

using Read = std::function<std::optional<CrashRecord>(const std::string& report, const ItemLookup& items)>;

// The cases of `section` in cases.json: each a report, or changes to the items of `base` or of a
// coredump sample; each must give its record as PrintTo prints it, or none.
void expectCases(const char* section, const Fields& base, const Read& read)
{
    for (const auto& [name, c] : cases().at(section).items()) {
        Fields items = c.contains("sample") ? coredumpSample(c["sample"]) : base;
        const auto changes = c.value("items", nlohmann::ordered_json::object());
        for (const auto& [key, value] : changes.items()) {
            value.is_null() ? void(items.erase(key)) : void(items[key] = value.get<std::string>());
        }
        const auto record = read(c.value("report", ""), lookup(items));
        EXPECT_EQ(record ? nlohmann::ordered_json(testing::PrintToString(*record)) : nullptr, c.at("record"))
            << name;
    }
}

// --- systemd-coredump ---------------------------------------------------------------------------

TEST(CoredumpRecord, ReadsRealEntriesAndFallsBackFieldByField)
{
    Fields items = coredumpSample("coredump-segv.json");
    expectCases("coredump", items,
                [](const std::string&, const ItemLookup& item) { return coredumpRecord(item, kModified); });
    // Bytes JSON cannot hold, and a message line longer than any kept.
    items["COREDUMP_COMM"] = "note\xffs";
    items["MESSAGE"] = std::string(10000, 'x') + "\nStack trace";
    const auto record = coredumpRecord(lookup(items), kModified);
    ASSERT_TRUE(record);
    EXPECT_EQ(std::tie(record->command, record->message),
              std::tuple("note\uFFFDs", std::string(kMaxValueBytes, 'x')));
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
    expectCases("apport", {}, [](const std::string& report, const ItemLookup&) {
        return apportRecord(report, kModified, "r");
    });
    const std::string garbage("\177ELF\x02\x01\x01\0\0\0\n\xff\xfe:\n :", 17);
    EXPECT_FALSE(apportRecord(garbage, kModified, "r")) << "binary garbage";
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
    expectCases("abrt", fieldsOf(cases().at("abrt base")),
                [](const std::string&, const ItemLookup& item) { return abrtRecord(item, kModified, "d"); });
}

// --- times --------------------------------------------------------------------------------------

TEST(LinuxCrashRecords, ParsesAsctimeDates)
{
    const TimeZone utc("UTC");
    for (const auto& [text, seconds] : cases().at("asctime").items()) {
        const auto date = parseAsctimeDate(text);
        EXPECT_EQ(date ? nlohmann::ordered_json(secondsSince1970(*date)) : nullptr, seconds) << text;
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
