// SPDX-License-Identifier: MIT
#include "platform/linux/JournalAccess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace exitwise::platform {
namespace {

namespace fs = std::filesystem;

TEST(JournalAccess, WhatAUserCanReadAndTheOneNoteAboutIt)
{
    const fs::path root = fs::path(::testing::TempDir()) / ("journal-access-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path machineId = root / "machine-id";
    fs::create_directories(root);
    std::ofstream(machineId) << "3d1219c7c4c5404aaa1f6d2a48adfda4\n";
    const fs::path persistent = root / "var/3d1219c7c4c5404aaa1f6d2a48adfda4";
    const fs::path volatileDir = root / "run/3d1219c7c4c5404aaa1f6d2a48adfda4";

    struct Case
    {
        const char* name;
        std::vector<fs::path> files;
        bool system;
        bool user;
        std::optional<std::string> note;
    };
    // clang-format off
    const std::vector<Case> cases{
        {"no journal at all", {}, false, false,
            "no systemd journal found: closures are explained from exit statuses and crash-report files only"},
        {"the system journal (root, or a member of systemd-journal)", {persistent / "system.journal"}, true, false, std::nullopt},
        {"a volatile system journal", {volatileDir / "system.journal"}, true, false, std::nullopt},
        {"only the user's own journal", {persistent / "user-1001.journal", persistent / "user-1001@0005f0-1.journal"}, false, true,
            "kernel messages are not readable (add yourself to the systemd-journal or adm group to read them): "
            "crashes are still explained from exit statuses and systemd-coredump's records"},
        {"only another user's journal", {persistent / "user-1002.journal"}, false, false,
            "the journal is not readable (add yourself to the systemd-journal or adm group, or enable persistent "
            "journal storage): closures are explained from exit statuses and crash-report files only"},
        {"files of other kinds", {persistent / "system.journal~", persistent / "notes.txt"}, false, false,
            "no systemd journal found: closures are explained from exit statuses and crash-report files only"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root / "var");
        fs::remove_all(root / "run");
        for (const fs::path& file : c.files) {
            fs::create_directories(file.parent_path());
            std::ofstream(file) << "x";
        }
        const JournalAccess access = JournalAccess::probe(1001, {root / "var", root / "run"}, machineId);
        EXPECT_EQ(access.systemJournal, c.system);
        EXPECT_EQ(access.userJournal, c.user);
        EXPECT_EQ(access.note(), c.note);
    }
    fs::remove_all(root);
}

} // namespace
} // namespace exitwise::platform
