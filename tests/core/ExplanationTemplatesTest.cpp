// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include "support/Files.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace exitwise::core {
namespace {

using ExplanationTemplates::render;

Signal policy(PolicyBlockKind kind)
{
    return PolicySignal{Date{}, kind, "blocked"};
}

Signal dyld(DyldFailureKind kind)
{
    return DyldSignal{Date{}, kind, "dyld"};
}

Signal crashReport(std::optional<DyldFailureKind> kind)
{
    CrashReportSignal report;
    report.dyldFailureKind = kind;
    return report;
}

Signal termination(TerminationReason reason, std::optional<QuitAttribution> attribution)
{
    return TerminationSignal{Date{}, reason, std::nullopt, attribution};
}

Signal quit(std::optional<QuitAttribution> attribution)
{
    return termination(TerminationReason::quit, attribution);
}

// The card as the user reads it, one field a line; the golden files hold the same shape.
std::string asText(const ExplanationCard& card)
{
    std::string text =
        "happened: " + card.whatHappened + "\nwhy: " + card.why + "\nto do: " + card.whatToDo + '\n';
    for (const std::string& alternative : card.alternatives) {
        text += "alternative: " + alternative + '\n';
    }
    if (card.confidenceNote) {
        text += "note: " + *card.confidenceNote + '\n';
    }
    return text;
}

template <class E> E named(std::string_view raw)
{
    const auto value = fromRawValue<E>(raw);
    EXPECT_TRUE(value) << "no value " << raw;
    return value.value_or(E{});
}

std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> parts;
    for (auto at = text.find(separator); at != std::string_view::npos; at = text.find(separator)) {
        parts.emplace_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.emplace_back(text);
    return parts;
}

// A signal as the golden files name it: "policy: <kind>", "loader: <kind>", "report" with an
// optional loader kind, or a termination reason with an optional quit attribution.
Signal signalNamed(std::string_view text)
{
    const auto colon = text.find(": ");
    const std::string_view kind = text.substr(0, colon);
    const std::string_view detail = colon == std::string_view::npos ? "" : text.substr(colon + 2);
    if (kind == "policy") {
        return policy(named<PolicyBlockKind>(detail));
    }
    if (kind == "loader") {
        return dyld(named<DyldFailureKind>(detail));
    }
    if (kind == "report") {
        return crashReport(detail.empty() ? std::nullopt : std::optional(named<DyldFailureKind>(detail)));
    }
    return termination(named<TerminationReason>(kind),
                       detail.empty() ? std::nullopt : std::optional(named<QuitAttribution>(detail)));
}

// The cards of a golden file by their "== " line; lines starting with '#' and blank ones are
// skipped.
std::map<std::string, std::string> golden(const std::string& file)
{
    std::istringstream in(test::readFile(std::string(EXITWISE_TEST_DATA_DIR) + "/cards/" + file));
    std::map<std::string, std::string> cards;
    std::string header;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("== ")) {
            header = line.substr(3);
            EXPECT_TRUE(cards.emplace(header, "").second) << header << " twice in " << file;
        } else if (!header.empty() && !line.empty() && !line.starts_with('#')) {
            cards[header] += line + '\n';
        }
    }
    return cards;
}

TEST(ExplanationTemplates, CardsAreExactlyTheGoldenOnes)
{
    std::size_t count = 0;
    for (const auto& [wording, file] :
         {std::pair{Wording::macos, "macos.txt"}, std::pair{Wording::linuxDesktop, "linux.txt"}}) {
        for (const auto& [header, expected] : golden(file)) {
            SCOPED_TRACE(std::string(file) + ": " + header);
            const auto fields = split(header, " | ");
            ASSERT_EQ(fields.size(), 5u);
            std::vector<Signal> signals;
            for (const std::string& name : split(fields[4], "; ")) {
                if (name != "-") {
                    signals.push_back(signalNamed(name));
                }
            }
            const ExplanationCard card = render(fields[1], named<DominantCause>(fields[2]),
                                                named<Confidence>(fields[3]), signals, wording);
            EXPECT_EQ(asText(card), expected);
            ++count;
        }
    }
    EXPECT_EQ(count, 64u);
}

// Whatever picked its details, only low confidence adds a note, and a Linux card is free of
// another system's names.
TEST(ExplanationTemplatesTest, NoteOnlyWhenLowAndLinuxCardsNameNoOtherSystem)
{
    std::vector<std::vector<Signal>> evidence{{}};
    for (const PolicyBlockKind kind : allCases<PolicyBlockKind>()) {
        evidence.push_back({policy(kind)});
    }
    for (const DyldFailureKind kind : allCases<DyldFailureKind>()) {
        evidence.push_back({dyld(kind)});
    }
    for (const QuitAttribution attribution : allCases<QuitAttribution>()) {
        evidence.push_back({quit(attribution)});
    }
    const char* const foreign[] = {"macOS", "Mac",   "Finder",      "Gatekeeper",
                                   "Apple", "Intel", "NSWorkspace", "log show"};
    for (const Wording wording : kWordings) {
        for (const DominantCause cause : allCases<DominantCause>()) {
            for (const Confidence confidence : allCases<Confidence>()) {
                for (const auto& signals : evidence) {
                    const ExplanationCard card = render("Notes", cause, confidence, signals, wording);
                    const std::string all = asText(card);
                    EXPECT_EQ(card.confidenceNote.has_value(), confidence == Confidence::low) << all;
                    for (const char* word : foreign) {
                        EXPECT_TRUE(wording != Wording::linuxDesktop || all.find(word) == std::string::npos)
                            << word << " in " << all;
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace exitwise::core
