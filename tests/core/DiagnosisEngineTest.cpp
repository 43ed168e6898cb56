// SPDX-License-Identifier: MIT
#include "core/DiagnosisEngine.h"

#include "core/ExplanationTemplates.h"
#include "support/CorePrinters.h"
#include "support/SampleContexts.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace exitwise::core {
namespace {

using namespace std::chrono_literals;

const Date T0 = dateFromReferenceSeconds(786300000.0);

// Returns its signals after a delay, or throws when asked to.
struct FakeProvider : SignalProvider
{
    FakeProvider(std::vector<Signal> signals, std::chrono::milliseconds delay, bool fail = false)
        : signals(std::move(signals))
        , delay(delay)
        , fail(fail)
    {}

    std::vector<Signal> collectSignals(const EventContext&) const override
    {
        std::this_thread::sleep_for(delay);
        if (fail) {
            throw std::runtime_error("unreadable");
        }
        return signals;
    }

    std::vector<Signal> signals;
    std::chrono::milliseconds delay;
    bool fail;
};

// Helper signals: every one of them enters the verdict's evidence, in pool order.
std::vector<Signal> helpers(const std::string& tag, int count)
{
    std::vector<Signal> signals;
    for (int i = 0; i < count; ++i) {
        signals.push_back(LaunchdSignal{T0 + Seconds(i), tag + std::to_string(i), "exited", std::nullopt});
    }
    return signals;
}

// The verdict capped, with the card of the capped confidence in the engine's wording.
TEST(DiagnosisEngine, DiagnosisIsTheCappedVerdictWithItsCard)
{
    const EventContext ctx = test::sketchPadContext(T0, TerminationReason::unknown);
    const Signal memory = JetsamSignal{T0, "pressure", MemoryPressureEvidence::correlatedPressure};
    const std::vector<Signal> used{memory, DiagnosisEngine::terminationSignal(ctx)};
    const auto card = ExplanationTemplates::render("Sketch Pad", DominantCause::killedJetsamMemory,
                                                   Confidence::low, used, Wording::linuxDesktop);
    EXPECT_EQ(DiagnosisEngine({}, Wording::linuxDesktop).diagnose(ctx, {memory}, true),
              (Diagnosis{EndState::killed, DominantCause::killedJetsamMemory, Confidence::low, used,
                         ctx.window, card}));
}

// A stored diagnosis already holds the context's termination: diagnosing it again changes nothing.
TEST(DiagnosisEngine, OwnTerminationIsNotListedTwice)
{
    const EventContext ctx = test::sketchPadContext(T0, TerminationReason::killed);
    const Signal memory =
        JetsamSignal{T0 - Seconds(5), "pressure", MemoryPressureEvidence::correlatedPressure};
    const Diagnosis first = DiagnosisEngine().diagnose(ctx, {memory}, false);
    EXPECT_EQ(first.signalsUsed, (std::vector<Signal>{memory, DiagnosisEngine::terminationSignal(ctx)}));
    EXPECT_EQ(DiagnosisEngine().diagnose(ctx, first.signalsUsed, false), first);
}

// Each provider's block arrives whole, in the order the providers finish, however many
// diagnoses run at once, on the engine or a copy sharing its providers; a failing provider adds
// nothing, and without fresh collection no provider is asked.
TEST(DiagnosisEngine, ProviderBlocksArriveWholeInCompletionOrder)
{
    const DiagnosisEngine engine({std::make_shared<FakeProvider>(helpers("slow", 3), 120ms),
                                  std::make_shared<FakeProvider>(helpers("never", 2), 5ms, true),
                                  std::make_shared<FakeProvider>(helpers("fast", 4), 10ms),
                                  std::make_shared<FakeProvider>(std::vector<Signal>{}, 0ms)});
    const DiagnosisEngine copy = engine;
    const EventContext ctx = test::sketchPadContext(T0, TerminationReason::unknown);
    std::vector<Signal> expected = helpers("fast", 4);
    for (const Signal& signal : helpers("slow", 3)) {
        expected.push_back(signal);
    }
    expected.push_back(DiagnosisEngine::terminationSignal(ctx));
    std::vector<std::future<Diagnosis>> runs;
    for (int i = 0; i < 6; ++i) {
        runs.push_back(std::async(std::launch::async,
                                  [&, i] { return (i % 2 ? engine : copy).diagnose(ctx, {}, true); }));
    }
    for (auto& run : runs) {
        EXPECT_EQ(run.get().signalsUsed, expected);
    }
    EXPECT_EQ(engine.diagnose(ctx, {}, false).signalsUsed, std::vector<Signal>{expected.back()});
}

} // namespace
} // namespace exitwise::core
