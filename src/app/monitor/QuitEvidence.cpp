// SPDX-License-Identifier: MIT
#include "app/monitor/QuitEvidence.h"

#include "core/Text.h"
#include "core/evidence/LogClassification.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <vector>

namespace exitwise::app::QuitEvidence {

namespace {

bool containsAny(const std::string& haystack, std::initializer_list<std::string_view> needles)
{
    return std::any_of(needles.begin(), needles.end(), [&haystack](std::string_view needle) {
        return haystack.find(needle) != std::string::npos;
    });
}

bool contains(const std::string& haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string::npos;
}

std::optional<std::string> present(const std::optional<std::string>& value)
{
    if (value && !core::text::isBlank(*value)) {
        return value;
    }
    return std::nullopt;
}

} // namespace

std::string escapedTerm(std::string_view term)
{
    std::string result;
    for (char c : term) {
        if (c == '\\') {
            result += "\\\\";
        } else if (c == '"') {
            result += "\\\"";
        } else {
            result += c;
        }
    }
    return result;
}

std::optional<std::string> predicate(const std::optional<std::string>& name,
                                     const std::optional<std::string>& bundleIdentifier,
                                     std::optional<std::int32_t> pid)
{
    std::vector<std::string> terms;
    for (const auto& candidate :
         {name, bundleIdentifier, pid ? std::optional<std::string>(std::to_string(*pid)) : std::nullopt}) {
        if (candidate) {
            if (std::string term = core::text::trimmed(*candidate); !term.empty()) {
                terms.push_back(std::move(term));
            }
        }
    }
    if (terms.empty()) {
        return std::nullopt;
    }
    std::string text =
        R"((process IN {"launchd", "runningboardd", "ReportCrash", "kernel", "loginwindow"}) AND ()";
    for (std::size_t i = 0; i < terms.size(); ++i) {
        if (i > 0) {
            text += " OR ";
        }
        text += "eventMessage CONTAINS[c] \"" + escapedTerm(terms[i]) + "\"";
    }
    return text + ")";
}

std::string identifier(const std::optional<std::string>& name,
                       const std::optional<std::string>& bundleIdentifier,
                       std::optional<std::int32_t> pid)
{
    if (auto value = present(name)) {
        return *value;
    }
    if (auto value = present(bundleIdentifier)) {
        return *value;
    }
    return pid ? std::to_string(*pid) : std::string();
}

std::optional<Classification> classify(std::string_view output, const std::string& identifier)
{
    // Only entry lines count: a banner may quote the query's own search terms.
    const std::string entries = core::logclass::entryLines(output);
    if (entries.empty()) {
        return std::nullopt;
    }
    const std::string text = core::text::lowercased(entries);
    using core::QuitAttribution;
    using core::TerminationReason;

    if (contains(text, "loginwindow") && contains(text, "quit:asn") && contains(text, "exitstatus=137")) {
        return Classification{TerminationReason::quit,
                              "log show: loginwindow force-quit evidence (QUIT:asn exitStatus=137) for "
                                  + identifier,
                              QuitAttribution::logout};
    }
    // An abort gets its own text so that the diagnosis can tell it from other crashes.
    if (containsAny(text, {"sigabrt", "abort trap"})) {
        return Classification{TerminationReason::crashed, "log show: abort evidence for " + identifier,
                              std::nullopt};
    }
    if (containsAny(text, {"exc_", "segmentation fault", "reportcrash"})) {
        return Classification{TerminationReason::crashed, "log show: crash evidence for " + identifier,
                              std::nullopt};
    }
    if (containsAny(text, {"sigkill", "signal 9"})
        || (contains(text, "killed") && !contains(text, "sigterm"))) {
        return Classification{TerminationReason::killed, "log show: kill evidence for " + identifier,
                              std::nullopt};
    }
    if (containsAny(text,
                    {"sigterm", "signal 15", "terminated", "quit", "exited with code", "normal exit"})) {
        return Classification{TerminationReason::quit, "log show: quit/exit evidence for " + identifier,
                              QuitAttribution::unknown};
    }
    return std::nullopt;
}

Classification defaultClassification()
{
    return Classification{core::TerminationReason::quit, "NSWorkspace didTerminateApplicationNotification",
                          core::QuitAttribution::unknown};
}

} // namespace exitwise::app::QuitEvidence
