// Whole runs of models that mix integers and doubles, or use the value of a quantifier: the
// verdicts and estimates a user gets for them.

#include <regex>

#include "program_runner.h"

namespace {

// What a query must give: a verdict of a symbolic check, or a probability estimate that is
// surely high or surely low (the bounds of its interval).
enum class Expect { Satisfied, NotSatisfied, Likely, Unlikely };

struct Query
{
    std::string text;
    Expect expect;
};

struct Case
{
    const char* model;
    std::vector<Query> queries;
};

class MixedValuesRun : public ProgramTest
{
protected:
    // Runs the queries on the model fixture with a fixed seed and checks each one's outcome.
    void check(const Case& k)
    {
        SCOPED_TRACE(k.model);
        fixture(k.model, "m.xta");
        std::string text;
        for (const Query& q : k.queries) {
            text += q.text + "\n";
        }
        file("q.q", text);
        const RunResult r = run({"-q", "-s", "-r", "1", "m.xta", "q.q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");

        // One block of output per query, in order.
        std::vector<std::string> blocks;
        const std::string head = "\nVerifying formula ";
        for (size_t at = r.out.find(head); at != std::string::npos;) {
            const size_t next = r.out.find(head, at + 1);
            blocks.push_back(r.out.substr(at, next == std::string::npos ? std::string::npos : next - at));
            at = next;
        }
        ASSERT_EQ(blocks.size(), k.queries.size()) << r.out;
        const std::regex estimate("Pr\\([^)]*\\) in \\[([-0-9.e]+),([-0-9.e]+)\\]");
        for (size_t i = 0; i < blocks.size(); ++i) {
            SCOPED_TRACE(k.queries[i].text);
            const std::string& block = blocks[i];
            std::smatch m;
            switch (k.queries[i].expect) {
            case Expect::Satisfied:
                EXPECT_NE(block.find(" -- Formula is satisfied."), std::string::npos) << block;
                break;
            case Expect::NotSatisfied:
                EXPECT_NE(block.find(" -- Formula is NOT satisfied."), std::string::npos) << block;
                break;
            case Expect::Likely:
                ASSERT_TRUE(std::regex_search(block, m, estimate)) << block;
                EXPECT_GT(std::stod(m[1]), 0.9) << block;
                break;
            case Expect::Unlikely:
                ASSERT_TRUE(std::regex_search(block, m, estimate)) << block;
                EXPECT_LT(std::stod(m[2]), 0.1) << block;
                break;
            }
        }
    }
};

} // namespace

// An integer compared with a double is compared as a number, whichever side the double is on,
// in queries, guards and updates, in symbolic and in statistical checks.
TEST_F(MixedValuesRun, IntegersAndDoublesCompareAsNumbers)
{
    const Case cases[] = {
        {"num_eq_int_double2.xta",
         {{"E<> P.B && i == 2.0", Expect::Satisfied},
          {"E<> P.B && 2.0 == i", Expect::Satisfied},
          {"E<> P.B && i != 2.0", Expect::NotSatisfied},
          {"E<> P.B && 2.5 > i", Expect::Satisfied},
          {"E<> P.B && i + 0.5 == 2.5", Expect::Satisfied},
          {"E<> P.B && 2.5 == i", Expect::NotSatisfied},
          {"E<> P.B && (1 + 1) == 2.0", Expect::Satisfied},
          {"Pr[<=5](<> P.B && i == 2.0)", Expect::Likely},
          {"Pr[<=5](<> P.B && 2.0 == i)", Expect::Likely},
          {"Pr[<=5](<> P.B && i != 2.0)", Expect::Unlikely}}},
        {"num_eq_int_dvar25.xta",
         {{"Pr[<=5](<> P.B && i == d)", Expect::Unlikely},
          {"Pr[<=5](<> P.B && d != i)", Expect::Likely},
          {"Pr[<=5](<> P.B && d - 0.5 == i)", Expect::Likely}}},
        // The guard holds at time 1: no time lock.
        {"num_eq_int_double_smcguard.xta", {{"Pr[<=5](<> P.B)", Expect::Likely}}},
        // Storing the comparisons once crashed the run.
        {"num_eq_int_double_crash.xta",
         {{"Pr[<=5](<> P.B && r1)", Expect::Likely}, {"Pr[<=5](<> P.B && r3)", Expect::Likely}}},
    };
    for (const Case& k : cases) {
        check(k);
    }
}

TEST_F(MixedValuesRun, IntegerArgumentsOfDoubleParametersAreConverted)
{
    const Case cases[] = {
        {"num_int_arg_double_param.xta", {{"Pr[<=5](<> P.B && e == 2.5)", Expect::Likely}}},
        {"num_int_arg_double_ref.xta", {{"Pr[<=5](<> P.B && e == 6.0)", Expect::Likely}}},
    };
    for (const Case& k : cases) {
        check(k);
    }
}

TEST_F(MixedValuesRun, DoubleInlineIfYieldsTheDoubleOfEitherBranch)
{
    for (const char* model : {"num_iif2.xta", "num_iif3.xta"}) {
        check({model,
               {{"Pr[<=5](<> P.B && d == 1.5)", Expect::Likely}, {"Pr[<=5](<> P.B && d == 2.5)", Expect::Unlikely}}});
    }
}

// Integers converted where doubles are written (array elements, parameters of calls), double
// inline ifs and for-loop commas whose parts are calls, and sums over spawned processes that
// mix integer and double members.
TEST_F(MixedValuesRun, DoublesThroughSpawnsSumsAndCalls)
{
    check({"num_sweep_spawn_sum.xta",
           {{"Pr[<=5](<> P.C && arr[1] == 4.0)", Expect::Likely},
            {"Pr[<=5](<> P.C && d == 1.5)", Expect::Likely},
            {"Pr[<=5](<> P.C && e == 2.0 && f == 1.5)", Expect::Likely},
            {"Pr[<=5](<> P.C && g == 1.5)", Expect::Likely},
            {"Pr[<=5](<> P.C && h == 7.0 && k == 12.5)", Expect::Likely},
            {"Pr[<=5](<> P.C && (sum (w : W) (w.q + w.p)) == 9)", Expect::Likely},
            {"Pr[<=5](<> P.C && (sum (w : W) (w.q + w.p)) != 9)", Expect::Unlikely}}});
}

// A quantifier yields 0 or 1, never the value of an instance, and its range is [0, 1] where
// ranges are analysed (here the bound of a clock constraint).
TEST_F(MixedValuesRun, QuantifiersYieldTruthValues)
{
    const Case cases[] = {
        {"num_forall_value.xta",
         {{"E<> P.B && r == 1", Expect::Satisfied},
          {"E<> P.B && s == 1", Expect::Satisfied},
          {"E<> (forall (i : int[0,2]) a[i]) == 1", Expect::Satisfied},
          {"E<> (forall (i : int[0,2]) a[i]) == true", Expect::Satisfied}}},
        {"num_forall_bound.xta", {{"E<> P.B", Expect::Satisfied}}},
    };
    for (const Case& k : cases) {
        check(k);
    }
}
