// Expected values, comparisons, simulations and MITL queries in whole runs of the program, with
// fixed seeds and models whose runs are certain (smc_forced: P leaves A for B at time 2 and sets
// n; smc_idle: nothing ever moves), so that counts, values and texts are exact.

#include <string>

#include "driver/program_runner.h"

namespace {

const std::string header = "\nVerifying formula ";

class StatisticalQueryRun : public ProgramTest
{
protected:
    // Runs the queries on a model fixture with seed 1 and no progress output.
    RunResult check(const std::string& model, const std::string& queries, std::vector<std::string> options = {})
    {
        fixture(model, "m.xta");
        file("m.q", queries);
        std::vector<std::string> args = {"-q", "-s", "-r", "1"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("m.xta");
        args.push_back("m.q");
        return run(args);
    }

    static std::string verdict(int line, bool satisfied)
    {
        return header + std::to_string(line) + " at line " + std::to_string(line) + "\n" +
               (satisfied ? " -- Formula is satisfied.\n" : " -- Formula is NOT satisfied.\n");
    }
};

TEST_F(StatisticalQueryRun, ExpectedValuesAverageTheExtremeOfEachRun)
{
    const RunResult r = check("smc_forced.xta",
                              "E[<=10; 20](max: 7)\n"
                              "E[<=10; 20](min: n)\n"
                              "E[#<=3; 5](max: n)\n"
                              "E[<=1; 4](max: n)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + "(20 runs) E(max) = 7\nValues in [7,7] mean=7 steps=1: 20\n" +
                         verdict(2, true) + "(20 runs) E(min) = 0\nValues in [0,0] mean=0 steps=1: 20\n" +
                         // n becomes 1 with the first transition, within three steps but not within
                         // one time unit.
                         verdict(3, true) + "(5 runs) E(max) = 1\nValues in [1,1] mean=1 steps=1: 5\n" +
                         verdict(4, true) + "(4 runs) E(max) = 0\nValues in [0,0] mean=0 steps=1: 4\n");
}

TEST_F(StatisticalQueryRun, ExpectedValueRunsAreSharedOutOverTheProcesses)
{
    if (std::system("command -v mpirun >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mpirun";
    }
    launcher = {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", "3"};
    const RunResult r = check("smc_forced.xta", "E[<=10; 10](max: 7)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    // Every process makes ceil(10 / 3) runs.
    EXPECT_EQ(r.out, verdict(1, true) + "(12 runs) E(max) = 7\nValues in [7,7] mean=7 steps=1: 12\n");
}

TEST_F(StatisticalQueryRun, ComparisonsDecideWhichSideIsLikelier)
{
    const RunResult r = check("smc_forced.xta",
                              "Pr[<=10](<> true) >= Pr[<=10](<> false)\n"
                              "Pr[<=10](<> false) >= Pr[<=10](<> true)\n"
                              // [] P.A breaks at time 2, <> P.B holds then: the [] side is the
                              // unlikelier one.
                              "Pr[<=10]([] P.A) >= Pr[<=10](<> P.B)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + "(60 runs) Pr(..)/Pr(..) >= 1.1 with confidence 0.95.\n" +
                         verdict(2, false) + "(60 runs) Pr(..)/Pr(..) <= 0.9 with confidence 0.95.\n" +
                         verdict(3, false) + "(60 runs) Pr(..)/Pr(..) <= 0.9 with confidence 0.95.\n");
}

TEST_F(StatisticalQueryRun, AParametricComparisonDecidesAtEveryBoundValue)
{
    // 100 bound values 0.1 apart. Before time 2 P is still in A: [] P.A holds and <> P.B does not
    // (side 1 better, 1); from time 2 on it is the reverse (0). <> P.B against <> false cannot be
    // told apart before time 2 (0.5).
    const RunResult r = check("smc_forced.xta",
                              "Pr[<=10]([] P.A) >= Pr[<=10](<> P.B)\n"
                              "Pr[<=10](<> P.B) >= Pr[<=10](<> false)\n",
                              {"-c", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto values = [](const char* before, const char* after) {
        std::string line = "Values in [0,10] (in steps of 0.1):";
        for (int i = 1; i <= 100; ++i) {
            line += std::string(" ") + (i < 20 ? before : after);
        }
        return line + "\n";
    };
    EXPECT_EQ(r.out, verdict(1, false) + "(60 runs) Pr(..)/Pr(..) <= 0.9 with confidence 0.95.\n" + values("1", "0") +
                         verdict(2, true) + "(582 runs) Pr(..)/Pr(..) >= 1.1 with confidence 0.95.\n" +
                         values("0.5", "1"));
}

TEST_F(StatisticalQueryRun, SimulationsListTheTrajectoriesOfEachObservedExpression)
{
    // A clock constraint switches within the delay that takes x past 3: its steps lie at 3.
    // Time-bounded runs end with the delay that passes the bound (at 4.1).
    const RunResult r = check("smc_forced.xta", "simulate 2 [<=4] { n, x >= 3 }\n", {"-F", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) +
                         "n:\n"
                         "[0]: (0,0) (2,0) (2,1) (4.1,1)\n"
                         "[1]: (0,0) (2,0) (2,1) (4.1,1)\n"
                         "x >= 3:\n"
                         "[0]: (0,0) (3,0) (3,1) (4.1,1)\n"
                         "[1]: (0,0) (3,0) (3,1) (4.1,1)\n");
    // Resampled once per time unit between the observations after the transitions.
    EXPECT_EQ(slurp(dir / "sampling.log"), "0 0 0\n1 0.5 0\n2 1 0\n0 0 0\n1 0.5 0\n2 1 0\n");
}

TEST_F(StatisticalQueryRun, ARunBoundOnAClockEndsTheRunsAndMeasuresThemOnThatClock)
{
    // In smc_clock_bound y runs twice as fast as time: P moves at times 2 and 3, at y = 4 and 6.
    struct Case
    {
        const char* query;
        bool satisfied;
        std::string out;
    };
    const Case cases[] = {
        // The time coordinates are y's values; the run ends with the delay that takes y past 6
        // (a tenth beyond it, at half the time).
        {"simulate 1 [y<=6] { n, x, y }", true,
         "n:\n[0]: (0,0) (4,0) (4,1) (6,1) (6,2) (6.1,2)\n"
         "x:\n[0]: (0,0) (4,2) (4,0) (6.1,1.05)\n"
         "y:\n[0]: (0,0) (6.1,6.1)\n"},
        // The bound clock need not be observed, nor be the last observed expression. The delay
        // that takes y past 4 ends with the next move, at y = 6.
        {"simulate 1 [y<=4] { n }", true, "n:\n[0]: (0,0) (4,0) (4,1) (6,1)\n"},
        {"simulate 1 [y<=6] { y, n }", true,
         "y:\n[0]: (0,0) (6.1,6.1)\nn:\n[0]: (0,0) (4,0) (4,1) (6,1) (6,2) (6.1,2)\n"},
        // The same runs bounded by time.
        {"simulate 1 [<=3] { n, y }", true,
         "n:\n[0]: (0,0) (2,0) (2,1) (3,1) (3,2) (3.1,2)\ny:\n[0]: (0,0) (3.1,6.2)\n"},
        {"E[y<=4; 3](max: n)", true, "(3 runs) E(max) = 1\nValues in [1,1] mean=1 steps=1: 3\n"},
        {"E[<=4; 3](max: n)", true, "(3 runs) E(max) = 2\nValues in [2,2] mean=2 steps=1: 3\n"},
        {"Pr[y<=4](<> P.C)", true, "(738 runs) Pr(<> ...) in [0,0.00498601]\nwith confidence 0.95.\n"},
        // Reached exactly at the bound; the recorded values are y's.
        {"Pr[y<=6](<> P.C)", true,
         "(738 runs) Pr(<> ...) in [0.995014,1]\nwith confidence 0.95.\n"
         "Values in [6,6] mean=6 steps=2.22045e-16: 738\n"},
        {"Pr[y<=4](<> P.C) >= Pr[<=4](<> P.C)", false, "(60 runs) Pr(..)/Pr(..) <= 0.9 with confidence 0.95.\n"},
        {"Pr[y<=6](<> P.C) >= Pr[<=2](<> P.C)", true, "(60 runs) Pr(..)/Pr(..) >= 1.1 with confidence 0.95.\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = check("smc_clock_bound.xta", std::string(c.query) + "\n");
        EXPECT_EQ(r.status, 0) << c.query << "\n" << r.err;
        EXPECT_EQ(r.out, verdict(1, c.satisfied) + c.out) << c.query;
    }
}

TEST_F(StatisticalQueryRun, FractionalClockLimitsAreMetWhateverStepDividesThem)
{
    // Steps that add up to a fractional limit miss it by rounding errors, which grow with the
    // number of steps; the limits hold up to the simulator's tolerance all the same. Leaving A at
    // x = 0.1 takes ten firings within one time unit; firing at x >= 0.5 twenty within ten.
    for (const char* step : {"0.1", "0.05", "0.02", "0.01", "0.001", "0.0001"}) {
        RunResult r = check("smc_fraction_limit.xta", "E[<=1; 5](max: n)\n", {"-D", step});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, verdict(1, true) + "(5 runs) E(max) = 10\nValues in [10,10] mean=10 steps=1: 5\n")
            << "-D " << step;
        r = check("smc_fraction_period.xta", "E[<=10; 5](max: n)\n", {"-D", step});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, verdict(1, true) + "(5 runs) E(max) = 20\nValues in [20,20] mean=20 steps=1: 5\n")
            << "-D " << step;
    }
}

TEST_F(StatisticalQueryRun, ASamplingFileThatCannotBeWrittenIsReported)
{
    // A folder stands where the file would go; the simulation goes on without the file.
    fs::create_directory(dir / "sampling.log");
    const RunResult r = check("smc_forced.xta", "simulate 1 [<=4] { n }\n", {"-F", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + "n:\n[0]: (0,0) (2,0) (2,1) (4.1,1)\n");
    EXPECT_EQ(r.err, "Cannot open sampling.log: Is a directory\n");
}

TEST_F(StatisticalQueryRun, ARequestForNoRunsMakesNone)
{
    const RunResult r = check("smc_forced.xta", "simulate 1 [<=4] { n }\nsimulate 0 [<=4] { n }\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + "n:\n[0]: (0,0) (2,0) (2,1) (4.1,1)\n" + verdict(2, false) + "n:\n");
}

TEST_F(StatisticalQueryRun, AcceptingSimulationsRetainOnlyTheRunsThatReachThePredicate)
{
    const RunResult r = check("smc_forced.xta",
                              "simulate 5 [<=4] { n } : 2 : n == 1\n"
                              "simulate 5 [<=4] { n } : 2 : n == 2\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) +
                         "Tried 2 runs in total and found 2 accepting runs.\n"
                         "n:\n[0]: (0,0) (2,0) (2,1)\n[1]: (0,0) (2,0) (2,1)\n" +
                         verdict(2, false) + "Tried 5 runs in total and found 0 accepting runs.\nn:\n");
}

TEST_F(StatisticalQueryRun, ANonFiniteObservedValueAbortsTheSimulation)
{
    // d is a plain value: nothing observed changes within a delay, and the delay step keeps no
    // state from before it.
    const RunResult r = check("smc_growth.xta", "simulate 1 [<=5] { d }\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, header + "1 at line 1\n -- Aborted.\nd:\n[0]: (0,1) (1,1) (1,1e+200) (2,1e+200)\n");
    EXPECT_EQ(r.err, "m.xta:1: [error] Overflow on observed variable: d.\n");
}

TEST_F(StatisticalQueryRun, MitlFormulasAreEstimatedFromAFixedNumberOfRuns)
{
    const std::string certain = "(738 runs) Pr(MITL ) in [0.95,1]\nwith confidence 0.95.\n";
    const std::string never = "(738 runs) Pr(MITL ) in [0,0.05]\nwith confidence 0.95.\n";
    RunResult r = check("smc_forced.xta",
                        "Pr (n == 0)\n"
                        "Pr (true U[0,10] P.B)\n"
                        "Pr (P.A U[0,1] P.B)\n"
                        "Pr (P.B R[0,5] P.A)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    // The histogram holds the durations of the satisfying runs; without one it is not shown.
    EXPECT_EQ(r.out, verdict(1, true) + certain + "Values in [0,0] mean=0 steps=2.22045e-16: 738\n" +
                         verdict(2, true) + certain + "Values in [2,2] mean=2 steps=2.22045e-16: 738\n" +
                         verdict(3, true) + never +
                         // P.A must hold until P.B releases it: it stops holding at 2 < 5.
                         verdict(4, true) + never);

    // A formula still open when the model can no longer move counts as not satisfied.
    r = check("smc_idle.xta", "Pr ((X (X (X true))))\nPr ((X true))\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + never + verdict(2, true) + certain +
                         "Values in [0,0] mean=0 steps=2.22045e-16: 738\n");

    // alpha 0.001 and epsilon 0.1 need 381 runs.
    r = check("smc_idle.xta", "Pr (true)\n", {"-a", "0.001", "-E", "0.1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + "(381 runs) Pr(MITL ) in [0.9,1]\nwith confidence 0.999.\n" +
                         "Values in [0,0] mean=0 steps=2.22045e-16: 381\n");
}

TEST_F(StatisticalQueryRun, MitlQuantifiersCoverTheProcessesLiveWhenTheyAreFirstReached)
{
    // W is spawned at time 1 and done at time 3. Each query adds its bound variable after earlier
    // queries spawned W.
    const std::string certain = "(738 runs) Pr(MITL ) in [0.95,1]\nwith confidence 0.95.\n";
    const RunResult r = check("smc_spawn.xta",
                              // At time 0 no W lives: the quantifier holds at once.
                              "Pr (forall (w : W) ((true U[0,10] w.Done)))\n"
                              // From the second state on, W is covered: busy too long for [0,1].
                              "Pr ((X (exists (w : W) ((w.Busy U[0,1] w.Done)))))\n"
                              "Pr ((X (exists (w : W) ((w.Busy U[0,5] w.Done)))))\n"
                              "Pr ((X (forall (w : W) ((w.Done U[0,5] w.Busy)))))\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, true) + certain + "Values in [0,0] mean=0 steps=2.22045e-16: 738\n" +
                         verdict(2, true) + "(738 runs) Pr(MITL ) in [0,0.05]\nwith confidence 0.95.\n" +
                         verdict(3, true) + certain + "Values in [3,3] mean=3 steps=2.22045e-16: 738\n" +
                         verdict(4, true) + certain + "Values in [1,1] mean=1 steps=2.22045e-16: 738\n");
}

TEST_F(StatisticalQueryRun, TheMeasurementOptionReportsTheSizesOfTheIntermediateFormulas)
{
    const RunResult r = check("smc_forced.xta", "Pr (true U[0,10] P.B)\n", {"-m", "-E", "0.5", "-a", "0.5"});
    EXPECT_EQ(r.status, 0) << r.err;
    // ln(4) / 0.5 rounds up to 3 runs, each deciding the formula at its second step.
    EXPECT_EQ(r.out, verdict(1, true) +
                         "Maximal depth of intermediate formulas: 2\n"
                         "Maximal Number of terminals: 2\n"
                         "Size of formulas: 2 2 2 \nAverage size: 2\nVariance: 0\n"
                         "Number of terminals: 2 2 2 \nAverage size: 2\nVariance: 0\n"
                         "Number of rewrites: 2 2 2 \nAverage size: 2\nVariance: 0\n"
                         "Pr(MITL ) in [0.5,1]\nwith confidence 0.5.\n"
                         "Values in [2,2] mean=2 steps=2.22045e-16: 3\n");
}

TEST_F(StatisticalQueryRun, MitlRunsInWhichTimeStandsStillAbortTheCheck)
{
    const RunResult r = check("smc_zeno.xta", "Pr (true U[0,10] false)\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, header + "1 at line 1\n -- Aborted.\nRun exceeds 100000 steps: probably Zeno behavior.\n");
}

TEST_F(StatisticalQueryRun, AnMitlRunCountThatCannotBeHeldIsAnError)
{
    // ln(40) / (2 * 1e-24) runs do not fit in a 64-bit count: refused as the estimate refuses it.
    const RunResult r = check("smc_idle.xta", "Pr (true)\n", {"-E", "1e-12"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, header + "1 at line 1\n");
    EXPECT_EQ(r.err, "EXCEPTION: Overflow in the number of runs: 1.84444e+24.\n");
}

}  // namespace
