// SPDX-License-Identifier: MIT
#include "core/evidence/LogClassification.h"

#include "core/Text.h"
#include "core/evidence/CaseFolding.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <regex>
#include <utility>

namespace exitwise::core::logclass {

namespace {

using detail::caseFolded;
using detail::foldedContains;

template <std::size_t N> std::array<std::string, N> foldAll(const std::array<std::string_view, N>& terms)
{
    std::array<std::string, N> result;
    for (std::size_t i = 0; i < N; ++i) {
        result[i] = caseFolded(terms[i]);
    }
    return result;
}

// Each list is folded once, on first use.
template <const auto& Terms> bool containsAny(std::string_view folded)
{
    static const auto foldedTerms = foldAll(Terms);
    for (const std::string& term : foldedTerms) {
        if (foldedContains(folded, term)) {
            return true;
        }
    }
    return false;
}

bool memoryTerm(std::string_view folded)
{
    return containsAny<kMemoryTerms>(folded);
}

bool terminationTerm(std::string_view folded)
{
    return containsAny<kTerminationTerms>(folded);
}

bool quitTerm(std::string_view folded)
{
    return containsAny<kQuitTerms>(folded);
}

bool watchdogTerm(std::string_view folded)
{
    return containsAny<kWatchdogTerms>(folded);
}

bool crashTerm(std::string_view folded)
{
    return containsAny<kCrashTerms>(folded);
}

bool serviceFailure(std::string_view folded)
{
    return !containsAny<kInactiveTerms>(folded) && containsAny<kServiceFailureTerms>(folded);
}

std::optional<PolicyBlockKind> policyKindOf(std::string_view folded)
{
    if (foldedContains(folded, "quarantine")) {
        return PolicyBlockKind::quarantine;
    }
    if (foldedContains(folded, "gatekeeper")) {
        return PolicyBlockKind::gatekeeper;
    }
    if (foldedContains(folded, "library validation")) {
        return PolicyBlockKind::libraryValidation;
    }
    if (foldedContains(folded, "hardened runtime")) {
        return PolicyBlockKind::hardenedRuntime;
    }
    if (foldedContains(folded, "code signature") || foldedContains(folded, "codesign")
        || foldedContains(folded, "amfi")) {
        return PolicyBlockKind::codeSignature;
    }
    return std::nullopt;
}

bool policyBlock(std::string_view folded)
{
    return policyKindOf(folded).has_value() && containsAny<kBlockTerms>(folded);
}

std::optional<DyldFailureKind> loaderKindOf(std::string_view folded)
{
    if (!containsAny<kLoaderGateTerms>(folded)) {
        return std::nullopt;
    }
    if (containsAny<kMissingLibraryTerms>(folded)) {
        return DyldFailureKind::missingLibrary;
    }
    if (containsAny<kArchitectureTerms>(folded)) {
        return DyldFailureKind::wrongArchitecture;
    }
    if (containsAny<kValidationTerms>(folded)) {
        return DyldFailureKind::libraryValidation;
    }
    return std::nullopt;
}

// A quit passed on by the service manager was asked for by someone the log does not name.
QuitAttribution attributionFrom(bool byServiceManager, std::string_view folded)
{
    if (containsAny<kLogoutTerms>(folded)) {
        return QuitAttribution::logout;
    }
    if (containsAny<kShutdownTerms>(folded)) {
        return QuitAttribution::shutdown;
    }
    if (containsAny<kUpdateTerms>(folded)) {
        return QuitAttribution::update;
    }
    if (containsAny<kManagementTerms>(folded)) {
        return QuitAttribution::mdm;
    }
    return byServiceManager ? QuitAttribution::unknown : QuitAttribution::userRequest;
}

QuitAttribution attributionOf(std::string_view process, std::string_view folded)
{
    return attributionFrom(caseFolded(process) == "launchd", folded);
}

// The patterns fail to compile only if the regex library is broken; such a pattern is skipped.
std::vector<std::regex> compiledPatterns(std::initializer_list<const char*> sources,
                                         std::regex::flag_type flags)
{
    std::vector<std::regex> result;
    for (const char* source : sources) {
        try {
            result.emplace_back(source, flags);
        } catch (const std::regex_error&) {
        }
    }
    return result;
}

const std::vector<std::regex>& exitCountPatterns()
{
    static const std::vector<std::regex> patterns =
        compiledPatterns({R"((?:exited|crashed|failed).{0,24}\((\d+)\s+times\))", R"((\d+)\s+recent crashes)",
                          R"(throttled after\s+(\d+)\s+failures)"},
                         std::regex::ECMAScript | std::regex::icase);
    return patterns;
}

const std::vector<std::regex>& serviceLabelPattern()
{
    static const std::vector<std::regex> pattern =
        compiledPatterns({R"((com\.[A-Za-z0-9\.\-_]+))"}, std::regex::ECMAScript);
    return pattern;
}

// The standard library's regex matcher recurses once per character a `+` repetition consumes,
// so a hostile message with a long enough run would overflow the stack. Runs longer than
// `maxRun` are cut to `maxRun`; that changes no result for the patterns here: a cut run of
// digits is still too long to be a count, and a cut run of spaces is still longer than the
// 24 characters `.{0,24}` may span.
template <class IsRunChar>
std::string boundedRuns(std::string_view text, IsRunChar isRunChar, std::size_t maxRun)
{
    std::string result;
    result.reserve(text.size());
    std::size_t run = 0;
    for (const char c : text) {
        run = isRunChar(c) ? run + 1 : 0;
        if (run <= maxRun) {
            result.push_back(c);
        }
    }
    return result;
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<std::int64_t> signedDecimal(std::string_view text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> exitCount(std::string_view message, std::string_view folded)
{
    constexpr std::size_t kMaxRun = 40;
    const std::string digitsBounded = boundedRuns(message, isAsciiDigit, kMaxRun);
    const std::string bounded = boundedRuns(
        digitsBounded, [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }, kMaxRun);
    for (const std::regex& pattern : exitCountPatterns()) {
        std::smatch match;
        if (std::regex_search(bounded, match, pattern) && match.size() > 1 && match[1].matched) {
            if (auto value = signedDecimal(match.str(1))) {
                return value;
            }
        }
    }
    if (containsAny<kThrottleTerms>(folded)) {
        return 2;
    }
    return std::nullopt;
}

std::optional<std::string> labelOf(std::string_view message)
{
    constexpr std::size_t kMaxLabel = 1024;
    const auto isLabelChar = [](char c) {
        return isAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-'
               || c == '_';
    };
    const std::string bounded = boundedRuns(message, isLabelChar, kMaxLabel);
    for (const std::regex& pattern : serviceLabelPattern()) {
        std::smatch match;
        if (std::regex_search(bounded, match, pattern)) {
            return match.str(0);
        }
    }
    return std::nullopt;
}

// The event's identifying texts, folded once per classification.
struct EventTerms
{
    explicit EventTerms(const EventContext& context)
        : appName(caseFolded(context.appName))
        , bundleIdentifier(context.bundleIdentifier ? caseFolded(*context.bundleIdentifier) : std::string())
        , pidText(context.pid ? std::to_string(*context.pid) : std::string())
    {}

    [[nodiscard]] bool mentionedIn(std::string_view message, std::string_view folded) const
    {
        return foldedContains(folded, appName) || foldedContains(folded, bundleIdentifier)
               || (!pidText.empty() && message.find(pidText) != std::string_view::npos);
    }

    std::string appName;
    std::string bundleIdentifier;
    std::string pidText;
};

bool relevant(const EventContext& context,
              const EventTerms& terms,
              std::string_view process,
              std::optional<std::int32_t> processIdentifier,
              std::string_view message,
              std::string_view folded)
{
    return terms.mentionedIn(message, folded)
           || (context.pid && processIdentifier && *context.pid == *processIdentifier)
           || (!terms.appName.empty() && caseFolded(process) == terms.appName);
}

bool startsWithDate(std::string_view line)
{
    static constexpr std::string_view kShape = "dddd-dd-dd";
    if (line.size() < kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == 'd' ? !isAsciiDigit(line[i]) : line[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

// Reading with the Linux vocabulary.

using Phrase = LogVocabulary::Phrase;
using Role = LogVocabulary::Role;

constexpr std::size_t kMaxPidDigits = 10;
constexpr std::size_t kCommLength = 15;
constexpr std::size_t kMaxHelperName = 64;

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isWordChar(char c)
{
    return isAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The part of the message at the place found in its folded form. Folding keeps ASCII text in
// place; for other text the folded part stands in.
std::string_view
original(std::string_view message, std::string_view folded, std::size_t pos, std::size_t count)
{
    return message.size() == folded.size() ? message.substr(pos, count) : folded.substr(pos, count);
}

template <class Visit> void forEachOccurrence(std::string_view text, std::string_view needle, Visit visit)
{
    for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + 1)) {
        visit(pos);
    }
}

// The whole decimal number that starts at `pos`; `end` is where its digits end.
std::optional<std::int64_t> numberAt(std::string_view text, std::size_t pos, std::size_t& end)
{
    end = pos;
    while (end < text.size() && isAsciiDigit(text[end])) {
        ++end;
    }
    if (end == pos || end - pos > kMaxPidDigits) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    std::from_chars(text.data() + pos, text.data() + end, value);
    return value;
}

// The pids a folded message names the way the kernel and its services name a process:
// "notes-bin[4711]", "Killed process 4711 (notes-bin)", "sending SIGTERM to process 4711 uid",
// "task=notes-bin,pid=4711,uid=1000". Only whole numbers count.
std::vector<std::int64_t> namedPids(std::string_view folded)
{
    std::vector<std::int64_t> pids;
    std::size_t end = 0;
    forEachOccurrence(folded, "[", [&](std::size_t pos) {
        if (pos == 0 || isSpace(folded[pos - 1])) {
            return;
        }
        if (const auto pid = numberAt(folded, pos + 1, end);
            pid && end < folded.size() && folded[end] == ']') {
            pids.push_back(*pid);
        }
    });
    for (const std::string_view prefix : {std::string_view("process "), std::string_view("pid=")}) {
        forEachOccurrence(folded, prefix, [&](std::size_t pos) {
            if (pos > 0 && isWordChar(folded[pos - 1])) {
                return;
            }
            if (const auto pid = numberAt(folded, pos + prefix.size(), end);
                pid && (end == folded.size() || !isWordChar(folded[end]))) {
                pids.push_back(*pid);
            }
        });
    }
    return pids;
}

// systemd-oomd's victim: "Killed /user.slice/…/app-….scope due to …", "Marked /… for killing …".
std::string_view victimCgroup(std::string_view folded)
{
    for (const std::string_view prefix : {std::string_view("killed /"), std::string_view("marked /")}) {
        const std::size_t pos = folded.find(prefix);
        if (pos == std::string_view::npos) {
            continue;
        }
        const std::size_t start = pos + prefix.size() - 1;
        std::size_t end = start;
        while (end < folded.size() && !isSpace(folded[end])) {
            ++end;
        }
        return folded.substr(start, end - start);
    }
    return {};
}

bool isUnitName(std::string_view name)
{
    return (name.ends_with(".scope") && name.size() > 6) || (name.ends_with(".service") && name.size() > 8);
}

// The systemd units a folded message names, bare or as the last part of a cgroup path:
// "app-gnome-org.example.Notes-4711.scope: A process of this unit …".
std::vector<std::string_view> unitsNamed(std::string_view folded)
{
    std::vector<std::string_view> units;
    std::size_t pos = 0;
    while (pos < folded.size()) {
        while (pos < folded.size() && isSpace(folded[pos])) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < folded.size() && !isSpace(folded[pos])) {
            ++pos;
        }
        std::string_view token = folded.substr(start, pos - start);
        while (!token.empty() && std::string_view("(\"'").find(token.front()) != std::string_view::npos) {
            token.remove_prefix(1);
        }
        while (!token.empty() && std::string_view(":,.;)\"'").find(token.back()) != std::string_view::npos) {
            token.remove_suffix(1);
        }
        if (const std::size_t slash = token.rfind('/'); slash != std::string_view::npos) {
            token.remove_prefix(slash + 1);
        }
        if (isUnitName(token)) {
            units.push_back(token);
        }
    }
    return units;
}

// The word as a whole word, bounded as the kernel and the memory killers write a process name:
// "(notes-bin)", "task=notes-bin,", "notes-bin invoked oom-killer", "to notes-bin: 1".
bool namesWord(std::string_view folded, std::string_view word)
{
    static constexpr std::string_view kBefore = " \t([=\"',/";
    static constexpr std::string_view kAfter = " \t)]:,\"'[";
    bool found = false;
    forEachOccurrence(folded, word, [&](std::size_t pos) {
        const std::size_t end = pos + word.size();
        found = found
                || ((pos == 0 || kBefore.find(folded[pos - 1]) != std::string_view::npos)
                    && (end == folded.size() || kAfter.find(folded[end]) != std::string_view::npos));
    });
    return !word.empty() && found;
}

std::string_view fileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The event's names as the Linux log writes them, folded once per entry read.
struct LinuxTerms
{
    explicit LinuxTerms(const EventContext& context)
        : appName(caseFolded(context.appName))
        , bundleIdentifier(context.bundleIdentifier ? caseFolded(*context.bundleIdentifier) : std::string())
        , pid(context.pid)
    {
        if (!bundleIdentifier.empty()) {
            desktopFileId = bundleIdentifier + ".desktop";
            // Unit names escape "-" inside the application id.
            for (const char c : bundleIdentifier) {
                escapedBundleIdentifier += c == '-' ? std::string("\\x2d") : std::string(1, c);
            }
        }
        if (context.process) {
            comm = caseFolded(kernelName(*context.process));
            executableName = caseFolded(fileName(context.process->executable));
            unit = caseFolded(applicationUnit(*context.process));
            cgroup = caseFolded(context.process->cgroup);
        }
    }

    // The names the application's own output goes by: its name, its desktop file id (GNOME
    // Shell's SYSLOG_IDENTIFIER, with or without ".desktop"), its comm.
    [[nodiscard]] bool isOwnName(std::string_view foldedProcess) const
    {
        return !foldedProcess.empty()
               && (foldedProcess == appName || foldedProcess == bundleIdentifier
                   || foldedProcess == desktopFileId || foldedProcess == comm);
    }

    [[nodiscard]] bool namesApplication(std::string_view folded) const
    {
        return foldedContains(folded, appName) || foldedContains(folded, bundleIdentifier)
               || foldedContains(folded, escapedBundleIdentifier);
    }

    [[nodiscard]] bool carriesBundleIdentifier(std::string_view foldedUnit) const
    {
        return foldedContains(foldedUnit, bundleIdentifier)
               || foldedContains(foldedUnit, escapedBundleIdentifier);
    }

    // Whether a program named in the application's output is the application itself; unknown
    // facts count as yes.
    [[nodiscard]] bool isOwnProgram(std::string_view foldedProgram) const
    {
        if (comm.empty() && executableName.empty()) {
            return true;
        }
        return (!comm.empty() && foldedProgram.substr(0, kCommLength) == comm)
               || (!executableName.empty() && foldedProgram == executableName);
    }

    [[nodiscard]] bool ownsCgroup(std::string_view foldedVictim) const
    {
        return cgroup == foldedVictim
               || (cgroup.starts_with(foldedVictim) && cgroup.size() > foldedVictim.size()
                   && cgroup[foldedVictim.size()] == '/');
    }

    std::string appName;
    std::string bundleIdentifier;
    std::string desktopFileId;
    std::string escapedBundleIdentifier;
    std::optional<std::int32_t> pid;
    std::string comm;
    std::string executableName;
    std::string unit;
    std::string cgroup;
};

Bearing bearingOf(const LinuxTerms& terms,
                  std::string_view process,
                  std::optional<std::int32_t> processIdentifier,
                  std::string_view folded)
{
    const bool namedLikeApplication = terms.isOwnName(caseFolded(process));
    if (terms.pid && processIdentifier) {
        if (*terms.pid == *processIdentifier) {
            return Bearing::ownOutput;
        }
        if (namedLikeApplication) {
            return Bearing::none; // another instance of the application
        }
    } else if (namedLikeApplication) {
        return Bearing::ownOutput;
    }

    // A process named by its pid is that process and no other, even if our name is in the text.
    if (const std::vector<std::int64_t> pids = namedPids(folded); !pids.empty()) {
        return terms.pid && std::find(pids.begin(), pids.end(), *terms.pid) != pids.end()
                   ? Bearing::application
                   : Bearing::none;
    }
    if (!terms.cgroup.empty()) {
        if (const std::string_view victim = victimCgroup(folded); !victim.empty()) {
            return terms.ownsCgroup(victim) ? Bearing::application : Bearing::none;
        }
    }
    // A message about units is about those units: "notes-sync.service" is not ours for carrying
    // our name. Without the application's own unit, one carrying its bundle identifier stands in.
    if (const std::vector<std::string_view> units = unitsNamed(folded); !units.empty()) {
        if (!terms.unit.empty() && std::find(units.begin(), units.end(), terms.unit) != units.end()) {
            return Bearing::application;
        }
        const bool ofApplication = std::any_of(units.begin(), units.end(), [&terms](std::string_view unit) {
            return terms.carriesBundleIdentifier(unit);
        });
        if (!ofApplication) {
            return Bearing::none;
        }
        return terms.unit.empty() ? Bearing::application : Bearing::helper;
    }
    // "notes-bin invoked oom-killer" names whichever process asked for memory, by its program
    // alone: any instance of it. Only a pid would make it ours.
    if (terms.pid && LogVocabulary::linuxDesktop().contains(LogVocabulary::Phrase::memoryPressure, folded)) {
        return Bearing::none;
    }
    if (!terms.comm.empty() && namesWord(folded, terms.comm)) {
        return Bearing::application;
    }
    return terms.namesApplication(folded) ? Bearing::application : Bearing::none;
}

struct LoaderLine
{
    DyldFailureKind kind;
    Phrase phrase;
    std::string_view term;
};

// The loader's own lines first, so that "…: error while loading shared libraries: libx.so:
// wrong ELF class: ELFCLASS32" is an architecture mismatch.
std::optional<LoaderLine> linuxLoaderLine(const LogVocabulary& vocabulary, std::string_view folded)
{
    static constexpr std::array<std::pair<Phrase, DyldFailureKind>, 4> kOrder{{
        {Phrase::wrongArchitecture, DyldFailureKind::wrongArchitecture},
        {Phrase::execFailure, DyldFailureKind::wrongArchitecture},
        {Phrase::missingLibrary, DyldFailureKind::missingLibrary},
        {Phrase::otherLoaderFailure, DyldFailureKind::other},
    }};
    for (const auto& [phrase, kind] : kOrder) {
        if (const std::string_view term = vocabulary.find(phrase, folded); !term.empty()) {
            return LoaderLine{kind, phrase, term};
        }
    }
    return std::nullopt;
}

// The program an abort or loader line names before its text ("notes-bin: notes.c:12: main:
// Assertion …", "/usr/bin/notes-bin: error while loading shared libraries: …"), as its file
// name; nothing when the text before the first ": " is not a program ("free(): invalid pointer").
std::optional<std::string>
namedProgram(std::string_view message, std::string_view folded, std::string_view term)
{
    const std::size_t colon = folded.find(": ");
    const std::size_t at = folded.find(term);
    if (colon == std::string_view::npos || colon == 0 || at == std::string_view::npos || colon >= at) {
        return std::nullopt;
    }
    const std::string_view prefix = folded.substr(0, colon);
    if (prefix.find_first_of(" \t:()*") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t start = colon - fileName(prefix).size();
    if (start >= colon) {
        return std::nullopt;
    }
    return std::string(original(message, folded, start, colon - start));
}

// Who failed, as the application tells of its helper: "Child process 812 (notes-helper) exited
// abnormally" → "notes-helper"; "[…:ERROR:gpu_process_host.cc(991)] GPU process exited
// unexpectedly" → "GPU process"; "helper process crashed" → "helper process".
std::optional<std::string>
helperName(std::string_view message, std::string_view folded, std::string_view term)
{
    std::optional<std::string> name;
    std::size_t end = 0;
    forEachOccurrence(folded, "process ", [&](std::size_t pos) {
        if (name || !numberAt(folded, pos + 8, end) || folded.substr(end, 2) != " (") {
            return;
        }
        const std::size_t close = folded.find(')', end + 2);
        if (close != std::string_view::npos && close > end + 2 && close - end - 2 <= kMaxHelperName) {
            name = std::string(original(message, folded, end + 2, close - end - 2));
        }
    });
    if (name) {
        return name;
    }
    const std::size_t at = folded.find(term);
    std::size_t start = 0;
    for (const std::string_view separator : {std::string_view("] "), std::string_view(": ")}) {
        if (const std::size_t pos = folded.rfind(separator, at); pos != std::string_view::npos && pos < at) {
            start = std::max(start, pos + separator.size());
        }
    }
    std::string subject = text::trimmed(original(message, folded, start, at - start));
    if (term.starts_with("process")) {
        if (subject.empty()) {
            return std::nullopt;
        }
        subject += " process";
    }
    if (subject.empty() || text::characterCount(subject) > kMaxHelperName) {
        return std::nullopt;
    }
    return subject;
}

// The unit of the application that is not the application itself, as named in the message.
std::optional<std::string>
helperUnit(const LinuxTerms& terms, std::string_view message, std::string_view folded)
{
    for (const std::string_view unit : unitsNamed(folded)) {
        if (terms.carriesBundleIdentifier(unit)) {
            return std::string(original(message, folded,
                                        static_cast<std::size_t>(unit.data() - folded.data()), unit.size()));
        }
    }
    return std::nullopt;
}

EntryFindings examineLinux(const EventContext& context,
                           const LogVocabulary& vocabulary,
                           std::string_view process,
                           std::optional<std::int32_t> processIdentifier,
                           Date date,
                           std::string_view message)
{
    EntryFindings findings;
    const std::string folded = caseFolded(message);
    const LinuxTerms terms(context);
    findings.bearing = bearingOf(terms, process, processIdentifier, folded);
    findings.role = vocabulary.roleOf(process);
    findings.relevant = findings.bearing == Bearing::ownOutput || findings.bearing == Bearing::application;
    if (findings.bearing == Bearing::none) {
        return findings;
    }

    std::vector<Signal>& signals = findings.signals;
    const std::string shortMessage = text::shortened(message, kMessageLength);
    const auto rawValue = [&] {
        return std::string(process) + ": " + text::shortened(message, kRawValueMessageLength);
    };
    const auto helper = [&](std::optional<std::string> name) {
        signals.emplace_back(LaunchdSignal{date, std::move(name), shortMessage, exitCount(message, folded)});
    };

    if (findings.bearing == Bearing::ownOutput) {
        // The application's own output is mostly chatter ("killed the worker", "quit", "crash
        // reporter disabled"), so none of the general terms are read in it: only what the runtime
        // and the loader write as the process dies, and its reports of a helper's failure.
        if (const std::string_view term = vocabulary.find(Phrase::runtimeAbort, folded); !term.empty()) {
            if (auto program = namedProgram(message, folded, term);
                program && !terms.isOwnProgram(caseFolded(*program))) {
                helper(std::move(program));
            } else {
                // "(abort)" lets the diagnosis tell this crash from other crashes.
                signals.emplace_back(TerminationSignal{date, TerminationReason::crashed,
                                                       rawValue() + " (abort)", std::nullopt});
            }
        } else if (const auto loader = linuxLoaderLine(vocabulary, folded)) {
            // A running application cannot fail its own exec: that is about a program it started.
            auto program = namedProgram(message, folded, loader->term);
            if (loader->phrase == Phrase::execFailure
                || (program && !terms.isOwnProgram(caseFolded(*program)))) {
                helper(std::move(program));
            } else {
                signals.emplace_back(DyldSignal{date, loader->kind, shortMessage});
            }
        } else if (const std::string_view failure = vocabulary.find(Phrase::helperFailure, folded);
                   !failure.empty()) {
            helper(helperName(message, folded, failure));
        }
        return findings;
    }

    if (findings.bearing == Bearing::helper) {
        if (findings.role == Role::serviceManager
            && (vocabulary.contains(Phrase::helperFailure, folded) || serviceFailure(folded))) {
            helper(helperUnit(terms, message, folded));
        }
        return findings;
    }

    if (findings.role == Role::none) {
        // Another program naming the application, a launcher for one: only its loader failures
        // count; whatever else it says about the application is its own business.
        if (const auto loader = linuxLoaderLine(vocabulary, folded)) {
            signals.emplace_back(DyldSignal{date, loader->kind, shortMessage});
        }
        return findings;
    }
    if (findings.role == Role::crashReporter) {
        // Its records are crash reports of their own; reading its lines too would count one
        // crash twice.
        return findings;
    }

    const bool memoryKill = vocabulary.contains(Phrase::memoryKill, folded);
    const bool memory = memoryTerm(folded);
    const bool termination = terminationTerm(folded);
    findings.memoryTerm = memoryKill || memory || vocabulary.contains(Phrase::memoryPressure, folded);
    findings.terminationTerm = memoryKill || termination;
    const bool directMemory = memoryKill || (memory && termination);

    // Memory kills first: earlyoom's "sending SIGTERM" is a kill, not a quit. No watchdog
    // reading: no Linux service reports a hang in the log.
    if (directMemory) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::killed, rawValue(), std::nullopt});
    } else if ((findings.role == Role::kernel && vocabulary.contains(Phrase::kernelFault, folded))
               || (findings.role == Role::serviceManager && vocabulary.contains(Phrase::unitCrash, folded))) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::crashed, rawValue(), std::nullopt});
    } else if (quitTerm(folded)) {
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::quit, rawValue(),
                              attributionFrom(findings.role == Role::serviceManager, folded)});
    } else if (crashTerm(folded)) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::crashed, rawValue(), std::nullopt});
    }
    if (const auto loader = linuxLoaderLine(vocabulary, folded)) {
        signals.emplace_back(DyldSignal{date, loader->kind, shortMessage});
    }
    if (directMemory) {
        signals.emplace_back(JetsamSignal{date, shortMessage, MemoryPressureEvidence::directTermination});
    }
    return findings;
}

} // namespace

bool containsMemoryTerm(std::string_view message)
{
    return memoryTerm(caseFolded(message));
}

bool containsTerminationTerm(std::string_view message)
{
    return terminationTerm(caseFolded(message));
}

bool containsQuitTerm(std::string_view message)
{
    return quitTerm(caseFolded(message));
}

bool containsWatchdogTerm(std::string_view message)
{
    return watchdogTerm(caseFolded(message));
}

bool containsCrashTerm(std::string_view message)
{
    return crashTerm(caseFolded(message));
}

bool isServiceFailure(std::string_view message)
{
    return serviceFailure(caseFolded(message));
}

bool isPolicyBlock(std::string_view message)
{
    return policyBlock(caseFolded(message));
}

std::optional<PolicyBlockKind> policyKind(std::string_view message)
{
    return policyKindOf(caseFolded(message));
}

std::optional<DyldFailureKind> loaderKind(std::string_view message)
{
    return loaderKindOf(caseFolded(message));
}

QuitAttribution attributeQuit(std::string_view process, std::string_view message)
{
    return attributionOf(process, caseFolded(message));
}

std::optional<std::string> serviceLabel(std::string_view message)
{
    return labelOf(message);
}

std::optional<std::int64_t> parseExitCount(std::string_view message)
{
    return exitCount(message, caseFolded(message));
}

bool mentionsEvent(const EventContext& context, std::string_view message)
{
    return EventTerms(context).mentionedIn(message, caseFolded(message));
}

std::optional<DyldFailureKind> loaderKind(std::string_view message, const LogVocabulary& vocabulary)
{
    if (vocabulary.dialect() == LogDialect::macos) {
        return loaderKind(message);
    }
    if (const auto loader = linuxLoaderLine(vocabulary, caseFolded(message))) {
        return loader->kind;
    }
    return std::nullopt;
}

std::string kernelName(const ProcessFacts& process)
{
    if (!process.command.empty()) {
        return process.command;
    }
    return std::string(fileName(process.executable).substr(0, kCommLength));
}

std::string applicationUnit(const ProcessFacts& process)
{
    const std::string_view unit = fileName(process.cgroup);
    if (isUnitName(unit) && (unit.starts_with("app-") || unit.starts_with("snap."))) {
        return std::string(unit);
    }
    return {};
}

Bearing bearing(const EventContext& context,
                std::string_view process,
                std::optional<std::int32_t> processIdentifier,
                std::string_view message)
{
    return bearingOf(LinuxTerms(context), process, processIdentifier, caseFolded(message));
}

bool isRelevant(const EventContext& context,
                std::string_view process,
                std::optional<std::int32_t> processIdentifier,
                std::string_view message,
                const LogVocabulary& vocabulary)
{
    if (vocabulary.dialect() == LogDialect::linuxDesktop) {
        const Bearing found = bearing(context, process, processIdentifier, message);
        return found == Bearing::ownOutput || found == Bearing::application;
    }
    return relevant(context, EventTerms(context), process, processIdentifier, message, caseFolded(message));
}

EntryFindings examineEntry(const EventContext& context,
                           std::string_view process,
                           std::optional<std::int32_t> processIdentifier,
                           Date date,
                           std::string_view message,
                           const LogVocabulary& vocabulary)
{
    if (vocabulary.dialect() == LogDialect::linuxDesktop) {
        return examineLinux(context, vocabulary, process, processIdentifier, date, message);
    }
    EntryFindings findings;
    const std::string folded = caseFolded(message);
    if (!relevant(context, EventTerms(context), process, processIdentifier, message, folded)) {
        return findings;
    }
    findings.relevant = true;
    const bool memory = findings.memoryTerm = memoryTerm(folded);
    const bool termination = findings.terminationTerm = terminationTerm(folded);
    const bool watchdog = watchdogTerm(folded);
    const std::string shortMessage = text::shortened(message, kMessageLength);

    std::vector<Signal>& signals = findings.signals;
    const auto rawValue = [&] {
        return std::string(process) + ": " + text::shortened(message, kRawValueMessageLength);
    };
    if (quitTerm(folded)) {
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::quit, rawValue(), attributionOf(process, folded)});
    } else if (watchdog || (memory && termination)) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::killed, rawValue(), std::nullopt});
    } else if (crashTerm(folded)) {
        signals.emplace_back(TerminationSignal{date, TerminationReason::crashed, rawValue(), std::nullopt});
    }
    if ((process == "syspolicyd" || process == "amfid") && policyBlock(folded)) {
        signals.emplace_back(PolicySignal{date, *policyKindOf(folded), shortMessage});
    }
    if (const auto kind = loaderKindOf(folded)) {
        signals.emplace_back(DyldSignal{date, *kind, shortMessage});
    }
    if (watchdog) {
        signals.emplace_back(WatchdogSignal{date, shortMessage});
    }
    if (memory && termination) {
        signals.emplace_back(JetsamSignal{date, shortMessage, MemoryPressureEvidence::directTermination});
    }
    if (process == "launchd" && serviceFailure(folded)) {
        signals.emplace_back(LaunchdSignal{date, labelOf(message), shortMessage, exitCount(message, folded)});
    }
    return findings;
}

std::vector<Signal> classifyEntry(const EventContext& context,
                                  std::string_view process,
                                  std::optional<std::int32_t> processIdentifier,
                                  Date date,
                                  std::string_view message,
                                  const LogVocabulary& vocabulary)
{
    return examineEntry(context, process, processIdentifier, date, message, vocabulary).signals;
}

std::optional<LogLine> parseLogLine(std::string_view line)
{
    if (!startsWithDate(line)) {
        return std::nullopt;
    }
    // Date, time and host, each followed by one or more spaces.
    std::size_t pos = 0;
    for (int field = 0; field < 3; ++field) {
        pos = line.find(' ', pos);
        if (pos == std::string_view::npos) {
            return std::nullopt;
        }
        while (pos < line.size() && line[pos] == ' ') {
            ++pos;
        }
    }
    const std::string_view rest = line.substr(pos);
    const std::size_t colon = rest.find(": ");
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    LogLine parsed{rest.substr(0, colon), std::nullopt, rest.substr(colon + 2)};
    const std::string_view head = parsed.process;
    if (const std::size_t open = head.rfind('['); head.back() == ']' && open != std::string_view::npos) {
        std::int32_t pid = 0;
        const char* first = head.data() + open + 1;
        const char* last = head.data() + head.size() - 1;
        if (const auto [ptr, ec] = std::from_chars(first, last, pid);
            ec == std::errc() && ptr == last && first != last) {
            parsed.process = head.substr(0, open);
            parsed.processIdentifier = pid;
        }
    }
    return parsed;
}

std::string entryLines(std::string_view output)
{
    std::string result;
    while (!output.empty()) {
        const std::size_t newline = output.find('\n');
        std::string_view line = output.substr(0, newline);
        output = newline == std::string_view::npos ? std::string_view() : output.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (startsWithDate(line)) {
            if (!result.empty()) {
                result.push_back('\n');
            }
            result.append(line);
        }
    }
    return result;
}

namespace {

std::vector<Signal> classifyLinuxOutput(const EventContext& context,
                                        std::string_view output,
                                        bool includeRawEntries,
                                        const LogVocabulary& vocabulary)
{
    const std::string lines = entryLines(output);
    std::vector<Signal> signals;
    std::string relevantLines;
    std::string_view rest = lines;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        const auto parsed = parseLogLine(line);
        if (!parsed) {
            continue;
        }
        EntryFindings findings = examineEntry(context, parsed->process, parsed->processIdentifier,
                                              context.terminatedAt, parsed->message, vocabulary);
        if (findings.relevant) {
            relevantLines += relevantLines.empty() ? "" : "\n";
            relevantLines += line;
        }
        std::move(findings.signals.begin(), findings.signals.end(), std::back_inserter(signals));
    }
    if (includeRawEntries && !relevantLines.empty()) {
        signals.emplace_back(
            UnifiedLogSignal{context.terminatedAt, "log", text::shortened(relevantLines, kOutputLength)});
    }
    return signals;
}

} // namespace

std::vector<Signal> classifyOutput(const EventContext& context,
                                   std::string_view output,
                                   bool includeRawEntries,
                                   const LogVocabulary& vocabulary)
{
    if (vocabulary.dialect() == LogDialect::linuxDesktop) {
        return classifyLinuxOutput(context, output, includeRawEntries, vocabulary);
    }
    const std::string lines = entryLines(output);
    if (lines.empty()) {
        return {};
    }
    const std::string folded = caseFolded(lines);
    const Date date = context.terminatedAt;

    std::vector<Signal> signals;
    if (memoryTerm(folded) && terminationTerm(folded)) {
        signals.emplace_back(JetsamSignal{date, "jetsam/memory pressure signal from unified log",
                                          MemoryPressureEvidence::directTermination});
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::killed, "log show: jetsam", std::nullopt});
    }
    if (watchdogTerm(folded)) {
        signals.emplace_back(WatchdogSignal{date, "watchdog/unresponsive signal from unified log"});
        signals.emplace_back(
            TerminationSignal{date, TerminationReason::killed, "log show: watchdog", std::nullopt});
    }
    if (policyBlock(folded)) {
        signals.emplace_back(
            PolicySignal{date, *policyKindOf(folded), "security policy signal from unified log"});
    }
    if (const auto kind = loaderKindOf(folded)) {
        signals.emplace_back(DyldSignal{date, *kind, "dynamic loader signal from unified log"});
    }
    if (serviceFailure(folded)) {
        signals.emplace_back(LaunchdSignal{
            date, std::nullopt, "helper/service failure signal from unified log", exitCount(lines, folded)});
    }
    if (quitTerm(folded)) {
        signals.emplace_back(TerminationSignal{
            date, TerminationReason::quit, "log show: SIGTERM/quit request", attributionOf("log", folded)});
    }
    if (includeRawEntries) {
        signals.emplace_back(UnifiedLogSignal{date, "log", text::shortened(lines, kOutputLength)});
    }
    return signals;
}

} // namespace exitwise::core::logclass
