// SPDX-License-Identifier: MIT
#include "app/stores/DiagnosisTelemetryStore.h"

#include "app/RecordFiles.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <utility>

namespace exitwise::app {

namespace json = core::json;

namespace {

bool newerFirst(const DiagnosisTelemetryRecord& a, const DiagnosisTelemetryRecord& b)
{
    const double ta = core::secondsSince1970(a.recordedAt);
    const double tb = core::secondsSince1970(b.recordedAt);
    if (ta != tb) {
        return ta > tb;
    }
    return a.eventID < b.eventID;
}

FileResult<std::vector<DiagnosisTelemetryRecord>> readTelemetryFile(const std::filesystem::path& file)
{
    FileResult<std::string> contents = records::readFile(file);
    if (!contents) {
        return contents.error();
    }
    try {
        return json::decodeArray(json::parse(contents.value()), [](const json::Json& value) {
            return decodeDiagnosisTelemetryRecord(value);
        });
    } catch (const json::DecodeError& error) {
        return FileError{"decode", file, 0, error.what()};
    }
}

} // namespace

DiagnosisTelemetryStore::DiagnosisTelemetryStore(std::filesystem::path fileURL)
    : m_fileURL(std::move(fileURL))
{}

std::vector<DiagnosisTelemetryRecord> DiagnosisTelemetryStore::load(core::Date now)
{
    FileResult<std::vector<DiagnosisTelemetryRecord>> result = readTelemetryFile(m_fileURL);
    if (!result) {
        const FileError& error = result.error();
        m_keepExistingFile =
            error.code != ENOENT
            && (!records::isLastingLoadFailure(error) || !records::setAside(m_fileURL, now).ok());
        return {};
    }
    m_keepExistingFile = false;
    std::vector<DiagnosisTelemetryRecord> loaded = std::move(result).value();
    std::stable_sort(loaded.begin(), loaded.end(), newerFirst);
    std::unordered_set<Uuid> seen;
    std::erase_if(loaded,
                  [&seen](const DiagnosisTelemetryRecord& r) { return !seen.insert(r.eventID).second; });
    return loaded;
}

void DiagnosisTelemetryStore::write(std::vector<DiagnosisTelemetryRecord> records)
{
    if (m_keepExistingFile) {
        return;
    }
    std::stable_sort(records.begin(), records.end(), newerFirst);
    json::Json array = json::Json::array();
    for (const DiagnosisTelemetryRecord& r : records) {
        array.push_back(encode(r));
    }
    static_cast<void>(records::atomicReplace(m_fileURL, json::dumpCompact(array)));
}

void DiagnosisTelemetryStore::record(const AppEvent& event, std::int64_t timeToDiagnosisMS, core::Date at)
{
    std::vector<DiagnosisTelemetryRecord> records = load(at);
    const auto existing = std::find_if(records.begin(), records.end(),
                                       [&event](const auto& r) { return r.eventID == event.id; });

    DiagnosisTelemetryRecord updated;
    updated.eventID = event.id;
    updated.appName = event.appName;
    updated.dominantCause = event.diagnosis.dominantCause;
    updated.confidence = event.diagnosis.confidence;
    for (const core::Signal& signal : event.diagnosis.signalsUsed) {
        updated.signalsUsed.push_back(signal.summary());
    }
    updated.timeToDiagnosisMS = std::max<std::int64_t>(timeToDiagnosisMS, 0);
    updated.recordedAt = at;
    if (existing != records.end()) {
        updated.helpful = existing->helpful;
        updated.feedbackAt = existing->feedbackAt;
        *existing = std::move(updated);
    } else {
        records.push_back(std::move(updated));
    }
    write(std::move(records));
}

void DiagnosisTelemetryStore::updateFeedback(const Uuid& eventID, bool helpful, core::Date at)
{
    std::vector<DiagnosisTelemetryRecord> records = load(at);
    const auto existing = std::find_if(records.begin(), records.end(),
                                       [&eventID](const auto& r) { return r.eventID == eventID; });
    if (existing == records.end()) {
        return;
    }
    existing->helpful = helpful;
    existing->feedbackAt = at;
    write(std::move(records));
}

} // namespace exitwise::app
