#pragma once

// How deep the expression and type trees of a model may be.
//
// Every walk over these trees (typing, printing, collecting the symbols an expression
// reads or writes, compiling it) recurses once per level, and the parser accepts long
// left-nested chains (a && b && c ..., 1 + 1 + ...) of any length. The front end
// therefore refuses a tree deeper than maxNestingDepth where it is built, with an
// error at the position of the construct, so that no walk over a model's trees needs
// more stack than this many of its frames. A walk over trees made elsewhere checks
// exceedsNestingDepth first and reports the same kind of positioned error.

#include <cstdint>

namespace ZOLT {

class expression_t;
class type_t;

// Levels of nodes from the root to the deepest leaf, the root included.
inline constexpr uint32_t maxNestingDepth = 1000;

// The message keys of the refusal.
inline constexpr const char* expressionTooDeepMessage = "$Expression_is_nested_too_deeply";
inline constexpr const char* typeTooDeepMessage = "$Type_is_nested_too_deeply";

// True when the tree has more than maxNestingDepth levels. Constant time once the
// depths of the tree's nodes are known; they are computed once, without recursion.
bool exceedsNestingDepth(const expression_t& expression);
bool exceedsNestingDepth(const type_t& type);

} // namespace ZOLT
