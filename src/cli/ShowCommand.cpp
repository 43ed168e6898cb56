// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"
#include "app/ConfidenceSummary.h"
#include "app/DataDirectory.h"
#include "app/DurationText.h"
#include "app/PrintableText.h"
#include "app/ReportTexts.h"
#include "app/stores/EventStore.h"
#include "cli/Commands.h"
#include "cli/EventReference.h"
#include "platform/linux/EvidenceFactory.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

namespace exitwise::cli {

namespace {

struct ShowOptions
{
    std::string id;
    bool json = false;
};

std::string raw(auto value)
{
    return std::string(core::rawValue(value));
}

void section(const std::string& title, const std::string& text)
{
    std::cout << '\n' << title << '\n' << app::printableText(text) << '\n';
}

void printEvent(const app::AppEvent& event)
{
    const core::Diagnosis& d = event.diagnosis;
    std::cout << app::printableLine(event.appName) << " (" << raw(d.confidence) << " confidence)\n";
    std::cout << raw(d.endState) << " \u2022 " << raw(d.dominantCause) << '\n';
    if (event.diagnosisChanged.value_or(false) && event.previousDominantCause) {
        std::cout << "Reclassified: " << raw(*event.previousDominantCause) << " \u2192 "
                  << raw(d.dominantCause) << '\n';
    }
    std::cout << "Closed at: " << app::localDateTimeText(event.terminatedAt) << '\n';
    if (event.launchedAt) {
        std::cout << "Closed after "
                  << app::detailDurationText(core::secondsSince1970(event.terminatedAt)
                                             - core::secondsSince1970(*event.launchedAt))
                  << '\n';
    }
    if (event.appPath) {
        std::cout << "Application: " << app::printableLine(*event.appPath) << '\n';
    }
    if (event.feedback) {
        std::cout << "Your rating: " << raw(*event.feedback) << '\n';
    }
    std::cout << "Event ID: " << event.id.toString() << '\n';

    const core::ExplanationCard& card = d.explanation;
    section("What happened", card.whatHappened);
    section("Why", card.why);
    section("What to do", card.whatToDo);
    if (!card.alternatives.empty()) {
        std::cout << "\nAlternate actions\n";
        for (const std::string& alternative : card.alternatives) {
            std::cout << "\u2022 " << app::printableText(alternative) << '\n';
        }
    }
    if (card.confidenceNote) {
        std::cout << '\n' << app::printableText(*card.confidenceNote) << '\n';
    }

    const app::ConfidenceSummary summary = app::confidenceSummary(d);
    std::cout << "\nWhy this confidence\n" << summary.headline << '\n';
    for (const std::string& bullet : summary.evidenceBullets) {
        std::cout << "\u2022 " << bullet << '\n';
    }
    if (summary.caveat) {
        std::cout << *summary.caveat << '\n';
    }

    std::cout << "\nSignals used\n";
    if (d.signalsUsed.empty()) {
        std::cout << "None\n";
    }
    for (const core::Signal& signal : d.signalsUsed) {
        std::cout << "\u2022 " << app::printableText(signal.summary(platform::kWording)) << '\n';
    }
    std::cout << "Time window: " << app::clockTimeText(d.window.start) << " \u2192 "
              << app::clockTimeText(d.window.end) << '\n';

    section("Incident summary", app::incidentSummary(event, app::clockTimeText(event.terminatedAt)));
}

// Prints why `lookup` names no single event and returns the exit status; nothing when it
// names exactly one.
std::optional<int> reportFailedLookup(const EventLookup& lookup,
                                      const std::string& reference,
                                      const std::filesystem::path& directory)
{
    const std::string file = (directory / "events.json").string();
    switch (lookup.kind) {
    case EventLookup::Kind::invalid:
        return kExitUsage; // reported before reading
    case EventLookup::Kind::fullId:
        if (lookup.matches.empty()) {
            printError("no event with id " + app::Uuid::parse(reference)->toString() + " in " + file);
            return kExitFailure;
        }
        break;
    case EventLookup::Kind::latest:
        if (lookup.matches.empty()) {
            printError("no closures recorded yet in " + file);
            return kExitFailure;
        }
        break;
    case EventLookup::Kind::prefix:
        if (lookup.matches.empty()) {
            printError("no event id starts with " + reference + " in " + file);
            return kExitFailure;
        }
        if (lookup.matches.size() > 1) {
            std::string message = "event id prefix " + reference + " matches "
                                  + std::to_string(lookup.matches.size()) + " events; give more of the id:";
            for (const app::AppEvent* event : lookup.matches) {
                message += "\n  " + event->id.toString() + "  " + app::printableLine(event->appName);
            }
            printError(message);
            return kExitUsage;
        }
        break;
    }
    return std::nullopt;
}

} // namespace

Command addShowCommand(CLI::App& cli)
{
    auto options = std::make_shared<ShowOptions>();
    auto* app = cli.add_subcommand("show", "Show one recorded closure with its diagnosis");
    app->add_option(
           "ID", options->id,
           "The event's id as `exitwise list` prints it, its first 4 or more hex digits (any case), or "
           "latest for the newest closure")
        ->required();
    app->add_flag("--json", options->json, "Print the event as JSON");

    return {
        app, [options] {
            if (referenceKind(options->id) == EventLookup::Kind::invalid) {
                printError(
                    "invalid event id \"" + app::printableLine(options->id)
                    + "\": expected 36 characters such as 5AF0E187-EB05-4A03-9D79-95DD3FCE50EB, its first "
                    + std::to_string(kMinimumIdPrefixDigits) + " or more hex digits, or latest");
                return kExitUsage;
            }
            const auto directory = app::resolveAppSupportDirectory();
            auto stored = app::EventStore::readStoredEvents(directory);
            if (!stored) {
                printError(stored.error().message());
                return kExitFailure;
            }
            const EventLookup lookup = lookUpEvent(stored.value(), options->id);
            if (const std::optional<int> status = reportFailedLookup(lookup, options->id, directory)) {
                return *status;
            }
            const app::AppEvent& event = *lookup.matches.front();
            if (options->json) {
                std::cout << core::json::dumpPretty(app::encode(event)) << '\n';
            } else {
                printEvent(event);
            }
            return kExitOk;
        }};
}

} // namespace exitwise::cli
