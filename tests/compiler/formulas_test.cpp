// State formulas, clock constraints, value expressions and sup and inf.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "compiler/value_clock_expr.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/location.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const model = "clock x; clock y; clock z[3];\n"
                          "int[0,5] n; int[0,2000000000] big; int[0,2] i;\n"
                          "double d = 1.5;\n"
                          "dynamic D(int k);\n"
                          "process D(int k) { clock y; state A; init A; }\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

class Formulas : public ::testing::Test
{
protected:
    Compiled c = compile(model);

    ExpressionRef formula(const std::string& text)
    {
        return c.compiler->compileStateFormula(c.parse(text), ExpressionRef());
    }
    int32_t clockNumber(const std::string& name)
    {
        return static_cast<ClockVariable*>(c.variable(name))->getClockNumber();
    }
    static int32_t valueOf(const ExpressionRef& e) { return e->evaluate(nullptr); }
};

// The constraints of a ClockExpr, each as "first second bound strict [lowest,highest]", the
// bound evaluated where all variables are 0.
std::vector<std::string> constraints(const ExpressionRef& e)
{
    testkit::FakeState state(64, 0, 0, 8);
    std::vector<std::string> out;
    auto* clocks = dynamic_cast<ClockExpr*>(e.get());
    EXPECT_NE(clocks, nullptr);
    if (clocks == nullptr) {
        return out;
    }
    for (const Constraint& k : clocks->getConstraints()) {
        out.push_back(std::to_string(k.getFirst()->evaluate(&state)) + " " +
                      std::to_string(k.getSecond()->evaluate(&state)) + " " +
                      std::to_string(k.getBound()->evaluate(&state)) + (k.isStrict() ? " <" : " <=") + " [" +
                      std::to_string(k.getLowestBound()) + "," + std::to_string(k.getHighestBound()) + "]");
    }
    return out;
}

} // namespace

TEST_F(Formulas, ClockComparisonsInDifferenceForm)
{
    using List = std::vector<std::string>;
    EXPECT_EQ(constraints(formula("x < 5")), (List{"1 0 5 < [5,5]"}));
    EXPECT_EQ(constraints(formula("x >= y")), (List{"2 1 0 <= [0,0]"}));
    EXPECT_EQ(constraints(formula("5 <= x")), (List{"0 1 -5 <= [-5,-5]"}));
    EXPECT_EQ(constraints(formula("x > 3")), (List{"0 1 -3 < [-3,-3]"}));
    EXPECT_EQ(constraints(formula("x - y <= n + 1")), (List{"1 2 1 <= [1,6]"}));
    EXPECT_EQ(constraints(formula("x == 3")), (List{"1 0 3 <= [3,3]", "0 1 -3 <= [-3,-3]"}));

    ExpressionRef unequal = formula("x != 3");
    auto* disjunction = dynamic_cast<OrExpr*>(unequal.get());
    ASSERT_NE(disjunction, nullptr);
    EXPECT_EQ(constraints(disjunction->getLeft()), (List{"1 0 3 < [3,3]"}));
    EXPECT_EQ(constraints(disjunction->getRight()), (List{"0 1 -3 < [-3,-3]"}));

    // Clock sets and reads of a clock array element with a variable index.
    ExpressionRef indexed = formula("z[i] < 3");
    auto* element = dynamic_cast<ClockExpr*>(indexed.get());
    ASSERT_NE(element, nullptr);
    const Constraint& k = element->getConstraints().front();
    EXPECT_EQ(k.getFirstClocks(), (IndexSet{3, 4, 5}));
    EXPECT_TRUE(k.getSecondClocks().empty());
    EXPECT_EQ(k.getReads(), (IndexSet{c.index("i"), c.index("z[0]"), c.index("z[1]"), c.index("z[2]")}));
    // A clock chosen by an inline if is still a clock of the zone.
    ExpressionRef chosen = formula("(n > 0 ? x : y) < 3");
    auto* either = dynamic_cast<ClockExpr*>(chosen.get());
    ASSERT_NE(either, nullptr);
    EXPECT_EQ(either->getConstraints().front().getFirstClocks(), (IndexSet{1, 2}));
    ExpressionRef single = formula("x < 5");
    auto* simple = dynamic_cast<ClockExpr*>(single.get());
    EXPECT_EQ(simple->getConstraints().front().getFirstClocks(), IndexSet{1});
}

TEST_F(Formulas, IntegerBoundsMustStayWithinTheZoneLimits)
{
    EXPECT_NO_THROW(formula("x <= 1073741822"));
    EXPECT_NO_THROW(formula("x >= -1073741822"));
    for (const char* text : {"x <= 1073741823", "x >= 1073741823", "x - y < big"}) {
        SCOPED_TRACE(text);
        const expression_t e = c.parse(text);
        try {
            c.compiler->compileStateFormula(e, ExpressionRef());
            ADD_FAILURE() << "accepted";
        } catch (const CompileError& error) {
            EXPECT_STREQ(error.what(), "$Out_of_range_clock_constraint");
            EXPECT_EQ(error.getPosition(), e.getPosition().packed());
        }
    }
}

TEST_F(Formulas, FloatingPointBoundsMakeDoubleClockExpressions)
{
    ExpressionRef bounded = formula("x <= 2.5");
    auto* upper = dynamic_cast<DoubleClockExpr*>(bounded.get());
    ASSERT_NE(upper, nullptr);
    EXPECT_FALSE(upper->isStrict());
    EXPECT_FALSE(upper->isNegated());
    EXPECT_EQ(valueOf(upper->getFirst()), 1);
    EXPECT_EQ(valueOf(upper->getSecond()), 0);

    ExpressionRef lower = formula("2.5 < x");
    auto* below = dynamic_cast<DoubleClockExpr*>(lower.get());
    ASSERT_NE(below, nullptr);
    EXPECT_TRUE(below->isStrict());
    EXPECT_EQ(valueOf(below->getFirst()), 0);
    EXPECT_EQ(valueOf(below->getSecond()), 1);
    auto state = c.concreteState();
    below->getBound()->evaluate(state.get());
    EXPECT_EQ(state->result, -2.5);
    state->setClockValue(1, 3.0);
    EXPECT_EQ(lower->evaluate(state.get()), 1);
    state->setClockValue(1, 2.5);
    EXPECT_EQ(lower->evaluate(state.get()), 0);
}

TEST_F(Formulas, QuantifiersAreUnrolled)
{
    // One ClockExpr for a conjunction of clock constraints.
    EXPECT_EQ(constraints(formula("forall (k : int[0,2]) z[k] < 5")).size(), 3u);
    // A single value gives its instance itself.
    EXPECT_EQ(constraints(formula("forall (k : int[1,1]) z[k] < 5")).size(), 1u);
    // Disjunctions nest to the left.
    ExpressionRef some = formula("exists (k : int[0,2]) z[k] < 5");
    auto* outer = dynamic_cast<OrExpr*>(some.get());
    ASSERT_NE(outer, nullptr);
    auto* inner = dynamic_cast<OrExpr*>(outer->getLeft().get());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(valueOf(dynamic_cast<ClockExpr*>(inner->getLeft().get())->getConstraints()[0].getFirst()), 3);
    EXPECT_EQ(valueOf(dynamic_cast<ClockExpr*>(inner->getRight().get())->getConstraints()[0].getFirst()), 4);
    EXPECT_EQ(valueOf(dynamic_cast<ClockExpr*>(outer->getRight().get())->getConstraints()[0].getFirst()), 5);
    // Empty ranges give the constants 1 and 0.
    for (auto [text, value] : {std::pair{"forall (k : int[3,2]) z[0] < k", 1},
                               std::pair{"exists (k : int[3,2]) z[0] < k", 0}}) {
        SCOPED_TRACE(text);
        ExpressionRef e = formula(text);
        EXPECT_TRUE(e->isConstant());
        EXPECT_EQ(valueOf(e), value);
    }
}

TEST_F(Formulas, ConnectivesAndNegation)
{
    // An integral formula is one byte-code expression.
    ExpressionRef integral = formula("n > 0 && n < 3");
    EXPECT_TRUE(integral->trivial);
    EXPECT_EQ(dynamic_cast<AndExpr*>(integral.get()), nullptr);
    // A clock constraint and an integer condition: an AndExpr.
    ExpressionRef mixed = formula("x < 3 && n > 0");
    EXPECT_NE(dynamic_cast<AndExpr*>(mixed.get()), nullptr);
    // The negation of a clock constraint is the negated constraint, not byte code.
    EXPECT_EQ(constraints(formula("!(x < 3)")), (std::vector<std::string>{"0 1 -3 <= [-3,-3]"}));

    // The right conjunct is compiled first.
    const uint32_t start = c.program().mark();
    formula("x < 3 && y > 2");
    EXPECT_EQ(mnemonics(c.listing(start)), "push 0\nhalt\npush 2\nhalt\npush -2\nhalt\n"
                                           "push 1\nhalt\npush 0\nhalt\npush 3\nhalt\n");
}

TEST_F(Formulas, DeadlockIsTheCallersExpression)
{
    const expression_t deadlock = expression_t::createDeadlock(span_t(4, 12));
    ExpressionRef given(new Constant(7));
    EXPECT_EQ(c.compiler->compileStateFormula(deadlock, given).get(), given.get());
    // Without one there is nothing to compile it into.
    try {
        c.compiler->compileStateFormula(deadlock, ExpressionRef());
        ADD_FAILURE() << "accepted";
    } catch (const CompileError& error) {
        EXPECT_EQ(error.getPosition(), span_t(4, 12).packed());
    }
}

TEST_F(Formulas, ValueExpressions)
{
    const uint32_t start = c.program().mark();
    ExpressionRef five = c.compiler->compileValueExpression(c.parse("5"), false);
    EXPECT_TRUE(five->isConstant());
    EXPECT_EQ(valueOf(five), 5);
    EXPECT_EQ(mnemonics(c.listing(start)), "push 5\nhalt\n");
    EXPECT_EQ(c.code("n", true), "lid " + std::to_string(c.index("n")) + "\nint2Double\ndoubleRet\nhalt\n");

    // A dynamic sum is a DynamicSumExpression over a ValueClockExpr, and depends on time.
    ExpressionRef sum = c.compiler->compileValueExpression(c.parse("sum (p : D) p.k"), false);
    auto* dynamicSum = dynamic_cast<DynamicSumExpression*>(sum.get());
    ASSERT_NE(dynamicSum, nullptr);
    EXPECT_TRUE(sum->timeDependent);
    EXPECT_NE(dynamic_cast<ValueClockExpr*>(dynamicSum->getTerm().get()), nullptr);
    EXPECT_NE(c.variable("SUM"), nullptr);

    // A sum of clock values is summed as doubles, and compared with a bound as a double.
    ExpressionRef clocks = c.compiler->compileValueExpression(c.parse("sum (p : D) p.y"), false);
    auto* clockSum = dynamic_cast<DynamicSumExpression*>(clocks.get());
    ASSERT_NE(clockSum, nullptr);
    EXPECT_EQ(dynamic_cast<ValueClockExpr*>(clockSum->getTerm().get()), nullptr);
    ExpressionRef above = formula("(sum (p : D) p.y) > 2");
    ExpressionRef below = formula("(sum (p : D) p.y) < 2");
    EXPECT_TRUE(above->trivial);
    // (The state is made after the compilation, which adds the sums' state variables.)
    auto state = c.concreteState();
    EXPECT_EQ(above->evaluate(state.get()), 0);
    EXPECT_EQ(below->evaluate(state.get()), 1);
}

TEST_F(Formulas, SupremumAndInfimumOfClocks)
{
    ExpressionRef sup = c.compiler->compileClockSup(c.parse("z[i]"));
    auto* supremum = dynamic_cast<ClockSupExpr*>(sup.get());
    ASSERT_NE(supremum, nullptr);
    EXPECT_EQ(dynamic_cast<ClockInfExpr*>(sup.get()), nullptr);
    EXPECT_EQ(supremum->getClocks(), (IndexSet{3, 4, 5}));
    ExpressionRef inf = c.compiler->compileClockInf(c.parse("y"));
    auto* infimum = dynamic_cast<ClockInfExpr*>(inf.get());
    ASSERT_NE(infimum, nullptr);
    EXPECT_EQ(infimum->getClocks(), IndexSet{2});
}

TEST(ValueClockExpressions, EvaluateBetweenTheHooksAndLeaveTheValue)
{
    ExpressionRef inner(new Constant(3));
    ValueClockExpr value(inner);
    testkit::FakeState state;
    EXPECT_EQ(value.evaluate(&state), 3);
    EXPECT_EQ(state.beginCount, 1);
    EXPECT_EQ(state.endCount, 1);
    EXPECT_EQ(state.result, 3.0);
    ExpressionRef negation = value.negate();
    EXPECT_NE(dynamic_cast<ValueClockExpr*>(negation.get()), nullptr);
    EXPECT_EQ(negation->evaluate(&state), 0);
    EXPECT_FALSE(value.trivial);
    EXPECT_TRUE(value.reads.empty());
}

TEST(RateEquations, AreRecordedOnTheLocation)
{
    Compiled c = compile("clock x; clock w; double r = 2.0;\n"
                         "process P() { state A { x' == 2 }, B { w' == r }; init A; trans A -> B {}; }\n"
                         "system P;");
    Location* a = c.system->getProcesses()[0]->getLocation(0);
    Location* b = c.system->getProcesses()[0]->getLocation(1);
    ASSERT_EQ(a->getClockRates().size(), 1u);
    EXPECT_FALSE(a->getClockRates()[0].notConstant);
    ASSERT_EQ(b->getClockRates().size(), 1u);
    EXPECT_TRUE(b->getClockRates()[0].notConstant);
    EXPECT_TRUE(c.system->floatingPointInvariants);
    // The equation adds no zone constraint to the invariant.
    testkit::FakeState state(8, 0, 1, 3);
    EXPECT_EQ(a->getInvariant()->evaluate(&state), 1);
    EXPECT_EQ(state.constrainCalls, 0);

    // Outside a location there is nowhere to record a rate.
    const expression_t rate = c.parse("x' == 3");
    EXPECT_THROW(c.compiler->compileStateFormula(rate, ExpressionRef()), Bug);
}
