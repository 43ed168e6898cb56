// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportParser.h"

#include "support/Files.h"
#include "support/ScopedTimeZone.h"

#include <array>
#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using TimeZone = test::ScopedTimeZone;
using Text = std::optional<std::string>;

const Date kFallback = dateFromSecondsSince1970(1700000000.0);

// A header's value comes from the first line starting with its key; the suspicions from keywords
// anywhere in the text, in any case.
TEST(CrashReportParser, ReadsHeadersAndSuspicions)
{
    const Text no;
    // text, exception type, termination signal, suspected memory kill, suspected hang
    // clang-format off
    const std::vector<std::tuple<const char*, Text, Text, bool, bool>> cases = {
        {"Exception Type:  EXC_CRASH (SIGABRT)\r\n", "EXC_CRASH (SIGABRT)", no, false, false},
        {"Exception Type: EXC_BAD_ACCESS\nException Type: EXC_CRASH\n", "EXC_BAD_ACCESS", no, false, false},
        // An empty first value hides later lines with the same key.
        {"Exception Type:   \nException Type: EXC_CRASH\n", no, no, false, false},
        {"   Exception Type: EXC_CRASH\n", no, no, false, false},
        {"exception type: EXC_CRASH\n", no, no, false, false},
        {"Signal: SIGBUS\nTermination Signal: Killed: 9\n", no, "Killed: 9", false, false},
        {"Exception Type: EXC_RESOURCE\nsubtype RESOURCE_TYPE_MEMORY", "EXC_RESOURCE", no, true, false},
        {"Namespace JETSAM", no, no, true, false},
        {"killed under Memory Pressure", no, no, true, false},
        {"see the spindump", no, no, false, true},
        {"Termination Reason: Namespace WATCHDOG", no, no, false, true},
        {"application not responding", no, no, false, true},
    };
    // clang-format on
    for (const auto& [text, exceptionType, terminationSignal, memory, hang] : cases) {
        const CrashReportSignal s = CrashReportParser::parse(text, std::nullopt, kFallback);
        EXPECT_EQ(std::tuple(s.exceptionType, s.terminationSignal, s.suspectedJetsamMemory,
                             s.suspectedWatchdogHang),
                  std::tuple(exceptionType, terminationSignal, memory, hang))
            << text;
    }
}

// A date with an offset is read the same in any time zone; one without is read in the current
// zone, with summer time where the zone has it.
TEST(CrashReportParser, ReportDates)
{
    const char* const zones[] = {"UTC0", "JST-9", "EST5EDT,M3.2.0,M11.1.0"};
    constexpr double base = 1740834309.0;   // 2025-03-01 13:05:09 UTC
    constexpr double july = 1751375109.25;  // 2025-07-01 13:05:09.25 UTC
    using Expected = std::array<double, 3>; // in each zone; -1: no date
    // clang-format off
    const std::vector<std::pair<const char*, Expected>> cases = {
        {"2025-03-01 14:05:09.123 +0100", {base + 0.123, base + 0.123, base + 0.123}},
        {"2025-03-01 14:05:09 +0100", {base, base, base}},
        {"2025-03-01 05:05:09 -0800", {base, base, base}},
        {"2025-03-01 13:05:09.5 +00:00", {base + 0.5, base + 0.5, base + 0.5}},
        {"2025-03-01 14:05:09 +0100 extra", {-1, -1, -1}},
        {"2025-03-01T14:05:09 +0100", {-1, -1, -1}},
        {"2025-02-29 10:00:00 +0000", {-1, -1, -1}},
        {"2025-03-01 24:00:00 +0000", {-1, -1, -1}},
        {"2025-03-01 14:05:09 +2500", {-1, -1, -1}},
        {"March 1", {-1, -1, -1}},
        {"2025-03-01 14:05:09", {base + 3600, base - 8 * 3600, base + 6 * 3600}},
        {"2025-07-01 14:05:09.250", {july + 3600, july - 8 * 3600, july + 5 * 3600}},
    };
    // clang-format on
    for (std::size_t zone = 0; zone < std::size(zones); ++zone) {
        const TimeZone tz(zones[zone]);
        for (const auto& [value, expected] : cases) {
            const auto date = detail::parseReportDate(value);
            EXPECT_NEAR(date ? secondsSince1970(*date) : -1, expected[zone], 1e-6)
                << zones[zone] << " " << value;
        }
    }
}

TEST(CrashReportParser, DynamicLoaderMessageForms)
{
    // clang-format off
    const std::vector<std::pair<const char*, Text>> cases = {
        {"x\n  dyld: Library not loaded: @rpath/libz.so\n", "dyld: Library not loaded: @rpath/libz.so"},
        {"Dyld Error Message: Symbol not found: _png_init\n", "Symbol not found: _png_init"},
        {"Dyld Error Message:\n  Library not loaded: /opt/lib/libraw.so.23\n", "Library not loaded: /opt/lib/libraw.so.23"},
        // Empty key line with an empty next line: keep looking further down.
        {"Dyld Error Message:\n\n   Reason: Library not loaded: /a.so\n", "Reason: Library not loaded: /a.so"},
        {"Dyld Error Message:\n  Symbol not found: _png_init\n", "Symbol not found: _png_init"},
        // Only the line right below the key is looked at.
        {"Dyld Error Message:\n\n  Symbol not found: _png_init\n", std::nullopt},
        {"Dyld Error Message:", std::nullopt},
        {"DYLD: something\n", std::nullopt},
        {"Exception Type: EXC_CRASH\n", std::nullopt},
    };
    // clang-format on
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(detail::dyldErrorMessage(text), message) << text;
    }
}

TEST(CrashReportParser, DynamicLoaderClassificationGateAndOrder)
{
    using K = DyldFailureKind;
    const Text no;
    // clang-format off
    // loader message, termination reason, text, kind
    const std::vector<std::tuple<Text, Text, const char*, std::optional<K>>> cases = {
        {no, no, "", std::nullopt},
        {no, no, "open failed: no such file", std::nullopt}, // gate closed
        {no, no, "Image not found", K::missingLibrary},
        {no, no, "dyld[1]: no such file", K::missingLibrary},
        {no, no, "Library not loaded; wrong architecture", K::missingLibrary},
        {no, no, "dyld: Bad CPU type in executable", K::wrongArchitecture},
        {no, no, "wrong architecture, code signature", K::wrongArchitecture},
        {no, no, "Library Validation failed", K::libraryValidation},
        {"dyld: mapped file not valid for use in process", no, "", K::libraryValidation},
        {no, "Namespace DYLD, Code 1", "Exception Type: EXC_CRASH", K::other},
        {no, no, "dyld: Symbol not found: _f", K::other},
        {no, no, "DYLD loaded the image; abort_with_payload", K::other},
        {no, no, "images loaded by dyld", std::nullopt}, // gate open, no row
    };
    // clang-format on
    for (const auto& [message, reason, text, kind] : cases) {
        SCOPED_TRACE(std::string(text) + " | " + message.value_or("-") + " | " + reason.value_or("-"));
        EXPECT_EQ(detail::classifyDyldFailure(message, reason, text), kind);
    }
}

TEST(CrashReportParser, SampleReports)
{
    const TimeZone tz("UTC0");
    const auto at = dateFromSecondsSince1970;
    const Text no;
    // clang-format off
    // date, path, exception type, termination reason and signal, loader message and kind, then the
    // suspicions: loader, memory kill, hang
    const std::vector<std::pair<const char*, CrashReportSignal>> cases = {
        {"sketch-pad-abort.crash", {at(1740834309.123), "sample", "EXC_CRASH (SIGABRT)", "Namespace SIGNAL, Code 6 Abort trap: 6", no, no, std::nullopt, false, false, false}},
        {"photo-lab-missing-library.crash", {at(1740906720.0), "sample", "EXC_CRASH (SIGABRT)", "Namespace DYLD, Code 1 Library missing", no, "Library not loaded: /opt/photo-lab/lib/libraw.so.23", DyldFailureKind::missingLibrary, true, false, false}},
        {"mailer-codesigning.crash", {at(1741107600.0), "sample", "EXC_CRASH (Code Signature Invalid)", "Namespace CODESIGNING, Code 1 Taskgated Invalid Signature", no, no, std::nullopt, false, false, false}},
        {"viewer-hang.crash", {at(1741192245.0), "sample", "EXC_CRASH (SIGKILL)", "Namespace WATCHDOG, Code 0x8badf00d Application Not Responding", "Killed: 9", no, std::nullopt, false, false, true}},
        // JSON-bodied: no header lines, only the keyword rules apply.
        {"notes-memory.ips", {kFallback, "sample", no, no, no, no, std::nullopt, false, true, false}},
    };
    // clang-format on
    for (const auto& [file, expected] : cases) {
        SCOPED_TRACE(file);
        const std::string text = test::readFile(std::string(EXITWISE_TEST_DATA_DIR) + "/reports/" + file);
        CrashReportSignal actual = CrashReportParser::parse(text, "sample", kFallback);
        EXPECT_NEAR(secondsSince1970(actual.timestamp), secondsSince1970(expected.timestamp), 1e-6);
        actual.timestamp = expected.timestamp;
        EXPECT_EQ(actual, expected);
    }
}

} // namespace
} // namespace exitwise::core
