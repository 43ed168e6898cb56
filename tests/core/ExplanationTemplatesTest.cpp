// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
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

const std::vector<std::string> kPolicyAlternatives{
    "If you recently downloaded it, review macOS security prompts and try again.",
    "Avoid modifying the app bundle or injecting plugins/libraries.",
};

const std::vector<std::string> kDyldAlternatives{
    "Confirm you installed the correct build for your Mac’s architecture.",
    "Remove conflicting injected libraries and try launching again.",
};

const std::vector<std::string> kHighQuitAlternatives{
    "Look for update/install tools that may close apps automatically.",
    "If it repeats, expand Details and share the signals with support.",
};

struct CardCase
{
    const char* name;
    DominantCause cause;
    Confidence confidence;
    std::vector<Signal> signals;
    ExplanationCard expected;
};

void PrintTo(const CardCase& c, std::ostream* os)
{
    *os << c.name;
}

class ExplanationTemplatesCardTest : public ::testing::TestWithParam<CardCase>
{
};

TEST_P(ExplanationTemplatesCardTest, RendersExactCard)
{
    const CardCase& c = GetParam();
    const ExplanationCard card = render("Preview", c.cause, c.confidence, c.signals);
    EXPECT_EQ(card.whatHappened, c.expected.whatHappened);
    EXPECT_EQ(card.why, c.expected.why);
    EXPECT_EQ(card.whatToDo, c.expected.whatToDo);
    EXPECT_EQ(card.alternatives, c.expected.alternatives);
    EXPECT_EQ(card.confidenceNote, c.expected.confidenceNote);
}

std::vector<CardCase> policyCases()
{
    const std::string happened = "macOS blocked Preview from launching.";
    const std::string runtimeWhy =
        "macOS runtime protection blocked an unsupported library or injection path.";
    const std::string runtimeDo = "Remove injected libraries/plugins and relaunch Preview.";
    const std::string otherWhy = "A security policy prevented it from running on this Mac.";
    const std::string otherDo = "Reinstall Preview from a trusted source, then try opening it again.";
    auto card = [&](std::string why, std::string todo) {
        return ExplanationCard{happened, std::move(why), std::move(todo), kPolicyAlternatives, std::nullopt};
    };
    return {
        {"PolicyQuarantine",
         DominantCause::policyBlocked,
         Confidence::high,
         {policy(PolicyBlockKind::quarantine)},
         card("A quarantine check blocked the app at launch.",
              "Open a trusted build of Preview and allow it through the macOS security prompt.")},
        {"PolicyCodeSignature",
         DominantCause::policyBlocked,
         Confidence::high,
         {policy(PolicyBlockKind::codeSignature)},
         card("Code-signature validation failed while launching.",
              "Reinstall Preview from its official source to restore a valid signature.")},
        {"PolicyLibraryValidation",
         DominantCause::policyBlocked,
         Confidence::high,
         {policy(PolicyBlockKind::libraryValidation)},
         card(runtimeWhy, runtimeDo)},
        {"PolicyHardenedRuntime",
         DominantCause::policyBlocked,
         Confidence::high,
         {policy(PolicyBlockKind::hardenedRuntime)},
         card(runtimeWhy, runtimeDo)},
        {"PolicyGatekeeper",
         DominantCause::policyBlocked,
         Confidence::high,
         {policy(PolicyBlockKind::gatekeeper)},
         card("Gatekeeper blocked this build from running.",
              "Install a trusted signed build of Preview, then open it from Finder.")},
        {"PolicyOther",
         DominantCause::policyBlocked,
         Confidence::medium,
         {policy(PolicyBlockKind::other)},
         card(otherWhy, otherDo)},
        {"PolicyAbsent",
         DominantCause::policyBlocked,
         Confidence::high,
         {termination(TerminationReason::killed, std::nullopt)},
         card(otherWhy, otherDo)},
        // Only the first policy signal counts.
        {"PolicyFirstWins",
         DominantCause::policyBlocked,
         Confidence::high,
         {crashReport(std::nullopt), policy(PolicyBlockKind::gatekeeper),
          policy(PolicyBlockKind::quarantine)},
         card("Gatekeeper blocked this build from running.",
              "Install a trusted signed build of Preview, then open it from Finder.")},
    };
}

std::vector<CardCase> dyldCases()
{
    const std::string happened =
        "Preview closed immediately because a required component could not be loaded.";
    const std::string missingWhy = "macOS reported a missing dynamic library during app startup.";
    const std::string missingDo = "Reinstall Preview so required libraries are restored, then launch again.";
    const std::string otherWhy = "macOS reported a dynamic loader failure at launch.";
    const std::string otherDo = "Reinstall Preview, then try opening it again.";
    auto card = [&](std::string why, std::string todo) {
        return ExplanationCard{happened, std::move(why), std::move(todo), kDyldAlternatives, std::nullopt};
    };
    return {
        {"DyldMissingLibrary",
         DominantCause::dyldFailure,
         Confidence::high,
         {dyld(DyldFailureKind::missingLibrary)},
         card(missingWhy, missingDo)},
        {"DyldWrongArchitecture",
         DominantCause::dyldFailure,
         Confidence::high,
         {dyld(DyldFailureKind::wrongArchitecture)},
         card("The app attempted to load a binary built for a different CPU architecture.",
              "Install the correct build of Preview for your Mac (Apple Silicon vs Intel).")},
        {"DyldLibraryValidation",
         DominantCause::dyldFailure,
         Confidence::high,
         {dyld(DyldFailureKind::libraryValidation)},
         card("A loaded library failed validation at launch (often from injected tooling).",
              "Disable library injection tools and relaunch Preview.")},
        {"DyldOther",
         DominantCause::dyldFailure,
         Confidence::high,
         {dyld(DyldFailureKind::other)},
         card(otherWhy, otherDo)},
        {"DyldAbsent",
         DominantCause::dyldFailure,
         Confidence::medium,
         {crashReport(std::nullopt), termination(TerminationReason::crashed, std::nullopt)},
         card(otherWhy, otherDo)},
        {"DyldFromCrashReportKind",
         DominantCause::dyldFailure,
         Confidence::high,
         {crashReport(DyldFailureKind::missingLibrary)},
         card(missingWhy, missingDo)},
        // The first qualifying signal decides, even when a later one is more specific.
        {"DyldFirstQualifyingWins",
         DominantCause::dyldFailure,
         Confidence::high,
         {dyld(DyldFailureKind::other), crashReport(DyldFailureKind::missingLibrary)},
         card(otherWhy, otherDo)},
        // A crash report without a loader kind does not stop the scan.
        {"DyldUnclassifiedReportPassedOver",
         DominantCause::dyldFailure,
         Confidence::high,
         {crashReport(std::nullopt), dyld(DyldFailureKind::missingLibrary)},
         card(missingWhy, missingDo)},
    };
}

std::vector<CardCase> fixedCases()
{
    return {
        {"CrashBug",
         DominantCause::crashBug,
         Confidence::high,
         {},
         {"Preview crashed due to an internal error.",
          "macOS recorded a crash report for this app at that time.",
          "Update Preview and try again.",
          {"Disable extensions/plugins (if any) and retry.",
           "If it repeats, share the crash report with the app vendor."},
          std::nullopt}},
        {"CrashAbort",
         DominantCause::crashAbort,
         Confidence::high,
         {},
         {"Preview quit because it hit a fatal error it could not recover from.",
          "macOS recorded a forced abort at that moment.",
          "Undo recent changes (settings/plugins), then reopen Preview.",
          {"Reset the app’s settings/state (if available), then retry.",
           "Reinstall Preview if corruption is suspected."},
          std::nullopt}},
        {"KilledWatchdogHang",
         DominantCause::killedWatchdogHang,
         Confidence::medium,
         {},
         {"macOS ended Preview because it stopped responding.",
          "At the time it closed, macOS detected the app was unresponsive.",
          "Update Preview, then reopen it.",
          {"Avoid immediately reopening the last heavy project/file.",
           "Check for disk or network stalls that might freeze startup."},
          std::nullopt}},
        {"KilledJetsamMemory",
         DominantCause::killedJetsamMemory,
         Confidence::high,
         {},
         {"macOS ended Preview because the system ran out of available memory.",
          "At the time it closed, your Mac was under heavy memory pressure.",
          "Close other memory-heavy apps, then reopen Preview.",
          {"Restart your Mac, then try again.", "Reduce workload inside Preview (smaller file/project)."},
          std::nullopt}},
        {"DependencyHelperFailure",
         DominantCause::dependencyHelperFailure,
         Confidence::high,
         {},
         {"Preview closed because a required helper or service did not respond correctly.",
          "A companion component failed near the time the app exited.",
          "Reinstall Preview to restore its helpers, then try again.",
          {"Restart background items/login items related to Preview.",
           "Check permissions that might block the helper component."},
          std::nullopt}},
        {"Unknown",
         DominantCause::unknown,
         Confidence::high,
         {},
         {"Preview closed, but macOS did not provide a clear reason.",
          "We could not find a decisive system signal in the available time window.",
          "Retry Preview. If it closes again, collect another event and review Details for more signal.",
          {},
          std::nullopt}},
        {"ExplicitQuitMedium",
         DominantCause::explicitQuit,
         Confidence::medium,
         {termination(TerminationReason::quit, QuitAttribution::logout)},
         {"Preview exited normally (this was not a crash).",
          "We did not find a crash or kill signal near that time, so a normal quit is the most likely "
          "explanation.",
          "If you did not quit it, look for logout/shutdown or management tools around that time.",
          {"Check whether the app auto-quits after completing a task.",
           "If it happens again, expand Details and share the signals with support."},
          std::nullopt}},
    };
}

std::vector<CardCase> quitCases()
{
    auto card = [](std::string why) {
        return ExplanationCard{"Preview was asked to quit (this was not a crash).", std::move(why),
                               "If you did not quit it, check whether you logged out, shut down, or "
                               "force-quit around that time.",
                               kHighQuitAlternatives, std::nullopt};
    };
    auto quit = [](std::optional<QuitAttribution> attribution) {
        return termination(TerminationReason::quit, attribution);
    };
    const std::string normal = "macOS recorded a normal termination request.";
    const std::string logout = "macOS recorded the app closing during a logout/session-end request.";
    return {
        {"QuitUserRequest",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::userRequest)},
         card("macOS recorded a direct quit/termination request.")},
        {"QuitLogout",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::logout)},
         card(logout)},
        {"QuitShutdown",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::shutdown)},
         card("macOS recorded the app closing during a shutdown or restart request.")},
        {"QuitUpdate",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::update)},
         card("macOS recorded the app closing during a software update flow.")},
        {"QuitMdm",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::mdm)},
         card("A managed device policy appears to have requested app termination.")},
        {"QuitUnknownAttribution",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(QuitAttribution::unknown)},
         card(normal)},
        {"QuitUnattributedOnly",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(std::nullopt)},
         card(normal)},
        {"QuitUnattributedThenLogout",
         DominantCause::explicitQuit,
         Confidence::high,
         {quit(std::nullopt), quit(QuitAttribution::logout)},
         card(logout)},
        // An attribution on a termination that was not a quit does not count.
        {"QuitIgnoresNonQuitAttribution",
         DominantCause::explicitQuit,
         Confidence::high,
         {termination(TerminationReason::killed, QuitAttribution::shutdown), quit(std::nullopt)},
         card(normal)},
        {"QuitSkipsNonQuitThenUsesQuit",
         DominantCause::explicitQuit,
         Confidence::high,
         {termination(TerminationReason::unknown, QuitAttribution::mdm), quit(QuitAttribution::update)},
         card("macOS recorded the app closing during a software update flow.")},
    };
}

std::string caseName(const ::testing::TestParamInfo<CardCase>& info)
{
    return info.param.name;
}

std::vector<CardCase> allCardCases()
{
    std::vector<CardCase> cases;
    for (auto group : {policyCases(), dyldCases(), fixedCases(), quitCases()}) {
        cases.insert(cases.end(), group.begin(), group.end());
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ExplanationTemplates,
                         ExplanationTemplatesCardTest,
                         ::testing::ValuesIn(allCardCases()),
                         caseName);

const char* const kLowNote =
    "We’re not fully certain. This is the most likely explanation based on available signals.";
const char* const kRetry =
    "Retry Preview. If it closes again, collect another event and review Details for more signal.";

TEST(ExplanationTemplatesTest, LowConfidenceReplacesActionsButKeepsNarrative)
{
    const struct
    {
        DominantCause cause;
        std::vector<Signal> signals;
        const char* whatHappened;
        const char* why;
    } cases[] = {
        {DominantCause::crashBug,
         {},
         "Preview crashed due to an internal error.",
         "macOS recorded a crash report for this app at that time."},
        {DominantCause::policyBlocked,
         {policy(PolicyBlockKind::quarantine)},
         "macOS blocked Preview from launching.",
         "A quarantine check blocked the app at launch."},
        {DominantCause::dyldFailure,
         {dyld(DyldFailureKind::wrongArchitecture)},
         "Preview closed immediately because a required component could not be loaded.",
         "The app attempted to load a binary built for a different CPU architecture."},
        {DominantCause::killedJetsamMemory,
         {},
         "macOS ended Preview because the system ran out of available memory.",
         "At the time it closed, your Mac was under heavy memory pressure."},
        // Low picks the uncertain quit variant, then the override still applies.
        {DominantCause::explicitQuit,
         {termination(TerminationReason::quit, QuitAttribution::logout)},
         "Preview exited normally (this was not a crash).",
         "We did not find a crash or kill signal near that time, so a normal quit is the most likely "
         "explanation."},
        {DominantCause::unknown,
         {},
         "Preview closed, but macOS did not provide a clear reason.",
         "We could not find a decisive system signal in the available time window."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.cause)));
        const ExplanationCard card = render("Preview", c.cause, Confidence::low, c.signals);
        EXPECT_EQ(card.whatHappened, c.whatHappened);
        EXPECT_EQ(card.why, c.why);
        EXPECT_EQ(card.whatToDo, kRetry);
        EXPECT_TRUE(card.alternatives.empty());
        EXPECT_EQ(card.confidenceNote, std::optional<std::string>(kLowNote));
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

TEST(ExplanationTemplatesTest, AppNameIsInsertedVerbatim)
{
    const ExplanationCard empty = render("", DominantCause::crashBug, Confidence::high, {});
    EXPECT_EQ(empty.whatHappened, " crashed due to an internal error.");
    EXPECT_EQ(empty.whatToDo, "Update  and try again.");

    const ExplanationCard emptyLow = render("", DominantCause::crashBug, Confidence::low, {});
    EXPECT_EQ(emptyLow.whatToDo,
              "Retry . If it closes again, collect another event and review Details for more signal.");

    const ExplanationCard padded =
        render("  My App’s \"Beta\" ", DominantCause::crashAbort, Confidence::high, {});
    EXPECT_EQ(padded.whatHappened,
              "  My App’s \"Beta\"  quit because it hit a fatal error it could not recover from.");
    EXPECT_EQ(padded.alternatives.at(1), "Reinstall   My App’s \"Beta\"  if corruption is suspected.");
}

} // namespace
} // namespace exitwise::core
