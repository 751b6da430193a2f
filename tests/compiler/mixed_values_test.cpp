// Integers and doubles in one expression: comparisons and arithmetic, arguments of floating-point
// parameters, inline ifs and commas that yield doubles, local arrays of doubles and sums.

#include <gtest/gtest.h>

#include "compile_helpers.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const model = "int[0,10] i = 2;\n"
                          "bool c;\n"
                          "double dv = 1.5;\n"
                          "double e;\n"
                          "const int ca[3] = {1, 2, 3};\n"
                          "double half(double v) { return v / 2; }\n"
                          "double twice(const double &v) { return 2 * v; }\n"
                          "double one() { return 1.5; }\n"
                          "double two() { return 2.5; }\n"
                          "double byValue() { return half(5); }\n"
                          "double byReference() { return twice(3); }\n"
                          "double fromVariables() { return half(i) + twice(i + 1) + half(ca[2]); }\n"
                          "double nested() { return twice(half(i)); }\n"
                          "double constantOrVariable() { return c ? 2.5 : dv; }\n"
                          "double variableOrConstant() { return c ? dv : 2.5; }\n"
                          "double callOrConstant() { return c ? one() : 2.5; }\n"
                          "double constantOrCall() { return c ? 2.5 : one(); }\n"
                          "double callOrCall() { return c ? one() : two(); }\n"
                          "double callOrVariable() { return c ? two() : dv; }\n"
                          "double ifInSum() { return sum (k : int[0,2]) (k == 1 ? dv : 0.5); }\n"
                          "double da[3] = {0.5, 1.5, 2.5};\n"
                          "double copied() { double t[3] = da; double u[2][2]; u[1][1] = t[2];"
                          " return u[0][1] + u[1][1]; }\n"
                          "double unset() { double t[2]; t[1] = i; return t[0] + t[1]; }\n"
                          "int steps() { int k; double s = 0.5; for (k = 0, s + 1.0; k < 3; k++, s * 2.0) { s + 1.0; }"
                          " return k; }\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

class MixedValues : public ::testing::Test
{
protected:
    Compiled c = compile(model);

    int32_t value(const std::string& text, PublicState& state)
    {
        return c.compiler->compileValueExpression(c.parse(text), false)->evaluate(&state);
    }
    // The double result of a call of the named function without arguments.
    double number(const std::string& function, ConcreteState& state)
    {
        c.compiler->compileValueExpression(c.call(function, {}), true)->evaluate(&state);
        return state.result;
    }
};

} // namespace

// The integer operand is converted wherever it stands, also on a symbolic state, where the
// machine starts a run without double arithmetic.
TEST_F(MixedValues, IntegersAndDoublesCompareAsNumbersOnEitherSide)
{
    struct Case
    {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"i == 2.0", 1},         {"2.0 == i", 1},          {"i == 2.5", 0},          {"2.5 == i", 0},
        {"i != 2.5", 1},         {"2.5 != i", 1},          {"i != 2.0", 0},          {"2.0 != i", 0},
        {"i < 2.5", 1},          {"2.5 < i", 0},           {"2.5 > i", 1},           {"i >= 2.0", 1},
        {"2.0 <= i", 1},         {"1.5 >= i", 0},          {"i + 0.5 == 2.5", 1},    {"0.5 + i == 2.5", 1},
        {"1.5 * i == 3.0", 1},   {"5.0 / i == 2.5", 1},    {"0.5 - i < -1.0", 1},    {"(2.0 == i) + (i == 2.0)", 2},
        {"i == 2.0 && 2.5 > i", 1},
        // Integers known when compiling are converted at run time all the same.
        {"ca[1] == 2.0", 1},     {"(1 + 1) == 2.0", 1},   {"ca[1] * 1.5 == 3.0", 1}, {"2.5 < ca[2]", 1},
    };
    auto concrete = c.concreteState();
    auto symbolic = c.state();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(value(k.text, *concrete), k.value);
        EXPECT_EQ(value(k.text, *symbolic), k.value);
    }
    // With a floating-point variable (read on concrete states).
    EXPECT_EQ(value("i == dv", *concrete), 0);
    EXPECT_EQ(value("dv != i", *concrete), 1);
    EXPECT_EQ(value("dv + 0.5 == i", *concrete), 1);
    EXPECT_EQ(value("i == dv + 0.5", *concrete), 1);
}

TEST_F(MixedValues, IntegerArgumentsOfFloatingPointParametersAreConverted)
{
    struct Case
    {
        const char* function;
        double value;
    };
    const Case cases[] = {{"byValue", 2.5}, {"byReference", 6.0}, {"fromVariables", 1.0 + 6.0 + 1.5}, {"nested", 2.0}};
    auto state = c.concreteState();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.function);
        EXPECT_EQ(number(k.function, *state), k.value);
    }
}

// An inline if of doubles yields a double from either branch, whether a branch is a constant, a
// variable or a call.
TEST_F(MixedValues, DoubleInlineIfYieldsADoubleFromEitherBranch)
{
    struct Case
    {
        const char* function;
        double whenTrue;
        double whenFalse;
    };
    const Case cases[] = {
        {"constantOrVariable", 2.5, 1.5}, {"variableOrConstant", 1.5, 2.5}, {"callOrConstant", 1.5, 2.5},
        {"constantOrCall", 2.5, 1.5},     {"callOrCall", 1.5, 2.5},         {"callOrVariable", 2.5, 1.5},
    };
    auto state = c.concreteState();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.function);
        c.variable("c")->setValue(state.get(), 1);
        EXPECT_EQ(number(k.function, *state), k.whenTrue);
        c.variable("c")->setValue(state.get(), 0);
        EXPECT_EQ(number(k.function, *state), k.whenFalse);
    }
    EXPECT_EQ(number("ifInSum", *state), 2.5);
    EXPECT_EQ(value("(c ? 2.5 : dv) == 1.5", *state), 1);
    // Assigned, the double reaches the variable whole.
    c.variable("c")->setValue(state.get(), 1);
    c.compiler->makeProgramExpression(c.parse("e = (c ? dv : 2.5)"))->evaluate(state.get());
    EXPECT_EQ(c.variable("e")->getDoubleValue(state.get()), 1.5);
}

// A double computed only to be dropped (the left part of a comma, an expression statement, a
// loop's steps) leaves the integer stack as it was.
TEST_F(MixedValues, DroppedDoublesLeaveTheStacksBalanced)
{
    auto state = c.concreteState();
    EXPECT_EQ(c.compiler->evaluateConstant(c.call("steps", {})), 3);
    EXPECT_EQ(c.compiler->compileValueExpression(c.call("steps", {}), false)->evaluate(state.get()), 3);

    const expression_t sum = c.parse("e + 1.0");
    const expression_t assign = c.parse("i = 7");
    const expression_t comma = expression_t::createBinary(COMMA, sum, assign, span_t(), assign.getType());
    const expression_t update =
        expression_t::createBinary(COMMA, c.parse("e = 0.5"), comma, span_t(), assign.getType());
    c.compiler->makeProgramExpression(update)->evaluate(state.get());
    EXPECT_EQ(c.variable("i")->getValue(state.get()), 7);
    EXPECT_EQ(c.variable("e")->getDoubleValue(state.get()), 0.5);
}

TEST_F(MixedValues, LocalArraysOfDoublesStartAtZero)
{
    auto state = c.concreteState();
    EXPECT_EQ(number("unset", *state), 2.0);
    EXPECT_EQ(number("copied", *state), 2.5);
}

TEST_F(MixedValues, SumsOverIntegersOfDoubleOrTruthInstances)
{
    auto state = c.concreteState();
    EXPECT_EQ(value("(sum (k : int[0,2]) ca[k] * 0.5) == 3.0", *state), 1);
    EXPECT_EQ(value("(sum (k : int[0,2]) ca[k] > 1.5) == 2", *state), 1);
    EXPECT_EQ(value("(sum (k : int[0,2]) ca[k] > 1.5) + 0.5 == 2.5", *state), 1);
}
