#include "pipeline/transition_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/keys.h"
#include "runtime/exceptions.h"
#include "successor_chain_fixture.h"
#include "support/exceptions.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using chaintest::stateAt;
using chaintest::tuple;
using testkit::EdgeSpec;
using testkit::ModelBuilder;

namespace {

EdgeSpec sync(int32_t channel)
{
    EdgeSpec edgeSpec;
    edgeSpec.sync = channel;
    return edgeSpec;
}

EdgeSpec guarded(const ExpressionRef& guard, int32_t channel = 0)
{
    EdgeSpec edgeSpec;
    edgeSpec.guard = guard;
    edgeSpec.sync = channel;
    return edgeSpec;
}

// What one state gave: its transitions in order, and whether the end marker closed them.
struct Enumerated
{
    std::vector<std::vector<const Edge*>> transitions;
    size_t items = 0;
    bool closed = false;
};

// Runs one state through a begun stage.
Enumerated enumerate(TransitionFilter& stage, System& system, SymbolicState* state)
{
    Recorder recorder(false);
    stage.setProperty(PROPERTY_SYSTEM, &system);
    stage.connect(&recorder);
    stage.begin();
    EXPECT_TRUE(stage.put(state));
    Enumerated out;
    out.transitions = recorder.transitions();
    out.items = recorder.items.size();
    out.closed = !recorder.items.empty() && recorder.items.back().endMarker;
    return out;
}

}  // namespace

TEST(TransitionEnumeration, OnlyTheEndMarkerWithoutEnabledEdges)
{
    ModelBuilder b;
    StateVariable* n = b.variable("n", 0, 5, 0);
    Process* p = b.process("P", {{"A"}, {"B"}});
    b.edge(p, "A", "B", guarded(testkit::compare(n, testkit::Relation::Greater, 0)));
    base::RefPtr<System> system = b.finish();

    TransitionFilter stage;
    Enumerated seen = enumerate(stage, *system, system->makeInitialState());
    EXPECT_EQ(seen.items, 1u);
    EXPECT_TRUE(seen.closed);
    EXPECT_EQ(system->statesInUse(), 0u);
}

TEST(TransitionEnumeration, FixedOrderOfInternalBinaryAndBroadcastTransitions)
{
    // P0 sends on a (binary) and b (broadcast) and has an internal edge; P1 receives on a twice
    // and on b; P2 receives on b twice and sends on a to itself (never paired with its own receive).
    ModelBuilder b;
    const int32_t a = b.channel("a");
    const int32_t bc = b.channel("b", false, true);
    Process* p0 = b.process("P0", {{"A"}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    Process* p2 = b.process("P2", {{"A"}, {"B"}});
    Edge* tau0 = b.edge(p0, "A", "B");
    Edge* sendA = b.edge(p0, "A", "B", sync(a));
    Edge* sendB = b.edge(p0, "A", "B", sync(bc));
    Edge* recvA1 = b.edge(p1, "A", "B", sync(-a));
    Edge* recvA1b = b.edge(p1, "A", "A", sync(-a));
    Edge* recvB1 = b.edge(p1, "A", "B", sync(-bc));
    Edge* recvB1b = b.edge(p1, "A", "A", sync(-bc));
    Edge* recvB2 = b.edge(p2, "A", "B", sync(-bc));
    Edge* recvB2b = b.edge(p2, "A", "A", sync(-bc));
    Edge* tau2 = b.edge(p2, "A", "B");
    base::RefPtr<System> system = b.finish();

    TransitionFilter stage;
    Enumerated seen = enumerate(stage, *system, system->makeInitialState());
    const std::vector<std::vector<const Edge*>> expected = {
        tuple({tau0}),
        tuple({tau2}),
        tuple({sendA, recvA1}),
        tuple({sendA, recvA1b}),
        // Two receivers in each of two processes: four combinations, P1 varying fastest.
        tuple({sendB, recvB1, recvB2}),
        tuple({sendB, recvB1b, recvB2}),
        tuple({sendB, recvB1, recvB2b}),
        tuple({sendB, recvB1b, recvB2b}),
    };
    EXPECT_EQ(seen.transitions, expected);
    EXPECT_TRUE(seen.closed);
    EXPECT_EQ(system->statesInUse(), 0u);
}

TEST(TransitionEnumeration, SendersWithoutPartners)
{
    // A broadcast send needs no receiver; a binary send needs one in another process.
    ModelBuilder b;
    const int32_t a = b.channel("a");
    const int32_t bc = b.channel("b", false, true);
    Process* p0 = b.process("P0", {{"A"}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    b.edge(p0, "A", "B", sync(a));
    b.edge(p0, "A", "B", sync(-a));  // the sender's own process never answers it
    Edge* sendB = b.edge(p0, "A", "B", sync(bc));
    b.edge(p1, "B", "A", sync(-bc));  // not in the current location
    base::RefPtr<System> system = b.finish();

    TransitionFilter stage;
    Enumerated seen = enumerate(stage, *system, system->makeInitialState());
    EXPECT_EQ(seen.transitions, std::vector<std::vector<const Edge*>>{tuple({sendB})});
}

TEST(TransitionEnumeration, CommittedLocationsRestrictWhatMayMove)
{
    ModelBuilder b;
    const int32_t a = b.channel("a");
    Process* p0 = b.process("P0", {{"A", nullptr, "", true}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    Process* p2 = b.process("P2", {{"A"}, {"B"}});
    Edge* tau0 = b.edge(p0, "A", "B");
    b.edge(p1, "A", "B");  // internal edge of a process outside the committed location
    Edge* send0 = b.edge(p0, "A", "B", sync(a));
    Edge* send1 = b.edge(p1, "A", "B", sync(a));  // pairs with P2 only, and neither is committed
    Edge* recv1 = b.edge(p1, "A", "B", sync(-a));
    Edge* recv2 = b.edge(p2, "A", "B", sync(-a));
    base::RefPtr<System> system = b.finish();

    TransitionFilter stage;
    Enumerated seen = enumerate(stage, *system, system->makeInitialState());
    // Only pairs in which the committed process P0 takes part survive.
    const std::vector<std::vector<const Edge*>> expected = {
        tuple({tau0}),
        tuple({send0, recv1}),
        tuple({send0, recv2}),
    };
    EXPECT_EQ(seen.transitions, expected);
    (void)send1;
}

TEST(TransitionEnumeration, DiscreteGuardsDecideEnabledness)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    TransitionFilter stage;
    // n = 1: the pair is enabled (the clock guard x >= 2 is not looked at here).
    Enumerated seen = enumerate(stage, *m.system, m.system->makeInitialState());
    EXPECT_EQ(seen.transitions, std::vector<std::vector<const Edge*>>{tuple({m.send, m.receive})});

    SymbolicState* blocked = m.system->makeInitialState();
    m.n->setValue(blocked, 10);
    Recorder none(false);
    stage.connect(&none);
    EXPECT_TRUE(stage.put(blocked));
    EXPECT_TRUE(none.transitions().empty());
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(TransitionEnumeration, FailuresReleaseTheSourceState)
{
    // A guard that cannot be evaluated.
    {
        ModelBuilder b;
        Process* p = b.process("P", {{"A"}, {"B"}});
        b.edge(p, "A", "B", guarded(ExpressionRef(new testkit::Probe(1, true))));
        base::RefPtr<System> system = b.finish();
        TransitionFilter stage;
        Recorder seen(false);
        stage.setProperty(PROPERTY_SYSTEM, system.get());
        stage.connect(&seen);
        stage.begin();
        EXPECT_THROW(stage.put(system->makeInitialState()), CannotEvaluateExpression);
        EXPECT_EQ(system->statesInUse(), 0u);
    }
    // More broadcast combinations than 64 bits can count: 3^41 wraps to a number larger than
    // 3^40, so only an exact test of each multiplication catches it.
    {
        ModelBuilder b;
        const int32_t c = b.channel("many", false, true);
        Process* sender = b.process("S", {{"A"}, {"B"}});
        b.edge(sender, "A", "B", sync(c));
        for (int i = 0; i < 41; ++i) {
            Process* receiver = b.process("R" + std::to_string(i), {{"A"}, {"B"}});
            for (int k = 0; k < 3; ++k) {
                b.edge(receiver, "A", "B", sync(-c));
            }
        }
        base::RefPtr<System> system = b.finish();
        TransitionFilter stage;
        Recorder seen(false);
        stage.setProperty(PROPERTY_SYSTEM, system.get());
        stage.connect(&seen);
        stage.begin();
        try {
            stage.put(system->makeInitialState());
            ADD_FAILURE() << "no overflow reported";
        } catch (const SuccessorException& e) {
            EXPECT_STREQ(e.what(), "$Combinatorial_explosion_caused_overflow");
            EXPECT_STREQ(e.getName(), "many");
            EXPECT_NE(std::string(e.getState()).find("S.A"), std::string::npos) << e.getState();
        }
        EXPECT_TRUE(seen.transitions().empty());
        EXPECT_EQ(system->statesInUse(), 0u);
    }
}

TEST(TransitionEnumeration, CspSynchronisesEveryProcessThatKnowsTheChannel)
{
    ModelBuilder b;
    const int32_t c = b.channel("c");
    const int32_t d = b.channel("d");
    const int32_t e = b.channel("e");
    Process* p0 = b.process("P0", {{"A"}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    Process* p2 = b.process("P2", {{"A"}, {"B"}});
    // c: known to P0 and P1, both enabled (P1 twice). d: known to all three, P2 has no edge.
    // e: known to P2 only, so its edge moves alone.
    Edge* c0 = b.edge(p0, "A", "B", sync(c));
    Edge* c1 = b.edge(p1, "A", "B", sync(c));
    Edge* c1b = b.edge(p1, "A", "A", sync(c));
    b.edge(p0, "A", "B", sync(d));
    b.edge(p1, "A", "B", sync(d));
    Edge* e2 = b.edge(p2, "A", "B", sync(e));
    base::RefPtr<System> system = b.finish();
    system->syncMode = 2;
    for (int32_t channel : {c, d}) {
        p0->addCspChannel(channel);
        p1->addCspChannel(channel);
    }
    p2->addCspChannel(d);
    p2->addCspChannel(e);

    CSPTransitionFilter stage;
    Enumerated seen = enumerate(stage, *system, system->makeInitialState());
    const std::vector<std::vector<const Edge*>> expected = {
        tuple({e2}),
        tuple({c0, c1}),
        tuple({c0, c1b}),
    };
    EXPECT_EQ(seen.transitions, expected);
    EXPECT_EQ(system->statesInUse(), 0u);
}
