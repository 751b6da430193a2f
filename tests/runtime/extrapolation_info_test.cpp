// The clock constants collected from guards and invariants.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "runtime/clock_expression.h"
#include "runtime/extrapolation_info.h"
#include "testkit/expressions.h"

namespace {
using dbm::boundLE;
using dbm::boundLT;
using Bounds = ExtrapolationInfo::BoundMap;
using Differences = ExtrapolationInfo::ConstraintSet;

ExtrapolationInfo collect(Expression& e)
{
    ExtrapolationInfo info;
    e.accept(info);
    return info;
}

ClockExpr over(const IndexSet& first, const IndexSet& second, bool strict, int32_t lo, int32_t hi)
{
    return ClockExpr(Constraint(testkit::constant(first.empty() ? 0 : static_cast<int32_t>(*first.begin())),
                                testkit::constant(second.empty() ? 0 : static_cast<int32_t>(*second.begin())),
                                testkit::constant(lo), strict, first, second, {lo, hi}, {}));
}
}  // namespace

TEST(ExtrapolationInfo, StartsWithTheReferenceClock)
{
    ExtrapolationInfo info;
    EXPECT_EQ(info.getLowerBounds(), (Bounds{{0, 0}}));
    EXPECT_EQ(info.getUpperBounds(), (Bounds{{0, 0}}));
    EXPECT_TRUE(info.getDifferenceConstraints().empty());
    EXPECT_TRUE(info.setUpperBound(3, 4));
    EXPECT_FALSE(info.setUpperBound(3, 2));
    EXPECT_FALSE(info.setUpperBound(3, 4));
    EXPECT_EQ(info.getUpperBounds().at(3), 4);
}

TEST(ExtrapolationInfo, SimpleConstraints)
{
    struct Case
    {
        const char* name;
        dbm::clock_constraint_t constraint;
        Bounds lower;
        Bounds upper;
        Differences differences;
    };
    const std::vector<Case> cases = {
        {"x >= 0 records nothing", {0, 1, boundLE(0)}, {{0, 0}}, {{0, 0}}, {}},
        {"x > 0 gives lower bound 0", {0, 1, boundLT(0)}, {{0, 0}, {1, 0}}, {{0, 0}}, {}},
        {"x >= 3", {0, 1, boundLE(-3)}, {{0, 0}, {1, 3}}, {{0, 0}}, {}},
        {"x < 7", {1, 0, boundLT(7)}, {{0, 0}}, {{0, 0}, {1, 7}}, {}},
        {"x - y <= 0 marks both clocks",
         {1, 2, boundLE(0)},
         {{0, 0}, {1, 0}, {2, 0}},
         {{0, 0}, {1, 0}, {2, 0}},
         {{1, 2, boundLE(0)}}},
        {"x - y < -2 bounds y", {1, 2, boundLT(-2)}, {{0, 0}, {2, 2}}, {{0, 0}, {2, 2}}, {{1, 2, boundLT(-2)}}},
        {"x - y <= 4 bounds x", {1, 2, boundLE(4)}, {{0, 0}, {1, 4}}, {{0, 0}, {1, 4}}, {{1, 2, boundLE(4)}}},
    };
    for (const Case& c : cases) {
        SimpleConstraintExpr e(c.constraint);
        const ExtrapolationInfo info = collect(e);
        EXPECT_EQ(info.getLowerBounds(), c.lower) << c.name;
        EXPECT_EQ(info.getUpperBounds(), c.upper) << c.name;
        EXPECT_EQ(info.getDifferenceConstraints(), c.differences) << c.name;
    }
}

TEST(ExtrapolationInfo, ClockExpressions)
{
    {
        // x >= 0 and x > 0 as compiled guards.
        ClockExpr weak = over({}, {1}, false, 0, 0);
        EXPECT_EQ(collect(weak).getLowerBounds(), (Bounds{{0, 0}}));
        ClockExpr strict = over({}, {1}, true, 0, 0);
        EXPECT_EQ(collect(strict).getLowerBounds(), (Bounds{{0, 0}, {1, 0}}));
    }
    {
        // a[i] <= 2..4 over a clock array of three clocks.
        ClockExpr array = over({1, 2, 3}, {}, false, 2, 4);
        const ExtrapolationInfo info = collect(array);
        EXPECT_EQ(info.getUpperBounds(), (Bounds{{0, 0}, {1, 4}, {2, 4}, {3, 4}}));
        EXPECT_EQ(info.getLowerBounds(), (Bounds{{0, 0}}));
    }
    {
        // x - y <= 0: x gets 0; the constraint and its negation (y - x < 0) join the differences.
        ClockExpr diff = over({1}, {2}, false, 0, 0);
        const ExtrapolationInfo info = collect(diff);
        EXPECT_EQ(info.getLowerBounds(), (Bounds{{0, 0}, {1, 0}}));
        EXPECT_EQ(info.getDifferenceConstraints(), (Differences{{1, 2, boundLE(0)}, {2, 1, boundLT(0)}}));
    }
    {
        // x - y < -1..1: both clocks bounded by 1, three values each way.
        ClockExpr diff = over({1}, {2}, true, -1, 1);
        const ExtrapolationInfo info = collect(diff);
        EXPECT_EQ(info.getUpperBounds(), (Bounds{{0, 0}, {1, 1}, {2, 1}}));
        EXPECT_EQ(info.getDifferenceConstraints().size(), 6u);
        EXPECT_EQ(info.getDifferenceConstraints().count({2, 1, boundLE(1)}), 1u);
    }
}

TEST(ExtrapolationInfo, SupremaMakeEveryBoundMatter)
{
    ExtrapolationInfo info;
    info.setUpperBound(1, 5);
    ClockSupExpr sup(testkit::constant(1), {1, 2});
    sup.accept(info);
    EXPECT_EQ(info.getUpperBounds(), (Bounds{{0, 0}, {1, 5}, {2, 0x3fffffff}}));
    EXPECT_EQ(info.getLowerBounds(), (Bounds{{0, 0}, {1, 0x3fffffff}, {2, 0x3fffffff}}));
}

TEST(ExtrapolationInfo, MergeTakesLargerConstantsAndMissingDifferences)
{
    ExtrapolationInfo a;
    a.setUpperBound(1, 3);
    ExtrapolationInfo b;
    b.setUpperBound(1, 5);
    b.setLowerBound(2, 4);
    SimpleConstraintExpr d({1, 2, boundLT(1)});
    d.accept(b);

    EXPECT_FALSE(a.merge(a));
    ExtrapolationInfo excluded = a;
    EXPECT_TRUE(excluded.merge(b, {1, 2}));
    EXPECT_EQ(excluded.getUpperBounds().at(1), 3);
    EXPECT_EQ(excluded.getDifferenceConstraints().size(), 1u);

    EXPECT_TRUE(a.merge(b));
    EXPECT_EQ(a.getUpperBounds().at(1), 5);
    EXPECT_EQ(a.getLowerBounds().at(2), 4);
    EXPECT_FALSE(a.merge(b));
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
}

TEST(ExtrapolationInfo, TransferToCopiedClocks)
{
    // After an edge x := y, the bounds of x become bounds of y before it.
    ExtrapolationInfo after;
    after.setUpperBound(1, 5);
    after.setLowerBound(1, 2);
    SimpleConstraintExpr d({1, 3, boundLE(2)});
    d.accept(after);
    const ExtrapolationInfo before(after, {1}, {2});
    EXPECT_EQ(before.getUpperBounds().at(2), 5);
    EXPECT_EQ(before.getLowerBounds().at(2), 2);
    EXPECT_EQ(before.getUpperBounds().count(1), 0u);
    EXPECT_EQ(before.getDifferenceConstraints(), (Differences{{2, 3, boundLE(2)}}));
    EXPECT_TRUE(ExtrapolationInfo(after, {1}, {}) == ExtrapolationInfo());
}

TEST(ExtrapolationInfo, Text)
{
    ExtrapolationInfo info;
    info.setUpperBound(1, 5);
    SimpleConstraintExpr d({1, 2, boundLT(1)});
    d.accept(info);
    std::ostringstream os;
    os << info;
    EXPECT_EQ(os.str().substr(0, 40), "Maximum lower bounds: (0,0) (1,1) \nMaxim");
}
