// MITL formulas: the formula nodes and their compilation from query formulas.

#include <sstream>

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "frontend/parser.h"
#include "frontend/system_builder.h"
#include "mitl/formula.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/program_expression.h"
#include "support/exceptions.h"
#include "typecheck/type_checker.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const model = "clock x; int[0,5] n;\n"
                          "dynamic D(int k);\n"
                          "process D(int k) { int v; state A; init A; }\n"
                          "process P() { state A; init A; }\n"
                          "system P;\n";

// Keeps each parsed query.
class QueryCollector : public SystemBuilder
{
public:
    using SystemBuilder::SystemBuilder;
    void property() override { queries.push_back(popFragment()); }
    std::vector<expression_t> queries;
};

std::string text(const MitlExpr& formula)
{
    std::ostringstream out;
    out << formula;
    return out.str();
}

class Mitl : public ::testing::Test
{
protected:
    Compiled c = compile(model);

    // The MITL query "Pr <source>", checked as the query builder checks it: its formula, below
    // the MITL_FORMULA node.
    expression_t query(const std::string& source)
    {
        QueryCollector builder(c.model.get());
        const std::string text = "Pr " + source;
        EXPECT_EQ(runQueryParserOnText(text.c_str(), &builder), 0) << text;
        EXPECT_EQ(builder.queries.size(), 1u) << text;
        if (builder.queries.size() != 1) {
            return expression_t();
        }
        TypeChecker(*c.model).validateQuery(builder.queries[0]);
        for (const diagnostic_t& d : c.model->getErrors()) {
            ADD_FAILURE() << "error in '" << text << "': " << d.message;
        }
        EXPECT_EQ(builder.queries[0].getKind(), MITL_FORMULA) << text;
        return builder.queries[0][0];
    }
    MitlRef formula(const std::string& source) { return c.compiler->compileMitlFormula(query(source)); }
    MitlRef atom(const std::string& source)
    {
        const expression_t e = c.parse(source);
        return MitlRef(new MitlAtom(c.compiler->compileStateFormula(e, ExpressionRef()), e));
    }
};

// Records which visit a node chose.
class NameVisitor : public MitlVisitor
{
public:
    std::string name;

    void visitConj(base::RefPtr<MitlConj>&) override { name = "conj"; }
    void visitDisj(base::RefPtr<MitlDisj>&) override { name = "disj"; }
    void visitUntil(base::RefPtr<MitlUntil>&) override { name = "until"; }
    void visitRelease(base::RefPtr<MitlRelease>&) override { name = "release"; }
    void visitAtom(base::RefPtr<MitlAtom>&) override { name = "atom"; }
    void visitNext(base::RefPtr<MitlNext>&) override { name = "next"; }
    void visitTrue(base::RefPtr<MitlTrue>&) override { name = "true"; }
    void visitFalse(base::RefPtr<MitlFalse>&) override { name = "false"; }
    void visitExists(base::RefPtr<MitlExists>&) override { name = "exists"; }
    void visitForall(base::RefPtr<MitlForall>&) override { name = "forall"; }
};

} // namespace

TEST_F(Mitl, UntilAndReleaseWithTheirWindows)
{
    MitlRef until = formula("(x > 1 U[2,5] n == 1)");
    auto* u = dynamic_cast<MitlUntil*>(until.get());
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->getLower(), 2.0);
    EXPECT_EQ(u->getUpper(), 5.0);
    EXPECT_FALSE(u->isMarked());
    EXPECT_EQ(text(*until), "(x > 1U[2;5]n == 1)");

    // Release prints like until with its own letter, and is a node of its own class.
    MitlRef release = formula("(n == 2 R[0,10] n == 3)");
    auto* r = dynamic_cast<MitlRelease*>(release.get());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(dynamic_cast<MitlUntil*>(release.get()), nullptr);
    EXPECT_EQ(r->getLower(), 0.0);
    EXPECT_EQ(r->getUpper(), 10.0);
    EXPECT_EQ(text(*release), "(n == 2R[0;10]n == 3)");

    // Eventually and always are until and release over a constant atom.
    EXPECT_EQ(text(*formula("(<>[1,4] n == 1)")), "(1U[1;4]n == 1)");
    EXPECT_EQ(text(*formula("([][0,3] n == 1)")), "(0R[0;3]n == 1)");
}

TEST_F(Mitl, ConnectivesNextAndThePrintedForm)
{
    MitlRef f = formula("(n == 1 U[0,1] n == 2) && (X n == 3)");
    ASSERT_NE(dynamic_cast<MitlConj*>(f.get()), nullptr);
    EXPECT_EQ(text(*f), "((n == 1U[0;1]n == 2)/\\(X n == 3))");
    EXPECT_TRUE(f->containsNext());

    MitlRef g = formula("(n == 1 U[0,1] n == 2) || (n == 4 R[2,3] n == 5)");
    ASSERT_NE(dynamic_cast<MitlDisj*>(g.get()), nullptr);
    EXPECT_EQ(text(*g), "((n == 1U[0;1]n == 2)\\/(n == 4R[2;3]n == 5))");
    EXPECT_FALSE(g->containsNext());

    // Fractional bounds print with the stream's default format; a marked window shows a star.
    MitlRef marked(new MitlRelease(atom("n == 1"), atom("n == 2"), true, 2.5, 7));
    EXPECT_EQ(text(*marked), "(n == 1R[2.5;7]*n == 2)");
    EXPECT_EQ(text(*MitlRef(new MitlTrue())), "(true)");
    EXPECT_EQ(text(*MitlRef(new MitlFalse())), "(false)");
}

TEST_F(Mitl, AtomsHoldTheirCompiledStateFormula)
{
    // An integral atom is byte code, a clock comparison a clock constraint; the atom takes the
    // first two flags of its expression.
    MitlRef until = formula("(n == 1 U[0,1] x > 2)");
    auto* u = dynamic_cast<MitlUntil*>(until.get());
    ASSERT_NE(u, nullptr);
    auto* left = dynamic_cast<MitlAtom*>(u->getLeft().get());
    auto* right = dynamic_cast<MitlAtom*>(u->getRight().get());
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    EXPECT_NE(dynamic_cast<ProgramExpression*>(left->getExpression().get()), nullptr);
    EXPECT_NE(dynamic_cast<ClockExpr*>(right->getExpression().get()), nullptr);
    for (const MitlAtom* a : {left, right}) {
        EXPECT_EQ(a->trivial, a->getExpression()->trivial);
        EXPECT_EQ(a->convex, a->getExpression()->convex);
        EXPECT_FALSE(a->clockDependent);
        EXPECT_FALSE(a->timeDependent);
    }
    EXPECT_TRUE(left->trivial);
    EXPECT_FALSE(right->trivial);

    // Atoms are collected left to right, through next but not into quantifiers.
    MitlRef f = formula("(X n == 1) && (n == 2 U[0,1] n == 3)");
    std::vector<ExpressionRef> atoms;
    f->collectAtoms(atoms);
    auto state = c.state();
    std::vector<int32_t> truth;
    for (int32_t value : {1, 2, 3}) {
        c.set(*state, "n", value);
        for (const ExpressionRef& a : atoms) {
            truth.push_back(a->evaluate(state.get()));
        }
    }
    EXPECT_EQ(truth, (std::vector<int32_t>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    std::vector<ExpressionRef> none;
    formula("exists (p : D) ((p.v == 1 U[0,1] p.v == 2))")->collectAtoms(none);
    EXPECT_TRUE(none.empty());
}

TEST_F(Mitl, LeftOperandCompiledFirst)
{
    const uint32_t start = c.program().mark();
    formula("(n == 1 && n < 4 U[0,1] n == 2 && n > 0)");
    const std::string code = c.listing(start);
    const size_t left = code.find("push 4");
    const size_t right = code.find("push 2");
    ASSERT_NE(left, std::string::npos) << code;
    ASSERT_NE(right, std::string::npos) << code;
    EXPECT_LT(left, right);
}

TEST_F(Mitl, QuantifiersOverDynamicProcesses)
{
    const size_t variables = c.system->getVariables().size();
    MitlRef f = formula("forall (p : D) (exists (p : D) ((p.v == 1 U[0,1] p.v == 2)))");
    auto* all = dynamic_cast<MitlForall*>(f.get());
    ASSERT_NE(all, nullptr);
    auto* some = dynamic_cast<MitlExists*>(all->getBody().get());
    ASSERT_NE(some, nullptr);
    // One state variable each, even with the same bound name.
    ASSERT_EQ(c.system->getVariables().size(), variables + 2);
    EXPECT_EQ(all->getBoundVariable(), c.system->getVariables()[variables].get());
    EXPECT_EQ(some->getBoundVariable(), c.system->getVariables()[variables + 1].get());
    EXPECT_EQ(all->getBoundVariable()->getName(), "FORALL");
    EXPECT_EQ(some->getBoundVariable()->getName(), "EXISTS");
    EXPECT_EQ(all->getBoundVariable()->getInitialValue(), -1);
    EXPECT_EQ(all->getDynamicTemplateIndex(), 0);

    // Not yet rewritten: neither true nor false, and only the instances print.
    EXPECT_FALSE(all->isTrue());
    EXPECT_FALSE(all->isFalse());
    EXPECT_FALSE(some->isTrue());
    EXPECT_FALSE(some->isFalse());
    EXPECT_EQ(text(*some), "(=");
    EXPECT_EQ(text(*all), "(=");

    some->addInstance(3, MitlRef(new MitlTrue()));
    some->addInstance(4, MitlRef());
    EXPECT_TRUE(some->isInstantiated());
    EXPECT_EQ(text(*some), "((true)||(NULL)||=");
    EXPECT_EQ(some->getProcessNumbers(), (std::vector<int32_t>{3, 4}));

    // Every instance decided: forall is true, exists false.
    all->addInstance(3, MitlRef(new MitlTrue()));
    all->getInstances().clear();
    all->getProcessNumbers().clear();
    EXPECT_TRUE(all->isTrue());
    EXPECT_EQ(text(*all), "(true)\n");
    some->getInstances().clear();
    some->getProcessNumbers().clear();
    EXPECT_TRUE(some->isFalse());
}

TEST_F(Mitl, FormulasAreNotEvaluatedAsExpressions)
{
    MitlRef f = formula("(n == 1 U[0,1] n == 2)");
    const int32_t count = f->getRefCount();
    {
        ExpressionRef negated = f->negate();
        EXPECT_EQ(negated.get(), f.get());
        EXPECT_EQ(f->getRefCount(), count + 1);
    }
    auto state = c.state();
    c.set(*state, "n", 2);
    EXPECT_EQ(f->evaluate(state.get()), 0);
    EXPECT_THROW(f->getReads(), Bug);
    EXPECT_THROW(f->getVariable(), Bug);

    NameVisitor visitor;
    const std::vector<std::pair<MitlRef, std::string>> nodes = {
        {f, "until"},
        {formula("(n == 1 R[0,1] n == 2)"), "release"},
        {formula("(X n == 1)"), "next"},
        {formula("(X n == 1) && (X n == 2)"), "conj"},
        {formula("(X n == 1) || (X n == 2)"), "disj"},
        {atom("n == 1"), "atom"},
        {MitlRef(new MitlTrue()), "true"},
        {MitlRef(new MitlFalse()), "false"},
        {formula("exists (p : D) ((X p.v == 1))"), "exists"},
        {formula("forall (p : D) ((X p.v == 1))"), "forall"},
    };
    for (const auto& [node, name] : nodes) {
        node->accept(visitor);
        EXPECT_EQ(visitor.name, name);
    }
}

TEST_F(Mitl, SharedSubFormulasOutliveTheirParent)
{
    MitlRef shared = atom("n == 1");
    {
        MitlRef parent(new MitlConj(shared, MitlRef(new MitlNext(shared))));
        EXPECT_EQ(shared->getRefCount(), 3);
    }
    EXPECT_EQ(shared->getRefCount(), 1);
    EXPECT_EQ(text(*shared), "n == 1");
}

TEST_F(Mitl, MalformedTreesAreInternalErrors)
{
    const expression_t until = query("(n == 1 U[0,1] n == 2)");
    EXPECT_THROW(c.compiler->compileMitlFormula(expression_t::createUnary(MITL_FORMULA, until)), Bug);
    EXPECT_THROW(c.compiler->compileMitlFormula(c.parse("n == 1")), Bug);

    // A quantifier over a name that is no dynamic template.
    const expression_t body = query("(n == 1 U[0,1] n == 2)");
    const expression_t n = c.parse("n");
    const expression_t quantifier = expression_t::createNary(MITL_EXISTS_DYNAMIC, {n, n, body});
    try {
        c.compiler->compileMitlFormula(quantifier);
        ADD_FAILURE() << "no error";
    } catch (const Bug& bug) {
        EXPECT_STREQ(bug.what(), "temp should not be NULL at this time");
    }
}
