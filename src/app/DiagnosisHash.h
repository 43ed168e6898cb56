// SPDX-License-Identifier: MIT
#pragma once

#include "core/Diagnosis.h"

#include <string>

namespace exitwise::app {

// 64 lower-case hex digits: SHA-256 of "endState|dominantCause|confidence" (raw values).
// Evidence and wording do not take part, so only a changed verdict changes the hash.
[[nodiscard]] std::string diagnosisHash(const core::Diagnosis& diagnosis);

} // namespace exitwise::app
