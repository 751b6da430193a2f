#include "pipeline/successor_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/delay_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/keys.h"
#include "pipeline/transition_filter.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "successor_chain_fixture.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using chaintest::tuple;
using testkit::EdgeSpec;
using testkit::ModelBuilder;

namespace {

// Puts {state, transition} into the stage and returns its answer.
bool offer(pipeline::Sink<Successor>& stage, SymbolicState* state, EdgeTuple transition,
           const ExpressionRef& condition = nullptr)
{
    Successor item;
    item.state = state;
    item.transition = transition;
    item.handle = condition;
    return stage.put(&item);
}

// The interned tuple of the edges.
EdgeTuple transitionOf(std::initializer_list<Edge*> edges)
{
    std::vector<Edge*> tuple(edges);
    tuple.push_back(nullptr);
    return internEdgeTuple(tuple.data());
}

// A zone over the system's clocks holding exactly the points that satisfy the constraints.
dbm::fed_t zoneOf(const System& system, std::initializer_list<dbm::clock_constraint_t> constraints)
{
    dbm::fed_t zone(static_cast<uint32_t>(system.getClockCount()));
    zone.setInit();
    for (const dbm::clock_constraint_t& c : constraints) {
        zone.constrain(c.i, c.j, c.bound);
    }
    return zone;
}

dbm::clock_constraint_t upper(const ClockVariable* x, int32_t value)
{
    return {static_cast<uint32_t>(x->getClockNumber()), 0, dbm::boundLE(value)};
}

bool sameZone(const dbm::fed_t& a, const dbm::fed_t& b)
{
    return a.isSubsetEq(b) && b.isSubsetEq(a);
}

}  // namespace

TEST(SuccessorComputation, GuardsTargetsUpdatesAndTheZone)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    SuccessorFilter stage;
    Recorder out;
    stage.connect(&out);

    SymbolicState* state = m.system->makeInitialState();
    state->delay();
    ASSERT_TRUE(offer(stage, state, transitionOf({m.send, m.receive})));
    ASSERT_EQ(out.items.size(), 1u);
    SymbolicState* next = out.items[0].state;
    EXPECT_EQ(next, state);  // computed in place
    EXPECT_EQ(next->getLocation(0), m.pB);
    EXPECT_EQ(next->getLocation(1), m.qB);
    EXPECT_EQ(m.n->getValue(next), 2);
    // x >= 2 held before both clocks were reset.
    EXPECT_TRUE(sameZone(next->zone, zoneOf(*m.system, {upper(m.x, 0), upper(m.y, 0)})));
    out.release();

    // A null item ends a state's successors: answered, never handed on.
    EXPECT_TRUE(stage.put(nullptr));
    EXPECT_EQ(out.items.size(), 1u);
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(SuccessorComputation, AFailingClockGuardDropsTheStateBeforeLaterGuards)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    const int32_t c = b.channel("c");
    Process* p = b.process("P", {{"A"}, {"B"}});
    Process* q = b.process("Q", {{"A"}, {"B"}});
    EdgeSpec send;
    send.sync = c;
    send.clockGuard = testkit::clockLower(x, false, 2);
    Edge* sender = b.edge(p, "A", "B", send);
    EdgeSpec receive;
    receive.sync = -c;
    auto* probe = new testkit::Probe(1);
    receive.clockGuard = ExpressionRef(probe);
    Edge* receiver = b.edge(q, "A", "B", receive);
    base::RefPtr<System> system = b.finish();

    SuccessorFilter stage;
    Recorder out;
    stage.connect(&out);
    // The initial zone has x = 0, below the sender's guard.
    EXPECT_FALSE(offer(stage, system->makeInitialState(), transitionOf({sender, receiver})));
    EXPECT_TRUE(out.items.empty());
    EXPECT_EQ(probe->evaluations, 0);
    EXPECT_EQ(system->statesInUse(), 0u);

    // An update that cannot be evaluated releases the state too.
    ModelBuilder b2;
    StateVariable* n = b2.variable("n", 0, 1, 1);
    Process* r = b2.process("R", {{"A"}, {"B"}});
    EdgeSpec overflow;
    overflow.update = testkit::assign(n, 5);
    Edge* bad = b2.edge(r, "A", "B", overflow);
    base::RefPtr<System> system2 = b2.finish();
    EXPECT_THROW(offer(stage, system2->makeInitialState(), transitionOf({bad})), CannotEvaluateExpression);
    EXPECT_EQ(system2->statesInUse(), 0u);
}

TEST(SuccessorComputation, StoreMarkPerSpaceOptimisationLevel)
{
    // A -> C (committed) -> A closes a cycle at A, the initial location, which makes A a loop
    // entry; A -> D leads out of the cycle into an ordinary location.
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"C", nullptr, "", true}, {"D"}});
    Edge* toCommitted = b.edge(p, "A", "C");
    Edge* backToLoopEntry = b.edge(p, "C", "A");
    Edge* toOrdinary = b.edge(p, "A", "D");
    base::RefPtr<System> system = b.finish();
    ASSERT_TRUE(b.location(p, "A")->isLoopEntry());

    struct Case
    {
        const char* name;
        int level;
        Edge* edge;
        int32_t mark;
    };
    const Case cases[] = {
        {"none keeps everything", 0, toCommitted, 1},
        // Extreme may not forget every state: a search round a cycle would never end.
        {"extreme keeps a loop entry", 3, backToLoopEntry, 1},
        {"extreme skips a state outside loops", 3, toOrdinary, 0},
        {"conservative skips a committed state", 1, toCommitted, 0},
        {"conservative keeps an ordinary state", 1, toOrdinary, 1},
        {"conservative keeps a state entering a loop", 1, backToLoopEntry, 1},
        {"aggressive skips a state outside loops", 2, toOrdinary, 0},
        {"aggressive keeps a loop entry", 2, backToLoopEntry, 1},
        {"an unknown level is aggressive", 7, toOrdinary, 0},
    };
    for (const Case& c : cases) {
        SuccessorFilter stage;
        int level = c.level;
        stage.setProperty(PROPERTY_SPACEOPT, &level);
        Recorder out;
        stage.connect(&out);
        SymbolicState* state = system->makeInitialState();
        state->setLocation(0, c.edge->source);
        ASSERT_TRUE(offer(stage, state, transitionOf({c.edge}))) << c.name;
        EXPECT_EQ(out.items.at(0).state->storeMark, c.mark) << c.name;
    }
    EXPECT_EQ(system->statesInUse(), 0u);
}

TEST(SuccessorComputation, BlockingConditionsAndTheTransitionFilterOfReplays)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    EdgeTuple pair = transitionOf({m.send, m.receive});

    BlockingSuccessorFilter blocking;
    Recorder out;
    blocking.connect(&out);
    // A condition that leaves nothing of the zone drops the item, and its state goes back.
    SymbolicState* state = m.system->makeInitialState();
    EXPECT_FALSE(offer(blocking, state, pair, testkit::clockLower(m.x, false, 1)));
    EXPECT_TRUE(out.items.empty());
    EXPECT_EQ(m.system->statesInUse(), 0u);
    // One that holds in part of it cuts the zone before the successor is computed.
    state = m.system->makeInitialState();
    state->delay();
    EXPECT_TRUE(offer(blocking, state, pair, testkit::clockUpper(m.y, false, 4)));
    ASSERT_EQ(out.items.size(), 1u);
    EXPECT_EQ(m.n->getValue(out.items[0].state), 2);
    out.release();
    EXPECT_TRUE(blocking.put(nullptr));

    FilterSuccessorByTransition byTransition;
    Recorder replayed;
    byTransition.connect(&replayed);
    byTransition.setTransition(pair);
    EXPECT_FALSE(byTransition.put(nullptr));
    EXPECT_FALSE(offer(byTransition, m.system->makeInitialState(), transitionOf({m.receive, m.send})));
    EXPECT_FALSE(offer(byTransition, m.system->makeInitialState(), transitionOf({m.send})));
    EXPECT_TRUE(replayed.items.empty());
    EXPECT_TRUE(offer(byTransition, m.system->makeInitialState(), pair));
    EXPECT_EQ(replayed.items.size(), 1u);
    replayed.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(Delay, UrgencyCommittedLocationsAndInvariants)
{
    // P: A { x <= 5 } and a committed C; Q idle; R sends and S receives on an urgent channel u
    // when n is 1.
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    StateVariable* n = b.variable("n", 0, 3, 0);
    const int32_t u = b.channel("u", true);
    Process* p = b.process("P", {{"A", testkit::clockUpper(x, false, 5), "x <= 5"},
                                 {"C", nullptr, "", true},
                                 {"E", testkit::clockUpper(x, true, 0), "x < 0"}});
    Process* r = b.process("R", {{"A"}, {"B"}});
    Process* s = b.process("S", {{"A"}, {"B"}});
    EdgeSpec send;
    send.sync = u;
    send.guard = testkit::compare(n, testkit::Relation::Equal, 1);
    b.edge(r, "A", "B", send);
    EdgeSpec receive;
    receive.sync = -u;
    b.edge(s, "A", "B", receive);
    base::RefPtr<System> system = b.finish();

    const dbm::fed_t zero = zoneOf(*system, {upper(x, 0)});
    struct Case
    {
        const char* name;
        const char* location;
        int32_t n;
        bool kept;
        dbm::fed_t zone;
    };
    const Case cases[] = {
        {"time passes up to the invariant", "A", 0, true, zoneOf(*system, {upper(x, 5)})},
        {"a committed location holds time", "C", 0, true, zero},
        {"an enabled urgent synchronisation holds time", "A", 1, true, zero},
        {"an invariant that nothing meets drops the state", "E", 0, false, zero},
    };
    for (const Case& c : cases) {
        DelayFilter stage;
        Recorder out;
        stage.connect(&out);
        SymbolicState* state = system->makeInitialState();
        state->setLocation(0, b.location(p, c.location));
        n->setValue(state, c.n);
        EXPECT_EQ(offer(stage, state, emptyEdgeTuple()), c.kept) << c.name;
        if (c.kept) {
            ASSERT_EQ(out.items.size(), 1u) << c.name;
            EXPECT_TRUE(sameZone(out.items[0].state->zone, c.zone)) << c.name;
        } else {
            EXPECT_TRUE(out.items.empty()) << c.name;
        }
    }
    EXPECT_EQ(system->statesInUse(), 0u);
}

TEST(LazyCopy, EveryTransitionGetsAStateTheLastOneTheSourceItself)
{
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"B"}});
    Edge* e1 = b.edge(p, "A", "B");
    Edge* e2 = b.edge(p, "A", "A");
    Edge* e3 = b.edge(p, "A", "B");
    base::RefPtr<System> system = b.finish();

    TransitionFilter transitions;
    LazyCopyFilter copies;
    Recorder out;
    transitions.setProperty(PROPERTY_SYSTEM, system.get());
    transitions.connect(&copies);
    copies.connect(&out);
    transitions.begin();

    SymbolicState* source = system->makeInitialState();
    EXPECT_TRUE(transitions.put(source));
    ASSERT_EQ(out.items.size(), 4u);
    EXPECT_EQ(out.items[0].transition, tuple({e1}));
    EXPECT_EQ(out.items[1].transition, tuple({e2}));
    EXPECT_EQ(out.items[2].transition, tuple({e3}));
    EXPECT_TRUE(out.items[3].nullItem);
    EXPECT_NE(out.items[0].state, source);
    EXPECT_NE(out.items[1].state, source);
    EXPECT_NE(out.items[0].state, out.items[1].state);
    EXPECT_EQ(out.items[2].state, source);
    out.release();
    out.items.clear();

    // A state without transitions is given back; nothing, not even the null item, is handed on.
    SymbolicState* stuck = system->makeInitialState();
    stuck->setLocation(0, b.location(p, "B"));
    EXPECT_TRUE(transitions.put(stuck));
    EXPECT_TRUE(out.items.empty());
    EXPECT_EQ(system->statesInUse(), 0u);
}
