// SPDX-License-Identifier: MIT
#include "app/stores/TerminationEventLedger.h"

#include "app/RecordFiles.h"
#include "support/StoreTesting.h"

#include <fstream>
#include <gtest/gtest.h>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

class Ledger : public test::StoreTest
{
protected:
    TerminationLedgerEntry entry(const std::string& appName, double offset) const
    {
        return test::ledgerEntryFor(test::fullEvent(appName, test::sampleTime(offset)),
                                    test::sampleTime(offset + 1));
    }
};

TEST_F(Ledger, AppendsOneLinePerEntryAndReadsThemBackInOrder)
{
    TerminationEventLedger ledger(directory());
    EXPECT_TRUE(ledger.readAll().empty());
    EXPECT_FALSE(fs::exists(ledger.fileURL())) << "reading created the file";
    const std::vector<TerminationLedgerEntry> entries = {entry("A", 0), entry("B", 10), entry("C", 20)};
    for (const auto& e : entries) {
        ledger.append(e);
    }
    const std::string text = records::readFile(ledger.fileURL()).value();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(ledger.readAll(), entries);
    EXPECT_EQ(TerminationEventLedger(directory()).readAll(), entries) << "a second instance shares the file";
}

TEST_F(Ledger, AbsentOptionalsAreOmittedAndDecodeBackEqual)
{
    TerminationLedgerEntry minimal;
    minimal.id = Uuid::random();
    minimal.capturedAt = test::sampleTime(1);
    minimal.appName = "Notes";
    minimal.terminatedAt = test::sampleTime();
    minimal.terminationReason = core::TerminationReason::quit;
    minimal.source = kWorkspaceTerminationSource;
    const auto json = encode(minimal);
    EXPECT_EQ(json.size(), 6u) << json.dump();
    EXPECT_EQ(decodeTerminationLedgerEntry(json), minimal);
}

TEST_F(Ledger, DamagedLinesHideOnlyThemselves)
{
    const TerminationLedgerEntry a = entry("A", 0), b = entry("B", 10), c = entry("C", 20),
                                 d = entry("D", 30);
    const std::string lineA = records::jsonLine(encode(a));
    const std::string lineB = records::jsonLine(encode(b));
    const std::string lineC = records::jsonLine(encode(c));
    core::json::Json withoutSource = encode(d);
    withoutSource.erase("source");
    std::string badByte = records::jsonLine(encode(entry("Caf", 5)));
    badByte.insert(badByte.find("Caf") + 3, "\xE9");

    std::ofstream out(directory() / "event_ledger.jsonl", std::ios::binary);
    out << lineA                                     // good
        << lineB.substr(0, lineB.size() / 2) << '\n' // truncated mid-object
        << '\n'                                      // blank
        << "not json at all\n"                       // corrupt
        << "{\"appName\":\"Caf\xE9\"}\n"             // invalid UTF-8 (Latin-1 byte)
        << withoutSource.dump() << '\n'              // lacks a required key
        << badByte                                   // invalid UTF-8 inside a good line
        << lineB                                     // good
        << lineC.substr(0, lineC.size() - 1);        // good, but no final line feed
    out.close();

    EXPECT_EQ(TerminationEventLedger(directory()).readAll(), (std::vector<TerminationLedgerEntry>{a, b, c}));
}

// The quick line reader must give exactly what the general JSON reader gives, on good lines
// and on every kind of damage.
std::optional<TerminationLedgerEntry> generalDecode(std::string_view line)
{
    try {
        return decodeTerminationLedgerEntry(core::json::parse(line));
    } catch (const core::json::DecodeError&) {
        return std::nullopt;
    } catch (const core::json::Json::exception&) {
        return std::nullopt;
    }
}

TEST(LedgerLine, QuickReaderAgreesWithTheGeneralReader)
{
    const std::string id = "\"id\":\"0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B\"";
    const std::string rest =
        "\"capturedAt\":794000001.5,\"terminatedAt\":794000000,\"terminationReason\":\"quit\","
        "\"source\":\"s\"";
    const std::vector<std::string> lines = {
        "{" + id + ",\"appName\":\"Notes\"," + rest + "}",
        " { " + id + " , \"appName\" : \"Notes\" , " + rest + " } \r",
        "{" + id + ",\"appName\":\"Caf\\u00e9 \\\"A\\\" \\ud83d\\ude00\\n\\/\"," + rest + "}",
        "{" + id + ",\"appName\":\"Caf\xC3\xA9\"," + rest + "}",
        "{" + id + ",\"appName\":\"Bad\xC3\"," + rest + "}",
        "{" + id + ",\"appName\":\"Lone \\ud83d\"," + rest + "}",
        "{" + id + ",\"appName\":\"Tab\tinside\"," + rest + "}",
        "{" + id + ",\"appName\":\"Bad escape \\x\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":812," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":812.0," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":4294967296," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":0812," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":\"812\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":null,\"bundleIdentifier\":null," + rest + "}",
        "{" + id + ",\"appName\":null," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"launchedAt\":1e400," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"launchedAt\":1.," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"terminationQuitAttribution\":\"Logout/session end\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"extra\":{\"nested\":true}," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"extra\":1e400," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"extra\":1e-400,\"more\":0.0001e-320," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"extra\":" + std::string(400, '9') + "," + rest + "}",
        "{" + id + ",\"appName\":\"A\",\"appName\":\"B\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":null,\"pid\":812," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"app\\u004eame\":\"M\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":2147483647," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"pid\":-2147483649," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"launchedAt\":1e13," + rest + "}",
        "{" + id + ",\"appName\":\"N\",\"capturedAt\":null," + rest + "}",
        "{" + id
            + ",\"appName\":\"N\",\"capturedAt\":1,\"terminatedAt\":2,\"terminationReason\":null,\"source\":"
              "\"s\"}",
        "{" + id + ",\"appName\":\"N\",\"extra\":" + std::string(600, '[') + std::string(600, ']') + ","
            + rest + "}",
        "{" + id + ",\"appName\":\"N\"," + rest + "}}",
        "{" + id + ",\"appName\":\"N\"," + rest + "}" + std::string(1, '\0'),
        "{\"id\":\"0e4cbd8a-1f5b-4c1e-8b7a-2d3c4e5f6a7b\",\"appName\":\"N\"," + rest + "}",
        "{\"id\":\"{0E4CBD8A-1F5B-4C1E-8B7A-2D3C4E5F6A7B}\",\"appName\":\"N\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\"," + rest + "} trailing",
        "{" + id + ",\"appName\":\"N\"," + rest + ",}",
        "\xEF\xBB\xBF{" + id + ",\"appName\":\"N\"," + rest + "}",
        "{" + id + ",\"appName\":\"N\"}",
        "{}",
    };
    for (const std::string& line : lines) {
        EXPECT_EQ(decodeTerminationLedgerLine(line), generalDecode(line)) << line;
    }

    // Every prefix of a real line, as a torn write leaves it, and single-byte damage.
    const std::string real = core::json::dumpCompact(encode(test::ledgerEntryFor(
        test::fullEvent("Sketch \"Pad\"", test::sampleTime(0.123)), test::sampleTime(1))));
    for (std::size_t n = 0; n <= real.size(); ++n) {
        ASSERT_EQ(decodeTerminationLedgerLine(real.substr(0, n)), generalDecode(real.substr(0, n))) << n;
    }
    for (std::size_t i = 0; i < real.size(); ++i) {
        for (const char c : {'"', '\x80'}) {
            std::string damaged = real;
            damaged[i] = c;
            ASSERT_EQ(decodeTerminationLedgerLine(damaged), generalDecode(damaged)) << damaged;
        }
    }
}

} // namespace
} // namespace exitwise::app
