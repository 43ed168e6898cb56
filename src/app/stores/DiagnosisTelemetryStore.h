// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/RecordFiles.h"
#include "app/stores/DiagnosisTelemetryRecord.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace exitwise::app {

// "telemetry.json": one record per diagnosed event, newest `recordedAt` first, replaced
// atomically on every change. Not locked; used from one thread. Failures are swallowed.
// Holds the newest kMaxRecords records: it is rewritten whole for every closure.
class DiagnosisTelemetryStore
{
public:
    static constexpr std::size_t kMaxRecords = 5000;

    // A user's rating of a diagnosed event, as updateFeedback() stores it.
    struct Rating
    {
        Uuid eventID;
        bool helpful = false;
        core::Date at;
    };
    // One record() (the record it stores) or one updateFeedback().
    using Change = std::variant<DiagnosisTelemetryRecord, Rating>;

    explicit DiagnosisTelemetryStore(std::filesystem::path fileURL);

    // (Re)writes the event's record; a rating already given to it is kept.
    void record(const AppEvent& event, std::int64_t timeToDiagnosisMS, core::Date at);

    // Stores the latest rating on an existing record; an event without one is left alone.
    void updateFeedback(const Uuid& eventID, bool helpful, core::Date at);

    // The record that record() stores for a freshly diagnosed event.
    [[nodiscard]] static DiagnosisTelemetryRecord
    makeRecord(const AppEvent& event, std::int64_t timeToDiagnosisMS, core::Date at);

    // Several changes in the order given, with one read and at most one write of the file: the
    // file holds every record ever made, so a burst of closures must not rewrite it for each.
    void apply(const std::vector<Change>& changes, core::Date now);

    // The records as stored. A file that exists but does not decode is renamed to
    // "telemetry.json.unreadable-<UTC time>" and reads as no records, so the next write
    // cannot destroy it. Of several records for one event the newest is kept.
    [[nodiscard]] std::vector<DiagnosisTelemetryRecord> load(core::Date now = core::now());

    [[nodiscard]] const std::filesystem::path& fileURL() const { return m_fileURL; }

private:
    // The records as the last write left them, each with its compact text: while the file is
    // still that one, the next change neither reads nor re-encodes it.
    struct Written
    {
        records::FileIdentity file;
        std::vector<DiagnosisTelemetryRecord> records; // newest first
        std::vector<std::string> texts;
    };

    // `texts[i]` is the encoded records[i], or empty when it must be encoded.
    void write(std::vector<DiagnosisTelemetryRecord> records, std::vector<std::string> texts);

    std::filesystem::path m_fileURL;
    bool m_keepExistingFile = false;
    std::optional<Written> m_written;
};

} // namespace exitwise::app
