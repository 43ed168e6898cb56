// SPDX-License-Identifier: MIT
#include "core/evidence/CrashReportParser.h"

#include "support/ScopedTimeZone.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::core {
namespace {

const Date kFallback = dateFromSecondsSince1970(1700000000.0);

using TimeZone = test::ScopedTimeZone;

std::string readSample(const std::string& name)
{
    std::ifstream in(std::string(EXITWISE_TEST_DATA_DIR) + "/reports/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(CrashReportParser, HeaderLookupTakesTheFirstLineStartingWithTheKey)
{
    struct Case
    {
        const char* text;
        std::optional<std::string> exceptionType;
        std::optional<std::string> terminationSignal;
    };
    const Case cases[] = {
        {"Exception Type:  EXC_CRASH (SIGABRT)\r\n", "EXC_CRASH (SIGABRT)", std::nullopt},
        {"Exception Type: EXC_BAD_ACCESS\nException Type: EXC_CRASH\n", "EXC_BAD_ACCESS", std::nullopt},
        // An empty first value hides later lines with the same key.
        {"Exception Type:   \nException Type: EXC_CRASH\n", std::nullopt, std::nullopt},
        {"   Exception Type: EXC_CRASH\n", std::nullopt, std::nullopt},
        {"exception type: EXC_CRASH\n", std::nullopt, std::nullopt},
        {"Termination Signal:   \nSignal: SIGSEGV\n", std::nullopt, "SIGSEGV"},
        {"Signal: SIGBUS\nTermination Signal: Killed: 9\n", std::nullopt, "Killed: 9"},
        {"Termination Signal:", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CrashReportSignal signal = CrashReportParser::parse(c.text, std::nullopt, kFallback);
        EXPECT_EQ(signal.exceptionType, c.exceptionType);
        EXPECT_EQ(signal.terminationSignal, c.terminationSignal);
    }
}

TEST(CrashReportParser, DatesWithAnOffsetIgnoreTheTimeZone)
{
    // 2025-03-01 13:05:09 UTC
    constexpr double base = 1740834309.0;
    struct Case
    {
        const char* value;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"2025-03-01 14:05:09.123 +0100", base + 0.123},
        {"2025-03-01 14:05:09 +0100", base},
        {"2025-03-01 05:05:09 -0800", base},
        {"2025-03-01 13:05:09.5 +00:00", base + 0.5},
        {"2025-03-01 14:05:09 +0100 extra", std::nullopt},
        {"2025-03-01T14:05:09 +0100", std::nullopt},
        {"2025-02-29 10:00:00 +0000", std::nullopt},
        {"2025-03-01 24:00:00 +0000", std::nullopt},
        {"2025-03-01 14:05:09 +2500", std::nullopt},
        {"March 1", std::nullopt},
    };
    for (const char* zone : {"UTC0", "JST-9"}) {
        const TimeZone tz(zone);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(zone) + " " + c.value);
            const auto date = detail::parseReportDate(c.value);
            ASSERT_EQ(date.has_value(), c.expected.has_value());
            if (date) {
                EXPECT_NEAR(secondsSince1970(*date), *c.expected, 1e-6);
            }
        }
    }
}

TEST(CrashReportParser, DatesWithoutAnOffsetUseTheCurrentTimeZone)
{
    const std::string text = "Date/Time: 2025-03-01 14:05:09\n";
    constexpr double localAsUtc = 1740837909.0; // 2025-03-01 14:05:09 UTC
    struct Case
    {
        const char* zone;
        double offsetSeconds; // east of UTC
    };
    const Case cases[] = {{"UTC0", 0}, {"JST-9", 9 * 3600}, {"EST5EDT,M3.2.0,M11.1.0", -5 * 3600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        const TimeZone tz(c.zone);
        const CrashReportSignal signal = CrashReportParser::parse(text, std::nullopt, kFallback);
        EXPECT_DOUBLE_EQ(secondsSince1970(signal.timestamp), localAsUtc - c.offsetSeconds);
        const auto withMillis = detail::parseReportDate("2025-07-01 14:05:09.250");
        ASSERT_TRUE(withMillis);
        // Summer time applies where the zone has it.
        const double summer = c.zone[0] == 'E' ? 3600 : 0;
        EXPECT_DOUBLE_EQ(secondsSince1970(*withMillis), 1751378709.25 - c.offsetSeconds - summer);
    }
}

TEST(CrashReportParser, DynamicLoaderMessageForms)
{
    struct Case
    {
        const char* text;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"x\n  dyld: Library not loaded: @rpath/libz.so\n", "dyld: Library not loaded: @rpath/libz.so"},
        {"Dyld Error Message: Symbol not found: _png_init\n", "Symbol not found: _png_init"},
        {"Dyld Error Message:\n  Library not loaded: /opt/lib/libraw.so.23\n",
         "Library not loaded: /opt/lib/libraw.so.23"},
        // Empty key line with an empty next line: keep looking further down.
        {"Dyld Error Message:\n\n   Reason: Library not loaded: /a.so\n",
         "Reason: Library not loaded: /a.so"},
        {"Dyld Error Message:\n  Symbol not found: _png_init\n", "Symbol not found: _png_init"},
        // Only the line right below the key is looked at.
        {"Dyld Error Message:\n\n  Symbol not found: _png_init\n", std::nullopt},
        {"Dyld Error Message:", std::nullopt},
        {"DYLD: something\n", std::nullopt},
        {"Exception Type: EXC_CRASH\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(detail::dyldErrorMessage(c.text), c.message);
    }
}

TEST(CrashReportParser, DynamicLoaderClassificationGateAndOrder)
{
    using K = DyldFailureKind;
    struct Case
    {
        std::optional<std::string> message;
        std::optional<std::string> reason;
        const char* text;
        std::optional<K> kind;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, "", std::nullopt},
        {std::nullopt, std::nullopt, "open failed: no such file", std::nullopt}, // gate closed
        {std::nullopt, std::nullopt, "Image not found", K::missingLibrary},
        {std::nullopt, std::nullopt, "dyld[1]: no such file", K::missingLibrary},
        {std::nullopt, std::nullopt, "Library not loaded; wrong architecture", K::missingLibrary},
        {std::nullopt, std::nullopt, "dyld: Bad CPU type in executable", K::wrongArchitecture},
        {std::nullopt, std::nullopt, "wrong architecture, code signature", K::wrongArchitecture},
        {std::nullopt, std::nullopt, "Library Validation failed", K::libraryValidation},
        {"dyld: mapped file not valid for use in process", std::nullopt, "", K::libraryValidation},
        {std::nullopt, "Namespace DYLD, Code 1", "Exception Type: EXC_CRASH", K::other},
        {std::nullopt, std::nullopt, "dyld: Symbol not found: _f", K::other},
        {std::nullopt, std::nullopt, "DYLD loaded the image; abort_with_payload", K::other},
        {std::nullopt, std::nullopt, "images loaded by dyld", std::nullopt}, // gate open, no row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " | " + c.message.value_or("-") + " | " + c.reason.value_or("-"));
        EXPECT_EQ(detail::classifyDyldFailure(c.message, c.reason, c.text), c.kind);
    }
}

TEST(CrashReportParser, SuspicionFlagsSearchTheWholeTextIgnoringCase)
{
    struct Case
    {
        const char* text;
        bool jetsam;
        bool watchdog;
    };
    const Case cases[] = {
        {"Exception Type: EXC_RESOURCE\nsubtype RESOURCE_TYPE_MEMORY", true, false},
        {"Namespace JETSAM", true, false},
        {"killed under Memory Pressure", true, false},
        {"see the spindump", false, true},
        {"Termination Reason: Namespace WATCHDOG", false, true},
        {"application not responding", false, true},
        {"EXC_BAD_ACCESS at 0x10", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CrashReportSignal signal = CrashReportParser::parse(c.text, std::nullopt, kFallback);
        EXPECT_EQ(signal.suspectedJetsamMemory, c.jetsam);
        EXPECT_EQ(signal.suspectedWatchdogHang, c.watchdog);
    }
}

TEST(CrashReportParser, SampleReports)
{
    const TimeZone tz("UTC0");
    const auto make = [](double seconds) {
        CrashReportSignal s;
        s.timestamp = dateFromSecondsSince1970(seconds);
        s.sourcePath = "sample";
        return s;
    };

    CrashReportSignal abort = make(1740834309.123);
    abort.exceptionType = "EXC_CRASH (SIGABRT)";
    abort.terminationReason = "Namespace SIGNAL, Code 6 Abort trap: 6";

    CrashReportSignal missing = make(1740906720.0);
    missing.exceptionType = "EXC_CRASH (SIGABRT)";
    missing.terminationReason = "Namespace DYLD, Code 1 Library missing";
    missing.dyldErrorMessage = "Library not loaded: /opt/photo-lab/lib/libraw.so.23";
    missing.dyldFailureKind = DyldFailureKind::missingLibrary;
    missing.suspectedDyldFailure = true;

    CrashReportSignal codesign = make(1741107600.0);
    codesign.exceptionType = "EXC_CRASH (Code Signature Invalid)";
    codesign.terminationReason = "Namespace CODESIGNING, Code 1 Taskgated Invalid Signature";

    CrashReportSignal hang = make(1741192245.0);
    hang.exceptionType = "EXC_CRASH (SIGKILL)";
    hang.terminationSignal = "Killed: 9";
    hang.terminationReason = "Namespace WATCHDOG, Code 0x8badf00d Application Not Responding";
    hang.suspectedWatchdogHang = true;

    // JSON-bodied: no header lines, only the keyword rules apply.
    CrashReportSignal memory = make(secondsSince1970(kFallback));
    memory.suspectedJetsamMemory = true;

    const std::pair<const char*, CrashReportSignal> cases[] = {
        {"sketch-pad-abort.crash", abort},      {"photo-lab-missing-library.crash", missing},
        {"mailer-codesigning.crash", codesign}, {"viewer-hang.crash", hang},
        {"notes-memory.ips", memory},
    };
    for (const auto& [file, expected] : cases) {
        SCOPED_TRACE(file);
        const std::string text = readSample(file);
        ASSERT_FALSE(text.empty());
        CrashReportSignal actual = CrashReportParser::parse(text, "sample", kFallback);
        EXPECT_NEAR(secondsSince1970(actual.timestamp), secondsSince1970(expected.timestamp), 1e-6);
        actual.timestamp = expected.timestamp;
        EXPECT_EQ(actual, expected);
    }
}

} // namespace
} // namespace exitwise::core
