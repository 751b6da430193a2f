// The query language, from a fixture with every query form.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "parse_helpers.h"

namespace {

using namespace mirvek_test;

TEST(ParserQueries, EveryQueryForm)
{
    RecordingBuilder builder;
    FILE* file = std::fopen((std::string(MIRVEK_TEST_MODELS) + "/parse_queries.q").c_str(), "r");
    ASSERT_NE(file, nullptr);
    const int result = ZOLT::runQueryParserOnFile(file, &builder);
    std::fclose(file);
    EXPECT_EQ(result, 0);
    std::string calls;
    for (const auto& c : builder.calls)
        calls += (calls.empty() ? "" : "\n") + c;
    EXPECT_EQ(calls, R"(exprDeadlock()
exprUnary(LOGICAL_NOT)
exprUnary(ALWAYS_GLOBALLY)
property()
exprId(P)
exprDot(goal)
exprUnary(EXISTS_EVENTUALLY)
property()
exprId(x)
exprNar(1)
exprBinary(GREATER)
exprUnary(ALWAYS_EVENTUALLY)
property()
exprId(y)
exprUnary(EXISTS_GLOBALLY)
property()
exprId(p)
exprId(q)
exprBinary(LEADS_TO)
property()
exprId(p)
exprId(q)
exprUnary(ALWAYS_EVENTUALLY)
exprBinary(LOGICAL_AND)
exprUnary(ALWAYS_GLOBALLY)
property()
exprId(p)
exprId(q)
exprUnary(ALWAYS_EVENTUALLY)
exprBinary(LOGICAL_AND)
exprUnary(ALWAYS_GLOBALLY)
property()
exprId(p)
exprId(q)
exprBinary(ALWAYS_UNTIL)
property()
exprId(p)
exprId(q)
exprBinary(ALWAYS_WEAK_UNTIL)
property()
exprId(p)
exprUnary(ROBUST_ALWAYS_GLOBALLY)
property()
exprId(q)
exprUnary(ROBUST_EXISTS_EVENTUALLY)
property()
exprId(p)
exprUnary(SMC_UNARY_QUERY)
property()
scenario(Chart)
exprScenario(Chart)
property()
exprTrue()
exprId(x)
exprId(y)
exprNary(LIST, 2)
exprBinary(SUPREMUM)
property()
exprId(P)
exprDot(done)
exprId(x)
exprNary(LIST, 1)
exprBinary(SUPREMUM)
property()
exprTrue()
exprId(z)
exprNary(LIST, 1)
exprBinary(INFIMUM)
property()
exprNar(10)
exprId(p)
exprProbaQualitative(1, DIAMOND, GREATER_EQUAL, 0.9)
property()
exprNar(10)
exprId(p)
exprProbaQualitative(0, BOX, LESS_EQUAL, 0.1)
property()
exprId(x)
exprNar(10)
exprId(p)
exprProbaEstimate(2, DIAMOND, false)
property()
exprNar(10)
exprId(p)
exprId(q)
exprProbaEstimate(1, DIAMOND, true)
property()
exprNar(10)
exprId(p)
exprId(c)
exprNar(20)
exprId(q)
exprProbaCompare(1, DIAMOND, 2, BOX)
property()
exprNar(100)
exprId(x)
exprId(y)
exprSimulation(10, 1, 2, false, 0)
property()
exprNar(100)
exprId(x)
exprId(y)
exprId(x)
exprNar(3)
exprBinary(GREATER)
exprSimulation(10, 1, 2, true, 2)
property()
exprNar(100)
exprId(x)
exprId(x)
exprNar(3)
exprBinary(GREATER)
exprSimulation(10, 0, 1, true, 0)
property()
exprNar(10)
exprNar(100)
exprId(x)
exprProbaExpected(1, max)
property()
exprId(p)
exprId(q)
exprMitlUntil(0, 5)
exprMitlUntil()
property()
exprId(p)
exprMitlEventually(0, 5)
exprId(q)
exprMitlNext()
exprBinary(LOGICAL_OR)
exprMitlUntil()
property()
exprId(p)
exprId(q)
exprMitlRelease(1, 3)
exprId(q)
exprMitlAlways(1, 2)
exprBinary(LOGICAL_AND)
exprMitlUntil()
property()
exprId(P)
exprNumOf()
exprNar(1)
exprBinary(GREATER)
exprId(P)
exprForAllDynamicBegin(p, P)
exprId(p)
exprDot(x)
exprNar(0)
exprBinary(EQUAL)
exprForAllDynamicEnd(p)
exprBinary(LOGICAL_AND)
exprUnary(EXISTS_EVENTUALLY)
property()
exprId(P)
exprForeachDynamicBegin(p, P)
exprId(p)
exprDot(y)
exprForeachDynamicEnd(p)
exprUnary(ALWAYS_GLOBALLY)
property())");
}

TEST(ParserQueries, Errors)
{
    struct Case
    {
        const char* name;
        const char* text;
        int result;
        const char* calls;
    };
    const Case cases[] = {
        // Queries have no recovery point of their own: a bad query ends the file.
        {"bad query ends the file", "A[] x\nE<> +\nA[] y", -1,
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); error($syntax_error: $unexpected '\\n')"},
        {"probability compared with an integer", "Pr[<=1](<> p) >= 1", -1,
         "exprNar(1); exprId(p); error($syntax_error: $unexpected T_NAT, $expecting T_FLOATING)"},
        {"robust reachability plus has no rule", "E<>+ p", -1, "error($syntax_error: $unexpected T_EF_PLUS, $expecting $end)"},
        {"a parenthesised error inside a query is replaced", "E<> (x +) || y", 0,
         "exprId(x); error($syntax_error: $unexpected ')'); exprFalse(); exprId(y); exprBinary(LOGICAL_OR); "
         "exprUnary(EXISTS_EVENTUALLY); property()"},
        {"model keywords are names in queries", "E<> select && dynamic", 0,
         "exprId(select); exprId(dynamic); exprBinary(LOGICAL_AND); exprUnary(EXISTS_EVENTUALLY); property()"},
        {"empty query text", "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = parseQueries(c.text);
        EXPECT_EQ(p.result, c.result);
        EXPECT_EQ(p.calls, c.calls);
    }
}

} // namespace
