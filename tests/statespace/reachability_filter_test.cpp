// The reachability checker from the registry, on small compiled models: goals found, missed and
// holding at once, stops, supremum and infimum values, the chain's optional stages, and the
// refinement of goals that a convex-hull store finds only in its over-approximation.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "reach_fixture.h"
#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "pipeline/deadlock.h"
#include "runtime/clock_expression.h"
#include "statespace/path.h"

namespace {

// Interned transitions are process-wide; they are given back after the last test.
class ClearInternedTransitions : public ::testing::Environment
{
public:
    void TearDown() override { clearEdgeTuples(); }
};
::testing::Environment* const clearInterned = ::testing::AddGlobalTestEnvironment(new ClearInternedTransitions);

using reachtest::Options;
using reachtest::Search;

std::string locationOf(SymbolicState* state, uint32_t process)
{
    return state->getLocation(process)->getName();
}

int32_t valueOf(reachtest::CompiledModel& model, SymbolicState* state, const std::string& name)
{
    return model.system->findVariable(name)->getValue(state);
}

TEST(ReachabilityFilter, FindsReachableGoalsAndExhaustsTheSpaceForUnreachableOnes)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    // Every state: the start, then per flag the counter at 0..3 and done.
    constexpr int allStates = 1 + 3 * 5;
    struct Case
    {
        const char* goal;
        bool holds;
        int explored;  // states taken from the waiting list (-1: not checked)
    };
    const Case cases[] = {
        {"Counter.done", true, -1},
        {"n == 2 && flag == 3", true, -1},
        {"n == 4", false, allStates},
        {"Counter.done && flag == 0", false, allStates},
        // Holds in the initial state: found when it is stored, before any state is taken.
        {"n == 0", true, 0},
        {"Chooser.start", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.goal);
        Options options;
        options.silent = false;
        {
            Search search(*model->system, reachtest::formula(*model, c.goal), options);
            EXPECT_EQ(search.run(), c.holds);
            if (c.holds) {
                ExpressionRef goal = reachtest::formula(*model, c.goal);
                SymbolicState* copy = search.sink.state->clone();
                EXPECT_NE(goal->evaluate(copy), 0);
                copy->release();
                EXPECT_EQ(search.sink.goals, 1);
            } else {
                // Nothing is left waiting: every state was stored and explored.
                EXPECT_EQ(search.sink.goals, 0);
                EXPECT_EQ(search.figure("Size"), allStates);
                EXPECT_EQ(search.figure("Load"), 0);
            }
            if (c.explored >= 0) {
                EXPECT_EQ(search.job.explored, c.explored);
            }
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
}

TEST(ReachabilityFilter, DeadlocksAreGoalsLikeAnyOther)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    base::RefPtr<FilterConfiguration> registry;
    reachtest::registerStages();
    registry = new FilterConfiguration;
    // deadlock, alone and with a condition on the variables.
    for (const char* condition : {"", "flag == 2", "n < 3"}) {
        SCOPED_TRACE(condition);
        ExpressionRef goal(new DeadlockExpr(registry.get(), model->system.get()));
        if (*condition != 0) {
            goal = makeConjunction(reachtest::formula(*model, condition), goal);
        }
        Search search(*model->system, goal);
        const bool holds = search.run();
        // The counter can always go on until it is done; then nothing can happen any more.
        EXPECT_EQ(holds, std::string(condition) != "n < 3");
        if (holds) {
            EXPECT_EQ(locationOf(search.sink.state, 0), "done");
        }
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST(ReachabilityFilter, AStopEndsTheSearchAfterTheStateBeingExpanded)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    Options options;
    options.silent = false;
    {
        // The three successors of the initial state all satisfy the goal: each is stored and
        // reaches the sink, but no further state is taken after the first stop.
        Search search(*model->system, reachtest::formula(*model, "flag > 0"), options);
        EXPECT_TRUE(search.run());
        EXPECT_EQ(search.sink.goals, 3);
        EXPECT_EQ(search.job.explored, 1);
        EXPECT_EQ(valueOf(*model, search.sink.state, "flag"), 3);
        EXPECT_EQ(search.figure("Load"), 3);
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

// An interrupt may come after the search began and before its initial state arrived: the search
// then explores nothing, and the next search from the same stage runs in full.
TEST(ReachabilityFilter, AStopBeforeTheFirstStateIsNotForgotten)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    {
        Search search(*model->system, reachtest::formula(*model, "flag > 2"), Options());
        EXPECT_FALSE(search.run(true));
        EXPECT_EQ(search.job.explored, 0);
        EXPECT_TRUE(search.run());
        EXPECT_EQ(valueOf(*model, search.sink.state, "flag"), 3);
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST(ReachabilityFilter, SilentSearchesSkipTheProgressStage)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent);
        Options options;
        options.silent = silent;
        Search search(*model->system, reachtest::formula(*model, "n == 4"), options);
        EXPECT_FALSE(search.run());
        EXPECT_EQ(search.job.explored, silent ? 0 : 16);
    }
}

TEST(ReachabilityFilter, ASortingStageAtTheHeadStillVisitsEveryState)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    srand48(11);
    for (const char* goal : {"n == 4", "Counter.done && flag == 2"}) {
        SCOPED_TRACE(goal);
        Options options;
        options.sorting = true;
        options.silent = false;
        options.list = reachtest::makeList<CSSPassedWaitingList, 1>;
        Search search(*model->system, reachtest::formula(*model, goal), options);
        const bool holds = search.run();
        EXPECT_EQ(holds, std::string(goal) != "n == 4");
        if (!holds) {
            EXPECT_EQ(search.job.explored, 16);
        }
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST(ReachabilityFilter, DistanceGuidanceFindsTheTargetAndLeavesUnguidableTargetsAlone)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_distance.xta"));
    model->system->addDistVariable();
    struct Case
    {
        const char* goal;
        bool holds;
    };
    const Case cases[] = {
        {"P.C", true},
        {"flag == 1 && P.B", true},
        // Nobody sends what R waits for: every edge is at infinity, the whole space is searched.
        {"R.D", false},
        // Only a clock, which only leaving A lets pass 1: no edge can be given a distance, so the
        // search runs unguided and finds it.
        {"x > 5", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.goal);
        Options options;
        options.targetOrder = true;
        options.list = reachtest::makeList<CSSPassedWaitingList, 2>;
        {
            Search search(*model->system, reachtest::formula(*model, c.goal), options);
            EXPECT_EQ(search.run(), c.holds);
            if (c.holds) {
                // Found among the successors, not in the initial state.
                EXPECT_GT(search.figure("Size"), 1);
            }
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
}

TEST(ReachabilityFilter, DistanceGuidanceOnlyOrdersTheSearch)
{
    // The committed Chooser must move before the Counter can, over edges that lead nowhere near
    // "n == 3" and into a location without a distance for the other goal: steps the analysis sees
    // no way on from. They are explored last, not lost.
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    model->system->addDistVariable();
    struct Case
    {
        const char* goal;
        bool holds;
    };
    const Case cases[] = {
        {"Counter.done && flag == 2", true},
        {"n == 3", true},
        {"Counter.done && flag == 3 && n == 3", true},
        {"Counter.done && n < 3", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.goal);
        Options options;
        options.targetOrder = true;
        options.list = reachtest::makeList<CSSPassedWaitingList, 2>;
        {
            Search search(*model->system, reachtest::formula(*model, c.goal), options);
            EXPECT_EQ(search.run(), c.holds);
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
}

TEST(ReachabilityFilter, TheGoalStatesTraceLeadsToIt)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    Options options;
    options.traces = true;
    {
        Search search(*model->system, reachtest::formula(*model, "Counter.done"), options);
        ASSERT_TRUE(search.run());
        // Breadth first: the choice, three increments and the move to done.
        base::RefPtr<Trace> trace = search.traces->createTrace(search.sink.state->traceIndex);
        EXPECT_EQ(trace->length(), 5u);

        SymbolicState* initial = model->system->makeInitialState();
        PathRef path = makePath(search.registry.get(), initial, trace, reachtest::formula(*model, "Counter.done"),
                                nullptr, nullptr);
        initial->release();
        ASSERT_TRUE(path);
        EXPECT_EQ(locationOf(path->state, 0), "done");
        EXPECT_EQ(valueOf(*model, path->state, "n"), 3);
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST(ReachabilityFilter, SupremumAndInfimumQueriesFillTheResultRecords)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    constexpr int32_t none = std::numeric_limits<int32_t>::min();
    struct Case
    {
        const char* name;
        int32_t type;
        const char* condition;
        ReachabilitySup::Record record;  // as the model checker initialises it
        ReachabilitySup::Record expected;
        bool stopped;  // a state settled every record: the search stopped there
    };
    const Case cases[] = {
        // The bound 4 is never reached: the whole space is explored for the largest value.
        {"supremum", 43, "true", {none, 4, false}, {3, 4, false}, false},
        {"supremum under a condition", 43, "flag == 1 && n < 2", {none, 4, false}, {1, 4, false}, false},
        // A state with the known bound ends the search at once.
        {"supremum reaching its bound", 43, "true", {none, 3, false}, {3, 3, true}, true},
        {"condition never met", 43, "n == 4", {none, 4, false}, {none, 4, false}, false},
        {"infimum", 44, "flag > 0", {-1, 4, false}, {-1, 0, true}, false},
        {"infimum reaching its bound", 44, "true", {0, 4, false}, {0, 0, true}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReachabilitySup::Record record = c.record;
        Options options;
        options.propertyType = c.type;
        options.results = &record;
        {
            Search search(*model->system, reachtest::formula(*model, c.condition), options);
            search.job.expressions.push_back(reachtest::value(*model, "n"));
            search.filter->setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&search.job));
            EXPECT_EQ(search.run(), c.stopped);
            EXPECT_EQ(record.upper, c.expected.upper);
            EXPECT_EQ(record.lower, c.expected.lower);
            if (c.expected.upper != none) {
                EXPECT_TRUE(record.seen);
            } else {
                EXPECT_FALSE(record.seen);
            }
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
}

TEST(ReachabilityFilter, ReachedStatesAreDumpedOnlyWhenAsked)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_counter.xta"));
    for (bool dump : {false, true}) {
        SCOPED_TRACE(dump);
        if (dump) {
            setenv("MIRVEK_DUMP_STATE", "", 1);
        } else {
            unsetenv("MIRVEK_DUMP_STATE");
        }
        Search search(*model->system, reachtest::formula(*model, "n == 2 && flag == 1"));
        testing::internal::CaptureStderr();
        const bool holds = search.run();
        int cost = 17;
        search.filter->setProperty(PROPERTY_MINCOST, &cost);
        const std::string written = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(holds);
        if (dump) {
            EXPECT_EQ(written, "Reached:\n( Counter.counting Chooser.chosen ) n=2 flag=1 \n(x<=1)\ncost=17\n");
        } else {
            EXPECT_EQ(written, "");
        }
    }
    unsetenv("MIRVEK_DUMP_STATE");
}

// Two ways into `mid` give the zones x == y and x == y + 2; their hull also holds x - y == 1,
// where the edge to `goal` is enabled. A convex-hull store finds the goal there; the trace check
// replays the trace, finds no run that reaches it, keeps `mid` exact and searches on. The goal
// never reaches the sink, and the filter tells that it met one it could not confirm.
TEST(ReachabilityFilter, TheTraceCheckRefinesAGoalOfTheHullThatNoRunReaches)
{
    auto model = reachtest::compileModel(reachtest::fixture("reach_hull.xta"));
    struct Case
    {
        const char* name;
        FilterConfiguration::Factory list;
        bool checkTrace;
        bool holds;
        bool unconfirmed;
    };
    const Case cases[] = {
        {"exact store", reachtest::makeList<CSSPassedWaitingList, 0>, false, false, false},
        {"hull without the check", reachtest::makeList<CHPassedWaitingList, 0>, false, true, false},
        {"hull with the check", reachtest::makeList<CHPassedWaitingList, 0>, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options;
        options.list = c.list;
        options.traces = true;
        options.checkTrace = c.checkTrace;
        {
            Search search(*model->system, reachtest::formula(*model, "P.goal"), options);
            EXPECT_EQ(search.run(), c.holds);
            EXPECT_EQ(dynamic_cast<ReachabilityFilter*>(search.filter)->metUnconfirmedGoal(), c.unconfirmed);
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
    {
        // A goal the hull finds that a run really reaches survives the check.
        Options options;
        options.list = reachtest::makeList<CHPassedWaitingList, 0>;
        options.traces = true;
        options.checkTrace = true;
        Search search(*model->system, reachtest::formula(*model, "P.mid && x == 2 && y == 0"), options);
        EXPECT_TRUE(search.run());
        EXPECT_FALSE(dynamic_cast<ReachabilityFilter*>(search.filter)->metUnconfirmedGoal());
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

}  // namespace
