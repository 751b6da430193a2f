#include "dbm/extrapolation.h"

#include "dbm/dbm.h"
#include "dbm/kernel_table.h"

namespace dbm {

namespace {

// The comparisons "-k > c" below are made in 64 bits so that no constant a
// caller passes can overflow when negated.
inline bool above(int32_t constant, bound_t b)  // every point lies beyond `constant`: -constant > value(b)
{
    return -int64_t{constant} > int64_t{boundValue(b)};
}

// The lower bound that keeps only "x > k" of a clock whose constant is k; a
// negative constant keeps only x >= 0.
inline bound_t raisedLowerBound(int32_t k) { return k < 0 ? BOUND_LE_ZERO : boundLT(-k); }

// (< -k), the entry that keeps only "x_j - x_i > k" of a pair; k >= 0 here.
inline bound_t raisedBound(int32_t k) { return boundLT(base::negWrap(k)); }

}  // namespace

void extrapolateLUBounds(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    if (dim < 2) return;
    bool changed = false;

    // Lower bounds of clocks already above their upper-bound constant.
    for (uint32_t j = 1; j < dim; ++j) {
        if (above(upper[j], dbm[j])) {
            dbm[j] = raisedLowerBound(upper[j]);
            changed |= upper[j] > MINUS_INF_VALUE;
        }
    }

    for (uint32_t i = 1; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        for (uint32_t j = 0; j < dim; ++j) {
            if (j == i) continue;
            const bound_t b = row[j];
            if (upper[j] == MINUS_INF_VALUE) {
                // x_j is never compared: x_i - x_j keeps only what x_j >= 0 gives.
                row[j] = row[0];
            } else if (isFinite(b) && boundValue(b) > lower[i]) {
                row[j] = BOUND_INFINITY;
                changed |= lower[i] > MINUS_INF_VALUE;
            } else if (above(upper[j], b)) {
                row[j] = raisedBound(upper[j]);
                changed = true;
            }
        }
    }

    if (changed) closeThroughActive(dbm, dim, lower, upper);
}

void extrapolateMaxBounds(bound_t* dbm, uint32_t dim, const int32_t* max)
{
    extrapolateLUBounds(dbm, dim, max, max);
}

void extrapolateMaxBoundsDiagonal(bound_t* dbm, uint32_t dim, const int32_t* max)
{
    if (dim < 2) return;
    bool changed = false;
    for (uint32_t i = 1; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        if (above(max[i], dbm[i])) {
            // Every point has x_i above its constant: nothing of x_i matters
            // beyond that.
            row[0] = BOUND_INFINITY;
            dbm[i] = raisedLowerBound(max[i]);
            for (uint32_t j = 1; j < dim; ++j) {
                if (j == i) continue;
                row[j] = BOUND_INFINITY;
                bound_t& ji = dbm[j * dim + i];
                changed |= isFinite(ji);
                ji = BOUND_INFINITY;
            }
        } else {
            for (uint32_t j = 0; j < dim; ++j) {
                if (j == i) continue;
                if (isFinite(row[j]) && boundValue(row[j]) > max[i]) {
                    row[j] = BOUND_INFINITY;
                    changed = true;
                }
            }
        }
    }
    if (changed) closeThroughActive(dbm, dim, max, max);
}

void extrapolateLUBoundsDiagonal(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    if (dim < 2) return;

    // Rows first, tested against the lower bounds as they were on entry.
    const bool changed = kernels::active().dropAboveLU(dbm, dim, lower, upper);

    // Then row 0; the column below each raised entry is already (< infinity).
    for (uint32_t j = 1; j < dim; ++j)
        if (above(upper[j], dbm[j])) dbm[j] = raisedLowerBound(upper[j]);

    if (changed) closeThroughActive(dbm, dim, lower, upper);
}

}  // namespace dbm
