#pragma once
// Operations on a raw difference-bound matrix: dim x dim bounds in row-major
// order, entry [i][j] (at i * dim + j) bounding x_i - x_j, clock 0 the
// reference clock that is always 0. dim counts the reference clock, so dim 1
// is the matrix of no clock at all.
//
// Every operation works in place on caller-provided memory, allocates nothing
// and throws nothing. Operations that take a matrix expect it closed (every
// entry the tightest bound implied by the others, every diagonal entry (<= 0))
// and leave it closed unless stated otherwise. Clocks are never negative: in a
// closed matrix every [0][j] is at most (<= 0).
//
// Emptiness: an operation that finds the zone empty writes EMPTY_MARK (-1)
// into [0][0] and returns false; the matrix then means nothing but that mark.
//
// Clock bit arrays: bit k (bit k % 32 of word k / 32) stands for clock k; an
// array for a matrix of dimension dim has at least bitWords(dim) words.
// Indices and dimensions are not validated: callers pass indices below dim.
// Dimensions are below MAX_DIM.

#include <cstddef>
#include <cstdint>

#include "dbm/bound.h"

namespace dbm {

// Matrices of this dimension and above are not supported (temporary clock bit
// sets live in fixed stack buffers sized for it, and findNotFreeAllDown packs
// a column into 16 bits).
inline constexpr uint32_t MAX_DIM = 0x10000;

inline constexpr uint32_t bitWords(uint32_t dim) { return (dim + 31) / 32; }

// ---- Construction and tests of form ------------------------------------

// The unconstrained zone of non-negative clocks: row 0 all (<= 0), other
// off-diagonal entries BOUND_INFINITY, diagonal (<= 0).
void init(bound_t* dbm, uint32_t dim);
// The same zone under the name the state storage uses.
inline void makeUniversal(bound_t* dbm, uint32_t dim) { init(dbm, dim); }
// True when the matrix equals what init writes.
bool isInit(const bound_t* dbm, uint32_t dim);

// True when [i][k] <= [i][j] + [j][k] for every i, j, k with [i][j] and [j][k] finite.
bool isClosed(const bound_t* dbm, uint32_t dim);
// True when some diagonal entry is below (<= 0); the empty mark makes it true.
bool isEmpty(const bound_t* dbm, uint32_t dim);
// Closed, every diagonal entry at least (<= 0), every [0][j] at most (<= 0).
bool isValid(const bound_t* dbm, uint32_t dim);
// Every diagonal entry at most (<= 0).
bool isDiagonalAtMostZero(const bound_t* dbm, uint32_t dim);

// ---- Closure ------------------------------------------------------------

// Full closure (Floyd-Warshall, pivot outermost). False and the empty mark when empty.
bool close(bound_t* dbm, uint32_t dim);
// Incremental closure after [i][j] alone was tightened (the contradiction with
// [j][i] already tested by the caller). O(dim^2); no emptiness test.
void closeEntry(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j);
// closeEntry only when dim > 2 (with two or fewer clocks one tightening needs no closure).
void closeEntryIfNeeded(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j);
// Closure through the marked clocks as pivots, for a matrix whose non-closed
// entries all lie in rows and columns of marked clocks. False on emptiness,
// without writing the empty mark.
bool closeMarked(bound_t* dbm, uint32_t dim, const uint32_t* clockBits);
// Closure through pivot k only. False and the empty mark on emptiness.
bool closeThroughClock(bound_t* dbm, uint32_t dim, uint32_t k);
// Closure after an extrapolation: through every pivot k whose lower or upper
// constant is not MINUS_INF_VALUE. No emptiness test.
void closeThroughActive(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper);

// ---- Constraining and intersecting ---------------------------------------

// Tightens [i][j] to b (nothing when b is not tighter). True when non-empty.
bool constrain(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j, bound_t b);
// Applies every constraint, then closes once (incrementally for a single
// change, through the touched clocks for several). True when non-empty.
bool constrainAll(bound_t* dbm, uint32_t dim, const clock_constraint_t* constraints, size_t n);
// As constrainAll with each constraint's i and j replaced by table[i] and table[j].
bool constrainAllMapped(bound_t* dbm, uint32_t dim, const uint32_t* table,
                        const clock_constraint_t* constraints, size_t n);
// Sets [i][j] to b when b is tighter and marks clocks i and j; does not close.
// False on contradiction with [j][i] (no empty mark written).
bool constrainMarked(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j, bound_t b, uint32_t* clockBits);
// x == v: tightens [x][0] to (<= v) and [0][x] to (<= -v) and closes through
// clocks 0 and x. On contradiction writes -1 into [0][0] and [x][x]; false when empty.
bool constrainClock(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v);

// first := first intersected with second (same dimension). True when non-empty.
bool intersect(bound_t* first, uint32_t dim, const bound_t* second);
// destination := a and b with every bound made non-strict, intersected. True when non-empty.
bool intersectWeak(bound_t* destination, uint32_t dim, const bound_t* a, const bound_t* b);
// True when the two zones may share a point: the quick test, which compares each bound of
// one with the opposite bound of the other. It is exact up to two clocks; with three or
// more it can answer true for zones that do not meet (a contradiction that needs bounds
// of both), so it serves as a filter. False is always exact.
bool intersects(const bound_t* first, uint32_t dim, const bound_t* second);
// True when the two zones share a point, decided exactly: the quick test, then, from
// three clocks on, the closure of the two intersected in scratch memory on the stack.
// For callers whose answer decides a result.
bool intersectsExactly(const bound_t* first, uint32_t dim, const bound_t* second);

// ---- Comparison ---------------------------------------------------------

// DIFFERENT, SUPERSET (first includes second), SUBSET or EQUAL.
relation_t relation(const bound_t* first, uint32_t dim, const bound_t* second);
// True when the first zone is included in the second.
bool isSubsetEq(const bound_t* first, uint32_t dim, const bound_t* second);
// first := the smallest zone containing both (entry-wise maximum).
void convexUnion(bound_t* first, uint32_t dim, const bound_t* second);

// ---- Delay and past -----------------------------------------------------

// True when the origin lies in the zone (every [0][j] is (<= 0)); dim < 2: true.
bool hasZero(const bound_t* dbm, uint32_t dim);
// True when no clock has an upper bound; dim < 2: true.
bool isUnbounded(const bound_t* dbm, uint32_t dim);
// Delay: every upper bound [i][0] is removed.
void up(bound_t* dbm, uint32_t dim);
// Delay in which the clocks whose bit is set do not advance.
void upStopped(bound_t* dbm, uint32_t dim, const uint32_t* stoppedBits);
// Past: lower bounds of clocks firstClock..dim-1 relaxed as far as the other clocks allow.
void down(bound_t* dbm, uint32_t dim, uint32_t firstClock = 1);
// Past in which the clocks whose bit is set do not move.
void downStopped(bound_t* dbm, uint32_t dim, const uint32_t* stoppedBits);

// ---- Updates ------------------------------------------------------------

// x := v
void updateValue(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v);
// x := y (nothing when x = y)
void updateClock(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y);
// x := x + v (nothing when v = 0)
void updateIncrement(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v);
// x := y + v
void updateClockPlus(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y, int32_t v);

// ---- Freeing ------------------------------------------------------------

// Removes every constraint on x except x >= 0.
void freeClock(bound_t* dbm, uint32_t dim, uint32_t x);
// Removes the upper bounds of x: [x][j] := BOUND_INFINITY for every j other than x.
void freeUp(bound_t* dbm, uint32_t dim, uint32_t x);
// Removes every upper bound: rows 1..dim-1 become BOUND_INFINITY off the diagonal.
void freeAllUp(bound_t* dbm, uint32_t dim);
// True when [0][0] is (<= 0) and rows 1..dim-1 already are as freeAllUp leaves them.
bool isFreeAllUp(const bound_t* dbm, uint32_t dim);
// Removes the lower bounds of x: [i][x] := [i][0] for every i other than x.
void freeDown(bound_t* dbm, uint32_t dim, uint32_t x);
// Removes every lower bound: [i][j] := [i][0] for every i and every j >= 1 other than i.
void freeAllDown(bound_t* dbm, uint32_t dim);
// The first position (row-major) that freeAllDown would change, as i + (j << 16);
// 0 when it would change nothing.
uint32_t findNotFreeAllDown(const bound_t* dbm, uint32_t dim);

// ---- Strictness ---------------------------------------------------------

// Every strict finite bound becomes non-strict.
void relaxAll(bound_t* dbm, uint32_t dim);
// Relaxes the strict bounds of row k (the upper side of clock k) where no
// other strict bound forces the strictness.
void relaxRow(bound_t* dbm, uint32_t dim, uint32_t k);
// The mirror of relaxRow on column k (the lower side of clock k).
void relaxColumn(bound_t* dbm, uint32_t dim, uint32_t k);
// Every non-strict lower bound [0][j] becomes strict; false and the empty mark when empty.
bool makeLowerBoundsStrict(bound_t* dbm, uint32_t dim);
// Every non-strict upper bound [j][0] becomes strict; false and the empty mark when empty.
bool makeUpperBoundsStrict(bound_t* dbm, uint32_t dim);

// ---- Points -------------------------------------------------------------

// True when every bound admits the integer valuation (dim values, [0] for the reference clock).
bool isPointIncluded(const bound_t* dbm, uint32_t dim, const int32_t* point);
// The same for real clock values: a point must lie more than 1e-14 inside a
// strict bound and may lie up to 1e-14 beyond a non-strict one.
bool isRealPointIncluded(const bound_t* dbm, uint32_t dim, const double* point);

// ---- Changing the clock set ---------------------------------------------

// Exchanges clocks x and y (columns, then rows).
void swapClocks(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y);

// Numbers the clocks of a new clock set. Walking positions p in increasing
// order over nWords words: for each p in newBits, positionTable[p] := its new
// index i and newToOld[i] := the rank of p in oldBits, or -1 when p is not in
// oldBits. Entries for positions outside newBits are not written, so
// positionTable needs nWords * 32 entries and newToOld one per new clock.
// Returns the new dimension (the number of bits in newBits).
uint32_t mapClocks(const uint32_t* oldBits, const uint32_t* newBits, uint32_t nWords,
                   uint32_t* positionTable, int32_t* newToOld);
// Fills destination (newDim x newDim) from source (oldDim x oldDim): clock i
// of the destination is source clock newToOld[i], or a new unconstrained,
// non-negative clock when newToOld[i] is negative (newToOld[0] is not read:
// the reference clock maps to itself). Closed when the source was.
// newToOld may be stored in the last row of destination.
void copyMapped(bound_t* destination, uint32_t newDim, const bound_t* source, uint32_t oldDim,
                const int32_t* newToOld);
// Writes into destination the matrix of the new clock set (bits over clock
// positions, bit 0 set in both): kept clocks keep their bounds, dropped ones
// vanish, new ones are unconstrained and non-negative. positionTable receives
// the new index of every position in newBits. Returns the new dimension.
uint32_t changeClocks(const bound_t* source, uint32_t dim, bound_t* destination, const uint32_t* oldBits,
                      const uint32_t* newBits, uint32_t nWords, uint32_t* positionTable);

}  // namespace dbm
