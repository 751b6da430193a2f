// The last stages of a run's chain and the clock that bounds a run.

#include <gtest/gtest.h>

#include "pipeline/keys.h"
#include "smc/checker_frame.h"
#include "smc_fixture.h"

namespace {

TEST(ConcreteQuery, RaisesBothFlagsWhenThePredicateHoldsAndNeverClearsThem)
{
    auto model = smctest::compile("int n; process P() { state A; init A; } system P;");
    auto state = model->initial();
    ConcreteQuery query;
    ExpressionRef predicate = model->formula("n == 1");
    query.setProperty(PROPERTY_EXPRESSION, predicate.get());
    bool done = false;
    bool satisfied = false;
    query.done = &done;
    query.satisfied = &satisfied;
    EXPECT_FALSE(query.put(state.get()));
    EXPECT_FALSE(done);
    model->system->findVariable("n")->setValue(state.get(), 1);
    EXPECT_TRUE(query.put(state.get()));
    EXPECT_TRUE(done && satisfied);
    model->system->findVariable("n")->setValue(state.get(), 0);
    EXPECT_FALSE(query.put(state.get()));
    EXPECT_TRUE(done && satisfied);
}

TEST(ConcreteValue, WritesTheValueOrTheNamedClock)
{
    auto model = smctest::compile("clock x, y; int n = 3; process P() { state A; init A; } system P;");
    auto state = model->initial();
    state->setClockValue(model->clock("y"), 2.5);
    double cell = -1;
    ConcreteValue value(&cell);
    const ZOLT::expression_t number = ZOLT::readCheckedExpressionText("n * 2", model->parsed.get(), true);
    ExpressionRef doubled = model->compiler->compileValueExpression(number, true);
    value.setProperty(PROPERTY_EXPRESSION, doubled.get());
    EXPECT_TRUE(value.put(state.get()));
    EXPECT_EQ(cell, 6);
    const ZOLT::expression_t clock = ZOLT::readCheckedExpressionText("y", model->parsed.get(), true);
    ExpressionRef y = model->compiler->compileValueExpression(clock, false);
    value.setProperty(PROPERTY_EXPRESSION, y.get());
    value.clockValued = true;
    EXPECT_TRUE(value.put(state.get()));
    EXPECT_EQ(cell, 2.5);
}

// Shows the bound clock of the frame.
struct Bounded : BoundClock
{
    void setClock(const ExpressionRef& clock) { boundClockExpression = clock; }
};

TEST(BoundClock, ReadsTheGivenClockOrTheGlobalTime)
{
    auto model = smctest::compile("clock x, y; process P() { state A; init A; } system P;");
    model->system->addTimeClock();
    auto state = model->initial();
    state->setClockValue(model->clock("y"), 4);
    state->setClockValue(model->system->getTimeClock(), 7);
    Bounded bound;
    EXPECT_EQ(bound.boundClockValue(state.get()), 7);
    const ZOLT::expression_t clock = ZOLT::readCheckedExpressionText("y", model->parsed.get(), true);
    bound.setClock(model->compiler->compileValueExpression(clock, false));
    EXPECT_EQ(bound.boundClockValue(state.get()), 4);
    model->system->removeTimeClock();
}

}  // namespace
