// SPDX-License-Identifier: MIT
// One line of "event_ledger.jsonl". The fast reader for common lines must agree with the
// general JSON reader on every input.

#include "FuzzSupport.h"
#include "app/RecordFiles.h"
#include "app/stores/TerminationLedgerEntry.h"

using namespace exitwise;
namespace json = core::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line = fuzz::asText(data, size);
    const std::optional<app::TerminationLedgerEntry> fast = app::decodeTerminationLedgerLine(line);

    std::optional<app::TerminationLedgerEntry> general;
    json::Json value;
    if (fuzz::parseJson(line, value)) {
        try {
            general = app::decodeTerminationLedgerEntry(value);
        } catch (const json::DecodeError&) {
        }
    }
    if (fast.has_value() != general.has_value()) {
        fuzz::fail(fast ? "the fast ledger reader accepts a line the JSON reader rejects"
                        : "the fast ledger reader rejects a line the JSON reader accepts");
    }
    if (fast && !(*fast == *general)) {
        fuzz::fail("the two ledger readers disagree");
    }
    if (fast) {
        const std::string written = app::records::jsonLine(app::encode(*fast));
        if (written.find('\n') != written.size() - 1) {
            fuzz::fail("a ledger entry was written on more than one line", written);
        }
        const std::optional<app::TerminationLedgerEntry> reread =
            app::decodeTerminationLedgerLine(std::string_view(written).substr(0, written.size() - 1));
        if (!reread) {
            fuzz::fail("a written ledger line does not read back", written);
        }
        if (app::records::jsonLine(app::encode(*reread)) != written) {
            fuzz::fail("a ledger line changed across write and read", written);
        }
    }
    return 0;
}
