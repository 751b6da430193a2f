// Probability queries in whole runs of the program, alone and under an MPI launcher, with fixed
// seeds and models whose outcomes are certain, so that run counts and texts are exact.

#include <regex>

#include "driver/program_runner.h"

namespace {

const std::string estimateTrue = "\nVerifying formula 1 at line 1\n"
                                 " -- Formula is satisfied.\n"
                                 "(738 runs) Pr(<> ...) in [0.995014,1]\n"
                                 "with confidence 0.95.\n"
                                 "Values in [0,0] mean=0 steps=2.22045e-16: 738\n";

class StatisticalRun : public ProgramTest
{
protected:
    bool haveMpirun()
    {
        return std::system("command -v mpirun >/dev/null 2>&1") == 0;
    }

    void underMpirun(int processes)
    {
        launcher = {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", std::to_string(processes)};
    }
};

TEST_F(StatisticalRun, EstimatesAndTestsWithTheDefaultOptions)
{
    fixture("smc_idle.xta", "m.xta");
    fixture("smc_idle.q", "m.q");
    const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, estimateTrue +
                         "\nVerifying formula 2 at line 2\n"
                         " -- Formula is satisfied.\n"
                         "(738 runs) Pr(<> ...) in [0,0.00498601]\n"
                         "with confidence 0.95.\n"
                         "\nVerifying formula 3 at line 3\n"
                         " -- Formula is satisfied.\n"
                         "(96 runs) H0: Pr(<> ...) >= 0.51\n"
                         "with confidence 0.95.\n"
                         "\nVerifying formula 4 at line 4\n"
                         " -- Formula is NOT satisfied.\n"
                         "(96 runs) H1: Pr(<> ...) <= 0.49\n"
                         "with confidence 0.95.\n");
}

TEST_F(StatisticalRun, TheOutcomeLogIsWrittenAndShown)
{
    fixture("smc_idle.xta", "m.xta");
    file("m.q", "Pr[<=10](<> true)\n");
    RunResult r = run({"-q", "-s", "-r", "1", "-L", "outcomes.log", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "outcomes.log"), std::string(738, '1'));
    const std::string line = "Simulations log: [" + std::string(738, '1') + "]\n";
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n" + line + estimateTrue.substr(31));

    // A log that cannot be written is reported; the check itself goes on.
    r = run({"-q", "-s", "-r", "1", "-L", "no-such-folder/outcomes.log", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Cannot open the simulation log file no-such-folder/outcomes.log: No such file or directory\n");
    EXPECT_EQ(r.out, estimateTrue);
}

TEST_F(StatisticalRun, ATraceOptionShowsAConcreteRun)
{
    fixture("smc_forced.xta", "m.xta");
    file("m.q", "Pr[<=10](<> P.B) >= 0.5\n");
    const RunResult r = run({"-q", "-s", "-r", "1", "-t0", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n"
                     "state\n( P.A ) n=0 \n[ x=0 #time=0 ]\n\n"
                     "delay 2\n\n"
                     "state\n( P.A ) n=0 \n[ x=2 #time=2 ]\n\n"
                     "transition\nP.A->P.B { x >= 2, tau, n := 1 }\n\n"
                     "state\n( P.B ) n=1 \n[ x=2 #time=2 ]\n\n"
                     " -- Formula is satisfied.\n"
                     "(96 runs) H0: Pr(<> ...) >= 0.51\n"
                     "with confidence 0.95.\n");
}

TEST_F(StatisticalRun, AKeptRunOfASpawningModelIsReplayedToItsEnd)
{
    // The replay spawns W and lets it exit as the run did; the next query runs after it.
    fixture("smc_spawn_exit.xta", "m.xta");
    file("m.q", "Pr[<=4](<> P.B && numOf(W) == 0)\nPr[<=4](<> P.B && numOf(W) == 1) >= 0.5\n");
    const RunResult r = run({"-q", "-s", "-r", "1", "-t0", "-E", "0.3", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string second = "\nVerifying formula 2 at line 2\n";
    const size_t split = r.out.find(second);
    ASSERT_NE(split, std::string::npos) << r.out;
    const std::string first = r.out.substr(0, split);
    const std::string last = r.out.substr(split);
    // W was spawned, and the replay goes on past its exit to the run's last state, where P alone
    // is left; the verdict follows.
    const size_t spawned = first.find("transition\nP.A->P.B { 1, tau, spawn W() }\n");
    const size_t exited = first.find("transition\nW.Busy->W.Gone { y >= 1, tau, exit() }\n");
    ASSERT_NE(spawned, std::string::npos) << first;
    ASSERT_NE(exited, std::string::npos) << first;
    EXPECT_LT(spawned, exited);
    EXPECT_NE(first.find("( P.B W.Busy )", spawned), std::string::npos) << first;
    const size_t end = first.find("state\n( P.B ) \n", exited);
    EXPECT_NE(end, std::string::npos) << first;
    EXPECT_EQ(first.find("state", end + 1), std::string::npos) << first;
    EXPECT_NE(first.find(" -- Formula is satisfied.\n(21 runs) "), std::string::npos) << first;
    EXPECT_NE(last.find("( P.B W.Busy )"), std::string::npos) << last;
    EXPECT_NE(last.find(" -- Formula is satisfied.\n"), std::string::npos) << last;
}

TEST_F(StatisticalRun, ChecksThatCannotGoOnAreAbortedWithTheirReason)
{
    struct Case
    {
        const char* model;
        const char* query;
        std::string reason;
    };
    const Case cases[] = {
        {"smc_zeno.xta", "Pr[<=10](<> false)", "Run exceeds 100000 steps: probably Zeno behavior.\n"},
        {"smc_zeno.xta", "Pr[<=10](<> false) >= 0.5", "Run exceeds 100000 steps: probably Zeno behavior.\n"},
        {"smc_timelock.xta", "Pr[<=10](<> false)", "State\n( P.A )\n[ #time=0 ]\nn=0 \nis time-locked.\n"},
        // A report that does not end its last line has it ended by the report of the query.
        {"smc_input_determinism.xta", "Pr[<=10](<> false)",
         "Location R.A\n[ x=1 #time=1 ]\n\nviolates input determinism.\n"},
    };
    for (const Case& c : cases) {
        fixture(c.model, "m.xta");
        // A second query after the aborted one runs as usual.
        file("m.q", std::string(c.query) + "\nPr[<=10](<> true)\n");
        const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n" + c.reason +
                             estimateTrue.substr(0, 1) + "Verifying formula 2 at line 2" + estimateTrue.substr(30))
            << c.query;
    }
}

TEST_F(StatisticalRun, ThresholdsThatLeaveTheUnitIntervalAreRefused)
{
    fixture("smc_idle.xta", "m.xta");
    file("m.q", "Pr[<=10](<> true) >= 0.995\n");
    const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n");
    EXPECT_EQ(r.err, "EXCEPTION: Invalid theta+delta = 1.005.\n");
}

TEST_F(StatisticalRun, UnderMpirunTheRunsAreSharedAndTheResultPrintedOnce)
{
    if (!haveMpirun()) {
        GTEST_SKIP() << "no mpirun";
    }
    fixture("smc_idle.xta", "m.xta");
    file("m.q", "Pr[<=10](<> true)\n");
    struct Case
    {
        int processes;
        int runs;
    };
    for (const Case c : {Case{4, 740}, Case{3, 738}, Case{2, 738}}) {
        underMpirun(c.processes);
        const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n(" + std::to_string(c.runs) +
                             " runs) Pr(<> ...) in [" + (c.runs == 740 ? "0.995027" : "0.995014") +
                             ",1]\nwith confidence 0.95.\nValues in [0,0] mean=0 steps=2.22045e-16: " +
                             std::to_string(c.runs) + "\n")
            << c.processes << " processes";
    }
}

TEST_F(StatisticalRun, UnderMpirunAbortsAndTestsLeaveNothingForTheNextQuery)
{
    if (!haveMpirun()) {
        GTEST_SKIP() << "no mpirun";
    }
    fixture("smc_zeno.xta", "m.xta");
    file("m.q", "Pr[<=10](<> false) >= 0.5\nPr[<=10](<> false)\nPr[#<=3](<> false) >= 0.5\nPr[<=10](<> true)\n");
    underMpirun(3);
    const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Rank 0 reports the Zeno text when it met the Zeno run itself; when a faster process met it
    // first, rank 0 is stopped by that process's abort and has no text of its own. Rank 0's own
    // run count of the test depends on how fast the others are (0 when their batches alone
    // decide). A message left over from an earlier query would abort a later one on rank 0.
    const std::regex expected("\nVerifying formula 1 at line 1\n -- Aborted\\.\n(Run exceeds 100000 steps: probably "
                              "Zeno behavior\\.\n)?"
                              "\nVerifying formula 2 at line 2\n -- Aborted\\.\n(Run exceeds 100000 steps: probably "
                              "Zeno behavior\\.\n)?"
                              "\nVerifying formula 3 at line 3\n -- Formula is NOT satisfied\\.\n"
                              "\\([0-9]+ runs\\) H1: Pr\\(<> \\.\\.\\.\\) <= 0\\.49\nwith confidence 0\\.95\\.\n");
    const std::string end = "\nVerifying formula 4 at line 4\n -- Formula is satisfied.\n"
                            "(738 runs) Pr(<> ...) in [0.995014,1]\nwith confidence 0.95.\n"
                            "Values in [0,0] mean=0 steps=2.22045e-16: 738\n";
    ASSERT_GE(r.out.size(), end.size());
    EXPECT_TRUE(std::regex_match(r.out.substr(0, r.out.size() - end.size()), expected)) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - end.size()), end) << r.out;
}

TEST_F(StatisticalRun, UnderMpirunAnErrorOnOneProcessEndsTheWholeRun)
{
    if (!haveMpirun()) {
        GTEST_SKIP() << "no mpirun";
    }
    struct Case
    {
        const char* model;
        const char* query;
        const char* error;
        const char* out;
    };
    const Case cases[] = {
        // Raised inside a distributed check, by whichever processes get there first.
        {"smc_rateless.xta", "Pr[<=10](<> false) >= 0.5", "Location P.A has unbounded delay but no positive rate.",
         "\nVerifying formula 1 at line 1\n"},
        {"smc_rateless.xta", "Pr[<=10](<> false)", "Location P.A has unbounded delay but no positive rate.",
         "\nVerifying formula 1 at line 1\n"},
        // Raised by rank 0 alone, before its check starts, in a query the others skip.
        {"smc_urgent_guard.xta", "E<> P.B", "Clock guards are not allowed on urgent edges.", ""},
    };
    for (const Case& c : cases) {
        fixture(c.model, "m.xta");
        file("m.q", std::string(c.query) + "\nPr[<=10](<> true)\n");
        for (int processes : {2, 3}) {
            // Were any process left waiting for another, the launcher would never return.
            launcher = {"timeout", "120", "mpirun", "--allow-run-as-root", "--oversubscribe", "-np",
                        std::to_string(processes)};
            const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "m.q"});
            EXPECT_EQ(r.status, 1) << c.query << ", " << processes << " processes\n" << r.err;
            EXPECT_EQ(r.out, c.out) << c.query << ", " << processes << " processes";
            EXPECT_NE(r.err.find(std::string("EXCEPTION: ") + c.error + "\n"), std::string::npos) << r.err;
        }
    }
}

}  // namespace
