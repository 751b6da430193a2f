#include "pipeline/broadcast_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/exploration_filters.h"
#include "pipeline/keys.h"
#include "pipeline/transition_filter.h"
#include "successor_chain_fixture.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using chaintest::tuple;
using testkit::EdgeSpec;
using testkit::ModelBuilder;

namespace {

// Transition stage -> copy stage -> broadcast successor stage -> recorder.
struct Chain
{
    explicit Chain(System& system)
    {
        for (pipeline::Connectable* stage : std::initializer_list<pipeline::Connectable*>{&transitions, &successors}) {
            stage->setProperty(PROPERTY_SYSTEM, &system);
        }
        transitions.connect(&copies);
        copies.connect(&successors);
        successors.connect(&out);
        transitions.begin();
    }

    TransitionFilter transitions;
    LazyCopyFilter copies;
    SuccessorFilterBroadcast successors;
    Recorder out;
};

struct Model
{
    base::RefPtr<System> system;
    ClockVariable* x;
    Edge* send;
    std::vector<Edge*> receives;
};

// S sends on the broadcast channel b; R receives on it with one edge per clock guard x >= bound.
Model broadcastModel(const std::vector<int32_t>& receiverBounds)
{
    ModelBuilder b;
    Model m;
    m.x = b.clock("x");
    const int32_t channel = b.channel("b", false, true);
    Process* s = b.process("S", {{"A"}, {"B"}});
    Process* r = b.process("R", {{"A"}, {"B"}, {"C"}});
    EdgeSpec send;
    send.sync = channel;
    m.send = b.edge(s, "A", "B", send);
    const char* targets[] = {"B", "C"};
    for (size_t k = 0; k < receiverBounds.size(); ++k) {
        EdgeSpec receive;
        receive.sync = -channel;
        receive.clockGuard = testkit::clockLower(m.x, false, receiverBounds[k]);
        m.receives.push_back(b.edge(r, "A", targets[k % 2], receive));
    }
    m.system = b.finish();
    m.system->broadcastClockGuards = true;
    return m;
}

// x >= bound holds everywhere in the zone (true) or nowhere (false).
bool atLeast(const SymbolicState* state, int32_t bound)
{
    return !state->zone.satisfies(1, 0, dbm::boundLT(bound));
}
bool below(const SymbolicState* state, int32_t bound)
{
    return !state->zone.satisfies(0, 1, dbm::boundLE(-bound));
}

}  // namespace

TEST(BroadcastSuccessors, AReceiverGuardThatHoldsInPartOfTheZoneSplitsIt)
{
    Model m = broadcastModel({3});
    Chain chain(*m.system);
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    EXPECT_TRUE(chain.transitions.put(source));

    const std::vector<std::vector<const Edge*>> expected = {tuple({m.send}), tuple({m.send, m.receives[0]})};
    ASSERT_EQ(chain.out.transitions(), expected);
    const chaintest::Seen& without = chain.out.items[0];
    const chaintest::Seen& with = chain.out.items[1];
    // Without the receiver where it cannot take part, carrying its negated guard.
    EXPECT_TRUE(below(without.state, 3));
    ASSERT_TRUE(without.hasCondition);
    SymbolicState* probe = m.system->makeInitialState();
    probe->delay();
    EXPECT_NE(static_cast<Expression*>(without.condition.get())->evaluate(probe), 0);
    EXPECT_TRUE(below(probe, 3));
    probe->release();
    // With it where it can, without a condition.
    EXPECT_TRUE(atLeast(with.state, 3));
    EXPECT_FALSE(with.hasCondition);
    EXPECT_EQ(with.state->getLocation(1), m.receives[0]->target);
    chain.out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(BroadcastSuccessors, AGuardThatHoldsEverywhereJoinsWithoutSplit)
{
    Model m = broadcastModel({0});
    Chain chain(*m.system);
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    EXPECT_TRUE(chain.transitions.put(source));
    ASSERT_EQ(chain.out.transitions(), std::vector<std::vector<const Edge*>>{tuple({m.send, m.receives[0]})});
    EXPECT_FALSE(chain.out.items[0].hasCondition);
    EXPECT_EQ(chain.out.items[0].state, source);  // the only successor takes the source itself
    chain.out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(BroadcastSuccessors, AlternativeReceivingEdgesLeaveOneSuccessorWithoutTheProcess)
{
    // R can receive by x >= 3 or by x >= 5: below 3 it takes part in neither, and that region
    // must come out once, not once per combination.
    Model m = broadcastModel({3, 5});
    Chain chain(*m.system);
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    EXPECT_TRUE(chain.transitions.put(source));
    const std::vector<std::vector<const Edge*>> expected = {
        tuple({m.send, m.receives[0]}),
        tuple({m.send}),
        tuple({m.send, m.receives[1]}),
    };
    ASSERT_EQ(chain.out.transitions(), expected);
    EXPECT_TRUE(atLeast(chain.out.items[0].state, 3));
    EXPECT_TRUE(below(chain.out.items[1].state, 3));
    EXPECT_TRUE(chain.out.items[1].hasCondition);
    EXPECT_TRUE(atLeast(chain.out.items[2].state, 5));
    chain.out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(BroadcastSuccessors, SendsWithoutReceiversAndOtherTransitionsAreComputedAtOnce)
{
    // In B the receiver has no edge: the send alone, handed on before the null item.
    Model m = broadcastModel({3});
    Chain chain(*m.system);
    SymbolicState* source = m.system->makeInitialState();
    source->setLocation(1, m.system->getProcess(1)->getLocation(1));
    source->delay();
    EXPECT_TRUE(chain.transitions.put(source));
    ASSERT_EQ(chain.out.transitions(), std::vector<std::vector<const Edge*>>{tuple({m.send})});
    EXPECT_FALSE(chain.out.items[0].hasCondition);
    chain.out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}
