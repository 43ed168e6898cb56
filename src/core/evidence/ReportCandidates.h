// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/EventContext.h"
#include "core/TimestampWindow.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The candidate search shared by the crash and hang report providers.
namespace exitwise::core::detail {

struct ReportCandidate
{
    std::filesystem::path path;
    Date modifiedAt;
    int score = 0;
};

// Scores a lower-cased report file name against the ended application: its name (and the
// usual space replacements), optionally its bundle identifier, and its pid.
class ReportNameScorer
{
public:
    ReportNameScorer(const EventContext& context, bool useBundleIdentifier);

    [[nodiscard]] int score(std::string_view lowerFileName) const;

private:
    std::vector<std::string> m_nameVariants;
    std::optional<std::string> m_bundleIdentifier;
    std::optional<std::string> m_pidText;
    std::array<std::string, 2> m_pidMarkers; // "_pid." and "[pid]"
};

struct ReportSearch
{
    // Lower-case, without the dot.
    std::span<const std::string_view> extensions;
    std::function<int(std::string_view lowerFileName)> nameScore;
    // Asked for files inside the window whose name scored 0; when empty such files are
    // dropped without being looked at.
    std::function<int(const std::filesystem::path&)> contentScore;
    // Larger files are not candidates at all; without a limit sizes are not even looked up.
    std::optional<std::uintmax_t> maxFileSize;
};

// One pass over the directories in order. Hidden entries, symlinks and anything that is not a
// regular file are skipped, as are directories and entries that cannot be read. A file's
// metadata is only fetched once its extension (and, without contentScore, its name) qualifies.
[[nodiscard]] std::vector<ReportCandidate>
findReportCandidates(const std::vector<std::filesystem::path>& searchPaths,
                     const TimestampWindow& window,
                     const ReportSearch& search);

// Best first: higher score, then closer to `terminatedAt`, then later, then by path so the
// order never depends on the directory listing.
void rankReportCandidates(std::vector<ReportCandidate>& candidates, Date terminatedAt);

struct ReportFileHead
{
    std::string bytes;
    std::uintmax_t fileSize = 0;
};

// At most `maxBytes` from the start of a regular file. Symlinks, FIFOs and devices are refused
// without blocking: the system crash directory is writable by every user.
[[nodiscard]] std::optional<ReportFileHead> readReportHead(const std::filesystem::path& path,
                                                           std::size_t maxBytes);

} // namespace exitwise::core::detail
