// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "app/FileError.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The two ways a user saves the history: a CSV table for spreadsheets and the full JSON of
// every event. Both are written by atomic replace, so a failed export leaves any existing
// file untouched; a character device named on purpose (/dev/null) is written in place, and
// a FIFO, socket, block device or link that leads nowhere is refused.
namespace exitwise::app::exporting {

inline constexpr const char* kCsvHeader = "appName,terminatedAt,dominantCause,endState,confidence";
inline constexpr const char* kSuggestedCsvName = "Exitwise-export.csv";
inline constexpr const char* kSuggestedJsonName = "Exitwise-export.json";

// The header, then one line per event in list order with every field quoted; lines joined by
// a line feed with none after the last. Times are UTC with truncated milliseconds. A field
// that begins with =, +, -, @, a tab or a carriage return gets a leading ' so that a
// spreadsheet shows it as text instead of running it as a formula.
[[nodiscard]] std::string csvText(const std::vector<AppEvent>& events);

// The events as one pretty-printed JSON array with sorted keys, dates as numbers.
[[nodiscard]] std::string jsonText(const std::vector<AppEvent>& events);

// Write the texts above; the error carries the system's reason.
[[nodiscard]] std::optional<FileError> exportCSV(const std::vector<AppEvent>& events,
                                                 const std::filesystem::path& to);
[[nodiscard]] std::optional<FileError> exportJSON(const std::vector<AppEvent>& events,
                                                  const std::filesystem::path& to);

} // namespace exitwise::app::exporting
