#include "runtime/expression.h"

#include <cmath>

#include "language/system.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/variable.h"
#include "support/arith.h"
#include "support/exceptions.h"

namespace {
const char* const notForeach = "Should not be called on normal expressions";

void addAll(IndexSet& into, const IndexSet& from)
{
    into.insert(from.begin(), from.end());
}
}  // namespace

void Expression::setVal(int32_t)
{
    throw Bug(notForeach);
}

Variable* Expression::getVariable() const
{
    throw Bug(notForeach);
}

int32_t Expression::getTemplateIndex() const
{
    throw Bug(notForeach);
}

std::string Expression::getName() const
{
    throw Bug(notForeach);
}

TrivialExpression::TrivialExpression()
{
    trivial = true;
    convex = true;
}

ExpressionRef TrivialExpression::negate()
{
    return ExpressionRef(new NotExpression(ExpressionRef(this)));
}

Constant::Constant(int32_t value) : value(value) {}

void Constant::accept(ExpressionVisitor& visitor)
{
    visitor.visitConstant(this);
}

int32_t Constant::evaluate(PublicState*)
{
    return value;
}

DoubleConstant::DoubleConstant(double value) : value(value) {}

void DoubleConstant::accept(ExpressionVisitor&) {}

int32_t DoubleConstant::evaluate(PublicState* state)
{
    if (state != nullptr) {
        state->result = value;
    }
    return 0;
}

NotExpression::NotExpression(const ExpressionRef& operand) : operand(operand)
{
    if (!operand->trivial) {
        throw Bug("NotExpression used with non-trivial expression.");
    }
    reads = operand->reads;
    writes = operand->writes;
}

void NotExpression::accept(ExpressionVisitor& visitor)
{
    operand->accept(visitor);
    visitor.visitNot(this);
}

ExpressionRef NotExpression::negate()
{
    return operand;
}

int32_t NotExpression::evaluate(PublicState* state)
{
    return operand->evaluate(state) == 0 ? 1 : 0;
}

CommaExpression::CommaExpression(const ExpressionRef& first, const ExpressionRef& second)
    : first(first), second(second)
{
    if (!first->trivial || !second->trivial) {
        throw Bug("CommaExpression used with non-trivial expressions.");
    }
    reads = first->reads;
    addAll(reads, second->reads);
    writes = first->writes;
    addAll(writes, second->writes);
}

void CommaExpression::accept(ExpressionVisitor& visitor)
{
    first->accept(visitor);
    second->accept(visitor);
    visitor.visitComma(this);
}

int32_t CommaExpression::evaluate(PublicState* state)
{
    first->evaluate(state);
    return second->evaluate(state);
}

Product::Product(const ExpressionRef& first, const ExpressionRef& second) : first(first), second(second)
{
    if (!first->trivial || !second->trivial) {
        throw Bug("Product used with non-trivial expressions.");
    }
    reads = first->reads;
    addAll(reads, second->reads);
    writes = first->writes;
    addAll(writes, second->writes);
}

void Product::accept(ExpressionVisitor& visitor)
{
    first->accept(visitor);
    second->accept(visitor);
    visitor.visitProduct(this);
}

int32_t Product::evaluate(PublicState* state)
{
    const int32_t a = first->evaluate(state);
    const int32_t b = second->evaluate(state);
    return base::mulWrap(a, b);
}

ForeachExpr::ForeachExpr(const std::string& name, Variable* variable, int32_t templateIndex,
                         const ExpressionRef& body)
    : name(name), variable(variable), templateIndex(templateIndex), body(body)
{}

void ForeachExpr::accept(ExpressionVisitor&) {}

ExpressionRef ForeachExpr::negate()
{
    return ExpressionRef(this);
}

int32_t ForeachExpr::evaluate(PublicState* state)
{
    if (currentValue < 0) {
        throw Bug("Evaluate called before setVal");
    }
    variable->setValue(state, currentValue);
    // The value is forgotten before the body runs, so an evaluation that reaches this expression
    // again (from its own body, or without a new setVal) is refused.
    currentValue = -1;
    body->evaluate(state);
    return 1;
}

void ForeachExpr::setVal(int32_t value)
{
    currentValue = value;
}

Variable* ForeachExpr::getVariable() const
{
    return variable;
}

int32_t ForeachExpr::getTemplateIndex() const
{
    return templateIndex;
}

std::string ForeachExpr::getName() const
{
    return name;
}

const IndexSet& ForeachExpr::getReads() const
{
    throw Bug("getReads should not be called on ForeachExpressions");
}

DynamicSumExpression::DynamicSumExpression(const ZOLT::template_t* dynamicTemplate, const ExpressionRef& term,
                                           Variable* variable)
    : dynamicTemplate(dynamicTemplate), term(term), variable(variable)
{}

void DynamicSumExpression::accept(ExpressionVisitor&) {}

ExpressionRef DynamicSumExpression::negate()
{
    throw Bug("Cannot negate a dynamic sum expression");
}

int32_t DynamicSumExpression::evaluate(PublicState* state)
{
    ConcreteState* concrete = state != nullptr ? state->getConcreteState() : nullptr;
    if (concrete == nullptr) {
        throw CannotEvaluateExpression("A sum over dynamic processes can only be evaluated on a concrete state",
                                       NO_POSITION);
    }
    double sum = 0.0;
    const SpawnTable* table = concrete->spawnTable;
    const size_t index = static_cast<size_t>(dynamicTemplate->dynamicIndex);
    if (table != nullptr && index < table->size()) {
        const SpawnRecord& record = (*table)[index];
        for (int64_t k = 0; k < record.liveCount && static_cast<size_t>(k) < record.liveNumbers.size(); ++k) {
            variable->setValue(state, record.liveNumbers[static_cast<size_t>(k)]);
            state->result = 0.0;
            state->beginEvaluation();
            term->evaluate(state);
            state->endEvaluation();
            sum += state->result;
        }
    }
    state->result = sum;
    return doubleToInt32(sum);
}
