// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <set>
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

std::string goldenFile(Wording wording)
{
    return std::string(EXITWISE_TEST_DATA_DIR) + "/cards/"
           + (wording == Wording::linuxDesktop ? "linux.txt" : "macos.txt");
}

// Blocks opened by "== name"; blank lines and anything before the first block are skipped.
std::map<std::string, std::string> readGolden(Wording wording)
{
    std::ifstream in(goldenFile(wording));
    EXPECT_TRUE(in) << goldenFile(wording);
    std::map<std::string, std::string> cards;
    std::string line;
    std::string name;
    while (std::getline(in, line)) {
        if (line.starts_with("== ")) {
            name = line.substr(3);
            EXPECT_TRUE(cards.emplace(name, "").second) << name << " twice in " << goldenFile(wording);
        } else if (!name.empty() && !line.empty()) {
            cards[name] += line + '\n';
        }
    }
    return cards;
}

const std::map<std::string, std::string>& golden(Wording wording)
{
    static const auto macos = readGolden(Wording::macos);
    static const auto linux = readGolden(Wording::linuxDesktop);
    return wording == Wording::linuxDesktop ? linux : macos;
}

struct CardCase
{
    const char* name;
    Wording wording;
    const char* app;
    DominantCause cause;
    Confidence confidence;
    std::vector<Signal> signals;
};

void PrintTo(const CardCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<CardCase> cardCases()
{
    using C = DominantCause;
    using P = PolicyBlockKind;
    using D = DyldFailureKind;
    using Q = QuitAttribution;
    const auto mac = Wording::macos;
    const auto lin = Wording::linuxDesktop;
    const auto H = Confidence::high;
    const auto M = Confidence::medium;
    const auto L = Confidence::low;
    const std::optional<Q> none;
    // clang-format off
    return {
        {"PolicyQuarantine", mac, "Preview", C::policyBlocked, H, {policy(P::quarantine)}},
        {"PolicyCodeSignature", mac, "Preview", C::policyBlocked, H, {policy(P::codeSignature)}},
        {"PolicyLibraryValidation", mac, "Preview", C::policyBlocked, H, {policy(P::libraryValidation)}},
        {"PolicyHardenedRuntime", mac, "Preview", C::policyBlocked, H, {policy(P::hardenedRuntime)}},
        {"PolicyGatekeeper", mac, "Preview", C::policyBlocked, H, {policy(P::gatekeeper)}},
        {"PolicyOther", mac, "Preview", C::policyBlocked, M, {policy(P::other)}},
        {"PolicyAbsent", mac, "Preview", C::policyBlocked, H, {termination(TerminationReason::killed, none)}},
        // Only the first policy signal counts.
        {"PolicyFirstWins", mac, "Preview", C::policyBlocked, H, {crashReport(std::nullopt), policy(P::gatekeeper), policy(P::quarantine)}},
        {"DyldMissingLibrary", mac, "Preview", C::dyldFailure, H, {dyld(D::missingLibrary)}},
        {"DyldWrongArchitecture", mac, "Preview", C::dyldFailure, H, {dyld(D::wrongArchitecture)}},
        {"DyldLibraryValidation", mac, "Preview", C::dyldFailure, H, {dyld(D::libraryValidation)}},
        {"DyldOther", mac, "Preview", C::dyldFailure, H, {dyld(D::other)}},
        {"DyldAbsent", mac, "Preview", C::dyldFailure, M, {crashReport(std::nullopt), termination(TerminationReason::crashed, none)}},
        {"DyldFromCrashReportKind", mac, "Preview", C::dyldFailure, H, {crashReport(D::missingLibrary)}},
        // The first qualifying signal decides, even when a later one is more specific.
        {"DyldFirstQualifyingWins", mac, "Preview", C::dyldFailure, H, {dyld(D::other), crashReport(D::missingLibrary)}},
        // A crash report without a loader kind does not stop the scan.
        {"DyldUnclassifiedReportPassedOver", mac, "Preview", C::dyldFailure, H, {crashReport(std::nullopt), dyld(D::missingLibrary)}},
        {"CrashBug", mac, "Preview", C::crashBug, H, {}},
        {"CrashAbort", mac, "Preview", C::crashAbort, H, {}},
        {"KilledWatchdogHang", mac, "Preview", C::killedWatchdogHang, M, {}},
        {"KilledJetsamMemory", mac, "Preview", C::killedJetsamMemory, H, {}},
        {"DependencyHelperFailure", mac, "Preview", C::dependencyHelperFailure, H, {}},
        {"Unknown", mac, "Preview", C::unknown, H, {}},
        // Below high, a quit only argues from the absence of a crash, whoever asked.
        {"ExplicitQuitMedium", mac, "Preview", C::explicitQuit, M, {quit(Q::logout)}},
        {"QuitUserRequest", mac, "Preview", C::explicitQuit, H, {quit(Q::userRequest)}},
        {"QuitLogout", mac, "Preview", C::explicitQuit, H, {quit(Q::logout)}},
        {"QuitShutdown", mac, "Preview", C::explicitQuit, H, {quit(Q::shutdown)}},
        {"QuitUpdate", mac, "Preview", C::explicitQuit, H, {quit(Q::update)}},
        {"QuitMdm", mac, "Preview", C::explicitQuit, H, {quit(Q::mdm)}},
        {"QuitUnknownAttribution", mac, "Preview", C::explicitQuit, H, {quit(Q::unknown)}},
        {"QuitUnattributedOnly", mac, "Preview", C::explicitQuit, H, {quit(none)}},
        {"QuitUnattributedThenLogout", mac, "Preview", C::explicitQuit, H, {quit(none), quit(Q::logout)}},
        // An attribution on a termination that was not a quit does not count.
        {"QuitIgnoresNonQuitAttribution", mac, "Preview", C::explicitQuit, H, {termination(TerminationReason::killed, Q::shutdown), quit(none)}},
        {"QuitSkipsNonQuitThenUsesQuit", mac, "Preview", C::explicitQuit, H, {termination(TerminationReason::unknown, Q::mdm), quit(Q::update)}},
        // Low confidence keeps the narrative but replaces the actions and adds the note.
        {"LowCrashBug", mac, "Preview", C::crashBug, L, {}},
        {"LowPolicyQuarantine", mac, "Preview", C::policyBlocked, L, {policy(P::quarantine)}},
        {"LowDyldWrongArchitecture", mac, "Preview", C::dyldFailure, L, {dyld(D::wrongArchitecture)}},
        {"LowKilledJetsamMemory", mac, "Preview", C::killedJetsamMemory, L, {}},
        {"LowQuitLogout", mac, "Preview", C::explicitQuit, L, {quit(Q::logout)}},
        {"LowUnknown", mac, "Preview", C::unknown, L, {}},
        // The name goes in verbatim: empty, padded, quoted.
        {"EmptyAppName", mac, "", C::crashBug, H, {}},
        {"EmptyAppNameLow", mac, "", C::crashBug, L, {}},
        {"PaddedQuotedAppName", mac, "  My App’s \"Beta\" ", C::crashAbort, H, {}},

        {"LinuxPolicyNoDetail", lin, "Notes", C::policyBlocked, H, {}},
        {"LinuxPolicyQuarantine", lin, "Notes", C::policyBlocked, H, {policy(P::quarantine)}},
        {"LinuxPolicyCodeSignature", lin, "Notes", C::policyBlocked, H, {policy(P::codeSignature)}},
        {"LinuxPolicyLibraryValidation", lin, "Notes", C::policyBlocked, H, {policy(P::libraryValidation)}},
        {"LinuxPolicyHardenedRuntime", lin, "Notes", C::policyBlocked, H, {policy(P::hardenedRuntime)}},
        {"LinuxPolicyGatekeeper", lin, "Notes", C::policyBlocked, H, {policy(P::gatekeeper)}},
        {"LinuxPolicyOther", lin, "Notes", C::policyBlocked, H, {policy(P::other)}},
        {"LinuxDyldNoDetail", lin, "Notes", C::dyldFailure, H, {}},
        {"LinuxDyldMissingLibrary", lin, "Notes", C::dyldFailure, H, {dyld(D::missingLibrary)}},
        {"LinuxDyldFromCrashReportKind", lin, "Notes", C::dyldFailure, H, {crashReport(D::missingLibrary)}},
        {"LinuxDyldWrongArchitecture", lin, "Notes", C::dyldFailure, H, {dyld(D::wrongArchitecture)}},
        {"LinuxDyldLibraryValidation", lin, "Notes", C::dyldFailure, H, {dyld(D::libraryValidation)}},
        {"LinuxDyldFirstQualifyingWins", lin, "Notes", C::dyldFailure, H, {dyld(D::other), crashReport(D::missingLibrary)}},
        {"LinuxCrashBug", lin, "Notes", C::crashBug, H, {}},
        {"LinuxCrashAbort", lin, "Notes", C::crashAbort, H, {}},
        {"LinuxKilledWatchdogHang", lin, "Notes", C::killedWatchdogHang, H, {}},
        {"LinuxKilledJetsamMemory", lin, "Notes", C::killedJetsamMemory, H, {}},
        {"LinuxDependencyHelperFailure", lin, "Notes", C::dependencyHelperFailure, H, {}},
        {"LinuxUnknown", lin, "Notes", C::unknown, H, {}},
        {"LinuxQuitUnattributed", lin, "Notes", C::explicitQuit, H, {}},
        {"LinuxQuitUserRequest", lin, "Notes", C::explicitQuit, H, {quit(Q::userRequest)}},
        {"LinuxQuitUnattributedThenLogout", lin, "Notes", C::explicitQuit, H, {quit(none), quit(Q::logout)}},
        {"LinuxQuitShutdown", lin, "Notes", C::explicitQuit, H, {quit(Q::shutdown)}},
        {"LinuxQuitUpdate", lin, "Notes", C::explicitQuit, H, {quit(Q::update)}},
        {"LinuxQuitMdm", lin, "Notes", C::explicitQuit, H, {quit(Q::mdm)}},
        {"LinuxQuitUnknownAttribution", lin, "Notes", C::explicitQuit, H, {quit(Q::unknown)}},
        {"LinuxExplicitQuitMedium", lin, "Notes", C::explicitQuit, M, {}},
        {"LinuxLowKilledJetsamMemory", lin, "Notes", C::killedJetsamMemory, L, {}},
        {"LinuxLowCrashBug", lin, "Notes", C::crashBug, L, {}},
        {"LinuxPlaceholderInAppName", lin, "{app} \"Beta\"", C::killedJetsamMemory, H, {}},
        {"LinuxEmptyAppName", lin, "", C::crashBug, H, {}},
    };
    // clang-format on
}

class ExplanationCardTest : public ::testing::TestWithParam<CardCase>
{
};

TEST_P(ExplanationCardTest, MatchesGolden)
{
    const CardCase& c = GetParam();
    const auto& cards = golden(c.wording);
    const auto expected = cards.find(c.name);
    ASSERT_NE(expected, cards.end()) << c.name << " missing from " << goldenFile(c.wording);
    EXPECT_EQ(asText(render(c.app, c.cause, c.confidence, c.signals, c.wording)), expected->second)
        << "case " << c.name << " in " << goldenFile(c.wording);
}

INSTANTIATE_TEST_SUITE_P(ExplanationTemplates,
                         ExplanationCardTest,
                         ::testing::ValuesIn(cardCases()),
                         [](const ::testing::TestParamInfo<CardCase>& info) {
                             return std::string(info.param.name);
                         });

// A golden card without a case would pin nothing.
TEST(ExplanationTemplatesTest, EveryGoldenCardHasACase)
{
    for (const Wording wording : kWordings) {
        std::set<std::string> named;
        for (const CardCase& c : cardCases()) {
            if (c.wording == wording) {
                named.insert(c.name);
            }
        }
        for (const auto& [name, text] : golden(wording)) {
            EXPECT_TRUE(named.contains(name)) << name << " in " << goldenFile(wording);
        }
    }
}

TEST(ExplanationTemplatesTest, OnlyLowConfidenceAddsANote)
{
    for (const DominantCause cause : allCases<DominantCause>()) {
        SCOPED_TRACE(std::string(rawValue(cause)));
        EXPECT_FALSE(render("Preview", cause, Confidence::high, {}).confidenceNote.has_value());
        EXPECT_FALSE(render("Preview", cause, Confidence::medium, {}).confidenceNote.has_value());
        EXPECT_TRUE(render("Preview", cause, Confidence::low, {}).confidenceNote.has_value());
    }
}

// Every Linux card, whatever picked its details, is free of another system's names.
TEST(ExplanationTemplatesLinux, NamesNoOtherSystem)
{
    std::vector<std::vector<Signal>> evidence{{}};
    for (const PolicyBlockKind kind : allCases<PolicyBlockKind>()) {
        evidence.push_back({policy(kind)});
    }
    for (const DyldFailureKind kind : allCases<DyldFailureKind>()) {
        evidence.push_back({dyld(kind)});
    }
    for (const QuitAttribution attribution : allCases<QuitAttribution>()) {
        evidence.push_back({termination(TerminationReason::quit, attribution)});
    }
    const char* const foreign[] = {"macOS", "Mac",   "Finder",      "Gatekeeper",
                                   "Apple", "Intel", "NSWorkspace", "log show"};
    for (const DominantCause cause : allCases<DominantCause>()) {
        for (const Confidence confidence : allCases<Confidence>()) {
            for (const auto& signals : evidence) {
                const ExplanationCard card =
                    render("Notes", cause, confidence, signals, Wording::linuxDesktop);
                std::string all = card.whatHappened + '\n' + card.why + '\n' + card.whatToDo + '\n'
                                  + card.confidenceNote.value_or("");
                for (const std::string& alternative : card.alternatives) {
                    all += '\n' + alternative;
                }
                for (const char* word : foreign) {
                    EXPECT_EQ(all.find(word), std::string::npos) << word << " in " << all;
                }
            }
        }
    }
}

} // namespace
} // namespace exitwise::core
