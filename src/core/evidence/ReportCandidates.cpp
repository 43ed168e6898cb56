// SPDX-License-Identifier: MIT
#include "core/evidence/ReportCandidates.h"

#include "core/Text.h"
#include "sys/FileIo.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace exitwise::core::detail {

namespace fs = std::filesystem;

namespace {

bool contains(std::string_view haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string_view::npos;
}

std::string replacedSpaces(std::string_view text, std::string_view replacement)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c == ' ') {
            result.append(replacement);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

// The lower-cased extension without the dot; empty when the name has none.
std::string_view extensionOf(std::string_view lowerName)
{
    const std::size_t dot = lowerName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return lowerName.substr(dot + 1);
}

// Report names are nearly always ASCII, where lower-casing needs no Unicode tables.
std::string lowercasedName(std::string_view name)
{
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return text::lowercased(name);
    }
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

Date toDate(fs::file_time_type time)
{
    return std::chrono::time_point_cast<Seconds>(std::chrono::file_clock::to_sys(time));
}

} // namespace

ReportNameScorer::ReportNameScorer(const EventContext& context, bool useBundleIdentifier)
{
    const std::string lowerName = text::lowercased(context.appName);
    for (std::string variant : {lowerName, replacedSpaces(lowerName, ""), replacedSpaces(lowerName, "_"),
                                replacedSpaces(lowerName, "-")}) {
        if (!variant.empty()
            && std::find(m_nameVariants.begin(), m_nameVariants.end(), variant) == m_nameVariants.end()) {
            m_nameVariants.push_back(std::move(variant));
        }
    }
    if (useBundleIdentifier && context.bundleIdentifier && !context.bundleIdentifier->empty()) {
        m_bundleIdentifier = text::lowercased(*context.bundleIdentifier);
    }
    if (context.pid) {
        m_pidText = std::to_string(*context.pid);
        m_pidMarkers = {"_" + *m_pidText + ".", "[" + *m_pidText + "]"};
    }
}

int ReportNameScorer::score(std::string_view lowerFileName) const
{
    int score = 0;
    if (std::any_of(m_nameVariants.begin(), m_nameVariants.end(),
                    [&](const std::string& variant) { return contains(lowerFileName, variant); })) {
        score += 60;
    }
    if (m_bundleIdentifier && contains(lowerFileName, *m_bundleIdentifier)) {
        score += 40;
    }
    if (m_pidText) {
        if (contains(lowerFileName, m_pidMarkers[0]) || contains(lowerFileName, m_pidMarkers[1])) {
            score += 80;
        } else if (contains(lowerFileName, *m_pidText)) {
            score += 20;
        }
    }
    return score;
}

std::vector<ReportCandidate> findReportCandidates(const std::vector<fs::path>& searchPaths,
                                                  const TimestampWindow& window,
                                                  const ReportSearch& search)
{
    std::vector<ReportCandidate> candidates;
    for (const fs::path& directory : searchPaths) {
        std::error_code ec;
        fs::directory_iterator it(directory, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::directory_entry& entry = *it;
            const std::string name = entry.path().filename().native();
            if (name.empty() || name.front() == '.') {
                continue;
            }
            const std::string lowerName = lowercasedName(name);
            const std::string_view extension = extensionOf(lowerName);
            if (std::find(search.extensions.begin(), search.extensions.end(), extension)
                == search.extensions.end()) {
                continue;
            }
            int score = search.nameScore(lowerName);
            if (score <= 0 && !search.contentScore) {
                continue;
            }

            // The type usually comes with the listing itself; only the time and size cost a stat.
            std::error_code entryError;
            if (entry.is_symlink(entryError) || entryError || !entry.is_regular_file(entryError)
                || entryError) {
                continue;
            }
            const auto modified = entry.last_write_time(entryError);
            if (entryError) {
                continue;
            }
            const Date modifiedAt = toDate(modified);
            if (modifiedAt < window.start || modifiedAt > window.end) {
                continue;
            }
            if (search.maxFileSize) {
                const std::uintmax_t size = entry.file_size(entryError);
                if (entryError || size > *search.maxFileSize) {
                    continue;
                }
            }
            if (score <= 0) {
                score = search.contentScore(entry.path());
            }
            if (score > 0) {
                candidates.push_back({entry.path(), modifiedAt, score});
            }
        }
    }
    return candidates;
}

void rankReportCandidates(std::vector<ReportCandidate>& candidates, Date terminatedAt)
{
    const auto distance = [&](const ReportCandidate& c) {
        return std::abs((terminatedAt - c.modifiedAt).count());
    };
    std::sort(candidates.begin(), candidates.end(), [&](const ReportCandidate& a, const ReportCandidate& b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        if (const double da = distance(a), db = distance(b); da != db) {
            return da < db;
        }
        if (a.modifiedAt != b.modifiedAt) {
            return a.modifiedAt > b.modifiedAt;
        }
        return a.path.native() < b.path.native();
    });
}

std::optional<ReportFileHead> readReportHead(const fs::path& path, std::size_t maxBytes)
{
    const sys::Fd fd = sys::openRegularFile(path, O_NOFOLLOW);
    struct stat info
    {
    };
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return std::nullopt;
    }
    ReportFileHead head;
    head.fileSize = static_cast<std::uintmax_t>(info.st_size);
    head.bytes.resize(std::min<std::uintmax_t>(maxBytes, head.fileSize));
    const auto readSome = [&](char* into, std::size_t count) {
        return sys::readRetrying(fd.get(), into, count);
    };
    std::size_t filled = 0;
    while (filled < maxBytes) {
        ssize_t n = 0;
        if (filled < head.bytes.size()) {
            n = readSome(head.bytes.data() + filled, head.bytes.size() - filled);
        } else {
            // Past the size seen by fstat: the file is growing, so take more in small steps.
            char chunk[4096];
            n = readSome(chunk, std::min(sizeof chunk, maxBytes - filled));
            if (n > 0) {
                head.bytes.append(chunk, static_cast<std::size_t>(n));
            }
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    head.bytes.resize(filled);
    return head;
}

} // namespace exitwise::core::detail
