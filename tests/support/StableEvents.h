// SPDX-License-Identifier: MIT
#pragma once

// The model re-diagnoses the newest stored events at start and replaces a diagnosis whose
// verdict changed. Tests that store a hand-made diagnosis give it the hash of the fresh
// verdict, so the model keeps it exactly as written.

#include "app/AppEvent.h"
#include "app/AppModel.h"
#include "app/DiagnosisHash.h"
#include "core/DiagnosisEngine.h"
#include "core/EventContext.h"

namespace exitwise::test {

inline app::AppEvent keptThroughRefresh(app::AppEvent event)
{
    const core::EventContext context = core::contextAround(event, app::AppModel::kCorrelationSeconds);
    event.diagnosisHash =
        app::diagnosisHash(core::DiagnosisEngine().diagnose(context, event.diagnosis.signalsUsed, false));
    return event;
}

} // namespace exitwise::test
