// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include "support/Files.h"

#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace exitwise::core {
namespace {

using ExplanationTemplates::render;

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

using test::split;

// A signal as the golden files name it: "policy: <kind>", "loader: <kind>", "report" with an
// optional loader kind, or a termination reason with an optional quit attribution.
Signal signalNamed(std::string_view text)
{
    const auto colon = text.find(": ");
    const std::string_view kind = text.substr(0, colon);
    const std::string_view detail = colon == std::string_view::npos ? "" : text.substr(colon + 2);
    if (kind == "policy") {
        return PolicySignal{Date{}, fromRawValue<PolicyBlockKind>(detail).value(), "blocked"};
    }
    if (kind == "loader") {
        return DyldSignal{Date{}, fromRawValue<DyldFailureKind>(detail).value(), "dyld"};
    }
    if (kind == "report") {
        CrashReportSignal report;
        report.dyldFailureKind =
            detail.empty() ? std::nullopt : std::optional(fromRawValue<DyldFailureKind>(detail).value());
        return report;
    }
    return TerminationSignal{Date{}, fromRawValue<TerminationReason>(kind).value(), std::nullopt,
                             detail.empty() ? std::nullopt
                                            : std::optional(fromRawValue<QuitAttribution>(detail).value())};
}

// Each "== name | app | cause | confidence | signals" line of a golden file is followed by the
// card rendered from it; lines starting with '#' and blank ones are skipped.
TEST(ExplanationTemplates, CardsAreExactlyTheGoldenOnes)
{
    std::size_t count = 0;
    for (const auto& [wording, file] :
         {std::pair{Wording::macos, "macos.txt"}, std::pair{Wording::linuxDesktop, "linux.txt"}}) {
        std::string expected;
        std::string rendered;
        for (const std::string& line :
             test::dataLines(std::string(EXITWISE_TEST_DATA_DIR) + "/cards/" + file)) {
            expected += line + '\n';
            if (line.starts_with("== ")) {
                const auto fields = split(line, " | ");
                ASSERT_EQ(fields.size(), 5u) << line;
                std::vector<Signal> signals;
                for (const std::string& name : split(fields[4], "; ")) {
                    if (name != "-") {
                        signals.push_back(signalNamed(name));
                    }
                }
                rendered += line + '\n'
                            + asText(render(fields[1], fromRawValue<DominantCause>(fields[2]).value(),
                                            fromRawValue<Confidence>(fields[3]).value(), signals, wording));
                ++count;
            }
        }
        EXPECT_EQ(rendered, expected) << file;
    }
    EXPECT_EQ(count, 64u);
}

// Whatever picked its details, only low confidence adds a note, and a Linux card is free of
// another system's names.
TEST(ExplanationTemplatesTest, NoteOnlyWhenLowAndLinuxCardsNameNoOtherSystem)
{
    std::vector<std::vector<Signal>> evidence{{}};
    for (const PolicyBlockKind kind : allCases<PolicyBlockKind>()) {
        evidence.push_back({PolicySignal{Date{}, kind, "blocked"}});
    }
    for (const DyldFailureKind kind : allCases<DyldFailureKind>()) {
        evidence.push_back({DyldSignal{Date{}, kind, "dyld"}});
    }
    for (const QuitAttribution attribution : allCases<QuitAttribution>()) {
        evidence.push_back({TerminationSignal{Date{}, TerminationReason::quit, std::nullopt, attribution}});
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
