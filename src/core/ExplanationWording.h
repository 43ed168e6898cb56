// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace exitwise::core {

// Which system the texts a user reads speak of. Chosen once where the platform is composed;
// records keep whatever wording they were written with.
enum class Wording
{
    macos,
    linuxDesktop
};

inline constexpr std::array<Wording, 2> kWordings{Wording::macos, Wording::linuxDesktop};

// One card's fixed texts. "{app}" stands for the application's name; an empty alternative is
// left out.
struct CauseTexts
{
    std::string_view whatHappened;
    std::string_view why;
    std::string_view whatToDo;
    std::array<std::string_view, 2> alternatives;
};

// The part of a card chosen by a detail of the evidence.
struct DetailTexts
{
    std::string_view why;
    std::string_view whatToDo;
};

// Who asked the application to quit, as the confident quit card says it.
struct QuitWhyTexts
{
    std::string_view userRequest;
    std::string_view logout;
    std::string_view shutdown;
    std::string_view update;
    std::string_view mdm;
    std::string_view unattributed;
};

// Every text of one wording set: the explanation cards, and the messages and raw texts that
// evidence carries into the signals. "{app}" and "{file}" are filled in where used.
struct ExplanationWording
{
    // Cards whose why and what-to-do come from the detail rows below them.
    CauseTexts policyBlocked;
    DetailTexts quarantine;
    DetailTexts codeSignature;
    DetailTexts runtimeProtection; // library validation and hardened runtime
    DetailTexts gatekeeper;
    DetailTexts otherPolicy;

    CauseTexts dyldFailure;
    DetailTexts missingLibrary;
    DetailTexts wrongArchitecture;
    DetailTexts libraryValidation;
    DetailTexts otherLoader;

    CauseTexts crashBug;
    CauseTexts crashAbort;
    CauseTexts killedWatchdogHang;
    CauseTexts killedJetsamMemory;
    CauseTexts explicitQuit; // confident; why from quitWhy
    QuitWhyTexts quitWhy;
    CauseTexts explicitQuitUncertain;
    CauseTexts dependencyHelperFailure;
    CauseTexts unknown;

    std::string_view lowConfidenceAction;
    std::string_view lowConfidenceNote;

    // Signals made from a crash report's hints, and from a hang report ("{file}").
    std::string_view hangFromReport;
    std::string_view memoryKillFromReport;
    std::string_view hangReportCaptured;
    // What a loader signal's summary calls the dynamic loader.
    std::string_view loaderSummary;

    // The monitor's raw termination texts: what the system log showed about the application
    // ("{app}"), and the desktop's bare notice that it ended.
    std::string_view logoutForceQuitEvidence;
    std::string_view memoryKillEvidence;
    std::string_view abortEvidence;
    std::string_view crashEvidence;
    std::string_view killEvidence;
    std::string_view quitEvidence;
    std::string_view terminationNotice;
};

// The table of a wording set; static, safe from any thread.
[[nodiscard]] const ExplanationWording& explanationWording(Wording wording);

// `text` with every `placeholder` replaced by `value`, inserted unchanged.
[[nodiscard]] std::string
filledIn(std::string_view text, std::string_view placeholder, std::string_view value);

} // namespace exitwise::core
