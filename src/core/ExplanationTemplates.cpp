// SPDX-License-Identifier: MIT
#include "core/ExplanationTemplates.h"

#include <optional>
#include <string>

namespace exitwise::core::ExplanationTemplates {

namespace {

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

const DetailTexts& policyTexts(const ExplanationWording& w, std::optional<PolicyBlockKind> kind)
{
    switch (kind.value_or(PolicyBlockKind::other)) {
    case PolicyBlockKind::quarantine:
        return w.quarantine;
    case PolicyBlockKind::codeSignature:
        return w.codeSignature;
    case PolicyBlockKind::libraryValidation:
    case PolicyBlockKind::hardenedRuntime:
        return w.runtimeProtection;
    case PolicyBlockKind::gatekeeper:
        return w.gatekeeper;
    case PolicyBlockKind::other:
        break;
    }
    return w.otherPolicy;
}

const DetailTexts& loaderTexts(const ExplanationWording& w, std::optional<DyldFailureKind> kind)
{
    switch (kind.value_or(DyldFailureKind::other)) {
    case DyldFailureKind::missingLibrary:
        return w.missingLibrary;
    case DyldFailureKind::wrongArchitecture:
        return w.wrongArchitecture;
    case DyldFailureKind::libraryValidation:
        return w.libraryValidation;
    case DyldFailureKind::other:
        break;
    }
    return w.otherLoader;
}

std::string_view quitWhy(const QuitWhyTexts& texts, std::optional<QuitAttribution> attribution)
{
    switch (attribution.value_or(QuitAttribution::unknown)) {
    case QuitAttribution::userRequest:
        return texts.userRequest;
    case QuitAttribution::logout:
        return texts.logout;
    case QuitAttribution::shutdown:
        return texts.shutdown;
    case QuitAttribution::update:
        return texts.update;
    case QuitAttribution::mdm:
        return texts.mdm;
    case QuitAttribution::unknown:
        break;
    }
    return texts.unattributed;
}

// The card's texts, with why and what-to-do chosen by the evidence where the table says so.
struct Choice
{
    const CauseTexts& texts;
    std::string_view why;
    std::string_view whatToDo;
};

Choice withDetail(const CauseTexts& texts, const DetailTexts& detail)
{
    return {texts, detail.why, detail.whatToDo};
}

Choice fixed(const CauseTexts& texts)
{
    return {texts, texts.why, texts.whatToDo};
}

// A confident quit names who asked; a less certain one only argues from the absence of a crash.
Choice choose(const ExplanationWording& w,
              DominantCause cause,
              Confidence confidence,
              const std::vector<Signal>& signals)
{
    switch (cause) {
    case DominantCause::policyBlocked:
        return withDetail(w.policyBlocked, policyTexts(w, policyKind(signals)));
    case DominantCause::dyldFailure:
        return withDetail(w.dyldFailure, loaderTexts(w, loaderKind(signals)));
    case DominantCause::crashBug:
        return fixed(w.crashBug);
    case DominantCause::crashAbort:
        return fixed(w.crashAbort);
    case DominantCause::killedWatchdogHang:
        return fixed(w.killedWatchdogHang);
    case DominantCause::killedJetsamMemory:
        return fixed(w.killedJetsamMemory);
    case DominantCause::explicitQuit:
        if (confidence == Confidence::high) {
            return {w.explicitQuit, quitWhy(w.quitWhy, quitAttribution(signals)), w.explicitQuit.whatToDo};
        }
        return fixed(w.explicitQuitUncertain);
    case DominantCause::dependencyHelperFailure:
        return fixed(w.dependencyHelperFailure);
    case DominantCause::unknown:
        break;
    }
    return fixed(w.unknown);
}

} // namespace

ExplanationCard render(std::string_view appName,
                       DominantCause dominantCause,
                       Confidence confidence,
                       const std::vector<Signal>& signalsUsed,
                       Wording wording)
{
    const ExplanationWording& w = explanationWording(wording);
    const auto fill = [appName](std::string_view text) { return filledIn(text, "{app}", appName); };
    const Choice choice = choose(w, dominantCause, confidence, signalsUsed);

    ExplanationCard card;
    card.whatHappened = fill(choice.texts.whatHappened);
    card.why = fill(choice.why);
    card.whatToDo = fill(choice.whatToDo);
    for (const std::string_view alternative : choice.texts.alternatives) {
        if (!alternative.empty()) {
            card.alternatives.push_back(fill(alternative));
        }
    }
    // When unsure, steer the user toward gathering more evidence rather than a specific fix.
    if (confidence == Confidence::low) {
        card.whatToDo = fill(w.lowConfidenceAction);
        card.alternatives.clear();
        card.confidenceNote = std::string(w.lowConfidenceNote);
    }
    return card;
}

} // namespace exitwise::core::ExplanationTemplates
