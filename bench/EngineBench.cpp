// SPDX-License-Identifier: MIT
#include "core/DiagnosisEngine.h"
#include "core/OrderedMatcher.h"
#include "support/SampleContexts.h"

#include <benchmark/benchmark.h>

namespace exitwise::core {
namespace {

const Date T0 = dateFromReferenceSeconds(786300000.0);

EventContext context()
{
    return test::sketchPadContext(T0, TerminationReason::unknown);
}

// A busy closure: mostly log lines, some helpers and memory notes, one crash report; the
// matcher has to scan everything and fall through to the crash rule.
std::vector<Signal> signals(int count)
{
    std::vector<Signal> result;
    for (int i = 0; i < count; ++i) {
        const Date at = T0 + Seconds((i % 170) - 85);
        switch (i % 10) {
        case 0:
            result.push_back(LaunchdSignal{at, "org.example.helper", "exited", 1});
            break;
        case 1:
            result.push_back(
                JetsamSignal{at, "memorystatus pressure", MemoryPressureEvidence::correlatedPressure});
            break;
        default:
            result.push_back(UnifiedLogSignal{at, "kernel", "some ordinary line " + std::to_string(i)});
        }
    }
    result.push_back(CrashReportSignal{
        T0, "/var/crash/sketchpad.crash", "EXC_BAD_ACCESS (SIGSEGV)", {}, {}, {}, {}, false, false, false});
    return result;
}

void matchSignals(benchmark::State& state)
{
    const EventContext ctx = context();
    const std::vector<Signal> input = signals(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(OrderedMatcher::match(ctx, input));
    }
}
BENCHMARK(matchSignals)->Arg(1)->Arg(10)->Arg(250)->Unit(benchmark::kMicrosecond);

void diagnoseWithoutProviders(benchmark::State& state)
{
    const EventContext ctx = context();
    const std::vector<Signal> input = signals(static_cast<int>(state.range(0)));
    const DiagnosisEngine engine;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.diagnose(ctx, input, false));
    }
}
BENCHMARK(diagnoseWithoutProviders)->Arg(1)->Arg(250)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace exitwise::core
