#pragma once

// Small run-time expressions that stand in for compiled byte code in tests written before (or
// without) the compiler: constants, assignments, comparisons and clock constraints with constant
// parts. Each has the read and write sets a compiled expression would have.

#include <cstdint>

#include "runtime/clock_expression.h"
#include "runtime/expression.h"
#include "runtime/variable.h"

namespace testkit {

enum class Relation { Less, LessEqual, Equal, NotEqual, GreaterEqual, Greater };

ExpressionRef constant(int32_t value);
// target := value; false from the variable (out of range) makes the evaluation throw
// CannotEvaluateExpression, as the byte-code machine does.
ExpressionRef assign(Variable* target, int32_t value);
// target := source.
ExpressionRef copy(Variable* target, Variable* source);
// variable ~ value, 1 or 0.
ExpressionRef compare(Variable* variable, Relation relation, int32_t value);
// a, b (a CommaExpression).
ExpressionRef sequence(const ExpressionRef& a, const ExpressionRef& b);

// Clock constraints with constant parts: x < bound / x <= bound, x > bound / x >= bound, and
// x - y < bound / x - y <= bound.
ExpressionRef clockUpper(const ClockVariable* x, bool strict, int32_t bound);
ExpressionRef clockLower(const ClockVariable* x, bool strict, int32_t bound);
ExpressionRef clockDifference(const ClockVariable* x, const ClockVariable* y, bool strict, int32_t bound);
// The constraint record behind them, for building conjunctions by hand.
Constraint constantConstraint(int32_t first, int32_t second, bool strict, int32_t bound);

// A trivial expression with a fixed value that counts its evaluations, or fails with
// CannotEvaluateExpression when `fails` is set.
class Probe : public TrivialExpression
{
public:
    explicit Probe(int32_t value, bool fails = false) : value(value), fails(fails) {}

    void accept(ExpressionVisitor&) override {}
    int32_t evaluate(PublicState* state) override;

    int32_t value;
    bool fails;
    int evaluations = 0;
};

}  // namespace testkit
