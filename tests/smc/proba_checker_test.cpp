// The probability checker in one process: estimates, hypothesis tests, the guards that abort a
// check, the outcome log and kept traces.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "fake_world.h"
#include "pipeline/keys.h"
#include "smc/checker_frame.h"
#include "smc/proba_checker.h"
#include "smc_fixture.h"
#include "support/exceptions.h"

namespace {

// A probability query over a compiled model, with the options of the command line's defaults.
struct Check
{
    Check(const std::string& text, const std::string& goal, int32_t type, int32_t boundKind, int32_t bound)
        : model(smctest::compile(text))
    {
        job.type = type;
        job.runBoundKind = boundKind;
        job.runBound = bound;
        ExpressionRef compiled = model->formula(goal);
        job.expressions.push_back(type == 7 || type == 9 ? compiled->negate() : compiled);
        if (type >= 9) {
            // The negated condition of the estimate (none given: true).
            job.expressions.push_back(ExpressionRef(new Constant(0)));
        }
        job.value = type >= 9 ? -1.0 : 0.5;
    }

    bool run(ProbaChecker& checker)
    {
        checker.connect(&verdicts);
        checker.setProperty(PROPERTY_SYSTEM, model->system.get());
        checker.setProperty(PROPERTY_SILENT, &silent);
        checker.setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&job));
        ExpressionRef goal = job.getExpression(0);
        checker.setProperty(PROPERTY_EXPRESSION, goal.get());
        checker.setProperty(PROPERTY_PROBABILITY, &job.value);
        checker.setProperty(PROPERTY_DELTAMINUS, &delta);
        checker.setProperty(PROPERTY_DELTAPLUS, &delta);
        checker.setProperty(PROPERTY_ALPHA, &alpha);
        checker.setProperty(PROPERTY_BETA, &alpha);
        checker.setProperty(PROPERTY_EPSILON, &alpha);
        checker.setProperty(PROPERTY_HISTOBARS, &bars);
        checker.setProperty(PROPERTY_FEEDBACK, &feedback);
        checker.setProperty(PROPERTY_SMCLOG, &log);
        checker.setProperty(PROPERTY_SMCLOGFILENAME, &logFile);
        checker.setProperty(PROPERTY_OPTIONTRACE, &traceKind);
        checker.begin();
        std::unique_ptr<ConcreteState> initial(model->system->buildInitialState());
        bool verdict = false;
        try {
            verdict = checker.put(initial.get());
        } catch (...) {
            checker.end();
            throw;
        }
        checker.end();
        return verdict;
    }

    bool run()
    {
        ProbaChecker checker;
        const bool verdict = run(checker);
        aborted = checker.isAborted();
        return verdict;
    }

    std::string histogram() const
    {
        std::ostringstream out;
        job.histogram.print(out);
        return out.str();
    }

    std::unique_ptr<smctest::Model> model;
    smctest::FakeJob job;
    smctest::VerdictSink verdicts;
    std::string feedback;
    bool silent = true;
    double delta = 0.01;
    double alpha = 0.05;
    int32_t bars = 100;
    bool log = false;
    const char* logFile = nullptr;
    int32_t traceKind = 0;
    bool aborted = false;
};

const char* idle = "clock x; process P() { state A; init A; } system P;";
// Moves from A to B when x reaches 2, then stays.
const char* timed = "clock x; int n;\n"
                    "process P() { state A { x <= 2 }, B; init A; trans A -> B { guard x >= 2; assign n = 1; }; }\n"
                    "system P;";
// Time never advances: an edge that must be taken at once, for ever.
const char* zeno = "clock x; process P() { state A { x <= 0 }; init A; trans A -> A { }; } system P;";

TEST(ProbaChecker, EstimatesFromTheChernoffBoundOfRuns)
{
    Check certain(idle, "true", 10, 1, 10);
    EXPECT_TRUE(certain.run());
    EXPECT_EQ(certain.feedback, "(738 runs) ");
    EXPECT_EQ(certain.job.value, 1.0);
    EXPECT_NEAR(certain.job.lowerBound, 0.995014, 5e-7);
    EXPECT_EQ(certain.job.upperBound, 1.0);
    // Every run succeeded at time 0 without a transition.
    EXPECT_EQ(certain.histogram(), "Values in [0,0] mean=0 steps=2.22045e-16: 738\n");
    EXPECT_EQ(certain.verdicts.verdicts, std::vector<bool>{true});

    Check never(idle, "false", 10, 1, 10);
    EXPECT_TRUE(never.run());
    EXPECT_EQ(never.feedback, "(738 runs) ");
    EXPECT_EQ(never.job.value, 0.0);
    EXPECT_EQ(never.job.lowerBound, 0.0);
    EXPECT_NEAR(never.job.upperBound, 0.00498601, 5e-9);
    EXPECT_EQ(never.histogram(), "");  // no value was recorded

    // The box form counts the runs that never meet the negated predicate.
    Check always(idle, "true", 9, 1, 10);
    EXPECT_TRUE(always.run());
    EXPECT_EQ(always.job.value, 1.0);
}

TEST(ProbaChecker, RecordsTheTimeOrTheStepsOfEachSuccessfulRun)
{
    // The goal is met at exactly the bound: a success, with the time 2 as its value.
    Check atBound(timed, "P.B", 10, 1, 2);
    atBound.alpha = 0.5;  // 3 runs
    atBound.run();
    EXPECT_EQ(atBound.job.value, 1.0);
    EXPECT_EQ(atBound.histogram(), "Values in [2,2] mean=2 steps=2.22045e-16: 3\n");
    // Bounded by time 1, the same goal is never met.
    Check early(timed, "P.B", 10, 1, 1);
    early.alpha = 0.5;
    early.run();
    EXPECT_EQ(early.job.value, 0.0);
    // Bounded by one step: one transition, recorded as a run length.
    Check steps(timed, "P.B", 10, 0, 1);
    steps.alpha = 0.5;
    steps.run();
    EXPECT_EQ(steps.job.value, 1.0);
    EXPECT_EQ(steps.histogram(), "Values in [1,1] mean=1 steps=1: 3\n");
    // A step bound of 0 ends every run after the first evaluation.
    Check none(timed, "P.B", 10, 0, 0);
    none.alpha = 0.5;
    none.run();
    EXPECT_EQ(none.job.value, 0.0);
}

TEST(ProbaChecker, HypothesisTestsDecideAfterThreeBatches)
{
    Check accepted(idle, "true", 8, 1, 10);
    EXPECT_TRUE(accepted.run());
    EXPECT_EQ(accepted.feedback, "(96 runs) ");
    Check rejected(idle, "false", 8, 1, 10);
    EXPECT_FALSE(rejected.run());
    EXPECT_EQ(rejected.feedback, "(96 runs) ");
    EXPECT_FALSE(rejected.aborted);
    EXPECT_EQ(rejected.verdicts.verdicts, std::vector<bool>{false});
}

TEST(ProbaChecker, TestParametersOutsideTheUnitIntervalAreRefusedBeforeAnyRun)
{
    struct Case
    {
        double theta;
        const char* message;
    };
    for (const Case c : {Case{0.995, "Invalid theta+delta = 1.005"}, Case{0.005, "Invalid theta-delta = -0.005"}}) {
        Check check(idle, "true", 8, 1, 10);
        check.job.value = c.theta;
        try {
            check.run();
            ADD_FAILURE() << "no exception for " << c.theta;
        } catch (const RuntimeException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(check.feedback, "");
    }
}

TEST(ProbaChecker, ARunInWhichTimeStandsStillAbortsTheCheck)
{
    for (int32_t type : {8, 10}) {
        Check check(zeno, "false", type, 1, 10);
        EXPECT_FALSE(check.run());
        EXPECT_TRUE(check.aborted);
        EXPECT_EQ(check.feedback, "Run exceeds 100000 steps: probably Zeno behavior.\n");
        EXPECT_EQ(check.verdicts.verdicts, std::vector<bool>{false});
    }
    // Bounded by steps, the same model is no concern of the guard.
    Check steps(zeno, "false", 10, 0, 5);
    EXPECT_TRUE(steps.run());
    EXPECT_FALSE(steps.aborted);
    EXPECT_EQ(steps.feedback, "(738 runs) ");
}

TEST(ZenoGuard, TimeMustAdvanceByMoreThanTheMarginEveryHundredThousandSteps)
{
    ZenoGuard guard(0.3);
    for (int k = 0; k < 100000; ++k) {
        ASSERT_TRUE(guard.beforeStep(0));
    }
    EXPECT_TRUE(guard.beforeStep(0.31));  // the 100001st step: looks, and starts counting anew
    for (int k = 0; k < 100000; ++k) {
        ASSERT_TRUE(guard.beforeStep(0.61));
    }
    EXPECT_FALSE(guard.beforeStep(0.61));  // exactly 0.3 is not enough
}

TEST(ProbaChecker, ATimeLockAbortsTheCheckWithTheStateThatIsLocked)
{
    Check check("int n;\n"
                "process P() { state A, B; commit A; init A; trans A -> B { guard n == 1; }; }\n"
                "system P;",
                "false", 10, 1, 10);
    EXPECT_FALSE(check.run());
    EXPECT_TRUE(check.aborted);
    EXPECT_EQ(check.feedback, "State\n( P.A )\n[ #time=0 ]\nn=0 \nis time-locked.\n");
}

TEST(ProbaChecker, AStopBeforeTheFirstRunEndsWithoutRuns)
{
    for (int32_t type : {8, 10}) {
        Check check(idle, "true", type, 1, 10);
        ProbaChecker checker;
        checker.setProperty(PROPERTY_STOP, nullptr);
        EXPECT_FALSE(check.run(checker));
        // No run count either: the report shows no part of a result.
        EXPECT_EQ(check.feedback, "");
        EXPECT_EQ(check.histogram(), "");
        // Without a verdict the check counts as given up, so no verdict text is composed.
        EXPECT_TRUE(checker.isAborted());
    }
    // The progress line's load of an estimate with trillions of runs is held at the int's limit.
    Check huge(idle, "true", 10, 1, 10);
    huge.alpha = 1e-6;
    ProbaChecker checker;
    checker.setProperty(PROPERTY_STOP, nullptr);
    huge.run(checker);
    EXPECT_EQ(checker.value(3), INT_MAX);
}

TEST(ProbaChecker, AnInterruptBeforeTheVerdictLeavesTheCheckWithoutOne)
{
    // Three steps per run; the user's stop arrives during the eleventh run, which is finished.
    const char* loop = "process P() { state A; commit A; init A; trans A -> A { }; } system P;";
    for (int32_t type : {8, 10}) {
        SCOPED_TRACE(type);
        Check check(loop, "false", type, 0, 3);
        check.silent = false;
        ProbaChecker checker;
        check.job.onProgress = [&checker](int64_t ticks) {
            if (ticks == 31) {
                checker.setProperty(PROPERTY_STOP, nullptr);
            }
        };
        EXPECT_FALSE(check.run(checker));
        EXPECT_TRUE(checker.isAborted());
        EXPECT_EQ(check.feedback, "");
        EXPECT_EQ(check.histogram(), "");
    }
    // Checks that reach their verdict are not taken for interrupted ones.
    for (int32_t type : {8, 10}) {
        Check check(loop, "false", type, 0, 3);
        ProbaChecker checker;
        check.run(checker);
        EXPECT_FALSE(checker.isAborted()) << type;
    }
}

TEST(ProbaChecker, ProgressIsTickedOncePerStepUnlessSilent)
{
    const char* loop = "process P() { state A; commit A; init A; trans A -> A { }; } system P;";
    Check loud(loop, "false", 10, 0, 3);
    loud.silent = false;
    loud.alpha = 0.5;
    ProbaChecker checker;
    // The progress line's load: the runs still to do, seen at the first step of each run.
    std::vector<int> load;
    loud.job.onProgress = [&](int64_t ticks) {
        if (ticks % 3 == 1) {
            load.push_back(checker.value(3));
        }
    };
    loud.run(checker);
    EXPECT_EQ(loud.job.ticks, 3 * 3);  // three steps in each of 3 runs
    EXPECT_EQ(load, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(checker.value(3), 0);

    // A test has no fixed number of runs; its guess of 1 run is exceeded, and the load stays 0.
    Check test(loop, "false", 8, 0, 3);
    test.alpha = 0.5;
    ProbaChecker tester;
    test.run(tester);
    EXPECT_EQ(tester.value(3), 0);
    Check quiet(loop, "false", 10, 0, 3);
    quiet.alpha = 0.5;
    quiet.run();
    EXPECT_EQ(quiet.job.ticks, 0);
}

TEST(ProbaChecker, TheOutcomeLogHoldsOneCharacterPerRun)
{
    const std::string path = ::testing::TempDir() + "smc_outcomes.log";
    Check check(idle, "true", 8, 1, 10);
    check.log = true;
    check.logFile = path.c_str();
    ::testing::internal::CaptureStdout();
    check.run();
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::ifstream in(path);
    std::string written;
    std::getline(in, written);
    EXPECT_EQ(written, std::string(96, '1'));
    EXPECT_EQ(out, "Simulations log: [" + std::string(96, '1') + "]\n");
    std::remove(path.c_str());
}

TEST(ProbaChecker, ALogFileThatCannotBeOpenedIsReported)
{
    Check check(idle, "true", 8, 1, 10);
    check.log = true;
    check.logFile = "/nonexistent-directory/outcomes.log";
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(check.run());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Cannot open the simulation log file /nonexistent-directory/outcomes.log: "
                   "No such file or directory\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(check.feedback, "(96 runs) ");
}

TEST(ProbaChecker, AKeptRunIsReplayedAsAConcreteTrace)
{
    Check check(timed, "P.B", 8, 1, 10);
    check.traceKind = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(check.run());
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "state\n( P.A ) n=0 \n[ x=0 #time=0 ]\n\n"
                   "delay 2\n\n"
                   "state\n( P.A ) n=0 \n[ x=2 #time=2 ]\n\n"
                   "transition\nP.A->P.B { x >= 2, tau, n := 1 }\n\n"
                   "state\n( P.B ) n=1 \n[ x=2 #time=2 ]\n\n");
}

// Several processes, each with its own model and checker, share one check.
struct Distributed
{
    Distributed(const std::vector<std::string>& models, const std::string& goal, int32_t type)
        : world(static_cast<int>(models.size()))
    {
        for (const std::string& text : models) {
            checks.push_back(std::make_unique<Check>(text, goal, type, 1, 10));
        }
        verdicts.resize(models.size());
        aborted.resize(models.size());
    }

    bool run()
    {
        std::vector<smctest::FakeWorld::Script> scripts;
        for (size_t r = 0; r < checks.size(); ++r) {
            scripts.push_back([this, r](smc::Communicator& comm) {
                ProbaChecker checker;
                checker.setCommunicator(&comm);
                verdicts[r] = checks[r]->run(checker);
                aborted[r] = checker.isAborted();
            });
        }
        const bool ok = world.run(scripts);
        EXPECT_TRUE(ok) << ::testing::PrintToString(world.failures());
        EXPECT_EQ(world.undeliveredMessages(), 0u);
        EXPECT_EQ(world.pendingReceives(), 0u);
        return ok;
    }

    smctest::FakeWorld world;
    std::vector<std::unique_ptr<Check>> checks;
    std::vector<bool> verdicts;
    std::vector<bool> aborted;
};

// Every run fails the time-locked model at once.
const char* locked = "int n;\n"
                     "process P() { state A, B; commit A; init A; trans A -> B { guard n == 1; }; }\n"
                     "system P;";

TEST(DistributedProbaChecker, AnEstimateSharesItsRunsAndGathersTheValuesOnRankZero)
{
    Distributed d({timed, timed, timed}, "P.B", 10);
    // Different run bounds make the values tell the processes apart.
    d.checks[1]->job.runBound = 10;
    ASSERT_TRUE(d.run());
    // 246 runs on each of the three processes.
    EXPECT_EQ(d.checks[0]->feedback, "(738 runs) ");
    EXPECT_EQ(d.checks[0]->job.value, 1.0);
    EXPECT_EQ(d.checks[0]->histogram(), "Values in [2,2] mean=2 steps=2.22045e-16: 738\n");
    // Workers keep their own figures and report nothing.
    EXPECT_EQ(d.checks[1]->feedback, "(246 runs) ");
    EXPECT_EQ(d.checks[1]->histogram(), "");
    EXPECT_EQ(d.verdicts, (std::vector<bool>{true, true, true}));
}

TEST(DistributedProbaChecker, ATestIsDecidedOnRankZero)
{
    Distributed d({idle, idle, idle, idle}, "true", 8);
    ASSERT_TRUE(d.run());
    EXPECT_TRUE(d.verdicts[0]);
    EXPECT_FALSE(d.aborted[0]);
    // Rank 0 reports the runs of all processes; each worker keeps its own count.
    auto count = [&](size_t rank) { return std::stoll(d.checks[rank]->feedback.substr(1)); };
    int64_t workers = 0;
    for (size_t r = 1; r < 4; ++r) {
        ASSERT_TRUE(d.checks[r]->feedback.starts_with("(")) << r;
        workers += count(r);
    }
    ASSERT_TRUE(d.checks[0]->feedback.starts_with("(")) << d.checks[0]->feedback;
    EXPECT_GE(count(0), workers);
    EXPECT_TRUE(d.checks[0]->feedback.ends_with(" runs) ")) << d.checks[0]->feedback;
}

TEST(DistributedProbaChecker, AWorkerThatAbortsStopsEveryProcessWithoutAHang)
{
    for (int32_t type : {8, 10}) {
        SCOPED_TRACE(type);
        Distributed d({idle, idle, locked}, "false", type);
        // Rank 0 and rank 1 run normally; rank 2 is time-locked in its first step.
        ASSERT_TRUE(d.run());
        EXPECT_FALSE(d.verdicts[0]);
        EXPECT_TRUE(d.aborted[0]);
        EXPECT_EQ(d.checks[0]->feedback, "");  // no "(N runs)" for an aborted check
        EXPECT_TRUE(d.aborted[2]);
        EXPECT_EQ(d.checks[2]->feedback, "State\n( P.A )\n[ #time=0 ]\nn=0 \nis time-locked.\n");
    }
}

TEST(DistributedProbaChecker, AnEvaluationErrorOnOneProcessStillReleasesTheOthers)
{
    // Division by zero in the goal on rank 1 only.
    const char* failing = "clock x; int z = 0; process P() { state A; init A; } system P;";
    for (int32_t type : {8, 10}) {
        SCOPED_TRACE(type);
        Distributed d({idle, failing, idle}, "true", type);
        d.checks[1]->job.expressions[0] = d.checks[1]->model->formula("1 / z == 1");
        ASSERT_FALSE(d.world.run({[&](smc::Communicator& comm) {
                                      ProbaChecker checker;
                                      checker.setCommunicator(&comm);
                                      d.verdicts[0] = d.checks[0]->run(checker);
                                      d.aborted[0] = checker.isAborted();
                                  },
                                  [&](smc::Communicator& comm) {
                                      ProbaChecker checker;
                                      checker.setCommunicator(&comm);
                                      d.checks[1]->run(checker);
                                  },
                                  [&](smc::Communicator& comm) {
                                      ProbaChecker checker;
                                      checker.setCommunicator(&comm);
                                      d.checks[2]->run(checker);
                                  }}));
        // Only rank 1's own error, passed on after the exchange; no deadlock.
        ASSERT_EQ(d.world.failures().size(), 1u);
        EXPECT_EQ(d.world.failures()[0].rfind("rank 1: ", 0), 0u) << d.world.failures()[0];
        EXPECT_TRUE(d.aborted[0]);
        EXPECT_EQ(d.world.undeliveredMessages(), 0u);
        EXPECT_EQ(d.world.pendingReceives(), 0u);
        // The job runner reports an evaluation error and goes on: the others go on too.
        EXPECT_FALSE(smc::failureShared());
    }
}

TEST(DistributedProbaChecker, AnErrorThatEndsTheProgramOnOneProcessEndsItOnEveryProcess)
{
    // Rank 1 alone meets a location that can wait for ever but has no rate; the program ends
    // there, so the others must not go on to the next query and wait for it.
    const char* rateless = "clock x; process P() { state A; init A; trans A -> A { guard x >= 1; }; } system P;";
    for (int32_t type : {8, 10}) {
        SCOPED_TRACE(type);
        Distributed d({idle, rateless, idle}, "false", type);
        std::vector<smctest::FakeWorld::Script> scripts;
        for (size_t r = 0; r < 3; ++r) {
            scripts.push_back([&d, r](smc::Communicator& comm) {
                ProbaChecker checker;
                checker.setCommunicator(&comm);
                d.checks[r]->run(checker);
            });
        }
        ASSERT_FALSE(d.world.run(scripts));
        std::vector<std::string> failures = d.world.failures();
        std::sort(failures.begin(), failures.end());
        EXPECT_EQ(failures, (std::vector<std::string>{"rank 0: The statistical check failed on process 1.",
                                                      "rank 1: Location P.A has unbounded delay but no positive rate.",
                                                      "rank 2: The statistical check failed on process 1."}));
        EXPECT_EQ(d.world.undeliveredMessages(), 0u);
        EXPECT_EQ(d.world.pendingReceives(), 0u);
        // Every process ends alike, so none of them has to stop the others.
        EXPECT_TRUE(smc::failureShared());
    }
}

}  // namespace
