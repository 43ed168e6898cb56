// SPDX-License-Identifier: MIT
#pragma once

#include "app/RecordFiles.h"
#include "app/stores/TerminationLedgerEntry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

namespace exitwise::app {

// The append-only "event_ledger.jsonl": every observed termination, one compact JSON object
// per line. Reads and appends of one instance are serialised by its own lock; several
// instances may share the file.
class TerminationEventLedger
{
public:
    explicit TerminationEventLedger(const std::filesystem::path& dataDirectory);

    // Durably appends one line, never through a symbolic link in the file's place; failures
    // (disk full, permission denied, a link) are swallowed so the termination still goes on to
    // diagnosis.
    void append(const TerminationLedgerEntry& entry);

    // Every decodable line in file order. Lines that do not decode are skipped one by one;
    // a missing file reads as empty and is not created.
    [[nodiscard]] std::vector<TerminationLedgerEntry> readAll() const;

    // readAll one entry at a time, for readers that keep few of them.
    void forEachEntry(const std::function<void(TerminationLedgerEntry&&)>& visit) const;

    // The lines from byte `from` on (the start of a line), each with its entry — none for a
    // line that does not decode — for a reader that remembers how far it got. False when the
    // file could not be read; `identity` says which file was read and how long it was.
    bool forEachLineFrom(std::uint64_t from,
                         records::FileIdentity& identity,
                         const std::function<void(std::optional<TerminationLedgerEntry>&&,
                                                  const records::LineInFile&)>& visit) const;

    [[nodiscard]] const std::filesystem::path& fileURL() const { return m_fileURL; }

private:
    std::filesystem::path m_fileURL;
    mutable std::mutex m_lock;
};

} // namespace exitwise::app
