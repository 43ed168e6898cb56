// SPDX-License-Identifier: MIT
#include "cli/EventReference.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace exitwise::cli {

namespace {

bool isHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Ids print upper-case with hyphens; prefixes compare without either, so "5af0e187eb05"
// finds the same event as "5AF0E187-EB05".
std::string hexDigitsOf(std::string_view text)
{
    std::string digits;
    for (const char c : text) {
        if (isHexDigit(c)) {
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return digits;
}

bool isIdPrefix(std::string_view text)
{
    constexpr std::size_t kIdLength = 36;
    const auto digits = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), isHexDigit));
    return text.size() < kIdLength && digits >= kMinimumIdPrefixDigits
           && std::all_of(text.begin(), text.end(), [](char c) { return isHexDigit(c) || c == '-'; });
}

} // namespace

EventLookup::Kind referenceKind(std::string_view reference)
{
    if (reference == "latest") {
        return EventLookup::Kind::latest;
    }
    if (app::Uuid::parse(reference)) {
        return EventLookup::Kind::fullId;
    }
    return isIdPrefix(reference) ? EventLookup::Kind::prefix : EventLookup::Kind::invalid;
}

EventLookup lookUpEvent(const std::vector<app::AppEvent>& events, std::string_view reference)
{
    EventLookup lookup{referenceKind(reference), {}};
    switch (lookup.kind) {
    case EventLookup::Kind::latest:
        if (!events.empty()) {
            lookup.matches.push_back(&events.front());
        }
        break;
    case EventLookup::Kind::fullId: {
        const app::Uuid id = *app::Uuid::parse(reference);
        const auto it = std::find_if(events.begin(), events.end(),
                                     [&id](const app::AppEvent& event) { return event.id == id; });
        if (it != events.end()) {
            lookup.matches.push_back(&*it);
        }
        break;
    }
    case EventLookup::Kind::prefix: {
        const std::string prefix = hexDigitsOf(reference);
        for (const app::AppEvent& event : events) {
            if (hexDigitsOf(event.id.toString()).starts_with(prefix)) {
                lookup.matches.push_back(&event);
            }
        }
        break;
    }
    case EventLookup::Kind::invalid:
        break;
    }
    return lookup;
}

} // namespace exitwise::cli
