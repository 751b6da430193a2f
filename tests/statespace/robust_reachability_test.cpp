// Robust reachability: a depth-first search whose cycles, when time can pass on them and every
// clock they bound is reset, enlarge the states they return to by what the drift of clocks lets
// the cycle reach; enlarged states are explored again once the current search is over.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "liveness_fixture.h"
#include "statespace/robust_reachability.h"

namespace {

using livetest::clockEquals;
using livetest::clockLower;
using livetest::clockUpper;
using livetest::InLocation;

struct Model
{
    base::RefPtr<System> system;
    ExpressionRef goal;
    std::vector<const Edge*> edges;
    std::vector<const Location*> locations;
};

// Clocks x and y take turns: A { x <= 1 } --(x == 1; x := 0)--> B { y <= 1 } --(y == 1; y := 0)--> A.
// Exactly, B is entered with x = 0 and y = 1 every time; a drift of the clocks lets the cycle
// slide to any entry with y - x in [0, 1]. Also A --(x == 1; x := 0)--> C, listed first so that
// the search takes it last.
Model drift()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    Process* p = b.process("P", {{"A", clockUpper(x, false, 1)}, {"B", clockUpper(y, false, 1)}, {"C"}});
    testkit::EdgeSpec xTurn;
    xTurn.clockGuard = clockEquals(x, 1);
    xTurn.update = testkit::assign(x, 0);
    testkit::EdgeSpec yTurn;
    yTurn.clockGuard = clockEquals(y, 1);
    yTurn.update = testkit::assign(y, 0);
    Edge* ac = b.edge(p, "A", "C", xTurn);
    Edge* ab = b.edge(p, "A", "B", xTurn);
    Edge* ba = b.edge(p, "B", "A", yTurn);
    Model m{b.finish(), nullptr, {ab, ba, ac}, {}};
    for (const char* name : {"A", "B", "C"}) {
        m.locations.push_back(b.location(p, name));
    }
    return m;
}

// P: A --> B --> A, both committed: no time passes on the cycle.
Model committedCycle()
{
    testkit::ModelBuilder b;
    b.clock("x");
    testkit::LocationSpec a{"A"};
    a.committed = true;
    testkit::LocationSpec bb{"B"};
    bb.committed = true;
    Process* p = b.process("P", {a, bb});
    b.edge(p, "A", "B");
    b.edge(p, "B", "A");
    return {b.finish(), nullptr, {}, {}};
}

// P: A { y <= 10 } --(x >= 1; x := 0)--> A: the cycle bounds y and never resets it.
Model boundedNotReset()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    Process* p = b.process("P", {{"A", clockUpper(y, false, 10)}});
    testkit::EdgeSpec loop;
    loop.clockGuard = clockLower(x, false, 1);
    loop.update = testkit::assign(x, 0);
    b.edge(p, "A", "A", loop);
    return {b.finish(), nullptr, {}, {}};
}

// P: A --(x >= 1 && y - x <= 3; x := 0)--> A: every turn adds at least 1 to y - x, which must stay
// at most 3 when the turn is taken, so the cycle closes (y - x >= 2 lies inside y - x >= 1) but
// cannot be repeated for ever from any valuation.
Model driftingApart()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    Process* p = b.process("P", {{"A"}});
    testkit::EdgeSpec loop;
    loop.clockGuard = makeConjunction(clockLower(x, false, 1), testkit::clockDifference(y, x, false, 3));
    loop.update = testkit::assign(x, 0);
    b.edge(p, "A", "A", loop);
    return {b.finish(), nullptr, {}, {}};
}

// P: A --> A by two edges that change nothing: every round ends inside the state it left.
Model twoRounds()
{
    testkit::ModelBuilder b;
    b.clock("x");
    Process* p = b.process("P", {{"A"}});
    b.edge(p, "A", "A");
    b.edge(p, "A", "A");
    return {b.finish(), nullptr, {}, {}};
}

// P: A --(x >= 2 && y <= 1)--> G, and a loop at A that resets y and can be taken only while y is
// 0: by its guard y <= 0, or (with `invariant`) because A bounds y by 0. The loop takes no time,
// so x - y never changes and G is never entered, however the clocks drift.
Model zeroTimeLoop(bool invariant)
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    Process* p = b.process("P", {{"A", invariant ? clockUpper(y, false, 0) : nullptr}, {"G"}});
    testkit::EdgeSpec loop;
    if (!invariant) {
        loop.clockGuard = clockUpper(y, false, 0);
    }
    loop.update = testkit::assign(y, 0);
    b.edge(p, "A", "A", loop);
    testkit::EdgeSpec out;
    out.clockGuard = makeConjunction(clockLower(x, false, 2), clockUpper(y, false, 1));
    Edge* ag = b.edge(p, "A", "G", out);
    Model m{b.finish(), nullptr, {ag}, {}};
    m.locations.push_back(b.location(p, "G"));
    return m;
}

// Keeps every goal state and, with `stops`, asks the search to stop at the first.
class Goals : public pipeline::Sink<Successor>
{
public:
    ~Goals() override
    {
        for (SymbolicState* state : states) {
            state->release();
        }
    }
    bool put(Successor* item) override
    {
        states.push_back(item->state);
        if (stops) {
            bool yes = true;
            source->setProperty(PROPERTY_STOP, &yes);
        }
        return true;
    }
    std::vector<SymbolicState*> states;
    pipeline::Connectable* source = nullptr;
    bool stops = true;
};

struct Search
{
    explicit Search(Model& model, bool stops = true)
        : model(model), registry(livetest::makeRegistry()), settings(model.system.get())
    {
        checker.reset(makeRobustReachabilityChecker(registry.get()));
        settings.send(*checker, model.system.get());
        checker->setProperty(PROPERTY_EXPRESSION, model.goal.get());
        goals.source = checker.get();
        goals.stops = stops;
        checker->connect(&goals);
        checker->begin();
    }

    void run()
    {
        const uint64_t inUse = model.system->statesInUse();
        Successor initial = settings.initial(model.system.get());
        EXPECT_TRUE(checker->put(&initial));
        // Only the goal states kept by the sink stay taken.
        EXPECT_EQ(model.system->statesInUse(), inUse + goals.states.size());
        checker->end();
    }

    std::vector<const Edge*> traceTo(const SymbolicState* state)
    {
        base::RefPtr<Trace> trace = settings.traces->createTrace(state->traceIndex);
        return livetest::traceEdges(*trace);
    }

    Model& model;
    base::RefPtr<FilterConfiguration> registry;
    livetest::Settings settings;
    std::unique_ptr<RobustReachabilityChecker> checker;
    Goals goals;
};

bool xPositive(const SymbolicState* state)
{
    return state->zone.satisfies(0, 1, dbm::boundLT(0));
}

TEST(RobustReachability, DriftAlongACycleReachesWhatExactTimingDoesNot)
{
    Model model = drift();
    const Location* b = model.locations[1];
    model.goal = ExpressionRef(new AndExpr(ExpressionRef(new InLocation(0, b)), clockLower(model.system->getClockVariable(1), true, 0)));
    Search search(model);
    search.run();
    ASSERT_EQ(search.goals.states.size(), 1u);
    // B with x > 0 is entered only after one turn: from the state that the cycle enlarged.
    const std::vector<const Edge*> expected = {model.edges[0], model.edges[1], model.edges[0]};
    EXPECT_EQ(search.traceTo(search.goals.states[0]), expected);
}

// An interrupt that comes after the search began and before its initial state arrived ends it
// before it reaches anything.
TEST(RobustReachability, AStopBeforeTheFirstStateIsNotForgotten)
{
    Model model = drift();
    model.goal = ExpressionRef(new InLocation(0, model.locations[1]));
    Search search(model);
    bool yes = true;
    search.checker->setProperty(PROPERTY_STOP, &yes);
    search.run();
    EXPECT_TRUE(search.goals.states.empty());
}

TEST(RobustReachability, EnlargedStatesAreExploredAfterTheCurrentSearch)
{
    Model model = drift();
    const Location* b = model.locations[1];
    const Location* c = model.locations[2];
    model.goal = ExpressionRef(new OrExpr(ExpressionRef(new InLocation(0, b)), ExpressionRef(new InLocation(0, c))));
    Search search(model, false);
    search.run();
    // B exactly (x = 0), then C from the first search, then B with x > 0 from the enlarged root.
    std::vector<std::string> order;
    for (SymbolicState* state : search.goals.states) {
        if (state->getLocation(0) == c) {
            order.push_back("C");
        } else {
            order.push_back(xPositive(state) ? "B drifted" : "B");
        }
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], "B");
    EXPECT_EQ(order[1], "C");
    EXPECT_EQ(order[2], "B drifted");
}

TEST(RobustReachability, AnEvaluationErrorLeavesNoStateTakenTwice)
{
    testkit::ModelBuilder b;
    b.clock("x");
    Process* p = b.process("P", {{"A"}, {"B"}});
    testkit::EdgeSpec edgeSpec;
    edgeSpec.guard = ExpressionRef(new livetest::FailsOnEvaluation(1));
    b.edge(p, "A", "B", edgeSpec);
    Model model{b.finish(), testkit::constant(0), {}, {}};

    const uint64_t inUse = model.system->statesInUse();
    {
        Search search(model);
        Successor initial = search.settings.initial(model.system.get());
        EXPECT_THROW(search.checker->put(&initial), CannotEvaluateExpression);
        search.checker->end();
    }
    EXPECT_EQ(model.system->statesInUse(), inUse);
}

TEST(RobustReachability, CyclesWithoutAnalysisEndTheSearch)
{
    struct Case
    {
        std::string name;
        Model (*build)();
    };
    for (const Case& c : {Case{"cycle through committed locations", committedCycle},
                          Case{"a clock bounded and never reset", boundedNotReset}}) {
        SCOPED_TRACE(c.name);
        Model model = c.build();
        model.goal = testkit::constant(0);
        Search search(model);
        search.run();
        EXPECT_TRUE(search.goals.states.empty());
        EXPECT_GT(livetest::CountingPassedList::added, 0);
    }
}

TEST(RobustReachability, ACycleThatCannotRepeatForEverEnlargesNothing)
{
    Model model = driftingApart();
    model.goal = testkit::constant(0);
    Search search(model);
    search.run();
    EXPECT_TRUE(search.goals.states.empty());
    // The first state and the one after the first turn are explored; the state after the second
    // turn closes the cycle, gains nothing and is dropped. An enlarged state would have been
    // explored again as a root.
    EXPECT_EQ(livetest::CountingPassedList::added, 2);
}

TEST(RobustReachability, EachRoundThroughAStateIsWalkedOnce)
{
    // The round taken first leads back inside the first state and is walked on once, to find
    // the rounds made of both; from there, the same round again and the other one (inside both
    // states of the path) are dropped. The other round from the first state then leads into an
    // explored state. So two states are explored, however the rounds could be combined.
    Model model = twoRounds();
    model.goal = testkit::constant(0);
    Search search(model);
    search.run();
    EXPECT_TRUE(search.goals.states.empty());
    EXPECT_EQ(livetest::CountingPassedList::added, 2);
}

TEST(RobustReachability, ALoopThatTakesNoTimeLetsNoDriftBuildUp)
{
    for (const bool invariant : {false, true}) {
        SCOPED_TRACE(invariant ? "bounded by the invariant" : "bounded by the guard");
        Model model = zeroTimeLoop(invariant);
        model.goal = ExpressionRef(new InLocation(0, model.locations[0]));
        Search search(model, false);
        search.run();
        EXPECT_TRUE(search.goals.states.empty());
    }
}

}  // namespace
