#include "testkit/expressions.h"

#include <string>

#include "runtime/exceptions.h"

namespace testkit {

namespace {
class Assign : public TrivialExpression
{
public:
    Assign(Variable* target, Variable* source, int32_t value) : target(target), source(source), value(value)
    {
        writes.insert(static_cast<uint32_t>(target->getIndex()));
        if (source != nullptr) {
            reads.insert(static_cast<uint32_t>(source->getIndex()));
        }
    }

    void accept(ExpressionVisitor&) override {}

    int32_t evaluate(PublicState* state) override
    {
        const int32_t v = source != nullptr ? source->getValue(state) : value;
        if (!target->setValue(state, v)) {
            throw CannotEvaluateExpression("Assignment of value '" + std::to_string(v) + "' to variable '" +
                                               target->getName() + "' is out of range",
                                           NO_POSITION);
        }
        return v;
    }

private:
    Variable* target;
    Variable* source;
    int32_t value;
};

class Compare : public TrivialExpression
{
public:
    Compare(Variable* variable, Relation relation, int32_t value)
        : variable(variable), relation(relation), value(value)
    {
        reads.insert(static_cast<uint32_t>(variable->getIndex()));
    }

    void accept(ExpressionVisitor&) override {}

    int32_t evaluate(PublicState* state) override
    {
        const int32_t v = variable->getValue(state);
        switch (relation) {
        case Relation::Less:
            return v < value;
        case Relation::LessEqual:
            return v <= value;
        case Relation::Equal:
            return v == value;
        case Relation::NotEqual:
            return v != value;
        case Relation::GreaterEqual:
            return v >= value;
        case Relation::Greater:
            return v > value;
        }
        return 0;
    }

private:
    Variable* variable;
    Relation relation;
    int32_t value;
};

int32_t numberOf(const ClockVariable* clock)
{
    return clock != nullptr ? clock->getClockNumber() : 0;
}
}  // namespace

ExpressionRef constant(int32_t value)
{
    return ExpressionRef(new Constant(value));
}

ExpressionRef assign(Variable* target, int32_t value)
{
    return ExpressionRef(new Assign(target, nullptr, value));
}

ExpressionRef copy(Variable* target, Variable* source)
{
    return ExpressionRef(new Assign(target, source, 0));
}

ExpressionRef compare(Variable* variable, Relation relation, int32_t value)
{
    return ExpressionRef(new Compare(variable, relation, value));
}

ExpressionRef sequence(const ExpressionRef& a, const ExpressionRef& b)
{
    return ExpressionRef(new CommaExpression(a, b));
}

Constraint constantConstraint(int32_t first, int32_t second, bool strict, int32_t bound)
{
    IndexSet firstClocks;
    IndexSet secondClocks;
    if (first != 0) {
        firstClocks.insert(static_cast<uint32_t>(first));
    }
    if (second != 0) {
        secondClocks.insert(static_cast<uint32_t>(second));
    }
    return Constraint(constant(first), constant(second), constant(bound), strict, firstClocks, secondClocks,
                      {bound, bound}, IndexSet{});
}

ExpressionRef clockUpper(const ClockVariable* x, bool strict, int32_t bound)
{
    return ExpressionRef(new ClockExpr(constantConstraint(numberOf(x), 0, strict, bound)));
}

ExpressionRef clockLower(const ClockVariable* x, bool strict, int32_t bound)
{
    return ExpressionRef(new ClockExpr(constantConstraint(0, numberOf(x), strict, -bound)));
}

ExpressionRef clockDifference(const ClockVariable* x, const ClockVariable* y, bool strict, int32_t bound)
{
    return ExpressionRef(new ClockExpr(constantConstraint(numberOf(x), numberOf(y), strict, bound)));
}

int32_t Probe::evaluate(PublicState*)
{
    ++evaluations;
    if (fails) {
        throw CannotEvaluateExpression("probe failed", NO_POSITION);
    }
    return value;
}

}  // namespace testkit
