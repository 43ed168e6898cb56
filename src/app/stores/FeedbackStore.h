// SPDX-License-Identifier: MIT
#pragma once

#include "app/stores/FeedbackRecord.h"

#include <filesystem>

namespace exitwise::app {

// "feedback.jsonl": one line per rating, never read back by the application. Not locked;
// used from one thread.
class FeedbackStore
{
public:
    explicit FeedbackStore(std::filesystem::path fileURL);

    // Appends one line (plain append, no fsync); failures are swallowed.
    void append(const FeedbackRecord& record);

    [[nodiscard]] const std::filesystem::path& fileURL() const { return m_fileURL; }

private:
    std::filesystem::path m_fileURL;
};

} // namespace exitwise::app
