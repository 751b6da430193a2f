// Whole runs over models that read members of spawned processes, give clocks new values through
// functions, and keep floating-point variables beside symbolic queries.

#include <regex>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

class ValueKindsRun : public ProgramTest
{
protected:
    // Runs the queries on a model fixture, copied as m.xta, with the options.
    RunResult check(const std::string& model, const std::string& queries, std::vector<std::string> options = {})
    {
        fixture(model, "m.xta");
        file("m.q", queries);
        std::vector<std::string> args = {"-q", "-s"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("m.xta");
        args.push_back("m.q");
        return run(args);
    }

    static std::string verdict(int line, const std::string& text)
    {
        return "\nVerifying formula " + std::to_string(line) + " at line " + std::to_string(line) + "\n -- Formula " +
               text + ".\n";
    }
};

// Every run of the model reaches the goal: the estimate's interval ends at 1 and starts near it;
// the times at which the runs reached it follow.
const std::string certain =
    R"(\([0-9]+ runs\) Pr\(<> \.\.\.\) in \[0\.99[0-9]*,1\]\nwith confidence 0\.95\.\nValues in [^\n]*\n)";

} // namespace

// A spawned worker's array elements, record fields, parameter and location are read through the
// process variables of sums, quantifiers and guards, in updates and in queries.
TEST_F(ValueKindsRun, MembersOfSpawnedProcessesAreReadInGuardsUpdatesAndQueries)
{
    const RunResult r = check("val_dynmember.xta",
                              "Pr[<=5](<> P.C && s == 4)\n"
                              "Pr[<=5](<> P.C && t == 7)\n"
                              "Pr[<=5](<> exists (w : W) (w.flags[1]))\n"
                              "Pr[<=5](<> P.B && forall (w : W) (w.v[0] == 3 && w.r.b == 4 && w.rs[1].a == 5))\n"
                              "Pr[<=5](<> (sum (w : W) w.d[1]) > 1.25)\n",
                              {"-r", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (int line = 1; line <= 5; ++line) {
        expected += verdict(line, "is satisfied") + certain;
    }
    EXPECT_TRUE(std::regex_match(r.out, std::regex(expected))) << r.out;
    EXPECT_EQ(r.err, "");

    // Observed per spawned process, and summed in an expected value.
    const RunResult observed = check("val_dynmember.xta",
                                     "simulate 1 [<=3] { foreach (w : W) (w.r.b + w.d[1]) }\n"
                                     "E[<=3; 5](max: sum (w : W) w.rs[1].b)\n",
                                     {"-r", "1"});
    EXPECT_EQ(observed.status, 0) << observed.err;
    EXPECT_EQ(observed.out, verdict(1, "is satisfied") +
                                "foreach (w : W )( (w.r).b + (w.d)[1]):\n[0]:\n"
                                "(w.r).b + (w.d)[1]:\n[0]: (1,5.5) (3.1,5.5)\n" +
                                verdict(2, "is satisfied") +
                                "(5 runs) E(max) = 6\nValues in [6,6] mean=6 steps=1: 5\n");

    // Processes of a template whose array member is sized by a parameter lay it out each in their
    // own way: reading it from another process is an error at the read.
    file("p.xta", "dynamic W(const int n);\nclock x;\nint s;\n"
                  "process W(const int n) { int v[n]; state A; init A; }\n"
                  "process P() { state A { x <= 1 }, B; init A;\n"
                  "  trans A -> B { guard x >= 1; assign spawn W(2), s = sum (w : W) w.v[1]; }; }\n"
                  "system P;\n");
    file("p.q", "Pr[<=5](<> P.B)\n");
    const RunResult sized = run({"-q", "-s", "-r", "1", "p.xta", "p.q"});
    EXPECT_EQ(sized.status, 1);
    EXPECT_EQ(sized.err, "p.xta:6: [error] Array sizes of members read from other processes must not depend on "
                         "parameters.\n");
}

// A clock given a value other than 0 makes the search over clock differences approximate, however
// the value reaches the clock: directly, through a function that sets a global clock or a clock
// passed by reference, through a function called by another, or in an update hook. Values that
// are 0 leave it exact.
TEST_F(ValueKindsRun, ClockAssignmentsThroughFunctionsMakeTheSearchApproximate)
{
    const std::string queries = "E<> P.B\n";
    struct Case
    {
        std::string name;
        std::string model;
        std::string verdict;
    };
    // The guard over a clock difference makes the search depend on the approximation.
    auto model = [](const std::string& declarations, const std::string& update) {
        return "clock x, y;\n" + declarations +
               "\nprocess P() {\n"
               "  state A { x <= 10 }, B;\n"
               "  init A;\n"
               "  trans A -> B { guard x - y < 3; assign " +
               update + "; }, B -> A { guard x > 2; assign y = 0; };\n}\nsystem P;\n";
    };
    const Case cases[] = {
        {"global clock in a function", model("void set() { x = 5; }", "set()"), "MAY be satisfied"},
        {"nested call", model("void set(clock &k) { k = 4; }\nvoid outer() { set(x); }", "outer()"),
         "MAY be satisfied"},
        {"value from a parameter", model("void set(clock &k, int v) { k = v; }", "set(x, 2)"), "MAY be satisfied"},
        {"zero in a function", model("void set(clock &k) { k = 0; }", "set(x)"), "is satisfied"},
        {"clock copy in a function", model("void set(clock &k) { k = y; }", "set(x)"), "is satisfied"},
        {"update hook", model("int n;\nbefore_update { x = 3 }", "n = 1"), "MAY be satisfied"},
    };
    for (const Case& c : cases) {
        file("m.xta", c.model);
        file("m.q", queries);
        const RunResult r = run({"-q", "-s", "m.xta", "m.q"});
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
        EXPECT_EQ(r.out, verdict(1, c.verdict)) << c.name;
    }

    // The reference-parameter model of the fixture and the direct assignment agree.
    for (const std::string fixtureName : {"val_fn_clock_assign.xta", "val_direct_clock_assign.xta"}) {
        const RunResult r = check(fixtureName, queries);
        EXPECT_EQ(r.status, 0) << fixtureName << "\n" << r.err;
        EXPECT_EQ(r.out, verdict(1, "MAY be satisfied")) << fixtureName;
    }
}

// A model that writes a floating-point variable is checked symbolically: deadlock freedom, and
// reachability with every kind of trace. Symbolic states hold no floating-point values, so their
// traces show none.
TEST_F(ValueKindsRun, ModelsThatWriteDoublesAnswerSymbolicQueriesAndShowTraces)
{
    // P can wait in L0 until x passes 3, where L1's invariant bars the only edge: a deadlock.
    RunResult r = check("val_fp_deadlock.xta", "A[] not deadlock\n", {"-t0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, "is NOT satisfied") + "Showing counter example.\n");
    EXPECT_EQ(r.err, "\nState:\n( P.L0 )\nx=0 \n\nDelay: 4\n\nState:\n( P.L0 )\nx=4 \n");

    for (const std::string model : {"val_fp_trace.xta", "val_fp_trace_double.xta"}) {
        for (const std::string option : {"-t0", "-t1", "-t2"}) {
            for (const std::vector<std::string>& form : {std::vector<std::string>{}, {"-y"}, {"-Y"}}) {
                std::vector<std::string> options = form;
                options.push_back(option);
                r = check(model, "E<> P.L1\nE<> P.L0\n", options);
                const std::string what = model + " " + option + (form.empty() ? "" : " " + form[0]);
                EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
                EXPECT_EQ(r.out, verdict(1, "is satisfied") + "Showing example trace.\n" + verdict(2, "is satisfied") +
                                     "Showing example trace.\n")
                    << what;
                EXPECT_NE(r.err.find("P.L0->P.L1"), std::string::npos) << what << "\n" << r.err;
                EXPECT_EQ(r.err.find("d="), std::string::npos) << what << "\n" << r.err;
            }
        }
    }
}

// A clock given a floating-point value in a symbolic check is an error of the model at the
// assignment, which says so; the next query runs, and a statistical one gives the clock the value.
TEST_F(ValueKindsRun, FloatingPointClockValuesAreRefusedInSymbolicChecks)
{
    const RunResult r = check("val_clockstore_symbolic.xta", "E<> P.L1\nPr[<=2](<> P.L1 && x >= 2.5)\n", {"-r", "1"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string expected = "\nVerifying formula 1 at line 1\n -- Aborted\\.\n"
                                 "\nVerifying formula 2 at line 2\n -- Formula is satisfied\\.\n" +
                                 certain;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(expected))) << r.out;
    EXPECT_EQ(r.err, "m.xta:8: [error] Clock 'x' is given a floating-point value, which symbolic checks do not "
                     "support.\n");
}

// Symbolic states hold no floating-point values: a symbolic query that reads a double variable,
// directly or through a function, and any symbolic query on a model whose invariant reads one,
// is refused at the read, never answered from values the states do not have. The floating-point
// constants of a query compute whatever their order.
TEST_F(ValueKindsRun, SymbolicChecksDoNotReadDoubles)
{
    RunResult r = check("val_sym_double.xta",
                        "E<> d == 2.0\nE<> d > 2.5\nE<> P.A\nE<> f(1) < 2.5\nE<> g(1.5) == 3.0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n"
                     "\nVerifying formula 2 at line 2\n -- Aborted.\n" +
                         verdict(3, "is satisfied") + "\nVerifying formula 4 at line 4\n -- Aborted.\n" +
                         verdict(5, "is satisfied"));
    const std::string refused = " [error] Symbolic checks cannot read floating-point variables.\n";
    EXPECT_EQ(r.err, "m.q:1:" + refused + "m.q:2:" + refused + "m.q:4:" + refused);

    // The invariant was found false: "The initial state is undefined".
    file("g.xta", "clock x;\ndouble d = 2.0;\n"
                  "process P() { state A { x <= 4 && d < 5.0 }, B; init A; trans A -> B { guard x >= 3; }; }\n"
                  "system P;\n");
    file("g.q", "E<> P.B\nPr[<=5](<> P.B)\n");
    r = run({"-q", "-s", "-r", "1", "g.xta", "g.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\nVerifying formula 1 at line 1\n -- Aborted\\.\n"
                                                   "\nVerifying formula 2 at line 2\n -- Formula is satisfied\\.\n" +
                                                   certain)))
        << r.out;
    EXPECT_EQ(r.err, "g.xta:3:" + refused);

    file("c.xta", "const double c = 2.5;\nint i = 3;\nprocess P() { state A; init A; }\nsystem P;\n");
    file("c.q", "E<> c == 2.5\nE<> c != 2.5\nE<> c < i\nE<> 2.0 < c && c <= 3.0\nE<> c > 3.0\n");
    r = run({"-q", "-s", "c.xta", "c.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, "is satisfied") + verdict(2, "is NOT satisfied") + verdict(3, "is satisfied") +
                         verdict(4, "is satisfied") + verdict(5, "is NOT satisfied"));
}

// Floating-point values show their fraction in the states of a statistical check's diagnostics.
TEST_F(ValueKindsRun, DoublesPrintWithTheirFraction)
{
    const RunResult r = check("val_print_double.xta", "Pr[<=10](<> P.C)\n", {"-r", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nd=2.5 \nhas a general hybrid guard enabled without urgent channel."), std::string::npos)
        << r.out;
}
