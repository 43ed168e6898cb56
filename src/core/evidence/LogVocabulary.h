// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace exitwise::core {

// Which system's log text is read.
enum class LogDialect
{
    macos,
    linuxDesktop
};

// The Linux words for how a process ended, one table per kind of evidence. Each term is a
// case-insensitive substring of a message; the samples show where the words come from.
namespace linuxterms {

// The kernel, when a fault kills a process; the victim is "comm[pid]" in the text:
// "notes-bin[4711]: segfault at 0 ip 000055d0c8a1b139 sp 00007ffd2c1e8a40 error 6 in notes-bin[…]",
// "traps: notes-bin[4711] trap invalid opcode ip:55d0c8a1b139 sp:7ffd2c1e8a40 error:0 in notes-bin[…]",
// "traps: notes-bin[4711] trap divide error ip:…", "traps: notes-bin[4711] general protection fault ip:…".
inline constexpr std::array<std::string_view, 5> kKernelFaultLines{
    "segfault at", "traps:", "general protection fault", "trap divide error", "trap invalid opcode"};

// The C and C++ runtimes (and Qt and GLib) in the process's own output, just before they
// call abort(): "notes-bin: notes.c:12: main: Assertion `x' failed.",
// "terminate called after throwing an instance of 'std::runtime_error'",
// "*** stack smashing detected ***: terminated", "free(): invalid pointer",
// "malloc(): corrupted top size", "ASSERT: \"x\" in file main.cpp, line 12".
inline constexpr std::array<std::string_view, 15> kRuntimeAbortLines{"assertion `",
                                                                     "assertion failed: (",
                                                                     "terminate called",
                                                                     "*** stack smashing detected ***",
                                                                     "*** buffer overflow detected ***",
                                                                     "double free or corruption",
                                                                     "double free detected",
                                                                     "free(): ",
                                                                     "malloc(): ",
                                                                     "realloc(): ",
                                                                     "munmap_chunk(): invalid pointer",
                                                                     "corrupted size vs. prev_size",
                                                                     "assert: \"",
                                                                     "assert failure in ",
                                                                     "fatal glibc error:"};

// Memory killers, each naming its victim: the kernel ("Out of memory: Killed process 4711
// (notes-bin) total-vm:…", "Memory cgroup out of memory: Killed process 4711 (notes-bin) …",
// "oom-kill:constraint=CONSTRAINT_MEMCG,…,task=notes-bin,pid=4711,uid=1000",
// "oom_reaper: reaped process 4711 (notes-bin), now anon-rss:0kB…"); systemd-oomd ("Killed
// /…/app-gnome-org.example.Notes-4711.scope due to memory pressure for … being 80.00% > 50.00% for
// > 20s with reclaim activity", newer "Marked … for killing due to …", "… due to swap used …");
// the user manager ("app-….scope: A process of this unit has been killed by the OOM killer.",
// "app-….scope: systemd-oomd killed 3 process(es) in this unit.", "…: Failed with result
// 'oom-kill'."); earlyoom ("sending SIGTERM to process 4711 uid 1000 \"notes-bin\": oom_score 600,
// …"); nohang ("[ OK ] Sending SIGTERM to notes-bin: 1").
inline constexpr std::array<std::string_view, 11> kMemoryKillLines{"out of memory: killed process",
                                                                   "oom-kill:",
                                                                   "oom_reaper: reaped process",
                                                                   "due to memory pressure",
                                                                   "due to swap used",
                                                                   "killed by the oom killer",
                                                                   "systemd-oomd killed",
                                                                   "failed with result 'oom-kill'",
                                                                   "sending sigterm to process",
                                                                   "sending sigkill to process",
                                                                   "[ ok ] sending sig"};

// Memory ran short, but no victim is named: "notes-bin invoked oom-killer: gfp_mask=0xcc0(GFP_KERNEL),
// order=0, oom_score_adj=0" names the process that asked for memory, not the one killed.
inline constexpr std::array<std::string_view, 1> kMemoryPressureLines{"invoked oom-killer"};

// The dynamic loader, in the process's own output; tried in the order architecture, exec
// failure, missing library, other, so that "…: error while loading shared libraries: libx.so:
// wrong ELF class: ELFCLASS32" is an architecture mismatch.
inline constexpr std::array<std::string_view, 1> kWrongArchitectureLines{"wrong elf class"};
// A program that cannot be run here, as whoever called exec tells: the launcher or the service
// manager ("Failed to execute /usr/bin/notes-bin: Exec format error") about the application, the
// application about a helper it started ("bash: ./helper: cannot execute binary file: Exec format
// error").
inline constexpr std::array<std::string_view, 2> kExecFailureLines{"exec format error",
                                                                   "cannot execute binary file"};
inline constexpr std::array<std::string_view, 2> kMissingLibraryLines{"error while loading shared libraries",
                                                                      "cannot open shared object file"};
// "notes-bin: /lib/x86_64-linux-gnu/libc.so.6: version `GLIBC_2.38' not found (required by notes-bin)",
// "notes-bin: symbol lookup error: notes-bin: undefined symbol: foo".
inline constexpr std::array<std::string_view, 3> kOtherLoaderLines{"' not found (required by",
                                                                   "symbol lookup error", "undefined symbol"};

// The service manager, about a unit whose main process dumped core:
// "app-org.example.Notes@2f1c.service: Main process exited, code=dumped, status=11/SEGV",
// "…: Failed with result 'core-dump'.".
inline constexpr std::array<std::string_view, 2> kUnitCrashLines{"code=dumped",
                                                                 "failed with result 'core-dump'"};

// A signal name that makes a crash an abort: "status=6/ABRT", "signal 6/ABRT", "SIGABRT".
inline constexpr std::array<std::string_view, 2> kAbortSignals{"/abrt", "sigabrt"};

// The crash reporter's own lines about a crash it recorded: "Process 4711 (notes-bin) of user
// 1000 dumped core.", newer "Process 4711 (notes-bin) of user 1000 terminated abnormally with
// signal 6/ABRT, processing...".
inline constexpr std::array<std::string_view, 2> kCrashRecordLines{"dumped core",
                                                                   "terminated abnormally with signal"};

// A helper or child of the application failed, as the application itself or the service
// manager tells: "GPU process exited unexpectedly: exit_code=139", "helper process crashed",
// "child process 812 terminated by signal 11", "Child process killed by signal 11" (GLib),
// "notes-sync.service: Failed with result 'exit-code'.".
inline constexpr std::array<std::string_view, 7> kHelperFailureLines{
    "process crashed",   "exited unexpectedly", "terminated by signal", "killed by signal",
    "exited abnormally", "code=dumped",         "failed with result '"};

} // namespace linuxterms

// The words and the process names with which a system's log is read. The macOS vocabulary is
// the fixed term lists of LogClassification.h alone; the Linux desktop vocabulary adds the
// tables of `linuxterms` and reads messages by the shapes in which the kernel and its services
// name processes. Instances are immutable singletons, safe from any thread.
class LogVocabulary
{
public:
    // What a Linux phrase is evidence of; the tables above, in this order.
    enum class Phrase
    {
        kernelFault,
        runtimeAbort,
        memoryKill,
        memoryPressure,
        wrongArchitecture,
        execFailure,
        missingLibrary,
        otherLoaderFailure,
        unitCrash,
        abortSignal,
        crashRecord,
        helperFailure
    };

    // The system processes whose messages speak about other processes.
    enum class Role
    {
        none,
        kernel,
        crashReporter,
        memoryKiller,
        serviceManager,
        sessionManager
    };

    [[nodiscard]] static const LogVocabulary& macos();
    [[nodiscard]] static const LogVocabulary& linuxDesktop();
    [[nodiscard]] static const LogVocabulary& of(LogDialect dialect);

    [[nodiscard]] LogDialect dialect() const { return m_dialect; }

    // The phrases as written; empty for the macOS vocabulary.
    [[nodiscard]] std::span<const std::string_view> phrases(Phrase phrase) const;
    // Whether a case-folded message contains one of the phrases.
    [[nodiscard]] bool contains(Phrase phrase, std::string_view foldedMessage) const;
    // The first phrase of the kind in a case-folded message, folded; empty when none.
    [[nodiscard]] std::string_view find(Phrase phrase, std::string_view foldedMessage) const;

    // The processes in a role, as the log names them.
    [[nodiscard]] std::span<const std::string_view> processes(Role role) const;
    // The role of a logging process; the name must match exactly.
    [[nodiscard]] Role roleOf(std::string_view process) const;

    // `base` followed by each process with a role that `base` does not list yet; `base`
    // unchanged for the macOS vocabulary, whose queries name their processes themselves.
    [[nodiscard]] std::vector<std::string> withServices(std::vector<std::string> base) const;

    LogVocabulary(const LogVocabulary&) = delete;
    LogVocabulary& operator=(const LogVocabulary&) = delete;

private:
    static constexpr std::size_t kPhraseKinds = 12;
    static constexpr std::size_t kRoles = 6;

    LogVocabulary(LogDialect dialect,
                  std::array<std::span<const std::string_view>, kPhraseKinds> phrases,
                  std::array<std::span<const std::string_view>, kRoles> processes);

    LogDialect m_dialect;
    std::array<std::span<const std::string_view>, kPhraseKinds> m_phrases;
    std::array<std::vector<std::string>, kPhraseKinds> m_foldedPhrases;
    std::array<std::span<const std::string_view>, kRoles> m_processes;
};

} // namespace exitwise::core
