// Run-time exceptions, visitors and the simple run-time expressions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "language/system.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/variable.h"
#include "testkit/expressions.h"
#include "testkit/fake_state.h"
#include "testkit/model_builder.h"

using testkit::FakeState;
using testkit::Probe;

TEST(RuntimeExceptions, CopyKeepsEveryFieldAndIsIndependent)
{
    const CannotEvaluateExpression first("Division by zero", (uint64_t{9} << 32) | 4, "f(x)", 7);
    CannotEvaluateExpression copy(first);
    copy.setStateNumber(12);
    EXPECT_STREQ(copy.what(), "Division by zero");
    EXPECT_EQ(copy.getPosition(), (uint64_t{9} << 32) | 4);
    EXPECT_EQ(copy.getContext(), "f(x)");
    EXPECT_EQ(copy.getStateNumber(), 12);
    EXPECT_EQ(first.getStateNumber(), 7);

    const CannotEvaluateExpression absent("m", NO_POSITION);
    EXPECT_EQ(absent.getPosition(), 0x7fffffff00000000ull);
    EXPECT_EQ(absent.getStateNumber(), -1);
    EXPECT_EQ(CannotEvaluateExpression("m", ZOLT::span_t()).getPosition(), NO_POSITION);
    EXPECT_EQ(CompileError("$Key", ZOLT::span_t(3, 8)).getPosition(), (uint64_t{8} << 32) | 3);

    EXPECT_STREQ(InitialStateUndefinedException().what(), "The initial state is undefined");
}

TEST(RuntimeExpressions, ConstantsAndTheResultCell)
{
    FakeState state;
    EXPECT_EQ(Constant(5).evaluate(&state), 5);
    state.result = -1.0;
    EXPECT_EQ(DoubleConstant(2.5).evaluate(&state), 0);
    EXPECT_EQ(state.result, 2.5);
    EXPECT_TRUE(Constant(5).isConstant());
    EXPECT_TRUE(Constant(5).trivial);
    EXPECT_TRUE(Constant(5).convex);
    EXPECT_FALSE(Constant(5).clockDependent);
    EXPECT_FALSE(Constant(5).timeDependent);
}

TEST(RuntimeExpressions, NegatingTwiceGivesTheSameObject)
{
    FakeState state;
    ExpressionRef five(new Constant(5));
    ExpressionRef negated = five->negate();
    EXPECT_NE(negated.get(), five.get());
    EXPECT_EQ(negated->evaluate(&state), 0);
    EXPECT_EQ(negated->negate().get(), five.get());
    EXPECT_EQ(ExpressionRef(new Constant(0))->negate()->evaluate(&state), 1);
}

TEST(RuntimeExpressions, CommaEvaluatesInOrderAndReadsTheUnion)
{
    FakeState state(2);
    base::RefPtr<System> system(new System());
    StateVariable* a = system->addStateVariable("a", 0, 10, 0, false);
    StateVariable* b = system->addStateVariable("b", 0, 10, 0, false);
    // b := 3, then a := b: the second sees the first's write.
    ExpressionRef comma(new CommaExpression(testkit::assign(b, 3), testkit::copy(a, b)));
    EXPECT_EQ(comma->evaluate(&state), 3);
    EXPECT_EQ(state.integers[0], 3);
    EXPECT_EQ(comma->reads, (IndexSet{static_cast<uint32_t>(b->getIndex())}));
    EXPECT_EQ(comma->writes, (IndexSet{0, 1}));
}

TEST(RuntimeExpressions, ProductWrapsAtThirtyTwoBits)
{
    FakeState state;
    ExpressionRef big(new Constant(65536));
    EXPECT_EQ(Product(big, big).evaluate(&state), 0);
    EXPECT_EQ(Product(ExpressionRef(new Constant(-3)), ExpressionRef(new Constant(7))).evaluate(&state), -21);
    EXPECT_EQ(Product(ExpressionRef(new Constant(INT32_MIN)), ExpressionRef(new Constant(-1))).evaluate(&state),
              INT32_MIN);
}

TEST(RuntimeExpressions, CombinatorsRefuseNonTrivialOperands)
{
    ExpressionRef clock = testkit::clockUpper(nullptr, false, 3);
    ExpressionRef one(new Constant(1));
    EXPECT_THROW(NotExpression{clock}, Bug);
    EXPECT_THROW((CommaExpression{one, clock}), Bug);
    EXPECT_THROW((Product{clock, one}), Bug);
}

TEST(RuntimeExpressions, OperationsOfQuantifiersOnlyOnQuantifiers)
{
    Constant c(1);
    EXPECT_THROW(c.setVal(1), Bug);
    EXPECT_THROW(c.getVariable(), Bug);
    EXPECT_THROW(c.getTemplateIndex(), Bug);
    EXPECT_THROW(c.getName(), Bug);
    EXPECT_FALSE(c.isForeach());
}

namespace {
// Records the order of the visits.
struct OrderVisitor : ExpressionVisitor
{
    std::vector<std::string> visits;
    void visitConstant(Constant*) override { visits.push_back("constant"); }
    void visitNot(NotExpression*) override { visits.push_back("not"); }
    void visitComma(CommaExpression*) override { visits.push_back("comma"); }
    void visitProduct(Product*) override { visits.push_back("product"); }
};
}  // namespace

TEST(RuntimeExpressions, VisitsArePostOrderAndSkipExpressionsWithoutAVisit)
{
    OrderVisitor visitor;
    ExpressionRef(new Constant(1))->negate()->accept(visitor);
    EXPECT_EQ(visitor.visits, (std::vector<std::string>{"constant", "not"}));

    visitor.visits.clear();
    ExpressionRef probe(new Probe(1));
    CommaExpression(probe, ExpressionRef(new DoubleConstant(1.0))).accept(visitor);
    EXPECT_EQ(visitor.visits, (std::vector<std::string>{"comma"}));
}

TEST(RuntimeExpressions, ForeachBindsTheValueOnceAndRefusesASecondEvaluation)
{
    FakeState state(1);
    base::RefPtr<System> system(new System());
    StateVariable* bound = system->addStateVariable("i", -1, 100, -1, false);
    base::RefPtr<Probe> body(new Probe(0));
    base::RefPtr<ForeachExpr> each(new ForeachExpr("i", bound, 2, ExpressionRef(body.get())));

    EXPECT_TRUE(each->isForeach());
    EXPECT_EQ(each->getName(), "i");
    EXPECT_EQ(each->getTemplateIndex(), 2);
    EXPECT_EQ(each->getVariable(), bound);
    EXPECT_EQ(each->negate().get(), each.get());
    EXPECT_THROW(each->getReads(), Bug);

    each->setVal(7);
    EXPECT_EQ(each->evaluate(&state), 1);
    EXPECT_EQ(state.integers[0], 7);
    EXPECT_EQ(body->evaluations, 1);
    EXPECT_THROW(each->evaluate(&state), Bug);
    EXPECT_EQ(body->evaluations, 1);
}

namespace {
// A term that leaves 1.5 in the result cell.
struct HalfAndOne : TrivialExpression
{
    void accept(ExpressionVisitor&) override {}
    int32_t evaluate(PublicState* state) override
    {
        state->result = 1.5;
        return 1;
    }
};
}  // namespace

TEST(RuntimeExpressions, DynamicSumAddsTheTermOverLiveInstances)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    StateVariable* bound = m.system->addStateVariable("k", -1, 2147483647, -1, false);
    ZOLT::template_t dynamicTemplate;
    dynamicTemplate.dynamicIndex = 0;
    DynamicSumExpression sum(&dynamicTemplate, ExpressionRef(new HalfAndOne()), bound);

    ConcreteState state(m.system.get());
    SpawnTable table(1);
    state.spawnTable = &table;
    EXPECT_EQ(sum.evaluate(&state), 0);
    EXPECT_EQ(state.result, 0.0);

    table[0].liveCount = 2;
    table[0].liveNumbers = {3, 5};
    EXPECT_EQ(sum.evaluate(&state), 3);
    EXPECT_EQ(state.result, 3.0);
    EXPECT_EQ(bound->getValue(&state), 5);
    EXPECT_THROW(sum.negate(), Bug);
}

TEST(RuntimeExpressions, DynamicSumOnAStateWithoutConcreteStateIsAnEvaluationError)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    StateVariable* bound = m.system->addStateVariable("k", -1, 2147483647, -1, false);
    ZOLT::template_t dynamicTemplate;
    DynamicSumExpression sum(&dynamicTemplate, ExpressionRef(new HalfAndOne()), bound);
    SymbolicState* symbolic = m.system->acquireState();
    EXPECT_THROW(sum.evaluate(symbolic), CannotEvaluateExpression);
    symbolic->release();
    FakeState fake;
    EXPECT_THROW(sum.evaluate(&fake), CannotEvaluateExpression);
}

TEST(PublicStateDefaults, PlainStatesAnswerTheDefaults)
{
    FakeState state;
    EXPECT_EQ(state.getSymbolicState(), nullptr);
    EXPECT_EQ(state.getConcreteState(), nullptr);
    EXPECT_EQ(state.getDynamicProcessCount(), 0u);
}
