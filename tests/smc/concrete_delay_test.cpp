// The delay step: the race of proposals, urgency, limits, goals and its reports.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/keys.h"
#include "smc/clock_rates.h"
#include "smc/concrete_delay.h"
#include "smc/window_decorator.h"
#include "smc_fixture.h"
#include "support/exceptions.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// One delay step over a compiled model, with every flag and sink of an owning checker.
struct DelayBench
{
    explicit DelayBench(const std::string& text, bool timeClock = false) : model(smctest::compile(text))
    {
        if (timeClock) {
            model->system->addTimeClock();
        }
        delay.setProperty(PROPERTY_SYSTEM, model->system.get());
        delay.setProperty(PROPERTY_FEEDBACK, &feedback);
        delay.setProperty(PROPERTY_SMCDELAYVARIABLE, &lastDelay);
        delay.aborted = &aborted;
        delay.deadlocked = &deadlocked;
        delay.stopConditionMet = &stopMet;
        delay.querySink = &query;
        delay.connect(&sink);
        state = model->initial();
    }

    // A step from a fresh initial state (kept proposals forgotten).
    bool fresh()
    {
        state = model->initial();
        delay.resetRun();
        return delay.put(state.get());
    }

    double clock(const std::string& name) { return state->getClocks().values[model->clock(name)]; }

    std::unique_ptr<smctest::Model> model;
    ConcreteDelay delay{false};
    smctest::SuccessorRecorder sink;
    smctest::StateRecorder query;
    std::unique_ptr<ConcreteState> state;
    std::string feedback;
    double lastDelay = -1;
    bool aborted = false;
    bool deadlocked = false;
    bool stopMet = false;
};

TEST(ConcreteDelay, ProposalIsDrawnBetweenTheGuardAndTheInvariantLimit)
{
    DelayBench bench("clock x;\n"
                     "process P() { state A { x <= 10 }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                     "system P;");
    double low = inf;
    double high = -inf;
    for (int k = 0; k < 400; ++k) {
        ASSERT_TRUE(bench.fresh());
        const double x = bench.clock("x");
        low = std::min(low, x);
        high = std::max(high, x);
        EXPECT_EQ(bench.lastDelay, x);
    }
    EXPECT_GE(low, 4.0);
    EXPECT_LT(low, 4.2);
    EXPECT_LE(high, 10.0);
    EXPECT_GT(high, 9.8);
    EXPECT_EQ(bench.sink.processes.back(), 0);
    EXPECT_FALSE(bench.sink.forced.back());
}

TEST(ConcreteDelay, AnEdgeBeyondTheInvariantLimitLeavesTheLimitAsTheDelay)
{
    DelayBench bench("clock x;\n"
                     "process P() { state A { x <= 10 }, B; init A; trans A -> B { guard x >= 12; }; }\n"
                     "system P;");
    ASSERT_TRUE(bench.fresh());
    EXPECT_EQ(bench.clock("x"), 10);
    EXPECT_FALSE(bench.deadlocked);
    // At the limit the process must act now: forced, no time passes.
    ASSERT_TRUE(bench.delay.put(bench.state.get()));
    EXPECT_TRUE(bench.sink.forced.back());
    EXPECT_EQ(bench.clock("x"), 10);
}

TEST(ConcreteDelay, UnboundedLocationsDrawExponentialDelaysOrLeaveTheRace)
{
    DelayBench rated("clock x;\n"
                     "process P() { state A [3], B; init A; trans A -> B { guard x >= 1; }; }\n"
                     "system P;");
    double total = 0;
    const int n = 4000;
    for (int k = 0; k < n; ++k) {
        ASSERT_TRUE(rated.fresh());
        ASSERT_GE(rated.clock("x"), 1.0);
        total += rated.clock("x") - 1.0;
    }
    EXPECT_NEAR(total / n, 1.0 / 3, 0.03);

    // A rate of zero takes the process out of the race: nobody acts, time passes for ever.
    DelayBench stopped("clock x;\n"
                       "process P() { state A [0], B; init A; trans A -> B { guard x >= 1; }; }\n"
                       "system P;");
    stopped.fresh();
    EXPECT_TRUE(stopped.deadlocked);
    EXPECT_EQ(stopped.sink.processes.back(), -1);

    DelayBench missing("clock x;\n"
                       "process P() { state A, B; init A; trans A -> B { guard x >= 1; }; }\n"
                       "system P;");
    try {
        missing.fresh();
        FAIL() << "no exception";
    } catch (const SystemException& e) {
        EXPECT_STREQ(e.what(), "Location P.A has unbounded delay but no positive rate.");
    }
}

TEST(ConcreteDelay, UrgentAndCommittedProcessesActWithoutDelay)
{
    DelayBench urgent("clock x;\n"
                      "process P() { state A, B; urgent A; init A; trans A -> B { guard x > 3; }; }\n"
                      "process Q() { state A { x <= 10 }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                      "system P, Q;");
    ASSERT_TRUE(urgent.fresh());
    EXPECT_EQ(urgent.sink.processes.back(), 0);  // even though none of its edges is enabled
    EXPECT_TRUE(urgent.sink.forced.back());
    EXPECT_EQ(urgent.clock("x"), 0);

    // In a committed state only committed processes with an enabled edge may act; here none.
    DelayBench locked("int n;\n"
                      "process P() { state A, B; commit A; init A; trans A -> B { guard n == 1; }; }\n"
                      "process Q() { state A, B; init A; trans A -> B { }; }\n"
                      "system P, Q;");
    EXPECT_FALSE(locked.fresh());
    EXPECT_TRUE(locked.aborted);
    EXPECT_EQ(locked.feedback, "State\n( P.A Q.A )\n[ ]\nn=0 \nis time-locked.\n");
    EXPECT_TRUE(locked.sink.processes.empty());
}

TEST(ConcreteDelay, AProcessWhoseEdgesCanNeverBeEnabledBeforeItsLimitIsTimeLocked)
{
    DelayBench bench("clock x; int n;\n"
                     "process P() { state A { x <= 10 }, B; init A; trans A -> B { guard n == 1; }; }\n"
                     "system P;");
    bench.state = bench.model->initial();
    bench.state->setClockValue(bench.model->clock("x"), 2.5);
    EXPECT_FALSE(bench.delay.put(bench.state.get()));
    EXPECT_TRUE(bench.aborted);
    EXPECT_EQ(bench.feedback, "Location P.A\n[ x=2.5 ]\nn=0 \nis time-locked.\n");
}

// A strict invariant is left unsatisfied at its limit: a process that cannot leave before it is
// time-locked there, as at the limit of a non-strict one, whichever step finds it.
TEST(ConcreteDelay, AProcessAtTheLimitOfAStrictInvariantIsTimeLocked)
{
    for (const char* guard : {"x >= 1", "x > 1", "x >= 2"}) {
        SCOPED_TRACE(guard);
        DelayBench bench(std::string("clock x;\n"
                                     "process P() { state A { x < 1 }, B; init A; trans A -> B { guard ") +
                         guard + "; }; }\nsystem P;");
        bench.state = bench.model->initial();
        bool moved = true;
        for (int step = 0; step < 3 && moved; ++step) {
            moved = bench.delay.put(bench.state.get());
        }
        EXPECT_FALSE(moved);
        EXPECT_TRUE(bench.aborted);
        EXPECT_TRUE(bench.feedback.starts_with("Location P.A\n[ x=")) << bench.feedback;
        EXPECT_TRUE(bench.feedback.ends_with(" ]\n\nis time-locked.\n")) << bench.feedback;
        EXPECT_LT(bench.clock("x"), 1.0);
        EXPECT_GT(bench.clock("x"), 0.99);
    }
    // Found on the state a step is given.
    DelayBench given("clock x;\nprocess P() { state A { x < 1 }, B; init A; trans A -> B { guard x >= 2; }; }\n"
                     "system P;");
    given.state = given.model->initial();
    given.state->setClockValue(given.model->clock("x"), 1.0);
    EXPECT_FALSE(given.delay.put(given.state.get()));
    EXPECT_TRUE(given.aborted);
    EXPECT_EQ(given.feedback, "Location P.A\n[ x=1 ]\n\nis time-locked.\n");
}

TEST(ConcreteDelay, InfiniteDelaysEndTheRunOrJumpJustPastItsTimeBound)
{
    const char* idle = "clock x; process P() { state A; init A; } system P;";
    DelayBench bench(idle, true);
    const uint32_t time = bench.model->system->getTimeClock();
    bench.fresh();
    EXPECT_TRUE(bench.deadlocked);
    EXPECT_EQ(bench.clock("x"), inf);
    // Two infinite proposals are equal: the process is still the winner, with nothing to take.
    EXPECT_EQ(bench.sink.processes.back(), 0);

    struct Case
    {
        double timeBefore;
        double delay;
    };
    for (const Case c : {Case{3, 2.1}, Case{6, 1.0}, Case{0, 5.1}}) {
        DelayBench bounded(idle, true);
        bounded.delay.runBound = 5;
        bounded.state->setClockValue(time, c.timeBefore);
        bounded.delay.put(bounded.state.get());
        EXPECT_NEAR(bounded.lastDelay, c.delay, 1e-12) << "from " << c.timeBefore;
        EXPECT_FALSE(bounded.deadlocked);
    }
}

TEST(ConcreteDelay, AGoalReachedByWaitingEndsTheStepAtThatMoment)
{
    DelayBench bench("clock x;\n"
                     "process P() { state A { x <= 200 }, B; init A; trans A -> B { guard x >= 100; }; }\n"
                     "system P;");
    ExpressionRef goal = bench.model->formula("x > 5");
    bench.delay.setProperty(PROPERTY_EXPRESSION, goal.get());
    bench.state->setClockValue(bench.model->clock("x"), 3);
    ASSERT_TRUE(bench.delay.put(bench.state.get()));
    ASSERT_EQ(bench.query.clocks.size(), 1u);
    EXPECT_NEAR(bench.lastDelay, 2 + CSDecorator::strictMargin, 1e-12);
    EXPECT_TRUE(bench.sink.processes.empty());  // no transition in this step

    // A stop condition that holds is reported to the owner and also ends the step.
    DelayBench stopped("clock x; int n = 1;\n"
                       "process P() { state A { x <= 10 }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                       "system P;");
    ExpressionRef condition = stopped.model->formula("n == 1");
    stopped.delay.setProperty(PROPERTY_SMCSTOPCONDITION, condition.get());
    stopped.fresh();
    EXPECT_TRUE(stopped.stopMet);
    EXPECT_EQ(stopped.query.clocks.size(), 1u);
}

TEST(ConcreteDelay, KeptProposalsAreReusedLessTheTimePassedUnlessStateIsShared)
{
    const char* local = "process P() { clock x; state A { x <= 10 }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                        "system P;";
    DelayBench own(local);
    own.fresh();
    // Nobody moved: the same proposal, less the time that passed, wins at once.
    own.delay.put(own.state.get());
    EXPECT_EQ(own.lastDelay, 0);

    DelayBench shared(std::string("int n;\n") + local);
    int positive = 0;
    for (int k = 0; k < 20; ++k) {
        shared.fresh();
        if (shared.clock("P.x") < 10) {
            shared.delay.put(shared.state.get());
            positive += shared.lastDelay > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(positive, 0);  // drawn afresh inside what is left of the window
}

TEST(ConcreteDelay, FineStepsNeverExceedTheDiscretisationStep)
{
    DelayBench bench("clock x; double r = 2.0;\n"
                     "process P() { state A { x <= 10 && x' == r }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                     "system P;");
    double step = 0.25;
    bench.delay.setProperty(PROPERTY_DELTATIME, &step);
    bench.fresh();
    EXPECT_EQ(bench.lastDelay, 0.25);
    EXPECT_EQ(bench.clock("x"), 0.5);  // at rate 2
    EXPECT_EQ(bench.sink.processes.back(), -1);
    EXPECT_FALSE(bench.delay.getKept()[0]);
}

// The process can neither stay nor leave: it is reported, never an internal error.
TEST(ConcreteDelay, AnInvariantThatDoesNotHoldBeforeTheStepIsATimeLock)
{
    DelayBench bench("clock x; process P() { state A { x <= 10 }; init A; } system P;");
    bench.state->setClockValue(1, 11);
    EXPECT_FALSE(bench.delay.put(bench.state.get()));
    EXPECT_TRUE(bench.aborted);
    EXPECT_EQ(bench.feedback, "Location P.A\n[ x=11 ]\n\nis time-locked.\n");
    EXPECT_TRUE(bench.sink.processes.empty());
}

TEST(ClockRates, AdvancingSnapsValuesNearIntegers)
{
    auto model = smctest::compile("clock x, y; process P() { state A; init A; } system P;");
    auto state = model->initial();
    const double rates[] = {1, 1, 0.5};
    state->setClockValue(1, 0.1 + 0.2);
    state->setClockValue(2, 1);
    advanceClocks(state.get(), rates, 0.7);
    EXPECT_EQ(state->getClocks().values[1], 1.0);  // 0.30000000000000004 + 0.7 snapped
    EXPECT_EQ(state->getClocks().values[2], 1.35);
    const double stopped[] = {1, 0, 1};
    advanceClocks(state.get(), stopped, inf);
    EXPECT_EQ(state->getClocks().values[1], 1.0);  // a stopped clock stays, also for ever
}

}  // namespace
