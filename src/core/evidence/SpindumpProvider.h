// SPDX-License-Identifier: MIT
#pragma once

#include "core/ExplanationWording.h"
#include "core/SignalProvider.h"
#include "core/evidence/ReportPaths.h"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace exitwise::core {

// Looks for a hang report ("*.spindump" or "*.spin", any case) written inside the event's
// window and naming the application, by file name or, failing that, in the first 8 KiB of the
// file. The best one is taken as evidence that the application hung and was killed.
// Immutable; collectSignals may run on several threads at once.
class SpindumpProvider final : public SignalProvider
{
public:
    static constexpr std::size_t kHeadBytes = 8192;

    // A negative `maxCandidatesToInspect` becomes 0, which turns the provider off. The signals'
    // message is in the texts of `wording`.
    explicit SpindumpProvider(std::vector<std::filesystem::path> searchPaths,
                              int maxCandidatesToInspect = kDefaultMaxReportCandidates,
                              Wording wording = Wording::macos);

    [[nodiscard]] std::vector<Signal> collectSignals(const EventContext& context) const override;

    [[nodiscard]] const std::vector<std::filesystem::path>& searchPaths() const { return m_searchPaths; }
    [[nodiscard]] int maxCandidatesToInspect() const { return m_maxCandidatesToInspect; }

private:
    std::vector<std::filesystem::path> m_searchPaths;
    int m_maxCandidatesToInspect;
    Wording m_wording;
};

} // namespace exitwise::core
