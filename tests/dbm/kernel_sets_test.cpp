// The vector kernels against the portable ones and against plain reference loops, on matrices of
// every width from 1 to 70 (one to five chunks of 16 bounds, partial last chunks, and the widths
// past the kernels that keep a whole row in registers), under every kernel set the processor runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/extrapolation.h"
#include "dbm/kernels.h"
#include "kernel_sets.h"

using namespace dbm;

namespace {

using Matrix = std::vector<bound_t>;

uint32_t baseSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261210u;
}

struct Rng {
    std::mt19937 gen;
    explicit Rng(uint32_t seed) : gen(seed) {}
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bool coin(int percent) { return range(1, 100) <= percent; }
    bound_t bound(int lo, int hi) { return coin(50) ? boundLE(range(lo, hi)) : boundLT(range(lo, hi)); }
    // Any word a matrix may hold, the extremes of the finite range included: the kernels must
    // wrap around in 32 bits exactly as the portable code does.
    bound_t anyBound()
    {
        switch (range(0, 9)) {
        case 0: return BOUND_INFINITY;
        case 1: return MAX_FINITE_BOUND - range(0, 3);
        case 2: return -0x7ffffff0 + range(0, 15);
        case 3: return bound(-(1 << 28), 1 << 28);
        default: return bound(-20, 20);
        }
    }
};

std::string show(const Matrix& m, uint32_t dim)
{
    std::string s;
    for (uint32_t k = 0; k < dim * dim; ++k)
        s += (isInfinite(m[k]) ? std::string("inf") : std::to_string(m[k])) + (k % dim == dim - 1 ? "\n" : " ");
    return s;
}

// Floyd-Warshall with the pivot outermost, independent of the library; false when the zone is empty.
bool referenceClose(Matrix& m, uint32_t n)
{
    for (uint32_t k = 0; k < n; ++k)
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t j = 0; j < n; ++j) {
                const bound_t s = addBounds(m[i * n + k], m[k * n + j]);
                if (s < m[i * n + j]) m[i * n + j] = s;
            }
    for (uint32_t i = 0; i < n; ++i)
        if (m[i * n + i] < BOUND_LE_ZERO) return false;
    return true;
}

// A closed, non-empty zone with bounds on most clocks and differences, some of them fixed.
Matrix randomZone(Rng& r, uint32_t dim)
{
    for (;;) {
        Matrix m(size_t{dim} * dim);
        init(m.data(), dim);
        for (uint32_t k = 1; k < dim; ++k) {
            const int lo = r.range(0, 10);
            m[k] = boundLE(-lo);
            if (r.coin(70)) m[k * dim] = r.bound(lo, lo + 12);
        }
        for (int c = r.range(0, int(dim)); c > 0; --c) {
            const uint32_t i = uint32_t(r.range(1, int(dim) - 1)), j = uint32_t(r.range(1, int(dim) - 1));
            if (i == j) continue;
            const int v = r.range(-6, 6);
            m[i * dim + j] = std::min(m[i * dim + j], boundLE(v));
            if (r.coin(30)) m[j * dim + i] = std::min(m[j * dim + i], boundLE(-v));  // fixed difference
        }
        if (referenceClose(m, dim)) return m;
    }
}

std::vector<kernel_set_t> supportedSets()
{
    std::vector<kernel_set_t> sets;
    for (kernel_set_t s : {kernel_set_t::GENERIC, kernel_set_t::AVX2, kernel_set_t::AVX512})
        if (kernelSetSupported(s)) sets.push_back(s);
    return sets;
}

// Runs f under each supported set and returns its results, the generic set's first.
template <typename F>
auto underEverySet(F&& f)
{
    const kernel_set_t before = kernelSet();
    std::vector<decltype(f())> results;
    for (kernel_set_t s : supportedSets()) {
        useKernelSet(s);
        results.push_back(f());
    }
    useKernelSet(before);
    return results;
}

}  // namespace

TEST(KernelSets, GenericAlwaysRunsAndEverySetIsNamed)
{
    EXPECT_TRUE(kernelSetSupported(kernel_set_t::GENERIC));
    EXPECT_STREQ(kernelSetName(kernel_set_t::GENERIC), "generic");
    EXPECT_STREQ(kernelSetName(kernel_set_t::AVX2), "avx2");
    EXPECT_STREQ(kernelSetName(kernel_set_t::AVX512), "avx512");
    const kernel_set_t before = kernelSet();
    EXPECT_TRUE(kernelSetSupported(before));
    for (kernel_set_t s : {kernel_set_t::GENERIC, kernel_set_t::AVX2, kernel_set_t::AVX512}) {
        const bool supported = kernelSetSupported(s);
        EXPECT_EQ(useKernelSet(s), supported) << kernelSetName(s);
        if (supported) {
            EXPECT_EQ(kernelSet(), s);
        }
    }
    // A machine with AVX-512 runs AVX2 too: the sets are nested.
    if (kernelSetSupported(kernel_set_t::AVX512)) {
        EXPECT_TRUE(kernelSetSupported(kernel_set_t::AVX2));
    }
    useKernelSet(before);
    std::string sets;
    for (kernel_set_t s : supportedSets()) sets += std::string(" ") + kernelSetName(s);
    std::printf("kernel sets run here:%s\n", sets.c_str());
}

// Arbitrary matrices, closed or not, empty or not, through every closure: all sets give the same
// words (and the same verdict; after an empty verdict a matrix means nothing and is not compared),
// and a non-empty full closure is the reference closure.
TEST(KernelSets, ClosuresGiveTheSameWordsInEverySet)
{
    const uint32_t seed = baseSeed();
    Rng r(seed);
    for (uint32_t dim = 1; dim <= 70; ++dim) {
        for (int round = 0; round < (dim <= 40 ? 12 : 3); ++round) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", dim " + std::to_string(dim) + ", round " +
                         std::to_string(round));
            // Half of the matrices are zones (so that the closures run through many finite rows),
            // half arbitrary words; a few words are then changed in both.
            Matrix raw(size_t{dim} * dim);
            if (dim >= 2 && r.coin(50)) {
                raw = randomZone(r, dim);
            } else {
                for (bound_t& b : raw) b = r.anyBound();
                for (uint32_t i = 0; i < dim; ++i) raw[i * dim + i] = BOUND_LE_ZERO;
            }
            for (int k = r.range(0, 4); k > 0; --k) raw[size_t(r.range(0, int(dim * dim) - 1))] = r.anyBound();
            // Rows of (< infinity), as extrapolation leaves them: pivots that change nothing.
            for (int k = r.coin(40) ? r.range(1, 3) : 0; k > 0; --k) {
                const uint32_t i = uint32_t(r.range(0, int(dim) - 1));
                for (uint32_t j = 0; j < dim; ++j)
                    if (j != i) raw[i * dim + j] = BOUND_INFINITY;
            }
            std::vector<uint32_t> marks(bitWords(dim) + 1, 0);
            for (uint32_t k = 0; k < dim; ++k)
                if (r.coin(60)) marks[k >> 5] |= 1u << (k & 31);
            std::vector<int32_t> lower(dim), upper(dim);
            for (uint32_t k = 0; k < dim; ++k) {
                lower[k] = r.coin(20) ? MINUS_INF_VALUE : r.range(0, 10);
                upper[k] = r.coin(20) ? MINUS_INF_VALUE : r.range(0, 10);
            }
            struct Outcome {
                bool full, marked;
                Matrix fullM, markedM, active, entry, pivot;
                bool pivotResult;
            };
            const uint32_t ei = uint32_t(r.range(0, int(dim) - 1)), ej = uint32_t(r.range(0, int(dim) - 1));
            const auto outcomes = underEverySet([&] {
                Outcome o;
                o.fullM = raw;
                o.full = close(o.fullM.data(), dim);
                o.markedM = raw;
                o.marked = closeMarked(o.markedM.data(), dim, marks.data());
                o.active = raw;
                closeThroughActive(o.active.data(), dim, lower.data(), upper.data());
                o.entry = raw;
                if (ei != ej && isFinite(raw[ei * dim + ej])) closeEntry(o.entry.data(), dim, ei, ej);
                o.pivot = raw;
                o.pivotResult = closeThroughClock(o.pivot.data(), dim, ei);
                return o;
            });
            // The closure reads no pivot's own diagonal entry, so the reference applies to
            // matrices with (<= 0) on the diagonal.
            bool diagonalZero = true;
            for (uint32_t i = 0; i < dim; ++i) diagonalZero &= raw[i * dim + i] == BOUND_LE_ZERO;
            Matrix reference = raw;
            const bool nonEmpty = referenceClose(reference, dim);
            if (diagonalZero) {
                ASSERT_EQ(outcomes[0].full, nonEmpty) << show(raw, dim);
                if (nonEmpty) {
                    ASSERT_EQ(outcomes[0].fullM, reference) << show(raw, dim);
                }
            }
            for (size_t s = 1; s < outcomes.size(); ++s) {
                SCOPED_TRACE(std::string("kernel set ") + kernelSetName(supportedSets()[s]));
                const Outcome &g = outcomes[0], &v = outcomes[s];
                ASSERT_EQ(v.full, g.full);
                if (g.full) {
                    ASSERT_EQ(v.fullM, g.fullM) << "close\n" << show(raw, dim);
                }
                ASSERT_EQ(v.marked, g.marked);
                if (g.marked) {
                    ASSERT_EQ(v.markedM, g.markedM) << "closeMarked\n" << show(raw, dim);
                }
                ASSERT_EQ(v.active, g.active) << "closeThroughActive\n" << show(raw, dim);
                ASSERT_EQ(v.entry, g.entry) << "closeEntry " << ei << "," << ej << "\n" << show(raw, dim);
                ASSERT_EQ(v.pivotResult, g.pivotResult);
                if (g.pivotResult) {
                    ASSERT_EQ(v.pivot, g.pivot) << "closeThroughClock " << ei << "\n" << show(raw, dim);
                }
            }
        }
    }
}

// The four extrapolations, with constants of every kind (never compared, negative, beyond every
// bound, the extremes of 32 bits), give the same words in every set.
TEST(KernelSets, ExtrapolationsGiveTheSameWordsInEverySet)
{
    const uint32_t seed = baseSeed() + 3;
    Rng r(seed);
    const auto constant = [&] {
        switch (r.range(0, 9)) {
        case 0: return MINUS_INF_VALUE;
        case 1: return INF_VALUE;
        case 2: return r.coin(50) ? INT32_MIN : INT32_MAX;
        case 3: return -r.range(1, 5);
        default: return r.range(0, 16);
        }
    };
    for (uint32_t dim = 1; dim <= 70; ++dim) {
        for (int round = 0; round < (dim <= 40 ? 10 : 3); ++round) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", dim " + std::to_string(dim) + ", round " +
                         std::to_string(round));
            Matrix z = dim >= 2 ? randomZone(r, dim) : Matrix{BOUND_LE_ZERO};
            if (dim >= 2 && r.coin(50)) up(z.data(), dim);
            std::vector<int32_t> lower(dim), upper(dim);
            for (uint32_t k = 1; k < dim; ++k) {
                lower[k] = constant();
                upper[k] = r.coin(30) ? lower[k] : constant();
            }
            const auto results = underEverySet([&] {
                std::vector<Matrix> out(4, z);
                extrapolateMaxBounds(out[0].data(), dim, upper.data());
                extrapolateMaxBoundsDiagonal(out[1].data(), dim, upper.data());
                extrapolateLUBounds(out[2].data(), dim, lower.data(), upper.data());
                extrapolateLUBoundsDiagonal(out[3].data(), dim, lower.data(), upper.data());
                return out;
            });
            for (size_t s = 1; s < results.size(); ++s)
                for (size_t e = 0; e < 4; ++e)
                    ASSERT_EQ(results[s][e], results[0][e])
                        << "extrapolation " << e << " in " << kernelSetName(supportedSets()[s]) << " of\n"
                        << show(z, dim);
        }
    }
}

// Relations, inclusion and the convex union of pairs that differ in a few places anywhere in the
// matrix (the first and the last diagonal entries are not part of the comparison), the magnitude
// test of the 16-bit forms, and the unconstrained matrix.
TEST(KernelSets, RelationsAgreeWithAnEntryByEntryScan)
{
    const uint32_t seed = baseSeed() + 1;
    Rng r(seed);
    dbm_test::forEachKernelSet([&](kernel_set_t) {
        for (uint32_t dim = 1; dim <= 70; ++dim) {
            for (int round = 0; round < 40; ++round) {
                SCOPED_TRACE("seed " + std::to_string(seed) + ", dim " + std::to_string(dim) + ", round " +
                             std::to_string(round));
                Matrix a(size_t{dim} * dim);
                for (bound_t& b : a) b = r.coin(20) ? BOUND_INFINITY : r.bound(-30, 30);
                Matrix b = a;
                const int changes = r.range(0, 3);
                for (int k = 0; k < changes; ++k) {
                    // Often at the ends, where the runs of bounds begin and stop.
                    const int last = int(dim * dim) - 1;
                    const int p = r.coin(30) ? (r.coin(50) ? r.range(0, std::min(last, 2)) : r.range(std::max(0, last - 2), last))
                                             : r.range(0, last);
                    bound_t& x = b[size_t(p)];
                    x = x >= BOUND_INFINITY || r.coin(50) ? x - 1 : x + 1;
                }
                bool below = false, above = false;
                for (size_t p = 1; p + 1 < a.size(); ++p) {
                    below |= a[p] < b[p];
                    above |= a[p] > b[p];
                }
                const relation_t want = dim < 2 ? EQUAL
                                        : above   ? (below ? DIFFERENT : SUPERSET)
                                                  : (below ? SUBSET : EQUAL);
                ASSERT_EQ(relation(a.data(), dim, b.data()), want);
                uint32_t magnitude = 0;
                for (bound_t x : b)
                    if (x < BOUND_INFINITY) magnitude |= static_cast<uint32_t>(x >= 0 ? x : -(x + 1));
                ASSERT_EQ(maxBoundMagnitude(b.data(), dim), magnitude);
                ASSERT_EQ(isSubsetEq(a.data(), dim, b.data()), dim < 2 || !above);
                Matrix hull = a;
                convexUnion(hull.data(), dim, b.data());
                for (size_t p = 0; p < a.size(); ++p) {
                    const bool compared = dim >= 2 && p >= 1 && p + 1 < a.size();
                    ASSERT_EQ(hull[p], compared ? std::max(a[p], b[p]) : a[p]) << "convexUnion at " << p;
                }
            }
            Matrix u(size_t{dim} * dim), v(size_t{dim} * dim, 7);
            init(u.data(), dim);
            for (uint32_t i = 0; i < dim; ++i)
                for (uint32_t j = 0; j < dim; ++j)
                    v[i * dim + j] = (i == 0 || i == j) ? BOUND_LE_ZERO : BOUND_INFINITY;
            ASSERT_EQ(u, v) << "init, dim " << dim;
            ASSERT_TRUE(isInit(u.data(), dim));
        }
    });
}

namespace {

// A graph form of the closed matrix written directly, whatever the writer would choose: kind 4 or 5
// (bit matrix) or 6 or 7 (index pairs of 4 << width bits), 16-bit bounds for kinds 5 and 7.
std::vector<uint32_t> graphForm(const Matrix& m, uint32_t n, uint32_t kind, uint32_t width)
{
    std::vector<uint32_t> bits(bitMatrixWords(n) + 1);
    uint32_t count = analyzeMinimalGraph(m.data(), n, bits.data());
    count = cleanZeroLowerBounds(m.data(), n, bits.data(), count);
    std::vector<uint32_t> words{n | (kind << 16) | ((kind & 2) ? width << 19 : 0u)};
    if (count < 1024) {
        words[0] |= count << 22;
    } else {
        words[0] |= 1u << 21;
        words.push_back(count);
    }
    std::vector<uint32_t> entries;
    for (uint32_t e = 0; e < n * n; ++e)
        if ((bits[e >> 5] >> (e & 31)) & 1) entries.push_back(e);
    const bool is16 = kind & 1;
    for (size_t k = 0; k < entries.size(); ++k) {
        const uint32_t b = static_cast<uint32_t>(m[entries[k]]);
        if (!is16) {
            words.push_back(b);
        } else if (k % 2 == 0) {
            words.push_back(b & 0xffff);
        } else {
            words.back() |= b << 16;
        }
    }
    if (!(kind & 2)) {
        words.insert(words.end(), bits.begin(), bits.begin() + bitMatrixWords(n));
        return words;
    }
    const uint32_t indexBits = 4u << width;
    uint64_t acc = 0;
    uint32_t filled = 0;
    for (uint32_t e : entries) {
        acc |= uint64_t((e / n) | ((e % n) << indexBits)) << filled;
        filled += 2 * indexBits;
        if (filled >= 32) {
            words.push_back(static_cast<uint32_t>(acc));
            acc >>= 32;
            filled -= 32;
        }
    }
    if (filled != 0) words.push_back(static_cast<uint32_t>(acc));
    return words;
}

relation_t relationOracle(const Matrix& a, const Matrix& b)
{
    bool sub = true, sup = true;
    for (size_t k = 0; k < a.size(); ++k) {
        sub &= a[k] <= b[k];
        sup &= a[k] >= b[k];
    }
    return sub && sup ? EQUAL : sub ? SUBSET : sup ? SUPERSET : DIFFERENT;
}

}  // namespace

// Every graph kind and index width, read and compared in its encoded form against zones that are
// equal, included, including or beside it; the minimal graph itself is the same in every set.
TEST(KernelSets, EncodedGraphsCompareAlikeInEveryForm)
{
    const uint32_t seed = baseSeed() + 2;
    Rng r(seed);
    for (uint32_t n : {3u, 4u, 9u, 16u, 17u, 20u, 31u, 38u, 47u, 64u, 70u}) {
        std::vector<Matrix> zones;
        for (int z = 0; z < 10; ++z) zones.push_back(randomZone(r, n));
        // Related pairs: a zone delayed, and a zone with one more constraint.
        for (int z = 0; z < 4; ++z) {
            Matrix m = zones[size_t(z)];
            up(m.data(), n);
            zones.push_back(m);
            m = zones[size_t(z)];
            const uint32_t x = uint32_t(r.range(1, int(n) - 1));
            if (constrain(m.data(), n, x, 0, boundLE(-boundValue(m[x]) + 2))) zones.push_back(m);
        }
        for (const Matrix& stored : zones) {
            const auto graphs = underEverySet([&] {
                std::vector<uint32_t> bits(bitMatrixWords(n) + 1);
                const uint32_t count = analyzeMinimalGraph(stored.data(), n, bits.data());
                bits.push_back(count);
                return bits;
            });
            for (size_t s = 1; s < graphs.size(); ++s) ASSERT_EQ(graphs[s], graphs[0]) << "minimal graph, n " << n;

            for (uint32_t kind : {4u, 5u, 6u, 7u}) {
                for (uint32_t width = (kind & 2) ? (n < 17 ? 0u : 1u) : 0u; width <= ((kind & 2) ? 2u : 0u); ++width) {
                    SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n) + ", kind " +
                                 std::to_string(kind) + ", width " + std::to_string(width));
                    if ((kind & 1) && maxBoundMagnitude(stored.data(), n) > 32765) continue;
                    const std::vector<uint32_t> e = graphForm(stored, n, kind, width);
                    dbm_test::forEachKernelSet([&](kernel_set_t) {
                        Matrix decoded(size_t{n} * n);
                        readEncoded(decoded.data(), e.data());
                        ASSERT_EQ(decoded, stored);
                        Matrix scratch(size_t{n} * n);
                        for (const Matrix& a : zones) {
                            const relation_t exact = relationOracle(a, stored);
                            ASSERT_EQ(relationToEncoded(a.data(), n, e.data(), scratch.data()), exact);
                            ASSERT_EQ(relationToEncoded(a.data(), n, e.data(), nullptr),
                                      (exact & SUBSET) ? SUBSET : DIFFERENT);
                            const relation_t fast = relationToEncodedFast(a.data(), n, e.data(), scratch.data());
                            ASSERT_TRUE(fast == exact || (exact == EQUAL && fast == SUBSET));
                            ASSERT_EQ(isEqualToEncoded(a.data(), n, e.data()), exact == EQUAL);
                        }
                    });
                }
            }
        }
    }
}

namespace {

uint32_t* intoVector(uint32_t words, void* context)
{
    auto* memory = static_cast<std::vector<uint32_t>*>(context);
    memory->assign(words, 0xdeadbeef);
    return memory->data();
}

}  // namespace

// The full-matrix forms of 32 and 16 bits at the widths around the chunk sizes: the same words in every set, read back,
// and compared in the encoded form as the matrices compare.
TEST(KernelSets, FullFormsAgreeInEverySet)
{
    const uint32_t seed = baseSeed() + 4;
    Rng r(seed);
    std::vector<uint32_t> widths;
    for (uint32_t n = 3; n <= 20; ++n) widths.push_back(n);
    for (uint32_t n : {23u, 31u, 32u, 33u, 38u, 47u, 48u, 49u, 64u, 70u}) widths.push_back(n);
    for (uint32_t n : widths) {
        std::vector<Matrix> zones;
        for (int z = 0; z < 4; ++z) zones.push_back(randomZone(r, n));
        Matrix delayed = zones[0];
        up(delayed.data(), n);
        zones.push_back(delayed);
        Matrix shifted = zones[1];
        if (constrain(shifted.data(), n, 0, 1, boundLE(boundValue(shifted[1]) - 1))) zones.push_back(shifted);
        for (const Matrix& stored : zones) {
            for (bool use16 : {false, true}) {
                SCOPED_TRACE("seed " + std::to_string(seed) + ", n " + std::to_string(n) + (use16 ? ", 16 bits" : ", 32 bits"));
                const auto encodings = underEverySet([&] {
                    std::vector<uint32_t> e;
                    writeEncoded(stored.data(), n, false, use16, 0, &e, intoVector, nullptr);
                    return e;
                });
                for (size_t s = 1; s < encodings.size(); ++s) ASSERT_EQ(encodings[s], encodings[0]);
                const std::vector<uint32_t>& e = encodings[0];
                dbm_test::forEachKernelSet([&](kernel_set_t) {
                    Matrix decoded(size_t{n} * n + 1, 0x5a5a5a5a);
                    readEncoded(decoded.data(), e.data());
                    ASSERT_EQ(decoded.back(), 0x5a5a5a5a) << "reader wrote past the matrix";
                    decoded.pop_back();
                    ASSERT_EQ(decoded, stored);
                    Matrix scratch(size_t{n} * n);
                    for (const Matrix& a : zones) {
                        const relation_t exact = relationOracle(a, stored);
                        ASSERT_EQ(relationToEncoded(a.data(), n, e.data(), scratch.data()), exact);
                        ASSERT_EQ(relationToEncoded(a.data(), n, e.data(), nullptr),
                                  (exact & SUBSET) ? SUBSET : DIFFERENT);
                        ASSERT_EQ(isEqualToEncoded(a.data(), n, e.data()), exact == EQUAL);
                    }
                });
            }
        }
    }
}
