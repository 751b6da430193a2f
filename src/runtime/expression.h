#pragma once

// Run-time expressions: the one interface through which the compiled model's guards, invariants,
// updates, clock constraints, query formulas and values are evaluated on a state, and its
// simplest implementations. Byte-code expressions (program_expression.h), variables
// (variable.h) and clock constraints (clock_expression.h) are the others.

#include <cstdint>
#include <set>
#include <string>

#include "runtime/public_state.h"
#include "runtime/visitors.h"
#include "support/object.h"

namespace ZOLT {
struct template_t;
}

class Variable;
class Expression;

using ExpressionRef = base::RefPtr<Expression>;

// Ordered set of global variable indices (read and write sets) or of clock numbers.
using IndexSet = std::set<uint32_t>;

class Expression : public base::Object
{
public:
    Expression() = default;
    ~Expression() override = default;

    // Evaluation yields a value without restricting the state's zone. Negation, sequencing and
    // products accept only such operands.
    bool trivial = false;
    // The expression describes a convex set of clock valuations (set by trivial expressions and
    // simple clock constraints, derived by the compound clock expressions); checkers choose
    // their method by it.
    bool convex = false;
    // The expression reads clock values as doubles: a compiled value expression whose source
    // uses a clock, or a floating-point clock guard (the "reads clocks" or "general hybrid"
    // flag). Set by the compiler, read by the concrete simulator.
    bool clockDependent = false;
    // The value may change while time passes without a transition (dynamic sums, sums of
    // guards or invariants over processes, wrapped formulas of simulation queries; the
    // "constraint" flag of the simulator's delay step).
    bool timeDependent = false;

    // Variables the expression may read and write (global indices).
    IndexSet reads;
    IndexSet writes;

    virtual void accept(ExpressionVisitor& visitor) = 0;
    virtual ExpressionRef negate() = 0;
    // The value on the state (a truth value is 0 or 1). A floating-point value is left in the
    // state's result cell. CannotEvaluateExpression is the only exception that may escape.
    virtual int32_t evaluate(PublicState* state) = 0;
    virtual bool isConstant() const { return false; }
    virtual bool isForeach() const { return false; }

    // Operations of quantifiers over spawned processes (ForeachExpr); every other expression
    // raises Bug "Should not be called on normal expressions".
    virtual void setVal(int32_t value);
    virtual Variable* getVariable() const;
    virtual int32_t getTemplateIndex() const;
    virtual std::string getName() const;
};

// Base of expressions whose evaluation does not restrict the zone: sets trivial and convex.
class TrivialExpression : public Expression
{
public:
    TrivialExpression();

    // A new NotExpression around this expression.
    ExpressionRef negate() override;
};

class Constant : public TrivialExpression
{
public:
    explicit Constant(int32_t value);

    int32_t getValue() const { return value; }

    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;
    bool isConstant() const override { return true; }

private:
    int32_t value;
};

// Writes its value into the result cell and evaluates to 0.
class DoubleConstant : public TrivialExpression
{
public:
    explicit DoubleConstant(double value);

    double getValue() const { return value; }

    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;
    bool isConstant() const override { return true; }

private:
    double value;
};

// Logical negation of a trivial expression. Made by TrivialExpression::negate; negating it again
// gives back the operand.
class NotExpression : public TrivialExpression
{
public:
    // Bug "NotExpression used with non-trivial expression." unless the operand is trivial.
    explicit NotExpression(const ExpressionRef& operand);

    const ExpressionRef& getOperand() const { return operand; }

    void accept(ExpressionVisitor& visitor) override;
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef operand;
};

// Evaluates the first, then gives the value of the second. Both must be trivial.
class CommaExpression : public TrivialExpression
{
public:
    // Bug "CommaExpression used with non-trivial expressions." unless both are trivial.
    CommaExpression(const ExpressionRef& first, const ExpressionRef& second);

    const ExpressionRef& getFirst() const { return first; }
    const ExpressionRef& getSecond() const { return second; }

    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef first;
    ExpressionRef second;
};

// The product of two trivial expressions in 32-bit wrap-around arithmetic (first evaluated first).
class Product : public TrivialExpression
{
public:
    // Bug "Product used with non-trivial expressions." unless both are trivial.
    Product(const ExpressionRef& first, const ExpressionRef& second);

    const ExpressionRef& getFirst() const { return first; }
    const ExpressionRef& getSecond() const { return second; }

    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef first;
    ExpressionRef second;
};

// A quantifier over the instances of a dynamic template: the caller sets the instance's process
// number with setVal before each evaluation; the evaluation binds the variable to it, runs the
// body and forgets the value again.
class ForeachExpr : public Expression
{
public:
    ForeachExpr(const std::string& name, Variable* variable, int32_t templateIndex, const ExpressionRef& body);

    const ExpressionRef& getBody() const { return body; }

    void accept(ExpressionVisitor& visitor) override;
    // The expression itself.
    ExpressionRef negate() override;
    // Bug "Evaluate called before setVal" when no value is set; else 1.
    int32_t evaluate(PublicState* state) override;
    bool isForeach() const override { return true; }
    void setVal(int32_t value) override;
    Variable* getVariable() const override;
    int32_t getTemplateIndex() const override;
    std::string getName() const override;
    // Bug "getReads should not be called on ForeachExpressions".
    const IndexSet& getReads() const;

private:
    std::string name;
    int32_t currentValue = -1;
    Variable* variable;
    int32_t templateIndex;
    ExpressionRef body;
};

// The sum over the live instances of a dynamic template of the double value of a term, on a
// concrete state. The sum is left in the result cell and returned truncated toward zero.
class DynamicSumExpression : public Expression
{
public:
    DynamicSumExpression(const ZOLT::template_t* dynamicTemplate, const ExpressionRef& term, Variable* variable);

    const ExpressionRef& getTerm() const { return term; }

    void accept(ExpressionVisitor& visitor) override;
    // Bug "Cannot negate a dynamic sum expression".
    ExpressionRef negate() override;
    // CannotEvaluateExpression on a state that is not (and does not wrap) a concrete state.
    int32_t evaluate(PublicState* state) override;

private:
    const ZOLT::template_t* dynamicTemplate;
    ExpressionRef term;
    Variable* variable;
};
