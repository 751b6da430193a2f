// Progression of MITL formulas over concrete states: what one step leaves of a formula, given the
// state the run was in and the time that passed, and the sizes the measurement report records.

#include <gtest/gtest.h>

#include <sstream>

#include "mitl/formula.h"
#include "smc/mitl_progression.h"
#include "smc_fixture.h"
#include "typecheck/checked_reading.h"

namespace {

// One process with a counter n = 1 and a flag b = 0; a and c name n == 1 and b == 1.
const char* const model = "int n = 1; int b = 0;\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

class Progression : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m = smctest::compile(model);
        state = m->initial();
    }

    // The formula compiled from query text, as a query's MITL formula is.
    MitlRef formula(const std::string& text)
    {
        const ZOLT::expression_t e = ZOLT::readCheckedExpressionText(text.c_str(), m->parsed.get(), true);
        for (const ZOLT::diagnostic_t& d : m->parsed->getErrors()) {
            ADD_FAILURE() << "error in '" << text << "': " << d.message;
        }
        return m->compiler->compileMitlFormula(e);
    }
    // An atom of a state formula.
    MitlRef atom(const std::string& text)
    {
        const ZOLT::expression_t e = ZOLT::readCheckedExpressionText(text.c_str(), m->parsed.get(), true);
        return MitlRef(new MitlAtom(m->compiler->compileStateFormula(e, nullptr), e));
    }
    MitlRef holds() { return atom("n == 1"); }
    MitlRef fails() { return atom("b == 1"); }

    static std::string text(const MitlRef& f)
    {
        std::ostringstream os;
        f->print(os);
        return os.str();
    }

    MitlRef step(const MitlRef& f, double elapsed) { return alterator.alter(f, state.get(), elapsed); }

    std::unique_ptr<smctest::Model> m;
    std::unique_ptr<ConcreteState> state;
    Alterator alterator;
};

TEST_F(Progression, ConnectivesCollapseToFreshConstantsOrTheUndecidedOperand)
{
    const MitlRef both(new MitlConj(holds(), holds()));
    const MitlRef result = step(both, 0);
    EXPECT_TRUE(result->isTrue());
    EXPECT_TRUE(result->trivial);

    EXPECT_TRUE(step(MitlRef(new MitlConj(holds(), fails())), 0)->isFalse());
    EXPECT_TRUE(step(MitlRef(new MitlDisj(fails(), holds())), 0)->isTrue());
    EXPECT_TRUE(step(MitlRef(new MitlDisj(fails(), fails())), 0)->isFalse());

    // An operand that is not decided yet is what remains of the connective.
    const MitlRef later(new MitlNext(holds()));
    const MitlRef conj = step(MitlRef(new MitlConj(holds(), later)), 0);
    EXPECT_EQ(text(conj), "n == 1");
    const MitlRef disj = step(MitlRef(new MitlDisj(later, later)), 0);
    EXPECT_EQ(text(disj), "(n == 1\\/n == 1)");
}

TEST_F(Progression, ANextFormulaIsJudgedFromTheFollowingStepOn)
{
    const MitlRef next(new MitlNext(fails()));
    const MitlRef rest = step(next, 0.5);
    EXPECT_FALSE(rest->isTrue());
    EXPECT_FALSE(rest->isFalse());
    EXPECT_EQ(text(rest), "b == 1");
    EXPECT_TRUE(step(rest, 0.5)->isFalse());
}

TEST_F(Progression, UntilWindowsShiftWithTheElapsedTime)
{
    // The goal holds now: decided at once.
    EXPECT_TRUE(step(formula("(b == 1 U[0,10] n == 1)"), 0)->isTrue());
    // Neither holds: decided at once as well.
    EXPECT_TRUE(step(formula("(b == 1 U[0,10] b == 1)"), 0)->isFalse());

    // The left side holds and the goal not yet: the until carries over with its window shifted.
    const MitlRef waiting = step(formula("(n == 1 U[0,10] b == 1)"), 4);
    EXPECT_EQ(text(waiting), "(n == 1U[0;6]b == 1)");
    // A window [0;0] at elapsed time 0 carries over unchanged; once time passes only the goal
    // counts.
    const MitlRef zero = step(formula("(n == 1 U[0,0] b == 1)"), 0);
    EXPECT_EQ(text(zero), "(n == 1U[0;0]b == 1)");
    EXPECT_TRUE(step(zero, 1)->isFalse());
    EXPECT_TRUE(step(formula("(b == 1 U[0,0] n == 1)"), 1)->isTrue());

    // Before the window the left side must hold and the goal does not count yet.
    EXPECT_EQ(text(step(formula("(n == 1 U[3,10] n == 1)"), 1)), "(n == 1U[2;9]n == 1)");
    EXPECT_TRUE(step(formula("(b == 1 U[3,10] n == 1)"), 1)->isFalse());
    // A window that starts later and ends before the elapsed time is missed.
    EXPECT_TRUE(step(formula("(n == 1 U[3,10] n == 1)"), 11)->isFalse());
}

TEST_F(Progression, ReleaseWindowsShiftBeforeTheyStart)
{
    // Before its window a release only moves the window, whatever its operands are.
    EXPECT_EQ(text(step(formula("(b == 1 R[3,10] b == 1)"), 1)), "(b == 1R[2;9]b == 1)");
    // A window that ended within the elapsed time leaves the right operand.
    EXPECT_TRUE(step(formula("(b == 1 R[3,10] n == 1)"), 11)->isTrue());
    EXPECT_TRUE(step(formula("(n == 1 R[0,2] b == 1)"), 3)->isFalse());
    // Within the window the right operand must hold, and the left one releases it.
    EXPECT_TRUE(step(formula("(n == 1 R[0,10] n == 1)"), 1)->isTrue());
    EXPECT_TRUE(step(formula("(n == 1 R[0,10] b == 1)"), 1)->isFalse());
    EXPECT_EQ(text(step(formula("(b == 1 R[0,10] n == 1)"), 1)), "(b == 1R[0;9]n == 1)");
}

TEST_F(Progression, TheJobFormulaIsNeverChangedByAStep)
{
    const MitlRef original = formula("(n == 1 U[0,10] b == 1)");
    const std::string before = text(original);
    step(original, 4);
    step(original, 20);
    EXPECT_EQ(text(original), before);
}

TEST_F(Progression, QuantifiersOverNoLiveProcessAreDecidedByTheirNeutralAnswer)
{
    const base::RefPtr<Variable> bound(new StateVariable("i", -1, 100, -1, 0));
    EXPECT_TRUE(step(MitlRef(new MitlForall(bound, fails(), 0)), 0)->isTrue());
    EXPECT_TRUE(step(MitlRef(new MitlExists(bound, holds(), 0)), 0)->isFalse());
}

TEST(FormulaSize, DepthAndTerminalsFollowTheTreeShape)
{
    DepthCalculator depth;
    TermCalculator terms;
    const MitlRef t(new MitlTrue);
    const MitlRef f(new MitlFalse);
    const MitlRef conj(new MitlConj(t, MitlRef(new MitlDisj(t, f))));
    EXPECT_EQ(depth.depth(conj), 3);
    EXPECT_EQ(terms.terms(conj), 3);
    // A next-formula is one level deep whatever its operand; its terminals are the operand's.
    const MitlRef next(new MitlNext(conj));
    EXPECT_EQ(depth.depth(next), 1);
    EXPECT_EQ(terms.terms(next), 3);

    // An instantiated quantifier: 1 + the largest of (depth of instance i + i).
    const base::RefPtr<Variable> bound(new StateVariable("i", -1, 100, -1, 0));
    base::RefPtr<MitlForall> all(new MitlForall(bound, t, 0));
    EXPECT_EQ(depth.depth(MitlRef(all)), 1);  // the body before instantiation
    all->addInstance(4, conj);
    all->addInstance(7, t);
    EXPECT_EQ(depth.depth(MitlRef(all)), 4);
    EXPECT_EQ(terms.terms(MitlRef(all)), 4);
    all->getInstances().clear();
    all->getProcessNumbers().clear();
    EXPECT_EQ(depth.depth(MitlRef(all)), 1);
    EXPECT_EQ(terms.terms(MitlRef(all)), 0);
    EXPECT_TRUE(all->isTrue());
}

}  // namespace
