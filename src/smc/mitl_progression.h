#pragma once

// Judging a run against an MITL formula by progression: after every step the formula is
// rewritten into what the rest of the run must satisfy, given the state the run was in and the
// time that passed since. When the rewritten formula is the constant true or false, the run's
// verdict is known. Alterator performs one such step; DepthCalculator and TermCalculator measure
// the size of a formula.

#include <cstdint>
#include <vector>

#include "mitl/formula.h"

class ConcreteState;

// The depth of a formula: constants and atoms count 1, a next-formula 1 whatever its operand, a
// connective or temporal operator 1 more than its deeper operand; a quantifier before its first
// rewriting the depth of its body, afterwards 1 more than the largest of (depth of instance i
// plus i), or 1 with no instance left.
class DepthCalculator : public MitlVisitor
{
public:
    int32_t depth(const MitlRef& formula);

    void visitConj(base::RefPtr<MitlConj>& node) override;
    void visitDisj(base::RefPtr<MitlDisj>& node) override;
    void visitUntil(base::RefPtr<MitlUntil>& node) override;
    void visitRelease(base::RefPtr<MitlRelease>& node) override;
    void visitAtom(base::RefPtr<MitlAtom>& node) override;
    void visitNext(base::RefPtr<MitlNext>& node) override;
    void visitTrue(base::RefPtr<MitlTrue>& node) override;
    void visitFalse(base::RefPtr<MitlFalse>& node) override;
    void visitExists(base::RefPtr<MitlExists>& node) override;
    void visitForall(base::RefPtr<MitlForall>& node) override;

    int32_t result = 0;

private:
    int32_t binary(const MitlRef& left, const MitlRef& right);
    void quantifier(bool instantiated, bool decided, const MitlRef& body, const std::vector<MitlRef>& instances);
};

// The number of terminals (atoms and constants) of a formula; a next-formula counts those of its
// operand, an instantiated quantifier those of its instances.
class TermCalculator : public MitlVisitor
{
public:
    int32_t terms(const MitlRef& formula);

    void visitConj(base::RefPtr<MitlConj>& node) override;
    void visitDisj(base::RefPtr<MitlDisj>& node) override;
    void visitUntil(base::RefPtr<MitlUntil>& node) override;
    void visitRelease(base::RefPtr<MitlRelease>& node) override;
    void visitAtom(base::RefPtr<MitlAtom>& node) override;
    void visitNext(base::RefPtr<MitlNext>& node) override;
    void visitTrue(base::RefPtr<MitlTrue>& node) override;
    void visitFalse(base::RefPtr<MitlFalse>& node) override;
    void visitExists(base::RefPtr<MitlExists>& node) override;
    void visitForall(base::RefPtr<MitlForall>& node) override;

    int32_t result = 0;

private:
    int32_t binary(const MitlRef& left, const MitlRef& right);
    void quantifier(bool instantiated, const MitlRef& body, const std::vector<MitlRef>& instances);
};

// One progression step over a state and the time elapsed since it. The visited formula is not
// changed, except that an instantiated quantifier has its instances replaced and its decided
// ones removed in place; rewriting builds new nodes that share the unchanged sub-trees.
class Alterator : public MitlVisitor
{
public:
    // The formula that the rest of the run must satisfy. The state is only borrowed; a quantifier
    // writes its bound variable into it.
    MitlRef alter(const MitlRef& formula, ConcreteState* state, double elapsed);

    void visitConj(base::RefPtr<MitlConj>& node) override;
    void visitDisj(base::RefPtr<MitlDisj>& node) override;
    void visitUntil(base::RefPtr<MitlUntil>& node) override;
    void visitRelease(base::RefPtr<MitlRelease>& node) override;
    void visitAtom(base::RefPtr<MitlAtom>& node) override;
    void visitNext(base::RefPtr<MitlNext>& node) override;
    void visitTrue(base::RefPtr<MitlTrue>& node) override;
    void visitFalse(base::RefPtr<MitlFalse>& node) override;
    void visitExists(base::RefPtr<MitlExists>& node) override;
    void visitForall(base::RefPtr<MitlForall>& node) override;

    // The progressed formula of the last visit.
    MitlRef result;

private:
    // Visits a formula and returns its progressed form.
    MitlRef progress(const MitlRef& formula);
    // The quantifiers share their rules; `neutral` is the answer that leaves an instance out
    // (true for all, false for some), the other one decides the whole quantifier.
    template <class Node>
    void quantifier(base::RefPtr<Node>& node, bool universal);

    ConcreteState* state = nullptr;
    double elapsed = 0.0;
};

// Fresh constant nodes, marked as made by the progression.
MitlRef makeMitlTrue();
MitlRef makeMitlFalse();
