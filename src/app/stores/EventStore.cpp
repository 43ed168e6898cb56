// SPDX-License-Identifier: MIT
#include "app/stores/EventStore.h"

#include "app/RecordFiles.h"

#include <algorithm>
#include <cerrno>

namespace exitwise::app {

namespace json = core::json;

EventStore::EventStore(const std::filesystem::path& dataDirectory)
    : m_fileURL(dataDirectory / "events.json")
    , m_reconciler(dataDirectory)
{}

FileResult<std::vector<AppEvent>> EventStore::readEventFile(const std::filesystem::path& file)
{
    FileResult<std::string> contents = records::readFile(file);
    if (!contents) {
        return contents.error();
    }
    try {
        return json::decodeArray(json::parse(contents.value()),
                                 [](const json::Json& value) { return decodeAppEvent(value); });
    } catch (const json::DecodeError& error) {
        return FileError{"decode", file, 0, error.what()};
    }
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

std::string EventStore::encodeEventFile(const std::vector<AppEvent>& events)
{
    json::Json array = json::Json::array();
    for (const AppEvent& event : events) {
        array.push_back(encode(event));
    }
    return json::dumpCompact(array);
}

std::vector<AppEvent> EventStore::load(core::Date now)
{
    FileResult<std::vector<AppEvent>> result = readEventFile(m_fileURL);
    if (result) {
        m_keepExistingFile = false;
        return std::move(result).value();
    }
    if (result.error().code == ENOENT) {
        m_keepExistingFile = false;
        return {};
    }
    // The history the user had must survive the next save: content that will never decode
    // (or cannot be opened) is moved aside; after a passing failure such as EIO or EMFILE the
    // file stays where it is and saves leave it alone.
    m_keepExistingFile =
        !records::isLastingLoadFailure(result.error()) || !records::setAside(m_fileURL, now).ok();
    return {};
}

std::optional<FileError> EventStore::save(const std::vector<AppEvent>& events, core::Date now)
{
    if (m_keepExistingFile) {
        return FileError{"replace", m_fileURL, 0, "its earlier content could not be loaded and is kept"};
    }
    if (std::optional<FileError> error = records::atomicReplace(m_fileURL, encodeEventFile(events))) {
        return error;
    }
    static_cast<void>(m_reconciler.reconcile(events, now));
    return std::nullopt;
}

void sortNewestFirst(std::vector<AppEvent>& events)
{
    std::stable_sort(events.begin(), events.end(), [](const AppEvent& a, const AppEvent& b) {
        return core::secondsSince1970(a.terminatedAt) > core::secondsSince1970(b.terminatedAt);
    });
}

} // namespace exitwise::app
