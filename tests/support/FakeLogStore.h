// SPDX-License-Identifier: MIT
#pragma once

#include "core/evidence/LogStore.h"

#include <atomic>
#include <optional>
#include <vector>

namespace exitwise::test {

// Entries held in memory, in time order; the query is applied as the journal store applies it.
class FakeLogStore final : public core::LogStore
{
public:
    std::vector<core::LogEntry> entries;
    // Returned instead of reading, like a store that cannot be opened.
    std::optional<core::LogStoreError> failure;
    // False: keep delivering past the query's end, to see that the reader stops by itself.
    bool honoursEnd = true;
    // How many matching entries were handed out.
    mutable std::atomic<int> delivered{0};

    [[nodiscard]] std::optional<core::LogStoreError> readEntries(const core::LogQuery& query,
                                                                 const EntryVisitor& visit) const override
    {
        if (failure) {
            return failure;
        }
        for (const core::LogEntry& entry : entries) {
            if (honoursEnd && entry.date > query.end) {
                break;
            }
            if (entry.date < query.start || !query.predicate.matches(entry)) {
                continue;
            }
            ++delivered;
            if (!visit(entry)) {
                break;
            }
        }
        return std::nullopt;
    }
};

} // namespace exitwise::test
