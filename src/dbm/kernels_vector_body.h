// The vector kernels, written once over a set of vector operations `O` and included once per
// instruction set by kernels_x86.cpp, inside a region compiled for that set and an unnamed
// namespace of its own (so no function of one set is ever shared with another or with the
// generic code). Deliberately without an include guard.
//
// `O` gives the vector type V of W lanes of 32-bit bounds; Mask, the lanes where a comparison
// holds; Guard, the lanes of a pivot row whose bound is finite; loads and stores of W bounds,
// comparisons and the bound arithmetic. A run of n >= W bounds is cut into chunks of W, the last
// one being the last W bounds: it overlaps the chunk before it unless W divides n, which the
// operations here allow (minimum, maximum, comparison and bit sets may see a bound twice). A
// chunk that overlaps a store just made is loaded before that store: loading it after would
// make the load wait for the store.

template <class O>
struct Run {
    uint32_t chunks;
    uint32_t lastOffset;

    explicit Run(uint32_t n) : chunks((n + O::W - 1) / O::W), lastOffset(n - O::W) {}
    uint32_t offset(uint32_t c) const { return c + 1 < chunks ? c * O::W : lastOffset; }
};

inline bool testBit(const uint32_t* bits, uint32_t k) { return ((bits[k >> 5] >> (k & 31)) & 1u) != 0; }

// The sum of a finite ik and a pivot-row bound kj, as addFinite gives it, is
// (ik & ~1) + (kj & (ik | ~1)): the strictness bit is kept only when both are non-strict.
template <class O>
[[gnu::always_inline]] inline typename O::V pathSum(typename O::V ikEven, typename O::V ikMask, typename O::V kj)
{
    return O::add(ikEven, O::band(kj, ikMask));
}

// The bit of clock x in the chunk from `offset` on, or 0.
template <class O>
inline uint32_t clockBit(uint32_t x, uint32_t offset)
{
    return x - offset < O::W ? 1u << (x - offset) : 0;
}

// False when a diagonal entry other than [k][k] lies below (<= 0). Tested once all rows went
// through pivot k rather than after each row, which would read an entry of the vector just stored.
inline bool diagonalsHold(const bound_t* dbm, uint32_t dim, uint32_t k)
{
    for (uint32_t i = 0; i < dim; ++i)
        if (i != k && dbm[i * dim + i] <= BOUND_LT_ZERO) return false;
    return true;
}

// rowI := min(rowI, ik + rowK) where rowK is finite, chunk by chunk, reading row k as it goes.
template <class O>
void relaxStreaming(bound_t* rowI, const bound_t* rowK, bound_t ik, const Run<O>& run)
{
    using V = typename O::V;
    const V ikEven = O::set1(ik & ~1), ikMask = O::set1(ik | ~1);
    // The last chunk is loaded first: it may overlap the one before it.
    const uint32_t p = run.lastOffset;
    const V rLast = O::load(rowI + p);
    for (uint32_t c = 0; c + 1 < run.chunks; ++c) {
        const V kj = O::load(rowK + c * O::W);
        const V r = O::load(rowI + c * O::W);
        O::store(rowI + c * O::W, O::relax(r, pathSum<O>(ikEven, ikMask, kj), O::finite(kj)));
    }
    const V kj = O::load(rowK + p);
    O::store(rowI + p, O::relax(rLast, pathSum<O>(ikEven, ikMask, kj), O::finite(kj)));
}

// The closure through the chosen pivots for a dimension of exactly C chunks (at most 64 clocks):
// the pivot row is read once into registers and serves every other row. (The loops over the chunks are unrolled so that
// the arrays of C vectors stay in registers.)
template <class O, uint32_t C>
bool closePivotsHeld(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    using V = typename O::V;
    static_assert(C * O::W <= 64, "the rows of a pivot are gathered in 64 bits");
    const Run<O> run(dim);
    V column[C];  // the offsets of the entries of a column, chunk by chunk
    #pragma GCC unroll 8
    for (uint32_t c = 0; c < C; ++c)
        column[c] = O::mul(O::add(O::iota(), O::set1(static_cast<int32_t>(run.offset(c)))), O::set1(static_cast<int32_t>(dim)));
    for (uint32_t k = 0; k < dim; ++k) {
        if (pivots != nullptr && !testBit(pivots, k)) continue;
        const bound_t* rowK = dbm + k * dim;
        V kj[C];
        typename O::Guard finite[C];
        uint32_t finiteOffDiagonal = 0;
        #pragma GCC unroll 8
        for (uint32_t c = 0; c < C; ++c) {
            kj[c] = O::load(rowK + run.offset(c));
            finite[c] = O::finite(kj[c]);
            finiteOffDiagonal |= O::guardBits(finite[c]) & ~clockBit<O>(k, run.offset(c));
        }
        if (finiteOffDiagonal == 0 && rowK[k] >= BOUND_LE_ZERO) {
            // A pivot row of (< infinity) changes no row.
            if (testDiagonal && !diagonalsHold(dbm, dim, k)) return false;
            continue;
        }
        // The rows with a finite bound to the pivot, gathered from column k: few of them are
        // finite in a sparse zone, and a test per row mispredicts at random. The set holds for
        // the whole pass: only rows with a finite bound to k are relaxed, and bounds only fall.
        // Gathers pay from a few chunks on; below, a scalar walk down the column is faster.
        uint64_t rows = 0;
        if (dim > 32) {
            #pragma GCC unroll 8
            for (uint32_t c = 0; c < C; ++c)
                rows |= uint64_t{O::guardBits(O::finite(O::gather(dbm + k, column[c])))} << run.offset(c);
        } else {
            for (uint32_t i = 0; i < dim; ++i)
                rows |= static_cast<uint64_t>(isFinite(dbm[i * dim + k])) << i;
        }
        rows &= ~(uint64_t{1} << k);
        for (; rows != 0; rows &= rows - 1) {
            const uint32_t i = static_cast<uint32_t>(__builtin_ctzll(rows));
            bound_t* rowI = dbm + i * dim;
            const bound_t ik = rowI[k];
            const V ikEven = O::set1(ik & ~1), ikMask = O::set1(ik | ~1);
            // Every chunk is loaded before any is stored (the last one may overlap).
            V r[C];
            #pragma GCC unroll 8
            for (uint32_t c = 0; c < C; ++c) r[c] = O::load(rowI + run.offset(c));
            #pragma GCC unroll 8
            for (uint32_t c = 0; c < C; ++c)
                O::store(rowI + run.offset(c), O::relax(r[c], pathSum<O>(ikEven, ikMask, kj[c]), finite[c]));
        }
        if (testDiagonal && !diagonalsHold(dbm, dim, k)) return false;
    }
    return true;
}

template <class O>
bool closePivotsStreaming(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    const Run<O> run(dim);
    for (uint32_t k = 0; k < dim; ++k) {
        if (pivots != nullptr && !testBit(pivots, k)) continue;
        const bound_t* rowK = dbm + k * dim;
        for (uint32_t i = 0; i < dim; ++i) {
            if (i == k) continue;
            bound_t* rowI = dbm + i * dim;
            const bound_t ik = rowI[k];
            if (isFinite(ik)) relaxStreaming<O>(rowI, rowK, ik, run);
        }
        if (testDiagonal && !diagonalsHold(dbm, dim, k)) return false;
    }
    return true;
}

// Any dimension of at least W.
template <class O>
bool closePivotsAny(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    switch ((dim + O::W - 1) / O::W) {
    case 1: return closePivotsHeld<O, 1>(dbm, dim, pivots, testDiagonal);
    case 2: return closePivotsHeld<O, 2>(dbm, dim, pivots, testDiagonal);
    case 3: return closePivotsHeld<O, 3>(dbm, dim, pivots, testDiagonal);
    case 4: return closePivotsHeld<O, 4>(dbm, dim, pivots, testDiagonal);
    default: return closePivotsStreaming<O>(dbm, dim, pivots, testDiagonal);
    }
}

template <class O>
void relaxRowAny(bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t n)
{
    relaxStreaming<O>(rowI, rowK, ik, Run<O>(n));
}

template <class O>
relation_t relationAny(const bound_t* a, const bound_t* b, uint32_t n)
{
    using V = typename O::V;
    const Run<O> run(n);
    typename O::Mask above = O::none(), below = O::none();
    for (uint32_t c = 0; c + 1 < run.chunks; ++c) {
        const V x = O::load(a + c * O::W), y = O::load(b + c * O::W);
        above = O::either(above, O::greater(x, y));
        below = O::either(below, O::greater(y, x));
        if (O::any(above) && O::any(below)) return DIFFERENT;
    }
    const uint32_t p = run.lastOffset;
    const V x = O::load(a + p), y = O::load(b + p);
    above = O::either(above, O::greater(x, y));
    below = O::either(below, O::greater(y, x));
    const bool isAbove = O::any(above), isBelow = O::any(below);
    return isAbove ? (isBelow ? DIFFERENT : SUPERSET) : (isBelow ? SUBSET : EQUAL);
}

template <class O>
bool isLessEqualAny(const bound_t* a, const bound_t* b, uint32_t n)
{
    const Run<O> run(n);
    for (uint32_t c = 0; c + 1 < run.chunks; ++c)
        if (O::any(O::greater(O::load(a + c * O::W), O::load(b + c * O::W)))) return false;
    const uint32_t p = run.lastOffset;
    return !O::any(O::greater(O::load(a + p), O::load(b + p)));
}

template <class O>
void maxIntoAny(bound_t* a, const bound_t* b, uint32_t n)
{
    const Run<O> run(n);
    const uint32_t p = run.lastOffset;
    const typename O::V last = O::load(a + p);  // before the stores it may overlap
    for (uint32_t c = 0; c + 1 < run.chunks; ++c)
        O::store(a + c * O::W, O::max(O::load(a + c * O::W), O::load(b + c * O::W)));
    O::store(a + p, O::max(last, O::load(b + p)));
}

template <class O>
void fillAny(bound_t* p, bound_t v, uint32_t n)
{
    const Run<O> run(n);
    const typename O::V x = O::set1(v);
    for (uint32_t c = 0; c < run.chunks; ++c) O::store(p + run.offset(c), x);
}

// The W bits of a clock bit array from bit `offset` on; the array has a spare word after the bits.
template <class O>
inline uint32_t chunkBits(const uint32_t* bits, uint32_t offset)
{
    const uint32_t w = offset >> 5;
    const uint64_t pair = bits[w] | (uint64_t{bits[w + 1]} << 32);
    return static_cast<uint32_t>(pair >> (offset & 31)) & ((1u << O::W) - 1);
}

// Sets the W bits `bits` into the bit matrix from bit `position` on (bits past the matrix are zero).
inline void orBits(uint32_t* bitMatrix, uint32_t position, uint32_t bits)
{
    const uint64_t shifted = uint64_t{bits} << (position & 31);
    bitMatrix[position >> 5] |= static_cast<uint32_t>(shifted);
    if ((shifted >> 32) != 0) bitMatrix[(position >> 5) + 1] |= static_cast<uint32_t>(shifted >> 32);
}

// The edges between leaders for a dimension of exactly C chunks. For each leader r the candidate
// columns s (leaders other than r with a finite [r][s]) are struck out, a chunk at a time, as the
// rows of the other leaders k imply them; the search for r ends when none is left.
template <class O, uint32_t C>
uint32_t graphBetweenLeadersHeld(const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount,
                                 const uint32_t* leaderBits, uint32_t* bitMatrix)
{
    using V = typename O::V;
    static_assert(C * O::W <= 64, "the leaders of a row are gathered in 64 bits");
    const Run<O> run(n);
    uint32_t offset[C], leaderChunk[C];
    #pragma GCC unroll 8
    for (uint32_t c = 0; c < C; ++c) {
        offset[c] = run.offset(c);
        leaderChunk[c] = chunkBits<O>(leaderBits, offset[c]);
    }
    for (uint32_t a = 0; a < leaderCount; ++a) {
        const uint32_t r = leaders[a];
        const bound_t* rowR = dbm + r * n;
        V rs[C];
        uint32_t open[C];
        uint32_t anyOpen = 0;
        #pragma GCC unroll 8
        for (uint32_t c = 0; c < C; ++c) {
            rs[c] = O::load(rowR + offset[c]);
            open[c] = leaderChunk[c] & O::guardBits(O::finite(rs[c])) & ~clockBit<O>(r, offset[c]);
            anyOpen |= open[c];
        }
        // The leaders k that may lie on a path from r: the candidate columns as they start. (The
        // struck columns do not depend on the order in which the k are taken.)
        uint64_t through = 0;
        #pragma GCC unroll 8
        for (uint32_t c = 0; c < C; ++c) through |= uint64_t{open[c]} << offset[c];
        for (; through != 0 && anyOpen != 0; through &= through - 1) {
            const uint32_t k = static_cast<uint32_t>(__builtin_ctzll(through));
            const bound_t rk = rowR[k];
            const bound_t* rowK = dbm + k * n;
            const V ikEven = O::set1(rk & ~1), ikMask = O::set1(rk | ~1);
            anyOpen = 0;
            #pragma GCC unroll 8
            for (uint32_t c = 0; c < C; ++c) {
                if (open[c] == 0) continue;
                const V ks = O::load(rowK + offset[c]);
                const uint32_t notImplied = O::bits(O::greater(pathSum<O>(ikEven, ikMask, ks), rs[c]));
                const uint32_t implied = O::guardBits(O::finite(ks)) & ~notImplied & ~clockBit<O>(k, offset[c]);
                open[c] &= ~implied;
                anyOpen |= open[c];
            }
        }
        #pragma GCC unroll 8
        for (uint32_t c = 0; c < C; ++c)
            if (open[c] != 0) orBits(bitMatrix, r * n + offset[c], open[c]);
    }
    uint32_t count = 0;
    const uint32_t words = (n * n + 31) / 32;
    for (uint32_t w = 0; w < words; ++w) count += static_cast<uint32_t>(__builtin_popcount(bitMatrix[w]));
    return count;
}

// The row pass of the lower/upper-bounds extrapolation that drops difference bounds: see
// KernelTable::dropAboveLU. Row 0 is only read.
template <class O>
bool dropAboveLUAny(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    using V = typename O::V;
    using Mask = typename O::Mask;
    const Run<O> run(dim);
    const V infinity = O::set1(BOUND_INFINITY);
    // Clock j lies above U[j]: -U[j] > value of [0][j]. U[j] is first raised to -INT32_MAX so
    // that its negation fits; no value of a bound comes near either.
    const auto columnAbove = [&](uint32_t offset) {
        const V u = O::load(upper + offset), v = O::load(dbm + offset);
        return O::greater(O::sub(O::set1(0), O::max(u, O::set1(-INT32_MAX))), O::halve(v));
    };
    Mask changed = O::none();
    for (uint32_t i = 1; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        const bound_t diagonal = row[i];
        if (-int64_t{lower[i]} > int64_t{boundValue(dbm[i])}) {
            // Every point has x_i above L[i]: the whole row goes, and a row of (< infinity)
            // keeps the matrix closed.
            for (uint32_t c = 0; c < run.chunks; ++c) O::store(row + run.offset(c), infinity);
            row[i] = diagonal;
            continue;
        }
        const V lowerI = O::set1(lower[i]);
        const V lastChunk = O::load(row + run.lastOffset);  // before the stores it may overlap
        for (uint32_t c = 0; c < run.chunks; ++c) {
            const uint32_t offset = run.offset(c);
            const V b = c + 1 == run.chunks ? lastChunk : O::load(row + offset);
            const Mask drop = O::except(O::either(O::greater(O::halve(b), lowerI), columnAbove(offset)),
                                        O::laneIs(i - offset));
            changed = O::either(changed, O::both(drop, O::guardMask(O::finite(b))));
            O::store(row + offset, O::where(drop, infinity, b));
        }
    }
    return O::any(changed);
}

template <class O>
uint32_t magnitudeBitsAny(const bound_t* p, uint32_t n)
{
    using V = typename O::V;
    const Run<O> run(n);
    V bits = O::set1(0);
    for (uint32_t c = 0; c < run.chunks; ++c) {
        const V b = O::load(p + run.offset(c));
        // b for b >= 0, -b-1 for b < 0; (< infinity) left out.
        const V magnitude = O::bxor(b, O::signs(b));
        bits = O::bor(bits, O::where(O::guardMask(O::finite(b)), magnitude, O::set1(0)));
    }
    return O::orLanes(bits);
}

// Sets bit j of `bits` for every c < j < n with (M[c][j] >> 1) + (M[j][c] >> 1) = 0; the column is
// gathered. Needs n - c - 1 >= W.
template <class O>
void fixedDifferencesAny(const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits)
{
    using V = typename O::V;
    const uint32_t from = c + 1;
    const Run<O> run(n - from);
    const V stride = O::mul(O::iota(), O::set1(static_cast<int32_t>(n)));
    const bound_t* row = dbm + c * n + from;
    for (uint32_t k = 0; k < run.chunks; ++k) {
        const uint32_t offset = run.offset(k);
        const V index = O::add(stride, O::set1(static_cast<int32_t>((from + offset) * n + c)));
        const V sum = O::add(O::halve(O::load(row + offset)), O::halve(O::gather(dbm, index)));
        const uint32_t found = O::bits(O::equal(sum, O::set1(0)));
        if (found != 0) orBits(bits, from + offset, found);
    }
}

// ---- Full-matrix forms ----------------------------------------------------------------------
// The n(n-1) off-diagonal bounds in row order; stored bound t lies at matrix position
// t + t / n + 1. In a run of W stored bounds (W <= n) the quotient grows at most once.

// W stored bounds from t on, as 32-bit bounds (the 16-bit (< infinity), 32766, widened to it).
// t may be -1: the word before the stored bounds is the header.
template <class O>
inline typename O::V loadStored(const FullView& f, ptrdiff_t t)
{
    if (!f.is16) return O::load(reinterpret_cast<const bound_t*>(f.data) + t);
    const typename O::V v = O::load16(reinterpret_cast<const int16_t*>(f.data) + t);
    return O::where(O::equal(v, O::set1(INFINITY_16)), O::set1(BOUND_INFINITY), v);
}

// The matrix bounds at the places of the W stored bounds from t on; q and r are t / n and t % n.
template <class O>
inline typename O::V matrixAtStored(const bound_t* dbm, uint32_t n, uint32_t t, uint32_t q, uint32_t r)
{
    const bound_t* p = dbm + t + q + 1;
    const uint32_t boundary = n - r;  // from this lane on, one diagonal entry more lies before
    if (boundary >= O::W) return O::load(p);
    return O::where(O::lanesFrom(boundary), O::load(p + 1), O::load(p));
}

template <class O>
uint32_t compareFullAny(const bound_t* dbm, const FullView& f, uint32_t stop)
{
    const uint32_t n = f.n;
    const Run<O> run(n * (n - 1));
    uint32_t found = 0;
    uint32_t q = 0, r = 0;  // of the chunk's first stored bound
    for (uint32_t c = 0; c < run.chunks; ++c) {
        const uint32_t t = run.offset(c);
        if (c + 1 == run.chunks) {
            q = t / n;
            r = t % n;
        }
        const typename O::V stored = loadStored<O>(f, t);
        const typename O::V m = matrixAtStored<O>(dbm, n, t, q, r);
        if (O::any(O::greater(m, stored))) found |= GRAPH_TIGHTER;
        if (O::any(O::greater(stored, m))) found |= GRAPH_LOOSER;
        if (stop == 0 ? found != 0 : (found & stop) == stop) break;
        r += O::W;
        if (r >= n) {
            r -= n;
            ++q;
        }
    }
    return found;
}

template <class O>
void writeFullAny(const bound_t* dbm, uint32_t n, bool is16, uint32_t* out)
{
    const Run<O> run(n * (n - 1));
    uint32_t q = 0, r = 0;
    for (uint32_t c = 0; c < run.chunks; ++c) {
        const uint32_t t = run.offset(c);
        if (c + 1 == run.chunks) {
            q = t / n;
            r = t % n;
        }
        const typename O::V m = matrixAtStored<O>(dbm, n, t, q, r);
        if (is16)
            O::store16(reinterpret_cast<int16_t*>(out) + t,
                       O::where(O::equal(m, O::set1(BOUND_INFINITY)), O::set1(INFINITY_16), m));
        else
            O::store(reinterpret_cast<bound_t*>(out) + t, m);
        r += O::W;
        if (r >= n) {
            r -= n;
            ++q;
        }
    }
}

// Decoding, a chunk of matrix positions p at a time: the diagonal is (<= 0), every other bound is
// stored bound p - 1 - p / (n + 1). The chunks stop before the last row, which the portable loop
// fills: a chunk there could read past the stored bounds.
template <class O>
void readFullAny(bound_t* dbm, const FullView& f)
{
    using V = typename O::V;
    using Mask = typename O::Mask;
    const uint32_t n = f.n, size = n * n;
    uint32_t p = 0, d = 0, r = 0;  // r = p % (n + 1), d = p / (n + 1)
    for (; p + O::W <= size - n; p += O::W) {
        const uint32_t boundary = n + 1 - r;  // the lane of the next diagonal entry
        Mask diagonal = O::laneIs(boundary);
        if (r == 0) diagonal = O::either(diagonal, O::laneIs(0));
        V m = loadStored<O>(f, ptrdiff_t{p} - 1 - d);
        if (boundary + 1 < O::W) m = O::where(O::lanesFrom(boundary), loadStored<O>(f, ptrdiff_t{p} - 2 - d), m);
        O::store(dbm + p, O::where(diagonal, O::set1(BOUND_LE_ZERO), m));
        r += O::W;
        if (r >= n + 1) {
            r -= n + 1;
            ++d;
        }
    }
    for (; p < size; ++p) dbm[p] = p % (n + 1) == 0 ? BOUND_LE_ZERO : storedBound(f, p - 1 - p / (n + 1));
}
