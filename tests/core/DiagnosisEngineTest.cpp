// SPDX-License-Identifier: MIT
#include "core/DiagnosisEngine.h"

#include "core/OrderedMatcher.h"
#include "support/CorePrinters.h"

#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace exitwise::core {
namespace {

const Date T0 = dateFromReferenceSeconds(786300000.0);

EventContext context(TerminationReason reason, std::optional<std::string> raw = std::nullopt)
{
    return contextAround({.appName = "Preview",
                          .pid = 812,
                          .terminatedAt = T0,
                          .terminationReason = reason,
                          .terminationRawValue = std::move(raw)},
                         180.0);
}

// Returns its signals after a delay, or throws when asked to.
class FakeProvider : public SignalProvider
{
public:
    FakeProvider(std::vector<Signal> signals, std::chrono::milliseconds delay, bool fail = false)
        : m_signals(std::move(signals))
        , m_delay(delay)
        , m_fail(fail)
    {}

    std::vector<Signal> collectSignals(const EventContext&) const override
    {
        std::this_thread::sleep_for(m_delay);
        if (m_fail) {
            throw std::runtime_error("unreadable");
        }
        return m_signals;
    }

private:
    std::vector<Signal> m_signals;
    std::chrono::milliseconds m_delay;
    bool m_fail;
};

std::vector<Signal> block(const std::string& tag, int count)
{
    std::vector<Signal> signals;
    for (int i = 0; i < count; ++i) {
        signals.push_back(UnifiedLogSignal{T0 + Seconds(i), tag, std::to_string(i)});
    }
    return signals;
}

TEST(DiagnosisEngine, AbortedCrashFromTheContextAlone)
{
    const EventContext ctx = context(TerminationReason::crashed, "SIGABRT");
    const Diagnosis d = DiagnosisEngine().diagnose(ctx, {}, true);
    EXPECT_EQ(d.window, ctx.window);
    EXPECT_EQ(d.signalsUsed, (std::vector<Signal>{DiagnosisEngine::terminationSignal(ctx)}));
    EXPECT_EQ(d.explanation.whatHappened,
              "Preview quit because it hit a fatal error it could not recover from.");
}

TEST(DiagnosisEngine, OwnTerminationIsNotListedTwice)
{
    const EventContext ctx = context(TerminationReason::killed);
    const Signal own = DiagnosisEngine::terminationSignal(ctx);
    const Signal memory =
        JetsamSignal{T0 - Seconds(5), "pressure", MemoryPressureEvidence::correlatedPressure};
    const Diagnosis first = DiagnosisEngine().diagnose(ctx, {memory}, false);
    EXPECT_EQ(first.signalsUsed, (std::vector<Signal>{memory, own}));
    EXPECT_EQ(DiagnosisEngine().diagnose(ctx, first.signalsUsed, false), first);
}

TEST(DiagnosisEngine, ProviderBlocksArriveWholeInCompletionOrder)
{
    using namespace std::chrono_literals;
    const auto slow = std::make_shared<FakeProvider>(block("slow", 3), 120ms);
    const auto fast = std::make_shared<FakeProvider>(block("fast", 4), 10ms);
    const auto empty = std::make_shared<FakeProvider>(std::vector<Signal>{}, 0ms);
    const auto failing = std::make_shared<FakeProvider>(block("never", 2), 5ms, true);
    const DiagnosisEngine engine({slow, failing, fast, empty});
    const EventContext ctx = context(TerminationReason::unknown);
    const Signal memory = JetsamSignal{T0, "pressure", MemoryPressureEvidence::directTermination};

    // Unified-log signals do not enter signalsUsed, so feed the evidence through the matcher.
    const auto fastWithMemory = std::make_shared<FakeProvider>(std::vector<Signal>{memory}, 30ms);
    const DiagnosisEngine withMemory({slow, fastWithMemory});
    const Diagnosis d = withMemory.diagnose(ctx, {}, true);
    EXPECT_EQ(d.dominantCause, DominantCause::killedJetsamMemory);

    // The assembled list: initial signals, own termination, then each provider's block whole.
    std::vector<Signal> expected = {DiagnosisEngine::terminationSignal(ctx)};
    for (const auto& part : {block("fast", 4), block("slow", 3)}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    const Diagnosis viaEngine = engine.diagnose(ctx, {}, true);
    const MatchResult direct = OrderedMatcher::match(ctx, expected);
    EXPECT_EQ(viaEngine.dominantCause, direct.dominantCause);
    EXPECT_EQ(viaEngine.signalsUsed, direct.signalsUsed);

    // Without fresh collection, no provider is asked.
    EXPECT_EQ(engine.diagnose(ctx, {memory}, false).dominantCause, DominantCause::killedJetsamMemory);
}

TEST(DiagnosisEngine, FirstFinishedProviderDecidesFirstOfAKind)
{
    using namespace std::chrono_literals;
    const Signal slowPolicy = PolicySignal{T0, PolicyBlockKind::gatekeeper, "slow"};
    const Signal fastPolicy = PolicySignal{T0, PolicyBlockKind::quarantine, "fast"};
    const DiagnosisEngine engine({std::make_shared<FakeProvider>(std::vector<Signal>{slowPolicy}, 150ms),
                                  std::make_shared<FakeProvider>(std::vector<Signal>{fastPolicy}, 0ms)});
    const Diagnosis d = engine.diagnose(context(TerminationReason::unknown), {}, true);
    ASSERT_FALSE(d.signalsUsed.empty());
    EXPECT_EQ(d.signalsUsed.front(), fastPolicy);
}

TEST(DiagnosisEngine, SafeFromSeveralThreads)
{
    using namespace std::chrono_literals;
    const DiagnosisEngine engine({std::make_shared<FakeProvider>(block("a", 2), 1ms),
                                  std::make_shared<FakeProvider>(block("b", 2), 2ms)});
    const DiagnosisEngine copy = engine;
    std::vector<std::thread> threads;
    std::vector<Diagnosis> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] = (i % 2 ? engine : copy).diagnose(context(TerminationReason::quit), {}, true);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const Diagnosis& d : results) {
        EXPECT_EQ(d.dominantCause, DominantCause::explicitQuit);
    }
}

} // namespace
} // namespace exitwise::core
