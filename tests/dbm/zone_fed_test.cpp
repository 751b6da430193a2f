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
