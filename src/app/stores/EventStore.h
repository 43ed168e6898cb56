// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/FileError.h"
#include "app/stores/EventLedgerReconciler.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::app {

// "events.json": the whole list of recorded events as one compact JSON array, replaced
// atomically on every change, and the reconciler that checks it against the ledger.
// Used from one thread.
class EventStore
{
public:
    // The most events a file keeps, those of later versions included: the newest.
    static constexpr std::size_t kMaxEvents = 200;

    explicit EventStore(const std::filesystem::path& dataDirectory);

    // What an event file holds. An event that a later version wrote with a value this one does
    // not know (a new cause, a new signal type) cannot be shown; it is kept as written and saved
    // again with the list, so that running an older version loses nothing.
    struct EventFile
    {
        std::vector<AppEvent> events;
        std::vector<core::json::Json> newerEvents;
    };

    // The stored events in file order. A missing file gives an empty list. A file that exists
    // but does not decode (or may not be opened) also gives an empty list, and is first renamed
    // to "events.json.unreadable-<UTC time>" so that the next save cannot destroy it. When it
    // cannot be moved, or reading failed for a passing reason (EIO, EMFILE, a FIFO in its
    // place), the file stays where it is until a save reads it. Events of a later version are
    // left out of the list and kept for the next save.
    [[nodiscard]] std::vector<AppEvent> load(core::Date now = core::now());

    // Writes the whole list (atomic replace, fsync'ed), then reconciles it with the ledger.
    // With the events of later versions it keeps only the newest kMaxEvents.
    // After a load that failed for a passing reason the file is read again first: the events
    // found there that the list lacks are saved with it; while it still cannot be read (or set
    // aside) the save is refused and the file left alone.
    // The application swallows the error; it is returned for callers that care.
    [[nodiscard]] std::optional<FileError> save(const std::vector<AppEvent>& events,
                                                core::Date now = core::now());

    // Reads an event file without changing anything: for readers outside the application.
    // A missing file is an error with code ENOENT; content that does not decode is an error
    // with code 0 whose reason names the failing value. Events of a later version are left out.
    [[nodiscard]] static FileResult<std::vector<AppEvent>> readEventFile(const std::filesystem::path& file);

    // The events of a data directory as the application shows them, newest first, read
    // without changing anything. A missing file means no events yet.
    [[nodiscard]] static FileResult<std::vector<AppEvent>>
    readStoredEvents(const std::filesystem::path& dataDirectory);

    // Throws core::json::DecodeError unless the text is one array of events; an element that
    // fails only on an unknown value goes to `newerEvents`.
    [[nodiscard]] static EventFile decodeEventFile(std::string_view text);

    // The events file's JSON text. Each of `newerEvents` goes before the first event that
    // ended earlier than it; the order of `events` is kept.
    [[nodiscard]] static std::string encodeEventFile(const std::vector<AppEvent>& events,
                                                     const std::vector<core::json::Json>& newerEvents = {});

    [[nodiscard]] const std::filesystem::path& fileURL() const { return m_fileURL; }
    [[nodiscard]] const EventLedgerReconciler& reconciler() const { return m_reconciler; }
    // The events of later versions kept since the last load or save.
    [[nodiscard]] const std::vector<core::json::Json>& newerEvents() const { return m_newerEvents; }

private:
    [[nodiscard]] bool mustStayAfter(const FileError& error, core::Date now) const;
    [[nodiscard]] bool retryLoad(const std::vector<AppEvent>& events, core::Date now);
    [[nodiscard]] std::optional<FileError> write(const std::vector<AppEvent>& events, core::Date now);

    std::filesystem::path m_fileURL;
    EventLedgerReconciler m_reconciler;
    bool m_keepExistingFile = false;
    std::vector<core::json::Json> m_newerEvents;
    // Found by a retried load and missing from the caller's list: saved with every list.
    std::vector<AppEvent> m_recoveredEvents;
};

// The events newest first by termination time; equal times keep their order.
void sortNewestFirst(std::vector<AppEvent>& events);

} // namespace exitwise::app
