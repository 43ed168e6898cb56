// SPDX-License-Identifier: MIT
#include "app/DataDirectory.h"
#include "app/stores/EventStore.h"
#include "cli/Commands.h"
#include "cli/ListFilter.h"
#include "cli/ListTable.h"
#include "cli/TimeBound.h"
#include "cli/WholeNumberOption.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace exitwise::cli {

namespace {

struct ListOptions
{
    bool json = false;
    bool noLegend = false;
    std::size_t limit = 0; // 0: all
    ListFilter filter;
};

constexpr std::size_t kMaxLimit = 100000;

void addTimeBoundOption(CLI::App& app,
                        const std::string& name,
                        std::optional<core::Date>& target,
                        const std::string& description)
{
    app.add_option_function<std::string>(
           name,
           [&target, name](const std::string& text) {
               target = parseTimeBound(text, core::now());
               if (!target) {
                   throw CLI::ValidationError(name + ": \"" + text + "\" is not a time; use "
                                              + std::string(kTimeBoundForms));
               }
           },
           description)
        ->type_name("TIME");
}

int runList(const ListOptions& options)
{
    const auto directory = app::resolveAppSupportDirectory();
    auto stored = app::EventStore::readStoredEvents(directory);
    if (!stored) {
        printError(stored.error().message());
        return kExitFailure;
    }
    const std::vector<app::AppEvent>& events = stored.value();
    // Ids are shortened against every stored event, so `show` finds each one printed.
    const std::vector<std::string> ids = shortIds(events);
    std::vector<ListRow> rows;
    for (std::size_t i = 0; i < events.size() && (options.limit == 0 || rows.size() < options.limit); ++i) {
        if (matches(options.filter, events[i])) {
            rows.push_back({&events[i], ids[i]});
        }
    }

    if (options.json) {
        core::json::Json array = core::json::Json::array();
        for (const ListRow& row : rows) {
            array.push_back(app::encode(*row.event));
        }
        std::cout << core::json::dumpPretty(array) << '\n';
    } else if (rows.empty()) {
        if (!options.noLegend) {
            std::cout << (events.empty() ? "No closures recorded yet.\n" : "No closures match.\n");
        }
    } else {
        const TableStyle style{.legend = !options.noLegend,
                               .colour = useColour(::isatty(STDOUT_FILENO) == 1, std::getenv("NO_COLOR"))};
        std::cout << listTable(rows, style);
    }
    return kExitOk;
}

} // namespace

Command addListCommand(CLI::App& cli)
{
    auto options = std::make_shared<ListOptions>();
    auto* app = cli.add_subcommand("list", "List the recorded closures, newest first");
    app->add_flag("--json", options->json, "Print the events as a JSON array, in the record files' format");
    addWholeNumberOption(*app, "--limit", options->limit, 1, kMaxLimit, "Show at most N events");
    addTimeBoundOption(*app, "--since", options->filter.since,
                       "Only closures that ended at or after TIME: " + std::string(kTimeBoundForms)
                           + ", in local time");
    addTimeBoundOption(*app, "--until", options->filter.until,
                       "Only closures that ended at or before TIME (same forms as --since)");
    app->add_option_function<std::string>(
           "--app", [options](const std::string& name) { options->filter.app = name; },
           "Only closures of this application: its name or desktop id, any case, \".desktop\" optional")
        ->type_name("NAME");
    app->add_option_function<std::string>(
           "--state",
           [options](const std::string& name) {
               options->filter.state = parseStateName(name);
               if (!options->filter.state) {
                   throw CLI::ValidationError("--state must be one of " + std::string(kStateNames));
               }
           },
           "Only closures with this end state: crash, killed, clean (a clean exit) or blocked (a blocked "
           "launch)")
        ->type_name("crash|killed|clean|blocked");
    app->add_flag("--no-legend", options->noLegend,
                  "Print no header line, and nothing when no closure is listed");
    app->parse_complete_callback([options] {
        const ListFilter& filter = options->filter;
        if (filter.since && filter.until && *filter.since > *filter.until) {
            throw CLI::ValidationError("--since is later than --until");
        }
    });

    return {app, [options] { return runList(*options); }};
}

} // namespace exitwise::cli
