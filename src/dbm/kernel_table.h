#pragma once
// The table of innermost loops through which the zone library runs its closures, relations and
// minimal-graph analysis, one table per instruction set (dbm/kernels.h chooses the set). Internal
// to the zone library.
//
// Every kernel gives exactly the result of the generic one, bound for bound: the vector versions
// only do the same comparisons and sums (in the same wrap-around 32-bit arithmetic) several at a time.

#include <cstddef>
#include <cstdint>

#include "dbm/bound.h"
#include "dbm/kernels.h"

namespace dbm::kernels {

// The bounds of a minimal-graph encoding as the kernels read them.
struct GraphView {
    const uint32_t* bounds;     // `count` bounds, 16 bits (sign-extended) or 32 bits each
    const uint32_t* positions;  // the bit matrix, or the packed index pairs
    uint32_t count;
    uint32_t n;                 // dimension
    uint32_t indexBits;         // 0 for a bit matrix, else the bits of each index of a pair (4, 8 or 16)
    bool is16;
};

inline int32_t read16(const uint32_t* words, uint32_t k)
{
    const uint32_t w = words[k >> 1];
    return static_cast<int16_t>(static_cast<uint16_t>((k & 1) ? (w >> 16) : (w & 0xffff)));
}

// Calls f(i, j, entry number i * n + j, bound) for every bound [i][j] of the graph in increasing
// entry number, until f returns false; returns false when it was stopped.
template <typename F>
inline bool forEachGraphBound(const GraphView& g, F&& f)
{
    auto boundAt = [&](uint32_t k) -> bound_t {
        return g.is16 ? read16(g.bounds, k) : static_cast<bound_t>(g.bounds[k]);
    };
    if (g.indexBits != 0) {
        const uint32_t pairBits = 2 * g.indexBits;
        const uint32_t indexMask = (1u << g.indexBits) - 1;
        uint32_t offset = 0;
        for (uint32_t k = 0; k < g.count; ++k, offset += pairBits) {
            const uint32_t pair = g.positions[offset >> 5] >> (offset & 31);
            const uint32_t i = pair & indexMask, j = (pair >> g.indexBits) & indexMask;
            if (!f(i, j, i * g.n + j, boundAt(k))) return false;
        }
        return true;
    }
    const uint32_t words = (g.n * g.n + 31) / 32;
    uint32_t k = 0, row = 0, rowStart = 0;
    for (uint32_t w = 0; w < words && k < g.count; ++w) {
        for (uint32_t bits = g.positions[w]; bits != 0 && k < g.count; bits &= bits - 1) {
            const uint32_t e = w * 32 + static_cast<uint32_t>(__builtin_ctz(bits));
            while (e >= rowStart + g.n) {
                ++row;
                rowStart += g.n;
            }
            if (!f(row, e - rowStart, e, boundAt(k))) return false;
            ++k;
        }
    }
    return true;
}

// A full-matrix encoding as the kernels read it: the n(n-1) off-diagonal bounds in row order.
struct FullView {
    const uint32_t* data;
    uint32_t n;
    bool is16;  // 16-bit bounds, (< infinity) stored as INFINITY_16
};

inline constexpr int32_t INFINITY_16 = 32766;

inline bound_t storedBound(const FullView& f, uint32_t t)
{
    if (!f.is16) return static_cast<bound_t>(f.data[t]);
    const int32_t v = read16(f.data, t);
    return v == INFINITY_16 ? BOUND_INFINITY : v;
}

// Results of compareGraph and compareFull.
inline constexpr uint32_t GRAPH_TIGHTER = 1;  // some stored bound lies below the matrix's entry
inline constexpr uint32_t GRAPH_LOOSER = 2;   // some stored bound lies above it

struct KernelTable {
    // Closure through the pivots k whose bit is set in `pivots` (every k < dim when null), in
    // increasing order: every row i other than k with a finite [i][k] is relaxed through row k.
    // With testDiagonal, false as soon as, after the rows went through a pivot k, some [i][i]
    // (i other than k) lies below (<= 0), whether or not row i was relaxed: the zone is empty and
    // the matrix means nothing (a kernel may have relaxed more rows than another before it stops).
    bool (*closePivots)(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal);
    // rowI[j] := min(rowI[j], ik + rowK[j]) for every j < n with a finite rowK[j]; ik is finite
    // and the rows do not overlap.
    void (*relaxRow)(bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t n);
    // The relation of two runs of n bounds as dbm::relation gives it for two matrices: EQUAL when
    // every a[p] equals b[p], SUPERSET when none is below, SUBSET when none is above, else DIFFERENT.
    relation_t (*relation)(const bound_t* a, const bound_t* b, uint32_t n);
    // True when no a[p] is above b[p], p < n.
    bool (*isLessEqual)(const bound_t* a, const bound_t* b, uint32_t n);
    // a[p] := max(a[p], b[p]) for p < n.
    void (*maxInto)(bound_t* a, const bound_t* b, uint32_t n);
    // The edges of a minimal graph between the leaders of the classes of clocks with fixed
    // differences (the leaders listed in increasing order, and as a bit array with one word more
    // than bitWords(n), that word zero): bit r * n + s is set in `bitMatrix` (cleared by the
    // caller) for every pair of leaders r != s with a finite [r][s] that no third leader k implies
    // ([r][k] and [k][s] finite and their sum at most [r][s]). Returns the number of bits set.
    uint32_t (*graphBetweenLeaders)(const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount,
                                    const uint32_t* leaderBits, uint32_t* bitMatrix);
    // The stored bounds of a graph compared with the matrix's entries at their places: GRAPH_TIGHTER
    // and GRAPH_LOOSER as found. The walk may stop as soon as GRAPH_TIGHTER is found and, when
    // wantLooser is set, GRAPH_LOOSER too: the flags then hold at least what was found up to there.
    uint32_t (*compareGraph)(const bound_t* dbm, const GraphView& g, bool wantLooser);
    // Fills n bounds with v.
    void (*fill)(bound_t* p, bound_t v, uint32_t n);
    // The row pass of extrapolateLUBoundsDiagonal, rows 1 to dim - 1 against row 0 as it is (row 0
    // is not written): a row whose clock lies above its lower-bound constant (-L[i] > value of
    // [0][i]) becomes (< infinity) off the diagonal; in the other rows, every entry [i][j], j other
    // than i, becomes (< infinity) when its value is above L[i] or when clock j lies above its
    // upper-bound constant (-U[j] > value of [0][j]). True when the second kind of row lost a
    // finite bound, so that the matrix needs closing again.
    bool (*dropAboveLU)(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper);
    // The bitwise OR, over the bounds b of p[0..n) below (< infinity), of b (b >= 0) or -b-1 (b < 0).
    uint32_t (*magnitudeBits)(const bound_t* p, uint32_t n);
    // Sets bit j of `bits` (a clock bit array with a spare word, not cleared here) for every j with
    // c < j < n whose difference to clock c is fixed: (M[c][j] >> 1) + (M[j][c] >> 1) = 0.
    void (*fixedDifferences)(const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits);
    // The stored bounds of a full form compared with the matrix's, in order: GRAPH_TIGHTER and
    // GRAPH_LOOSER as found. The walk may stop once `found` holds every flag of `stop`, or, when
    // stop is 0, at the first difference; the flags then hold at least what was found up to there.
    uint32_t (*compareFull)(const bound_t* dbm, const FullView& f, uint32_t stop);
    // The full form's words after the header (n(n-1) bounds of 32 bits, or of 16 bits with
    // (< infinity) as INFINITY_16 and every other bound cut to its low 16 bits) from the matrix.
    void (*writeFull)(const bound_t* dbm, uint32_t n, bool is16, uint32_t* out);
    // The matrix of a full form.
    void (*readFull)(bound_t* dbm, const FullView& f);
};

// The portable kernels; also the fall-back of the vector ones for matrices too small for a vector.
extern const KernelTable genericKernels;
// The vector kernels, or null when the build has none for the set.
const KernelTable* avx2Kernels();
const KernelTable* avx512Kernels();

// The table in use (constant-initialised to a table whose entries choose the set on first use).
extern const KernelTable* activeTable;
inline const KernelTable& active() { return *activeTable; }

}  // namespace dbm::kernels
