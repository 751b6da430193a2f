#pragma once

#include <cstdint>

#include "language/expression.h"
#include "language/symbol.h"

// The three parts of a clock comparison brought into the form X - Y ~ B: an empty clock
// stands for the reference clock 0, an empty bound for 0.
struct ClockTerms
{
    ZOLT::expression_t first;
    ZOLT::expression_t second;
    ZOLT::expression_t bound;
};

// Adds the terms of one side of a comparison: the left side positive, the right side not.
// Integer and floating-point terms go to the bound (subtracted on the left, added on the
// right); clock terms to the first clock (added on the left or subtracted on the right)
// or the second.
void collectClockTerms(ClockTerms& terms, const ZOLT::expression_t& expression, bool positive);

// The expression with every identifier of the symbol replaced by the integer constant.
// The given tree is left unchanged.
ZOLT::expression_t substituteConstant(const ZOLT::expression_t& expression, const ZOLT::binding_t& symbol,
                                      int32_t value);

// The clock constraints among the conjuncts of a guard, joined by conjunctions; empty when
// the guard has none.
ZOLT::expression_t extractClockGuard(const ZOLT::expression_t& guard);
