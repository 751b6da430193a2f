// The zone handle: empty markers, sharing, the zero DBM, relations, the cases
// where an operation must not copy, and the points a zone yields.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/zone.h"
#include "support/hash.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

// The closed matrix of dimension n under the given constraints (non-empty).
Matrix matrixOf(uint32_t n, std::initializer_list<clock_constraint_t> constraints)
{
    Matrix m(size_t(n) * n);
    dbm::init(m.data(), n);
    for (const clock_constraint_t& c : constraints) {
        EXPECT_TRUE(dbm::constrain(m.data(), n, c.i, c.j, c.bound)) << "fixture is empty";
    }
    return m;
}

zone_t zoneOf(uint32_t n, std::initializer_list<clock_constraint_t> constraints)
{
    Matrix m = matrixOf(n, constraints);
    zone_t z(n);
    z.assignMatrix(m.data(), n);
    return z;
}

// x_i <= v, x_i < v, x_i >= v, x_i > v
clock_constraint_t le(uint32_t i, int32_t v) { return {i, 0, boundLE(v)}; }
clock_constraint_t lt(uint32_t i, int32_t v) { return {i, 0, boundLT(v)}; }
clock_constraint_t ge(uint32_t i, int32_t v) { return {0, i, boundLE(-v)}; }
clock_constraint_t gt(uint32_t i, int32_t v) { return {0, i, boundLT(-v)}; }

TEST(Zone, EmptyMarkerKeepsItsDimensionAndHoldsNoBlock)
{
    zone_t none;
    EXPECT_EQ(none.getWord(), 3u);
    zone_t e(4);
    EXPECT_TRUE(e.isEmpty());
    EXPECT_EQ(e.getWord(), 9u);
    EXPECT_EQ(e.getDimension(), 4u);
    EXPECT_EQ(e.getBlock(), nullptr);

    zone_t z = zoneOf(3, {le(1, 5)});
    zone_t copy = z;
    EXPECT_EQ(copy.getWord(), z.getWord());
    EXPECT_EQ(z.getBlock()->count, 2u);
    zone_t moved = std::move(copy);
    EXPECT_EQ(z.getBlock()->count, 2u);
    EXPECT_TRUE(copy.isEmpty());
    EXPECT_EQ(copy.getDimension(), 3u);
    moved.setEmpty();
    EXPECT_EQ(moved.getWord(), 7u);
    EXPECT_EQ(z.getBlock()->count, 1u);
}

TEST(Zone, Relations)
{
    const zone_t empty2(2), otherEmpty2(2), empty3(3);
    const zone_t small = zoneOf(2, {le(1, 3)}), big = zoneOf(2, {le(1, 5)}), wide3 = zoneOf(3, {});
    const zone_t smallAgain = zoneOf(2, {le(1, 3)}), apart = zoneOf(2, {ge(1, 4)});
    struct Case {
        const char* name;
        const zone_t& a;
        const zone_t& b;
        relation_t expected;
    };
    const Case cases[] = {
        {"two empty zones of one dimension", empty2, otherEmpty2, EQUAL},
        {"empty in non-empty", empty2, small, SUBSET},
        {"non-empty over empty", small, empty2, SUPERSET},
        {"empty zones of different dimensions", empty2, empty3, DIFFERENT},
        {"non-empty zones of different dimensions", small, wide3, DIFFERENT},
        {"same handle", small, small, EQUAL},
        {"equal matrices in two blocks", small, smallAgain, EQUAL},
        {"x<=3 in x<=5", small, big, SUBSET},
        {"x<=5 over x<=3", big, small, SUPERSET},
        {"x<=3 and x>=4", small, apart, DIFFERENT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a.relation(c.b), c.expected) << c.name;
        const bool subsetEq = c.expected == SUBSET || c.expected == EQUAL;
        EXPECT_EQ(c.a.isSubsetEq(c.b), subsetEq) << c.name;
    }
}

TEST(Zone, ConstrainLeavesSharedBlockAloneOrEmptiesTheHandle)
{
    const zone_t owner = zoneOf(2, {ge(1, 3), le(1, 8)});

    zone_t z = owner;
    EXPECT_TRUE(z.constrain(1, 0, boundLE(8)));  // not tighter
    EXPECT_TRUE(z.constrain(1, 0, boundLE(9)));
    EXPECT_EQ(z.getWord(), owner.getWord());

    EXPECT_FALSE(z.constrain(1, 0, boundLT(3)));  // x < 3 where x >= 3
    EXPECT_TRUE(z.isEmpty());
    EXPECT_EQ(z.getDimension(), 2u);
    EXPECT_EQ(owner.getBlock()->count, 1u);
}

TEST(Zone, ConstrainAllFindsAContradictionBeforeCopying)
{
    const zone_t owner = zoneOf(3, {ge(1, 3), le(2, 4)});
    // Put a block with a recognisable matrix at the head of the free list of
    // dimension 3: a copy would be taken from there and overwrite it.
    DBMBlock* spare = allocateDBMBlock(3);
    spare->info = 3;
    std::fill(spare->matrix(), spare->matrix() + 9, 12345);
    freeDBMBlock(spare);

    zone_t z = owner;
    const clock_constraint_t constraints[] = {le(2, 2), {1, 2, boundLE(10)}, lt(1, 3)};
    EXPECT_FALSE(z.constrainAll(constraints, 3));
    EXPECT_TRUE(z.isEmpty());
    EXPECT_EQ(z.getDimension(), 3u);
    EXPECT_EQ(owner.getBlock()->count, 1u);

    DBMBlock* head = allocateDBMBlock(3);
    EXPECT_EQ(head, spare);
    EXPECT_EQ(head->matrix()[4], 12345) << "a block was copied before the contradiction was found";
    freeDBMBlock(head);
}

TEST(Zone, OperationsThatChangeNothingKeepTheBlockShared)
{
    struct Case {
        const char* name;
        zone_t start;
        void (*op)(zone_t&);
    };
    Case cases[] = {
        {"constrainClock to the value x has", zoneOf(2, {ge(1, 3), le(1, 3)}),
         [](zone_t& z) { EXPECT_TRUE(z.constrainClock(1, 3)); }},
        {"constrainAll with no tightening constraint", zoneOf(3, {le(1, 3), le(2, 4)}),
         [](zone_t& z) {
             const clock_constraint_t c[] = {le(1, 3), le(2, 9), {1, 2, boundLE(20)}};
             EXPECT_TRUE(z.constrainAll(c, 3));
         }},
        {"up of a zone without upper bounds", zoneOf(3, {ge(1, 2)}), [](zone_t& z) { z.up(); }},
        {"freeClock of an unconstrained clock", zoneOf(3, {le(2, 4)}), [](zone_t& z) { z.freeClock(1); }},
        {"swapClocks of two equal clocks", zoneOf(3, {{1, 2, boundLE(0)}, {2, 1, boundLE(0)}, le(1, 5)}),
         [](zone_t& z) { z.swapClocks(1, 2); }},
        {"updateClock of a clock with itself", zoneOf(3, {le(1, 5)}), [](zone_t& z) { z.updateClock(2, 2); }},
        {"update by 0 of a clock with itself", zoneOf(3, {le(1, 5)}), [](zone_t& z) { z.update(1, 1, 0); }},
        {"setZero of the zero zone", zoneOf(3, {le(1, 0), le(2, 0)}), [](zone_t& z) { z.setZero(); }},
        {"setInit of the unconstrained zone", zoneOf(3, {}), [](zone_t& z) { z.setInit(); }},
        {"intersection with a larger zone", zoneOf(2, {le(1, 3)}),
         [](zone_t& z) { z.intersectWith(zoneOf(2, {le(1, 4)})); }},
        {"convex union with a smaller zone", zoneOf(2, {le(1, 4)}),
         [](zone_t& z) { z.convexUnionWith(zoneOf(2, {le(1, 3)})); }},
    };
    for (Case& c : cases) {
        zone_t z = c.start;
        c.op(z);
        EXPECT_EQ(z.getWord(), c.start.getWord()) << c.name;
        EXPECT_EQ(c.start.getBlock()->count, 2u) << c.name;
    }
}

TEST(Zone, CopiesAreRecycledThroughTheFreeListOfTheirDimension)
{
    const zone_t owner = zoneOf(4, {le(1, 9)});
    zone_t z = owner;
    z.constrain(1, 0, boundLE(5));
    DBMBlock* copy = z.getBlock();
    ASSERT_NE(copy, owner.getBlock());
    z = owner;  // the copy goes back to the free list of dimension 4
    z.constrain(1, 0, boundLE(6));
    EXPECT_EQ(z.getBlock(), copy);
}

TEST(Zone, IntersectStepReportsAStrictlyIncludedOperand)
{
    const zone_t big = zoneOf(2, {le(1, 5)});
    const zone_t small = zoneOf(2, {le(1, 3)});
    zone_t z = big;
    EXPECT_TRUE(z.intersectStep(small.getMatrix(), 2));
    EXPECT_EQ(z.getWord(), big.getWord());

    z.intersectWith(small);  // the result is the other zone itself: share its block
    EXPECT_EQ(z.getWord(), small.getWord());
    EXPECT_EQ(big.getBlock()->count, 1u);

    zone_t alone = zoneOf(2, {le(1, 5)});
    EXPECT_FALSE(alone.intersectStep(small.getMatrix(), 2));  // a block held alone is intersected in place
    EXPECT_TRUE(alone.equals(small));

    zone_t apart = zoneOf(2, {ge(1, 7)});
    zone_t shared = apart;
    EXPECT_FALSE(shared.intersectStep(small.getMatrix(), 2));
    EXPECT_TRUE(shared.isEmpty());
    EXPECT_EQ(apart.getBlock()->count, 1u);
}

TEST(Zone, ConvexUnionWithEmptyZones)
{
    const zone_t other = zoneOf(2, {le(1, 3)});
    zone_t empty(2);
    empty.convexUnionWith(other);
    EXPECT_EQ(empty.getWord(), other.getWord());

    zone_t z = zoneOf(2, {le(1, 5)});
    const uintptr_t before = z.getWord();
    z.convexUnionWith(zone_t(2));
    EXPECT_EQ(z.getWord(), before);

    zone_t fromMatrix(2);
    fromMatrix.convexUnionMatrix(other.getMatrix());
    EXPECT_TRUE(fromMatrix.equals(other));
    EXPECT_NE(fromMatrix.getWord(), other.getWord());
}

TEST(Zone, DimensionOneZonesShareTheZeroDBM)
{
    const zone_t& zero = zeroDBM();
    const uint32_t count = zero.getBlock()->count;

    zone_t a(1);
    a.setZero();
    EXPECT_EQ(a.getWord(), zero.getWord());
    zone_t b(1);
    b.setInit();
    EXPECT_EQ(b.getWord(), zero.getWord());
    EXPECT_EQ(zero.getBlock()->count, count + 2);

    zone_t c = zoneOf(3, {le(1, 4)});
    const uint32_t src[] = {0x7}, dst[] = {0x1};
    uint32_t table[3] = {99, 99, 99};
    c.resize(src, dst, 1, table);
    EXPECT_EQ(c.getWord(), zero.getWord());
    EXPECT_EQ(table[0], 0u);

    zone_t d = zoneOf(3, {le(1, 4)});
    const int32_t byTable[] = {0};
    d.resizeByTable(byTable, 1);
    EXPECT_EQ(d.getWord(), zero.getWord());
    EXPECT_EQ(zero.getBlock()->count, count + 4);
}

TEST(Zone, ResizeKeepsMutualBoundsAndAddsFreeClocks)
{
    // Clocks {0, 1, 2} to {0, 2, 3}: old clock 2 becomes clock 1, clock 3 is new.
    zone_t z = zoneOf(3, {le(1, 4), ge(2, 2), le(2, 6)});
    const uint32_t src[] = {0x7}, dst[] = {0xd};
    uint32_t table[4] = {99, 99, 99, 99};
    z.resize(src, dst, 1, table);
    ASSERT_EQ(z.getDimension(), 3u);
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[2], 1u);
    EXPECT_EQ(table[3], 2u);
    EXPECT_TRUE(z.equalsMatrix(matrixOf(3, {ge(1, 2), le(1, 6)}).data()));

    zone_t same = zoneOf(3, {le(1, 4)});
    const uintptr_t before = same.getWord();
    same.resize(src, src, 1, table);  // equal clock sets: nothing
    EXPECT_EQ(same.getWord(), before);

    zone_t empty(3);
    empty.resize(src, dst, 1, table);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.getDimension(), 3u);
}

TEST(Zone, InitAboveBounds)
{
    const int32_t m[] = {0, MINUS_INF_VALUE, 3, -2};
    zone_t z;
    z.initAboveBounds(m, 4);
    ASSERT_EQ(z.getDimension(), 4u);
    // x_1 >= 0 (never compared), x_2 > 3, x_3 > -2 is just x_3 >= 0; no upper bounds.
    EXPECT_TRUE(z.equalsMatrix(matrixOf(4, {gt(2, 3)}).data()));
}

TEST(Zone, MakeWritableOrNewGivesTheEmptyZoneAFreshBlock)
{
    zone_t z(3);
    bound_t* m = z.makeWritableOrNew();
    dbm::init(m, 3);
    ASSERT_FALSE(z.isEmpty());
    EXPECT_EQ(z.getDimension(), 3u);
    EXPECT_EQ(z.getBlock()->count, 1u);
    EXPECT_FALSE(z.getBlock()->isInterned());
}

TEST(Zone, ZeroOtherClocks)
{
    // Clock x (1) kept, y (2) set to 0: x - y <= 1 becomes x <= 1.
    zone_t z = zoneOf(3, {le(2, 5), {1, 2, boundLE(1)}});
    EXPECT_TRUE(z.zeroOtherClocks(1));
    EXPECT_TRUE(z.equalsMatrix(matrixOf(3, {le(1, 1), le(2, 0)}).data()));

    // y >= 2 cannot become 0: the handle is left as the empty marker, not as a
    // block carrying an empty matrix.
    zone_t owner = zoneOf(3, {ge(2, 2)});
    zone_t w = owner;
    EXPECT_FALSE(w.zeroOtherClocks(1));
    EXPECT_TRUE(w.isEmpty());
    EXPECT_EQ(w.getDimension(), 3u);
    EXPECT_EQ(owner.getBlock()->count, 1u);
}

TEST(Zone, TestsOnEmptyZones)
{
    const zone_t e(3);
    const Matrix init = matrixOf(3, {});
    const double origin[] = {0, 0, 0};
    const int32_t intOrigin[] = {0, 0, 0};
    EXPECT_FALSE(e.containsPoint(origin));
    EXPECT_FALSE(e.containsIntPoint(intOrigin));
    EXPECT_FALSE(e.equalsMatrix(init.data()));
    EXPECT_EQ(e.relationMatrix(init.data(), 3), SUBSET);
    EXPECT_EQ(e.relationMatrix(init.data(), 2), DIFFERENT);
    EXPECT_TRUE(e.isStrictSubsetOfMatrix(init.data()));
    EXPECT_FALSE(e.isStrictSupersetOfMatrix(init.data()));
    EXPECT_FALSE(e.intersectsMatrix(init.data()));
    EXPECT_FALSE(e.hasZero());
    EXPECT_FALSE(e.hasNoFixedClock());
    EXPECT_EQ(e.maxBoundGap(1), MINUS_INF_VALUE);
    bound_t out[9] = {7, 7};
    e.copyTo(out);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], 7);
}

TEST(Zone, BoundQueries)
{
    const zone_t fixed = zoneOf(3, {ge(1, 2), le(1, 2), le(2, 9)});
    EXPECT_FALSE(fixed.hasNoFixedClock());
    EXPECT_TRUE(zoneOf(3, {ge(1, 2), le(1, 3)}).hasNoFixedClock());
    EXPECT_TRUE(fixed.hasLooserBound(2, 0, boundLE(8)));
    EXPECT_FALSE(fixed.hasLooserBound(2, 0, boundLE(9)));
    // Gap of clock 2: max over clocks with an upper bound of (upper - [i][2]).
    // x = 2, 0 <= y <= 9: i = 1 gives 2 - (x - y <= 2) = 0; i = 2 gives 9 - 0 = 9.
    EXPECT_EQ(fixed.maxBoundGap(2), 9);
    EXPECT_EQ(zoneOf(2, {}).maxBoundGap(1), INF_VALUE);
}

TEST(ZoneValuation, PicksPointsPreferringIntegers)
{
    struct Case {
        const char* name;
        zone_t zone;
        double expected;
    };
    const Case cases[] = {
        {"1 < x <= 2", zoneOf(2, {gt(1, 1), le(1, 2)}), 2.0},
        {"1 < x < 2", zoneOf(2, {gt(1, 1), lt(1, 2)}), 1.5},
        {"x >= 3", zoneOf(2, {ge(1, 3)}), 3.0},
        {"x <= 4", zoneOf(2, {le(1, 4)}), 0.0},
        {"x > 3", zoneOf(2, {gt(1, 3)}), 4.0},
    };
    for (const Case& c : cases) {
        valuation_t v;
        c.zone.getValuation(v);
        ASSERT_EQ(v.size(), 2u) << c.name;
        EXPECT_EQ(v[0], 0.0) << c.name;
        EXPECT_EQ(v[1], c.expected) << c.name;
    }
}

TEST(ZoneValuation, FixedClocksNarrowTheChoice)
{
    // y - x == 1 with x fixed by the caller at 0.5: y can only be 1.5.
    const zone_t z = zoneOf(3, {{2, 1, boundLE(1)}, {1, 2, boundLE(-1)}});
    double s[3] = {0, 0.5, 0};
    uint8_t free[3] = {1, 0, 1};
    EXPECT_TRUE(z.pickPoint(s, free));
    EXPECT_EQ(s[1], 0.5);
    EXPECT_EQ(s[2], 1.5);
    EXPECT_EQ(free[2], 0);
}

TEST(ZoneValuation, EmptyZoneHasNoValuation)
{
    valuation_t v;
    try {
        zone_t(3).getValuation(v);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "No clock valuation for empty DBMs");
    }
    double s[2] = {0, 0};
    uint8_t free[2] = {1, 1};
    EXPECT_FALSE(zone_t(2).pickPoint(s, free));
}

TEST(ZoneValuation, FailedPickNamesTheValuation)
{
    const zone_t z = zoneOf(3, {le(1, 5), {2, 1, boundLE(1)}, {1, 2, boundLE(-1)}});
    valuation_t v(3);
    v[1] = 7.0;  // x fixed at 7, outside x <= 5
    uint8_t free[3] = {1, 0, 1};
    try {
        z.getValuation(v, free);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Clock valuation");
    }
}

TEST(ZoneDelay, DelayToEnter)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double justAbove2 = base::strictlyAbove(2.0, 2e-6);
    const uint32_t yStopped[] = {0x4};
    struct Case {
        const char* name;
        zone_t zone;
        std::vector<double> point;
        const uint32_t* stopped;
        bool found;
        double delay, exact;
        bool strict;
    };
    const Case cases[] = {
        {"reaches x >= 2", zoneOf(2, {ge(1, 2), le(1, 5)}), {0, 0}, nullptr, true, 2, 2, false},
        {"reaches x > 2 just inside", zoneOf(2, {gt(1, 2), le(1, 5)}), {0, 0}, nullptr, true, justAbove2, 2, true},
        {"already inside", zoneOf(2, {ge(1, 2), le(1, 5)}), {0, 3}, nullptr, true, 0, 0, false},
        {"already beyond", zoneOf(2, {le(1, 1)}), {0, 3}, nullptr, false, inf, inf, true},
        {"the later lower bound decides", zoneOf(3, {ge(1, 2), ge(2, 4)}), {0, 0, 0}, nullptr, true, 4, 4, false},
        {"a stopped clock stays", zoneOf(3, {ge(1, 2), le(2, 1)}), {0, 0, 0}, yStopped, true, 2, 2, false},
        {"a stopped clock below its bound never enters", zoneOf(3, {ge(2, 1)}), {0, 0, 0}, yStopped, false, inf, inf,
         true},
        {"x - y >= 1 with y stopped at 3", zoneOf(3, {{2, 1, boundLE(-1)}}), {0, 0, 3}, yStopped, true, 4, 4, false},
        {"empty zone", zone_t(2), {0, 0}, nullptr, false, inf, inf, true},
    };
    for (const Case& c : cases) {
        double delay = -1, exact = -1;
        bool strict = false;
        EXPECT_EQ(c.zone.delayToEnter(c.point.data(), uint32_t(c.point.size()), &delay, &exact, &strict, c.stopped),
                  c.found)
            << c.name;
        EXPECT_EQ(delay, c.delay) << c.name;
        EXPECT_EQ(exact, c.exact) << c.name;
        EXPECT_EQ(strict, c.strict) << c.name;
    }
}

TEST(ZoneDelay, MaxDelayAndMaxPastDelay)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        zone_t zone;
        std::vector<double> point;
        const uint32_t* stopped;
        bool ok;
        double delay;
        bool strict;
    };
    const uint32_t xStopped[] = {0x2};
    const Case cases[] = {
        {"x <= 5 from 2", zoneOf(2, {le(1, 5)}), {0, 2}, nullptr, true, 3, false},
        {"x < 5 from 2", zoneOf(2, {lt(1, 5)}), {0, 2}, nullptr, true, base::strictlyBelow(3.0, 2e-6), true},
        {"the nearer upper bound", zoneOf(3, {le(1, 5), le(2, 4)}), {0, 1, 2}, nullptr, true, 2, false},
        {"a stopped clock has no limit", zoneOf(2, {le(1, 5)}), {0, 2}, xStopped, true, inf, false},
        {"beyond the upper bound", zoneOf(2, {le(1, 5)}), {0, 6}, nullptr, false, -1, false},
        {"empty zone", zone_t(2), {0, 0}, nullptr, false, -1, false},
    };
    for (const Case& c : cases) {
        double delay = -1, exact = -1;
        bool strict = false;
        EXPECT_EQ(c.zone.maxDelay(c.point.data(), uint32_t(c.point.size()), &delay, &exact, &strict, c.stopped), c.ok)
            << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(delay, c.delay) << c.name;
        EXPECT_EQ(strict, c.strict) << c.name;
    }

    struct PastCase {
        const char* name;
        zone_t zone;
        std::vector<double> point;
        double cap;
        bool ok;
        double delay;
    };
    const PastCase past[] = {
        {"back to x >= 2", zoneOf(2, {ge(1, 2)}), {0, 5}, 100, true, 3},
        {"back to just inside x > 2", zoneOf(2, {gt(1, 2)}), {0, 5}, 100, true, base::strictlyBelow(3.0, 2e-6)},
        {"capped", zoneOf(2, {ge(1, 2)}), {0, 5}, 1, true, 1},
        {"the clock nearest its bound limits", zoneOf(3, {ge(1, 2)}), {0, 5, 1}, 100, true, 1},
        {"no clock", zoneOf(1, {}), {0}, 7, true, 7},
        {"on the lower bound", zoneOf(2, {ge(1, 2)}), {0, 2}, 100, false, 0},
        {"empty zone", zone_t(2), {0, 0}, 100, false, inf},
    };
    for (const PastCase& c : past) {
        double delay = -1;
        EXPECT_EQ(c.zone.maxPastDelay(c.point.data(), uint32_t(c.point.size()), &delay, c.cap), c.ok) << c.name;
        EXPECT_EQ(delay, c.delay) << c.name;
    }
}

}  // namespace
