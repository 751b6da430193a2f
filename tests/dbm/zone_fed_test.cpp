// A single zone against a federation.

#include <gtest/gtest.h>

#include <vector>

#include "dbm/dbm.h"
#include "dbm/fed.h"
#include "dbm/zone.h"

namespace {

using namespace dbm;

zone_t upTo(int32_t lower, int32_t upper)
{
    bound_t m[4];
    dbm::init(m, 2);
    dbm::constrain(m, 2, 0, 1, boundLE(-lower));
    dbm::constrain(m, 2, 1, 0, boundLE(upper));
    zone_t z(2);
    z.assignMatrix(m, 2);
    return z;
}

// Two zones of three clocks whose bounds agree pair by pair, although together they
// demand 10 <= x1 <= x3 + 2 <= x2 + 1 < 9: the quick test lets them through, the exact
// test finds them disjoint, in every form.
TEST(ZoneAndFederation, TheExactIntersectionTestSeesWhatTheQuickOneCannot)
{
    const uint32_t dim = 4;
    bound_t a[16], b[16];
    dbm::init(a, dim);
    ASSERT_TRUE(dbm::constrain(a, dim, 0, 1, boundLE(-10)));  // 10 <= x1
    ASSERT_TRUE(dbm::constrain(a, dim, 3, 2, boundLE(-1)));   // x3 + 1 <= x2
    dbm::init(b, dim);
    ASSERT_TRUE(dbm::constrain(b, dim, 1, 3, boundLE(2)));    // x1 <= x3 + 2
    ASSERT_TRUE(dbm::constrain(b, dim, 2, 0, boundLT(8)));    // x2 < 8

    EXPECT_TRUE(dbm::intersects(a, dim, b));
    EXPECT_FALSE(dbm::intersectsExactly(a, dim, b));
    EXPECT_FALSE(dbm::intersectsExactly(b, dim, a));

    zone_t za(dim), zb(dim);
    za.assignMatrix(a, dim);
    zb.assignMatrix(b, dim);
    EXPECT_TRUE(za.intersects(zb));
    EXPECT_FALSE(za.intersectsExactly(zb));
    EXPECT_FALSE(za.intersectsMatrixExactly(b));
    fed_t fb(zb), fa(za);
    EXPECT_FALSE(za.intersectsFedExactly(fb));
    EXPECT_FALSE(fa.intersectsExactly(fb));
    EXPECT_FALSE(fa.intersectsZoneExactly(zb));
    EXPECT_FALSE(fa.intersectsMatrixExactly(b, dim));

    // Zones that do meet are found so, and the quick test's no stays exact.
    bound_t c[16];
    dbm::init(c, dim);
    ASSERT_TRUE(dbm::constrain(c, dim, 1, 0, boundLT(9)));    // x1 < 9
    zone_t zc(dim);
    zc.assignMatrix(c, dim);
    EXPECT_TRUE(zc.intersectsExactly(zb));
    fb.unionWithZone(zc);
    EXPECT_FALSE(fa.intersectsExactly(fb));
    EXPECT_FALSE(dbm::intersects(a, dim, c));
    EXPECT_FALSE(dbm::intersectsExactly(a, dim, c));
    EXPECT_FALSE(zone_t(dim).intersectsExactly(zb));
}

TEST(ZoneAndFederation, IntersectsAndConvexUnion)
{
    fed_t fed(upTo(0, 1));
    fed.unionWithZone(upTo(4, 5));  // x <= 1 or 4 <= x <= 5

    EXPECT_TRUE(upTo(5, 7).intersectsFed(fed));
    EXPECT_FALSE(upTo(2, 3).intersectsFed(fed));
    EXPECT_FALSE(zone_t(2).intersectsFed(fed));
    EXPECT_FALSE(upTo(0, 9).intersectsFed(fed_t(2)));

    zone_t hull(2);
    hull.convexUnionFed(fed);
    EXPECT_TRUE(hull.equals(upTo(0, 5)));

    zone_t wider = upTo(3, 9);
    wider.convexUnionFed(fed);
    EXPECT_TRUE(wider.equals(upTo(0, 9)));
}

}  // namespace
