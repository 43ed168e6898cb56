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

// The Linux set, one text per row: cause, the evidence that picks the detail, confidence, field.
enum class Field
{
    whatHappened,
    why,
    whatToDo,
    firstAlternative,
    secondAlternative,
};

struct LinuxText
{
    DominantCause cause;
    std::vector<Signal> signals;
    Confidence confidence;
    Field field;
    const char* text;
};

std::string fieldOf(const ExplanationCard& card, Field field)
{
    switch (field) {
    case Field::whatHappened:
        return card.whatHappened;
    case Field::why:
        return card.why;
    case Field::whatToDo:
        return card.whatToDo;
    case Field::firstAlternative:
        return card.alternatives.size() > 0 ? card.alternatives[0] : "";
    case Field::secondAlternative:
        return card.alternatives.size() > 1 ? card.alternatives[1] : "";
    }
    return {};
}

TEST(ExplanationTemplatesLinux, RendersEveryText)
{
    using C = DominantCause;
    using F = Field;
    const auto H = Confidence::high;
    const auto M = Confidence::medium;
    const auto L = Confidence::low;
    const auto quit = [](std::optional<QuitAttribution> a) {
        return termination(TerminationReason::quit, a);
    };
    // clang-format off
    const std::vector<LinuxText> rows{
        {C::policyBlocked, {}, H, F::whatHappened, "The system blocked Notes from launching."},
        {C::policyBlocked, {}, H, F::firstAlternative, "If you recently downloaded it, make sure the file is allowed to run and try again."},
        {C::policyBlocked, {}, H, F::secondAlternative, "Avoid modifying the app’s files or injecting plugins/libraries."},
        {C::policyBlocked, {policy(PolicyBlockKind::quarantine)}, H, F::why, "A security check blocked the downloaded app at launch."},
        {C::policyBlocked, {policy(PolicyBlockKind::quarantine)}, H, F::whatToDo, "Get a trusted build of Notes and allow it to run in the file’s properties."},
        {C::policyBlocked, {policy(PolicyBlockKind::codeSignature)}, H, F::why, "Signature verification failed while launching."},
        {C::policyBlocked, {policy(PolicyBlockKind::codeSignature)}, H, F::whatToDo, "Reinstall Notes from your package manager or its official source to restore a valid signature."},
        {C::policyBlocked, {policy(PolicyBlockKind::libraryValidation)}, H, F::why, "A security policy (AppArmor or SELinux) blocked an unsupported library or injection path."},
        {C::policyBlocked, {policy(PolicyBlockKind::hardenedRuntime)}, H, F::why, "A security policy (AppArmor or SELinux) blocked an unsupported library or injection path."},
        {C::policyBlocked, {policy(PolicyBlockKind::hardenedRuntime)}, H, F::whatToDo, "Remove injected libraries/plugins and relaunch Notes."},
        {C::policyBlocked, {policy(PolicyBlockKind::gatekeeper)}, H, F::why, "A security policy (AppArmor or SELinux) blocked this build from running."},
        {C::policyBlocked, {policy(PolicyBlockKind::gatekeeper)}, H, F::whatToDo, "Install Notes from your package manager or its official source, then open it again."},
        {C::policyBlocked, {policy(PolicyBlockKind::other)}, H, F::why, "A security policy (AppArmor or SELinux) prevented it from running on this computer."},
        {C::policyBlocked, {}, H, F::whatToDo, "Reinstall Notes from a trusted source, then try opening it again."},

        {C::dyldFailure, {}, H, F::whatHappened, "Notes closed immediately because a required component could not be loaded."},
        {C::dyldFailure, {}, H, F::firstAlternative, "Confirm you installed the correct build for this computer’s architecture."},
        {C::dyldFailure, {}, H, F::secondAlternative, "Remove conflicting injected libraries and try launching again."},
        {C::dyldFailure, {dyld(DyldFailureKind::missingLibrary)}, H, F::why, "The dynamic loader reported a missing shared library during app startup."},
        {C::dyldFailure, {crashReport(DyldFailureKind::missingLibrary)}, H, F::whatToDo, "Reinstall Notes from your package manager so required libraries are restored, then launch again."},
        {C::dyldFailure, {dyld(DyldFailureKind::wrongArchitecture)}, H, F::why, "The app attempted to load a binary built for a different CPU architecture."},
        {C::dyldFailure, {dyld(DyldFailureKind::wrongArchitecture)}, H, F::whatToDo, "Install the build of Notes made for this computer’s processor (x86-64 or ARM64)."},
        {C::dyldFailure, {dyld(DyldFailureKind::libraryValidation)}, H, F::why, "A loaded library failed validation at launch (often from injected tooling)."},
        {C::dyldFailure, {dyld(DyldFailureKind::libraryValidation)}, H, F::whatToDo, "Disable library injection tools (such as LD_PRELOAD) and relaunch Notes."},
        {C::dyldFailure, {dyld(DyldFailureKind::other), crashReport(DyldFailureKind::missingLibrary)}, H, F::why, "The dynamic loader reported a failure at launch."},
        {C::dyldFailure, {}, H, F::whatToDo, "Reinstall Notes from your package manager or its official source, then try opening it again."},

        {C::crashBug, {}, H, F::whatHappened, "Notes crashed due to an internal error."},
        {C::crashBug, {}, H, F::why, "The system recorded a crash report for this app at that time."},
        {C::crashBug, {}, H, F::whatToDo, "Update Notes and try again."},
        {C::crashBug, {}, H, F::firstAlternative, "Disable extensions/plugins (if any) and retry."},
        {C::crashBug, {}, H, F::secondAlternative, "If it repeats, share the crash report with the app vendor."},

        {C::crashAbort, {}, H, F::whatHappened, "Notes quit because it hit a fatal error it could not recover from."},
        {C::crashAbort, {}, H, F::why, "The system recorded a forced abort at that moment."},
        {C::crashAbort, {}, H, F::whatToDo, "Undo recent changes (settings/plugins), then reopen Notes."},
        {C::crashAbort, {}, H, F::firstAlternative, "Reset the app’s settings/state (if available), then retry."},
        {C::crashAbort, {}, H, F::secondAlternative, "Reinstall Notes from your package manager if corruption is suspected."},

        {C::killedWatchdogHang, {}, H, F::whatHappened, "The desktop ended Notes because it stopped responding."},
        {C::killedWatchdogHang, {}, H, F::why, "At the time it closed, the desktop detected the app was unresponsive."},
        {C::killedWatchdogHang, {}, H, F::whatToDo, "Update Notes, then reopen it."},
        {C::killedWatchdogHang, {}, H, F::firstAlternative, "Avoid immediately reopening the last heavy project/file."},
        {C::killedWatchdogHang, {}, H, F::secondAlternative, "Check for disk or network stalls that might freeze startup."},

        {C::killedJetsamMemory, {}, H, F::whatHappened, "Linux ended Notes because the system ran out of available memory."},
        {C::killedJetsamMemory, {}, H, F::why, "At the time it closed, this computer was under heavy memory pressure."},
        {C::killedJetsamMemory, {}, H, F::whatToDo, "Close other memory-heavy apps (see the system monitor), then reopen Notes."},
        {C::killedJetsamMemory, {}, H, F::firstAlternative, "Restart the computer, then try again."},
        {C::killedJetsamMemory, {}, H, F::secondAlternative, "Reduce workload inside Notes (smaller file/project)."},

        {C::explicitQuit, {}, H, F::whatHappened, "Notes was asked to quit (this was not a crash)."},
        {C::explicitQuit, {quit(QuitAttribution::userRequest)}, H, F::why, "The system recorded a direct quit/termination request."},
        {C::explicitQuit, {quit(std::nullopt), quit(QuitAttribution::logout)}, H, F::why, "The system recorded the app closing during a logout/session-end request."},
        {C::explicitQuit, {quit(QuitAttribution::shutdown)}, H, F::why, "The system recorded the app closing during a shutdown or restart request."},
        {C::explicitQuit, {quit(QuitAttribution::update)}, H, F::why, "The system recorded the app closing during a software update flow."},
        {C::explicitQuit, {quit(QuitAttribution::mdm)}, H, F::why, "A managed device policy appears to have requested app termination."},
        {C::explicitQuit, {quit(QuitAttribution::unknown)}, H, F::why, "The system recorded a normal termination request."},
        {C::explicitQuit, {}, H, F::whatToDo, "If you did not quit it, check whether you logged out, shut down, or force-quit around that time."},
        {C::explicitQuit, {}, H, F::firstAlternative, "Look for update/install tools that may close apps automatically."},
        {C::explicitQuit, {}, H, F::secondAlternative, "If it repeats, expand Details and share the signals with support."},
        {C::explicitQuit, {}, M, F::whatHappened, "Notes exited normally (this was not a crash)."},
        {C::explicitQuit, {}, M, F::why, "We did not find a crash or kill signal near that time, so a normal quit is the most likely explanation."},
        {C::explicitQuit, {}, M, F::whatToDo, "If you did not quit it, look for logout/shutdown or management tools around that time."},
        {C::explicitQuit, {}, M, F::firstAlternative, "Check whether the app auto-quits after completing a task."},
        {C::explicitQuit, {}, M, F::secondAlternative, "If it happens again, expand Details and share the signals with support."},

        {C::dependencyHelperFailure, {}, H, F::whatHappened, "Notes closed because a required helper or service did not respond correctly."},
        {C::dependencyHelperFailure, {}, H, F::why, "A companion component failed near the time the app exited."},
        {C::dependencyHelperFailure, {}, H, F::whatToDo, "Reinstall Notes from your package manager to restore its helpers, then try again."},
        {C::dependencyHelperFailure, {}, H, F::firstAlternative, "Restart background services/autostart items related to Notes."},
        {C::dependencyHelperFailure, {}, H, F::secondAlternative, "Check permissions that might block the helper component."},

        {C::unknown, {}, H, F::whatHappened, "Notes closed, but the system did not provide a clear reason."},
        {C::unknown, {}, H, F::why, "We could not find a decisive system signal in the available time window."},
        {C::unknown, {}, H, F::whatToDo, "Retry Notes. If it closes again, collect another event and review Details for more signal."},
        {C::unknown, {}, H, F::firstAlternative, ""},

        {C::killedJetsamMemory, {}, L, F::whatHappened, "Linux ended Notes because the system ran out of available memory."},
        {C::killedJetsamMemory, {}, L, F::whatToDo, "Retry Notes. If it closes again, collect another event and review Details for more signal."},
        {C::killedJetsamMemory, {}, L, F::firstAlternative, ""},
    };
    // clang-format on
    for (const LinuxText& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.cause)) + " / " + row.text);
        const ExplanationCard card =
            render("Notes", row.cause, row.confidence, row.signals, Wording::linuxDesktop);
        EXPECT_EQ(fieldOf(card, row.field), row.text);
        EXPECT_EQ(card.confidenceNote.has_value(), row.confidence == Confidence::low);
    }
    EXPECT_EQ(render("Notes", C::crashBug, L, {}, Wording::linuxDesktop).confidenceNote,
              std::optional<std::string>(kLowNote));
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

TEST(ExplanationTemplatesLinux, PlaceholderTakesTheNameVerbatim)
{
    const ExplanationCard card = render("{app} \"Beta\"", DominantCause::killedJetsamMemory, Confidence::high,
                                        {}, Wording::linuxDesktop);
    EXPECT_EQ(card.whatHappened,
              "Linux ended {app} \"Beta\" because the system ran out of available memory.");
    EXPECT_EQ(render("", DominantCause::crashBug, Confidence::high, {}, Wording::linuxDesktop).whatToDo,
              "Update  and try again.");
}

} // namespace
} // namespace exitwise::core
