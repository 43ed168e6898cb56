// SPDX-License-Identifier: MIT
#include "cli/ListTable.h"

#include "app/ClockTime.h"
#include "app/PrintableText.h"
#include "core/Text.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace exitwise::cli {

namespace {

constexpr std::size_t kMaxNameCharacters = 24;
constexpr std::size_t kColumns = 7;
constexpr std::size_t kPidColumn = 2;

struct Cell
{
    std::string text;
    std::string_view colour; // an SGR sequence, or empty
};

using Row = std::array<Cell, kColumns>;

std::string_view endStateColour(core::EndState state)
{
    switch (state) {
    case core::EndState::crash:
        return "\033[31m";
    case core::EndState::killed:
        return "\033[35m";
    case core::EndState::cleanExit:
        return "\033[32m";
    case core::EndState::launchBlocked:
        return "\033[33m";
    }
    return {};
}

std::string_view confidenceColour(core::Confidence confidence)
{
    switch (confidence) {
    case core::Confidence::high:
        return "\033[1m";
    case core::Confidence::medium:
        return {};
    case core::Confidence::low:
        return "\033[2m";
    }
    return {};
}

Row rowOf(const ListRow& row)
{
    const app::AppEvent& event = *row.event;
    const core::Diagnosis& d = event.diagnosis;
    return {{
        {app::localDateTimeText(event.terminatedAt), {}},
        // Shortened first: cutting after would drop the closing marks a direction override needs.
        {app::printableLine(core::text::shortened(event.appName, kMaxNameCharacters)), {}},
        {event.pid ? std::to_string(*event.pid) : "-", {}},
        {std::string(core::rawValue(d.endState)), endStateColour(d.endState)},
        {std::string(core::rawValue(d.dominantCause)), {}},
        {std::string(core::rawValue(d.confidence)), confidenceColour(d.confidence)},
        {row.id, {}},
    }};
}

std::size_t commonPrefixLength(const std::string& a, const std::string& b)
{
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

} // namespace

std::vector<std::string> shortIds(const std::vector<app::AppEvent>& events)
{
    std::vector<std::string> ids;
    ids.reserve(events.size());
    for (const app::AppEvent& event : events) {
        ids.push_back(event.id.toString());
    }
    // Sorted, an id shares its longest prefix with a neighbour.
    std::vector<std::size_t> order(ids.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&ids](std::size_t a, std::size_t b) { return ids[a] < ids[b]; });
    std::vector<std::size_t> lengths(ids.size(), kShortIdCharacters);
    for (std::size_t i = 1; i < order.size(); ++i) {
        const std::size_t shared = commonPrefixLength(ids[order[i - 1]], ids[order[i]]) + 1;
        lengths[order[i - 1]] = std::max(lengths[order[i - 1]], shared);
        lengths[order[i]] = std::max(lengths[order[i]], shared);
    }
    std::vector<std::string> shortened;
    shortened.reserve(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        shortened.push_back(ids[i].substr(0, lengths[i]));
    }
    return shortened;
}

bool useColour(bool isTerminal, const char* noColor)
{
    return isTerminal && (noColor == nullptr || *noColor == '\0');
}

std::string listTable(const std::vector<ListRow>& listed, TableStyle style)
{
    std::vector<Row> rows;
    rows.reserve(listed.size() + 1);
    if (style.legend) {
        rows.push_back({{{"TIME", {}},
                         {"APP", {}},
                         {"PID", {}},
                         {"END STATE", {}},
                         {"CAUSE", {}},
                         {"CONFIDENCE", {}},
                         {"ID", {}}}});
    }
    for (const ListRow& row : listed) {
        rows.push_back(rowOf(row));
    }
    std::array<std::size_t, kColumns> widths{};
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < kColumns; ++i) {
            widths[i] = std::max(widths[i], core::text::characterCount(row[i].text));
        }
    }
    std::string table;
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < kColumns; ++i) {
            const Cell& cell = row[i];
            const std::string padding(widths[i] - core::text::characterCount(cell.text), ' ');
            // Numbers line up on the right, as in ps.
            if (i == kPidColumn) {
                table += padding;
            }
            if (style.colour && !cell.colour.empty()) {
                table += std::string(cell.colour) + cell.text + "\033[0m";
            } else {
                table += cell.text;
            }
            if (i + 1 < kColumns) {
                table += (i == kPidColumn ? "" : padding) + "  ";
            }
        }
        table += '\n';
    }
    return table;
}

} // namespace exitwise::cli
