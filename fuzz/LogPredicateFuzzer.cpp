// SPDX-License-Identifier: MIT
// The log predicate language: text handed to the log tool is parsed back there, and the
// predicates built around an application's name must not let that name change the query.
// Input: predicate text, application name, bundle identifier, process, message, separated by 0x1F.

#include "FuzzSupport.h"
#include "core/evidence/LogPredicate.h"
#include "core/evidence/UnifiedLogProvider.h"

#include <variant>

using namespace exitwise;
using core::LogPredicate;

namespace {

// Printed text parses back to the same predicate and prints the same again.
void expectRoundTrip(const LogPredicate& predicate)
{
    const std::string text = predicate.text();
    auto reparsed = LogPredicate::parse(text);
    if (const auto* error = std::get_if<LogPredicate::ParseError>(&reparsed)) {
        fuzz::fail("a printed predicate does not parse", text + "\n  " + error->describe());
    }
    const LogPredicate& again = std::get<LogPredicate>(reparsed);
    if (!(again == predicate)) {
        fuzz::fail("a printed predicate parses to another predicate", text + "\n  " + again.text());
    }
    if (again.text() != text) {
        fuzz::fail("a predicate prints differently after a round trip", text + "\n  " + again.text());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto f = fuzz::fields(fuzz::asText(data, size), 5);
    core::LogEntry entry;
    entry.process = std::string(f[3]);
    entry.processIdentifier = static_cast<std::int32_t>(f[3].size());
    entry.imagePath = "/usr/bin/" + std::string(f[3]);
    entry.message = std::string(f[4]);

    auto parsed = LogPredicate::parse(f[0]);
    if (const auto* predicate = std::get_if<LogPredicate>(&parsed)) {
        expectRoundTrip(*predicate);
        static_cast<void>(predicate->matches(entry));
    } else {
        static_cast<void>(std::get<LogPredicate::ParseError>(parsed).describe());
    }

    const core::EventContext context = core::contextAround(
        {.appName = std::string(f[1]),
         .bundleIdentifier = f[2].empty() ? std::nullopt : std::optional(std::string(f[2])),
         .pid = 812,
         .terminatedAt = core::dateFromSecondsSince1970(1.7e9),
         .terminationReason = core::TerminationReason::unknown},
        180.0);
    const LogPredicate tool = core::UnifiedLogProvider::toolPredicate(context);
    expectRoundTrip(tool);
    // The name and bundle identifier stay inside their four comparisons: the query keeps its
    // shape of two groups whatever they hold.
    if (tool.kind() != LogPredicate::Kind::anyOf || tool.operands().size() != 2
        || tool.operands()[0].operands().front().operands().size() != 4) {
        fuzz::fail("the application's name changed the shape of the log tool's query", tool.text());
    }
    const LogPredicate store =
        core::UnifiedLogProvider::storePredicate(context, {"launchd", std::string(f[3])});
    expectRoundTrip(store);
    static_cast<void>(store.matches(entry));
    return 0;
}
