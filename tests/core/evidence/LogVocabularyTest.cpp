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
    // clang-format off
    const std::vector<std::pair<Phrase, std::vector<std::string>>> rows = {
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
    for (const auto& [phrase, terms] : rows) {
        EXPECT_EQ(asStrings(desktop.phrases(phrase)), terms) << static_cast<int>(phrase);
        EXPECT_TRUE(LogVocabulary::macos().phrases(phrase).empty()) << static_cast<int>(phrase);
    }
}

TEST(LogVocabulary, ServicesInTheirRoles)
{
    using Names = std::vector<std::string>;
    // clang-format off
    const std::vector<std::tuple<Role, Names, Names>> rows = { // role, macOS names, Linux names
        {Role::kernel, {"kernel"}, {"kernel"}},
        {Role::crashReporter, {"ReportCrash", "reportcrash"}, {"systemd-coredump"}},
        {Role::memoryKiller, {"runningboardd"}, {"systemd-oomd", "earlyoom", "nohang"}},
        {Role::serviceManager, {"launchd"}, {"systemd"}},
        {Role::sessionManager, {"loginwindow"}, {"gnome-session-binary", "gnome-session", "ksmserver", "plasma_session"}},
    };
    // clang-format on
    for (const auto& [role, macos, onLinux] : rows) {
        EXPECT_EQ(asStrings(LogVocabulary::macos().processes(role)), macos);
        EXPECT_EQ(asStrings(LogVocabulary::linuxDesktop().processes(role)), onLinux);
        for (const std::string& name : onLinux) {
            EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf(name), role) << name;
        }
    }
    EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf("Systemd"), Role::none) << "names match exactly";
    EXPECT_EQ(LogVocabulary::linuxDesktop().roleOf("gnome-shell"), Role::none);
}

} // namespace
} // namespace exitwise::core
