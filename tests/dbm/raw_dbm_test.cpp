// Hand-picked cases of the raw matrix operations: bound arithmetic, emptiness,
// the boundary cases of the operations and the exact entries they write.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "dbm/dbm.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

constexpr bound_t INF = BOUND_INFINITY;
constexpr bound_t LE(int32_t v) { return boundLE(v); }
constexpr bound_t LT(int32_t v) { return boundLT(v); }

Matrix initMatrix(uint32_t dim)
{
    Matrix m(dim * dim);
    init(m.data(), dim);
    return m;
}

// The zone of one clock with lo <= x <= hi.
Matrix interval(int32_t lo, int32_t hi) { return {LE(0), LE(-lo), LE(hi), LE(0)}; }

TEST(RawBound, EncodingAndArithmetic)
{
    struct Case {
        const char* name;
        bound_t got, want;
    } cases[] = {
        {"<=3 is 7", LE(3), 7},
        {"<2 is 4", LT(2), 4},
        {"<=-3 is -5", LE(-3), -5},
        {"value of <=-3", boundValue(LE(-3)), -3},
        {"value of <-3", boundValue(LT(-3)), -3},
        {"<=3 plus <2 is <5", addFinite(LE(3), LT(2)), LT(5)},
        {"<=3 plus <=-3 is <=0", addFinite(LE(3), LE(-3)), LE(0)},
        {"<3 plus <-3 is <0", addFinite(LT(3), LT(-3)), LT(0)},
        {"infinity absorbs a sum", addBounds(INF, LE(-5)), INF},
        {"sum into infinity from the right", addBounds(LT(-2), INF), INF},
        {"negation of <=0 is <0", negateBound(LE(0)), LT(0)},
        {"negation of <=4 is <-4", negateBound(LE(4)), LT(-4)},
        {"negation of <4 is <=-4", negateBound(LT(4)), LE(-4)},
        {"weakening <5", weakenBound(LT(5)), LE(5)},
        {"strengthening <=5", strengthenBound(LE(5)), LT(5)},
        {"infinite value", boundValue(INF), INF_VALUE},
        {"minus-infinity bit pattern", MINUS_INF_VALUE, static_cast<int32_t>(0xc0000001u)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_TRUE(isStrict(INF));
    EXPECT_TRUE(isFinite(MAX_FINITE_BOUND));
    EXPECT_FALSE(isFinite(INF));
    EXPECT_LT(LT(3), LE(3)) << "a strict bound is tighter at the same value";

    // Operands far outside what a model produces wrap around in 32 bits instead of being undefined
    // (the sanitizer build checks the "instead").
    EXPECT_EQ(addFinite(MAX_FINITE_BOUND, MAX_FINITE_BOUND), -7);
    EXPECT_EQ(negateBound(INT32_MIN), INT32_MIN + 1);
    EXPECT_EQ(boundLE(INT32_MIN), 1);
    EXPECT_EQ(shiftBound(LE(0), INT32_MAX), -1);
}

TEST(RawBound, RelationNames)
{
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {0, "Different"}, {1, "Superset"}, {2, "Subset"}, {3, "Equal"}, {4, "Error"}, {0xffffffffu, "Error"}};
    for (const auto& [code, text] : cases) EXPECT_EQ(relationName(code), text) << code;
}

// Sets of difference constraints are ordered by clock i, then clock j (both unsigned), then the raw
// bound as a signed value.
TEST(RawBound, ConstraintOrder)
{
    const std::vector<clock_constraint_t> ascending = {
        {0, 5, LE(9)}, {1, 0, LT(-3)}, {1, 0, LE(-3)}, {1, 0, LE(2)}, {1, 2, LT(-7)}, {0x80000000u, 0, LE(0)}};
    for (size_t a = 0; a < ascending.size(); ++a)
        for (size_t b = 0; b < ascending.size(); ++b)
            EXPECT_EQ(ascending[a] < ascending[b], a < b) << a << " against " << b;
}

TEST(RawDbm, InitAndFormTests)
{
    const Matrix m = initMatrix(3);
    EXPECT_EQ(m, (Matrix{LE(0), LE(0), LE(0), INF, LE(0), INF, INF, INF, LE(0)}));
    EXPECT_TRUE(isInit(m.data(), 3));
    EXPECT_TRUE(isClosed(m.data(), 3));
    EXPECT_TRUE(isValid(m.data(), 3));
    EXPECT_TRUE(isUnbounded(m.data(), 3));
    EXPECT_TRUE(hasZero(m.data(), 3));
    EXPECT_TRUE(isFreeAllUp(m.data(), 3));
    EXPECT_EQ(findNotFreeAllDown(m.data(), 3), 0u);

    const Matrix x5 = interval(5, 5);
    EXPECT_FALSE(isInit(x5.data(), 2));
    EXPECT_FALSE(hasZero(x5.data(), 2));
    EXPECT_FALSE(isUnbounded(x5.data(), 2));
    EXPECT_FALSE(isFreeAllUp(x5.data(), 2));
    // The first entry freeAllDown would change is [0][1] (-11 against [0][0] = 1).
    EXPECT_EQ(findNotFreeAllDown(x5.data(), 2), 0u + (1u << 16));

    // dim 1, the matrix of no clock.
    Matrix one{LE(0)};
    EXPECT_TRUE(hasZero(one.data(), 1));
    EXPECT_TRUE(isUnbounded(one.data(), 1));
    EXPECT_TRUE(close(one.data(), 1));
}

TEST(RawDbm, ConstrainBoundaryCases)
{
    // The zero zone: every entry (<= 0).
    Matrix zero(4, LE(0));
    EXPECT_FALSE(constrain(zero.data(), 2, 1, 0, LT(0)));
    EXPECT_EQ(zero[0], EMPTY_MARK);
    EXPECT_TRUE(isEmpty(zero.data(), 2));

    // A bound equal to (or looser than) the entry changes nothing.
    const Matrix x = interval(2, 7);
    for (bound_t b : {LE(7), LT(8), INF}) {
        Matrix m = x;
        EXPECT_TRUE(constrain(m.data(), 2, 1, 0, b));
        EXPECT_EQ(m, x) << b;
    }

    // A constraint that leaves exactly one point, and one just past it.
    Matrix touch = x;
    EXPECT_TRUE(constrain(touch.data(), 2, 0, 1, LE(-7)));
    EXPECT_EQ(touch, interval(7, 7));
    Matrix past = x;
    EXPECT_FALSE(constrain(past.data(), 2, 0, 1, LT(-7)));
    EXPECT_EQ(past[0], EMPTY_MARK);
}

TEST(RawDbm, ConstrainAllClosesOnlyThroughTheConstrainedClocks)
{
    // Three clocks, all in [0, 10]. Entry [2][3] is left looser than the path
    // through clock 1 would make it: that is not closed, on purpose, so that a
    // closure through clocks 0 and 1 only is told apart from a full closure.
    const uint32_t dim = 4;
    Matrix m(dim * dim);
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j)
            m[i * dim + j] = i == j ? LE(0) : j == 0 ? LE(10) : i == 0 ? LE(0) : LE(10);
    m[2 * dim + 3] = LE(10);
    const clock_constraint_t cs[] = {{1, 0, LE(4)}, {0, 1, LE(-2)}};
    ASSERT_TRUE(constrainAll(m.data(), dim, cs, 2));
    EXPECT_EQ(m[1 * dim + 0], LE(4));
    EXPECT_EQ(m[0 * dim + 1], LE(-2));
    EXPECT_EQ(m[2 * dim + 1], LE(8)) << "x2 - x1 <= 10 - 2 through clock 0";
    EXPECT_EQ(m[1 * dim + 2], LE(4)) << "x1 - x2 <= 4 - 0 through clock 0";
    EXPECT_EQ(m[2 * dim + 3], LE(10)) << "the entry between unconstrained clocks is not revisited";

    // One constraint that tightens and one that does not: the incremental path.
    Matrix n = initMatrix(3);
    const clock_constraint_t one[] = {{1, 2, LT(3)}, {1, 0, INF}};
    ASSERT_TRUE(constrainAll(n.data(), 3, one, 2));
    EXPECT_EQ(n[1 * 3 + 2], LT(3));
    EXPECT_TRUE(isClosed(n.data(), 3));

    // A contradiction in the second constraint.
    Matrix e = initMatrix(3);
    const clock_constraint_t bad[] = {{1, 0, LE(2)}, {0, 1, LT(-2)}};
    EXPECT_FALSE(constrainAll(e.data(), 3, bad, 2));
    EXPECT_EQ(e[0], EMPTY_MARK);

    // Mapped indices: constraint clock 5 is matrix clock 2.
    Matrix mapped = initMatrix(3);
    const uint32_t table[] = {0, 1, 9, 9, 9, 2};
    const clock_constraint_t viaTable[] = {{5, 0, LE(3)}, {0, 1, LE(-4)}};
    ASSERT_TRUE(constrainAllMapped(mapped.data(), 3, table, viaTable, 2));
    EXPECT_EQ(mapped[2 * 3 + 0], LE(3));
    EXPECT_EQ(mapped[2 * 3 + 1], LE(-1));
}

TEST(RawDbm, ConstrainClockToAValue)
{
    Matrix m = initMatrix(3);
    ASSERT_TRUE(constrainClock(m.data(), 3, 1, 4));
    EXPECT_EQ(m[1 * 3 + 0], LE(4));
    EXPECT_EQ(m[0 * 3 + 1], LE(-4));
    EXPECT_EQ(m[2 * 3 + 1], INF);
    EXPECT_EQ(m[0 * 3 + 2], LE(0));
    EXPECT_EQ(m[1 * 3 + 2], LE(4)) << "x1 - x2 <= 4 since x2 >= 0";
    EXPECT_TRUE(isClosed(m.data(), 3));

    Matrix out = interval(2, 3);
    EXPECT_FALSE(constrainClock(out.data(), 2, 1, 5));
    EXPECT_EQ(out[0], EMPTY_MARK);
    EXPECT_EQ(out[3], EMPTY_MARK);
}

TEST(RawDbm, RelationCodes)
{
    const Matrix zero{LE(0), LE(0), LE(0), LE(0)};
    const Matrix all = initMatrix(2);
    const Matrix low = interval(0, 3), high = interval(2, 6);
    const Matrix one{LE(0)}, otherOne{LE(0)};
    struct Case {
        const char* name;
        const Matrix& a;
        const Matrix& b;
        uint32_t dim;
        relation_t want;
    } cases[] = {
        {"itself", low, low, 2, EQUAL},
        {"an equal copy", high, Matrix(high), 2, EQUAL},
        {"dimension 1", one, otherOne, 1, EQUAL},
        {"zero zone in unconstrained", zero, all, 2, SUBSET},
        {"unconstrained over zero zone", all, zero, 2, SUPERSET},
        {"overlapping intervals", low, high, 2, DIFFERENT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relation(c.a.data(), c.dim, c.b.data()), c.want) << c.name;
        EXPECT_EQ(isSubsetEq(c.a.data(), c.dim, c.b.data()), c.want == EQUAL || c.want == SUBSET) << c.name;
    }
    Matrix hull = low;
    convexUnion(hull.data(), 2, high.data());
    EXPECT_EQ(hull, interval(0, 6));
}

TEST(RawDbm, IntersectionOfDisjointAndTouchingZones)
{
    const Matrix low = interval(0, 3);
    Matrix highStrict{LE(0), LT(-3), LE(6), LE(0)};  // 3 < x <= 6
    EXPECT_FALSE(intersects(low.data(), 2, highStrict.data()));
    Matrix m = low;
    EXPECT_FALSE(intersect(m.data(), 2, highStrict.data()));
    EXPECT_EQ(m[0], EMPTY_MARK);
    // The weak intersection closes the gap at 3.
    Matrix w(4);
    ASSERT_TRUE(intersectWeak(w.data(), 2, low.data(), highStrict.data()));
    EXPECT_EQ(w, interval(3, 3));

    const Matrix high = interval(3, 6);
    EXPECT_TRUE(intersects(low.data(), 2, high.data()));
    Matrix t = low;
    ASSERT_TRUE(intersect(t.data(), 2, high.data()));
    EXPECT_EQ(t, interval(3, 3));
}

TEST(RawDbm, DelayAndPastOfAPoint)
{
    Matrix d = interval(5, 5);
    down(d.data(), 2);
    EXPECT_EQ(d, interval(0, 5));
    Matrix u = interval(5, 5);
    up(u.data(), 2);
    EXPECT_EQ(u, (Matrix{LE(0), LE(-5), INF, LE(0)}));

    // Two clocks, x stopped at 2, y = 3: delay moves y only.
    Matrix s = initMatrix(3);
    ASSERT_TRUE(constrainClock(s.data(), 3, 1, 2));
    ASSERT_TRUE(constrainClock(s.data(), 3, 2, 3));
    const uint32_t stopped = 1u << 1;
    Matrix su = s;
    upStopped(su.data(), 3, &stopped);
    EXPECT_EQ(su[1 * 3 + 0], LE(2));
    EXPECT_EQ(su[2 * 3 + 0], INF);
    EXPECT_EQ(su[1 * 3 + 2], LE(-1)) << "x - y <= -1 stays: y only grows";
    EXPECT_EQ(su[2 * 3 + 1], INF);
    Matrix sd = s;
    downStopped(sd.data(), 3, &stopped);
    EXPECT_EQ(sd[0 * 3 + 2], LE(0)) << "y goes back to 0";
    EXPECT_EQ(sd[0 * 3 + 1], LE(-2)) << "x stays at 2";
    EXPECT_EQ(sd[1 * 3 + 0], LE(2));
}

TEST(RawDbm, UpdatesWriteTheExpectedBounds)
{
    // 1 <= x <= 4, 0 <= y <= 2, x - y <= 3 (closed).
    Matrix base = initMatrix(3);
    const clock_constraint_t cs[] = {{1, 0, LE(4)}, {0, 1, LE(-1)}, {2, 0, LE(2)}, {1, 2, LE(3)}};
    ASSERT_TRUE(constrainAll(base.data(), 3, cs, 4));

    Matrix v = base;
    updateValue(v.data(), 3, 1, 3);
    EXPECT_EQ(v[1 * 3 + 0], 7);
    EXPECT_EQ(v[0 * 3 + 1], -5);
    EXPECT_EQ(v[1 * 3 + 1], LE(0));
    EXPECT_EQ(v[1 * 3 + 2], LE(3)) << "x - y <= 3 - 0";
    EXPECT_EQ(v[2 * 3 + 1], LE(-1)) << "y - x <= 2 - 3";

    Matrix c = base;
    updateClock(c.data(), 3, 1, 2);
    EXPECT_EQ(c[1 * 3 + 0], LE(2));
    EXPECT_EQ(c[1 * 3 + 2], LE(0));
    EXPECT_EQ(c[2 * 3 + 1], LE(0));
    Matrix same = base;
    updateClock(same.data(), 3, 2, 2);
    EXPECT_EQ(same, base);

    Matrix inc = base;
    updateIncrement(inc.data(), 3, 1, 2);
    EXPECT_EQ(inc[1 * 3 + 0], LE(6));
    EXPECT_EQ(inc[0 * 3 + 1], LE(-3));
    EXPECT_EQ(inc[1 * 3 + 1], LE(0));
    EXPECT_EQ(inc[1 * 3 + 2], LE(5));

    Matrix plus = base;
    updateClockPlus(plus.data(), 3, 2, 1, 1);  // y := x + 1
    EXPECT_EQ(plus[2 * 3 + 0], LE(5));
    EXPECT_EQ(plus[0 * 3 + 2], LE(-2));
    EXPECT_EQ(plus[2 * 3 + 1], LE(1));
    EXPECT_EQ(plus[1 * 3 + 2], LE(-1));
    EXPECT_EQ(plus[2 * 3 + 2], LE(0));
    EXPECT_TRUE(isClosed(plus.data(), 3));
}

TEST(RawDbm, Freeing)
{
    Matrix base = initMatrix(3);
    const clock_constraint_t cs[] = {{1, 0, LE(4)}, {0, 1, LE(-1)}, {2, 0, LE(2)}, {1, 2, LE(3)}};
    ASSERT_TRUE(constrainAll(base.data(), 3, cs, 4));

    Matrix f = base;
    freeClock(f.data(), 3, 1);
    EXPECT_EQ(f, (Matrix{LE(0), LE(0), LE(0), INF, LE(0), INF, LE(2), LE(2), LE(0)}));

    Matrix up1 = base;
    freeUp(up1.data(), 3, 1);
    EXPECT_EQ(up1[1 * 3 + 0], INF);
    EXPECT_EQ(up1[1 * 3 + 2], INF);
    EXPECT_EQ(up1[0 * 3 + 1], LE(-1));

    Matrix all = base;
    freeAllUp(all.data(), 3);
    EXPECT_TRUE(isFreeAllUp(all.data(), 3));
    EXPECT_EQ(all[1], LE(-1));

    Matrix dn = base;
    freeDown(dn.data(), 3, 1);
    EXPECT_EQ(dn[0 * 3 + 1], LE(0));
    EXPECT_EQ(dn[2 * 3 + 1], LE(2));

    Matrix alld = base;
    ASSERT_NE(findNotFreeAllDown(alld.data(), 3), 0u);
    freeAllDown(alld.data(), 3);
    EXPECT_EQ(findNotFreeAllDown(alld.data(), 3), 0u);
    EXPECT_TRUE(hasZero(alld.data(), 3));
    EXPECT_TRUE(isClosed(alld.data(), 3));
}

TEST(RawDbm, StrictnessOperations)
{
    Matrix low = interval(2, 5);
    ASSERT_TRUE(makeLowerBoundsStrict(low.data(), 2));
    EXPECT_EQ(low, (Matrix{LE(0), LT(-2), LE(5), LE(0)}));
    Matrix point = interval(2, 2);
    EXPECT_FALSE(makeLowerBoundsStrict(point.data(), 2));
    EXPECT_EQ(point[0], EMPTY_MARK);
    Matrix unbounded = initMatrix(3);
    ASSERT_TRUE(makeUpperBoundsStrict(unbounded.data(), 3));
    EXPECT_TRUE(isInit(unbounded.data(), 3)) << "infinite upper bounds are strict already";

    // x <= y, y <= 4: both upper bounds become strict, x < 4 follows.
    Matrix two = initMatrix(3);
    const clock_constraint_t cs[] = {{1, 2, LE(0)}, {2, 0, LE(4)}, {1, 0, LE(4)}};
    ASSERT_TRUE(constrainAll(two.data(), 3, cs, 3));
    ASSERT_TRUE(makeUpperBoundsStrict(two.data(), 3));
    EXPECT_EQ(two[1 * 3 + 0], LT(4));
    EXPECT_EQ(two[2 * 3 + 0], LT(4));
    EXPECT_TRUE(isClosed(two.data(), 3));

    Matrix open{LE(0), LT(-1), LT(3), LE(0)};
    relaxAll(open.data(), 2);
    EXPECT_EQ(open, interval(1, 3));

    // x < y, y < 3: relaxing row x keeps x < 3 (forced by x < y < 3) and makes x <= y.
    Matrix chain = initMatrix(3);
    const clock_constraint_t strict[] = {{1, 2, LT(0)}, {2, 0, LT(3)}};
    ASSERT_TRUE(constrainAll(chain.data(), 3, strict, 2));
    Matrix row = chain;
    relaxRow(row.data(), 3, 1);
    EXPECT_EQ(row[1 * 3 + 0], LT(3));
    EXPECT_EQ(row[1 * 3 + 2], LE(0));
    EXPECT_TRUE(isClosed(row.data(), 3));
    // Relaxing column y: the lower side of y (y > x, y > 0) becomes non-strict; y < 3 stays.
    Matrix column = chain;
    relaxColumn(column.data(), 3, 2);
    EXPECT_EQ(column[1 * 3 + 2], LE(0));
    EXPECT_EQ(column[0 * 3 + 2], LE(0));
    EXPECT_EQ(column[2 * 3 + 0], LT(3));
    EXPECT_TRUE(isClosed(column.data(), 3));
}

TEST(RawDbm, PointInclusionAndTolerance)
{
    const Matrix weak = interval(0, 5);
    const Matrix strict{LE(0), LE(0), LT(5), LE(0)};  // 0 <= x < 5
    struct Case {
        const char* name;
        const Matrix& m;
        double x;
        bool want;
    } cases[] = {
        {"x <= 5 accepts 5 + 1e-15", weak, 5 + 1e-15, true},
        {"x <= 5 accepts 5", weak, 5.0, true},
        {"x <= 5 rejects 5 + 1e-13", weak, 5 + 1e-13, false},
        {"x < 5 rejects 5 - 1e-15", strict, 5 - 1e-15, false},
        {"x < 5 rejects 5", strict, 5.0, false},
        {"x < 5 accepts 5 - 1e-13", strict, 5 - 1e-13, true},
        {"x >= 0 accepts -1e-15", weak, -1e-15, true},
        {"x >= 0 rejects -1e-13", weak, -1e-13, false},
        {"NaN is in no zone", weak, std::nan(""), false},
    };
    for (const auto& c : cases) {
        const double p[] = {0.0, c.x};
        EXPECT_EQ(isRealPointIncluded(c.m.data(), 2, p), c.want) << c.name;
    }

    const struct {
        int32_t x;
        bool weak, strict;
    } ints[] = {{0, true, true}, {4, true, true}, {5, true, false}, {6, false, false}, {-1, false, false}};
    for (const auto& c : ints) {
        const int32_t p[] = {0, c.x};
        EXPECT_EQ(isPointIncluded(weak.data(), 2, p), c.weak) << c.x;
        EXPECT_EQ(isPointIncluded(strict.data(), 2, p), c.strict) << c.x;
    }
    // Extreme valuations do not overflow the test.
    const int32_t far[] = {0, INT32_MAX};
    EXPECT_FALSE(isPointIncluded(weak.data(), 2, far));
    const int32_t farNeg[] = {INT32_MIN, INT32_MAX};
    EXPECT_FALSE(isPointIncluded(initMatrix(2).data(), 2, farNeg));
}

TEST(RawDbm, ChangeClocksKeepsDropsAndAdds)
{
    // Old clocks {0, 1, 2}: 1 <= x1 <= 2, 3 <= x2 <= 4, x2 - x1 <= 2 (closed).
    Matrix old = initMatrix(3);
    const clock_constraint_t cs[] = {{1, 0, LE(2)}, {0, 1, LE(-1)}, {2, 0, LE(4)}, {0, 2, LE(-3)}, {2, 1, LE(2)}};
    ASSERT_TRUE(constrainAll(old.data(), 3, cs, 5));

    const uint32_t oldBits = 0b0111, newBits = 0b1101;  // {0, 1, 2} -> {0, 2, 3}
    uint32_t positions[32];
    std::fill(std::begin(positions), std::end(positions), 77u);
    Matrix next(9, 12345);
    ASSERT_EQ(changeClocks(old.data(), 3, next.data(), &oldBits, &newBits, 1, positions), 3u);
    EXPECT_EQ(positions[0], 0u);
    EXPECT_EQ(positions[1], 77u) << "a dropped position is not written";
    EXPECT_EQ(positions[2], 1u);
    EXPECT_EQ(positions[3], 2u);
    // New clock 1 is old clock 2; new clock 2 is fresh: row (< infinity), column from column 0.
    EXPECT_EQ(next, (Matrix{LE(0), LE(-3), LE(0), LE(4), LE(0), LE(4), INF, INF, LE(0)}));
    EXPECT_TRUE(isClosed(next.data(), 3));

    int32_t newToOld[3];
    uint32_t table[32];
    ASSERT_EQ(mapClocks(&oldBits, &newBits, 1, table, newToOld), 3u);
    EXPECT_EQ(newToOld[0], 0);
    EXPECT_EQ(newToOld[1], 2);
    EXPECT_EQ(newToOld[2], -1);

    // Growing across a word boundary: keep clock 1, add position 33.
    const uint32_t oldWide[2] = {0b011, 0}, newWide[2] = {0b011, 0b10};
    uint32_t wideTable[64];
    Matrix grown(9);
    const Matrix small = interval(1, 2);
    ASSERT_EQ(changeClocks(small.data(), 2, grown.data(), oldWide, newWide, 2, wideTable), 3u);
    EXPECT_EQ(wideTable[33], 2u);
    EXPECT_EQ(grown, (Matrix{LE(0), LE(-1), LE(0), LE(2), LE(0), LE(2), INF, INF, LE(0)}));

    // Down to the reference clock alone.
    const uint32_t only0 = 1;
    Matrix none(1, 5);
    ASSERT_EQ(changeClocks(old.data(), 3, none.data(), &oldBits, &only0, 1, positions), 1u);
    EXPECT_EQ(none[0], LE(0));
}

TEST(RawDbm, SwapClocks)
{
    Matrix m = initMatrix(3);
    const clock_constraint_t cs[] = {{1, 0, LE(2)}, {0, 2, LE(-3)}};
    ASSERT_TRUE(constrainAll(m.data(), 3, cs, 2));
    Matrix s = m;
    swapClocks(s.data(), 3, 1, 2);
    for (uint32_t i = 0; i < 3; ++i)
        for (uint32_t j = 0; j < 3; ++j) {
            const uint32_t si = i == 1 ? 2 : i == 2 ? 1 : i, sj = j == 1 ? 2 : j == 2 ? 1 : j;
            EXPECT_EQ(s[si * 3 + sj], m[i * 3 + j]) << i << "," << j;
        }
}

}  // namespace
