// SPDX-License-Identifier: MIT
#pragma once

#include "app/stores/ProductAnalyticsEvent.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace exitwise::app {

// "product_events.jsonl": one line per notable user action, keys sorted, never read back by
// the application. Safe to call from any thread; failures are swallowed.
class ProductAnalyticsStore
{
public:
    explicit ProductAnalyticsStore(const std::filesystem::path& dataDirectory);

    // Keys and values are trimmed; pairs whose key is then empty are dropped (an empty value
    // is kept). Of two keys that become equal, the one that sorts last wins.
    void record(ProductAnalyticsEventName name,
                const std::map<std::string, std::string>& attributes,
                core::Date at);

    [[nodiscard]] const std::filesystem::path& fileURL() const { return m_fileURL; }

private:
    std::filesystem::path m_fileURL;
    std::mutex m_lock;
};

} // namespace exitwise::app
