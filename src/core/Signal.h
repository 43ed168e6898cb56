// SPDX-License-Identifier: MIT
#pragma once

#include "core/Date.h"
#include "core/Enum.h"
#include "core/ExplanationWording.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace exitwise::core {

enum class TerminationReason
{
    crashed,
    killed,
    quit,
    unknown
};

enum class QuitAttribution
{
    userRequest,
    logout,
    shutdown,
    update,
    mdm,
    unknown
};

enum class DyldFailureKind
{
    missingLibrary,
    wrongArchitecture,
    libraryValidation,
    other
};

enum class PolicyBlockKind
{
    quarantine,
    codeSignature,
    libraryValidation,
    hardenedRuntime,
    gatekeeper,
    other
};

enum class MemoryPressureEvidence
{
    directTermination,
    correlatedPressure
};

enum class SignalType
{
    termination,
    crashReport,
    policy,
    dyld,
    jetsam,
    watchdog,
    launchd,
    unifiedLog
};

template <> struct EnumTraits<TerminationReason>
{
    static constexpr std::array<std::pair<TerminationReason, std::string_view>, 4> values{{
        {TerminationReason::crashed, "crashed"},
        {TerminationReason::killed, "killed"},
        {TerminationReason::quit, "quit"},
        {TerminationReason::unknown, "unknown"},
    }};
};

template <> struct EnumTraits<QuitAttribution>
{
    static constexpr std::array<std::pair<QuitAttribution, std::string_view>, 6> values{{
        {QuitAttribution::userRequest, "User request"},
        {QuitAttribution::logout, "Logout/session end"},
        {QuitAttribution::shutdown, "Shutdown/restart"},
        {QuitAttribution::update, "Software update"},
        {QuitAttribution::mdm, "Device management policy"},
        {QuitAttribution::unknown, "Unknown"},
    }};
};

template <> struct EnumTraits<DyldFailureKind>
{
    static constexpr std::array<std::pair<DyldFailureKind, std::string_view>, 4> values{{
        {DyldFailureKind::missingLibrary, "Missing required library"},
        {DyldFailureKind::wrongArchitecture, "Wrong binary architecture"},
        {DyldFailureKind::libraryValidation, "Library validation failed"},
        {DyldFailureKind::other, "Dynamic loader failure"},
    }};
};

template <> struct EnumTraits<PolicyBlockKind>
{
    static constexpr std::array<std::pair<PolicyBlockKind, std::string_view>, 6> values{{
        {PolicyBlockKind::quarantine, "Quarantine block"},
        {PolicyBlockKind::codeSignature, "Code-signature validation block"},
        {PolicyBlockKind::libraryValidation, "Library validation block"},
        {PolicyBlockKind::hardenedRuntime, "Hardened runtime block"},
        {PolicyBlockKind::gatekeeper, "Gatekeeper block"},
        {PolicyBlockKind::other, "Security policy block"},
    }};
};

template <> struct EnumTraits<MemoryPressureEvidence>
{
    static constexpr std::array<std::pair<MemoryPressureEvidence, std::string_view>, 2> values{{
        {MemoryPressureEvidence::directTermination, "Direct memory termination"},
        {MemoryPressureEvidence::correlatedPressure, "Correlated memory pressure"},
    }};
};

template <> struct EnumTraits<SignalType>
{
    static constexpr std::array<std::pair<SignalType, std::string_view>, 8> values{{
        {SignalType::termination, "termination"},
        {SignalType::crashReport, "crashReport"},
        {SignalType::policy, "policy"},
        {SignalType::dyld, "dyld"},
        {SignalType::jetsam, "jetsam"},
        {SignalType::watchdog, "watchdog"},
        {SignalType::launchd, "launchd"},
        {SignalType::unifiedLog, "unifiedLog"},
    }};
};

// Payload records. Each is an aggregate, so `TerminationSignal{t, reason, raw, attribution}`
// and the parenthesised form are its memberwise constructor.

struct TerminationSignal
{
    Date timestamp;
    TerminationReason reason = TerminationReason::unknown;
    std::optional<std::string> rawValue;
    std::optional<QuitAttribution> quitAttribution;

    friend bool operator==(const TerminationSignal&, const TerminationSignal&) = default;
};

struct CrashReportSignal
{
    Date timestamp;
    std::optional<std::string> sourcePath;
    std::optional<std::string> exceptionType;
    std::optional<std::string> terminationReason;
    std::optional<std::string> terminationSignal;
    std::optional<std::string> dyldErrorMessage;
    std::optional<DyldFailureKind> dyldFailureKind;
    bool suspectedDyldFailure = false;
    bool suspectedJetsamMemory = false;
    bool suspectedWatchdogHang = false;

    friend bool operator==(const CrashReportSignal&, const CrashReportSignal&) = default;
};

struct PolicySignal
{
    Date timestamp;
    PolicyBlockKind kind = PolicyBlockKind::other;
    std::string message;

    friend bool operator==(const PolicySignal&, const PolicySignal&) = default;
};

struct DyldSignal
{
    Date timestamp;
    DyldFailureKind kind = DyldFailureKind::other;
    std::string message;

    friend bool operator==(const DyldSignal&, const DyldSignal&) = default;
};

struct JetsamSignal
{
    Date timestamp;
    std::string message;
    MemoryPressureEvidence evidence = MemoryPressureEvidence::correlatedPressure;

    friend bool operator==(const JetsamSignal&, const JetsamSignal&) = default;
};

struct WatchdogSignal
{
    Date timestamp;
    std::string message;

    friend bool operator==(const WatchdogSignal&, const WatchdogSignal&) = default;
};

struct LaunchdSignal
{
    Date timestamp;
    std::optional<std::string> serviceName;
    std::string message;
    std::optional<std::int64_t> exitCount;

    friend bool operator==(const LaunchdSignal&, const LaunchdSignal&) = default;
};

struct UnifiedLogSignal
{
    Date timestamp;
    std::optional<std::string> process;
    std::string message;

    friend bool operator==(const UnifiedLogSignal&, const UnifiedLogSignal&) = default;
};

// One piece of evidence: a closed sum of the eight payloads. The variant's alternative order
// is the order of SignalType.
class Signal
{
public:
    using Payload = std::variant<TerminationSignal,
                                 CrashReportSignal,
                                 PolicySignal,
                                 DyldSignal,
                                 JetsamSignal,
                                 WatchdogSignal,
                                 LaunchdSignal,
                                 UnifiedLogSignal>;

    Signal(TerminationSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(CrashReportSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(PolicySignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(DyldSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(JetsamSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(WatchdogSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(LaunchdSignal payload)
        : m_payload(std::move(payload))
    {}
    Signal(UnifiedLogSignal payload)
        : m_payload(std::move(payload))
    {}

    [[nodiscard]] SignalType type() const { return static_cast<SignalType>(m_payload.index()); }
    [[nodiscard]] const Payload& payload() const { return m_payload; }

    // The payload when it is a T, else null.
    template <class T> [[nodiscard]] const T* as() const { return std::get_if<T>(&m_payload); }

    [[nodiscard]] Date timestamp() const;

    // The one-line text shown for the signal, in the words of `wording`; also part of the log
    // provider's de-duplication key.
    [[nodiscard]] std::string summary(Wording wording = Wording::macos) const;

    friend bool operator==(const Signal&, const Signal&) = default;

private:
    Payload m_payload;
};

} // namespace exitwise::core
