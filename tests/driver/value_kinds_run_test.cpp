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
}
