// SPDX-License-Identifier: MIT
#include "app/stores/ProductAnalyticsStore.h"

#include "app/RecordFiles.h"
#include "core/Text.h"

namespace exitwise::app {

ProductAnalyticsStore::ProductAnalyticsStore(const std::filesystem::path& dataDirectory)
    : m_fileURL(dataDirectory / "product_events.jsonl")
{}

void ProductAnalyticsStore::record(ProductAnalyticsEventName name,
                                   const std::map<std::string, std::string>& attributes,
                                   core::Date at)
{
    ProductAnalyticsEvent event{Uuid::random(), name, {}, at};
    for (const auto& [key, value] : attributes) {
        if (std::string cleanKey = core::text::trimmed(key); !cleanKey.empty()) {
            event.attributes.insert_or_assign(std::move(cleanKey), core::text::trimmed(value));
        }
    }
    const std::string line = records::jsonLine(encode(event));
    const std::lock_guard lock(m_lock);
    static_cast<void>(records::durableAppend(m_fileURL, line));
}

} // namespace exitwise::app
