// Hand-picked cases of the four extrapolations: what each keeps, drops and raises.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "dbm/extrapolation.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

constexpr bound_t INF = BOUND_INFINITY;
constexpr bound_t LE(int32_t v) { return boundLE(v); }
constexpr bound_t LT(int32_t v) { return boundLT(v); }
constexpr int32_t NEVER = MINUS_INF_VALUE;  // a clock the model never compares
constexpr int32_t ALWAYS = INF_VALUE;       // a clock all of whose bounds matter

Matrix zone(uint32_t dim, std::vector<clock_constraint_t> cs)
{
    Matrix m(dim * dim);
    init(m.data(), dim);
    EXPECT_TRUE(constrainAll(m.data(), dim, cs.data(), cs.size()));
    return m;
}

enum Variant { MAX, MAX_DIAGONAL, LU, LU_DIAGONAL };
const char* const variantNames[] = {"extrapolateMaxBounds", "extrapolateMaxBoundsDiagonal", "extrapolateLUBounds",
                                    "extrapolateLUBoundsDiagonal"};

// Max-bounds variants take `lower` as M.
Matrix run(Variant v, Matrix m, uint32_t dim, const std::vector<int32_t>& lower, const std::vector<int32_t>& upper)
{
    switch (v) {
    case MAX: extrapolateMaxBounds(m.data(), dim, lower.data()); break;
    case MAX_DIAGONAL: extrapolateMaxBoundsDiagonal(m.data(), dim, lower.data()); break;
    case LU: extrapolateLUBounds(m.data(), dim, lower.data(), upper.data()); break;
    case LU_DIAGONAL: extrapolateLUBoundsDiagonal(m.data(), dim, lower.data(), upper.data()); break;
    }
    return m;
}

TEST(RawExtrapolation, KeepsDropsAndRaises)
{
    // One clock with 7 <= x <= 9.
    const Matrix x79 = zone(2, {{1, 0, LE(9)}, {0, 1, LE(-7)}});
    // One clock with 3 <= x <= 7.
    const Matrix x37 = zone(2, {{1, 0, LE(7)}, {0, 1, LE(-3)}});
    // x >= 6, y >= 5, x - y <= 3, no upper bounds.
    const Matrix pair = zone(3, {{0, 1, LE(-6)}, {0, 2, LE(-5)}, {1, 2, LE(3)}});
    // 2 <= x <= 3, 1 <= y <= 4, x - y <= 1.
    const Matrix xy = zone(3, {{1, 0, LE(3)}, {0, 1, LE(-2)}, {2, 0, LE(4)}, {0, 2, LE(-1)}, {1, 2, LE(1)}});
    Matrix xyFreed = xy;
    freeClock(xyFreed.data(), 3, 1);

    const Matrix above5{LE(0), LT(-5), INF, LE(0)};  // x > 5
    struct Case {
        const char* name;
        std::vector<Variant> variants;
        const Matrix& in;
        uint32_t dim;
        std::vector<int32_t> lower, upper;
        Matrix want;
    } cases[] = {
        {"a clock above its constant keeps only x > M", {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}, x79, 2, {0, 5}, {0, 5},
         above5},
        {"constants above every bound change nothing", {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}, x79, 2, {0, 10}, {0, 10},
         x79},
        {"infinite constants change nothing", {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}, xy, 3, {0, ALWAYS, ALWAYS},
         {0, ALWAYS, ALWAYS}, xy},
        {"a never-compared clock is freed", {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}, xy, 3, {0, NEVER, 10},
         {0, NEVER, 10}, xyFreed},
        {"an upper bound above L goes", {LU, LU_DIAGONAL}, x37, 2, {0, 2}, {0, 8}, zone(2, {{0, 1, LE(-3)}})},
        {"a lower bound above U is raised", {LU, LU_DIAGONAL}, x37, 2, {0, 8}, {0, 2},
         Matrix{LE(0), LT(-2), LE(7), LE(0)}},
        {"the plain variant keeps a difference within the constants", {MAX, LU}, pair, 3, {0, 4, 4}, {0, 4, 4},
         Matrix{LE(0), LT(-4), LT(-4), INF, LE(0), LE(3), INF, INF, LE(0)}},
        {"the diagonal variant drops a difference of clocks above their constants", {MAX_DIAGONAL, LU_DIAGONAL},
         pair, 3, {0, 4, 4}, {0, 4, 4}, Matrix{LE(0), LT(-4), LT(-4), INF, LE(0), INF, INF, INF, LE(0)}},
        {"a negative constant keeps x >= 0", {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}, x79, 2, {0, -1}, {0, -1},
         Matrix{LE(0), LE(0), INF, LE(0)}},
    };
    for (const auto& c : cases)
        for (Variant v : c.variants) {
            const Matrix got = run(v, c.in, c.dim, c.lower, c.upper);
            EXPECT_EQ(got, c.want) << c.name << " (" << variantNames[v] << ")";
        }
}

TEST(RawExtrapolation, NothingBelowDimensionTwo)
{
    const std::vector<int32_t> constants{NEVER};
    for (Variant v : {MAX, MAX_DIAGONAL, LU, LU_DIAGONAL}) {
        const Matrix one{LE(0)};
        EXPECT_EQ(run(v, one, 1, constants, constants), one) << variantNames[v];
    }
}

}  // namespace
