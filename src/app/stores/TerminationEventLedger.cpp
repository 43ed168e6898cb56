// SPDX-License-Identifier: MIT
#include "app/stores/TerminationEventLedger.h"

#include "app/RecordFiles.h"

namespace exitwise::app {

TerminationEventLedger::TerminationEventLedger(const std::filesystem::path& dataDirectory)
    : m_fileURL(dataDirectory / "event_ledger.jsonl")
{}

void TerminationEventLedger::append(const TerminationLedgerEntry& entry)
{
    const std::string line = records::jsonLine(encode(entry));
    const std::lock_guard lock(m_lock);
    static_cast<void>(records::durableAppend(m_fileURL, line, records::Links::refuse));
}

std::vector<TerminationLedgerEntry> TerminationEventLedger::readAll() const
{
    std::vector<TerminationLedgerEntry> entries;
    forEachEntry([&entries](TerminationLedgerEntry&& entry) { entries.push_back(std::move(entry)); });
    return entries;
}

void TerminationEventLedger::forEachEntry(const std::function<void(TerminationLedgerEntry&&)>& visit) const
{
    const std::lock_guard lock(m_lock);
    // Line by line: one damaged line (a torn write, a stray byte) must not hide the others.
    // A missing or unreadable file simply has no more entries.
    static_cast<void>(records::forEachLineInFile(m_fileURL, [&visit](std::string_view line) {
        if (auto entry = decodeTerminationLedgerLine(line)) {
            visit(std::move(*entry));
        }
    }));
}

bool TerminationEventLedger::forEachLineFrom(
    std::uint64_t from,
    records::FileIdentity& identity,
    const std::function<void(std::optional<TerminationLedgerEntry>&&, const records::LineInFile&)>& visit)
    const
{
    const std::lock_guard lock(m_lock);
    return !records::forEachLineInFileFrom(
        m_fileURL, from, identity,
        [&visit](const records::LineInFile& line) { visit(decodeTerminationLedgerLine(line.text), line); });
}

} // namespace exitwise::app
