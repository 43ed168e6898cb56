// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/evidence/LogEntry.h"
#include "core/evidence/LogPredicate.h"

#include <functional>
#include <optional>
#include <string>

namespace exitwise::core {

struct LogQuery
{
    Date start;
    // Reading stops at the first entry later than this, matching or not.
    Date end;
    LogPredicate predicate;
};

struct LogStoreError
{
    std::string message;
};

// The system's store of log entries.
class LogStore
{
public:
    // Returns false to stop reading.
    using EntryVisitor = std::function<bool(const LogEntry&)>;

    virtual ~LogStore() = default;

    // Hands `visit` every entry from `query.start` on that matches the predicate, in time order,
    // until an entry is later than `query.end` or `visit` returns false. Each call opens the
    // store afresh, so calls may run on several threads at once. Returns an error, before any
    // entry is delivered, when the store cannot be opened or queried; a failure after that
    // only ends the entries early.
    [[nodiscard]] virtual std::optional<LogStoreError> readEntries(const LogQuery& query,
                                                                   const EntryVisitor& visit) const = 0;
};

} // namespace exitwise::core
