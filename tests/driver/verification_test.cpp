// Whole runs that verify queries: verdicts, results, summaries, traces and the errors of queries.

#include <csignal>
#include <regex>

#include "program_runner.h"

namespace {

class VerificationRun : public ProgramTest
{};

// The three queries of vc_gate: b is reached, x passes 5 in b, c is never reached.
const std::string gateVerdicts = "\nVerifying formula 1 at line 1\n"
                                 " -- Formula is satisfied.\n"
                                 "\nVerifying formula 2 at line 2\n"
                                 " -- Formula is NOT satisfied.\n"
                                 "\nVerifying formula 3 at line 3\n"
                                 " -- Formula is NOT satisfied.\n";

} // namespace

TEST_F(VerificationRun, SymbolicQueriesGetTheirVerdicts)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, gateVerdicts);
    EXPECT_EQ(r.err, "");

    // The queries stored in an XML model are announced by their text.
    fixture("vc_gate.xml", "m.xml");
    r = run({"-q", "-s", "m.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1: E<> P.b\n"
                     " -- Formula is satisfied.\n"
                     "\nVerifying formula 2: A[] x<=5\n"
                     " -- Formula is NOT satisfied.\n"
                     "\nVerifying formula 3: E<> P.c\n"
                     " -- Formula is NOT satisfied.\n");
    EXPECT_EQ(r.err, "");

    // With the progress indicator on, every status line first erases the progress line.
    r = run({"-q", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::regex_replace(gateVerdicts, std::regex("(\nVerifying| -- Formula)"), "\33[2K$1"));
}

TEST_F(VerificationRun, ApproximationsQualifyTheirVerdicts)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    file("holds.q", "A[] P.a imply x <= 5\n");
    struct Case
    {
        std::vector<std::string> args;
        std::vector<std::string> verdicts;
    };
    const Case cases[] = {
        // Bit-state hashing may miss states: what it does not find may exist.
        {{"-Z", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "MAY NOT be satisfied"}},
        {{"-Z", "m.xta", "holds.q"}, {"MAY be satisfied"}},
        // The convex hull may add states: what it finds may not exist, unless a trace confirms it.
        {{"-A", "m.xta", "q.q"}, {"MAY be satisfied", "MAY NOT be satisfied", "is NOT satisfied"}},
        {{"-A", "m.xta", "holds.q"}, {"is satisfied"}},
        // The other representations and search orders agree with the default.
        {{"-C", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-d", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-o", "2", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-S", "0", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-S", "2", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-n", "1", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-n", "2", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
        {{"-n", "3", "m.xta", "q.q"}, {"is satisfied", "is NOT satisfied", "is NOT satisfied"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-s"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run(args);
        std::string expected;
        for (size_t i = 0; i < c.verdicts.size(); ++i) {
            expected += "\nVerifying formula " + std::to_string(i + 1) + " at line " + std::to_string(i + 1) +
                        "\n -- Formula " + c.verdicts[i] + ".\n";
        }
        EXPECT_EQ(r.status, 0) << c.args[0] << " " << c.args.back() << ": " << r.err;
        EXPECT_EQ(r.out, expected) << c.args[0] << " " << c.args.back();
    }
}

TEST_F(VerificationRun, SupremaAndInfimaAreReportedAsBounds)
{
    fixture("vc_gate.xta", "m.xta");
    file("n.xta", "int[0,3] n;\n"
                  "process P() { state a; init a; trans a -> a { guard n < 3; assign n = n + 1; }; }\n"
                  "system P;\n");
    file("x.q", "sup: x\n"
                "sup{P.a}: x\n"
                "inf{P.b}: x\n"
                "inf: x\n");
    RunResult r = run({"-q", "-s", "m.xta", "x.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nsup{true}:\nx < inf\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\nsup{P.a}:\nx <= 5\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\ninf{P.b}:\nx >= 3\n"
                     "\nVerifying formula 4 at line 4\n -- Formula is satisfied.\ninf{true}:\nx >= 0\n");

    // Integer expressions: the largest and smallest values reached, several at once.
    file("n.q", "sup{n < 3}: n, 2 * n\n"
                "inf{n > 1}: n\n");
    r = run({"-q", "-s", "n.xta", "n.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nsup{n < 3}:\nn <= 2\n2 * n <= 4\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\ninf{n > 1}:\nn >= 2\n");
}

TEST_F(VerificationRun, SummaryReportsStatesTimeAndMemory)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "E<> P.c\n");
    const RunResult r = run({"-q", "-s", "-u", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::regex summary("\nVerifying formula 1 at line 1\n"
                             " -- Formula is NOT satisfied.\n"
                             " -- States stored : 2 states\n"
                             " -- States explored : 2 states\n"
                             " -- CPU user time used : [0-9.e+]+ ms\n"
                             " -- Virtual memory used : [1-9][0-9]* KiB\n"
                             " -- Resident memory used : [1-9][0-9]* KiB\n");
    EXPECT_TRUE(std::regex_match(r.out, summary)) << r.out;
}

// Interchangeable processes are searched once per arrangement, unless a trace is wanted (its
// states must be the model's own) or the reduction is switched off.
TEST_F(VerificationRun, SymmetryReducesTheSearchOnlyWithoutTraces)
{
    fixture("successor_symmetry.xta", "m.xta");
    file("q.q", "A[] not deadlock\n");
    const std::regex stored(" -- States stored : ([0-9]+) states");
    auto storedCount = [&](const RunResult& r) {
        std::smatch m;
        EXPECT_TRUE(std::regex_search(r.out, m, stored)) << r.out;
        return m.size() > 1 ? std::stoi(m[1]) : -1;
    };
    const int reduced = storedCount(run({"-q", "-s", "-u", "m.xta", "q.q"}));
    const int full = storedCount(run({"-q", "-s", "-u", "m.xta", "q.q"}, {"MIRVEK_DISABLE_SYMMETRY=1"}));
    EXPECT_LT(reduced, full);
    EXPECT_EQ(storedCount(run({"-q", "-s", "-u", "-t0", "m.xta", "q.q"})), full);
}

// With -T a second query on the same options answers from the states the first one stored.
TEST_F(VerificationRun, ReuseAnswersFromTheStoredStateSpace)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "E<> P.b\nE<> P.b\n");
    const std::regex explored(" -- States explored : ([0-9]+) states");
    auto exploredCounts = [&](const std::string& out) {
        std::vector<std::string> counts;
        for (std::sregex_iterator it(out.begin(), out.end(), explored), end; it != end; ++it) {
            counts.push_back((*it)[1]);
        }
        return counts;
    };
    RunResult r = run({"-q", "-s", "-u", "-T", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(exploredCounts(r.out), (std::vector<std::string>{"1", "0"})) << r.out;
    r = run({"-q", "-s", "-u", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(exploredCounts(r.out), (std::vector<std::string>{"1", "1"})) << r.out;
}

TEST_F(VerificationRun, QueryErrorsArePrintedAgainstTheQueryFile)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_channels.xta", "c.xta");
    fixture("vc_priorities.xta", "p.xta");
    struct Case
    {
        const char* model;
        const char* queries;
        const char* err;
    };
    const Case cases[] = {
        {"c.xta", "E<> R.got\nPr[<=10](<> R.got) >= 0.5\n", "q.q:2: [error] All channels must be broadcast.\n"},
        {"p.xta", "Pr[<=10](<> S.sent) >= 0.5\n", "q.q:1: [error] Priorities are not supported.\n"},
        {"m.xta", "E<> P.b\nPmax P.b\n", "q.q:2: [error] Invalid property type.\n"},
        {"m.xta", "deadlock --> P.b\n", "q.q:1: [error] Cannot handle this deadlock predicate.\n"},
        {"p.xta", "E<>* S.sent\n",
         "q.q:1: [error] Cannot handle this formula for models with priorities or guarded broadcast receivers.\n"},
        {"m.xta", "E<> P.d\n", "q.q:1: [error] P has no member named d.\nq.q:1: [error] Type error.\n"},
    };
    for (const Case& c : cases) {
        file("q.q", c.queries);
        const RunResult r = run({"-q", "-s", c.model, "q.q"});
        EXPECT_EQ(r.status, 1) << c.queries;
        // No query runs once one has an error.
        EXPECT_EQ(r.out, "") << c.queries;
        EXPECT_EQ(r.err, c.err) << c.queries;
    }
}

TEST_F(VerificationRun, PreparationErrorsEndTheRun)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "E<> P.b\nPr[<=0](<> P.b) >= 0.5\n");
    RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n");
    EXPECT_EQ(r.err, "EXCEPTION: Invalid bound value.\n");

    // An optimal search order needs a criterion, and the model is prepared before any query.
    r = run({"-q", "-s", "-o", "3", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "EXCEPTION: Cannot use search order based on an optimality criterion without an optimality criterion.\n");

    // A model that the symbolic checks cannot handle still answers statistical queries.
    fixture("vc_urgent_guard.xta", "u.xta");
    file("u.q", "Pr[<=10](<> P.b) >= 0.5\nE<> P.b\nE<> P.a\n");
    r = run({"-q", "-s", "-r", "1", "u.xta", "u.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.starts_with("\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n")) << r.out;
    EXPECT_EQ(r.out.find("formula 2"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "EXCEPTION: Clock guards are not allowed on urgent edges.\n");
}

// A query whose check fails to evaluate the model is aborted; the later ones still run, and the
// run ends with the error and status 1.
TEST_F(VerificationRun, EvaluationErrorsAbortOnlyTheirQuery)
{
    fixture("vc_overflow.xta", "n.xta");
    file("q.q", "E<> n == 3\nA[] n <= 3\nE<> P.a\n");
    const RunResult r = run({"-q", "-s", "n.xta", "q.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Aborted.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\n");
    EXPECT_EQ(r.err, "n.xta:7: [error] Assignment of value '4' to variable 'n' is out of range.\n");

    // An error in a query's own expression is shown in the query file; with -T too, and the
    // reports keep the order of the queries.
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "E<> P.b\nPr[<=10/0](<> P.b) >= 0.5\nE<> P.c\n");
    for (const char* reuse : {"-s", "-T"}) {
        const RunResult each = run({"-q", "-s", reuse, "m.xta", "q.q"});
        EXPECT_EQ(each.status, 1) << reuse;
        EXPECT_EQ(each.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                         "\nVerifying formula 2 at line 2\n -- Aborted.\n"
                         "\nVerifying formula 3 at line 3\n -- Formula is NOT satisfied.\n")
            << reuse;
        EXPECT_EQ(each.err, "q.q:2: [error] Division by zero.\n") << reuse;
    }
}

// Statistical properties run among symbolic ones: every property type has its checker.
TEST_F(VerificationRun, StatisticalPropertiesRunAmongSymbolicOnes)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "E<> P.b\nE[<=10; 10](max: 7)\nE<> P.c\n");
    const RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n"
                     "(10 runs) E(max) = 7\nValues in [7,7] mean=7 steps=1: 10\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is NOT satisfied.\n");
}

// Liveness, leads-to and robust properties; a liveness counterexample is shown symbolically.
TEST_F(VerificationRun, LivenessLeadsToAndRobustProperties)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "A<> P.b\nE[] P.a\nP.a --> P.b\nP.a --> P.c\nE<>* P.b\nA[]* x <= 5\n");
    RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is NOT satisfied.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\n"
                     "\nVerifying formula 4 at line 4\n -- Formula is NOT satisfied.\n"
                     "\nVerifying formula 5 at line 5\n -- Formula is satisfied.\n"
                     "\nVerifying formula 6 at line 6\n -- Formula is NOT satisfied.\n");

    file("c.q", "A<> P.c\n");
    r = run({"-q", "-s", "-t0", "m.xta", "c.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is NOT satisfied.\nShowing counter example.\n");
    EXPECT_EQ(r.err, "\nState\n\n( P.a )\nx<=5 \n"
                     "\nTransitions:\n  P.a->P.b { x >= 3, tau, 1 }\n"
                     "\nState\n\n( P.b )\nx>=3 \n");
}

TEST_F(VerificationRun, CompileOnlyWithTheMachineDebugSwitchEndsCleanly)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "m.q");
    const RunResult r = run({"-q", "-s", "m.xta"}, {"MIRVEK_COMPILE_ONLY=1", "MIRVEK_DEBUG_VM=1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Verifying"), std::string::npos) << r.out;
}

// A plain run starts no MPI at all; under a launcher only the first process prints.
TEST_F(VerificationRun, UnderAnMpiLauncherTheVerdictsArePrintedOnce)
{
    if (std::system("command -v mpirun >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mpirun";
    }
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    launcher = {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", "2"};
    const RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, gateVerdicts);
}

TEST_F(VerificationRun, TracesAreShownOrWritten)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    file("b.q", "E<> P.b\n");
    // A concrete run: the delays and the clock values after each of them and each transition.
    RunResult r = run({"-q", "-s", "-t0", "m.xta", "b.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n");
    EXPECT_EQ(r.err, "\nState:\n( P.a )\nx=0 \n"
                     "\nDelay: 3\n"
                     "\nState:\n( P.a )\nx=3 \n"
                     "\nTransitions:\n  P.a->P.b { x >= 3, tau, 1 }\n"
                     "\nState:\n( P.b )\nx=3 \n");

    // Symbolically: the zones of the states.
    r = run({"-q", "-s", "-t0", "-y", "m.xta", "b.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "\nState\n\n( P.a )\nx<=5 \n"
                     "\nTransitions:\n  P.a->P.b { x >= 3, tau, 1 }\n"
                     "\nState\n\n( P.b )\nx>=3 \n");

    // An invariance query that fails shows a counterexample; an unreachable goal has no trace.
    r = run({"-q", "-s", "-t0", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is NOT satisfied.\nShowing counter example.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is NOT satisfied.\n");
    EXPECT_TRUE(r.err.ends_with("\nDelay: 3\n\nState:\n( P.b )\nx=6 \n")) << r.err;

    // A convex hull whose goal a trace confirms is sure of it.
    r = run({"-q", "-s", "-A", "-t0", "m.xta", "b.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n")) << r.out;

    // Trace files, one per query with a trace.
    r = run({"-q", "-s", "-t0", "-f", "pre", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Writing example trace to pre-1.xtr\nWriting counter example to pre-2.xtr\n");
    EXPECT_TRUE(fs::exists(dir / "pre-1.xtr"));
    EXPECT_TRUE(fs::exists(dir / "pre-2.xtr"));
    EXPECT_FALSE(fs::exists(dir / "pre-3.xtr"));
    EXPECT_TRUE(slurp(dir / "pre-1.xtr").ends_with(".\n.\n")) << slurp(dir / "pre-1.xtr");

    // A trace file that cannot be created is reported, not passed over in silence.
    r = run({"-q", "-s", "-t0", "-f", "absent/pre", "m.xta", "q.q"});
    EXPECT_EQ(r.err, "Writing example trace to absent/pre-1.xtr\n"
                     "Error opening absent/pre-1.xtr: No such file or directory\n"
                     "Writing counter example to absent/pre-2.xtr\n"
                     "Error opening absent/pre-2.xtr: No such file or directory\n");
    // Every query is answered all the same, and then the run ends with status 1.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is NOT satisfied.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is NOT satisfied.\n");

    // Suprema and infima have no trace form.
    file("s.q", "sup: x\n");
    r = run({"-q", "-s", "-t0", "m.xta", "s.q"});
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nsup{true}:\nx < inf\n"
                     "Cannot generate trace.\n");

    // The shortest and the fastest trace search for their goal with a cost.
    for (const char* option : {"-t1", "-t2"}) {
        r = run({"-q", "-s", option, "-o", "3", "m.xta", "b.q"});
        EXPECT_EQ(r.status, 0) << option << ": " << r.err;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n")
            << option;
    }
}

// The deadlock predicate in reachability and invariance queries, and the concrete run to a
// deadlock.
TEST_F(VerificationRun, DeadlocksAreFoundAndShown)
{
    fixture("vc_deadlock.xta", "d.xta");
    file("q.q", "A[] not deadlock\nE<> deadlock and n == 2\nA[] deadlock imply n > 0\nE<> P.a and deadlock\n");
    RunResult r = run({"-q", "-s", "-t0", "d.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is NOT satisfied.\nShowing counter example.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\nShowing example trace.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\n"
                     "\nVerifying formula 4 at line 4\n -- Formula is NOT satisfied.\n");
    const std::string toC = "\nState:\n( P.a )\nx=0 n=0 \n"
                            "\nDelay: 2\n"
                            "\nState:\n( P.a )\nx=2 n=0 \n"
                            "\nTransitions:\n  P.a->P.c { x >= 2, tau, n := 2 }\n"
                            "\nState:\n( P.c )\nx=2 n=2 \n";
    EXPECT_EQ(r.err, toC + toC);

    // A deadlock in the initial state: the clock is shown as 0 (not as a negative zero).
    fixture("reach_deadlock.xta", "i.xta");
    file("i.q", "A[] not deadlock\n");
    r = run({"-q", "-s", "-t0", "i.xta", "i.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "\nState:\n( P.idle )\nx=0 i=0 a[0]=0 a[1]=0 \n");
}

// The shortest trace takes the fewest transitions, the fastest the least time, whatever route the
// search meets first.
TEST_F(VerificationRun, OptimalTracesTakeTheShortestOrFastestRoute)
{
    fixture("vc_two_routes.xta", "m.xta");
    file("q.q", "E<> P.g\n");
    const std::string oneStep = "\nState:\n( P.a )\nx=0 #depth=0 \n"
                                "\nDelay: 10\n"
                                "\nState:\n( P.a )\nx=10 #depth=0 \n"
                                "\nTransitions:\n  P.a->P.g { x >= 10, tau, 1 }\n"
                                "\nState:\n( P.g )\nx=10 #depth=1 \n";
    const std::string threeSteps = "\nState:\n( P.a )\nx=0 #tau=0 \n"
                                   "\nTransitions:\n  P.a->P.m { 1, tau, 1 }\n"
                                   "\nState:\n( P.m )\nx=0 #tau=0 \n"
                                   "\nTransitions:\n  P.m->P.n { 1, tau, 1 }\n"
                                   "\nState:\n( P.n )\nx=0 #tau=0 \n"
                                   "\nDelay: 1\n"
                                   "\nState:\n( P.n )\nx=1 #tau=1 \n"
                                   "\nTransitions:\n  P.n->P.g { x >= 1, tau, 1 }\n"
                                   "\nState:\n( P.g )\nx=1 #tau=1 \n";
    struct Case
    {
        std::vector<std::string> options;
        std::string trace;
    };
    const Case cases[] = {
        {{"-t1"}, oneStep},
        {{"-t1", "-o", "3"}, oneStep},
        {{"-t2"}, threeSteps},
        {{"-t2", "-o", "3"}, threeSteps},
        {{"-t2", "-o", "4"}, threeSteps},
        {{"-t2", "-d"}, threeSteps},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-s"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"m.xta", "q.q"});
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << c.options[0] << ": " << r.err;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n")
            << c.options[0];
        EXPECT_EQ(r.err, c.trace) << c.options[0] << " " << c.options.back();
    }
}

// A scenario property is checked on the model with its observer, and -x saves that model with the
// observer's query; the saved pair gives the same verdict.
TEST_F(VerificationRun, ScenarioPropertiesAreCheckedAndSavedWithTheirObserver)
{
    fixture("lsc_single_message.xml", "s.xml");
    RunResult r = run({"-q", "-s", "-x", "saved.xml", "s.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The sender may idle for ever, so the chart's message need not come.
    EXPECT_EQ(r.out, "\nVerifying formula 1: sat: Ping\n -- Formula is NOT satisfied.\n");
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(fs::exists(dir / "saved.xml"));
    EXPECT_EQ(slurp(dir / "saved.q"), "/*\nThe observer TA is satisfied.\n"
                                      "This is equivalent to \"The LSC scenario is satisfied\".\n*/\n"
                                      "obsTA.lmin --> obsTA.lmax\n");
    r = run({"-q", "-s", "saved.xml", "saved.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 5\n -- Formula is NOT satisfied.\n");
}

// Statistical queries: the verdict and the result text of tests and estimates; a check that its
// checker gives up is aborted with the checker's report and no verdict text.
TEST_F(VerificationRun, StatisticalQueriesReportTheirResults)
{
    fixture("vc_gate.xta", "m.xta");
    file("q.q", "Pr[<=10](<> P.b) >= 0.5\nPr[<=10]([] P.a) >= 0.5\nPr[<=2](<> P.b)\n");
    RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::regex results("\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                             "\\([0-9]+ runs\\) H0: Pr\\(<> \\.\\.\\.\\) >= 0\\.51\nwith confidence 0\\.95\\.\n"
                             "\nVerifying formula 2 at line 2\n -- Formula is NOT satisfied.\n"
                             "\\([0-9]+ runs\\) H1: Pr\\(\\[\\] \\.\\.\\.\\) <= 0\\.49\nwith confidence 0\\.95\\.\n"
                             "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\n"
                             "\\([0-9]+ runs\\) Pr\\(<> \\.\\.\\.\\) in \\[0,0\\.[0-9]+\\]\nwith confidence 0\\.95\\.\n");
    EXPECT_TRUE(std::regex_match(r.out, results)) << r.out;

    fixture("vc_zeno.xta", "z.xta");
    file("z.q", "Pr[<=10](<> x > 20) >= 0.5\nE<> P.a\n");
    r = run({"-q", "-s", "-r", "1", "z.xta", "z.q"});
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n"
                     "Run exceeds 100000 steps: probably Zeno behavior.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n");
}

// An interrupt ends the running query without a verdict from what it explored so far, and no
// further query starts.
TEST_F(VerificationRun, AnInterruptAbortsTheRunningQuery)
{
    // A counter that takes two thousand million steps to explore.
    file("long.xta", "int[0,2000000000] n;\n"
                     "process P() { state a; init a; trans a -> a { guard n < 2000000000; assign n = n + 1; }; }\n"
                     "system P;\n");
    file("q.q", "A[] n >= 0\nE<> P.a\n");
    auto waitForStart = [&] {
        // The first query is announced once the model is loaded and the search is on its way.
        for (int i = 0; i < 200 && slurp(dir / "stdout").find("Verifying formula 1") == std::string::npos; ++i) {
            usleep(50000);
        }
        usleep(200000);
    };
    pid_t pid = start({"-q", "-s", "long.xta", "q.q"});
    ASSERT_NE(pid, 0);
    waitForStart();
    kill(pid, SIGINT);
    RunResult r = finish(pid);
    // A run that did not answer its queries failed.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n");
}

// Both stores, the compact one (minimal constraint systems, the default) and the plain one (-C),
// keep the same states in every search order and with -S 2 (explored states forgotten): the
// zones of one discrete state are many here, most told apart by the order of their clocks.
TEST_F(VerificationRun, CompactAndPlainStoresKeepTheSameStates)
{
    struct Case
    {
        const char* model;
        std::vector<std::string> options;
        const char* counts;  // stored, explored
    };
    const Case cases[] = {
        {"store_dining", {}, "721 721"},
        {"store_dining", {"-o", "1"}, "721 1881"},
        {"store_dining", {"-S", "2"}, "487 2168"},
        {"store_csma", {}, "1832 1937"},
        {"store_csma", {"-o", "1"}, "1832 3644"},
        {"store_fischer", {}, "3631 5931"},
        {"store_fischer", {"-o", "1"}, "3631 3739"},
        {"store_fischer", {"-S", "2"}, "871 6006"},
    };
    const std::regex summary(" -- Formula is satisfied.\n -- States stored : ([0-9]+) states\n"
                             " -- States explored : ([0-9]+) states\n");
    for (const Case& c : cases) {
        fixture(std::string(c.model) + ".xta", "m.xta");
        fixture(std::string(c.model) + ".q", "q.q");
        for (bool plain : {false, true}) {
            std::vector<std::string> args = {"-q", "-s", "-u"};
            args.insert(args.end(), c.options.begin(), c.options.end());
            if (plain) {
                args.push_back("-C");
            }
            args.insert(args.end(), {"m.xta", "q.q"});
            SCOPED_TRACE(std::string(c.model) + (plain ? " -C" : "") + " " +
                         (c.options.empty() ? "" : c.options[0] + " " + c.options[1]));
            const RunResult r = run(args);
            EXPECT_EQ(r.status, 0) << r.err;
            std::smatch m;
            ASSERT_TRUE(std::regex_search(r.out, m, summary)) << r.out;
            EXPECT_EQ(m[1].str() + " " + m[2].str(), c.counts);
        }
    }
}
