#pragma once

// How deep the expression and type trees of a model may be.
//
// Every walk over these trees (typing, printing, collecting the symbols an expression
// reads or writes, compiling it) recurses once per level of nesting. The front end
// therefore refuses a tree nested deeper than maxNestingDepth where it is built, with an
// error at the position of the construct, so that no walk over a model's trees needs
// more stack than this many of its frames. A walk over trees made elsewhere checks
// exceedsNestingDepth first and reports the same kind of positioned error.
//
// Lists are not nesting. Operands joined by ',' and chains of '&&' or '||' are built
// as left-deep binary trees, so an update of a hundred thousand assignments is a tree
// that deep. Such a list counts as one level however long it is: a node whose left
// operand is a node of the same list kind (its spine) adds no level. Every walk goes
// along the spine of a list in a loop (listSpine) and recurses only into its operands,
// which are nested no deeper than the limit allows.

#include <cstdint>
#include <vector>

#include "language/expression.h"
#include "language/node_kind.h"

namespace ZOLT {

// Levels of nesting from the root to the deepest leaf, the root included (a list's
// spine counting as one level).
inline constexpr uint32_t maxNestingDepth = 1000;

// The message keys of the refusal.
inline constexpr const char* expressionTooDeepMessage = "$Expression_is_nested_too_deeply";
inline constexpr const char* typeTooDeepMessage = "$Type_is_nested_too_deeply";

// True when the tree has more than maxNestingDepth levels. Constant time once the
// depths of the tree's nodes are known; they are computed once, without recursion.
bool exceedsNestingDepth(const expression_t& expression);
bool exceedsNestingDepth(const type_t& type);

// The kinds whose binary nodes form lists: COMMA, LOGICAL_AND and LOGICAL_OR.
bool isListKind(node_kind_t kind);

// Whether the node's left operand is a further node of the same list, so that a walk
// goes on along the spine instead of recursing into it.
bool continuesList(const expression_t& node);

// The nodes of the list that `expression` heads, outermost first: `expression` and then
// each left operand as long as it continues the list. Just `expression` when its left
// operand does not continue it (or it is no list at all). The last node's left operand
// is the first operand of the list; the right operands of the nodes from the last to
// the first are the others, in order.
std::vector<expression_t> listSpine(const expression_t& expression);

// The operands of the list that a node of a list kind heads, in order: its first
// operand, then the right operand of each node of the spine from the innermost out.
std::vector<expression_t> listOperands(const expression_t& list);

// Whether `test` holds for some node of the tree under `expression` (empty nodes
// skipped), tried from the root down, left to right. The walk keeps its own stack, so
// that no tree is too deep for it.
template <typename Test>
bool anySubexpression(const expression_t& expression, Test test)
{
    std::vector<expression_t> work{expression};
    while (!work.empty()) {
        expression_t x = std::move(work.back());
        work.pop_back();
        if (x.empty()) {
            continue;
        }
        if (test(x)) {
            return true;
        }
        for (size_t i = x.getSize(); i-- > 0;) {
            work.push_back(x[i]);
        }
    }
    return false;
}

} // namespace ZOLT
