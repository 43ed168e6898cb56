// SPDX-License-Identifier: MIT
#include "app/stores/Export.h"

#include "app/DateFormats.h"
#include "app/RecordFiles.h"
#include "core/Text.h"

#include <string_view>

namespace exitwise::app::exporting {

namespace {

// A spreadsheet takes a cell that begins with one of these as a formula (tab and carriage
// return too, after it trims them); a leading apostrophe makes it plain text again.
bool readsAsFormula(std::string_view value)
{
    return !value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
}

void appendQuoted(std::string& line, std::string_view value)
{
    line += '"';
    if (readsAsFormula(value)) {
        line += '\'';
    }
    for (const char c : value) {
        if (c == '"') {
            line += '"';
        }
        line += c;
    }
    line += '"';
}

} // namespace

std::string csvText(const std::vector<AppEvent>& events)
{
    std::string text = kCsvHeader;
    for (const AppEvent& event : events) {
        text += '\n';
        // The file is UTF-8; a name read from a broken desktop entry may not be.
        appendQuoted(text, core::text::sanitizedUtf8(event.appName));
        text += ',';
        appendQuoted(text, iso8601Milliseconds(event.terminatedAt));
        text += ',';
        appendQuoted(text, core::rawValue(event.diagnosis.dominantCause));
        text += ',';
        appendQuoted(text, core::rawValue(event.diagnosis.endState));
        text += ',';
        appendQuoted(text, core::rawValue(event.diagnosis.confidence));
    }
    return text;
}

std::string jsonText(const std::vector<AppEvent>& events)
{
    core::json::Json array = core::json::Json::array();
    for (const AppEvent& event : events) {
        array.push_back(encode(event));
    }
    return core::json::dumpPretty(array);
}

std::optional<FileError> exportCSV(const std::vector<AppEvent>& events, const std::filesystem::path& to)
{
    return records::writeChosenFile(to, csvText(events));
}

std::optional<FileError> exportJSON(const std::vector<AppEvent>& events, const std::filesystem::path& to)
{
    return records::writeChosenFile(to, jsonText(events));
}

} // namespace exitwise::app::exporting
