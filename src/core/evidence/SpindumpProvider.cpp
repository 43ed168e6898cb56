// SPDX-License-Identifier: MIT
#include "core/evidence/SpindumpProvider.h"

#include "core/Text.h"
#include "core/evidence/ReportCandidates.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace exitwise::core {

namespace {

constexpr std::array<std::string_view, 2> kExtensions{"spindump", "spin"};

// Drops a character left incomplete where the head was cut off, so a valid file is not
// rejected because of where the cut falls.
std::string_view withoutCutCharacter(std::string_view bytes)
{
    std::size_t start = bytes.size();
    std::size_t continuations = 0;
    while (start > 0 && continuations < 3 && (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuations;
    }
    if (start == 0) {
        return bytes;
    }
    const auto lead = static_cast<unsigned char>(bytes[start - 1]);
    if (lead < 0xC2 || lead > 0xF4) {
        return bytes;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return continuations + 1 < length ? bytes.substr(0, start - 1) : bytes;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle)
{
    std::string lowerHaystack(haystack);
    std::transform(lowerHaystack.begin(), lowerHaystack.end(), lowerHaystack.begin(), asciiLower);
    std::string lowerNeedle(needle);
    std::transform(lowerNeedle.begin(), lowerNeedle.end(), lowerNeedle.begin(), asciiLower);
    return !lowerNeedle.empty() && lowerHaystack.find(lowerNeedle) != std::string::npos;
}

// "[pid]" or " pid " anywhere. One pass anchored on the digits, which are rarer in a head
// than the blanks and brackets around them.
bool containsPid(std::string_view head, std::string_view pidText)
{
    for (std::size_t at = head.find(pidText, 1);
         at != std::string_view::npos && at + pidText.size() < head.size(); at = head.find(pidText, at + 1)) {
        const char before = head[at - 1];
        const char after = head[at + pidText.size()];
        if ((before == '[' && after == ']') || (before == ' ' && after == ' ')) {
            return true;
        }
    }
    return false;
}

// 100 when the head names both the application and its pid, 50 for one of them, else 0.
int headScore(const std::filesystem::path& path, const EventContext& context)
{
    const auto head = detail::readReportHead(path, SpindumpProvider::kHeadBytes);
    if (!head) {
        return 0;
    }
    std::string_view bytes = head->bytes;
    if (head->fileSize > bytes.size()) {
        bytes = withoutCutCharacter(bytes);
    }
    // Most heads are plain ASCII: valid as they are, and simple case folding is exact for them.
    bool nameFound = false;
    if (isAscii(bytes) && isAscii(context.appName)) {
        nameFound = containsIgnoringAsciiCase(bytes, context.appName);
    } else if (text::isValidUtf8(bytes)) {
        nameFound = text::containsIgnoringCase(bytes, context.appName);
    } else {
        return 0;
    }
    bool pidFound = false;
    if (context.pid) {
        pidFound = containsPid(bytes, std::to_string(*context.pid));
    }
    return (nameFound ? 50 : 0) + (pidFound ? 50 : 0);
}

} // namespace

SpindumpProvider::SpindumpProvider(std::vector<std::filesystem::path> searchPaths,
                                   int maxCandidatesToInspect,
                                   Wording wording)
    : m_searchPaths(std::move(searchPaths))
    , m_maxCandidatesToInspect(std::max(0, maxCandidatesToInspect))
    , m_wording(wording)
{}

std::vector<Signal> SpindumpProvider::collectSignals(const EventContext& context) const
{
    if (m_maxCandidatesToInspect == 0) {
        return {};
    }
    const detail::ReportNameScorer scorer(context, false);
    detail::ReportSearch search;
    search.extensions = kExtensions;
    search.nameScore = [&](std::string_view lowerName) { return scorer.score(lowerName); };
    search.contentScore = [&](const std::filesystem::path& path) { return headScore(path, context); };
    std::vector<detail::ReportCandidate> candidates =
        detail::findReportCandidates(m_searchPaths, context.window, search);
    if (candidates.empty()) {
        return {};
    }
    detail::rankReportCandidates(candidates, context.terminatedAt);

    const detail::ReportCandidate& best = candidates.front();
    // The name goes into JSON, which needs valid UTF-8 even where a file name is not.
    const std::string text = filledIn(explanationWording(m_wording).hangReportCaptured, "{file}",
                                      text::sanitizedUtf8(best.path.filename().native()));
    return {WatchdogSignal{best.modifiedAt, text},
            TerminationSignal{best.modifiedAt, TerminationReason::killed, text, std::nullopt}};
}

} // namespace exitwise::core
