// SPDX-License-Identifier: MIT
#include "cli/ListFilter.h"

#include "core/Text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace exitwise::cli {

namespace {

std::string withoutDesktopSuffix(std::string text)
{
    constexpr std::string_view kSuffix = ".desktop";
    if (text.ends_with(kSuffix)) {
        text.resize(text.size() - kSuffix.size());
    }
    return text;
}

} // namespace

std::optional<core::EndState> parseStateName(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, core::EndState>, 4> kStates{{
        {"crash", core::EndState::crash},
        {"killed", core::EndState::killed},
        {"clean", core::EndState::cleanExit},
        {"blocked", core::EndState::launchBlocked},
    }};
    const auto it = std::find_if(kStates.begin(), kStates.end(),
                                 [name](const auto& entry) { return entry.first == name; });
    return it == kStates.end() ? std::nullopt : std::optional(it->second);
}

bool namesApp(const app::AppEvent& event, std::string_view name)
{
    const std::string wanted = core::text::lowercased(name);
    if (core::text::lowercased(event.appName) == wanted) {
        return true;
    }
    return event.bundleIdentifier
           && withoutDesktopSuffix(core::text::lowercased(*event.bundleIdentifier))
                  == withoutDesktopSuffix(wanted);
}

bool matches(const ListFilter& filter, const app::AppEvent& event)
{
    return (!filter.since || event.terminatedAt >= *filter.since)
           && (!filter.until || event.terminatedAt <= *filter.until)
           && (!filter.state || event.diagnosis.endState == *filter.state)
           && (!filter.app || namesApp(event, *filter.app));
}

} // namespace exitwise::cli
