// SPDX-License-Identifier: MIT
#include "app/stores/EventStore.h"

#include "app/RecordFiles.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>
#include <unordered_set>
#include <utility>

namespace exitwise::app {

namespace json = core::json;

EventStore::EventStore(const std::filesystem::path& dataDirectory)
    : m_fileURL(dataDirectory / "events.json")
    , m_reconciler(dataDirectory)
{}

namespace {

FileResult<EventStore::EventFile> readWholeEventFile(const std::filesystem::path& file)
{
    FileResult<std::string> contents = records::readFile(file);
    if (!contents) {
        return contents.error();
    }
    try {
        return EventStore::decodeEventFile(contents.value());
    } catch (const json::DecodeError& error) {
        return FileError{"decode", file, 0, error.what()};
    }
}

// When a newer event ended, in the event file's numbers; unknown ones sort last.
double terminationTimeOf(const json::Json& event)
{
    if (event.is_object()) {
        const auto it = event.find("terminatedAt");
        if (it != event.end() && it->is_number()) {
            return it->get<double>();
        }
    }
    return -std::numeric_limits<double>::infinity();
}

// The id of an event this version cannot decode, when it has a readable one.
std::optional<Uuid> idOf(const json::Json& event)
{
    if (!event.is_object()) {
        return std::nullopt;
    }
    const auto it = event.find("id");
    if (it == event.end() || !it->is_string()) {
        return std::nullopt;
    }
    return Uuid::parse(it->get<std::string>());
}

} // namespace

EventStore::EventFile EventStore::decodeEventFile(std::string_view text)
{
    const json::Json array = json::parse(text);
    if (!array.is_array()) {
        throw json::DecodeError({}, "expected an array, found " + json::typeName(array));
    }
    EventFile file;
    file.events.reserve(array.size());
    // An id names one closure: the first event holding it is kept and later twins are dropped,
    // so nothing downstream (re-diagnosis, feedback, the ledger) meets the same id twice.
    std::unordered_set<Uuid> seen;
    for (std::size_t i = 0; i < array.size(); ++i) {
        try {
            AppEvent event = decodeAppEvent(array[i]);
            if (seen.insert(event.id).second) {
                file.events.push_back(std::move(event));
            }
        } catch (const json::DecodeError& error) {
            if (!error.isUnknownValue()) {
                throw error.within("[" + std::to_string(i) + "]");
            }
            const std::optional<Uuid> id = idOf(array[i]);
            if (!id || seen.insert(*id).second) {
                file.newerEvents.push_back(array[i]);
            }
        }
    }
    return file;
}

FileResult<std::vector<AppEvent>> EventStore::readEventFile(const std::filesystem::path& file)
{
    FileResult<EventFile> result = readWholeEventFile(file);
    if (!result) {
        return result.error();
    }
    return std::move(result).value().events;
}

FileResult<std::vector<AppEvent>> EventStore::readStoredEvents(const std::filesystem::path& dataDirectory)
{
    FileResult<std::vector<AppEvent>> result = readEventFile(dataDirectory / "events.json");
    if (!result) {
        if (result.error().code == ENOENT) {
            return std::vector<AppEvent>{};
        }
        return result;
    }
    std::vector<AppEvent> events = std::move(result).value();
    sortNewestFirst(events);
    return events;
}

std::string EventStore::encodeEventFile(const std::vector<AppEvent>& events,
                                        const std::vector<json::Json>& newerEvents)
{
    std::vector<const json::Json*> pending;
    pending.reserve(newerEvents.size());
    for (const json::Json& event : newerEvents) {
        pending.push_back(&event);
    }
    std::stable_sort(pending.begin(), pending.end(), [](const json::Json* a, const json::Json* b) {
        return terminationTimeOf(*a) > terminationTimeOf(*b);
    });
    auto next = pending.begin();

    json::Json array = json::Json::array();
    for (const AppEvent& event : events) {
        json::Json encoded = encode(event);
        const double endedAt = terminationTimeOf(encoded);
        for (; next != pending.end() && terminationTimeOf(**next) > endedAt; ++next) {
            array.push_back(**next);
        }
        array.push_back(std::move(encoded));
    }
    for (; next != pending.end(); ++next) {
        array.push_back(**next);
    }
    return json::dumpCompact(array);
}

std::vector<AppEvent> EventStore::load(core::Date now)
{
    m_newerEvents.clear();
    m_recoveredEvents.clear();
    FileResult<EventFile> result = readWholeEventFile(m_fileURL);
    if (result) {
        m_keepExistingFile = false;
        EventFile file = std::move(result).value();
        m_newerEvents = std::move(file.newerEvents);
        return std::move(file.events);
    }
    m_keepExistingFile = mustStayAfter(result.error(), now);
    return {};
}

bool EventStore::mustStayAfter(const FileError& error, core::Date now) const
{
    // The history the user had must survive the next save: content that will never decode
    // (or cannot be opened) is moved aside; after a passing failure such as EIO or EMFILE the
    // file stays where it is and the next save reads it again first.
    return error.code != ENOENT
           && (!records::isLastingLoadFailure(error) || !records::setAside(m_fileURL, now).ok());
}

bool EventStore::retryLoad(const std::vector<AppEvent>& events, core::Date now)
{
    FileResult<EventFile> result = readWholeEventFile(m_fileURL);
    if (!result) {
        m_keepExistingFile = mustStayAfter(result.error(), now);
        return !m_keepExistingFile;
    }
    // Nothing the file holds may be lost: what the list lacks is kept beside it.
    EventFile file = std::move(result).value();
    std::unordered_set<Uuid> listed;
    for (const AppEvent& event : events) {
        listed.insert(event.id);
    }
    for (AppEvent& event : file.events) {
        if (listed.insert(event.id).second) {
            m_recoveredEvents.push_back(std::move(event));
        }
    }
    std::move(file.newerEvents.begin(), file.newerEvents.end(), std::back_inserter(m_newerEvents));
    m_keepExistingFile = false;
    return true;
}

std::optional<FileError> EventStore::save(const std::vector<AppEvent>& events, core::Date now)
{
    if (m_keepExistingFile && !retryLoad(events, now)) {
        return FileError{"replace", m_fileURL, 0, "its earlier content could not be loaded and is kept"};
    }
    if (m_recoveredEvents.empty()) {
        return write(events, now);
    }
    std::vector<AppEvent> all = events;
    all.insert(all.end(), m_recoveredEvents.begin(), m_recoveredEvents.end());
    sortNewestFirst(all);
    return write(all, now);
}

std::optional<FileError> EventStore::write(const std::vector<AppEvent>& events, core::Date now)
{
    // The file's order decides what goes: walk both lists as the file will hold them.
    std::vector<const json::Json*> newer;
    newer.reserve(m_newerEvents.size());
    for (const json::Json& event : m_newerEvents) {
        newer.push_back(&event);
    }
    std::stable_sort(newer.begin(), newer.end(), [](const json::Json* a, const json::Json* b) {
        return terminationTimeOf(*a) > terminationTimeOf(*b);
    });
    std::vector<AppEvent> keptEvents;
    std::vector<json::Json> keptNewer;
    auto next = newer.begin();
    for (const AppEvent& event : events) {
        const json::Json endedAtValue = json::encodeDate(event.terminatedAt, {});
        const double endedAt =
            endedAtValue.is_number() ? endedAtValue.get<double>() : -std::numeric_limits<double>::infinity();
        for (; next != newer.end() && terminationTimeOf(**next) > endedAt
               && keptEvents.size() + keptNewer.size() < kMaxEvents;
             ++next) {
            keptNewer.push_back(**next);
        }
        if (keptEvents.size() + keptNewer.size() == kMaxEvents) {
            break;
        }
        keptEvents.push_back(event);
    }
    for (; next != newer.end() && keptEvents.size() + keptNewer.size() < kMaxEvents; ++next) {
        keptNewer.push_back(**next);
    }

    if (std::optional<FileError> error =
            records::atomicReplace(m_fileURL, encodeEventFile(keptEvents, keptNewer))) {
        return error;
    }
    m_newerEvents = std::move(keptNewer);
    static_cast<void>(m_reconciler.reconcile(keptEvents, now, m_newerEvents));
    return std::nullopt;
}

void sortNewestFirst(std::vector<AppEvent>& events)
{
    std::stable_sort(events.begin(), events.end(), [](const AppEvent& a, const AppEvent& b) {
        return core::secondsSince1970(a.terminatedAt) > core::secondsSince1970(b.terminatedAt);
    });
}

} // namespace exitwise::app
