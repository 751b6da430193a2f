// Expressions to byte code, compile-time evaluation, clock comparisons and the rewriting
// helpers.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "compiler/rewriting.h"
#include "runtime/exceptions.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const model = "const int z = 0;\n"
                          "const int ca[int[2,5]] = {10, 11, 12, 13};\n"
                          "int[0,100] x = 5;\n"
                          "int[0,100] y = 7;\n"
                          "bool b;\n"
                          "bool c;\n"
                          "double d1 = 1.5;\n"
                          "double d2 = 2.0;\n"
                          "clock cx;\n"
                          "clock cy;\n"
                          "typedef struct { int a; int b; } Pair;\n"
                          "Pair p1;\n"
                          "Pair p2;\n"
                          "int f5() { return 5; }\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

class Expressions : public ::testing::Test
{
protected:
    Compiled c = compile(model);

    // Compiles the text as an update (its effects) and runs it on the state.
    int32_t run(const std::string& text, testkit::FakeState& state)
    {
        return c.compiler->makeProgramExpression(c.parse(text))->evaluate(&state);
    }
    int32_t value(const std::string& text, testkit::FakeState& state)
    {
        return c.compiler->compileValueExpression(c.parse(text), false)->evaluate(&state);
    }
    std::string lid(const std::string& name) { return "lid " + std::to_string(c.index(name)); }
};

} // namespace

TEST_F(Expressions, ConnectivesSkipTheirRightOperand)
{
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("0 && 1 / z == 1")), 0);
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("5 || 1 / z == 1")), 1);
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("0 || 0")), 0);
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("3 && 4")), 1);
    EXPECT_THROW(c.compiler->evaluateConstant(c.parse("1 && 1 / z == 1")), CannotEvaluateExpression);

    EXPECT_EQ(c.code("b && c"), lid("b") + "\ncopy\njmpz @8\n" + lid("c") + "\nand\nhalt\n");
    EXPECT_EQ(c.code("b || c"), lid("b") + "\nnot\ncopy\njmpz @10\n" + lid("c") + "\nnot\nand\nnot\nhalt\n");
}

TEST_F(Expressions, IncrementsAndAssignments)
{
    auto state = c.state();
    EXPECT_EQ(value("x++", *state), 5);
    EXPECT_EQ(c.get(*state, "x"), 6);
    EXPECT_EQ(value("++x", *state), 7);
    EXPECT_EQ(value("x--", *state), 7);
    EXPECT_EQ(c.get(*state, "x"), 6);

    // A bool takes 0 or 1 whatever integer it is given.
    run("b = 7", *state);
    EXPECT_EQ(c.get(*state, "b"), 1);
    run("c |= 4", *state);
    EXPECT_EQ(c.get(*state, "c"), 1);
    run("x += 3", *state);
    EXPECT_EQ(c.get(*state, "x"), 9);
    run("y -= 2", *state);
    EXPECT_EQ(c.get(*state, "y"), 5);
    run("y *= 3", *state);
    EXPECT_EQ(c.get(*state, "y"), 15);

    // An assignment is itself a reference: it can be assigned to.
    run("(x = 1) = 2", *state);
    EXPECT_EQ(c.get(*state, "x"), 2);
    // A comma drops the address the assignment left and yields its right part.
    const expression_t y = c.parse("y");
    const expression_t comma = expression_t::createBinary(COMMA, c.parse("x = 4"), y, span_t(), y.getType());
    EXPECT_EQ(c.compiler->compileValueExpression(comma, false)->evaluate(state.get()), 15);
    EXPECT_EQ(c.get(*state, "x"), 4);

    // A list of many operands (an update's assignments) runs them in order, each value dropped
    // but the last; it is compiled along the list, not refused as deep nesting.
    const expression_t increment = c.parse("x = (x + 1) % 97");
    expression_t list = increment;
    for (int k = 1; k < 5000; ++k) {
        list = expression_t::createBinary(COMMA, list, increment, span_t(), increment.getType());
    }
    list = expression_t::createBinary(COMMA, list, c.parse("x + 1000"), span_t(), y.getType());
    EXPECT_EQ(c.compiler->compileValueExpression(list, false)->evaluate(state.get()), 1000 + (4 + 5000) % 97);
    EXPECT_EQ(c.get(*state, "x"), (4 + 5000) % 97);
}

TEST_F(Expressions, InlineIfAsValueAndAsReference)
{
    auto state = c.state();
    c.set(*state, "c", 1);
    EXPECT_EQ(value("c ? x : 0", *state), 5);
    c.set(*state, "c", 0);
    EXPECT_EQ(value("c ? x : 0", *state), 0);
    EXPECT_EQ(value("c ? 0 : y", *state), 7);

    // Two variables as branches designate one of them.
    run("(c ? x : y) = 30", *state);
    EXPECT_EQ(c.get(*state, "y"), 30);
    c.set(*state, "c", 1);
    run("(c ? x : y) = 40", *state);
    EXPECT_EQ(c.get(*state, "x"), 40);

    // The then branch's variable is loaded before the jump over the else branch.
    EXPECT_EQ(c.code("c ? x : 0"), lid("c") + "\njmpz @9\npush " + std::to_string(c.index("x")) +
                                        "\nload\njmp @11\npush 0\nhalt\n");
}

TEST_F(Expressions, ArrayIndicesAreNormalisedAndChecked)
{
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("ca[2]")), 10);
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("ca[5]")), 13);
    const expression_t outside = c.parse("ca[6]");
    try {
        c.compiler->evaluateConstant(outside);
        ADD_FAILURE() << "index 6 was accepted";
    } catch (const CannotEvaluateExpression& error) {
        EXPECT_EQ(error.getPosition(), outside.getPosition().packed());
    }
}

TEST_F(Expressions, FloatingPointFlagIsSetByFloatingPointArithmeticOnly)
{
    struct Case
    {
        const char* text;
        bool flag;
    };
    const Case cases[] = {{"d1 * d2 > 1.0", true}, {"d1 + d2 > 1.0", false}, {"x * d1 > 1.0", false},
                          {"d1 / d2 > 1.0", true}, {"sqrt(d1) > 1.0", true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        c.system->floatingPoint = false;
        c.code(k.text);
        EXPECT_EQ(c.system->floatingPoint, k.flag);
    }
    EXPECT_EQ(c.code("x * d1", true), "lid " + std::to_string(c.index("x")) + "\nint2Double\npush " +
                                          std::to_string(c.index("d1")) + "\ndoubleLoad\ndoubleMul\ndoubleRet\nhalt\n");
}

TEST_F(Expressions, ComparisonsOfRecordsAndDoubles)
{
    const std::string p1 = std::to_string(c.index("p1.a"));
    const std::string p2 = std::to_string(c.index("p2.a"));
    EXPECT_EQ(c.code("p1 == p2"), "push " + p1 + "\npush " + p2 + "\ncompareN 2\nhalt\n");
    EXPECT_EQ(c.code("p1 != p2"), "push " + p1 + "\npush " + p2 + "\ncompareN 2\nnot\nhalt\n");
    EXPECT_EQ(c.code("d1 != 1.5"),
              "push " + std::to_string(c.index("d1")) + "\ndoubleLoad\ndoublePush 1.5\ndoubleEQ\nnot\nhalt\n");
}

TEST_F(Expressions, ClockConstraintsBecomeConstraintInstructions)
{
    // cx is clock 1: push first, second, bound and cexpr fold into cexpri with the raw bound.
    struct Case
    {
        const char* text;
        const char* code;
    };
    const Case cases[] = {
        {"cx < 5", "cexpri 1 0 10\nhalt\n"},
        {"3 < cx", "cexpri 0 1 -6\nhalt\n"},
        {"cx + 2 >= 7", "cexpri 0 1 -9\nhalt\n"},
        {"cx == 4", "cexpri 1 0 9\ncexpri 0 1 -7\nand\nhalt\n"},
        {"cx - cy <= 2 + 1", "cexpri 1 2 7\nhalt\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(c.code(k.text), k.code);
    }
    // A bound read from a variable stays a run-time operand.
    EXPECT_EQ(c.code("cx <= x"), "push 1\npush 0\n" + lid("x") + "\ncexpr 0\nhalt\n");
}

TEST_F(Expressions, ClockComparedWithADoubleIsAFloatingComparison)
{
    const std::string code = c.code("cx < 2.5");
    EXPECT_EQ(code.find("cexpr"), std::string::npos) << code;
    // (The subtraction of the absent second clock, 0.0, is folded away.)
    EXPECT_EQ(code, "push 1\nclockLoad\ndoublePush 2.5\ndoubleLT\nhalt\n");

    ExpressionRef guard = c.compiler->compileValueExpression(c.parse("cx - cy <= 1.5"), false);
    auto state = c.concreteState();
    state->setClockValue(1, 3.0);
    state->setClockValue(2, 1.0);
    EXPECT_EQ(guard->evaluate(state.get()), 0);
    state->setClockValue(2, 1.5);
    EXPECT_EQ(guard->evaluate(state.get()), 1);
}

TEST_F(Expressions, ClockAssignments)
{
    c.system->hasClockCopies = false;
    auto state = c.concreteState();
    double value = 0.0;
    state->setClockValue(2, 4.25);
    c.compiler->makeProgramExpression(c.parse("cx = cy"))->evaluate(state.get());
    EXPECT_TRUE(c.system->hasClockCopies);
    state->getClockValue(1, value);
    EXPECT_EQ(value, 4.25);

    state->setClockValue(2, 6.5);
    c.compiler->makeProgramExpression(c.parse("d1 = cy"))->evaluate(state.get());
    EXPECT_EQ(c.variable("d1")->getDoubleValue(state.get()), 6.5);
    c.compiler->makeProgramExpression(c.parse("cx = 3"))->evaluate(state.get());
    state->getClockValue(1, value);
    EXPECT_EQ(value, 3.0);
}

TEST_F(Expressions, ArrayInitialiserOfTheWrongLengthIsRefused)
{
    type_t arrayType = type_t::createArray(
        type_t::createPrimitive(INT),
        type_t::createRange(type_t::createPrimitive(INT), expression_t::createConstant(0),
                            expression_t::createConstant(2)));
    const span_t at(40, 50);
    expression_t list = expression_t::createNary(LIST, {expression_t::createConstant(1), expression_t::createConstant(2)},
                                                 at, arrayType);
    try {
        c.compiler->compileExpression(list);
        ADD_FAILURE() << "two elements accepted for three";
    } catch (const CompileError& error) {
        EXPECT_STREQ(error.what(), "$Wrong_number_of_elements_in_array_initialiser");
        EXPECT_EQ(error.getPosition(), at.packed());
    }
}

TEST_F(Expressions, EvaluateConstantLeavesNoTrace)
{
    const uint32_t size = c.program().size();
    const size_t variables = c.system->getVariables().size();
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("2 * 3 + 1")), 7);
    const type_t integer = type_t::createPrimitive(INT);
    EXPECT_EQ(c.compiler->evaluateConstant(expression_t::createBinary(ADD, c.call("f5", {}), c.parse("1"), span_t(),
                                                                        integer)),
              6);
    EXPECT_EQ(c.program().size(), size);
    EXPECT_EQ(c.system->getVariables().size(), variables);

    // A failed evaluation leaves nothing behind either, so the compiler stays usable.
    const expression_t failing =
        expression_t::createBinary(DIVIDE, c.call("f5", {}), c.parse("z"), span_t(3, 4), integer);
    try {
        c.compiler->evaluateConstant(failing);
        ADD_FAILURE() << "division by zero accepted";
    } catch (const CannotEvaluateExpression& error) {
        EXPECT_EQ(std::string(error.what()), "Division by zero");
        EXPECT_EQ(error.getPosition(), failing.getPosition().packed());
    }
    EXPECT_EQ(c.program().size(), size);
    EXPECT_EQ(c.system->getVariables().size(), variables);
    EXPECT_EQ(c.compiler->evaluateConstant(c.parse("ca[3] - 1")), 10);
}

// A query compiled after processes were spawned (their variables in the System's extra table)
// adds temporaries of its own; the spawned variables keep their indices and are not erased.
TEST_F(Expressions, QueriesCompiledAfterASpawnLeaveTheSpawnedVariablesInPlace)
{
    StateVariable* spawned = c.system->addStateVariable("spawned", 0, 9, 0, true);
    const uint64_t index = spawned->getIndex();
    const type_t integer = type_t::createPrimitive(INT);
    EXPECT_EQ(c.compiler->evaluateConstant(
                  expression_t::createBinary(ADD, c.call("f5", {}), c.parse("1"), span_t(), integer)),
              6);
    ASSERT_EQ(c.system->getExtraVariables().size(), 1u);
    auto state = c.state();
    const expression_t twice = expression_t::createBinary(MULTIPLY, c.call("f5", {}), c.parse("2"), span_t(), integer);
    EXPECT_EQ(c.compiler->compileValueExpression(twice, false)->evaluate(state.get()), 10);
    EXPECT_EQ(c.system->getVariable(index), spawned);
    EXPECT_GT(c.system->getExtraVariables().size(), 1u);
}

TEST_F(Expressions, SubstitutionCopiesAndExtractionKeepsClockConjuncts)
{
    Compiled q = compile("int a[4]; int i; int n; clock x; clock y;\nprocess P() { state A; init A; }\nsystem P;");
    binding_t i;
    ASSERT_TRUE(q.model->getGlobals().frame.resolve("i", i));
    const expression_t e = q.parse("a[i] + i");
    const expression_t s = substituteConstant(e, i, 3);
    EXPECT_EQ(s.toString(), "a[3] + 3");
    EXPECT_EQ(e.toString(), "a[i] + i");

    EXPECT_EQ(extractClockGuard(q.parse("(x < 3 && n == 1) && y > 2")).toString(), "x < 3 && y > 2");
    EXPECT_TRUE(extractClockGuard(q.parse("n == 1")).empty());
    EXPECT_EQ(extractClockGuard(q.parse("n == 1 && x - y <= 2")).toString(), "x - y <= 2");
}

TEST_F(Expressions, LongChainsCompileWithoutRecursion)
{
    // Trees this deep do not come from the parser, but must not exhaust the stack when they
    // are made elsewhere.
    const expression_t one = c.parse("x > 0");
    expression_t conjunction = one;
    expression_t sum = c.parse("1");
    for (int i = 1; i < 60000; ++i) {
        conjunction = expression_t::createBinary(LOGICAL_AND, conjunction, one, span_t(), one.getType());
        sum = expression_t::createBinary(ADD, sum, c.parse("1"), span_t(), type_t::createPrimitive(INT));
    }
    auto state = c.state();
    EXPECT_EQ(c.compiler->compileStateFormula(conjunction, ExpressionRef())->evaluate(state.get()), 1);
    EXPECT_EQ(c.compiler->evaluateConstant(sum), 60000);
    EXPECT_EQ(c.compiler->getAnalyser()->getRange(sum), interval_t(60000, 60000));
    std::set<uint32_t> reads;
    c.compiler->getAnalyser()->collectReads(conjunction, reads);
    EXPECT_EQ(reads, std::set<uint32_t>{c.index("x")});

    // Nesting that is not a chain ends in a positioned error.
    expression_t negation = c.parse("x");
    for (int i = 0; i < 5000; ++i) {
        negation = expression_t::createUnary(UNARY_MINUS, negation, span_t(7, 9), type_t::createPrimitive(INT));
    }
    try {
        c.compiler->compileValueExpression(negation, false);
        ADD_FAILURE() << "no error";
    } catch (const CompileError& error) {
        EXPECT_STREQ(error.what(), "$Expression_is_nested_too_deeply");
        EXPECT_EQ(error.getPosition(), span_t(7, 9).packed());
    }
    EXPECT_THROW(c.compiler->getAnalyser()->getRange(negation), CompileError);
}
