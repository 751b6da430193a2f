#include "dbm/dbm.h"

#include "dbm/kernel_table.h"

#include <algorithm>
#include <alloca.h>
#include <cstring>

namespace dbm {

namespace {

// Clock bit sets built inside an operation live in a buffer of this many words
// on the stack; only the first bitWords(dim) words are cleared and used.
constexpr uint32_t MAX_BIT_WORDS = bitWords(MAX_DIM);

inline bool testBit(const uint32_t* bits, uint32_t k) { return ((bits[k >> 5] >> (k & 31)) & 1u) != 0; }
inline void setBit(uint32_t* bits, uint32_t k) { bits[k >> 5] |= 1u << (k & 31); }

inline bound_t& at(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j) { return dbm[i * dim + j]; }
inline bound_t at(const bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j) { return dbm[i * dim + j]; }

inline bool markEmpty(bound_t* dbm)
{
    dbm[0] = EMPTY_MARK;
    return false;
}

// rowI[j] := min(rowI[j], ik + rowK[j]) over every finite rowK[j]: the relaxation
// of one row through one pivot. The rows are distinct and ik is finite.
inline void relaxThrough(bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t dim)
{
    kernels::active().relaxRow(rowI, rowK, ik, dim);
}

// Relaxes every row through pivot k; false at the first row whose diagonal
// entry drops below (<= 0).
inline bool closeThroughPivot(bound_t* dbm, uint32_t dim, uint32_t k)
{
    const bound_t* rowK = dbm + k * dim;
    for (uint32_t i = 0; i < dim; ++i) {
        if (i == k) continue;
        bound_t* rowI = dbm + i * dim;
        const bound_t ik = rowI[k];
        if (isFinite(ik)) relaxThrough(rowI, rowK, ik, dim);
        if (rowI[i] <= BOUND_LT_ZERO) return false;
    }
    return true;
}

// Closure after `count` tightened entries whose clocks are marked in `bits`;
// `lastI`, `lastJ` is the tightened entry when there was exactly one.
inline bool closeAfterChanges(bound_t* dbm, uint32_t dim, const uint32_t* bits, uint32_t count, uint32_t lastI,
                              uint32_t lastJ)
{
    if (count == 1) {
        closeEntryIfNeeded(dbm, dim, lastI, lastJ);
        return true;
    }
    if (count > 1 && !closeMarked(dbm, dim, bits)) return markEmpty(dbm);
    return true;
}

}  // namespace

const char* relationName(uint32_t code)
{
    switch (code) {
    case DIFFERENT: return "Different";
    case SUPERSET: return "Superset";
    case SUBSET: return "Subset";
    case EQUAL: return "Equal";
    default: return "Error";
    }
}

// ---- Construction and tests of form ------------------------------------

void init(bound_t* dbm, uint32_t dim)
{
    const kernels::KernelTable& k = kernels::active();
    k.fill(dbm, BOUND_LE_ZERO, dim);
    if (dim < 2) return;
    k.fill(dbm + dim, BOUND_INFINITY, dim * (dim - 1));
    for (uint32_t i = 1; i < dim; ++i) dbm[i * dim + i] = BOUND_LE_ZERO;
}

bool isInit(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t j = 0; j < dim; ++j)
        if (dbm[j] != BOUND_LE_ZERO) return false;
    for (uint32_t i = 1; i < dim; ++i) {
        const bound_t* row = dbm + i * dim;
        for (uint32_t j = 0; j < dim; ++j)
            if (row[j] != (i == j ? BOUND_LE_ZERO : BOUND_INFINITY)) return false;
    }
    return true;
}

bool isClosed(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t k = 0; k < dim; ++k)
        for (uint32_t i = 0; i < dim; ++i) {
            const bound_t ik = at(dbm, dim, i, k);
            if (isInfinite(ik)) continue;
            for (uint32_t j = 0; j < dim; ++j) {
                const bound_t kj = at(dbm, dim, k, j);
                if (isFinite(kj) && addFinite(ik, kj) < at(dbm, dim, i, j)) return false;
            }
        }
    return true;
}

bool isEmpty(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 0; i < dim; ++i)
        if (at(dbm, dim, i, i) < BOUND_LE_ZERO) return true;
    return false;
}

bool isDiagonalAtMostZero(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 0; i < dim; ++i)
        if (at(dbm, dim, i, i) > BOUND_LE_ZERO) return false;
    return true;
}

bool isValid(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 0; i < dim; ++i)
        if (at(dbm, dim, i, i) < BOUND_LE_ZERO) return false;
    for (uint32_t j = 1; j < dim; ++j)
        if (dbm[j] > BOUND_LE_ZERO) return false;
    return isClosed(dbm, dim);
}

// ---- Closure ------------------------------------------------------------

bool close(bound_t* dbm, uint32_t dim)
{
    return kernels::active().closePivots(dbm, dim, nullptr, true) || markEmpty(dbm);
}

void closeEntry(bound_t* dbm, uint32_t dim, uint32_t b, uint32_t c)
{
    const bound_t d = at(dbm, dim, b, c);
    const bound_t* rowC = dbm + c * dim;
    // Paths that start with the new bound: row b.
    relaxThrough(dbm + b * dim, rowC, d, dim);
    // Paths i -> b -> c -> j.
    for (uint32_t i = 0; i < dim; ++i) {
        if (i == c) continue;  // [c][b] + d is never below [c][c] in a non-empty zone
        bound_t* rowI = dbm + i * dim;
        const bound_t ib = rowI[b];
        if (isInfinite(ib)) continue;
        const bound_t e = addFinite(ib, d);
        if (e < rowI[c]) {
            rowI[c] = e;
            relaxThrough(rowI, rowC, e, dim);
        }
    }
}

void closeEntryIfNeeded(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j)
{
    if (dim > 2) closeEntry(dbm, dim, i, j);
}

bool closeMarked(bound_t* dbm, uint32_t dim, const uint32_t* clockBits)
{
    return kernels::active().closePivots(dbm, dim, clockBits, true);
}

bool closeThroughClock(bound_t* dbm, uint32_t dim, uint32_t k)
{
    return closeThroughPivot(dbm, dim, k) || markEmpty(dbm);
}

void closeThroughActive(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    uint32_t bits[MAX_BIT_WORDS];
    std::memset(bits, 0, bitWords(dim) * sizeof(uint32_t));
    for (uint32_t k = 0; k < dim; ++k)
        if (lower[k] != MINUS_INF_VALUE || upper[k] != MINUS_INF_VALUE) setBit(bits, k);
    kernels::active().closePivots(dbm, dim, bits, false);
}

// ---- Constraining and intersecting ---------------------------------------

bool constrain(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j, bound_t b)
{
    bound_t& ij = at(dbm, dim, i, j);
    if (b >= ij) return true;
    ij = b;
    if (negateBound(b) >= at(dbm, dim, j, i)) return markEmpty(dbm);
    closeEntryIfNeeded(dbm, dim, i, j);
    return true;
}

namespace {

template <typename MapIndex>
bool constrainAllImpl(bound_t* dbm, uint32_t dim, const clock_constraint_t* constraints, size_t n, MapIndex map)
{
    uint32_t bits[MAX_BIT_WORDS];
    std::memset(bits, 0, bitWords(dim) * sizeof(uint32_t));
    uint32_t count = 0, lastI = 0, lastJ = 0;
    for (size_t c = 0; c < n; ++c) {
        const uint32_t i = map(constraints[c].i), j = map(constraints[c].j);
        const bound_t b = constraints[c].bound;
        bound_t& ij = at(dbm, dim, i, j);
        if (b >= ij) continue;
        ij = b;
        if (negateBound(b) >= at(dbm, dim, j, i)) return markEmpty(dbm);
        setBit(bits, i);
        setBit(bits, j);
        ++count;
        lastI = i;
        lastJ = j;
    }
    return closeAfterChanges(dbm, dim, bits, count, lastI, lastJ);
}

}  // namespace

bool constrainAll(bound_t* dbm, uint32_t dim, const clock_constraint_t* constraints, size_t n)
{
    return constrainAllImpl(dbm, dim, constraints, n, [](uint32_t k) { return k; });
}

bool constrainAllMapped(bound_t* dbm, uint32_t dim, const uint32_t* table, const clock_constraint_t* constraints,
                        size_t n)
{
    return constrainAllImpl(dbm, dim, constraints, n, [table](uint32_t k) { return table[k]; });
}

bool constrainMarked(bound_t* dbm, uint32_t dim, uint32_t i, uint32_t j, bound_t b, uint32_t* clockBits)
{
    bound_t& ij = at(dbm, dim, i, j);
    if (b >= ij) return true;
    ij = b;
    setBit(clockBits, i);
    setBit(clockBits, j);
    return negateBound(b) < at(dbm, dim, j, i);
}

bool constrainClock(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v)
{
    const bound_t upper = boundLE(v);
    const bound_t lower = boundLE(base::negWrap(v));
    bound_t& x0 = at(dbm, dim, x, 0);
    bound_t& zx = at(dbm, dim, 0, x);
    bool contradiction = false;
    if (upper < x0) {
        x0 = upper;
        contradiction = negateBound(upper) >= zx;
    }
    if (!contradiction && lower < zx) {
        zx = lower;
        contradiction = negateBound(lower) >= x0;
    }
    if (contradiction) {
        dbm[0] = EMPTY_MARK;
        at(dbm, dim, x, x) = EMPTY_MARK;
        return false;
    }
    return closeThroughClock(dbm, dim, 0) && closeThroughClock(dbm, dim, x);
}

bool intersect(bound_t* first, uint32_t dim, const bound_t* second)
{
    if (dim <= 1) return true;
    uint32_t bits[MAX_BIT_WORDS];
    std::memset(bits, 0, bitWords(dim) * sizeof(uint32_t));
    uint32_t count = 0, lastI = 0, lastJ = 0;
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j) {
            const bound_t b = at(second, dim, i, j);
            bound_t& ij = at(first, dim, i, j);
            if (b >= ij) continue;
            ij = b;
            if (negateBound(b) >= at(first, dim, j, i)) return markEmpty(first);
            setBit(bits, i);
            setBit(bits, j);
            ++count;
            lastI = i;
            lastJ = j;
        }
    return closeAfterChanges(first, dim, bits, count, lastI, lastJ);
}

bool intersectWeak(bound_t* destination, uint32_t dim, const bound_t* a, const bound_t* b)
{
    uint32_t bits[MAX_BIT_WORDS];
    std::memset(bits, 0, bitWords(dim) * sizeof(uint32_t));
    uint32_t count = 0, lastI = 0, lastJ = 0;
    const auto weak = [](bound_t x) { return isFinite(x) ? weakenBound(x) : x; };
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j) {
            bound_t& d = at(destination, dim, i, j);
            d = weak(at(a, dim, i, j));
            const bound_t bij = weak(at(b, dim, i, j));
            if (bij >= d) continue;
            d = bij;
            if (weak(at(a, dim, j, i)) <= negateBound(bij)) return markEmpty(destination);
            setBit(bits, i);
            setBit(bits, j);
            ++count;
            lastI = i;
            lastJ = j;
        }
    return closeAfterChanges(destination, dim, bits, count, lastI, lastJ);
}

bool intersects(const bound_t* first, uint32_t dim, const bound_t* second)
{
    for (uint32_t i = 1; i < dim; ++i)
        for (uint32_t j = 0; j < i; ++j) {
            const bound_t f = at(first, dim, i, j), s = at(second, dim, i, j);
            if (isFinite(f) && negateBound(f) >= at(second, dim, j, i)) return false;
            if (isFinite(s) && negateBound(s) >= at(first, dim, j, i)) return false;
        }
    return true;
}

bool intersectsExactly(const bound_t* first, uint32_t dim, const bound_t* second)
{
    if (!intersects(first, dim, second)) return false;
    // Up to two clocks a pair of opposite bounds is all a contradiction can involve.
    if (dim <= 3) return true;
    bound_t* scratch = static_cast<bound_t*>(alloca(sizeof(bound_t) * dim * dim));
    std::memcpy(scratch, first, sizeof(bound_t) * dim * dim);
    return intersect(scratch, dim, second);
}

// ---- Comparison ---------------------------------------------------------

relation_t relation(const bound_t* first, uint32_t dim, const bound_t* second)
{
    if (dim < 2 || first == second) return EQUAL;
    // The first and the last diagonal entries are always (<= 0) and are skipped.
    return kernels::active().relation(first + 1, second + 1, dim * dim - 2);
}

bool isSubsetEq(const bound_t* first, uint32_t dim, const bound_t* second)
{
    if (dim < 2 || first == second) return true;
    return kernels::active().isLessEqual(first + 1, second + 1, dim * dim - 2);
}

void convexUnion(bound_t* first, uint32_t dim, const bound_t* second)
{
    if (dim < 2) return;
    kernels::active().maxInto(first + 1, second + 1, dim * dim - 2);
}

// ---- Delay and past -----------------------------------------------------

bool hasZero(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t j = 1; j < dim; ++j)
        if (dbm[j] <= BOUND_LT_ZERO) return false;
    return true;
}

bool isUnbounded(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 1; i < dim; ++i)
        if (at(dbm, dim, i, 0) != BOUND_INFINITY) return false;
    return true;
}

void up(bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 1; i < dim; ++i) at(dbm, dim, i, 0) = BOUND_INFINITY;
}

void upStopped(bound_t* dbm, uint32_t dim, const uint32_t* stoppedBits)
{
    for (uint32_t i = 1; i < dim; ++i) {
        if (!testBit(stoppedBits, i)) {
            at(dbm, dim, i, 0) = BOUND_INFINITY;
            continue;
        }
        for (uint32_t k = 1; k < dim; ++k)
            if (k != i && !testBit(stoppedBits, k)) at(dbm, dim, k, i) = BOUND_INFINITY;
    }
}

void down(bound_t* dbm, uint32_t dim, uint32_t firstClock)
{
    for (uint32_t i = firstClock; i < dim; ++i) {
        bound_t& lower = dbm[i];
        if (lower > BOUND_LT_ZERO) continue;  // already (<= 0): nothing to relax
        lower = BOUND_LE_ZERO;
        for (uint32_t j = 1; j < dim; ++j) {
            const bound_t ji = at(dbm, dim, j, i);
            if (ji < lower && isFinite(dbm[j])) lower = ji;
        }
    }
}

void downStopped(bound_t* dbm, uint32_t dim, const uint32_t* stoppedBits)
{
    for (uint32_t i = 1; i < dim; ++i)
        if (!testBit(stoppedBits, i) && dbm[i] <= BOUND_LT_ZERO) dbm[i] = BOUND_LE_ZERO;
    for (uint32_t j = 1; j < dim; ++j) {
        if (testBit(stoppedBits, j)) continue;
        bound_t& lower = dbm[j];
        for (uint32_t k = 1; k < dim; ++k) {
            if (testBit(stoppedBits, k)) continue;
            lower = std::min(lower, addBounds(dbm[k], at(dbm, dim, k, j)));
        }
        for (uint32_t l = 1; l < dim; ++l) {
            if (!testBit(stoppedBits, l)) continue;
            at(dbm, dim, l, j) = addBounds(at(dbm, dim, l, 0), lower);
        }
    }
}

// ---- Updates ------------------------------------------------------------

void updateValue(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v)
{
    const bound_t x0 = boundLE(v);
    const bound_t zx = negateBound(boundLT(v));  // (<= -v)
    at(dbm, dim, x, 0) = x0;
    dbm[x] = zx;
    bound_t* rowX = dbm + x * dim;
    for (uint32_t j = 1; j < dim; ++j) {
        rowX[j] = addBounds(x0, dbm[j]);
        at(dbm, dim, j, x) = addBounds(at(dbm, dim, j, 0), zx);
    }
}

void updateClock(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y)
{
    if (x == y) return;
    for (uint32_t i = 0; i < dim; ++i) {
        if (i == x) continue;
        at(dbm, dim, x, i) = at(dbm, dim, y, i);
        at(dbm, dim, i, x) = at(dbm, dim, i, y);
    }
}

void updateIncrement(bound_t* dbm, uint32_t dim, uint32_t x, int32_t v)
{
    if (v == 0) return;
    const int32_t minusV = base::negWrap(v);
    for (uint32_t i = 0; i < dim; ++i) {
        bound_t& xi = at(dbm, dim, x, i);
        if (isFinite(xi)) xi = shiftBound(xi, v);
        bound_t& ix = at(dbm, dim, i, x);
        if (isFinite(ix)) ix = shiftBound(ix, minusV);
    }
}

void updateClockPlus(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y, int32_t v)
{
    if (x == y) return updateIncrement(dbm, dim, x, v);
    if (v == 0) return updateClock(dbm, dim, x, y);
    const int32_t minusV = base::negWrap(v);
    for (uint32_t j = 0; j < dim; ++j) {
        const bound_t yj = at(dbm, dim, y, j);
        at(dbm, dim, x, j) = isFinite(yj) ? shiftBound(yj, v) : BOUND_INFINITY;
        const bound_t jy = at(dbm, dim, j, y);
        at(dbm, dim, j, x) = isFinite(jy) ? shiftBound(jy, minusV) : BOUND_INFINITY;
    }
    at(dbm, dim, x, x) = BOUND_LE_ZERO;
}

// ---- Freeing ------------------------------------------------------------

void freeClock(bound_t* dbm, uint32_t dim, uint32_t x)
{
    for (uint32_t j = 0; j < dim; ++j) {
        if (j == x) continue;
        at(dbm, dim, x, j) = BOUND_INFINITY;
        at(dbm, dim, j, x) = at(dbm, dim, j, 0);
    }
}

void freeUp(bound_t* dbm, uint32_t dim, uint32_t x)
{
    bound_t* row = dbm + x * dim;
    for (uint32_t j = 0; j < dim; ++j)
        if (j != x) row[j] = BOUND_INFINITY;
}

void freeAllUp(bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 1; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        std::fill(row, row + dim, BOUND_INFINITY);
        row[i] = BOUND_LE_ZERO;
    }
}

bool isFreeAllUp(const bound_t* dbm, uint32_t dim)
{
    if (dbm[0] != BOUND_LE_ZERO) return false;
    for (uint32_t i = 1; i < dim; ++i) {
        const bound_t* row = dbm + i * dim;
        for (uint32_t j = 0; j < dim; ++j)
            if (row[j] != (i == j ? BOUND_LE_ZERO : BOUND_INFINITY)) return false;
    }
    return true;
}

void freeDown(bound_t* dbm, uint32_t dim, uint32_t x)
{
    for (uint32_t i = 0; i < dim; ++i)
        if (i != x) at(dbm, dim, i, x) = at(dbm, dim, i, 0);
}

void freeAllDown(bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 0; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        for (uint32_t j = 1; j < dim; ++j)
            if (j != i) row[j] = row[0];
    }
}

uint32_t findNotFreeAllDown(const bound_t* dbm, uint32_t dim)
{
    for (uint32_t i = 0; i < dim; ++i) {
        const bound_t* row = dbm + i * dim;
        for (uint32_t j = 1; j < dim; ++j)
            if (j != i && row[j] != row[0]) return i + (j << 16);
    }
    return 0;
}

// ---- Strictness ---------------------------------------------------------

void relaxAll(bound_t* dbm, uint32_t dim)
{
    const uint32_t end = dim * dim;
    for (uint32_t p = 1; p < end; ++p)
        if (isFinite(dbm[p])) dbm[p] = weakenBound(dbm[p]);
}

void relaxRow(bound_t* dbm, uint32_t dim, uint32_t k)
{
    bound_t* rowK = dbm + k * dim;
    for (uint32_t j = 0; j < dim; ++j) {
        if (isInfinite(rowK[j]) || isWeak(rowK[j])) continue;
        const bound_t w = weakenBound(rowK[j]);
        rowK[j] = w;
        // Keep the strictness where another path still forces it.
        for (uint32_t i = 0; i < dim; ++i) {
            const bound_t ij = at(dbm, dim, i, j), ki = rowK[i];
            if (isInfinite(ij) || isInfinite(ki)) continue;
            const bound_t s = addFinite(ij, weakenBound(ki));
            if (s < w) {
                rowK[j] = s;
                break;
            }
        }
    }
}

void relaxColumn(bound_t* dbm, uint32_t dim, uint32_t k)
{
    for (uint32_t i = 0; i < dim; ++i) {
        bound_t& ik = at(dbm, dim, i, k);
        if (isInfinite(ik) || isWeak(ik)) continue;
        const bound_t w = weakenBound(ik);
        ik = w;
        const bound_t* rowI = dbm + i * dim;
        for (uint32_t j = 0; j < dim; ++j) {
            const bound_t ij = rowI[j], jk = at(dbm, dim, j, k);
            if (isInfinite(ij) || isInfinite(jk)) continue;
            const bound_t s = addFinite(ij, weakenBound(jk));
            if (s < w) {
                ik = s;
                break;
            }
        }
    }
}

namespace {

// Makes the non-strict bounds of row 0 (Lower) or column 0 (upper) strict.
template <bool Lower>
bool makeBoundsStrict(bound_t* dbm, uint32_t dim)
{
    uint32_t bits[MAX_BIT_WORDS];
    std::memset(bits, 0, bitWords(dim) * sizeof(uint32_t));
    uint32_t count = 0, last = 0;
    for (uint32_t j = 1; j < dim; ++j) {
        bound_t& b = Lower ? at(dbm, dim, 0, j) : at(dbm, dim, j, 0);
        if (isStrict(b)) continue;  // the infinite bound is strict too
        b = strengthenBound(b);
        const bound_t opposite = Lower ? at(dbm, dim, j, 0) : at(dbm, dim, 0, j);
        if (negateBound(b) >= opposite) return markEmpty(dbm);
        setBit(bits, j);
        ++count;
        last = j;
    }
    if (count > 1) {
        setBit(bits, 0);
        if (!closeMarked(dbm, dim, bits)) return markEmpty(dbm);
    } else if (count == 1 && dim != 2) {
        if (Lower)
            closeEntry(dbm, dim, 0, last);
        else
            closeEntry(dbm, dim, last, 0);
    }
    return true;
}

}  // namespace

bool makeLowerBoundsStrict(bound_t* dbm, uint32_t dim) { return makeBoundsStrict<true>(dbm, dim); }
bool makeUpperBoundsStrict(bound_t* dbm, uint32_t dim) { return makeBoundsStrict<false>(dbm, dim); }

// ---- Points -------------------------------------------------------------

bool isPointIncluded(const bound_t* dbm, uint32_t dim, const int32_t* point)
{
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j) {
            // Computed in 64 bits: the difference of two values may not fit in 32.
            const int64_t needed = 2 * (int64_t{point[i]} - int64_t{point[j]}) + 1;
            if (int64_t{at(dbm, dim, i, j)} < needed) return false;
        }
    return true;
}

bool isRealPointIncluded(const bound_t* dbm, uint32_t dim, const double* point)
{
    constexpr double tolerance = 1e-14;
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j) {
            const bound_t b = at(dbm, dim, i, j);
            if (isInfinite(b)) continue;
            const double c = boundValue(b);
            // Written as "inside" tests so that a NaN clock value is never inside.
            const bool inside = isStrict(b) ? (point[j] + c) - point[i] > tolerance
                                            : point[i] - (point[j] + c) < tolerance;
            if (!inside) return false;
        }
    return true;
}

// ---- Changing the clock set ---------------------------------------------

void swapClocks(bound_t* dbm, uint32_t dim, uint32_t x, uint32_t y)
{
    if (x == y) return;
    for (uint32_t i = 0; i < dim; ++i) std::swap(at(dbm, dim, i, x), at(dbm, dim, i, y));
    std::swap_ranges(dbm + x * dim, dbm + x * dim + dim, dbm + y * dim);
}

uint32_t mapClocks(const uint32_t* oldBits, const uint32_t* newBits, uint32_t nWords, uint32_t* positionTable,
                   int32_t* newToOld)
{
    uint32_t oldRank = 0, newIndex = 0;
    for (uint32_t p = 0; p < nWords * 32; ++p) {
        const bool inOld = testBit(oldBits, p);
        if (testBit(newBits, p)) {
            positionTable[p] = newIndex;
            newToOld[newIndex] = inOld ? static_cast<int32_t>(oldRank) : -1;
            ++newIndex;
        }
        if (inOld) ++oldRank;
    }
    return newIndex;
}

void copyMapped(bound_t* destination, uint32_t newDim, const bound_t* source, uint32_t oldDim,
                const int32_t* newToOld)
{
    // Each entry of newToOld is read before the destination entry at the same
    // column of the row being written, and the row's own clock before the row,
    // so the table may live in the last row of the destination.
    if (newDim == 0) return;
    destination[0] = BOUND_LE_ZERO;
    for (uint32_t i = 1; i < newDim; ++i) {
        const int32_t c = newToOld[i];
        destination[i] = c >= 0 ? source[c] : BOUND_LE_ZERO;
    }
    for (uint32_t i = 1; i < newDim; ++i) {
        const int32_t c = newToOld[i];
        bound_t* row = destination + i * newDim;
        if (c < 0) {
            std::fill(row, row + newDim, BOUND_INFINITY);
        } else {
            const bound_t* oldRow = source + static_cast<uint32_t>(c) * oldDim;
            row[0] = oldRow[0];
            for (uint32_t j = 1; j < newDim; ++j) {
                const int32_t cj = newToOld[j];
                row[j] = cj >= 0 ? oldRow[cj] : oldRow[0];
            }
        }
        row[i] = BOUND_LE_ZERO;
    }
}

uint32_t changeClocks(const bound_t* source, uint32_t dim, bound_t* destination, const uint32_t* oldBits,
                      const uint32_t* newBits, uint32_t nWords, uint32_t* positionTable)
{
    uint32_t newDim = 0;
    for (uint32_t w = 0; w < nWords; ++w) newDim += static_cast<uint32_t>(__builtin_popcount(newBits[w]));
    if (newDim == 0) return 0;
    // The new-to-old table is kept in the last row of the destination, which
    // copyMapped overwrites only after it has read each entry.
    int32_t* newToOld = destination + (newDim - 1) * newDim;
    mapClocks(oldBits, newBits, nWords, positionTable, newToOld);
    copyMapped(destination, newDim, source, dim, newToOld);
    return newDim;
}

}  // namespace dbm
