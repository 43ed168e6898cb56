// SPDX-License-Identifier: MIT
#include "app/ClockTime.h"
#include "app/DataDirectory.h"
#include "app/PrintableText.h"
#include "app/stores/EventStore.h"
#include "cli/Commands.h"
#include "cli/WholeNumberOption.h"
#include "core/Text.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace exitwise::cli {

namespace {

struct ListOptions
{
    bool json = false;
    std::size_t limit = 0; // 0: all
};

constexpr std::size_t kMaxNameCharacters = 32;
constexpr std::size_t kMaxLimit = 100000;

// Pads by user-perceived characters so accented names line up.
std::string padded(const std::string& text, std::size_t width)
{
    const std::size_t length = core::text::characterCount(text);
    return length >= width ? text : text + std::string(width - length, ' ');
}

void printTable(const std::vector<app::AppEvent>& events)
{
    struct Row
    {
        std::string time, app, endState, cause, confidence, id;
    };
    std::vector<Row> rows;
    rows.push_back({"TIME", "APP", "END STATE", "CAUSE", "CONFIDENCE", "ID"});
    for (const app::AppEvent& event : events) {
        rows.push_back({app::localDateTimeText(event.terminatedAt),
                        core::text::shortened(app::printableLine(event.appName), kMaxNameCharacters),
                        std::string(core::rawValue(event.diagnosis.endState)),
                        std::string(core::rawValue(event.diagnosis.dominantCause)),
                        std::string(core::rawValue(event.diagnosis.confidence)), event.id.toString()});
    }
    std::size_t widths[5] = {};
    for (const Row& row : rows) {
        const std::string* cells[5] = {&row.time, &row.app, &row.endState, &row.cause, &row.confidence};
        for (std::size_t i = 0; i < 5; ++i) {
            widths[i] = std::max(widths[i], core::text::characterCount(*cells[i]));
        }
    }
    for (const Row& row : rows) {
        std::cout << padded(row.time, widths[0]) << "  " << padded(row.app, widths[1]) << "  "
                  << padded(row.endState, widths[2]) << "  " << padded(row.cause, widths[3]) << "  "
                  << padded(row.confidence, widths[4]) << "  " << row.id << '\n';
    }
}

} // namespace

Command addListCommand(CLI::App& cli)
{
    auto options = std::make_shared<ListOptions>();
    auto* app = cli.add_subcommand("list", "List the recorded closures, newest first");
    app->add_flag("--json", options->json, "Print the events as a JSON array");
    addWholeNumberOption(*app, "--limit", options->limit, 1, kMaxLimit, "Show at most N events");

    return {app, [options] {
                const auto directory = app::resolveAppSupportDirectory();
                auto stored = app::EventStore::readStoredEvents(directory);
                if (!stored) {
                    printError(stored.error().message());
                    return kExitFailure;
                }
                std::vector<app::AppEvent> events = std::move(stored).value();
                if (options->limit > 0 && events.size() > options->limit) {
                    events.resize(options->limit);
                }
                if (options->json) {
                    core::json::Json array = core::json::Json::array();
                    for (const app::AppEvent& event : events) {
                        array.push_back(app::encode(event));
                    }
                    std::cout << core::json::dumpPretty(array) << '\n';
                } else if (events.empty()) {
                    std::cout << "No closures recorded yet.\n";
                } else {
                    printTable(events);
                }
                return kExitOk;
            }};
}

} // namespace exitwise::cli
