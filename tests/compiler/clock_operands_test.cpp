// Clocks beside truth values, clock differences and clocks shifted in one branch of an inline if:
// the zone gets the constraints it can hold, everything else is compared by the clock values.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "typecheck/relations.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const model = "clock x; clock y; clock z[2];\n"
                          "bool b = true; int[0,3] n = 1; int[0,1] i;\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

class ClockOperands : public ::testing::Test
{
protected:
    Compiled c = compile(model);

    ExpressionRef formula(const std::string& text)
    {
        return c.compiler->compileStateFormula(c.parse(text), ExpressionRef());
    }
    ExpressionRef value(const std::string& text, bool asDouble = false)
    {
        return c.compiler->compileValueExpression(c.parse(text), asDouble);
    }
};

// The constraints of a ClockExpr as "first second bound strict", evaluated where b is true.
std::vector<std::string> constraints(const ExpressionRef& e, testkit::FakeState& state)
{
    std::vector<std::string> out;
    auto* clocks = dynamic_cast<ClockExpr*>(e.get());
    EXPECT_NE(clocks, nullptr);
    if (clocks == nullptr) {
        return out;
    }
    for (const Constraint& k : clocks->getConstraints()) {
        out.push_back(std::to_string(k.getFirst()->evaluate(&state)) + " " +
                      std::to_string(k.getSecond()->evaluate(&state)) + " " +
                      std::to_string(k.getBound()->evaluate(&state)) + (k.isStrict() ? " <" : " <="));
    }
    return out;
}

} // namespace

// A truth value is 0 or 1: a clock compared with one is the clock constraint on that number,
// on either side, and a clock shifted by one is shifted by that number.
TEST_F(ClockOperands, TruthValuesBoundClocksAsNumbers)
{
    struct Case
    {
        const char* text;
        const char* same;   // the form with integers
    };
    const Case cases[] = {
        {"x == true", "x == 1"},          {"true == x", "1 == x"},        {"x == !20", "x == 0"},
        {"!0 == x", "1 == x"},            {"x == (1 > 2)", "x == 0"},     {"x <= b", "x <= 1"},
        {"b < x", "1 < x"},               {"x >= true", "x >= 1"},        {"x > false", "x > 0"},
        {"x - y == b", "x - y == 1"},     {"b >= x - y", "1 >= x - y"},   {"x + true <= 3", "x + 1 <= 3"},
        {"x - b < 2", "x - 1 < 2"},       {"(x - y) + b <= 2", "(x - y) + 1 <= 2"},
        {"z[b] <= 2", "z[1] <= 2"},
    };
    auto state = c.state();
    c.set(*state, "b", 1);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(constraints(formula(k.text), *state), constraints(formula(k.same), *state));
    }
    // An inequality is the disjunction of the two strict bounds, as for an integer.
    ExpressionRef unequal = formula("x != true");
    auto* either = dynamic_cast<OrExpr*>(unequal.get());
    ASSERT_NE(either, nullptr);
    EXPECT_EQ(constraints(either->getLeft(), *state), (std::vector<std::string>{"1 0 1 <"}));
    EXPECT_EQ(constraints(either->getRight(), *state), (std::vector<std::string>{"0 1 -1 <"}));
    // In byte code (an edge's guard) the same constraint instructions as for the integer.
    EXPECT_EQ(c.code("x == true"), c.code("x == 1"));
    EXPECT_EQ(c.code("true == x"), c.code("1 == x"));
}

// Comparisons that no difference bound can hold are decided on the clock values: on a concrete
// state they answer, on a symbolic state they fail with the positioned run-time error.
TEST_F(ClockOperands, OtherComparisonsReadTheClockValues)
{
    struct Case
    {
        const char* text;
        int32_t value;   // with x = 3, y = 1, z[0] = 2, b true
    };
    const Case cases[] = {
        {"x == y + z[0]", 1},     {"x != y + z[0]", 0},     {"x - y == z[0]", 1},    {"x - y == x - z[0]", 0},
        {"y - x < z[0] - x", 1},  {"y <= (b ? x : x + 1)", 1}, {"(b ? x + 1 : x) == 4", 1},
        {"(b ? x : x + 1) > 3.5", 0}, {"1 + (x - y) > 3.5", 0}, {"(x - y) + 1 > 2.5", 1},
    };
    auto concrete = c.concreteState();
    concrete->setClockValue(1, 3.0);
    concrete->setClockValue(2, 1.0);
    concrete->setClockValue(3, 2.0);
    c.variable("b")->setValue(concrete.get(), 1);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        ExpressionRef compiled = formula(k.text);
        EXPECT_EQ(dynamic_cast<ClockExpr*>(compiled.get()), nullptr);
        EXPECT_EQ(compiled->evaluate(concrete.get()), k.value);
        const expression_t parsed = c.parse(k.text);
        SymbolicState* symbolic = c.system->acquireState();
        try {
            c.compiler->compileValueExpression(parsed, false)->evaluate(symbolic);
            ADD_FAILURE() << "a symbolic state answered";
        } catch (const CannotEvaluateExpression& error) {
            EXPECT_NE(std::string(error.what()).find("is read as a number"), std::string::npos) << error.what();
            // At the clock read, inside the comparison.
            const auto start = static_cast<int32_t>(static_cast<uint32_t>(error.getPosition()));
            const auto end = static_cast<int32_t>(static_cast<uint32_t>(error.getPosition() >> 32));
            EXPECT_GE(start, parsed.getPosition().start);
            EXPECT_LE(end, parsed.getPosition().end);
            EXPECT_LT(start, end);
        }
        symbolic->release();
    }
    // Their range is that of any truth value.
    for (const char* text : {"x == y + z[0]", "x - y == x - z[0]", "y - x < z[0] - x"}) {
        SCOPED_TRACE(text);
        const interval_t range = c.compiler->getAnalyser()->getRange(c.parse(text));
        EXPECT_EQ(range.lower, 0);
        EXPECT_EQ(range.upper, 1);
    }
}

// A clock of the zone is a clock variable, an element or an inline if between such; a clock
// shifted by a number is a value, and an inline if with such a branch leaves clock values.
TEST_F(ClockOperands, OnlyDesignatedClocksAreClocksOfTheZone)
{
    for (const char* text : {"x", "z[n % 2]", "(b ? x : y)", "(b ? x : (n > 1 ? y : z[0]))"}) {
        EXPECT_TRUE(designatesClock(c.parse(text))) << text;
    }
    for (const char* text : {"x + 1", "x + b", "x - y", "(b ? x : x + 1)", "n", "b"}) {
        EXPECT_FALSE(designatesClock(c.parse(text))) << text;
    }
    auto concrete = c.concreteState();
    concrete->setClockValue(1, 3.0);
    concrete->setClockValue(2, 1.0);
    for (auto [text, expected] : {std::pair{"(b ? x : x + 1)", 3.0}, std::pair{"(b ? x + 1 : x)", 4.0},
                                  std::pair{"(b ? x : y)", 3.0}, std::pair{"(!b ? x : y)", 1.0},
                                  std::pair{"(!b ? x : y + 1)", 2.0}, std::pair{"1 + (x - y)", 3.0},
                                  std::pair{"(x - y) + 1", 3.0}, std::pair{"x + true", 4.0}}) {
        SCOPED_TRACE(text);
        c.variable("b")->setValue(concrete.get(), 1);
        value(text, true)->evaluate(concrete.get());
        EXPECT_EQ(concrete->result, expected);
    }
    // A clock chosen by an inline if is copied into another, as a clock is.
    c.variable("b")->setValue(concrete.get(), 0);
    c.compiler->makeProgramExpression(c.parse("z[0] = (b ? x : y)"))->evaluate(concrete.get());
    double copied = 0.0;
    concrete->getClockValue(3, copied);
    EXPECT_EQ(copied, 1.0);
}
