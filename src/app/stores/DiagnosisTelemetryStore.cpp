// SPDX-License-Identifier: MIT
#include "app/stores/DiagnosisTelemetryStore.h"

#include "app/RecordFiles.h"

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <unordered_map>
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

void DiagnosisTelemetryStore::write(std::vector<DiagnosisTelemetryRecord> records,
                                    std::vector<std::string> texts)
{
    if (m_keepExistingFile) {
        return;
    }
    std::vector<std::size_t> order(records.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&records](std::size_t a, std::size_t b) { return newerFirst(records[a], records[b]); });
    if (order.size() > kMaxRecords) {
        order.resize(kMaxRecords);
    }
    // The bytes dumpCompact gives the whole array, joined from the records' own texts.
    Written written;
    std::string content = "[";
    for (const std::size_t i : order) {
        std::string text = texts[i].empty() ? json::dumpCompact(encode(records[i])) : std::move(texts[i]);
        if (content.size() > 1) {
            content += ',';
        }
        content += text;
        written.records.push_back(std::move(records[i]));
        written.texts.push_back(std::move(text));
    }
    content += ']';
    if (records::atomicReplace(m_fileURL, content)) {
        return;
    }
    if (const std::optional<records::FileIdentity> file = records::identify(m_fileURL)) {
        written.file = *file;
        m_written = std::move(written);
    }
}

DiagnosisTelemetryRecord
DiagnosisTelemetryStore::makeRecord(const AppEvent& event, std::int64_t timeToDiagnosisMS, core::Date at)
{
    DiagnosisTelemetryRecord record;
    record.eventID = event.id;
    record.appName = event.appName;
    record.dominantCause = event.diagnosis.dominantCause;
    record.confidence = event.diagnosis.confidence;
    for (const core::Signal& signal : event.diagnosis.signalsUsed) {
        record.signalsUsed.push_back(signal.summary());
    }
    record.timeToDiagnosisMS = std::max<std::int64_t>(timeToDiagnosisMS, 0);
    record.recordedAt = at;
    return record;
}

void DiagnosisTelemetryStore::record(const AppEvent& event, std::int64_t timeToDiagnosisMS, core::Date at)
{
    apply({makeRecord(event, timeToDiagnosisMS, at)}, at);
}

void DiagnosisTelemetryStore::updateFeedback(const Uuid& eventID, bool helpful, core::Date at)
{
    apply({Rating{eventID, helpful, at}}, at);
}

void DiagnosisTelemetryStore::apply(const std::vector<Change>& changes, core::Date now)
{
    if (changes.empty()) {
        return;
    }
    std::vector<DiagnosisTelemetryRecord> records;
    std::vector<std::string> texts;
    std::optional<Written> unchanged = std::move(m_written);
    m_written.reset();
    if (unchanged && records::identify(m_fileURL) == unchanged->file) {
        records = std::move(unchanged->records);
        texts = std::move(unchanged->texts);
    } else {
        unchanged.reset();
        records = load(now);
        texts.resize(records.size());
    }
    std::unordered_map<Uuid, std::size_t> byEvent;
    for (std::size_t i = 0; i < records.size(); ++i) {
        byEvent.emplace(records[i].eventID, i);
    }
    bool changed = false;
    for (const Change& change : changes) {
        if (const auto* fresh = std::get_if<DiagnosisTelemetryRecord>(&change)) {
            changed = true;
            const auto existing = byEvent.find(fresh->eventID);
            if (existing == byEvent.end()) {
                byEvent.emplace(fresh->eventID, records.size());
                records.push_back(*fresh);
                texts.emplace_back();
                continue;
            }
            DiagnosisTelemetryRecord& stored = records[existing->second];
            DiagnosisTelemetryRecord updated = *fresh;
            updated.helpful = stored.helpful;
            updated.feedbackAt = stored.feedbackAt;
            stored = std::move(updated);
            texts[existing->second].clear();
            continue;
        }
        const Rating& rating = std::get<Rating>(change);
        const auto existing = byEvent.find(rating.eventID);
        if (existing == byEvent.end()) {
            continue;
        }
        records[existing->second].helpful = rating.helpful;
        records[existing->second].feedbackAt = rating.at;
        texts[existing->second].clear();
        changed = true;
    }
    if (changed) {
        write(std::move(records), std::move(texts));
    } else if (unchanged) {
        m_written = Written{unchanged->file, std::move(records), std::move(texts)};
    }
}

} // namespace exitwise::app
