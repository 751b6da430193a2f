// Functions, statements, calls and quantifiers in byte code.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "runtime/exceptions.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const functions =
    "int[0,100] g = 3;\n"
    "int[0,100] h;\n"
    "const int a[3] = {1, 2, 3};\n"
    "const int q[3] = {1, 20, 0};\n"
    "int next(int v) { return v + 1; }\n"
    "int twice(int &r) { return r * 2; }\n"
    "void bump(int &r) { r = r + 1; }\n"
    "int truth(bool b) { return b; }\n"
    "int loops() { int s = 0; for (i : int[0,2]) { s = s + i + 1; } return s; }\n"
    "int none() { int s = 7; for (i : int[3,1]) { s = 0; } return s; }\n"
    "void empty() { for (i : int[3,1]) { g = 0; } }\n"
    "int whiles() { int n = 0; while (false) { n = n + 1; } do { n = n + 10; } while (false); return n; }\n"
    "int choose(int v) { if (v > 2) { return 1; } else { return 2; } }\n"
    "int counting() { int n = 0; for (n = 0; n < 4; n++) { } return n; }\n"
    "int locals() { bool flag = 5; int l[2]; l[1] = l[1] + 3; return flag + l[1]; }\n"
    "int checked(int v) { assert(v > 0); return v; }\n"
    "process P() { state A; init A; }\n"
    "system P;\n";

class Statements : public ::testing::Test
{
protected:
    Compiled c = compile(functions);

    int32_t call(const std::string& function, const std::vector<expression_t>& arguments = {})
    {
        return c.compiler->evaluateConstant(c.call(function, arguments));
    }
    expression_t number(int32_t v) { return expression_t::createConstant(v); }

    // The listing of a global function's code, from its entry to the return that ends it.
    std::string body(const std::string& function)
    {
        binding_t symbol;
        c.model->getGlobals().frame.resolve(function, symbol);
        Symbol* node = c.compiler->getRootSymbol()->find(symbol);
        const uint32_t start =
            static_cast<uint32_t>(c.system->getVariable(node->getOffset())->evaluate(nullptr));
        const std::string all = mnemonics(c.listing(start), start);
        return all.substr(0, all.find("return\n") + 7);
    }
};

} // namespace

TEST_F(Statements, LoopsConditionsAndLocals)
{
    EXPECT_EQ(call("loops"), 6);
    EXPECT_EQ(call("none"), 7);
    EXPECT_EQ(call("whiles"), 10);
    EXPECT_EQ(call("choose", {number(3)}), 1);
    EXPECT_EQ(call("choose", {number(2)}), 2);
    EXPECT_EQ(call("counting"), 4);
    // A bool local initialised with 5 holds 1; an array local starts at its defaults on every
    // entry to its block.
    EXPECT_EQ(call("locals"), 4);
    EXPECT_EQ(call("locals"), 4);
    // The loop variable keeps the last value it had.
    EXPECT_EQ(c.variable("ii")->getValue(nullptr), 2);
}

TEST_F(Statements, IterationOverAnEmptyRangeEmitsNothing)
{
    // Not even the body: the function is its trailing return.
    EXPECT_EQ(body("empty"), "return\n");
}

TEST_F(Statements, CallsPassValuesAndReferences)
{
    EXPECT_EQ(call("next", {number(1)}), 2);
    // The inner call completes before the outer call writes its parameter.
    EXPECT_EQ(call("next", {c.call("next", {number(1)})}), 3);
    EXPECT_EQ(call("next", {c.call("next", {c.call("next", {number(1)})})}), 4);
    // A bool parameter given 5 holds 1.
    EXPECT_EQ(call("truth", {number(5)}), 1);
    // A value passed by reference lives in a temporary, removed again after the evaluation.
    const size_t variables = c.system->getVariables().size();
    EXPECT_EQ(call("twice", {number(21)}), 42);
    EXPECT_EQ(c.system->getVariables().size(), variables);

    // A variable passed by reference is changed by the function.
    auto state = c.state();
    c.compiler->makeProgramExpression(c.call("bump", {c.parse("g")}))->evaluate(state.get());
    EXPECT_EQ(c.get(*state, "g"), 4);
    EXPECT_EQ(c.compiler->compileValueExpression(c.call("twice", {c.parse("g")}), false)->evaluate(state.get()), 8);
}

TEST_F(Statements, AFailedAssertionReportsItsPosition)
{
    EXPECT_EQ(call("checked", {number(2)}), 2);
    EXPECT_THROW(call("checked", {number(0)}), CannotEvaluateExpression);
}

TEST(FunctionEnds, EveryBodyEndsInAReturn)
{
    // The end of a void body returns; so does the reachable end of a value function (a model
    // the checker reports), instead of running on into the code after it.
    Compiled c = compileDespiteErrors("int g;\n"
                                      "int missing() { g = 1; }\n"
                                      "void nothing() { g = 2; }\n"
                                      "process P() { state A; init A; }\nsystem P;");
    for (const char* name : {"missing", "nothing"}) {
        SCOPED_TRACE(name);
        binding_t symbol;
        c.model->getGlobals().frame.resolve(name, symbol);
        Symbol* node = c.compiler->getRootSymbol()->find(symbol);
        const uint32_t start = static_cast<uint32_t>(c.system->getVariable(node->getOffset())->evaluate(nullptr));
        const std::string code = mnemonics(c.listing(start), start);
        EXPECT_EQ(code.substr(0, code.find("return\n") + 7),
                  "storeIPop " + std::to_string(c.index("g")) + (std::string(name) == "missing" ? " 1" : " 2") +
                      "\nreturn\n");
    }
    // The call of the first function does not run into the second one, which would set g to 2.
    auto state = c.state();
    c.compiler->compileValueExpression(c.call("missing", {}), false)->evaluate(state.get());
    EXPECT_EQ(c.get(*state, "g"), 1);
}

TEST_F(Statements, QuantifiersOverConstantRanges)
{
    struct Case
    {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"forall (i : int[3,2]) i > 100", 1},
        {"exists (i : int[3,2]) i > 0", 0},
        {"sum (i : int[3,2]) i", 0},
        // A verdict, 0 or 1, also when the instances are other numbers.
        {"forall (i : int[0,2]) a[i]", 1},
        // Stops at the first false instance: q[2] would divide by zero.
        {"forall (i : int[0,2]) 10 / q[i]", 0},
        {"exists (i : int[4,4]) i", 1},
        {"exists (i : int[0,2]) a[i] - 1", 1},
        {"exists (i : int[0,2]) a[i] == 2", 1},
        {"sum (i : int[1,3]) i * i", 14},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(c.compiler->evaluateConstant(c.parse(k.text)), k.value);
    }
}

TEST(DynamicQuantifiers, OverNoLiveProcess)
{
    Compiled c = compile("dynamic D(int n);\n"
                         "int[-5,5] k;\n"
                         "process D(int n) { state A; init A; }\n"
                         "process P() { state A; init A; }\nsystem P;");
    ExpressionRef all = c.compiler->compileValueExpression(c.parse("forall (p : D) (p.n > 0)"), false);
    ExpressionRef some = c.compiler->compileValueExpression(c.parse("exists (p : D) (p.n > 0)"), false);
    // (The state is made after the compilation, which adds the quantifiers' state variables.)
    auto state = c.concreteState();
    EXPECT_EQ(all->evaluate(state.get()), 1);
    EXPECT_EQ(c.variable("FORALL")->getValue(state.get()), -1);
    EXPECT_EQ(c.variable("FORALLCOUNTER")->getValue(state.get()), 0);
    EXPECT_EQ(some->evaluate(state.get()), 0);
    // Two member expressions of the same template are two entries of its evaluation list.
    template_t* d = c.model->findDynamicTemplate("D");
    ASSERT_NE(d, nullptr);
    const expression_t count = expression_t::createUnary(NUMOF, expression_t::createIdentifier(d->symbol), span_t(),
                                                         type_t::createPrimitive(INT));
    EXPECT_EQ(c.compiler->compileValueExpression(count, false)->evaluate(state.get()), 0);
    EXPECT_EQ(d->dynamicEvaluations.size(), 2u);
}
