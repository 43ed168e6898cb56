// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include <optional>
#include <string>

namespace exitwise::core::ExplanationTemplates {

namespace {

std::string cat(std::string_view a, std::string_view b, std::string_view c = {})
{
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

std::optional<PolicyBlockKind> policyKind(const std::vector<Signal>& signals)
{
    for (const Signal& signal : signals) {
        if (const auto* policy = signal.as<PolicySignal>()) {
            return policy->kind;
        }
    }
    return std::nullopt;
}

// A crash report only counts when it carries a classified loader failure; otherwise the scan
// moves on so a later dyld signal can still decide.
std::optional<DyldFailureKind> loaderKind(const std::vector<Signal>& signals)
{
    for (const Signal& signal : signals) {
        if (const auto* dyld = signal.as<DyldSignal>()) {
            return dyld->kind;
        }
        if (const auto* report = signal.as<CrashReportSignal>(); report && report->dyldFailureKind) {
            return report->dyldFailureKind;
        }
    }
    return std::nullopt;
}

std::optional<QuitAttribution> quitAttribution(const std::vector<Signal>& signals)
{
    for (const Signal& signal : signals) {
        if (const auto* termination = signal.as<TerminationSignal>();
            termination && termination->reason == TerminationReason::quit && termination->quitAttribution) {
            return termination->quitAttribution;
        }
    }
    return std::nullopt;
}

std::string retryAction(std::string_view app)
{
    return cat("Retry ", app,
               ". If it closes again, collect another event and review Details for more signal.");
}

ExplanationCard policyBlockedCard(std::string_view app, const std::vector<Signal>& signals)
{
    ExplanationCard card;
    card.whatHappened = cat("macOS blocked ", app, " from launching.");
    switch (policyKind(signals).value_or(PolicyBlockKind::other)) {
    case PolicyBlockKind::quarantine:
        card.why = "A quarantine check blocked the app at launch.";
        card.whatToDo =
            cat("Open a trusted build of ", app, " and allow it through the macOS security prompt.");
        break;
    case PolicyBlockKind::codeSignature:
        card.why = "Code-signature validation failed while launching.";
        card.whatToDo = cat("Reinstall ", app, " from its official source to restore a valid signature.");
        break;
    case PolicyBlockKind::libraryValidation:
    case PolicyBlockKind::hardenedRuntime:
        card.why = "macOS runtime protection blocked an unsupported library or injection path.";
        card.whatToDo = cat("Remove injected libraries/plugins and relaunch ", app, ".");
        break;
    case PolicyBlockKind::gatekeeper:
        card.why = "Gatekeeper blocked this build from running.";
        card.whatToDo = cat("Install a trusted signed build of ", app, ", then open it from Finder.");
        break;
    case PolicyBlockKind::other:
        card.why = "A security policy prevented it from running on this Mac.";
        card.whatToDo = cat("Reinstall ", app, " from a trusted source, then try opening it again.");
        break;
    }
    card.alternatives = {
        "If you recently downloaded it, review macOS security prompts and try again.",
        "Avoid modifying the app bundle or injecting plugins/libraries.",
    };
    return card;
}

ExplanationCard dyldFailureCard(std::string_view app, const std::vector<Signal>& signals)
{
    ExplanationCard card;
    card.whatHappened = cat(app, " closed immediately because a required component could not be loaded.");
    switch (loaderKind(signals).value_or(DyldFailureKind::other)) {
    case DyldFailureKind::missingLibrary:
        card.why = "macOS reported a missing dynamic library during app startup.";
        card.whatToDo = cat("Reinstall ", app, " so required libraries are restored, then launch again.");
        break;
    case DyldFailureKind::wrongArchitecture:
        card.why = "The app attempted to load a binary built for a different CPU architecture.";
        card.whatToDo = cat("Install the correct build of ", app, " for your Mac (Apple Silicon vs Intel).");
        break;
    case DyldFailureKind::libraryValidation:
        card.why = "A loaded library failed validation at launch (often from injected tooling).";
        card.whatToDo = cat("Disable library injection tools and relaunch ", app, ".");
        break;
    case DyldFailureKind::other:
        card.why = "macOS reported a dynamic loader failure at launch.";
        card.whatToDo = cat("Reinstall ", app, ", then try opening it again.");
        break;
    }
    card.alternatives = {
        "Confirm you installed the correct build for your Mac\u2019s architecture.",
        "Remove conflicting injected libraries and try launching again.",
    };
    return card;
}

std::string_view quitWhy(std::optional<QuitAttribution> attribution)
{
    switch (attribution.value_or(QuitAttribution::unknown)) {
    case QuitAttribution::userRequest:
        return "macOS recorded a direct quit/termination request.";
    case QuitAttribution::logout:
        return "macOS recorded the app closing during a logout/session-end request.";
    case QuitAttribution::shutdown:
        return "macOS recorded the app closing during a shutdown or restart request.";
    case QuitAttribution::update:
        return "macOS recorded the app closing during a software update flow.";
    case QuitAttribution::mdm:
        return "A managed device policy appears to have requested app termination.";
    case QuitAttribution::unknown:
        break;
    }
    return "macOS recorded a normal termination request.";
}

// A confident quit names who asked; a less certain one only argues from the absence of a crash.
ExplanationCard
explicitQuitCard(std::string_view app, Confidence confidence, const std::vector<Signal>& signals)
{
    if (confidence == Confidence::high) {
        return {
            .whatHappened = cat(app, " was asked to quit (this was not a crash)."),
            .why = std::string(quitWhy(quitAttribution(signals))),
            .whatToDo =
                "If you did not quit it, check whether you logged out, shut down, or force-quit around "
                "that time.",
            .alternatives = {"Look for update/install tools that may close apps automatically.",
                             "If it repeats, expand Details and share the signals with support."},
            .confidenceNote = std::nullopt,
        };
    }
    return {
        .whatHappened = cat(app, " exited normally (this was not a crash)."),
        .why = "We did not find a crash or kill signal near that time, so a normal quit is the most likely "
               "explanation.",
        .whatToDo = "If you did not quit it, look for logout/shutdown or management tools around that time.",
        .alternatives = {"Check whether the app auto-quits after completing a task.",
                         "If it happens again, expand Details and share the signals with support."},
        .confidenceNote = std::nullopt,
    };
}

ExplanationCard causeCard(std::string_view app,
                          DominantCause cause,
                          Confidence confidence,
                          const std::vector<Signal>& signals)
{
    switch (cause) {
    case DominantCause::policyBlocked:
        return policyBlockedCard(app, signals);
    case DominantCause::dyldFailure:
        return dyldFailureCard(app, signals);
    case DominantCause::crashBug:
        return {
            .whatHappened = cat(app, " crashed due to an internal error."),
            .why = "macOS recorded a crash report for this app at that time.",
            .whatToDo = cat("Update ", app, " and try again."),
            .alternatives = {"Disable extensions/plugins (if any) and retry.",
                             "If it repeats, share the crash report with the app vendor."},
            .confidenceNote = std::nullopt,
        };
    case DominantCause::crashAbort:
        return {
            .whatHappened = cat(app, " quit because it hit a fatal error it could not recover from."),
            .why = "macOS recorded a forced abort at that moment.",
            .whatToDo = cat("Undo recent changes (settings/plugins), then reopen ", app, "."),
            .alternatives = {"Reset the app\u2019s settings/state (if available), then retry.",
                             cat("Reinstall ", app, " if corruption is suspected.")},
            .confidenceNote = std::nullopt,
        };
    case DominantCause::killedWatchdogHang:
        return {
            .whatHappened = cat("macOS ended ", app, " because it stopped responding."),
            .why = "At the time it closed, macOS detected the app was unresponsive.",
            .whatToDo = cat("Update ", app, ", then reopen it."),
            .alternatives = {"Avoid immediately reopening the last heavy project/file.",
                             "Check for disk or network stalls that might freeze startup."},
            .confidenceNote = std::nullopt,
        };
    case DominantCause::killedJetsamMemory:
        return {
            .whatHappened = cat("macOS ended ", app, " because the system ran out of available memory."),
            .why = "At the time it closed, your Mac was under heavy memory pressure.",
            .whatToDo = cat("Close other memory-heavy apps, then reopen ", app, "."),
            .alternatives = {"Restart your Mac, then try again.",
                             cat("Reduce workload inside ", app, " (smaller file/project).")},
            .confidenceNote = std::nullopt,
        };
    case DominantCause::explicitQuit:
        return explicitQuitCard(app, confidence, signals);
    case DominantCause::dependencyHelperFailure:
        return {
            .whatHappened =
                cat(app, " closed because a required helper or service did not respond correctly."),
            .why = "A companion component failed near the time the app exited.",
            .whatToDo = cat("Reinstall ", app, " to restore its helpers, then try again."),
            .alternatives = {cat("Restart background items/login items related to ", app, "."),
                             "Check permissions that might block the helper component."},
            .confidenceNote = std::nullopt,
        };
    case DominantCause::unknown:
        break;
    }
    return {
        .whatHappened = cat(app, " closed, but macOS did not provide a clear reason."),
        .why = "We could not find a decisive system signal in the available time window.",
        .whatToDo = retryAction(app),
        .alternatives = {},
        .confidenceNote = std::nullopt,
    };
}

} // namespace

ExplanationCard render(std::string_view appName,
                       DominantCause dominantCause,
                       Confidence confidence,
                       const std::vector<Signal>& signalsUsed)
{
    ExplanationCard card = causeCard(appName, dominantCause, confidence, signalsUsed);
    // When unsure, steer the user toward gathering more evidence rather than a specific fix.
    if (confidence == Confidence::low) {
        card.whatToDo = retryAction(appName);
        card.alternatives.clear();
        card.confidenceNote =
            "We\u2019re not fully certain. This is the most likely explanation based on available "
            "signals.";
    }
    return card;
}

} // namespace exitwise::core::ExplanationTemplates
