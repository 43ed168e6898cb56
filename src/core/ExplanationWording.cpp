// SPDX-License-Identifier: MIT
#include "core/ExplanationWording.h"

namespace exitwise::core {

namespace {

// The texts as first written for macOS; records and their tests depend on every character.
constexpr ExplanationWording kMacos{
    .policyBlocked =
        {
            .whatHappened = "macOS blocked {app} from launching.",
            .why = {},
            .whatToDo = {},
            .alternatives = {"If you recently downloaded it, review macOS security prompts and try again.",
                             "Avoid modifying the app bundle or injecting plugins/libraries."},
        },
    .quarantine = {"A quarantine check blocked the app at launch.",
                   "Open a trusted build of {app} and allow it through the macOS security prompt."},
    .codeSignature = {"Code-signature validation failed while launching.",
                      "Reinstall {app} from its official source to restore a valid signature."},
    .runtimeProtection = {"macOS runtime protection blocked an unsupported library or injection path.",
                          "Remove injected libraries/plugins and relaunch {app}."},
    .gatekeeper = {"Gatekeeper blocked this build from running.",
                   "Install a trusted signed build of {app}, then open it from Finder."},
    .otherPolicy = {"A security policy prevented it from running on this Mac.",
                    "Reinstall {app} from a trusted source, then try opening it again."},

    .dyldFailure =
        {
            .whatHappened = "{app} closed immediately because a required component could not be loaded.",
            .why = {},
            .whatToDo = {},
            .alternatives = {"Confirm you installed the correct build for your Mac\u2019s architecture.",
                             "Remove conflicting injected libraries and try launching again."},
        },
    .missingLibrary = {"macOS reported a missing dynamic library during app startup.",
                       "Reinstall {app} so required libraries are restored, then launch again."},
    .wrongArchitecture = {"The app attempted to load a binary built for a different CPU architecture.",
                          "Install the correct build of {app} for your Mac (Apple Silicon vs Intel)."},
    .libraryValidation = {"A loaded library failed validation at launch (often from injected tooling).",
                          "Disable library injection tools and relaunch {app}."},
    .otherLoader = {"macOS reported a dynamic loader failure at launch.",
                    "Reinstall {app}, then try opening it again."},

    .crashBug =
        {
            .whatHappened = "{app} crashed due to an internal error.",
            .why = "macOS recorded a crash report for this app at that time.",
            .whatToDo = "Update {app} and try again.",
            .alternatives = {"Disable extensions/plugins (if any) and retry.",
                             "If it repeats, share the crash report with the app vendor."},
        },
    .crashAbort =
        {
            .whatHappened = "{app} quit because it hit a fatal error it could not recover from.",
            .why = "macOS recorded a forced abort at that moment.",
            .whatToDo = "Undo recent changes (settings/plugins), then reopen {app}.",
            .alternatives = {"Reset the app\u2019s settings/state (if available), then retry.",
                             "Reinstall {app} if corruption is suspected."},
        },
    .killedWatchdogHang =
        {
            .whatHappened = "macOS ended {app} because it stopped responding.",
            .why = "At the time it closed, macOS detected the app was unresponsive.",
            .whatToDo = "Update {app}, then reopen it.",
            .alternatives = {"Avoid immediately reopening the last heavy project/file.",
                             "Check for disk or network stalls that might freeze startup."},
        },
    .killedJetsamMemory =
        {
            .whatHappened = "macOS ended {app} because the system ran out of available memory.",
            .why = "At the time it closed, your Mac was under heavy memory pressure.",
            .whatToDo = "Close other memory-heavy apps, then reopen {app}.",
            .alternatives = {"Restart your Mac, then try again.",
                             "Reduce workload inside {app} (smaller file/project)."},
        },
    .explicitQuit =
        {
            .whatHappened = "{app} was asked to quit (this was not a crash).",
            .why = {},
            .whatToDo =
                "If you did not quit it, check whether you logged out, shut down, or force-quit around "
                "that time.",
            .alternatives = {"Look for update/install tools that may close apps automatically.",
                             "If it repeats, expand Details and share the signals with support."},
        },
    .quitWhy =
        {
            .userRequest = "macOS recorded a direct quit/termination request.",
            .logout = "macOS recorded the app closing during a logout/session-end request.",
            .shutdown = "macOS recorded the app closing during a shutdown or restart request.",
            .update = "macOS recorded the app closing during a software update flow.",
            .mdm = "A managed device policy appears to have requested app termination.",
            .unattributed = "macOS recorded a normal termination request.",
        },
    .explicitQuitUncertain =
        {
            .whatHappened = "{app} exited normally (this was not a crash).",
            .why =
                "We did not find a crash or kill signal near that time, so a normal quit is the most likely "
                "explanation.",
            .whatToDo =
                "If you did not quit it, look for logout/shutdown or management tools around that time.",
            .alternatives = {"Check whether the app auto-quits after completing a task.",
                             "If it happens again, expand Details and share the signals with support."},
        },
    .dependencyHelperFailure =
        {
            .whatHappened = "{app} closed because a required helper or service did not respond correctly.",
            .why = "A companion component failed near the time the app exited.",
            .whatToDo = "Reinstall {app} to restore its helpers, then try again.",
            .alternatives = {"Restart background items/login items related to {app}.",
                             "Check permissions that might block the helper component."},
        },
    .unknown =
        {
            .whatHappened = "{app} closed, but macOS did not provide a clear reason.",
            .why = "We could not find a decisive system signal in the available time window.",
            .whatToDo =
                "Retry {app}. If it closes again, collect another event and review Details for more signal.",
            .alternatives = {},
        },

    .lowConfidenceAction =
        "Retry {app}. If it closes again, collect another event and review Details for more signal.",
    .lowConfidenceNote =
        "We\u2019re not fully certain. This is the most likely explanation based on available signals.",

    .hangFromReport = "App became unresponsive (watchdog)",
    .memoryKillFromReport = "System memory pressure (jetsam)",
    .hangReportCaptured = "Spindump captured near app termination ({file}).",
    .loaderSummary = "dyld",

    .logoutForceQuitEvidence =
        "log show: loginwindow force-quit evidence (QUIT:asn exitStatus=137) for {app}",
    .memoryKillEvidence = "log show: memory kill evidence for {app}",
    .abortEvidence = "log show: abort evidence for {app}",
    .crashEvidence = "log show: crash evidence for {app}",
    .killEvidence = "log show: kill evidence for {app}",
    .quitEvidence = "log show: quit/exit evidence for {app}",
    .terminationNotice = "NSWorkspace didTerminateApplicationNotification",
};

// The same cards for a Linux desktop: the kernel, the desktop or "the system" act; advice names
// the package manager, the processor architecture, AppArmor/SELinux and the system monitor.
constexpr ExplanationWording kLinuxDesktop{
    .policyBlocked =
        {
            .whatHappened = "The system blocked {app} from launching.",
            .why = {},
            .whatToDo = {},
            .alternatives =
                {"If you recently downloaded it, make sure the file is allowed to run and try again.",
                 "Avoid modifying the app\u2019s files or injecting plugins/libraries."},
        },
    .quarantine = {"A security check blocked the downloaded app at launch.",
                   "Get a trusted build of {app} and allow it to run in the file\u2019s properties."},
    .codeSignature = {"Signature verification failed while launching.",
                      "Reinstall {app} from your package manager or its official source to restore a valid "
                      "signature."},
    .runtimeProtection =
        {"A security policy (AppArmor or SELinux) blocked an unsupported library or injection "
         "path.",
         "Remove injected libraries/plugins and relaunch {app}."},
    .gatekeeper = {"A security policy (AppArmor or SELinux) blocked this build from running.",
                   "Install {app} from your package manager or its official source, then open it again."},
    .otherPolicy = {"A security policy (AppArmor or SELinux) prevented it from running on this computer.",
                    "Reinstall {app} from a trusted source, then try opening it again."},

    .dyldFailure =
        {
            .whatHappened = "{app} closed immediately because a required component could not be loaded.",
            .why = {},
            .whatToDo = {},
            .alternatives = {"Confirm you installed the correct build for this computer\u2019s architecture.",
                             "Remove conflicting injected libraries and try launching again."},
        },
    .missingLibrary = {"The dynamic loader reported a missing shared library during app startup.",
                       "Reinstall {app} from your package manager so required libraries are restored, then "
                       "launch again."},
    .wrongArchitecture = {"The app attempted to load a binary built for a different CPU architecture.",
                          "Install the build of {app} made for this computer\u2019s processor (x86-64 or "
                          "ARM64)."},
    .libraryValidation = {"A loaded library failed validation at launch (often from injected tooling).",
                          "Disable library injection tools (such as LD_PRELOAD) and relaunch {app}."},
    .otherLoader = {"The dynamic loader reported a failure at launch.",
                    "Reinstall {app} from your package manager or its official source, then try opening it "
                    "again."},

    .crashBug =
        {
            .whatHappened = "{app} crashed due to an internal error.",
            .why = "The system recorded a crash report for this app at that time.",
            .whatToDo = "Update {app} and try again.",
            .alternatives = {"Disable extensions/plugins (if any) and retry.",
                             "If it repeats, share the crash report with the app vendor."},
        },
    .crashAbort =
        {
            .whatHappened = "{app} quit because it hit a fatal error it could not recover from.",
            .why = "The system recorded a forced abort at that moment.",
            .whatToDo = "Undo recent changes (settings/plugins), then reopen {app}.",
            .alternatives = {"Reset the app\u2019s settings/state (if available), then retry.",
                             "Reinstall {app} from your package manager if corruption is suspected."},
        },
    .killedWatchdogHang =
        {
            .whatHappened = "The desktop ended {app} because it stopped responding.",
            .why = "At the time it closed, the desktop detected the app was unresponsive.",
            .whatToDo = "Update {app}, then reopen it.",
            .alternatives = {"Avoid immediately reopening the last heavy project/file.",
                             "Check for disk or network stalls that might freeze startup."},
        },
    .killedJetsamMemory =
        {
            .whatHappened = "Linux ended {app} because the system ran out of available memory.",
            .why = "At the time it closed, this computer was under heavy memory pressure.",
            .whatToDo = "Close other memory-heavy apps (see the system monitor), then reopen {app}.",
            .alternatives = {"Restart the computer, then try again.",
                             "Reduce workload inside {app} (smaller file/project)."},
        },
    .explicitQuit =
        {
            .whatHappened = "{app} was asked to quit (this was not a crash).",
            .why = {},
            .whatToDo =
                "If you did not quit it, check whether you logged out, shut down, or force-quit around "
                "that time.",
            .alternatives = {"Look for update/install tools that may close apps automatically.",
                             "If it repeats, expand Details and share the signals with support."},
        },
    .quitWhy =
        {
            .userRequest = "The system recorded a direct quit/termination request.",
            .logout = "The system recorded the app closing during a logout/session-end request.",
            .shutdown = "The system recorded the app closing during a shutdown or restart request.",
            .update = "The system recorded the app closing during a software update flow.",
            .mdm = "A managed device policy appears to have requested app termination.",
            .unattributed = "The system recorded a normal termination request.",
        },
    .explicitQuitUncertain =
        {
            .whatHappened = "{app} exited normally (this was not a crash).",
            .why =
                "We did not find a crash or kill signal near that time, so a normal quit is the most likely "
                "explanation.",
            .whatToDo =
                "If you did not quit it, look for logout/shutdown or management tools around that time.",
            .alternatives = {"Check whether the app auto-quits after completing a task.",
                             "If it happens again, expand Details and share the signals with support."},
        },
    .dependencyHelperFailure =
        {
            .whatHappened = "{app} closed because a required helper or service did not respond correctly.",
            .why = "A companion component failed near the time the app exited.",
            .whatToDo = "Reinstall {app} from your package manager to restore its helpers, then try again.",
            .alternatives = {"Restart background services/autostart items related to {app}.",
                             "Check permissions that might block the helper component."},
        },
    .unknown =
        {
            .whatHappened = "{app} closed, but the system did not provide a clear reason.",
            .why = "We could not find a decisive system signal in the available time window.",
            .whatToDo =
                "Retry {app}. If it closes again, collect another event and review Details for more signal.",
            .alternatives = {},
        },

    .lowConfidenceAction =
        "Retry {app}. If it closes again, collect another event and review Details for more signal.",
    .lowConfidenceNote =
        "We\u2019re not fully certain. This is the most likely explanation based on available signals.",

    .hangFromReport = "App became unresponsive (ended from the desktop)",
    .memoryKillFromReport = "System memory pressure (out-of-memory kill)",
    .hangReportCaptured = "Hang report captured near app termination ({file}).",
    .loaderSummary = "Loader",

    .logoutForceQuitEvidence = "journal: session force-quit evidence at logout for {app}",
    .memoryKillEvidence = "journal: memory kill evidence for {app}",
    .abortEvidence = "journal: abort evidence for {app}",
    .crashEvidence = "journal: crash evidence for {app}",
    .killEvidence = "journal: kill evidence for {app}",
    .quitEvidence = "journal: quit/exit evidence for {app}",
    .terminationNotice = "process watcher: application process ended",
};

} // namespace

const ExplanationWording& explanationWording(Wording wording)
{
    return wording == Wording::linuxDesktop ? kLinuxDesktop : kMacos;
}

std::string filledIn(std::string_view text, std::string_view placeholder, std::string_view value)
{
    std::string out;
    out.reserve(text.size() + value.size());
    while (!placeholder.empty()) {
        const std::size_t at = text.find(placeholder);
        if (at == std::string_view::npos) {
            break;
        }
        out.append(text.substr(0, at)).append(value);
        text.remove_prefix(at + placeholder.size());
    }
    out.append(text);
    return out;
}

} // namespace exitwise::core
