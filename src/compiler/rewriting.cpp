#include "compiler/rewriting.h"

#include <optional>
#include <utility>
#include <vector>

#include "compiler/depth_guard.h"

using namespace ZOLT;

namespace {

// A clock constraint: a condition the zone has to decide.
bool isClockConstraint(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isGuard() && !type.isIntegral();
}

void addBoundTerm(ClockTerms& terms, const expression_t& e, bool positive, bool floating)
{
    // A bound that has met a floating-point term stays floating point.
    const bool isDouble = floating || (!terms.bound.empty() && terms.bound.getType().isKind(DOUBLE));
    const type_t type = type_t::createPrimitive(isDouble ? DOUBLE : INT);
    if (terms.bound.empty()) {
        terms.bound = positive ? expression_t::createUnary(UNARY_MINUS, e, span_t(), type_t::createPrimitive(floating ? DOUBLE : INT)) : e;
    } else {
        terms.bound = expression_t::createBinary(positive ? SUBTRACT : ADD, terms.bound, e, span_t(), type);
    }
}

} // namespace

void collectClockTerms(ClockTerms& terms, const expression_t& expression, bool positive)
{
    // Depth first, left operand first, without recursion: long sums keep their order.
    std::vector<std::pair<expression_t, bool>> work{{expression, positive}};
    while (!work.empty()) {
        auto [e, sign] = std::move(work.back());
        work.pop_back();
        const type_t type = e.getType();
        if (type.isIntegral()) {
            addBoundTerm(terms, e, sign, false);
        } else if (type.isKind(DOUBLE)) {
            addBoundTerm(terms, e, sign, true);
        } else if (e.getKind() == ADD) {
            work.emplace_back(e[1], sign);
            work.emplace_back(e[0], sign);
        } else if (e.getKind() == SUBTRACT) {
            work.emplace_back(e[1], !sign);
            work.emplace_back(e[0], sign);
        } else if (sign) {
            terms.first = e;
        } else {
            terms.second = e;
        }
    }
}

expression_t substituteConstant(const expression_t& expression, const binding_t& symbol, int32_t value)
{
    // A leaf is its own result (or the constant); a node with children is copied and its
    // children replaced by their results, bottom up, with an explicit stack.
    auto leaf = [&](const expression_t& e) -> std::optional<expression_t> {
        if (e.empty()) {
            return e;
        }
        if (e.getKind() == IDENTIFIER && e.getSymbol() == symbol) {
            return expression_t::createConstant(value, e.getPosition());
        }
        if (e.getSize() == 0) {
            return e;
        }
        return std::nullopt;
    };
    if (auto result = leaf(expression)) {
        return *result;
    }
    struct Frame
    {
        expression_t original;
        expression_t copy;
        size_t next;
    };
    std::vector<Frame> stack;
    stack.push_back({expression, expression.shallowCopy(), 0});
    for (;;) {
        Frame& top = stack.back();
        if (top.next < top.original.getSize()) {
            const expression_t child = top.original[top.next];
            if (auto result = leaf(child)) {
                top.copy[top.next] = *result;
                ++top.next;
            } else {
                stack.push_back({child, child.shallowCopy(), 0});
            }
            continue;
        }
        expression_t done = std::move(top.copy);
        stack.pop_back();
        if (stack.empty()) {
            return done;
        }
        Frame& parent = stack.back();
        parent.copy[parent.next] = std::move(done);
        ++parent.next;
    }
}

namespace {

expression_t joinClockParts(const expression_t& left, const expression_t& right)
{
    if (left.empty()) {
        return right;
    }
    if (right.empty()) {
        return left;
    }
    return expression_t::createBinary(LOGICAL_AND, left, right, span_t(), type_t::createPrimitive(CONSTRAINT));
}

expression_t extractClockGuard(const expression_t& guard, uint32_t& depth)
{
    if (guard.getKind() != LOGICAL_AND) {
        return isClockConstraint(guard) ? guard : expression_t();
    }
    DepthGuard level(depth, guard);
    const std::vector<expression_t> chain = leftChain(guard, [](node_kind_t k) { return k == LOGICAL_AND; });
    expression_t result = extractClockGuard(chain.back()[0], depth);
    for (size_t i = chain.size(); i-- > 0;) {
        result = joinClockParts(result, extractClockGuard(chain[i][1], depth));
    }
    return result;
}

} // namespace

expression_t extractClockGuard(const expression_t& guard)
{
    uint32_t depth = 0;
    return extractClockGuard(guard, depth);
}
