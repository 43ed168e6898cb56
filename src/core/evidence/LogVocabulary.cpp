// SPDX-License-Identifier: MIT
#include "core/evidence/LogVocabulary.h"

#include "core/evidence/CaseFolding.h"

#include <algorithm>

namespace exitwise::core {

namespace {

using Span = std::span<const std::string_view>;

// The processes that play each role, macOS and Linux side by side. On Linux the user manager
// logs as "systemd"; the session managers are GNOME's and Plasma's.
constexpr std::array<std::string_view, 1> kMacosKernel{"kernel"};
constexpr std::array<std::string_view, 2> kMacosCrashReporters{"ReportCrash", "reportcrash"};
constexpr std::array<std::string_view, 1> kMacosMemoryKillers{"runningboardd"};
constexpr std::array<std::string_view, 1> kMacosServiceManagers{"launchd"};
constexpr std::array<std::string_view, 1> kMacosSessionManagers{"loginwindow"};

constexpr std::array<std::string_view, 1> kLinuxKernel{"kernel"};
constexpr std::array<std::string_view, 1> kLinuxCrashReporters{"systemd-coredump"};
constexpr std::array<std::string_view, 3> kLinuxMemoryKillers{"systemd-oomd", "earlyoom", "nohang"};
constexpr std::array<std::string_view, 1> kLinuxServiceManagers{"systemd"};
constexpr std::array<std::string_view, 4> kLinuxSessionManagers{"gnome-session-binary", "gnome-session",
                                                                "ksmserver", "plasma_session"};

constexpr std::array<LogVocabulary::Role, 5> kRolesInOrder{
    LogVocabulary::Role::kernel, LogVocabulary::Role::crashReporter, LogVocabulary::Role::memoryKiller,
    LogVocabulary::Role::serviceManager, LogVocabulary::Role::sessionManager};

std::size_t indexOf(LogVocabulary::Phrase phrase)
{
    return static_cast<std::size_t>(phrase);
}

std::size_t indexOf(LogVocabulary::Role role)
{
    return static_cast<std::size_t>(role);
}

} // namespace

LogVocabulary::LogVocabulary(LogDialect dialect,
                             std::array<Span, kPhraseKinds> phrases,
                             std::array<Span, kRoles> processes)
    : m_dialect(dialect)
    , m_phrases(phrases)
    , m_processes(processes)
{
    for (std::size_t i = 0; i < kPhraseKinds; ++i) {
        for (const std::string_view phrase : m_phrases[i]) {
            m_foldedPhrases[i].push_back(detail::caseFolded(phrase));
        }
    }
}

const LogVocabulary& LogVocabulary::macos()
{
    static const LogVocabulary vocabulary(LogDialect::macos, {},
                                          {Span(), kMacosKernel, kMacosCrashReporters, kMacosMemoryKillers,
                                           kMacosServiceManagers, kMacosSessionManagers});
    return vocabulary;
}

const LogVocabulary& LogVocabulary::linuxDesktop()
{
    using namespace linuxterms;
    static const LogVocabulary vocabulary(LogDialect::linuxDesktop,
                                          {kKernelFaultLines, kRuntimeAbortLines, kMemoryKillLines,
                                           kMemoryPressureLines, kWrongArchitectureLines, kExecFailureLines,
                                           kMissingLibraryLines, kOtherLoaderLines, kUnitCrashLines,
                                           kAbortSignals, kCrashRecordLines, kHelperFailureLines},
                                          {Span(), kLinuxKernel, kLinuxCrashReporters, kLinuxMemoryKillers,
                                           kLinuxServiceManagers, kLinuxSessionManagers});
    return vocabulary;
}

const LogVocabulary& LogVocabulary::of(LogDialect dialect)
{
    return dialect == LogDialect::linuxDesktop ? linuxDesktop() : macos();
}

std::span<const std::string_view> LogVocabulary::phrases(Phrase phrase) const
{
    return m_phrases[indexOf(phrase)];
}

bool LogVocabulary::contains(Phrase phrase, std::string_view foldedMessage) const
{
    return !find(phrase, foldedMessage).empty();
}

std::string_view LogVocabulary::find(Phrase phrase, std::string_view foldedMessage) const
{
    for (const std::string& term : m_foldedPhrases[indexOf(phrase)]) {
        if (detail::foldedContains(foldedMessage, term)) {
            return term;
        }
    }
    return {};
}

std::span<const std::string_view> LogVocabulary::processes(Role role) const
{
    return m_processes[indexOf(role)];
}

LogVocabulary::Role LogVocabulary::roleOf(std::string_view process) const
{
    for (const Role role : kRolesInOrder) {
        const Span names = processes(role);
        if (std::find(names.begin(), names.end(), process) != names.end()) {
            return role;
        }
    }
    return Role::none;
}

std::vector<std::string> LogVocabulary::withServices(std::vector<std::string> base) const
{
    if (m_dialect == LogDialect::macos) {
        return base;
    }
    for (const Role role : kRolesInOrder) {
        for (const std::string_view name : processes(role)) {
            if (std::find(base.begin(), base.end(), name) == base.end()) {
                base.emplace_back(name);
            }
        }
    }
    return base;
}

} // namespace exitwise::core
