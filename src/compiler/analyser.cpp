#include "compiler/analyser.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <limits>

#include <boost/format.hpp>

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "compiler/rewriting.h"
#include "compiler/symbol.h"
#include "runtime/variable.h"
#include "support/exceptions.h"

using namespace ZOLT;

namespace {

constexpr int64_t minInt = std::numeric_limits<int32_t>::min();
constexpr int64_t maxInt = std::numeric_limits<int32_t>::max();

const interval_t fullRange(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());

// An interval computed in 64 bits. Values that do not fit in 32 bits wrap around in the
// machine, so such an interval widens to every 32-bit value.
interval_t wide(int64_t lower, int64_t upper)
{
    if (lower > upper) {
        return interval_t();
    }
    if (lower < minInt || upper > maxInt) {
        return fullRange;
    }
    return interval_t(static_cast<int32_t>(lower), static_cast<int32_t>(upper));
}

// Number of values of an interval, without wrapping.
int64_t count(const interval_t& r)
{
    return r.isEmpty() ? 0 : int64_t(r.upper) - int64_t(r.lower) + 1;
}

// The kinds whose range is that of a binary operator over the ranges of both children.
bool isRangeOperator(node_kind_t kind)
{
    return (kind >= ADD && kind <= MAXIMUM) || (kind >= LESS && kind <= GREATER);
}

int64_t hullLower(std::initializer_list<int64_t> values)
{
    return std::min(values);
}

int64_t hullUpper(std::initializer_list<int64_t> values)
{
    return std::max(values);
}

// The range of a bitwise operator. Operands of absolute value below 2^k are (k + 1)-bit
// two's-complement numbers, and so is every combination of their bits.
interval_t bitwiseRange(node_kind_t op, const interval_t& l, const interval_t& r)
{
    const int64_t m = std::max({std::llabs(l.lower), std::llabs(l.upper), std::llabs(r.lower), std::llabs(r.upper)});
    int k = 0;
    while (k < 63 && (int64_t(1) << k) <= m) {
        ++k;
    }
    const int64_t mask = (int64_t(1) << k) - 1;
    const bool leftNonNegative = l.lower >= 0;
    const bool rightNonNegative = r.lower >= 0;
    const bool leftNegative = l.upper < 0;
    const bool rightNegative = r.upper < 0;
    switch (op) {
    case BITWISE_AND:
        if (leftNonNegative || rightNonNegative) {
            return wide(0, mask);
        }
        if (leftNegative && rightNegative) {
            return wide(-mask - 1, 0);
        }
        return wide(-mask - 1, mask);
    case BITWISE_OR:
        if (leftNonNegative && rightNonNegative) {
            return wide(0, mask);
        }
        if (leftNegative || rightNegative) {
            return wide(-mask, 0);
        }
        return wide(-mask, mask);
    default: // BITWISE_XOR
        if ((leftNonNegative && rightNonNegative) || (leftNegative && rightNegative)) {
            return wide(0, mask);
        }
        if ((leftNonNegative && rightNegative) || (leftNegative && rightNonNegative)) {
            return wide(-mask - 1, 0);
        }
        return wide(-mask - 1, mask);
    }
}

interval_t shiftRange(node_kind_t op, const interval_t& l, const interval_t& r)
{
    if (r.lower < 0 || r.upper > 31) {
        // Counts are taken modulo 32 (a negative one fails at run time): any count may occur.
        if (op == SHIFT_RIGHT) {
            return interval_t(std::min(l.lower, 0), std::max(l.upper, 0));
        }
        return fullRange;
    }
    if (op == SHIFT_LEFT) {
        auto shl = [](int64_t v, int64_t c) { return v * (int64_t(1) << c); };
        return wide(hullLower({shl(l.lower, r.lower), shl(l.lower, r.upper), shl(l.upper, r.lower), shl(l.upper, r.upper)}),
                    hullUpper({shl(l.lower, r.lower), shl(l.lower, r.upper), shl(l.upper, r.lower), shl(l.upper, r.upper)}));
    }
    auto shr = [](int64_t v, int64_t c) { return v >> c; };
    return wide(hullLower({shr(l.lower, r.lower), shr(l.lower, r.upper), shr(l.upper, r.lower), shr(l.upper, r.upper)}),
                hullUpper({shr(l.lower, r.lower), shr(l.lower, r.upper), shr(l.upper, r.lower), shr(l.upper, r.upper)}));
}

interval_t divideRange(const interval_t& l, const interval_t& r)
{
    int64_t c = r.lower;
    int64_t d = r.upper;
    if (c * d <= 0) {
        if (c == 0 && d == 0) {
            c = 1;
            d = -1;
        } else if (c == 0) {
            c = 1;
        } else if (d == 0) {
            d = -1;
        } else {
            c = -1;
            d = 1;
        }
    }
    const int64_t q1 = l.lower / c;
    const int64_t q2 = l.lower / d;
    const int64_t q3 = l.upper / c;
    const int64_t q4 = l.upper / d;
    return wide(hullLower({q1, q2, q3, q4}), hullUpper({q1, q2, q3, q4}));
}

interval_t moduloRange(const interval_t& l, const interval_t& r)
{
    if (l.lower == l.upper && r.lower == r.upper && r.lower != 0) {
        const int64_t v = int64_t(l.lower) % int64_t(r.lower);
        return wide(v, v);
    }
    const int64_t m = std::max(std::llabs(r.lower), std::llabs(r.upper));
    return wide(std::max(-m, std::min<int64_t>(l.lower, 0)), std::min(m, std::max<int64_t>(l.upper, 0)));
}

bool isArithmetic(node_kind_t op)
{
    return op <= SHIFT_RIGHT;
}

// An operand compared by its floating-point value: a double, or a clock or clock difference
// outside a clock constraint.
bool comparedAsDouble(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isKind(DOUBLE) || type.isKind(CLOCK) || type.isKind(DIFF);
}

// A comparison of data with a floating-point operand: a truth value, but its operands have
// no integer range to compare. (A clock constraint is no such value.)
bool comparesDoubles(const expression_t& e)
{
    return e.getKind() >= LESS && e.getKind() <= GREATER && e.getSize() == 2 && e.getType().isIntegral() &&
           (comparedAsDouble(e[0]) || comparedAsDouble(e[1]));
}

const interval_t truthValues(0, 1);

} // namespace

interval_t truthRange(const interval_t& r)
{
    const int32_t lower = (r.lower > 0 || r.upper < 0) ? 1 : 0;
    const int32_t upper = (r.lower == 0 && r.upper == 0) ? 0 : 1;
    return interval_t(lower, upper);
}

// ---------------------------------------------------------------- ranges

interval_t ExpressionAnalyser::combine(const interval_t& l, node_kind_t op, const interval_t& r,
                                       const expression_t& leftExpression, const expression_t& rightExpression)
{
    if (isArithmetic(op) && (l.isEmpty() || r.isEmpty())) {
        return interval_t();
    }
    const int64_t l1 = l.lower;
    const int64_t u1 = l.upper;
    const int64_t l2 = r.lower;
    const int64_t u2 = r.upper;
    switch (op) {
    case ADD:
        return wide(l1 + l2, u1 + u2);
    case SUBTRACT:
        return wide(l1 - u2, u1 - l2);
    case MULTIPLY:
        return wide(hullLower({l1 * l2, l1 * u2, u1 * l2, u1 * u2}), hullUpper({l1 * l2, l1 * u2, u1 * l2, u1 * u2}));
    case DIVIDE:
        return divideRange(l, r);
    case MODULO:
        return moduloRange(l, r);
    case BITWISE_AND:
    case BITWISE_OR:
    case BITWISE_XOR:
        return bitwiseRange(op, l, r);
    case SHIFT_LEFT:
    case SHIFT_RIGHT:
        return shiftRange(op, l, r);
    case LOGICAL_AND: {
        const interval_t a = truthRange(l);
        const interval_t b = truthRange(r);
        return interval_t(a.lower & b.lower, a.upper & b.upper);
    }
    case LOGICAL_OR: {
        const interval_t a = truthRange(l);
        const interval_t b = truthRange(r);
        return interval_t(a.lower | b.lower, a.upper | b.upper);
    }
    case LOGICAL_XOR: {
        // Surely true when both sides are decided and differ; possibly true unless both
        // are decided and equal.
        const interval_t a = truthRange(l);
        const interval_t b = truthRange(r);
        const bool decided = a.lower == a.upper && b.lower == b.upper;
        return interval_t(decided && a.lower != b.lower ? 1 : 0, decided && a.lower == b.lower ? 0 : 1);
    }
    case MINIMUM:
        return interval_t(std::min(l.lower, r.lower), std::min(l.upper, r.upper));
    case MAXIMUM:
        return interval_t(std::max(l.lower, r.lower), std::max(l.upper, r.upper));
    case LESS:
        return interval_t(u1 < l2, l1 < u2);
    case LESS_EQUAL:
        return interval_t(u1 <= l2, l1 <= u2);
    case EQUAL:
        return interval_t(count(l.join(r)) <= 1, !l.intersect(r).isEmpty());
    case NOT_EQUAL:
        return interval_t(l.intersect(r).isEmpty(), count(l.join(r)) > 1);
    case GREATER_EQUAL:
        return interval_t(l1 >= u2, u1 >= l2);
    case GREATER:
        return interval_t(l1 > u2, u1 > l2);
    default:
        throw UndefinedRangeException("rangeOfBinary: " + leftExpression.toString() + " " +
                                      rightExpression.toString());
    }
}

interval_t ExpressionAnalyser::rangeOfBinary(const expression_t& left, node_kind_t op, const expression_t& right)
{
    const interval_t l = getRange(left);
    const interval_t r = getRange(right);
    return combine(l, op, r, left, right);
}

interval_t ExpressionAnalyser::getRange(const expression_t& expression)
{
    // A left-leaning chain of operators is folded from its innermost operand outwards. It
    // ends above a comparison of doubles, whose range is that of any truth value.
    std::vector<expression_t> chain = leftChain(expression, isRangeOperator);
    for (size_t i = 0; i < chain.size(); ++i) {
        if (comparesDoubles(chain[i])) {
            chain.resize(i);
            break;
        }
    }
    if (chain.empty()) {
        DepthGuard guard(depth, expression);
        return rangeOfNode(expression);
    }
    interval_t value;
    {
        DepthGuard guard(depth, expression);
        value = getRange(chain.back()[0]);
    }
    for (size_t i = chain.size(); i-- > 0;) {
        const expression_t& node = chain[i];
        DepthGuard guard(depth, node);
        const interval_t right = getRange(node[1]);
        value = combine(value, node.getKind(), right, node[0], node[1]);
    }
    return value;
}

interval_t ExpressionAnalyser::rangeOfNode(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    if (comparesDoubles(e)) {
        return truthValues;
    }
    switch (kind) {
    case LOGICAL_NOT: {
        const interval_t t = truthRange(getRange(e[0]));
        return interval_t(1 - t.upper, 1 - t.lower);
    }
    case SUM: {
        const binding_t bound = e[0].getSymbol();
        auto [lowerBound, upperBound] = bound.getType().getRangeBounds();
        const int32_t a = compiler->evaluateConstant(lowerBound);
        const int32_t b = compiler->evaluateConstant(upperBound);
        if (a > b) {
            return interval_t();
        }
        int64_t lower = 0;
        int64_t upper = 0;
        bool widened = false;
        for (int64_t i = a; i <= b; ++i) {
            const interval_t term = getRange(substituteConstant(e[1], bound, static_cast<int32_t>(i)));
            if (i == a) {
                lower = term.lower;
                upper = term.upper;
            } else {
                lower += term.lower;
                upper += term.upper;
            }
            if (lower < minInt || upper > maxInt) {
                widened = true;
            }
        }
        return widened ? fullRange : interval_t(static_cast<int32_t>(lower), static_cast<int32_t>(upper));
    }
    case ASSIGN:
        return getRange(e[1]).intersect(getDeclaredRange(e[0]));
    case ADD_ASSIGN:
    case SUBTRACT_ASSIGN:
    case DIVIDE_ASSIGN:
    case MODULO_ASSIGN:
    case MULTIPLY_ASSIGN:
    case AND_ASSIGN:
    case OR_ASSIGN:
    case XOR_ASSIGN:
    case SHIFT_LEFT_ASSIGN:
    case SHIFT_RIGHT_ASSIGN: {
        static const node_kind_t operators[] = {ADD,         SUBTRACT,   DIVIDE,      MODULO,     MULTIPLY,
                                                BITWISE_AND, BITWISE_OR, BITWISE_XOR, SHIFT_LEFT, SHIFT_RIGHT};
        return rangeOfBinary(e[0], operators[kind - ADD_ASSIGN], e[1]).intersect(getDeclaredRange(e[0]));
    }
    case IDENTIFIER:
    case ARRAY:
    case DOT:
        return getDeclaredRange(e);
    case CONSTANT:
        if (e.getType().isKind(DOUBLE)) {
            throw UndefinedRangeException("getRange: " + e.toString());
        }
        return interval_t(e.getValue());
    case FOR_ALL:
    case EXISTS:
    case FORALL_DYNAMIC:
    case EXISTS_DYNAMIC:
        // A quantifier yields whether its body holds, never a value of the body.
        return truthValues;
    case POST_INCREMENT:
    case POST_DECREMENT:
        return getRange(e[0]);
    case PRE_INCREMENT: {
        const interval_t d = getDeclaredRange(e[0]);
        return d.isEmpty() ? d : wide(int64_t(d.lower) + 1, d.upper);
    }
    case PRE_DECREMENT: {
        const interval_t d = getDeclaredRange(e[0]);
        return d.isEmpty() ? d : wide(d.lower, int64_t(d.upper) - 1);
    }
    case UNARY_MINUS: {
        const interval_t l = getRange(e[0]);
        return l.isEmpty() ? l : wide(-int64_t(l.upper), -int64_t(l.lower));
    }
    case INLINE_IF: {
        const interval_t t = truthRange(getRange(e[0]));
        if (t.lower == 0 && t.upper == 1) {
            return getRange(e[1]).join(getRange(e[2]));
        }
        if (t.lower == 0 && t.upper == 0) {
            return getRange(e[2]);
        }
        return getRange(e[1]);
    }
    case COMMA:
        return getRange(e[1]);
    case FUNCTION_CALL:
        return getRange(e.getType());
    default:
        throw UndefinedRangeException("getRange: " + e.toString());
    }
}

interval_t ExpressionAnalyser::getRange(const type_t& type)
{
    switch (type.getKind()) {
    case CONSTANT:
    case ARRAY:
    case LABEL:
    case REF:
    case URGENT:
    case COMMITTED:
    case META:
        if (type.getSize() > 0) {
            return getRange(type.getChild(0));
        }
        break;
    case INT:
        return interval_t(-32767, 32767);
    case BOOL:
    case LOCATION:
        return interval_t(0, 1);
    case RANGE: {
        auto [lowerBound, upperBound] = type.getRangeBounds();
        const int32_t lower = compiler->evaluateConstant(lowerBound);
        const int32_t upper = compiler->evaluateConstant(upperBound);
        return interval_t(lower, upper);
    }
    default:
        break;
    }
    throw UndefinedRangeException("ExpressionAnalyser::getRange(type_t): " + type.toString());
}

interval_t ExpressionAnalyser::getDeclaredRange(const expression_t& lvalue)
{
    Symbol* s = resolveSymbol(lvalue);
    if (s == nullptr) {
        return getRange(lvalue.getType());
    }
    if (s->isParameter) {
        if (s->isReference && !s->value.empty()) {
            if (Symbol* target = resolveSymbol(s->value)) {
                return getRange(target->type);
            }
        }
        if (s->value.empty()) {
            return getRange(s->type);
        }
        return getRange(s->value);
    }
    if (s->type.isKind(CONSTANT)) {
        CellSet cells;
        collectPossibleIndex(lvalue, cells);
        interval_t hull;
        for (const Cell& cell : cells) {
            Variable* variable = compiler->getVariable(boost::get<1>(cell));
            if (variable == nullptr || !variable->isConstant()) {
                throw Bug("Problem in getDeclaredRange(). Please report this.");
            }
            hull = hull.join(interval_t(variable->evaluate(nullptr)));
        }
        return hull;
    }
    return getRange(s->type);
}

namespace {

// Follows reference nodes to the node of the referenced value.
Symbol* skipReferences(Symbol* node)
{
    while (node != nullptr && node->isReference) {
        node = node->firstChild.get();
    }
    return node;
}

} // namespace

Symbol* ExpressionAnalyser::resolveSymbol(const expression_t& lvalue)
{
    if (lvalue.empty()) {
        return nullptr;
    }
    DepthGuard guard(depth, lvalue);
    switch (lvalue.getKind()) {
    case ARRAY: {
        Symbol* array = skipReferences(resolveSymbol(lvalue[0]));
        return array != nullptr ? array->firstChild.get() : nullptr;
    }
    case DOT: {
        if (lvalue[0].getKind() == FUNCTION_CALL) {
            return nullptr;
        }
        Symbol* owner = resolveSymbol(lvalue[0]);
        if (owner == nullptr) {
            throw TypeException(boost::format("$Invalid_type %1%") % lvalue.toString());
        }
        owner = skipReferences(owner);
        return owner != nullptr ? owner->findChild(lvalue.getIndex()) : nullptr;
    }
    default:
        return currentSymbol != nullptr ? currentSymbol->find(lvalue.getSymbol()) : nullptr;
    }
}

// ---------------------------------------------------------------- cells

namespace {

const char notImplemented[] =
    "Not Implemented: void ExpressionAnalyser::collectPossibleIndex(ZOLT::expression_t, "
    "std::set<boost::tuples::tuple<Symbol*, unsigned int> >&)";

std::string unsupported(node_kind_t kind)
{
    return (boost::format("Expression not supported (%1%)") % static_cast<int>(kind)).str();
}

// Kinds that denote no cell.
bool denotesNothing(node_kind_t kind)
{
    return (kind >= ADD && kind <= GREATER) || (kind >= LOGICAL_NOT && kind <= FLOOR) ||
           (kind >= EXISTS_EVENTUALLY && kind <= LEADS_TO) || kind == SCENARIO || kind == CONSTANT ||
           kind == POST_INCREMENT || kind == POST_DECREMENT || kind == UNARY_MINUS || kind == LIST ||
           kind == SYNC || kind == DEADLOCK || kind == FUNCTION_CALL || (kind >= SPAWN && kind <= SUM_DYNAMIC) ||
           kind == DYNAMIC_MEMBER;
}

} // namespace

void ExpressionAnalyser::collectPossibleIndex(const expression_t& e, CellSet& cells)
{
    if (e.empty()) {
        return;
    }
    DepthGuard guard(depth, e);
    const node_kind_t kind = e.getKind();
    switch (kind) {
    case IDENTIFIER: {
        Symbol* node = currentSymbol != nullptr ? currentSymbol->find(e.getSymbol()) : nullptr;
        if (node == nullptr) {
            return;
        }
        if (node->isReference) {
            if (!node->isParameter) {
                throw Bug(notImplemented);
            }
            collectPossibleIndex(node->value, cells);
            return;
        }
        cells.insert(Cell(node, node->getOffset()));
        return;
    }
    case ARRAY: {
        // An index without a range (a quantifier, say) may reach every element.
        interval_t r(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
        try {
            r = getRange(e[1]);
        } catch (const UndefinedRangeException&) {
        }
        CellSet arrays;
        collectPossibleIndex(e[0], arrays);
        for (const Cell& entry : arrays) {
            Symbol* s = boost::get<0>(entry);
            Symbol* element = s->firstChild.get();
            if (element == nullptr || r.isEmpty()) {
                continue;
            }
            const int64_t from = std::max<int64_t>(r.lower, s->lower);
            const int64_t to = std::min<int64_t>(r.upper, s->upper);
            for (int64_t v = from; v <= to; ++v) {
                const unsigned index =
                    boost::get<1>(entry) + static_cast<unsigned>(v - s->lower) * element->size;
                cells.insert(Cell(element, index));
            }
        }
        return;
    }
    case DOT: {
        CellSet owners;
        collectPossibleIndex(e[0], owners);
        for (const Cell& entry : owners) {
            Symbol* field = boost::get<0>(entry)->findChild(e.getIndex());
            if (field == nullptr) {
                return;
            }
            if (field->isReference) {
                if (!field->isParameter) {
                    throw Bug(notImplemented);
                }
                collectPossibleIndex(field->value, cells);
            } else {
                cells.insert(Cell(field, boost::get<1>(entry) + field->offset));
            }
        }
        return;
    }
    case INLINE_IF:
        collectPossibleIndex(e[1], cells);
        collectPossibleIndex(e[2], cells);
        return;
    case COMMA:
        collectPossibleIndex(e[1], cells);
        return;
    case ASSIGN:
    case ADD_ASSIGN:
    case SUBTRACT_ASSIGN:
    case DIVIDE_ASSIGN:
    case MODULO_ASSIGN:
    case MULTIPLY_ASSIGN:
    case AND_ASSIGN:
    case OR_ASSIGN:
    case XOR_ASSIGN:
    case SHIFT_LEFT_ASSIGN:
    case SHIFT_RIGHT_ASSIGN:
    case PRE_INCREMENT:
    case PRE_DECREMENT:
        collectPossibleIndex(e[0], cells);
        return;
    default:
        if (denotesNothing(kind)) {
            return;
        }
        throw Bug(unsupported(kind));
    }
}

ExpressionAnalyser::Cell ExpressionAnalyser::uniqueCell(const expression_t& expression)
{
    CellSet cells;
    collectPossibleIndex(expression, cells);
    if (cells.size() == 1) {
        return *cells.begin();
    }
    return Cell(nullptr, 0);
}

void ExpressionAnalyser::expandCells(const CellSet& cells, IndexSet& indices)
{
    for (const Cell& cell : cells) {
        const Symbol* node = boost::get<0>(cell);
        const unsigned first = boost::get<1>(cell);
        for (uint32_t i = 0; i < node->size; ++i) {
            indices.insert(first + i);
        }
    }
}

void ExpressionAnalyser::addCells(const expression_t& expression, IndexSet& indices)
{
    CellSet cells;
    collectPossibleIndex(expression, cells);
    expandCells(cells, indices);
}

void ExpressionAnalyser::collectReads(const expression_t& expression, IndexSet& reads)
{
    // A work list instead of recursion: the reads of an expression are the union of what
    // each node adds, so the order of the visits does not matter.
    std::vector<expression_t> work;
    if (!expression.empty()) {
        work.push_back(expression);
    }
    while (!work.empty()) {
        expression_t e = std::move(work.back());
        work.pop_back();
        if (e.empty()) {
            continue;
        }
        const node_kind_t kind = e.getKind();
        if ((kind >= ADD && kind <= GREATER && kind != RATE)) {
            work.push_back(e[0]);
            work.push_back(e[1]);
            addCells(e[0], reads);
            addCells(e[1], reads);
            continue;
        }
        switch (kind) {
        case RATE:
        case LOGICAL_NOT:
        case UNARY_MINUS:
            work.push_back(e[0]);
            addCells(e[0], reads);
            break;
        case FOR_ALL:
        case EXISTS:
        case SUM:
            work.push_back(e[1]);
            break;
        case ASSIGN:
        case ADD_ASSIGN:
        case SUBTRACT_ASSIGN:
        case DIVIDE_ASSIGN:
        case MODULO_ASSIGN:
        case MULTIPLY_ASSIGN:
        case AND_ASSIGN:
        case OR_ASSIGN:
        case XOR_ASSIGN:
        case SHIFT_LEFT_ASSIGN:
        case SHIFT_RIGHT_ASSIGN:
            work.push_back(e[0]);
            work.push_back(e[1]);
            addCells(e[1], reads);
            break;
        case ARRAY:
            work.push_back(e[0]);
            work.push_back(e[1]);
            addCells(e[1], reads);
            break;
        case POST_INCREMENT:
        case PRE_INCREMENT:
        case POST_DECREMENT:
        case PRE_DECREMENT:
            work.push_back(e[0]);
            addCells(e[0], reads);
            break;
        case LIST:
            for (size_t i = 0; i < e.getSize(); ++i) {
                work.push_back(e[i]);
                addCells(e[i], reads);
            }
            break;
        case DOT:
        case SYNC:
            work.push_back(e[0]);
            break;
        case INLINE_IF:
            work.push_back(e[0]);
            work.push_back(e[1]);
            work.push_back(e[2]);
            addCells(e[0], reads);
            break;
        case COMMA:
            work.push_back(e[0]);
            work.push_back(e[1]);
            break;
        case FUNCTION_CALL:
            for (size_t i = 1; i < e.getSize(); ++i) {
                work.push_back(e[i]);
                addCells(e[i], reads);
            }
            if (e[0].getKind() != DOT) {
                if (Symbol* function = resolveSymbol(e[0])) {
                    readsOfFunction(function, reads);
                }
            }
            break;
        case IDENTIFIER:
        case CONSTANT:
        case SPAWN:
        case EXIT:
        case NUMOF:
        case FORALL_DYNAMIC:
        case EXISTS_DYNAMIC:
        case SUM_DYNAMIC:
        case DYNAMIC_MEMBER:
            break;
        default:
            if (kind >= COS && kind <= FLOOR) {
                break;
            }
            std::cerr << e.toString() << std::endl;
            throw Bug(unsupported(kind));
        }
    }
}

void ExpressionAnalyser::readsOfFunction(Symbol* function, IndexSet& reads)
{
    auto* record = static_cast<function_t*>(function->data);
    if (record == nullptr || record->body == nullptr) {
        return;
    }
    base::RefPtr<ExpressionAnalyser> analyser(new ExpressionAnalyser(compiler));
    analyser->setCurrentSymbol(function);
    analyser->depth = depth;
    FunctionAnalyserRead visitor(analyser.get(), reads);
    record->body->accept(&visitor);
}

void FunctionAnalyserRead::visitExpression(expression_t expression)
{
    analyser->collectReads(expression, *reads);
}

void ExpressionAnalyser::collectWrites(const expression_t& expression, IndexSet& writes)
{
    std::vector<expression_t> work;
    if (!expression.empty()) {
        work.push_back(expression);
    }
    while (!work.empty()) {
        expression_t e = std::move(work.back());
        work.pop_back();
        if (e.empty()) {
            continue;
        }
        const node_kind_t kind = e.getKind();
        if ((kind >= ADD && kind <= SHIFT_RIGHT) || kind == MINIMUM || kind == MAXIMUM || kind == FRACTION ||
            (kind >= LESS && kind <= GREATER) || kind == ARRAY || kind == COMMA) {
            work.push_back(e[0]);
            work.push_back(e[1]);
            continue;
        }
        switch (kind) {
        case LOGICAL_AND:
        case LOGICAL_OR:
        case LOGICAL_XOR:
        case RATE:
        case LOGICAL_NOT:
        case UNARY_MINUS:
        case DOT:
        case SYNC:
            work.push_back(e[0]);
            break;
        case FOR_ALL:
        case EXISTS:
        case SUM:
            work.push_back(e[1]);
            break;
        case ASSIGN:
        case ADD_ASSIGN:
        case SUBTRACT_ASSIGN:
        case DIVIDE_ASSIGN:
        case MODULO_ASSIGN:
        case MULTIPLY_ASSIGN:
        case AND_ASSIGN:
        case OR_ASSIGN:
        case XOR_ASSIGN:
        case SHIFT_LEFT_ASSIGN:
        case SHIFT_RIGHT_ASSIGN:
        case POST_INCREMENT:
        case PRE_INCREMENT:
        case POST_DECREMENT:
        case PRE_DECREMENT: {
            work.push_back(e[0]);
            if (kind <= SHIFT_RIGHT_ASSIGN) {
                work.push_back(e[1]);
            }
            const Cell target = uniqueCell(e[0]);
            if (boost::get<0>(target) != nullptr) {
                expandCells(CellSet{target}, writes);
            }
            break;
        }
        case INLINE_IF: {
            work.push_back(e[0]);
            DepthGuard guard(depth, e);
            IndexSet thenWrites;
            IndexSet elseWrites;
            collectWrites(e[1], thenWrites);
            collectWrites(e[2], elseWrites);
            std::set_intersection(thenWrites.begin(), thenWrites.end(), elseWrites.begin(), elseWrites.end(),
                                  std::inserter(writes, writes.end()));
            break;
        }
        case IDENTIFIER:
        case CONSTANT:
        case FUNCTION_CALL:
        case SPAWN:
        case EXIT:
        case NUMOF:
        case FORALL_DYNAMIC:
        case EXISTS_DYNAMIC:
        case SUM_DYNAMIC:
        case DYNAMIC_MEMBER:
            break;
        default:
            if (kind >= COS && kind <= FLOOR) {
                break;
            }
            throw Bug(unsupported(kind));
        }
    }
}
