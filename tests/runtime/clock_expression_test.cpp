// Clock-constraint expressions: evaluation on zones and clock values, negation, conjunction.

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "runtime/clock_expression.h"
#include "runtime/concrete_state.h"
#include "runtime/symbolic_state.h"
#include "support/exceptions.h"
#include "testkit/expressions.h"
#include "testkit/fake_state.h"
#include "testkit/model_builder.h"
#include "testkit/small_stack.h"

using testkit::FakeState;
using testkit::Probe;

namespace {
using dbm::boundLE;
using dbm::boundLT;
using dbm::clock_constraint_t;

// The constraints a clock expression applies, as recorded on a fake state over clocks 0..3.
std::vector<clock_constraint_t> applied(const ExpressionRef& e)
{
    FakeState state(0, 0, 0, 4);
    e->evaluate(&state);
    return state.constraints;
}

ExpressionRef difference(int32_t i, int32_t j, bool strict, int32_t bound)
{
    return ExpressionRef(new ClockExpr(testkit::constantConstraint(i, j, strict, bound)));
}

// A symbolic state over the two-process model's clocks with 0 <= x <= 10 and y free.
struct ZoneFixture
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->acquireState();

    ZoneFixture()
    {
        state->zone.setInit();
        state->zone.constrain(1, 0, boundLE(10));
    }
    ~ZoneFixture() { state->release(); }

    bool contains(double x, double y) const
    {
        const double point[3] = {0.0, x, y};
        return state->zone.containsPoint(point);
    }
};
}  // namespace

TEST(ClockConstraints, NegationIsExactAndInvolutive)
{
    // x - y < 3 negated is y - x <= -3; negated again x - y < 3.
    ExpressionRef e = difference(1, 2, true, 3);
    ExpressionRef once = e->negate();
    EXPECT_EQ(applied(once), (std::vector<clock_constraint_t>{{2, 1, boundLE(-3)}}));
    EXPECT_EQ(applied(once->negate()), (std::vector<clock_constraint_t>{{1, 2, boundLT(3)}}));

    SimpleConstraintExpr simple({1, 2, boundLT(3)});
    ExpressionRef negated = simple.negate();
    EXPECT_EQ(static_cast<SimpleConstraintExpr*>(negated.get())->getConstraint(),
              (clock_constraint_t{2, 1, boundLE(-3)}));
    EXPECT_EQ(static_cast<SimpleConstraintExpr*>(negated->negate().get())->getConstraint(),
              (clock_constraint_t{1, 2, boundLT(3)}));

    // The negated constraint keeps what its parts can take, mirrored.
    const Constraint c = testkit::constantConstraint(1, 2, false, 4).negated();
    EXPECT_EQ(c.getFirstClocks(), IndexSet{2});
    EXPECT_EQ(c.getSecondClocks(), IndexSet{1});
    EXPECT_EQ(c.getLowestBound(), -4);
    EXPECT_TRUE(c.isStrict());
}

// The negation of a conjunction is the disjunction of the negated constraints, in their order,
// joined as a balanced tree: three of them nest as (a || b) || c, and a conjunction as long as a
// guard of twenty thousand constraints as deep as its logarithm, so that evaluating, negating
// and freeing it stay shallow.
TEST(ClockConstraints, NegatedConjunctionIsABalancedDisjunction)
{
    base::RefPtr<ClockExpr> conjunction(new ClockExpr(testkit::constantConstraint(1, 0, false, 5)));
    conjunction->appendConstraints(ClockExpr(testkit::constantConstraint(0, 2, false, -1)));
    conjunction->appendConstraints(ClockExpr(testkit::constantConstraint(1, 3, true, 2)));
    ExpressionRef negated = conjunction->negate();

    auto* outer = dynamic_cast<OrExpr*>(negated.get());
    ASSERT_NE(outer, nullptr);
    auto* inner = dynamic_cast<OrExpr*>(outer->getLeft().get());
    ASSERT_NE(inner, nullptr);
    auto single = [](const ExpressionRef& e) {
        auto* c = dynamic_cast<ClockExpr*>(e.get());
        return c != nullptr && c->getConstraints().size() == 1;
    };
    EXPECT_TRUE(single(inner->getLeft()));
    EXPECT_TRUE(single(inner->getRight()));
    EXPECT_TRUE(single(outer->getRight()));
    EXPECT_EQ(applied(outer->getRight()), (std::vector<clock_constraint_t>{{3, 1, boundLE(-2)}}));
    EXPECT_FALSE(negated->convex);

    testkit::onSmallStack([] {
        const int32_t n = 20000;
        base::RefPtr<ClockExpr> guard(new ClockExpr(testkit::constantConstraint(1, 0, false, 0)));
        for (int32_t k = 1; k < n; ++k) {
            guard->appendConstraints(ClockExpr(testkit::constantConstraint(1, 0, false, k)));
        }
        ExpressionRef negation = guard->negate();
        size_t deepest = 0;
        std::vector<std::pair<Expression*, size_t>> work{{negation.get(), 1}};
        std::vector<int32_t> bounds;
        while (!work.empty()) {
            auto [e, depth] = work.back();
            work.pop_back();
            deepest = std::max(deepest, depth);
            if (auto* o = dynamic_cast<OrExpr*>(e)) {
                work.emplace_back(o->getRight().get(), depth + 1);
                work.emplace_back(o->getLeft().get(), depth + 1);
            } else {
                // Left to right: the negated constraints in the order of the conjunction.
                bounds.push_back(applied(ExpressionRef(e))[0].bound);
            }
        }
        EXPECT_LE(deepest, 16u);
        ASSERT_EQ(bounds.size(), static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) {
            ASSERT_EQ(bounds[static_cast<size_t>(k)], boundLT(-k)) << k;
        }
        FakeState state(0, 0, 0, 4);
        EXPECT_EQ(negation->evaluate(&state), 1);
        // Negated again, the disjunction is the conjunction of all the constraints once more.
        const ExpressionRef negatedAgain = negation->negate();
        auto* again = dynamic_cast<ClockExpr*>(negatedAgain.get());
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->getConstraints().size(), static_cast<size_t>(n));
    });
}

TEST(ClockConstraints, MakeConjunction)
{
    ExpressionRef a = difference(1, 0, false, 5);
    ExpressionRef b = difference(0, 2, true, -1);
    EXPECT_EQ(makeConjunction(a, nullptr).get(), a.get());
    EXPECT_EQ(makeConjunction(nullptr, b).get(), b.get());

    ExpressionRef both = makeConjunction(a, b);
    ASSERT_NE(dynamic_cast<ClockExpr*>(both.get()), nullptr);
    EXPECT_NE(both.get(), a.get());
    FakeState state(0, 0, 0, 4);
    EXPECT_EQ(both->evaluate(&state), 1);
    EXPECT_EQ(state.constrainCalls, 1);
    EXPECT_EQ(state.constraints, (std::vector<clock_constraint_t>{{1, 0, boundLE(5)}, {0, 2, boundLT(-1)}}));
    // The operands are left as they were.
    EXPECT_EQ(static_cast<ClockExpr*>(a.get())->getConstraints().size(), 1u);

    ExpressionRef mixed = makeConjunction(a, ExpressionRef(new Probe(1)));
    EXPECT_NE(dynamic_cast<AndExpr*>(mixed.get()), nullptr);
}

TEST(ClockConstraints, ConstantPartsAreFoldedOnceAndAppendedOnesExaminedAnew)
{
    base::RefPtr<ClockExpr> e(new ClockExpr(testkit::constantConstraint(1, 0, false, 5)));
    FakeState state(0, 0, 0, 4);
    e->evaluate(&state);
    base::RefPtr<Probe> bound(new Probe(7));
    e->appendConstraints(ClockExpr(Constraint(testkit::constant(2), testkit::constant(0), ExpressionRef(bound.get()),
                                              true, {2}, {}, {7, 7}, {})));
    state.constraints.clear();
    EXPECT_EQ(e->evaluate(&state), 1);
    EXPECT_EQ(bound->evaluations, 1);
    EXPECT_EQ(state.constraints, (std::vector<clock_constraint_t>{{1, 0, boundLE(5)}, {2, 0, boundLT(7)}}));
    e->evaluate(&state);
    EXPECT_EQ(bound->evaluations, 2);
}

TEST(ClockConstraints, DisjunctionOnAZoneIsTheUnionOfBothParts)
{
    ZoneFixture f;
    ExpressionRef either(new OrExpr(difference(1, 0, false, 2), difference(0, 1, false, -8)));
    EXPECT_FALSE(either->convex);
    EXPECT_EQ(either->evaluate(f.state), 1);
    EXPECT_EQ(f.state->zone.size(), 2u);
    EXPECT_TRUE(f.contains(1.0, 4.0));
    EXPECT_FALSE(f.contains(5.0, 4.0));
    EXPECT_TRUE(f.contains(9.0, 0.0));

    ZoneFixture g;
    ExpressionRef neither(new OrExpr(difference(0, 1, false, -20), difference(0, 1, false, -30)));
    EXPECT_EQ(neither->evaluate(g.state), 0);
    EXPECT_TRUE(g.state->zone.isEmpty());

    ZoneFixture h;
    ExpressionRef onlyLeft(new OrExpr(difference(1, 0, false, 2), difference(0, 1, false, -30)));
    EXPECT_EQ(onlyLeft->evaluate(h.state), 1);
    EXPECT_TRUE(h.contains(2.0, 0.0));
    EXPECT_FALSE(h.contains(3.0, 0.0));
}

TEST(ClockConstraints, TrivialSidesAreTestedFirst)
{
    FakeState state(0, 0, 0, 4);
    base::RefPtr<Probe> yes(new Probe(1));
    base::RefPtr<Probe> no(new Probe(0));
    ExpressionRef zone = difference(1, 0, false, 2);
    EXPECT_EQ(OrExpr(zone, ExpressionRef(yes.get())).evaluate(&state), 1);
    EXPECT_EQ(state.constrainCalls, 0);
    EXPECT_EQ(AndExpr(ExpressionRef(no.get()), zone).evaluate(&state), 0);
    EXPECT_EQ(state.constrainCalls, 0);
    EXPECT_EQ(AndExpr(ExpressionRef(yes.get()), zone).evaluate(&state), 1);
    EXPECT_EQ(state.constrainCalls, 1);
}

TEST(ClockConstraints, SupremumAndInfimum)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    ConcreteState concrete(m.system.get());
    concrete.setClockValue(1, 2.5);
    ClockSupExpr sup(testkit::constant(1), {1});
    ClockInfExpr inf(testkit::constant(1), {1});
    EXPECT_EQ(sup.evaluate(&concrete), boundLE(3));
    EXPECT_EQ(sup.evaluate(&concrete), 7);
    EXPECT_EQ(inf.evaluate(&concrete), 5);

    ZoneFixture f;
    f.state->zone.constrain(0, 1, boundLT(-2));
    EXPECT_EQ(sup.evaluate(f.state), boundLE(10));
    EXPECT_EQ(inf.evaluate(f.state), boundLT(2));

    // On an empty zone both answer the smallest integer (no point, nothing to negate).
    f.state->zone.setEmpty();
    EXPECT_EQ(sup.evaluate(f.state), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(inf.evaluate(f.state), std::numeric_limits<int32_t>::min());

    FakeState neither(0, 0, 0, 2);
    EXPECT_THROW(sup.evaluate(&neither), Bug);
    EXPECT_THROW(sup.negate(), Bug);
    EXPECT_THROW(inf.negate(), Bug);
}

TEST(ClockConstraints, DoubleBoundsAreTestedOnClockValues)
{
    FakeState state(0, 0, 0, 3);
    state.clockValues = {0.0, 3.0, 1.0};
    ExpressionRef bound(new DoubleConstant(2.0));
    // x - y < 2 with x - y = 2: false; negated (y - x <= -2): true.
    DoubleClockExpr strict(testkit::constant(1), testkit::constant(2), bound, true, false);
    EXPECT_EQ(strict.evaluate(&state), 0);
    ExpressionRef negated = strict.negate();
    EXPECT_EQ(negated->evaluate(&state), 1);
    auto* n = static_cast<DoubleClockExpr*>(negated.get());
    EXPECT_FALSE(n->isStrict());
    EXPECT_TRUE(n->isNegated());
}

TEST(ClockConstraints, SumsWrapAndCombineFlags)
{
    FakeState state;
    SumExpr sum;
    sum.addTerm(testkit::constant(std::numeric_limits<int32_t>::max()));
    sum.addTerm(testkit::constant(2));
    EXPECT_EQ(sum.evaluate(&state), std::numeric_limits<int32_t>::min() + 1);
    EXPECT_TRUE(sum.trivial);
    EXPECT_TRUE(sum.convex);
    EXPECT_EQ(sum.getTerms().front()->evaluate(&state), 2);
    EXPECT_THROW(sum.negate(), Bug);

    sum.addTerm(difference(1, 0, false, 3));
    EXPECT_FALSE(sum.trivial);
    EXPECT_TRUE(sum.convex);
    sum.addTerm(testkit::constant(0));
    EXPECT_FALSE(sum.convex);
}
