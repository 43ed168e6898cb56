// SPDX-License-Identifier: MIT
// The log tool's query is text built around the application's name: no name may change what
// the query asks for.

#include "core/evidence/LogPredicate.h"
#include "core/evidence/UnifiedLogProvider.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

const std::vector<std::string> kHostileNames{
    "\" OR 1==1 OR \"",
    "\" OR eventMessage CONTAINS[c] \"",
    "\\\" OR eventMessage CONTAINS[c] \\\"",
    "x\") OR (eventMessage CONTAINS[c] \"",
    "trailing backslash\\",
    "'single' \"double\"",
    "two\nlines",
    "evil\u202E",
    "bad \xC3\x28 utf-8 \xFF",
    "",
};

EventContext contextNamed(const std::string& name, std::optional<std::string> bundle = std::nullopt)
{
    return contextAround({.appName = name,
                          .bundleIdentifier = std::move(bundle),
                          .terminatedAt = dateFromSecondsSince1970(1.7e9),
                          .terminationReason = TerminationReason::unknown},
                         180.0);
}

LogEntry entry(std::string process, std::string message)
{
    return LogEntry{dateFromSecondsSince1970(1.7e9), std::move(process), 99, "/usr/bin/" + process,
                    std::move(message)};
}

TEST(LogPredicateBadInput, HostileNamesStayLiterals)
{
    for (const std::string& name : kHostileNames) {
        for (const std::optional<std::string>& bundle : {std::optional<std::string>(), std::optional(name)}) {
            SCOPED_TRACE(name);
            const LogPredicate tool = UnifiedLogProvider::toolPredicate(contextNamed(name, bundle));
            const std::string text = tool.text();
            auto reparsed = LogPredicate::parse(text);
            ASSERT_TRUE(std::holds_alternative<LogPredicate>(reparsed))
                << text << "\n"
                << std::get<LogPredicate::ParseError>(reparsed).describe();
            EXPECT_EQ(std::get<LogPredicate>(reparsed), tool) << text;
            EXPECT_EQ(std::get<LogPredicate>(reparsed).text(), text);

            // Still two groups: the four comparisons with the name, then the fixed terms.
            const LogPredicate& query = std::get<LogPredicate>(reparsed);
            ASSERT_EQ(query.operands().size(), 2u);
            EXPECT_EQ(query.operands()[0].operands().front().operands().size(), 4u);
            EXPECT_EQ(query.operands()[1].operands().front().operands().size(), 12u);

            if (!name.empty()) {
                EXPECT_FALSE(query.matches(entry("other", "nothing to see"))) << text;
                EXPECT_TRUE(query.matches(entry("other", "before " + name + " after")));
            }

            const LogPredicate store =
                UnifiedLogProvider::storePredicate(contextNamed(name, bundle), {"kernel"});
            auto storeReparsed = LogPredicate::parse(store.text());
            ASSERT_TRUE(std::holds_alternative<LogPredicate>(storeReparsed)) << store.text();
            EXPECT_EQ(std::get<LogPredicate>(storeReparsed), store);
        }
    }
}

TEST(LogPredicateBadInput, NulInANameCannotWidenTheToolsQuery)
{
    // The query reaches the tool as one argument, which ends at the first NUL. What is left is
    // an unterminated string: the tool refuses it instead of running a shorter query.
    const std::string name("nul\0\" OR eventMessage CONTAINS[c] \"", 36);
    const std::string text = UnifiedLogProvider::toolPredicate(contextNamed(name)).text();
    const std::string asArgument = text.substr(0, text.find('\0'));
    EXPECT_TRUE(std::holds_alternative<LogPredicate::ParseError>(LogPredicate::parse(asArgument)))
        << asArgument;
}

} // namespace
} // namespace exitwise::core
