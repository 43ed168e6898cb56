// SPDX-License-Identifier: MIT
#pragma once

// What the record and store tests share: a fresh data directory per test and small readers.

#include "app/AppEvent.h"
#include "support/Files.h"
#include "support/SampleEvents.h"

#include <sys/stat.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace exitwise::test {

// The permission bits (with set-id and sticky) of what `path` leads to; 0 when it is missing.
inline unsigned modeOf(const std::filesystem::path& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// `count` full events named prefix0, prefix1, …, newest first, one minute apart.
inline std::vector<app::AppEvent> eventList(int count, const std::string& prefix = "App")
{
    std::vector<app::AppEvent> events;
    for (int i = 0; i < count; ++i) {
        events.push_back(fullEvent(prefix + std::to_string(i), sampleTime(-60.0 * i)));
    }
    return events;
}

inline std::vector<std::string> namesOf(const std::vector<app::AppEvent>& events)
{
    std::vector<std::string> names;
    for (const app::AppEvent& event : events) {
        names.push_back(event.appName);
    }
    return names;
}

class StoreTest : public ::testing::Test
{
protected:
    [[nodiscard]] std::filesystem::path directory() const { return m_temp.path(); }

    TempDir m_temp{"exitwise-store"};
};

} // namespace exitwise::test
