#include "compiler/value_clock_expr.h"

ValueClockExpr::ValueClockExpr(const ExpressionRef& inner) : inner(inner) {}

void ValueClockExpr::accept(ExpressionVisitor& visitor)
{
    inner->accept(visitor);
}

ExpressionRef ValueClockExpr::negate()
{
    return ExpressionRef(new ValueClockExpr(inner->negate()));
}

int32_t ValueClockExpr::evaluate(PublicState* state)
{
    state->beginEvaluation();
    int32_t value;
    try {
        value = inner->evaluate(state);
    } catch (...) {
        state->endEvaluation();
        throw;
    }
    state->endEvaluation();
    state->result = static_cast<double>(value);
    return value;
}

bool ValueClockExpr::isForeach() const
{
    return inner->isForeach();
}

void ValueClockExpr::setVal(int32_t value)
{
    inner->setVal(value);
}

Variable* ValueClockExpr::getVariable() const
{
    return inner->getVariable();
}

int32_t ValueClockExpr::getTemplateIndex() const
{
    return inner->getTemplateIndex();
}

std::string ValueClockExpr::getName() const
{
    return inner->getName();
}
