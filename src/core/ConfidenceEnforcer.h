// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"
#include "core/EventContext.h"
#include "core/Signal.h"

#include <vector>

// Caps a rule's raw confidence by the evidence it used: `high` needs direct evidence from the
// system, `medium` needs two kinds of evidence. It only ever lowers a confidence.
namespace exitwise::core::ConfidenceEnforcer {

// One kind per signal alternative; used only to count distinct kinds.
using EvidenceKind = SignalType;

[[nodiscard]] bool hasDirectEvidence(const EventContext& context, const std::vector<Signal>& signals);

// Terminations with an unknown reason do not count as a kind.
[[nodiscard]] int evidenceKindCount(const std::vector<Signal>& signals);

[[nodiscard]] Confidence
enforce(Confidence raw, const EventContext& context, const std::vector<Signal>& signalsUsed);

} // namespace exitwise::core::ConfidenceEnforcer
