// SPDX-License-Identifier: MIT
#include "cli/EvidenceSources.h"

namespace exitwise::cli {

core::DiagnosisEngine::Providers evidenceProviders(const EvidenceOptions&)
{
    // No evidence provider is built into this version yet.
    return {};
}

} // namespace exitwise::cli
