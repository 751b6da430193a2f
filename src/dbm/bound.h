#pragma once
// Bounds on clock differences and the small vocabulary shared by every layer of
// the zone library.
//
// A bound is a signed 32-bit word: (value << 1) | 1 for "<= value" and
// (value << 1) for "< value". A smaller word is a tighter constraint, so the
// minimum and maximum of bounds are plain integer minimum and maximum, and at
// equal value the strict bound (even) is tighter than the non-strict one (odd).
//
// Arithmetic on the words wraps around in 32 bits (the helpers of
// support/arith.h), so it is always defined. Finite bounds whose values stay
// well inside +-2^29 (all bounds a model can produce) never wrap in a sum.

#include <compare>
#include <cstdint>

#include "support/arith.h"

namespace dbm {

using bound_t = int32_t;

// Values (not bounds).
inline constexpr int32_t INF_VALUE = 0x3fffffff;         // largest value a bound may carry
inline constexpr int32_t MINUS_INF_VALUE = -0x3fffffff;  // smallest value; "never compared" as a constant

// Bounds (raw words).
inline constexpr bound_t BOUND_INFINITY = 0x7ffffffe;    // (< infinity): no constraint
inline constexpr bound_t MAX_FINITE_BOUND = 0x7ffffffd;  // every finite bound is at most this
inline constexpr bound_t BOUND_LE_ZERO = 1;              // (<= 0): diagonal, lower bound of a clock
inline constexpr bound_t BOUND_LT_ZERO = 0;              // (< 0)
inline constexpr bound_t EMPTY_MARK = -1;                // written into [0][0] of an empty matrix

// Strictness flags as stored in the low bit.
inline constexpr int32_t STRICT = 0;
inline constexpr int32_t WEAK = 1;

inline constexpr bound_t boundFromValue(int32_t value, int32_t strictness)
{
    return base::shlWrap(value, 1) | (strictness & 1);
}
// (<= value)
inline constexpr bound_t boundLE(int32_t value) { return boundFromValue(value, WEAK); }
// (< value)
inline constexpr bound_t boundLT(int32_t value) { return boundFromValue(value, STRICT); }

inline constexpr int32_t boundValue(bound_t b) { return b >> 1; }  // arithmetic shift
inline constexpr int32_t boundStrictness(bound_t b) { return b & 1; }
inline constexpr bool isStrict(bound_t b) { return (b & 1) == 0; }
inline constexpr bool isWeak(bound_t b) { return (b & 1) != 0; }
inline constexpr bool isFinite(bound_t b) { return b <= MAX_FINITE_BOUND; }
inline constexpr bool isInfinite(bound_t b) { return b > MAX_FINITE_BOUND; }

// The bound on a path through two finite bounds: non-strict only when both are.
inline constexpr bound_t addFinite(bound_t a, bound_t b)
{
    return base::subWrap(base::addWrap(a, b), (a | b) & 1);
}
// The same, with an infinite operand giving infinity.
inline constexpr bound_t addBounds(bound_t a, bound_t b)
{
    return (isInfinite(a) || isInfinite(b)) ? BOUND_INFINITY : addFinite(a, b);
}
// The complement of a bound seen from the reverse difference: (<= v) -> (< -v), (< v) -> (<= -v).
inline constexpr bound_t negateBound(bound_t b)
{
    return base::subWrap(1, b);
}
inline constexpr bound_t weakenBound(bound_t b) { return b | 1; }
inline constexpr bound_t strengthenBound(bound_t b) { return b & ~1; }
// Adds 2v to a finite bound (a shift of the constant by v, strictness kept).
inline constexpr bound_t shiftBound(bound_t b, int32_t v)
{
    return base::addWrap(b, base::shlWrap(v, 1));
}

// One bound on a clock difference: x_i - x_j bounded by `bound`.
struct clock_constraint_t
{
    uint32_t i;
    uint32_t j;
    bound_t bound;

    friend bool operator==(const clock_constraint_t&, const clock_constraint_t&) = default;
    // Ordered by i, then j, then the raw bound (signed), as sets of difference constraints keep them.
    friend auto operator<=>(const clock_constraint_t&, const clock_constraint_t&) = default;
};

// Results of comparing two zones (matrices, zones, federations, stored zones).
enum relation_t : int32_t {
    DIFFERENT = 0,
    SUPERSET = 1,  // the first includes the second
    SUBSET = 2,    // the first is included in the second
    EQUAL = 3
};

// "Different", "Superset", "Subset", "Equal" for 0 to 3, "Error" otherwise.
const char* relationName(uint32_t code);

}  // namespace dbm
