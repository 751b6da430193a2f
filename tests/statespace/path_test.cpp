// Regeneration of traces on small compiled models: the candidates of each generation, their
// reduction, relaxed replays of transitions that no candidate can take, stable traces, and
// concrete delays.

#include "statespace/path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "reach_fixture.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "runtime/clock_expression.h"
#include "support/exceptions.h"
#include "testkit/model_builder.h"

namespace {

// The interned one-edge transition of edge i of process 0.
EdgeTuple transition(System& system, size_t i)
{
    Edge* tuple[2] = {system.getProcess(0)->getEdges()[i].get(), nullptr};
    return internEdgeTuple(tuple);
}

// A trace of one-edge transitions of process 0, by edge index.
base::RefPtr<Trace> trace(System& system, std::initializer_list<size_t> edges)
{
    base::RefPtr<MTSTrace> result(new MTSTrace);
    std::vector<size_t> order(edges);
    for (auto e = order.rbegin(); e != order.rend(); ++e) {
        result->pushFront(transition(system, *e));
    }
    result->begin();
    return result;
}

class PathTest : public ::testing::Test
{
protected:
    void use(const std::string& fixture)
    {
        model = reachtest::compileModel(reachtest::fixture(fixture));
        start(*model->system);
    }

    // A guard of two clock intervals, which the language does not let a model write: P may leave
    // A { x <= 5 } for the committed B while x < 1 or x > 3, so that step has two zones; the
    // reset on the way on to C makes them equal again.
    void useTwoIntervals()
    {
        testkit::ModelBuilder builder;
        x = builder.clock("x");
        Process* p = builder.process("P", {{"A", testkit::clockUpper(x, false, 5), "x <= 5"},
                                           {"B", nullptr, "", true},
                                           {"C"}});
        testkit::EdgeSpec split;
        split.clockGuard = new OrExpr(testkit::clockUpper(x, true, 1), testkit::clockLower(x, true, 3));
        builder.edge(p, "A", "B", split);
        testkit::EdgeSpec reset;
        reset.update = testkit::assign(x, 0);
        builder.edge(p, "B", "C", reset);
        built = builder.finish();
        start(*built);
    }

    void start(System& system)
    {
        reachtest::registerStages();
        registry = new FilterConfiguration;
        initial = system.makeInitialState();
    }

    System& system() { return model != nullptr ? *model->system : *built; }

    void TearDown() override
    {
        last.clear();
        if (initial != nullptr) {
            initial->release();
        }
        if (model != nullptr || built) {
            EXPECT_EQ(system().statesInUse(), 0u);
        }
    }

    // Replays the trace; the candidates as "location: zone" texts.
    std::vector<std::string> candidates(Trace& t, PathList* lastGeneration = nullptr, PathList* relaxedEnds = nullptr)
    {
        PathList work;
        replayTrace(registry.get(), initial, t, work, lastGeneration, relaxedEnds);
        last = work;
        return describe(work);
    }

    static std::vector<std::string> describe(const PathList& steps)
    {
        std::vector<std::string> texts;
        for (const PathRef& step : steps) {
            texts.push_back(step->state->getLocation(0)->getName() + ": " + chaintest::zoneText(step->state));
        }
        return texts;
    }

    reachtest::CompiledModel* model = nullptr;
    base::RefPtr<System> built;
    ClockVariable* x = nullptr;
    base::RefPtr<FilterConfiguration> registry;
    SymbolicState* initial = nullptr;
    PathList last;
};

TEST_F(PathTest, EachGenerationHoldsTheZonesReachedByTheTraceSoFar)
{
    useTwoIntervals();
    System& system = this->system();
    // No transition: the zones of the delayed initial state, without parent.
    NullTrace none;
    EXPECT_EQ(candidates(none), std::vector<std::string>({"A: x<=5"}));
    EXPECT_FALSE(last.front()->parent);
    EXPECT_EQ(last.front()->transition, emptyEdgeTuple());

    // A successor of two zones: two steps with one parent (the later zone of the federation first,
    // the successor's own state with its first zone last).
    auto intoB = trace(system, {0});
    const std::vector<std::string> split = candidates(*intoB);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(std::set<std::string>(split.begin(), split.end()), std::set<std::string>({"B: x<1", "B: x>3, x<=5"}));
    EXPECT_EQ(last.front()->parent, last.back()->parent);
    EXPECT_EQ(last.front()->transition, transition(system, 0));
    ASSERT_TRUE(last.front()->parent);
    EXPECT_FALSE(last.front()->parent->parent);
    const PathRef firstOfTwo = last.front();

    // The reset makes both equal: the earlier one stays, with its own parent.
    auto intoC = trace(system, {0, 1});
    EXPECT_EQ(candidates(*intoC), std::vector<std::string>({"C: "}));
    EXPECT_EQ(chaintest::zoneText(last.front()->parent->state), chaintest::zoneText(firstOfTwo->state));

    // makePath takes the first candidate, or the first that satisfies the goal.
    PathRef first = makePath(registry.get(), initial, trace(system, {0}), nullptr, nullptr, nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(chaintest::zoneText(first->state), chaintest::zoneText(firstOfTwo->state));
    PathRef late = makePath(registry.get(), initial, trace(system, {0}), testkit::clockLower(x, true, 4), nullptr,
                            nullptr);
    ASSERT_TRUE(late);
    EXPECT_EQ(chaintest::zoneText(late->state), "x>3, x<=5");
    EXPECT_FALSE(makePath(registry.get(), initial, trace(system, {0}), testkit::clockLower(x, true, 6), nullptr,
                          nullptr));
    last.clear();
}

TEST_F(PathTest, ATransitionNoCandidateTakesFailsOrIsRetriedWithoutClockConstraints)
{
    // Through `wait` the zone at `mid` is x == y + 2, where the edge to `goal` (x == 1, y == 0)
    // is never enabled.
    use("reach_hull.xta");
    System& system = *model->system;
    auto spurious = [&] { return trace(system, {1, 2, 3}); };

    testing::internal::CaptureStdout();
    try {
        candidates(*spurious());
        ADD_FAILURE() << "the replay went through";
    } catch (const Bug& bug) {
        EXPECT_STREQ(bug.what(), "Cannot generate the trace");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");

    // With the lists: the generation from which the edge was tried, and the ends of the relaxed
    // continuation; no exact end is left.
    PathList lastGeneration;
    PathList relaxedEnds;
    EXPECT_TRUE(candidates(*spurious(), &lastGeneration, &relaxedEnds).empty());
    EXPECT_EQ(describe(lastGeneration), std::vector<std::string>({"mid: x>=2, x-y<=2, y-x<=-2"}));
    EXPECT_EQ(describe(relaxedEnds), std::vector<std::string>({"goal: x>=1, x-y<=1, y-x<=-1"}));
    EXPECT_EQ(relaxedEnds.front()->parent, lastGeneration.front());
    EXPECT_FALSE(makePath(registry.get(), initial, spurious(), nullptr, &lastGeneration, &relaxedEnds));
    EXPECT_EQ(lastGeneration.size(), 1u);
    EXPECT_EQ(relaxedEnds.size(), 1u);

    // A trace that runs exactly leaves relaxedEnds empty and the last tried generation behind.
    PathRef real = makePath(registry.get(), initial, trace(system, {1, 2}), nullptr, &lastGeneration, &relaxedEnds);
    ASSERT_TRUE(real);
    EXPECT_TRUE(relaxedEnds.empty());
    EXPECT_EQ(describe(lastGeneration), std::vector<std::string>({"wait: x<=2, x-y<=0, y<=2, y-x<=0"}));
    lastGeneration.clear();
}

TEST_F(PathTest, StableTracesKeepOnlyWhatLeadsToTheEnd)
{
    useTwoIntervals();
    System& system = this->system();
    PathRef path = makePath(registry.get(), initial, trace(system, {0}), testkit::clockUpper(x, true, 1), nullptr,
                            nullptr);
    ASSERT_TRUE(path);
    Path* first = path->linkSteps();
    EXPECT_EQ(first, path->parent.get());
    EXPECT_EQ(first->next, path.get());
    EXPECT_EQ(chaintest::zoneText(first->state), "x<=5");
    path->stabilise();
    // From A only the valuations that may still take the guard's lower interval remain.
    EXPECT_EQ(chaintest::zoneText(first->state), "x<1");
    EXPECT_EQ(chaintest::zoneText(path->state), "x<1");
}

TEST_F(PathTest, ConcreteTracesMoveTheValuationBackStepByStep)
{
    useTwoIntervals();
    System& system = this->system();
    PathRef path = makePath(registry.get(), initial, trace(system, {0, 1}), nullptr, nullptr, nullptr);
    ASSERT_TRUE(path);
    dbm::valuation_t v(system.getClockCount());
    v[1] = 2.5;
    path->makeConcrete(v);
    Path* inB = path->parent.get();
    Path* inA = inB->parent.get();
    // 2.5 time units in C since the reset; none in the committed B; in A as long as it takes from
    // x == 0, where the trace starts, to a value of x in B's zone.
    EXPECT_DOUBLE_EQ(path->delay, 2.5);
    EXPECT_DOUBLE_EQ(inB->delay, 0.0);
    const double atB[2] = {0.0, inA->delay};
    EXPECT_TRUE(inB->state->zone.containsPoint(atB)) << inA->delay;
    EXPECT_DOUBLE_EQ(v[1], 0.0);
}

TEST_F(PathTest, TheDelayOfAStepStopsShortOfAStrictLowerBound)
{
    useTwoIntervals();
    System& system = this->system();
    struct Case
    {
        const char* location;
        bool strict;  // the lower bound of x is 1, strict or not
        double x;
        double delay;
    };
    const Case cases[] = {
        {"A", true, 1.8, 0.3},  // 0.8 past the bound: epsilon short of it
        {"A", true, 1.4, 0.2},  // 0.4 past the bound, less than epsilon: half way
        {"A", false, 1.8, 0.8},
        {"A", false, 1.0, 0.0},
        {"B", true, 1.8, 0.0},  // committed: no time passes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.location) + " " + std::to_string(c.x));
        SymbolicState* state = chaintest::stateAt(system, {c.location == std::string("A") ? 0u : 1u});
        state->zone.setInit();
        state->zone.constrain(0, 1, c.strict ? dbm::boundLT(-1) : dbm::boundLE(-1));
        dbm::valuation_t v(system.getClockCount());
        v[1] = c.x;
        EXPECT_NEAR(computeStepDelay(state, &system, v, 0.5), c.delay, 1e-9);
        EXPECT_NEAR(v[1], c.x - c.delay, 1e-9);
        state->release();
    }
}

// Twenty strict steps and a goal that leaves them less than one unit of slack in all: the run
// found forwards meets every bound, with values a binary double holds exactly, and the check of a
// run refuses delays that break a guard, an invariant or the start at 0.
TEST_F(PathTest, ForwardRunsMeetEveryBoundOfATightPath)
{
    use("trace_tight_loop.xta");
    System& system = *model->system;
    base::RefPtr<MTSTrace> steps(new MTSTrace);
    steps->pushFront(transition(system, 1));
    for (int i = 0; i < 20; ++i) {
        steps->pushFront(transition(system, 0));
    }
    steps->begin();
    PathRef path = makePath(registry.get(), initial, steps, nullptr, nullptr, nullptr);
    ASSERT_TRUE(path);
    const dbm::fed_t end = path->state->zone;
    dbm::valuation_t v(system.getClockCount());
    path->makeConcreteForwards(v, end);
    EXPECT_TRUE(path->isConcreteRun(v, end));
    for (size_t c = 0; c < v.size(); ++c) {
        EXPECT_EQ(v[c], 0.0);
    }
    double total = 0;
    int loops = 0;
    for (Path* step = path->linkSteps(); step != nullptr; step = step->next) {
        total += step->delay;
        if (step->next != nullptr && step->next->transition == transition(system, 0)) {
            ++loops;
            EXPECT_GT(step->delay, 0.0);
            EXPECT_LT(step->delay, 1.0);
            EXPECT_EQ(step->delay * 1024, std::floor(step->delay * 1024)) << step->delay;
        }
    }
    EXPECT_EQ(loops, 20);
    EXPECT_GE(total, 20.0);

    struct Case
    {
        const char* what;
        double firstDelay;  // the first loop step's delay, replaced
        double start;       // x and y at the start
    };
    const Case cases[] = {
        {"the strict guard x < 1 broken", 1.0, 0.0},
        {"the guard x > 0 broken", 0.0, 0.0},
        {"a run that does not start at 0", -1, 0.5},
    };
    Path* first = path->linkSteps();
    const double kept = first->delay;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        first->delay = c.firstDelay < 0 ? kept : c.firstDelay;
        dbm::valuation_t start(system.getClockCount());
        for (size_t i = 1; i < start.size(); ++i) {
            start[i] = c.start;
        }
        EXPECT_FALSE(path->isConcreteRun(start, end));
    }
    first->delay = kept;
    EXPECT_TRUE(path->isConcreteRun(v, end));
}

TEST_F(PathTest, AModelWithoutClocksHasNoDelays)
{
    use("reach_clockless.xta");
    System& system = *model->system;
    PathRef path = makePath(registry.get(), initial, trace(system, {0, 0}), reachtest::formula(*model, "n == 2"),
                            nullptr, nullptr);
    ASSERT_TRUE(path);
    dbm::valuation_t v(system.getClockCount());
    path->makeConcrete(v);
    for (Path* step = path.get(); step != nullptr; step = step->parent.get()) {
        EXPECT_EQ(step->delay, 0.0);
    }
}

TEST_F(PathTest, ALongPathIsFreedWithoutDeepRecursion)
{
    use("reach_clockless.xta");
    PathRef last;
    for (int i = 0; i < 200000; ++i) {
        last = PathRef(new Path(last, emptyEdgeTuple(), initial->clone()));
    }
    last.release();
}

}  // namespace
