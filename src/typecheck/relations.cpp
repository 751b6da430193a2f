#include "typecheck/relations.h"

#include <vector>

#include "language/nesting.h"

namespace ZOLT {

namespace {

type_t typeOf(const expression_t& e)
{
    return e.empty() ? type_t() : e.getType();
}

bool boundsEqual(const type_t& a, const type_t& b)
{
    auto [lowerA, upperA] = a.getRangeBounds();
    auto [lowerB, upperB] = b.getRangeBounds();
    return lowerA.equal(lowerB) && upperA.equal(upperB);
}

// No part of the type forbids writing: no const prefix, no committed or hybrid
// prefix, not a process, and for a record no constant field.
bool isWritableType(const type_t& t)
{
    switch (t.getKind()) {
    case CONSTANT:
    case COMMITTED:
    case HYBRID:
    case PROCESS:
    case PROCESS_SET:
    case INSTANCE:
    case LSC_INSTANCE:
    case FUNCTION:
        return false;
    case RECORD:
        for (size_t i = 0; i < t.getSize(); ++i) {
            if (!isWritableType(t.getChild(i))) {
                return false;
            }
        }
        return true;
    default:
        return t.getSize() == 0 || isWritableType(t.getChild(0));
    }
}

} // namespace

bool hasTypeKind(const expression_t& e, node_kind_t kind)
{
    return !e.empty() && !typeOf(e).isUnknown() && typeOf(e).isKind(kind);
}

bool isCostTyped(const expression_t& e) { return hasTypeKind(e, COST); }

bool isProcessIdentifier(const expression_t& e)
{
    return !e.empty() && e.getKind() == IDENTIFIER && hasTypeKind(e, PROCESS);
}

bool isIntTyped(const expression_t& e) { return hasTypeKind(e, INT); }

bool isIntConstant(const expression_t& e)
{
    return !e.empty() && e.getKind() == CONSTANT && hasTypeKind(e, INT);
}

bool isClockTyped(const expression_t& e) { return hasTypeKind(e, CLOCK); }
bool isDiffTyped(const expression_t& e) { return hasTypeKind(e, DIFF); }
bool isVoidTyped(const expression_t& e) { return hasTypeKind(e, VOID_TYPE); }

bool isIntOrDoubleTyped(const expression_t& e)
{
    return hasTypeKind(e, INT) || hasTypeKind(e, DOUBLE);
}

bool isIntOrBoolTyped(const expression_t& e)
{
    return hasTypeKind(e, INT) || hasTypeKind(e, BOOL);
}

bool isDoubleLike(const expression_t& e)
{
    return hasTypeKind(e, DOUBLE) || hasTypeKind(e, CLOCK) || hasTypeKind(e, DIFF);
}

bool isIntegralTyped(const expression_t& e) { return !e.empty() && typeOf(e).isIntegral(); }
bool isNumeric(const expression_t& e) { return isDoubleLike(e) || isIntegralTyped(e); }
bool isInvariantTyped(const expression_t& e) { return !e.empty() && typeOf(e).isInvariant(); }

bool isRateInvariantTyped(const expression_t& e)
{
    return isInvariantTyped(e) || hasTypeKind(e, RATE_INVARIANT);
}

bool isGuardTyped(const expression_t& e) { return !e.empty() && typeOf(e).isGuard(); }
bool isConstraintTyped(const expression_t& e) { return !e.empty() && typeOf(e).isConstraint(); }
bool isFormulaTyped(const expression_t& e) { return !e.empty() && typeOf(e).isFormula(); }

bool designatesClock(const expression_t& expression)
{
    // Inline ifs nest in their branches only: follow them without recursion.
    std::vector<expression_t> work{expression};
    while (!work.empty()) {
        const expression_t e = std::move(work.back());
        work.pop_back();
        if (e.empty() || !e.getType().isKind(CLOCK)) {
            return false;
        }
        switch (e.getKind()) {
        case IDENTIFIER:
        case ARRAY:
        case DOT:
        case DYNAMIC_MEMBER:
            break;
        case INLINE_IF:
            work.push_back(e[1]);
            work.push_back(e[2]);
            break;
        default:
            return false;
        }
    }
    return true;
}

bool isProcessList(const expression_t& e)
{
    if (e.empty() || e.getKind() != LIST) {
        return false;
    }
    for (size_t i = 0; i < e.getSize(); ++i) {
        if (!isProcessIdentifier(e.getChild(i))) {
            return false;
        }
    }
    return true;
}

bool hasDynamicMitlQuantifier(const expression_t& e)
{
    return anySubexpression(e, [](const expression_t& x) {
        return x.getKind() == MITL_EXISTS_DYNAMIC || x.getKind() == MITL_FORALL_DYNAMIC;
    });
}

namespace {

// Finds a LESS node whose operands satisfy (left, right), or a GREATER node whose
// operands satisfy (right, left): the same bound written the other way round.
template <typename Left, typename Right>
bool hasBound(const expression_t& e, Left left, Right right)
{
    return anySubexpression(e, [&](const expression_t& x) {
        if (x.getSize() < 2) {
            return false;
        }
        expression_t l = x.getChild(0);
        expression_t r = x.getChild(1);
        return (x.getKind() == LESS && left(l) && right(r)) || (x.getKind() == GREATER && right(l) && left(r));
    });
}

} // namespace

bool hasStrictClockLowerBound(const expression_t& e)
{
    return hasBound(e, isIntegralTyped, isClockTyped);
}

bool hasStrictClockUpperBound(const expression_t& e)
{
    return hasBound(e, isClockTyped, isIntegralTyped);
}

bool isUnboundedInt(const type_t& t)
{
    if (!t.isKind(INT) || !t.isKind(RANGE)) {
        return false;
    }
    auto [lower, upper] = t.getRangeBounds();
    auto is = [](const expression_t& e, int32_t v) {
        return !e.empty() && e.getKind() == CONSTANT && e.getType().isKind(INT) && e.getValue() == v;
    };
    return is(lower, -32767) && is(upper, 32767);
}

bool isValueType(const type_t& t)
{
    switch (t.getKind()) {
    case CLOCK:
    case INT:
    case DOUBLE:
    case BOOL:
    case SCALAR:
    case COST:
        return true;
    case ARRAY:
        return isValueType(t.getChild(0));
    case RECORD:
        for (size_t i = 0; i < t.getSize(); ++i) {
            if (!isValueType(t.getChild(i))) {
                return false;
            }
        }
        return true;
    default:
        return t.getSize() > 0 && isValueType(t.getChild(0));
    }
}

bool isReturnableType(const type_t& t)
{
    switch (t.getKind()) {
    case INT:
    case DOUBLE:
    case BOOL:
    case SCALAR:
        return true;
    case RANGE:
    case LABEL:
        return isReturnableType(t.getChild(0));
    case RECORD:
        for (size_t i = 0; i < t.getSize(); ++i) {
            if (!isReturnableType(t.getChild(i))) {
                return false;
            }
        }
        return true;
    default:
        return false;
    }
}

int channelRank(const type_t& t)
{
    if (t.isKind(URGENT)) {
        return 0;
    }
    if (t.isKind(BROADCAST)) {
        return 1;
    }
    return 2;
}

bool typesEquivalent(const type_t& a, const type_t& b)
{
    if (a.isKind(INT) && b.isKind(INT)) {
        if (a.isKind(RANGE) && b.isKind(RANGE)) {
            return boundsEqual(a, b);
        }
        return true;
    }
    if ((a.isKind(BOOL) && b.isKind(BOOL)) || (a.isKind(CLOCK) && b.isKind(CLOCK))) {
        return true;
    }
    if (a.isKind(CHANNEL) && b.isKind(CHANNEL)) {
        return channelRank(a) == channelRank(b);
    }
    if (a.isKind(RECORD) && b.isKind(RECORD)) {
        size_t count = a.getFieldCount();
        if (count != b.getFieldCount()) {
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            if (a.getFieldName(i) != b.getFieldName(i) ||
                !typesEquivalent(a.getQualifiedChild(i), b.getQualifiedChild(i))) {
                return false;
            }
        }
        return true;
    }
    if (a.isKind(ARRAY) && b.isKind(ARRAY)) {
        type_t indexA = a.getIndexType();
        type_t indexB = b.getIndexType();
        if (indexA.isKind(INT) && indexB.isKind(INT)) {
            return boundsEqual(indexA, indexB) &&
                   typesEquivalent(a.getQualifiedChild(0), b.getQualifiedChild(0));
        }
        if (indexA.isKind(SCALAR) && indexB.isKind(SCALAR)) {
            return sameScalarset(indexA, indexB) &&
                   typesEquivalent(a.getQualifiedChild(0), b.getQualifiedChild(0));
        }
        return false;
    }
    if (a.isKind(SCALAR) && b.isKind(SCALAR)) {
        return sameScalarset(a, b);
    }
    return a.isKind(DOUBLE) && b.isKind(DOUBLE);
}

bool sameScalarset(const type_t& a, const type_t& b)
{
    auto looksThrough = [](node_kind_t k) { return k == REF || k == CONSTANT || k == META; };
    if (looksThrough(a.getKind()) && a.getSize() > 0) {
        return sameScalarset(a.getChild(0), b);
    }
    if (looksThrough(b.getKind()) && b.getSize() > 0) {
        return sameScalarset(a, b.getChild(0));
    }
    if (a.getKind() == LABEL && b.getKind() == LABEL) {
        return a.getLabel(0) == b.getLabel(0) && sameScalarset(a.getChild(0), b.getChild(0));
    }
    if (a.getKind() == SCALAR && b.getKind() == SCALAR) {
        return true;
    }
    if (a.getKind() == RANGE && b.getKind() == RANGE) {
        return sameScalarset(a.getChild(0), b.getChild(0)) && boundsEqual(a, b);
    }
    return false;
}

bool acceptsAssignment(const type_t& target, const type_t& source, bool initialiser)
{
    if (!initialiser) {
        if ((target.isKind(CLOCK) || target.isKind(DOUBLE)) &&
            (source.isIntegral() || source.isKind(DOUBLE) || source.isKind(CLOCK))) {
            return true;
        }
    } else if (target.isKind(CLOCK) && source.isKind(DOUBLE)) {
        return true;
    }
    if (target.isIntegral() && source.isIntegral()) {
        return true;
    }
    return typesEquivalent(target, source);
}

bool branchTypesMatch(const type_t& a, const type_t& b)
{
    return (a.isIntegral() && b.isIntegral()) || typesEquivalent(a, b);
}

bool comparableForEquality(const type_t& a, const type_t& b)
{
    return (a.isIntegral() && b.isIntegral()) ||
           (a.isKind(PROCESS_VARIABLE) && b.isKind(PROCESS_VARIABLE)) || typesEquivalent(a, b);
}

bool isWritableLvalue(const expression_t& e)
{
    if (e.empty()) {
        return false;
    }
    node_kind_t kind = e.getKind();
    if ((kind >= ASSIGN && kind <= SHIFT_RIGHT_ASSIGN) || kind == PRE_INCREMENT ||
        kind == PRE_DECREMENT) {
        return true;
    }
    switch (kind) {
    case IDENTIFIER:
        return isWritableType(e.getType());
    case ARRAY:
        return isWritableLvalue(e.getChild(0));
    case DOT:
        if (hasTypeKind(e.getChild(0), PROCESS)) {
            return false;
        }
        return isWritableLvalue(e.getChild(0));
    case INLINE_IF:
        return isWritableLvalue(e.getChild(1)) && isWritableLvalue(e.getChild(2)) &&
               typesEquivalent(typeOf(e.getChild(1)), typeOf(e.getChild(2)));
    case COMMA:
        return isWritableLvalue(e.getChild(1));
    default:
        return false;
    }
}

bool argumentMatchesParameter(const type_t& parameter, const expression_t& argument)
{
    type_t t = typeOf(argument);
    bool writable = isWritableLvalue(argument);
    if (parameter.isKind(REF) && !parameter.isConstant() && !writable) {
        return false;
    }
    if (parameter.isKind(CHANNEL) && t.isKind(CHANNEL)) {
        return channelRank(t) >= channelRank(parameter);
    }
    if (writable && parameter.isKind(REF)) {
        return typesEquivalent(t, parameter);
    }
    return acceptsAssignment(parameter, t, false);
}

} // namespace ZOLT
