#pragma once

#include "runtime/expression.h"

// The value of a compiled formula as a number: the inner expression is evaluated between the
// state's evaluation hooks, and its value is also left in the state's result cell, so that a
// simulation can record a constraint or a dynamic sum can add it up.
class ValueClockExpr : public Expression
{
public:
    explicit ValueClockExpr(const ExpressionRef& inner);

    const ExpressionRef& getInner() const { return inner; }

    void accept(ExpressionVisitor& visitor) override;
    // A new ValueClockExpr around the negation of the inner expression.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;
    bool isForeach() const override;
    void setVal(int32_t value) override;
    Variable* getVariable() const override;
    int32_t getTemplateIndex() const override;
    std::string getName() const override;

private:
    ExpressionRef inner;
};
