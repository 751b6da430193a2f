#include "driver/scenario_model_facts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "typecheck/checked_reading.h"

using namespace ZOLT;

namespace {

const char* const model = R"(
const int N = 3;
const int ca[2] = {4, 5};
int x;
chan c[N];
process T(const int[0,1] a, const int[0,N-2] b) {
    state s;
    init s;
    trans s -> s { select i : int[1,2]; sync c[i]!; };
}
process V(int &r, const int k, int m) { state s; init s; }
U = V(x, N - 1, N);
system T, U;
)";

std::string describe(const ScenarioModelFacts::Process& p)
{
    std::string text = p.name + " of " + p.templateName + ":";
    for (const auto& [name, value] : p.parameters) {
        text += " " + name + "=" + value;
    }
    return text;
}

} // namespace

TEST(ScenarioModelFacts, ProcessSetsExpandInOrderOfTheirParameters)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readCheckedTextModelBuffer(model, &system, true));
    ParsedModelFacts facts(system);
    std::vector<std::string> processes;
    for (const auto& p : facts.processes()) {
        processes.push_back(describe(p));
    }
    // A reference parameter has no value to record.
    EXPECT_EQ(processes, (std::vector<std::string>{"T(0,0) of T: a=0 b=0", "T(0,1) of T: a=0 b=1",
                                                   "T(1,0) of T: a=1 b=0", "T(1,1) of T: a=1 b=1",
                                                   "U of V: k=2 m=3"}));
}

TEST(ScenarioModelFacts, ConstantsAndRanges)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readCheckedTextModelBuffer(model, &system, true));
    ParsedModelFacts facts(system);
    struct Case
    {
        const char* text;
        int32_t value;
    };
    for (const Case& c : std::vector<Case>{{"N * 2 + ca[1]", 11},
                                           {"N > 2 ? -N : 1", -3},
                                           {"(N << 30) + (N << 30)", static_cast<int32_t>(0x80000000u)},
                                           {"(-2147483647 - 1) / -1", INT32_MIN},
                                           {"7 % -1", 0}}) {
        SCOPED_TRACE(c.text);
        expression_t e = readCheckedExpressionText(c.text, &system, true);
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(facts.evaluateConstant(e), c.value);
    }
    for (const char* text : {"x + 1", "N / 0", "ca[2]"}) {
        SCOPED_TRACE(text);
        expression_t e = readCheckedExpressionText(text, &system, true);
        ASSERT_FALSE(e.empty());
        EXPECT_THROW(facts.evaluateConstant(e), std::runtime_error);
    }
    // The range of a select variable comes from its declared type.
    const edge_t& edge = system.getTemplates().front().edges.front();
    EXPECT_EQ(facts.getRange(edge.sync[0][1]), interval_t(1, 2));
}
