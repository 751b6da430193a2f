#pragma once

// Formulas of metric interval temporal logic (MITL) as trees of counted nodes. A statistical
// check decides a formula run by run: after each step the formula is rewritten into what the
// rest of the run must satisfy, until it becomes true or false. Nodes derive from Expression so
// that a formula travels as a query's compiled expression; they are never evaluated as one.
//
// Every node but the quantifiers is immutable: rewriting builds new nodes that share unchanged
// sub-trees through counted handles. A quantifier keeps its undecided instances (one per live
// spawned process it covers) and has them replaced and removed in place.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "language/expression.h"
#include "runtime/expression.h"
#include "runtime/variable.h"
#include "support/object.h"

class MitlExpr;
class MitlConj;
class MitlDisj;
class MitlUntil;
class MitlRelease;
class MitlNext;
class MitlAtom;
class MitlTrue;
class MitlFalse;
class MitlExists;
class MitlForall;

using MitlRef = base::RefPtr<MitlExpr>;

// One operation per node class; a node's accept chooses the one named after its class and hands
// it a counted handle to the node. Results are left in the visitor.
class MitlVisitor
{
public:
    virtual ~MitlVisitor() = default;

    virtual void visitConj(base::RefPtr<MitlConj>& node) = 0;
    virtual void visitDisj(base::RefPtr<MitlDisj>& node) = 0;
    virtual void visitUntil(base::RefPtr<MitlUntil>& node) = 0;
    virtual void visitRelease(base::RefPtr<MitlRelease>& node) = 0;
    virtual void visitAtom(base::RefPtr<MitlAtom>& node) = 0;
    virtual void visitNext(base::RefPtr<MitlNext>& node) = 0;
    virtual void visitTrue(base::RefPtr<MitlTrue>& node) = 0;
    virtual void visitFalse(base::RefPtr<MitlFalse>& node) = 0;
    virtual void visitExists(base::RefPtr<MitlExists>& node) = 0;
    virtual void visitForall(base::RefPtr<MitlForall>& node) = 0;
};

class MitlExpr : public Expression
{
public:
    // ---- Expression: a formula is handed around as an expression but never evaluated as one.
    // Does nothing.
    void accept(ExpressionVisitor& visitor) override;
    // A new handle to the node itself: a formula is not negated.
    ExpressionRef negate() override;
    // 0 on any state.
    int32_t evaluate(PublicState* state) override;

    // Appends the compiled expression of every atom, left to right; quantifier bodies are not
    // entered.
    virtual void collectAtoms(std::vector<ExpressionRef>& atoms) const = 0;
    virtual bool isTrue() const { return false; }
    virtual bool isFalse() const { return false; }
    // Calls the visitor's operation for this node's class with a handle that keeps the node
    // alive while the visitor replaces references to it.
    virtual void accept(MitlVisitor& visitor) = 0;
    virtual bool containsNext() const = 0;
    // Bug "getReads should not be called on MitlExpressions".
    const IndexSet& getReads() const;
    // The fully bracketed text of the formula.
    virtual void print(std::ostream& os) const = 0;

protected:
    MitlExpr() = default;
};

std::ostream& operator<<(std::ostream& os, const MitlExpr& formula);

// Both operands hold.
class MitlConj : public MitlExpr
{
public:
    MitlConj(const MitlRef& left, const MitlRef& right);
    ~MitlConj() override;

    const MitlRef& getLeft() const { return left; }
    const MitlRef& getRight() const { return right; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override;
    // "(" left "/\" right ")"
    void print(std::ostream& os) const override;

private:
    MitlRef left;
    MitlRef right;
};

// One of the operands holds.
class MitlDisj : public MitlExpr
{
public:
    MitlDisj(const MitlRef& left, const MitlRef& right);
    ~MitlDisj() override;

    const MitlRef& getLeft() const { return left; }
    const MitlRef& getRight() const { return right; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override;
    // "(" left "\/" right ")"
    void print(std::ostream& os) const override;

private:
    MitlRef left;
    MitlRef right;
};

// left holds until right does, within the window [lower; upper], in model time units relative to
// the state at which the node stands. `marked` is false in every node the program makes.
class MitlUntil : public MitlExpr
{
public:
    MitlUntil(const MitlRef& left, const MitlRef& right, bool marked, double lower, double upper);
    ~MitlUntil() override;

    const MitlRef& getLeft() const { return left; }
    const MitlRef& getRight() const { return right; }
    double getLower() const { return lower; }
    double getUpper() const { return upper; }
    bool isMarked() const { return marked; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override;
    // "(" left "U[" lower ";" upper "]" ["*"] right ")"
    void print(std::ostream& os) const override;

private:
    MitlRef left;
    MitlRef right;
    double lower;
    double upper;
    bool marked;
};

// right holds within the window until left releases it; the window as for MitlUntil.
class MitlRelease : public MitlExpr
{
public:
    MitlRelease(const MitlRef& left, const MitlRef& right, bool marked, double lower, double upper);
    ~MitlRelease() override;

    const MitlRef& getLeft() const { return left; }
    const MitlRef& getRight() const { return right; }
    double getLower() const { return lower; }
    double getUpper() const { return upper; }
    bool isMarked() const { return marked; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override;
    // "(" left "R[" lower ";" upper "]" ["*"] right ")"
    void print(std::ostream& os) const override;

private:
    MitlRef left;
    MitlRef right;
    double lower;
    double upper;
    bool marked;
};

// The operand holds from the next step on.
class MitlNext : public MitlExpr
{
public:
    explicit MitlNext(const MitlRef& operand);
    ~MitlNext() override;

    const MitlRef& getOperand() const { return operand; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return true; }
    // "(X " operand ")"
    void print(std::ostream& os) const override;

private:
    MitlRef operand;
};

// A state formula, decided on each state by its compiled expression. The front-end expression is
// kept for printing.
class MitlAtom : public MitlExpr
{
public:
    // Takes the trivial and the convex flag of the compiled expression. Bug when it is empty.
    MitlAtom(const ExpressionRef& expression, const ZOLT::expression_t& text);
    ~MitlAtom() override;

    const ExpressionRef& getExpression() const { return expression; }
    const ZOLT::expression_t& getText() const { return text; }

    void collectAtoms(std::vector<ExpressionRef>& atoms) const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return false; }
    // The text of the front-end expression, without brackets of its own.
    void print(std::ostream& os) const override;

private:
    ExpressionRef expression;
    ZOLT::expression_t text;
};

class MitlTrue : public MitlExpr
{
public:
    MitlTrue() = default;

    void collectAtoms(std::vector<ExpressionRef>&) const override {}
    bool isTrue() const override { return true; }
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return false; }
    // "(true)"
    void print(std::ostream& os) const override;
};

class MitlFalse : public MitlExpr
{
public:
    MitlFalse() = default;

    void collectAtoms(std::vector<ExpressionRef>&) const override {}
    bool isFalse() const override { return true; }
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return false; }
    // "(false)"
    void print(std::ostream& os) const override;
};

// The quantifiers over the live processes of a dynamic template. The bound variable holds the
// number of the process an instance stands for while the instance is rewritten. Before the first
// rewriting a node is not instantiated and has no instances; afterwards instance i is the body
// rewritten for process number i, and only undecided instances are kept (the two lists run in
// parallel).

// The body holds for some live process of the template.
class MitlExists : public MitlExpr
{
public:
    MitlExists(const base::RefPtr<Variable>& variable, const MitlRef& body, int32_t templateIndex);
    ~MitlExists() override;

    Variable* getBoundVariable() const { return variable.get(); }
    const MitlRef& getBody() const { return body; }
    int32_t getDynamicTemplateIndex() const { return templateIndex; }
    bool isInstantiated() const { return instantiated; }
    std::vector<MitlRef>& getInstances() { return instances; }
    const std::vector<MitlRef>& getInstances() const { return instances; }
    std::vector<int32_t>& getProcessNumbers() { return processNumbers; }
    const std::vector<int32_t>& getProcessNumbers() const { return processNumbers; }
    // Appends an instance for that process and marks the node instantiated.
    void addInstance(int32_t processNumber, const MitlRef& formula);

    void collectAtoms(std::vector<ExpressionRef>&) const override {}
    // Instantiated and every instance decided false.
    bool isFalse() const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return false; }
    // "(" then each instance (or "(NULL)") followed by "||", then "="; a node never rewritten
    // prints "(=".
    void print(std::ostream& os) const override;

private:
    bool instantiated = false;
    base::RefPtr<Variable> variable;
    MitlRef body;
    int32_t templateIndex;
    std::vector<MitlRef> instances;
    std::vector<int32_t> processNumbers;
};

// The body holds for every live process of the template.
class MitlForall : public MitlExpr
{
public:
    MitlForall(const base::RefPtr<Variable>& variable, const MitlRef& body, int32_t templateIndex);
    ~MitlForall() override;

    Variable* getBoundVariable() const { return variable.get(); }
    const MitlRef& getBody() const { return body; }
    int32_t getDynamicTemplateIndex() const { return templateIndex; }
    bool isInstantiated() const { return instantiated; }
    std::vector<MitlRef>& getInstances() { return instances; }
    const std::vector<MitlRef>& getInstances() const { return instances; }
    std::vector<int32_t>& getProcessNumbers() { return processNumbers; }
    const std::vector<int32_t>& getProcessNumbers() const { return processNumbers; }
    // Appends an instance for that process and marks the node instantiated.
    void addInstance(int32_t processNumber, const MitlRef& formula);

    void collectAtoms(std::vector<ExpressionRef>&) const override {}
    // Instantiated and every instance decided true.
    bool isTrue() const override;
    using MitlExpr::accept;
    void accept(MitlVisitor& visitor) override;
    bool containsNext() const override { return false; }
    // "(true)" and an end of line when true; otherwise "(" then each instance (or "(NULL)")
    // followed by "&&", then "=".
    void print(std::ostream& os) const override;

private:
    bool instantiated = false;
    base::RefPtr<Variable> variable;
    MitlRef body;
    int32_t templateIndex;
    std::vector<MitlRef> instances;
    std::vector<int32_t> processNumbers;
};
