// The transitions of a state for liveness searches of models with priorities or guarded broadcast
// receivers: blocked transitions removed, receivers resolved into regions, and every item
// carrying the given state itself.

#include "pipeline/liveness_transition_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/channels.h"
#include "runtime/process.h"
#include "successor_chain_fixture.h"

namespace {

// S sends on the broadcast channel b, which R receives when x >= 2; T and U synchronise on a.
const char* const broadcastAndBinary = R"(
clock x;
broadcast chan b;
chan a;
process S() { state A, B; init A; trans A -> B { sync b!; }; }
process R() { state A, B; init A; trans A -> B { guard x >= 2; sync b?; }; }
process T() { state A, B; init A; trans A -> B { sync a!; }; }
process U() { state A, B; init A; trans A -> B { sync a?; }; }
system S, R, T, U;
)";

// Channel `higher` outranks channel `lower`.
void givePriority(System& system, const std::string& higher, const std::string& lower)
{
    int32_t h = 0;
    int32_t l = 0;
    const size_t channels = channelCount();
    for (size_t c = 1; c <= channels; ++c) {
        const std::string& name = getChannel(static_cast<int32_t>(c)).name;
        h = name == higher ? static_cast<int32_t>(c) : h;
        l = name == lower ? static_cast<int32_t>(c) : l;
    }
    ASSERT_TRUE(h != 0 && l != 0);
    system.resizePriorityMatrix(channels);
    system.addChannelPriorities({h}, {l});
    std::string message;
    ASSERT_TRUE(system.checkChannelPriorities(message)) << message;
    system.hasPriorities = true;
}

// "S.A->B R.A->B" for a transition.
std::string describe(const std::vector<const Edge*>& transition)
{
    std::string text;
    for (const Edge* edge : transition) {
        text += (text.empty() ? "" : " ") + edge->getProcess()->getName() + "." + edge->source->getName() + "->" +
                edge->target->getName();
    }
    return text;
}

TEST(LivenessTransitionSource, ResolvesPrioritiesAndReceiversOnTheStateItself)
{
    struct Case
    {
        std::string name;
        bool priorities;
        pipeline::Connectable* (*factory)(FilterConfiguration*);
        // Transitions handed on, each with whether it comes with a condition.
        std::vector<std::pair<std::string, bool>> expected;
    };
    const std::string both = "S.A->B R.A->B";
    const std::string alone = "S.A->B";
    const std::string pair = "T.A->B U.A->B";
    const std::vector<Case> cases = {
        // b outranks a, and the sender of b is always enabled: a never fires.
        {"priorities only", true, makeLivenessTransitionFilterPriority, {{both, false}}},
        // R takes part where x >= 2; where it cannot, b goes without it, under x < 2.
        {"broadcast receivers only", false, makeLivenessTransitionFilterBroadcast,
         {{both, false}, {alone, true}, {pair, false}}},
        {"both", true, makeLivenessTransitionFilterPriorityBroadcast,
         {{both, false}, {alone, true}}},
    };
    registerSuccessorChainFilters();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = chaintest::compileModel(broadcastAndBinary);
        System& system = *model->system;
        if (c.priorities) {
            givePriority(system, "b", "a");
        }
        base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
        std::unique_ptr<pipeline::Connectable> created(c.factory(registry.get()));
        auto* source = dynamic_cast<SpecialLivenessTransitionFilter*>(created.get());
        ASSERT_NE(source, nullptr);
        chaintest::Recorder out(false);
        source->connect(&out);
        source->setProperty(PROPERTY_SYSTEM, &system);
        source->begin();

        // Two states in a row: nothing of the first may leak into the second.
        for (int round = 0; round < 2; ++round) {
            SymbolicState* state = system.makeInitialState();
            state->delay();
            const uint64_t inUse = system.statesInUse();
            out.items.clear();
            EXPECT_TRUE(source->put(state));
            std::vector<std::pair<std::string, bool>> seen;
            for (const chaintest::Seen& item : out.items) {
                ASSERT_FALSE(item.nullItem);
                ASSERT_FALSE(item.endMarker);
                seen.emplace_back(describe(item.transition), item.hasCondition);
            }
            std::sort(seen.begin(), seen.end());
            std::vector<std::pair<std::string, bool>> expected = c.expected;
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(seen, expected) << "round " << round;
            // Every copy made on the way went back to the pool; the state is still the caller's.
            EXPECT_EQ(system.statesInUse(), inUse);
            state->release();
        }
        source->end();
    }
}

TEST(LivenessTransitionSource, EveryItemHoldsTheGivenState)
{
    auto model = chaintest::compileModel(broadcastAndBinary);
    registerSuccessorChainFilters();
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    SpecialLivenessTransitionFilter source(registry.get(), false, true);
    chaintest::Recorder out(true);
    source.connect(&out);
    source.setProperty(PROPERTY_SYSTEM, model->system.get());
    source.begin();
    SymbolicState* state = model->system->makeInitialState();
    state->delay();
    source.put(state);
    ASSERT_EQ(out.items.size(), 3u);
    for (chaintest::Seen& item : out.items) {
        EXPECT_EQ(item.state, state);
        item.state = nullptr;
    }
    // The condition of the region without the receiver leaves x < 2.
    for (const chaintest::Seen& item : out.items) {
        if (item.hasCondition) {
            SymbolicState* probe = state->clone();
            EXPECT_NE(static_cast<Expression*>(item.condition.get())->evaluate(probe), 0);
            EXPECT_EQ(chaintest::zoneText(probe), "x<2");
            probe->release();
        }
    }
    state->release();
}

}  // namespace
