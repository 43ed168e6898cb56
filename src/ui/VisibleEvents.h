// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppEvent.h"
#include "ui/ConfidenceFilter.h"

#include <string_view>
#include <vector>

namespace exitwise::ui {

// The events the list shows, in the model's order. The query is trimmed; when something is
// left, an event stays if its lower-cased application name or cause contains the lower-cased
// query as a plain substring. Then any filter but `all` keeps only its confidence.
[[nodiscard]] std::vector<app::AppEvent> visibleEvents(const std::vector<app::AppEvent>& events,
                                                       std::string_view searchQuery,
                                                       ConfidenceFilter filter);

} // namespace exitwise::ui
