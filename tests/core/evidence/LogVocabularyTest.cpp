// SPDX-License-Identifier: MIT
#include "core/evidence/LogVocabulary.h"

#include <gtest/gtest.h>

namespace exitwise::core {
namespace {

using Phrase = LogVocabulary::Phrase;
using Role = LogVocabulary::Role;

std::vector<std::string> asStrings(std::span<const std::string_view> terms)
{
    return {terms.begin(), terms.end()};
}

TEST(LogVocabulary, LinuxPhrasesAreExactlyTheseInThisOrder)
{
    struct Row
    {
        Phrase phrase;
        std::vector<std::string> terms;
    };
    // clang-format off
    const Row rows[] = {
        {Phrase::kernelFault, {"segfault at", "traps:", "general protection fault", "trap divide error", "trap invalid opcode"}},
        {Phrase::runtimeAbort, {"assertion `", "assertion failed: (", "terminate called", "*** stack smashing detected ***", "*** buffer overflow detected ***", "double free or corruption", "double free detected", "free(): ", "malloc(): ", "realloc(): ", "munmap_chunk(): invalid pointer", "corrupted size vs. prev_size", "assert: \"", "assert failure in ", "fatal glibc error:"}},
        {Phrase::memoryKill, {"out of memory: killed process", "oom-kill:", "oom_reaper: reaped process", "due to memory pressure", "due to swap used", "killed by the oom killer", "systemd-oomd killed", "failed with result 'oom-kill'", "sending sigterm to process", "sending sigkill to process", "[ ok ] sending sig"}},
        {Phrase::memoryPressure, {"invoked oom-killer"}},
        {Phrase::wrongArchitecture, {"wrong elf class"}},
        {Phrase::execFailure, {"exec format error", "cannot execute binary file"}},
        {Phrase::missingLibrary, {"error while loading shared libraries", "cannot open shared object file"}},
        {Phrase::otherLoaderFailure, {"' not found (required by", "symbol lookup error", "undefined symbol"}},
        {Phrase::unitCrash, {"code=dumped", "failed with result 'core-dump'"}},
        {Phrase::abortSignal, {"/abrt", "sigabrt"}},
        {Phrase::crashRecord, {"dumped core", "terminated abnormally with signal"}},
        {Phrase::helperFailure, {"process crashed", "exited unexpectedly", "terminated by signal", "killed by signal", "exited abnormally", "code=dumped", "failed with result '"}},
    };
    // clang-format on
    const LogVocabulary& desktop = LogVocabulary::linuxDesktop();
    EXPECT_EQ(desktop.dialect(), LogDialect::linuxDesktop);
    for (const Row& row : rows) {
        EXPECT_EQ(asStrings(desktop.phrases(row.phrase)), row.terms) << static_cast<int>(row.phrase);
        EXPECT_TRUE(LogVocabulary::macos().phrases(row.phrase).empty()) << static_cast<int>(row.phrase);
    }
}

TEST(LogVocabulary, ServicesInTheirRoles)
{
    struct Row
    {
        Role role;
        std::vector<std::string> macos;
        std::vector<std::string> onLinux;
    };
    // clang-format off
    const Row rows[] = {
        {Role::kernel, {"kernel"}, {"kernel"}},
        {Role::crashReporter, {"ReportCrash", "reportcrash"}, {"systemd-coredump"}},
        {Role::memoryKiller, {"runningboardd"}, {"systemd-oomd", "earlyoom", "nohang"}},
        {Role::serviceManager, {"launchd"}, {"systemd"}},
        {Role::sessionManager, {"loginwindow"}, {"gnome-session-binary", "gnome-session", "ksmserver", "plasma_session"}},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(asStrings(LogVocabulary::macos().processes(row.role)), row.macos);
        EXPECT_EQ(asStrings(LogVocabulary::linuxDesktop().processes(row.role)), row.onLinux);
        for (const std::string& name : row.onLinux) {
            EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf(name), row.role) << name;
        }
    }
    EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf("Systemd"), Role::none) << "names match exactly";
    EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf("gnome-shell"), Role::none);
    EXPECT_EQ(&LogVocabulary::of(LogDialect::macos), &LogVocabulary::macos());
    EXPECT_EQ(&LogVocabulary::of(LogDialect::linuxDesktop), &LogVocabulary::linuxDesktop());
}

TEST(LogVocabulary, WithServicesAppendsTheLinuxServicesOnce)
{
    const std::vector<std::string> base{"launchd", "kernel", "loginwindow"};
    EXPECT_EQ(LogVocabulary::macos().withServices(base), base);
    EXPECT_EQ(
        LogVocabulary::linuxDesktop().withServices(base),
        (std::vector<std::string>{"launchd", "kernel", "loginwindow", "systemd-coredump", "systemd-oomd",
                                  "earlyoom", "nohang", "systemd", "gnome-session-binary", "gnome-session",
                                  "ksmserver", "plasma_session"}));
}

TEST(LogVocabulary, PhrasesAreFoundIgnoringCase)
{
    const LogVocabulary& desktop = LogVocabulary::linuxDesktop();
    // The folded message is the caller's; the phrases are folded once.
    EXPECT_TRUE(desktop.contains(Phrase::memoryKill, "earlyoom: sending sigterm to process 4711 uid 1000"));
    EXPECT_EQ(desktop.find(Phrase::runtimeAbort, "qt: assert: \"x\" in file a.cpp, line 3"), "assert: \"");
    EXPECT_EQ(desktop.find(Phrase::kernelFault, "notes-bin[4711]: traps: nothing"), "traps:");
    EXPECT_TRUE(desktop.find(Phrase::kernelFault, "an ordinary line").empty());
    EXPECT_FALSE(LogVocabulary::macos().contains(Phrase::kernelFault, "segfault at 0"));
}

} // namespace
} // namespace exitwise::core
