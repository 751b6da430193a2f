#pragma once

#include <cstdint>
#include <vector>

#include "language/expression.h"
#include "language/nesting.h"
#include "runtime/exceptions.h"

// The compiler's recursive walks over expression trees keep their nesting below this
// bound. The parser refuses deeper trees already (language/nesting.h); trees made
// elsewhere may be deeper. Long left-leaning chains of binary operators (a && b && ... or
// 1 + 1 + ...) are walked without recursion; anything else nested deeper than this is
// refused with a positioned error instead of exhausting the stack.
inline constexpr uint32_t maxExpressionDepth = 1500;

// Counts one level of a recursive walk for as long as it lives.
class DepthGuard
{
public:
    DepthGuard(uint32_t& depth, const ZOLT::expression_t& expression) : depth(depth)
    {
        if (++depth > maxExpressionDepth) {
            --depth;
            throw CompileError(ZOLT::expressionTooDeepMessage, expression.getPosition());
        }
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() { --depth; }

private:
    uint32_t& depth;
};

// The nodes met going down child 0 from `expression` while `inChain` holds for their
// kind, outermost first. The caller handles the last node's child 0 and then the nodes
// from the back of the list to its front.
template <typename Predicate>
std::vector<ZOLT::expression_t> leftChain(const ZOLT::expression_t& expression, Predicate inChain)
{
    std::vector<ZOLT::expression_t> chain;
    ZOLT::expression_t node = expression;
    while (!node.empty() && inChain(node.getKind()) && node.getSize() > 0) {
        chain.push_back(node);
        node = node[0];
    }
    return chain;
}
