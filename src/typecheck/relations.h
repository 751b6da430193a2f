#pragma once

#include "language/expression.h"
#include "language/type.h"

namespace ZOLT {

// Tests on the type stored in a typed expression. Each looks through prefixes,
// ranges, labels and references (type_t::isKind); an expression without a type
// fails every test.
bool isCostTyped(const expression_t& e);
bool isProcessIdentifier(const expression_t& e);
bool isIntTyped(const expression_t& e);
bool isIntConstant(const expression_t& e);
bool isClockTyped(const expression_t& e);
bool isDiffTyped(const expression_t& e);
bool isVoidTyped(const expression_t& e);
bool isIntOrDoubleTyped(const expression_t& e);
// An integer or a truth value (0 or 1).
bool isIntOrBoolTyped(const expression_t& e);
bool isDoubleLike(const expression_t& e);
bool isIntegralTyped(const expression_t& e);
bool isNumeric(const expression_t& e);
bool isInvariantTyped(const expression_t& e);
bool isRateInvariantTyped(const expression_t& e);
bool isGuardTyped(const expression_t& e);
bool isConstraintTyped(const expression_t& e);
bool isFormulaTyped(const expression_t& e);
// The expression's type is of the given kind (looking through wrappers).
bool hasTypeKind(const expression_t& e, node_kind_t kind);

// Whether the expression designates a clock: a clock variable, an element or member that is
// one, or an inline if whose branches both designate clocks. A clock shifted by a number, a
// sum of clock values or an inline if with such a branch is a value computed from clocks,
// typed as a clock all the same.
bool designatesClock(const expression_t& e);

// Structural tests on expressions.
bool isProcessList(const expression_t& e);
bool hasDynamicMitlQuantifier(const expression_t& e);
// c < x or x > c somewhere in the tree, for an integral c and a clock x.
bool hasStrictClockLowerBound(const expression_t& e);
// x < c or c > x somewhere in the tree.
bool hasStrictClockUpperBound(const expression_t& e);

// Tests on declared types, by the node's own kind.
bool isValueType(const type_t& t);
// An int declared without a range: its range (the first met through prefixes, labels
// and references) is the default one the builders give it, from -32767 to 32767.
bool isUnboundedInt(const type_t& t);
bool isReturnableType(const type_t& t);

// 0 for an urgent channel, else 1 for a broadcast channel, else 2.
int channelRank(const type_t& t);

// Type relations. None of them reports anything.
bool typesEquivalent(const type_t& a, const type_t& b);
bool sameScalarset(const type_t& a, const type_t& b);
bool acceptsAssignment(const type_t& target, const type_t& source, bool initialiser);
bool branchTypesMatch(const type_t& a, const type_t& b);
bool comparableForEquality(const type_t& a, const type_t& b);
// The expression designates a variable that may be written.
bool isWritableLvalue(const expression_t& e);
bool argumentMatchesParameter(const type_t& parameter, const expression_t& argument);

} // namespace ZOLT
