// Query texts read through the parser and the builders, checked by the type checker and
// printed again: the builders, the type checker and the printer must agree on the shape
// of every query node.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/parser.h"
#include "frontend/system_builder.h"
#include "language/system.h"
#include "typecheck/checked_reading.h"
#include "typecheck/type_checker.h"

using namespace ZOLT;

namespace {

const char* const model = "clock x;\n"
                          "int i;\n"
                          "bool b;\n"
                          "double d;\n"
                          "const int N = 100;\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

// Keeps each parsed query instead of deciding its property type.
class QueryCollector : public SystemBuilder
{
public:
    using SystemBuilder::SystemBuilder;
    void property() override { queries.push_back(popFragment()); }
    using SystemBuilder::fragments;
    std::vector<expression_t> queries;
};

std::vector<std::string> messages(const TimedAutomataSystem& system)
{
    std::vector<std::string> out;
    for (const diagnostic_t& d : system.getErrors()) {
        out.push_back(d.message);
    }
    return out;
}

// The text of the one query that `text` holds, after the type checker has accepted it.
std::string roundTrip(const char* text)
{
    // Positions run on from the model's text into the query's, as when a tool reads both.
    resetParserState();
    TimedAutomataSystem system;
    if (!readCheckedTextModelBuffer(model, &system, true)) {
        return "model rejected";
    }
    QueryCollector builder(&system);
    if (runQueryParserOnText(text, &builder) != 0 || builder.queries.size() != 1 || !builder.fragments.empty()) {
        return "parse failed";
    }
    TypeChecker checker(system);
    checker.validateQuery(builder.queries[0]);
    if (system.errorsPresent()) {
        return "type errors: " + messages(system)[0];
    }
    try {
        return builder.queries[0].toString();
    } catch (const std::runtime_error& e) {
        return std::string("print failed: ") + e.what();
    }
}

} // namespace

TEST(QueryText, EveryQueryFormPrintsWhatWasRead)
{
    struct Case
    {
        const char* query;
        const char* text;
    };
    const std::vector<Case> cases = {
        // Symbolic path formulas.
        {"E<> i > 1", "E<> i > 1"},
        {"E[] b", "E[] b"},
        {"A<> b", "A<> b"},
        {"A[] x < 5", "A[] x < 5"},
        {"b --> i > 0", "b --> i > 0"},
        {"A[b U i > 0]", "A[b U i > 0] "},
        {"A[b W i > 0]", "A[b W i > 0] "},
        {"A[]* b", "A[]* b"},
        {"E<>* b", "E<>* b"},
        // Probability against a constant; "<=" is read as its dual.
        {"Pr[<=N](<> b) >= 0.5", "Pr[<=N](<> b) >= 0.500000"},
        {"Pr[#<=10]([] b) >= 0.25", "Pr[#<=10]([] b) >= 0.250000"},
        {"Pr[x<=10](<> b) >= 0.5", "Pr[x<=10](<> b) >= 0.500000"},
        {"Pr[<=10]([] b) <= 0.25", "Pr[<=10](<> !b) >= 0.750000"},
        // Probability estimates, with and without a condition that holds until the goal.
        {"Pr[<=N](<> b)", "Pr[<=N](<> b) ?"},
        {"Pr[#<=5]([] i > 0)", "Pr[#<=5]([] i > 0) ?"},
        {"Pr[x<=N](<> b)", "Pr[x<=N](<> b) ?"},
        {"Pr[<=N](i > 0 U b)", "Pr[<=N](i > 0 U b) ?"},
        // Comparison of two probabilities.
        {"Pr[<=10](<> b) >= Pr[#<=5]([] i > 0)", "Pr[<=10](<> b) >= Pr[#<=5]([] i > 0)"},
        {"Pr[x<=10]([] b) >= Pr[<=N](<> b)", "Pr[x<=10]([] b) >= Pr[<=N](<> b)"},
        // Expectations.
        {"E[<=10; 50](max: i)", "E[<=10; 50] (max: i)"},
        {"E[#<=N; 20](min: d)", "E[#<=N; 20] (min: d)"},
        // Simulations, with and without an accepting predicate.
        {"simulate 10 [<=100] {i, x}", "simulate[10x <=100]{i, x}"},
        {"simulate 3 [x<=N] {d}", "simulate[3x x<=N]{d}"},
        {"simulate 10 [<=100] {i} : 2 : b", "simulate[10x <=100]{i} : 2 : b"},
        {"simulate 10 [#<=100] {i, x} : i > 0", "simulate[10x #<=100]{i, x} : 0 : i > 0"},
        // Extreme values.
        {"sup: i, x", "sup{true}: i, x"},
        {"inf{b}: x", "inf{b}: x"},
        // Metric interval temporal logic.
        {"Pr (b U[0,5] i > 0)", "MITL: bU[0;5]i > 0"},
        {"Pr (b R[1,4] i > 0)", "MITL: bR[1;4]i > 0"},
        {"Pr ((X b) && (<>[0,3] i > 0))", "MITL: X(b)/\\1U[0;3]i > 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(roundTrip(c.query), c.text) << c.query;
    }
}

// The bounded control query has no syntax of its own; its builder operation makes it.
TEST(QueryText, BoundedControlBuiltByItsOperation)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readCheckedTextModelBuffer(model, &system, true));
    QueryCollector builder(&system);
    builder.exprId("x");
    builder.exprNar(10);
    builder.exprId("b");
    builder.exprUnary(EXISTS_EVENTUALLY);
    builder.exprSMCControl(2);
    ASSERT_EQ(builder.fragments.size(), 1u);
    expression_t query = builder.fragments.back();
    TypeChecker checker(system);
    checker.validateQuery(query);
    EXPECT_EQ(messages(system), std::vector<std::string>{});
    EXPECT_EQ(query.toString(), "control[x<=10]: E<> b");
}
