#pragma once
// Extrapolations of one closed, non-empty matrix: bounds beyond the largest
// constants the model compares each clock with are replaced by weaker ones, so
// that exploration meets finitely many zones. None of them makes a zone
// smaller or empties it; all do nothing when dim < 2.
//
// Constants are per-clock arrays of dim plain values (not bounds) indexed by
// clock, entry 0 for the reference clock (0). MINUS_INF_VALUE marks a clock
// that is never compared (all its bounds may go); INF_VALUE a clock all of
// whose bounds matter.

#include <cstdint>

#include "dbm/bound.h"

namespace dbm {

// Extrapolation by the maximal constant M[k] of each clock.
void extrapolateMaxBounds(bound_t* dbm, uint32_t dim, const int32_t* max);
// As extrapolateMaxBounds, and every bound of a clock already above its
// constant is dropped, its difference bounds included.
void extrapolateMaxBoundsDiagonal(bound_t* dbm, uint32_t dim, const int32_t* max);
// Extrapolation by lower-bound constants L (dropping) and upper-bound constants U (raising).
void extrapolateLUBounds(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper);
// The lower/upper-bounds variant that also drops the difference bounds of clocks above their constants.
void extrapolateLUBoundsDiagonal(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper);

}  // namespace dbm
