// Run-time operations of the System (initial states, updates, clock rates, step back) and the
// state decorators they use.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/clock_expression.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/state_decorators.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "testkit/expressions.h"
#include "testkit/fake_state.h"
#include "testkit/model_builder.h"

using dbm::boundLE;
using testkit::EdgeSpec;
using testkit::ModelBuilder;
using testkit::Probe;
using testkit::TwoProcessModel;

TEST(InitialStates, SymbolicInitialState)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    FPVariable* d = m.system->addFPVariable("d", false, 2.5);
    SymbolicState* state = m.system->makeInitialState();
    EXPECT_EQ(state->getLocation(0), m.pA);
    EXPECT_EQ(state->getLocation(1), m.qA);
    EXPECT_EQ(m.n->getValue(state), 1);
    EXPECT_EQ(d->getValue(state), 0);
    EXPECT_EQ(state->zone.size(), 1u);
    EXPECT_TRUE(state->zone.satisfies(1, 0, boundLE(0)));
    EXPECT_FALSE(state->zone.satisfies(0, 1, dbm::boundLT(0)));
    state->release();
}

TEST(InitialStates, AViolatedInvariantReturnsTheStateToThePool)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    b.process("P", {{"A", testkit::clockLower(x, false, 1), "x >= 1"}});
    base::RefPtr<System> system = b.finish();
    EXPECT_THROW(system->makeInitialState(), InitialStateUndefinedException);
    EXPECT_EQ(system->statesInUse(), 0u);
    EXPECT_EQ(system->pooledStates(), 1u);
    EXPECT_THROW(system->buildInitialState(), InitialStateUndefinedException);

    // An evaluation error while building also gives the state back.
    ModelBuilder c;
    c.process("P", {{"A", ExpressionRef(new Probe(1, true)), "f()"}});
    base::RefPtr<System> failing = c.finish();
    EXPECT_THROW(failing->makeInitialState(), CannotEvaluateExpression);
    EXPECT_EQ(failing->statesInUse(), 0u);
}

TEST(InitialStates, ConcreteInitialState)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* late = b.system().addClock("late", false, 1.25);
    StateVariable* outOfRange = b.variable("v", 0, 3, 7);
    StateVariable* inRange = b.variable("w", 0, 3, 2);
    FPVariable* d = b.system().addFPVariable("d", false, 2.5);
    StateMetaVariable* meta = b.system().addStateMetaVariable("m", 0, 9, 4);
    b.process("P", {{"A", testkit::clockUpper(x, false, 1), "x <= 1"}});
    base::RefPtr<System> finished = b.finish();
    ConcreteState* state = finished->buildInitialState();
    EXPECT_EQ(outOfRange->getValue(state), 0);
    EXPECT_EQ(inRange->getValue(state), 2);
    EXPECT_EQ(d->getDoubleValue(state), 2.5);
    EXPECT_EQ(meta->getValue(state), 4);
    EXPECT_EQ(late->getDoubleValue(state), 1.25);
    EXPECT_EQ(x->getDoubleValue(state), 0.0);
    EXPECT_NE(state->getLocation(0), nullptr);
    EXPECT_EQ(state->spawnTable, nullptr);
    delete state;
}

TEST(Updates, EmptyTransitionRunsOnlyThePreAndPostUpdates)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    base::RefPtr<Probe> pre(new Probe(0));
    base::RefPtr<Probe> post(new Probe(0));
    m.system->addPreUpdate(ExpressionRef(pre.get()));
    m.system->addPostUpdate(ExpressionRef(post.get()));
    SymbolicState* state = m.system->makeInitialState();
    m.system->applyUpdates(state, emptyEdgeTuple());
    EXPECT_EQ(pre->evaluations, 1);
    EXPECT_EQ(post->evaluations, 1);
    EXPECT_EQ(m.n->getValue(state), 1);
    Edge* const both[] = {m.send, m.receive, nullptr};
    m.system->applyUpdates(state, both);
    EXPECT_EQ(m.n->getValue(state), 2);
    EXPECT_EQ(pre->evaluations, 2);
    state->release();
}

namespace {
// P: A --(a := b, b := a)--> B, with a = 1 and b = 2 at the start.
struct SwapModel
{
    base::RefPtr<System> system;
    StateVariable* a;
    StateVariable* b;
    StateMetaVariable* m;
    Edge* swap;

    explicit SwapModel(const ExpressionRef& extraUpdate = nullptr)
    {
        ModelBuilder builder;
        a = builder.variable("a", 0, 9, 1);
        b = builder.variable("b", 0, 9, 2);
        m = builder.system().addStateMetaVariable("m", 0, 9, 0);
        Process* p = builder.process("P", {{"A"}, {"B"}});
        EdgeSpec edgeSpec;
        edgeSpec.update = testkit::sequence(testkit::copy(a, b), testkit::copy(b, a));
        if (extraUpdate) {
            edgeSpec.update = testkit::sequence(edgeSpec.update, extraUpdate);
        }
        swap = builder.edge(p, "A", "B", edgeSpec);
        system = builder.finish();
    }
};
}  // namespace

TEST(Updates, ModestSemanticsReadTheValuesFromBeforeTheTransition)
{
    for (bool modest : {false, true}) {
        SwapModel model;
        model.system->modest = modest;
        SymbolicState* state = model.system->makeInitialState();
        Edge* const tuple[] = {model.swap, nullptr};
        model.system->applyUpdates(state, tuple);
        EXPECT_EQ(model.a->getValue(state), 2) << modest;
        EXPECT_EQ(model.b->getValue(state), modest ? 1 : 2) << modest;
        state->release();
    }
}

TEST(Updates, ModestSemanticsDeferOnlyIntegerStateVariables)
{
    ModelBuilder builder;
    StateVariable* a = builder.variable("a", 0, 9, 0);
    StateMetaVariable* m = builder.system().addStateMetaVariable("m", 0, 9, 0);
    Process* p = builder.process("P", {{"A"}, {"B"}});
    EdgeSpec edgeSpec;
    edgeSpec.update = testkit::sequence(testkit::assign(m, 5), testkit::copy(a, m));
    Edge* edge = builder.edge(p, "A", "B", edgeSpec);
    base::RefPtr<System> system = builder.finish();
    system->modest = true;
    SymbolicState* state = system->makeInitialState();
    Edge* const tuple[] = {edge, nullptr};
    system->applyUpdates(state, tuple);
    EXPECT_EQ(a->getValue(state), 5);
    state->release();

    // A failing update commits none of the transition's integer writes.
    SwapModel failing(ExpressionRef(new Probe(0, true)));
    failing.system->modest = true;
    state = failing.system->makeInitialState();
    Edge* const swap[] = {failing.swap, nullptr};
    EXPECT_THROW(failing.system->applyUpdates(state, swap), CannotEvaluateExpression);
    EXPECT_EQ(failing.a->getValue(state), 1);
    EXPECT_EQ(failing.b->getValue(state), 2);
    state->release();
}

TEST(Updates, CopiesOfTheDecoratorsCoverTheVariablesOfSpawnedProcesses)
{
    // A variable of a spawned process lies behind the static part of the integer array.
    ModelBuilder builder;
    builder.variable("a", 0, 9, 0);
    builder.process("P", {{"A"}, {"B"}});
    base::RefPtr<System> system = builder.finish();
    StateVariable* spawned = system->addStateVariable("D.v", 0, 99, 0, true);
    ConcreteState* state = system->buildInitialState();
    ASSERT_EQ(state->getIntegerArray().size(), 2);
    state->getVariables()[1] = 7;

    base::RefPtr<Edge> edge(new Edge());
    edge->setUpdate(testkit::assign(spawned, 42), "D.v := 42");
    Edge* const tuple[] = {edge.get(), nullptr};
    system->modest = true;
    system->applyUpdates(state, tuple);
    EXPECT_EQ(spawned->getValue(state), 42);

    // The simulating copy holds the whole array: the spawned variable is read from it and its
    // writes stay in it.
    std::vector<int32_t> integers(static_cast<size_t>(state->getIntegerArray().size()));
    std::vector<int32_t> meta(1);
    SimulatingStateDecorator simulating(state, integers.data(), meta.data());
    EXPECT_EQ(simulating.getIntegerCount(), 2u);
    EXPECT_EQ(spawned->getValue(&simulating), 42);
    EXPECT_TRUE(spawned->setValue(&simulating, 9));
    EXPECT_EQ(integers[1], 9);
    EXPECT_EQ(spawned->getValue(state), 42);
    system->modest = false;
    delete state;
}

TEST(ClockRates, StoppedClocksAndConflicts)
{
    struct Case
    {
        const char* name;
        double first;
        double second;
        bool stopped;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"stopped then running", 0.0, 1.0, true, "[Q.A] Conflicting x'==1"},
        {"running then stopped", 1.0, 0.0, true, ""},
        {"running twice", 1.0, 1.0, false, ""},
        {"a rate of two", 2.0, 1.0, false, "[P.A:x] Clock rate(2) must be 0 or 1."},
    };
    for (const Case& c : cases) {
        TwoProcessModel m = testkit::makeTwoProcessModel();
        m.pA->addClockRate(testkit::constant(1), ExpressionRef(new DoubleConstant(c.first)), false);
        m.qA->addClockRate(testkit::constant(1), ExpressionRef(new DoubleConstant(c.second)), false);
        SymbolicState* state = m.system->makeInitialState();
        uint32_t bits[2] = {0xffffffffu, 0xffffffffu};
        if (!c.error.empty()) {
            try {
                m.system->evaluateClockRates(state, bits);
                ADD_FAILURE() << c.name << ": no error";
            } catch (const RuntimeException& e) {
                EXPECT_EQ(std::string(e.what()), c.error) << c.name;
            }
        } else {
            EXPECT_EQ(m.system->evaluateClockRates(state, bits), c.stopped) << c.name;
            EXPECT_EQ(bits[0], c.stopped ? 2u : 0u) << c.name;
            EXPECT_EQ(bits[1], 2u) << c.name;
        }
        state->release();
    }

    // No rate anywhere: the bits are left alone. A hybrid clock's rate is skipped.
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    uint32_t bits[2] = {7, 7};
    EXPECT_FALSE(m.system->evaluateClockRates(state, bits));
    EXPECT_EQ(bits[0], 7u);
    m.x->setHybrid(true);
    m.pA->addClockRate(testkit::constant(1), ExpressionRef(new DoubleConstant(0.0)), false);
    EXPECT_FALSE(m.system->evaluateClockRates(state, bits));
    EXPECT_EQ(bits[0], 7u);
    state->release();
}

TEST(StepBack, UndoesResetsAndAppliesGuards)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    b.clock("y");
    StateVariable* n = b.variable("n", 0, 5, 0);
    Process* p = b.process("P", {{"A"}, {"B"}});
    EdgeSpec edgeSpec;
    edgeSpec.clockGuard = testkit::clockLower(x, false, 2);
    edgeSpec.update = testkit::sequence(testkit::assign(x, 0), testkit::assign(n, 3));
    Edge* edge = b.edge(p, "A", "B", edgeSpec);
    base::RefPtr<System> system = b.finish();

    SymbolicState* source = system->makeInitialState();
    source->delay();
    dbm::fed_t zone(3);
    zone.setInit();
    zone.constrain(1, 0, boundLE(0));  // x = 0, y arbitrary
    Edge* const tuple[] = {edge, nullptr};
    system->stepBack(source, tuple, zone, nullptr, -1, nullptr);

    auto contains = [&zone](double xv, double yv) {
        const double point[3] = {0.0, xv, yv};
        return zone.containsPoint(point);
    };
    EXPECT_TRUE(contains(2.0, 0.0));
    EXPECT_TRUE(contains(7.0, 3.0));
    EXPECT_FALSE(contains(1.5, 0.0));
    EXPECT_TRUE(contains(2.0, 100.0));
    // The source state is not changed by the step back.
    EXPECT_EQ(n->getValue(source), 0);
    EXPECT_TRUE(source->zone.satisfies(1, 0, dbm::boundLE(1)));
    source->release();
}

TEST(StepBack, SelectedInvariantsAndTheExtraCondition)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    Edge* const tuple[] = {m.receive, nullptr};
    ExpressionRef extra = testkit::clockUpper(m.x, false, 4);

    dbm::fed_t zone(3);
    zone.setInit();
    m.system->stepBack(source, tuple, zone, extra.get(), -1, nullptr);
    // P.A's invariant x <= 5 and the extra x <= 4 hold; the reset of y frees y.
    EXPECT_TRUE(zone.satisfies(1, 0, boundLE(4)));
    EXPECT_FALSE(zone.satisfies(0, 1, dbm::boundLT(-4)));

    const uint8_t none[2] = {0, 0};
    dbm::fed_t unmasked(3);
    unmasked.setInit();
    m.system->stepBack(source, tuple, unmasked, nullptr, -1, none);
    EXPECT_TRUE(unmasked.satisfies(0, 1, dbm::boundLT(-100)));
    source->release();
}

// Disjunctions reach the zone as the union of their sides, whether they come as the extra
// condition (such as the negated clock guard of a blocking transition) or as a clock guard.
TEST(StepBack, DisjunctionsKeepTheUnionOfTheirSides)
{
    struct Point
    {
        double x, y;
        bool inside;
    };
    struct Case
    {
        const char* name;
        // Builds (extra condition, clock guard) over the clocks x, y and the variable n (= 0).
        std::function<std::pair<ExpressionRef, ExpressionRef>(ClockVariable*, ClockVariable*, StateVariable*)> make;
        bool resetsY;       // the edge's update is y := 0 (the zone after it has y = 0)
        int32_t xAtMostAfter;  // the zone after the step has x <= this (-1: no bound)
        std::vector<Point> points;
    };
    auto orOf = [](const ExpressionRef& a, const ExpressionRef& b) { return ExpressionRef(new OrExpr(a, b)); };
    const std::vector<Case> cases = {
        {"negated guard 2 < x < 8 as the extra condition",
         [](ClockVariable* x, ClockVariable*, StateVariable*) {
             ExpressionRef guard = makeConjunction(testkit::clockLower(x, true, 2), testkit::clockUpper(x, true, 8));
             return std::make_pair(guard->negate(), ExpressionRef());
         },
         false, -1, {{1, 0, true}, {2, 5, true}, {5, 0, false}, {8, 1, true}, {9, 3, true}}},
        {"clock guard x <= 2 || x >= 8",
         [orOf](ClockVariable* x, ClockVariable*, StateVariable*) {
             return std::make_pair(ExpressionRef(),
                                   orOf(testkit::clockUpper(x, false, 2), testkit::clockLower(x, false, 8)));
         },
         false, -1, {{1, 0, true}, {5, 0, false}, {9, 0, true}}},
        {"clock guard x <= 2 || y >= 8 with y reset",
         [orOf](ClockVariable* x, ClockVariable* y, StateVariable*) {
             return std::make_pair(ExpressionRef(),
                                   orOf(testkit::clockUpper(x, false, 2), testkit::clockLower(y, false, 8)));
         },
         true, -1, {{1, 0, true}, {1, 50, true}, {5, 9, true}, {5, 1, false}}},
        {"left side empty on the zone: x >= 20 || x <= 1 within x <= 10",
         [orOf](ClockVariable* x, ClockVariable*, StateVariable*) {
             return std::make_pair(orOf(testkit::clockLower(x, false, 20), testkit::clockUpper(x, false, 1)),
                                   ExpressionRef());
         },
         false, 10, {{0.5, 0, true}, {5, 0, false}, {25, 0, false}}},
        {"an extra condition that fails leaves nothing",
         [](ClockVariable*, ClockVariable*, StateVariable* n) {
             return std::make_pair(testkit::compare(n, testkit::Relation::Equal, 1), ExpressionRef());
         },
         false, -1, {{0, 0, false}, {1, 1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelBuilder b;
        ClockVariable* x = b.clock("x");
        ClockVariable* y = b.clock("y");
        StateVariable* n = b.variable("n", 0, 5, 0);
        Process* p = b.process("P", {{"A"}, {"B"}});
        auto [extra, clockGuard] = c.make(x, y, n);
        EdgeSpec edgeSpec;
        edgeSpec.clockGuard = clockGuard;
        if (c.resetsY) {
            edgeSpec.update = testkit::assign(y, 0);
        }
        Edge* edge = b.edge(p, "A", "B", edgeSpec);
        base::RefPtr<System> system = b.finish();

        SymbolicState* source = system->makeInitialState();
        source->delay();
        const uint64_t inUse = system->statesInUse();
        dbm::fed_t zone(3);
        zone.setInit();
        if (c.resetsY) {
            zone.constrain(2, 0, boundLE(0));
        }
        if (c.xAtMostAfter >= 0) {
            zone.constrain(1, 0, boundLE(c.xAtMostAfter));
        }
        Edge* const tuple[] = {edge, nullptr};
        system->stepBack(source, tuple, zone, extra.get(), -1, nullptr);
        for (const Point& point : c.points) {
            const double v[3] = {0.0, point.x, point.y};
            EXPECT_EQ(zone.containsPoint(v), point.inside) << "x = " << point.x << ", y = " << point.y;
        }
        // The source keeps its zone (x = y) and the scratch state is back in the pool.
        const double onDiagonal[3] = {0.0, 3.0, 3.0};
        const double offDiagonal[3] = {0.0, 1.0, 0.0};
        EXPECT_TRUE(source->zone.containsPoint(onDiagonal));
        EXPECT_FALSE(source->zone.containsPoint(offDiagonal));
        EXPECT_EQ(system->statesInUse(), inUse);
        source->release();
    }
}

// ---- Decorators ---------------------------------------------------------------------------------

TEST(Decorators, StateDecoratorForwardsButKeepsTheEvaluationHooks)
{
    testkit::FakeState state(2, 1, 1, 2);
    StateDecorator decorator(&state);
    decorator.beginEvaluation();
    decorator.endEvaluation();
    EXPECT_EQ(state.beginCount, 0);
    EXPECT_EQ(state.endCount, 0);
    EXPECT_EQ(std::as_const(decorator).getVariables(), state.integers.data());
    const dbm::clock_constraint_t c{1, 0, boundLE(3)};
    EXPECT_TRUE(decorator.constrain(&c, 1));
    EXPECT_EQ(state.constrainCalls, 1);

    // A double result lands in the decorator's own cell.
    state.result = 0.0;
    DoubleConstant(4.5).evaluate(&decorator);
    EXPECT_EQ(decorator.result, 4.5);
    EXPECT_EQ(state.result, 0.0);
}

TEST(Decorators, SimulatingDecoratorLeavesTheStateAlone)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    std::vector<int32_t> integers(1);
    std::vector<int32_t> meta(1);
    SimulatingStateDecorator simulating(state, integers.data(), meta.data());
    EXPECT_EQ(simulating.getSymbolicState(), nullptr);
    EXPECT_EQ(simulating.getDoubles(), nullptr);
    const dbm::fed_t before = state->zone;
    EXPECT_TRUE(m.send->evaluateClockGuard(&simulating));
    Edge* const tuple[] = {m.send, nullptr};
    m.system->applyUpdates(&simulating, tuple);
    EXPECT_EQ(integers[0], 2);
    EXPECT_EQ(m.n->getValue(state), 1);
    EXPECT_EQ(state->zone.getHeader(), before.getHeader());
    state->release();
}

// Decorators that follow only a step's integer and clock effects show the wrapped state's
// floating-point values and let writes to them pass without effect; one that shows no such values
// at all reads them as 0.
TEST(Decorators, FloatingPointVariablesThroughDecorators)
{
    base::RefPtr<System> system(new System());
    system->addStateVariable("n", 0, 5, 0, false);
    FPVariable* d = system->addFPVariable("d", false, 0.0);
    SymbolicState state(system.get());
    ASSERT_TRUE(d->setDoubleValue(&state, 2.5));

    std::vector<int32_t> integers(1);
    std::vector<int32_t> meta(1);
    SimulatingStateDecorator simulating(&state, integers.data(), meta.data());
    EXPECT_EQ(d->getDoubleValue(&simulating), 2.5);
    EXPECT_EQ(d->getValue(&simulating), 2);
    EXPECT_TRUE(d->setValue(&simulating, 4));
    EXPECT_TRUE(d->setDoubleValue(&simulating, 4.5));
    EXPECT_EQ(d->getDoubleValue(&state), 2.5);

    std::vector<dbm::clock_constraint_t> constraints;
    ConstraintRecorder recorder(&state, &constraints);
    EXPECT_EQ(d->getDoubleValue(&recorder), 0.0);
    EXPECT_TRUE(d->setDoubleValue(&recorder, 1.0));
    EXPECT_EQ(d->getDoubleValue(&state), 2.5);
}

TEST(Decorators, ResetIndicatorAndConstraintRecorder)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    ConcreteState* state = m.system->buildInitialState();
    std::vector<int32_t> integers(1);
    std::vector<int32_t> meta(1);
    double valuation[3] = {0.0, 7.5, 1.25};
    ResetIndicator indicator(state, integers.data(), meta.data(), valuation);
    EXPECT_TRUE(m.x->setValue(&indicator, 3));
    EXPECT_EQ(valuation[1], 3.0);
    EXPECT_EQ(valuation[2], 1.25);
    indicator.copyClock(2, 1);
    EXPECT_EQ(valuation[2], 3.0);

    std::vector<dbm::clock_constraint_t> recorded;
    ConstraintRecorder recorder(state, &recorded);
    EXPECT_TRUE(m.pA->getInvariant()->evaluate(&recorder));
    EXPECT_TRUE(m.send->evaluateClockGuard(&recorder));
    EXPECT_EQ(recorded, (std::vector<dbm::clock_constraint_t>{{1, 0, boundLE(5)}, {0, 1, boundLE(-2)}}));
    EXPECT_TRUE(m.n->setValue(&recorder, 4));
    EXPECT_EQ(m.n->getValue(state), 4);
    delete state;
}

TEST(Decorators, StepBackRecorderRecordsCopiesAsNegatedSources)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    std::vector<int32_t> integers(1);
    std::vector<int32_t> meta(1);
    StepBackRecorder recorder(state, integers.data(), meta.data());
    recorder.resetClock(1, 4);
    recorder.recordCopy(2, 1);
    recorder.copyClock(2, 1);
    EXPECT_EQ(recorder.getResets(), (std::vector<std::pair<int32_t, int32_t>>{{1, 4}, {2, -1}}));
    state->release();
}
