// SPDX-License-Identifier: MIT
#include "app/stores/TerminationEventLedger.h"

#include "app/RecordFiles.h"
#include "support/StoreTesting.h"

#include <gtest/gtest.h>
#include <sstream>

namespace exitwise::app {
namespace {

namespace fs = std::filesystem;

using Ledger = test::StoreTest;

// A missing ledger reads as empty and is not made; each damaged line hides only itself.
TEST_F(Ledger, ReadsTheLinesThatDecodeInFileOrder)
{
    TerminationEventLedger ledger(directory());
    EXPECT_TRUE(ledger.readAll().empty());
    EXPECT_FALSE(fs::exists(ledger.fileURL())) << "reading created the file";

    const auto entry = [](const std::string& appName, double offset) {
        return test::ledgerEntryFor(test::fullEvent(appName, test::sampleTime(offset)),
                                    test::sampleTime(offset + 1));
    };
    const TerminationLedgerEntry a = entry("A", 0), b = entry("B", 10);
    const TerminationLedgerEntry minimal =
        test::ledgerEntryFor(test::minimalEvent("Notes", test::sampleTime()), test::sampleTime(1));
    const std::string lineB = records::jsonLine(encode(b));
    const std::string lineMinimal = records::jsonLine(encode(minimal));
    core::json::Json withoutSource = encode(entry("D", 30));
    withoutSource.erase("source");
    std::string badByte = records::jsonLine(encode(entry("Caf", 5)));
    badByte.insert(badByte.find("Caf") + 3, "\xE9");

    ledger.append(a);
    const std::string damage = lineB.substr(0, lineB.size() / 2) + '\n' // truncated mid-object
                               + '\n'                                   // blank
                               + "not json at all\n"                    // corrupt
                               + "{\"appName\":\"Caf\xE9\"}\n"          // invalid UTF-8 (Latin-1 byte)
                               + withoutSource.dump() + '\n'            // lacks a required key
                               + badByte;                               // invalid UTF-8 in a good line
    ASSERT_FALSE(records::plainAppend(ledger.fileURL(), damage));
    ledger.append(b);
    ASSERT_FALSE(records::plainAppend(ledger.fileURL(), lineMinimal.substr(0, lineMinimal.size() - 1)));

    EXPECT_EQ(TerminationEventLedger(directory()).readAll(),
              (std::vector<TerminationLedgerEntry>{a, b, minimal}))
        << "the last line lacks its line feed";
}

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

// The quick line reader must give exactly what the general JSON reader gives: on the good and
// damaged lines of tests/data/ledger/lines.txt, on every prefix of a real line (as a torn
// write leaves it) and on single-byte damage to it.
TEST(LedgerLine, QuickReaderAgreesWithTheGeneralReader)
{
    std::istringstream file(test::readFile(fs::path(EXITWISE_TEST_DATA_DIR) / "ledger" / "lines.txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    ASSERT_GT(lines.size(), 30u);
    lines.push_back(lines.front() + '\0');
    for (const std::string& line : lines) {
        EXPECT_EQ(decodeTerminationLedgerLine(line), generalDecode(line)) << line;
    }

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
