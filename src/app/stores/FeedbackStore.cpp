// SPDX-License-Identifier: MIT
#include "app/stores/FeedbackStore.h"

#include "app/RecordFiles.h"

#include <utility>

namespace exitwise::app {

FeedbackStore::FeedbackStore(std::filesystem::path fileURL)
    : m_fileURL(std::move(fileURL))
{}

void FeedbackStore::append(const FeedbackRecord& record)
{
    static_cast<void>(records::plainAppend(m_fileURL, records::jsonLine(encode(record))));
}

} // namespace exitwise::app
