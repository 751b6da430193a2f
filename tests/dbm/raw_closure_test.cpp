// The partial closures (after one tightened entry, through the marked clocks, through one clock,
// through the clocks with constants) give exactly what the full closure gives where their callers
// use them, and report emptiness alike, under every kernel set the processor runs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "kernel_sets.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

std::string show(const Matrix& m, uint32_t dim)
{
    std::string s;
    for (uint32_t k = 0; k < dim * dim; ++k)
        s += (isInfinite(m[k]) ? std::string("inf") : std::to_string(m[k])) + (k % dim == dim - 1 ? "\n" : " ");
    return s;
}

struct Rng {
    std::mt19937 gen;
    explicit Rng(uint32_t seed) : gen(seed) {}
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bound_t bound(int lo, int hi) { return range(0, 1) ? boundLE(range(lo, hi)) : boundLT(range(lo, hi)); }
    // Two distinct clocks, either may be the reference clock.
    std::pair<uint32_t, uint32_t> pair(uint32_t dim)
    {
        const uint32_t i = uint32_t(range(0, int(dim) - 1));
        uint32_t j = uint32_t(range(0, int(dim) - 2));
        return {i, j >= i ? j + 1 : j};
    }
};

// A closed, non-empty zone with a few bounds of every kind.
Matrix randomZone(Rng& r, uint32_t dim)
{
    for (;;) {
        Matrix m(dim * dim);
        init(m.data(), dim);
        for (int k = r.range(0, 2 * int(dim)); k > 0; --k) {
            const auto [i, j] = r.pair(dim);
            const bound_t b = i == 0 ? r.bound(-8, 0) : r.bound(j == 0 ? 0 : -8, 8);
            m[i * dim + j] = std::min(m[i * dim + j], b);
        }
        if (close(m.data(), dim)) return m;
    }
}

// The full closure of m, or an empty matrix when m holds no point.
Matrix closed(Matrix m, uint32_t dim)
{
    return close(m.data(), dim) ? m : Matrix{};
}

TEST(RawClosure, PartialClosuresAgreeWithTheFullClosure)
{
    dbm_test::forEachKernelSet([&](kernel_set_t) {
        for (uint32_t seed = 1; seed <= 600; ++seed) {
            Rng r(seed);
            // Mostly small matrices; every fourth one wide enough for several vector chunks.
            const uint32_t dim = seed % 4 == 0 ? uint32_t(r.range(7, 32)) : uint32_t(r.range(2, 6));
            const Matrix z = randomZone(r, dim);
            SCOPED_TRACE("seed " + std::to_string(seed) + ", zone\n" + show(z, dim));

            // One entry tightened without contradiction: the incremental closure.
            {
                const auto [i, j] = r.pair(dim);
                const bound_t b = r.bound(-8, 8);
                if (b < z[i * dim + j] && negateBound(b) < z[j * dim + i]) {
                    Matrix m = z;
                    m[i * dim + j] = b;
                    const Matrix want = closed(m, dim);
                    ASSERT_FALSE(want.empty());
                    Matrix viaEntry = m;
                    closeEntry(viaEntry.data(), dim, i, j);
                    EXPECT_EQ(viaEntry, want) << "closeEntry " << i << "," << j;
                    closeEntryIfNeeded(m.data(), dim, i, j);
                    EXPECT_EQ(m, want) << "closeEntryIfNeeded " << i << "," << j;
                }
            }

            // Several entries tightened, their clocks marked: closure through the marked clocks.
            {
                Matrix m = z;
                uint32_t marks[1] = {0};
                for (int k = r.range(1, 3); k > 0; --k) {
                    const auto [i, j] = r.pair(dim);
                    m[i * dim + j] = std::min(m[i * dim + j], r.bound(-8, 8));
                    marks[0] |= (1u << i) | (1u << j);
                }
                const Matrix want = closed(m, dim);
                const bool nonEmpty = closeMarked(m.data(), dim, marks);
                EXPECT_EQ(nonEmpty, !want.empty()) << "closeMarked";
                if (nonEmpty && !want.empty()) {
                    EXPECT_EQ(m, want) << "closeMarked";
                }
            }

            // A clock fixed at a value: closure through the reference clock, then through that clock.
            {
                const uint32_t x = uint32_t(r.range(1, int(dim) - 1));
                const int32_t v = r.range(0, 8);
                Matrix m = z;
                m[x * dim] = std::min(m[x * dim], boundLE(v));
                m[x] = std::min(m[x], boundLE(-v));
                const Matrix want = closed(m, dim);
                Matrix viaClock = m;
                const bool nonEmpty = closeThroughClock(viaClock.data(), dim, 0) && closeThroughClock(viaClock.data(), dim, x);
                EXPECT_EQ(nonEmpty, !want.empty()) << "closeThroughClock " << x << " := " << v;
                if (nonEmpty) {
                    EXPECT_EQ(viaClock, want) << "closeThroughClock";
                } else {
                    EXPECT_EQ(viaClock[0], EMPTY_MARK) << "closeThroughClock";
                }
            }

            // Loosened bounds (as an extrapolation leaves them), every clock with a constant.
            {
                Matrix m = z;
                for (int k = r.range(1, 3); k > 0; --k) {
                    const auto [i, j] = r.pair(dim);
                    if (i != 0) m[i * dim + j] = BOUND_INFINITY;
                }
                const std::vector<int32_t> constants(dim, 3);
                const Matrix want = closed(m, dim);
                ASSERT_FALSE(want.empty());
                closeThroughActive(m.data(), dim, constants.data(), constants.data());
                EXPECT_EQ(m, want) << "closeThroughActive";
            }
        }
    });
}

}  // namespace
