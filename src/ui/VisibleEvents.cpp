// SPDX-License-Identifier: MIT
#include "ui/VisibleEvents.h"

#include "core/Text.h"

namespace exitwise::ui {

namespace {

bool matchesConfidence(const app::AppEvent& event, ConfidenceFilter filter)
{
    return filter == ConfidenceFilter::all
           || core::rawValue(filter) == core::rawValue(event.diagnosis.confidence);
}

} // namespace

std::vector<app::AppEvent>
visibleEvents(const std::vector<app::AppEvent>& events, std::string_view searchQuery, ConfidenceFilter filter)
{
    // Lower-case both sides and compare bytes: no case folding beyond that, no normalisation.
    const std::string query = core::text::lowercased(core::text::trimmed(searchQuery));
    std::vector<app::AppEvent> visible;
    for (const app::AppEvent& event : events) {
        const bool matchesQuery =
            query.empty() || core::text::lowercased(event.appName).find(query) != std::string::npos
            || core::text::lowercased(core::rawValue(event.diagnosis.dominantCause)).find(query)
                   != std::string::npos;
        if (matchesQuery && matchesConfidence(event, filter)) {
            visible.push_back(event);
        }
    }
    return visible;
}

} // namespace exitwise::ui
