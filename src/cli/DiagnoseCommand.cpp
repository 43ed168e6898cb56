// SPDX-License-Identifier: MIT
#include "cli/Commands.h"
#include "cli/EvidenceSources.h"
#include "core/DiagnosisEngine.h"
#include "core/RecordJson.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

namespace exitwise::cli {

namespace {

// The application model's correlation: evidence is searched this far on each side.
constexpr double kCorrelationSeconds = 180.0;

struct DiagnoseInput
{
    core::EventContext context;
    std::vector<core::Signal> signals;
};

DiagnoseInput decodeInput(const std::string& text)
{
    namespace json = core::json;
    const json::Json document = json::parse(text);
    const json::ObjectReader reader(document);
    const json::Options options; // dates as seconds since 2001, like the record files
    auto context = reader.required("context", [&](const json::Json& value) {
        return json::decodeEventContext(value, options, [](core::Date at) {
            return core::TimestampWindow{at - core::Seconds(kCorrelationSeconds),
                                         at + core::Seconds(kCorrelationSeconds)};
        });
    });
    auto signals = reader.optional("signals", [&](const json::Json& value) {
        return json::decodeArray(value, [&](const json::Json& s) { return json::decodeSignal(s, options); });
    });
    return {std::move(context), signals.value_or(std::vector<core::Signal>{})};
}

std::optional<std::string> readAll(std::istream& in)
{
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::move(buffer).str();
}

} // namespace

Command addDiagnoseCommand(CLI::App& cli)
{
    auto* app = cli.add_subcommand("diagnose", "Run the diagnosis engine on a JSON context and signals");
    auto options = std::make_shared<EvidenceOptions>();
    auto input = std::make_shared<std::string>();
    app->add_option("--input", *input,
                    "Read {\"context\": …, \"signals\": […]} from FILE (default: standard input)")
        ->type_name("FILE");
    app->add_flag("--collect", options->collect,
                  "Also collect fresh evidence from reports and the system log");
    app->add_option("--report-dir", options->reportDirectories,
                    "Read crash and hang reports from DIR (repeatable)")
        ->type_name("DIR");
    app->add_option("--journal-dir", options->journalDirectory, "Read the system log from the journal in DIR")
        ->type_name("DIR");

    return {app, [options, input] {
                std::optional<std::string> text;
                if (input->empty()) {
                    text = readAll(std::cin);
                } else {
                    std::ifstream file(*input, std::ios::binary);
                    if (!file) {
                        printError("cannot read " + *input + ": " + std::strerror(errno));
                        return kExitUsage;
                    }
                    text = readAll(file);
                }
                if (!text) {
                    printError("cannot read the input");
                    return kExitUsage;
                }

                std::optional<DiagnoseInput> parsed;
                try {
                    parsed = decodeInput(*text);
                } catch (const core::json::DecodeError& error) {
                    printError(std::string("invalid input: ") + error.what());
                    return kExitUsage;
                }

                const core::DiagnosisEngine engine(options->collect ? evidenceProviders(*options)
                                                                    : core::DiagnosisEngine::Providers{},
                                                   platform::kWording);
                const core::Diagnosis diagnosis =
                    engine.diagnose(parsed->context, parsed->signals, options->collect);
                std::cout << core::json::dumpPretty(core::json::encode(diagnosis)) << '\n';
                return kExitOk;
            }};
}

} // namespace exitwise::cli
