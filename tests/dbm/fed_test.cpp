// Federations: sharing and list order, the per-DBM operations, set algebra on
// hand-picked zones, text, hash and valuation.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbm/fed.h"
#include "dbm/print.h"
#include "support/hash.h"

using namespace dbm;

namespace
{
    class Names : public ClockAccessor
    {
    public:
        std::string getClockName(uint32_t c) const override
        {
            static const char* names[] = {"t0", "x", "y", "z"};
            return names[c];
        }
    };
    const Names names;

    // Bounds on clocks of the tests: x is clock 1, y clock 2.
    clock_constraint_t upper(uint32_t c, int32_t v, bool strict = false)
    {
        return {c, 0, strict ? boundLT(v) : boundLE(v)};
    }
    clock_constraint_t lower(uint32_t c, int32_t v, bool strict = false)
    {
        return {0, c, strict ? boundLT(-v) : boundLE(-v)};
    }
    clock_constraint_t diff(uint32_t i, uint32_t j, int32_t v, bool strict = false)
    {
        return {i, j, strict ? boundLT(v) : boundLE(v)};
    }

    zone_t zoneOf(uint32_t dim, std::initializer_list<clock_constraint_t> cs)
    {
        zone_t z(dim);
        z.setInit();
        for (const auto& c : cs) {
            EXPECT_TRUE(z.constrain(c)) << "test zone is empty";
        }
        return z;
    }

    // A federation holding exactly these zones, in this list order.
    fed_t fedOf(uint32_t dim, std::initializer_list<zone_t> zones)
    {
        std::vector<FederationNode*> nodes;
        for (const auto& z : zones) {
            FederationNode* n = newFederationNode(nullptr);
            n->zone = z;
            nodes.push_back(n);
        }
        fed_t f(dim);
        f.attachNodes(nodes.data(), nodes.size());
        return f;
    }

    std::string text(const fed_t& f, bool all = false) { return f.toString(names, all); }

    std::vector<uintptr_t> words(const fed_t& f)
    {
        std::vector<uintptr_t> w;
        for (const auto& z : f) {
            w.push_back(z.getWord());
        }
        return w;
    }

    // One clock.
    zone_t interval(int32_t lo, int32_t hi, bool loStrict = false, bool hiStrict = false)
    {
        return zoneOf(2, {lower(1, lo, loStrict), upper(1, hi, hiStrict)});
    }
}

TEST(FedSharing, ChangingASharedCopyReversesItsListAndLeavesTheOtherAlone)
{
    const zone_t a = interval(0, 1), b = interval(3, 4), c = interval(6, 7);
    fed_t f = fedOf(2, {a, b, c});
    fed_t g = f;
    EXPECT_EQ(f.getHeader(), g.getHeader());

    // A constraint every DBM satisfies changes no block but unshares the header.
    EXPECT_TRUE(g.constrain(1, 0, boundLE(10)));
    EXPECT_NE(f.getHeader(), g.getHeader());
    EXPECT_EQ(words(f), (std::vector<uintptr_t>{a.getWord(), b.getWord(), c.getWord()}));
    EXPECT_EQ(words(g), (std::vector<uintptr_t>{c.getWord(), b.getWord(), a.getWord()}));

    // The valuation comes from the first DBM: the former last one after unsharing.
    valuation_t v(2);
    g.getValuation(v);
    EXPECT_EQ(v[1], 6.0);
    f.getValuation(v);
    EXPECT_EQ(v[1], 0.0);
}

TEST(FedSharing, RemovingDuringAWalkLeavesSharedCopiesAlone)
{
    const fed_t f = fedOf(2, {interval(0, 1), interval(3, 4), interval(6, 7)});
    fed_t g = f;
    for (auto it = g.beginMutable(); !it.atEnd();) {
        if ((*it)(1, 0) == boundLE(4)) {
            it.remove();
        } else {
            it.next();
        }
    }
    EXPECT_EQ(text(g), "(6<=x && x<=7) || (x<=1)");
    EXPECT_EQ(g.size(), 2u);
    EXPECT_EQ(f.size(), 3u);
}

TEST(FedSharing, ReductionsNeverChangeASharedHeader)
{
    fed_t f = fedOf(2, {interval(0, 1), interval(0, 3), interval(0, 1)});
    const fed_t keep = f;
    f.reduceByRelation();
    EXPECT_EQ(text(f), "(x<=3)");
    EXPECT_EQ(keep.size(), 3u);

    fed_t g = fedOf(2, {interval(0, 2), interval(1, 3), interval(0, 3)});
    const fed_t keep2 = g;
    g.removeRedundant();
    EXPECT_EQ(text(g), "(x<=3)");
    EXPECT_EQ(keep2.size(), 3u);
}

TEST(FedSharing, OperationsThatChangeNothingKeepHeaderAndBlocks)
{
    fed_t f = fedOf(3, {zoneOf(3, {upper(1, 2), upper(2, 3)})});
    fed_t g = f;
    g.updateClock(2, 2);
    EXPECT_EQ(f.getHeader(), g.getHeader()) << "x := x must not even unshare";

    fed_t zero(3);
    zero.setZero();
    const auto* header = zero.getHeader();
    const uintptr_t block = zero.begin()->getWord();
    zero.setZero();
    EXPECT_EQ(header, zero.getHeader());
    EXPECT_EQ(block, zero.begin()->getWord());

    fed_t e(3);
    e.assignZone(zone_t(4));
    EXPECT_TRUE(e.isEmpty());
    EXPECT_EQ(e.getDimension(), 4u);
}

TEST(FedConstrain, RemovesEmptiedDBMsAndKeepsTheDimension)
{
    fed_t f = fedOf(2, {interval(0, 1), interval(3, 4)});
    EXPECT_TRUE(f.constrain(1, 0, boundLE(2)));
    EXPECT_EQ(text(f), "(x<=1)");
    EXPECT_FALSE(f.constrain(0, 1, boundLT(-5)));
    EXPECT_TRUE(f.isEmpty());
    EXPECT_EQ(f.getDimension(), 2u);

    fed_t g = fedOf(2, {interval(0, 1), interval(3, 4)});
    const clock_constraint_t one[] = {upper(1, 2)};
    fed_t h = g;
    EXPECT_TRUE(g.constrain(one, 1));
    EXPECT_TRUE(h.constrain(one, 0));
    EXPECT_EQ(text(g), "(x<=1)");
    EXPECT_EQ(h.size(), 2u);

    // Indexed constraints: the table maps the constraint's clock 1 to y and 2 to x.
    const uint32_t table[] = {0, 2, 1};
    const std::vector<clock_constraint_t> cs = {upper(1, 2), lower(2, 1)};
    const fed_t start = fedOf(3, {zoneOf(3, {lower(2, 3)}), zoneOf(3, {upper(1, 5), upper(2, 4)})});
    fed_t byArray = start, byPair = start, byVector = start;
    EXPECT_TRUE(byArray.constrainIndexed(table, cs.data(), cs.size()));
    EXPECT_TRUE(byPair.constrainIndexed(table, std::make_pair(cs.data(), cs.size())));
    EXPECT_TRUE(byVector.constrainIndexed(table, cs));
    for (const fed_t* f : {&byArray, &byPair, &byVector}) {
        EXPECT_EQ(text(*f), "(1<=x && x<=5 && y<=2)");
    }
}

TEST(FedUnion, AddsAtTheFrontAndRemovesCoveredDBMs)
{
    const zone_t a = interval(0, 1), b = interval(3, 4);
    struct Case
    {
        const char* name;
        std::vector<zone_t> start;
        zone_t added;
        std::string expected;
    } cases[] = {
        {"disjoint goes first", {a}, b, "(3<=x && x<=4) || (x<=1)"},
        {"equal zone moves to the front", {a, b}, interval(3, 4), "(3<=x && x<=4) || (x<=1)"},
        {"strictly inside changes nothing", {a, b}, interval(3, 3), "(x<=1) || (3<=x && x<=4)"},
        {"covering zone replaces", {a, b}, interval(0, 5), "(x<=5)"},
        {"into empty", {}, a, "(x<=1)"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fed_t f(2);
        for (auto it = c.start.rbegin(); it != c.start.rend(); ++it) {
            f.unionWithZone(*it);
        }
        f.unionWithZone(c.added);
        EXPECT_EQ(text(f), c.expected);
    }

    fed_t e(2);
    const fed_t other = fedOf(2, {a, b});
    e.unionWith(other);
    EXPECT_EQ(e.getHeader(), other.getHeader()) << "an empty federation takes the other's header";
    e.up();
    EXPECT_NE(e.getHeader(), other.getHeader());
    EXPECT_EQ(text(other), "(x<=1) || (3<=x && x<=4)");
}

TEST(FedSubtract, PiecesFollowTheCutOrder)
{
    struct Case
    {
        const char* name;
        fed_t from;
        zone_t cut;
        std::string expected;
    } cases[] = {
        {"one clock, inner interval", fedOf(2, {interval(0, 10)}), interval(3, 5), "(x<3) || (5<x && x<=10)"},
        {"unbounded zone is cut on its open side first", fedOf(2, {zoneOf(2, {})}), interval(3, 5),
         "(x<3) || (5<x)"},
        {"unconstrained cut empties", fedOf(2, {interval(0, 1), interval(3, 4)}), zoneOf(2, {}), "false"},
        {"no meeting DBM: order reversed", fedOf(2, {interval(0, 1), interval(3, 4)}), interval(6, 7),
         "(3<=x && x<=4) || (x<=1)"},
        {"two clocks, corner removed", fedOf(3, {zoneOf(3, {upper(1, 4), upper(2, 4)})}),
         zoneOf(3, {lower(1, 2), lower(2, 2)}), "(2<=x && x<=4 && y<2) || (x<2 && y<=4)"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.from.subtractZone(c.cut);
        EXPECT_EQ(text(c.from), c.expected);
    }

    // A shared federation is reversed once by unsharing and once by the subtraction.
    fed_t f = fedOf(2, {interval(0, 1), interval(3, 4)});
    fed_t g = f;
    g.subtractZone(interval(6, 7));
    EXPECT_EQ(text(g), text(f));

    fed_t s = fedOf(2, {interval(0, 1), interval(3, 4)});
    s.subtract(s);
    EXPECT_TRUE(s.isEmpty());
}

TEST(FedSubtract, FederationMinusFederation)
{
    fed_t f = fedOf(2, {interval(0, 10)});
    const fed_t holes = fedOf(2, {interval(1, 2), interval(5, 6)});
    f.subtract(holes);
    // Each hole splits what is left; every piece is disjoint from the others.
    EXPECT_EQ(f.size(), 3u);
    EXPECT_FALSE(f.intersects(holes));
    for (int32_t v : {0, 3, 4, 7, 10}) {
        const int32_t point[] = {0, v};
        EXPECT_TRUE(f.containsIntPoint(point)) << v;
    }
}

TEST(FedRelation, InexactAndExact)
{
    const fed_t split = fedOf(2, {interval(0, 1), interval(1, 2)});
    const fed_t whole = fedOf(2, {interval(0, 2)});
    const fed_t pair = fedOf(2, {interval(0, 2), interval(4, 5)});
    struct Case
    {
        const char* name;
        fed_t a, b;
        int relation;
        bool aInB, bInA;
    } cases[] = {
        {"two empties", fed_t(2), fed_t(2), 3, true, true},
        {"empty and non-empty", fed_t(2), whole, 2, true, false},
        {"different dimensions", fed_t(2), fed_t(3), 0, true, true},
        {"split cover is only a pairwise subset", split, whole, 2, true, true},
        {"whole against split", whole, split, 1, true, true},
        {"against two DBMs", whole, pair, 2, true, false},
        {"two DBMs against one", pair, whole, 1, false, true},
        {"same header", pair, pair, 3, true, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.relation(c.b), c.relation);
        if (c.a.getDimension() == c.b.getDimension()) {
            EXPECT_EQ(c.a.isSubsetEq(c.b), c.aInB);
            EXPECT_EQ(c.b.isSubsetEq(c.a), c.bInA);
        }
    }
    EXPECT_TRUE(interval(0, 2).isSubsetEqFed(split));
    EXPECT_FALSE(interval(0, 3).isSubsetEqFed(split));
    EXPECT_EQ(split.relationExact(whole), 3);
}

TEST(FedMergeReduce, OneClockCases)
{
    struct Case
    {
        const char* name;
        std::vector<zone_t> zones;
        std::string expected;
    } cases[] = {
        {"touching, one side strict", {interval(0, 3), interval(3, 5, true)}, "(x<=5)"},
        {"both strict at the same point", {interval(0, 3, false, true), interval(3, 5, true)},
         "(x<3) || (3<x && x<=5)"},
        {"overlapping", {interval(0, 2), interval(1, 4)}, "(x<=4)"},
        {"included", {interval(0, 2), interval(0, 4)}, "(x<=4)"},
        {"gap", {interval(0, 1), interval(2, 3)}, "(x<=1) || (2<=x && x<=3)"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fed_t f(2);
        {
            std::vector<FederationNode*> nodes;
            for (const auto& z : c.zones) {
                FederationNode* n = newFederationNode(nullptr);
                n->zone = z;
                nodes.push_back(n);
            }
            f.attachNodes(nodes.data(), nodes.size());
        }
        f.mergeReduce();
        EXPECT_EQ(text(f), c.expected);
    }

    fed_t f = fedOf(2, {interval(0, 2), interval(1, 4)});
    f.mergeReduce(5);
    EXPECT_EQ(f.size(), 2u) << "a start beyond the list compares nothing";
}

TEST(FedMergeReduce, LevelOneLooksAtOtherDBMs)
{
    // The hull of the first and last DBM adds points that only the middle one covers.
    const auto zones = {zoneOf(3, {lower(2, 4), diff(2, 1, 0)}), zoneOf(3, {lower(2, 1), upper(2, 4)}),
                        zoneOf(3, {lower(2, 2), diff(2, 1, -2)})};
    {
        fed_t f = fedOf(3, zones);
        f.mergeReduce(0, 0);
        EXPECT_EQ(f.size(), 3u);
    }
    fed_t f = fedOf(3, zones);
    const fed_t before = fedOf(3, zones);
    f.mergeReduce(0, 1);
    EXPECT_EQ(text(f), "(1<=y && y<=4) || (4<=x && 2<=y && y<=x)");
    EXPECT_EQ(f.relationExact(before), 3);
}

TEST(FedIntersect, KeepsSharedBlocksAndTakesTheOperandOnce)
{
    const zone_t a = interval(1, 2), b = interval(4, 5);
    fed_t f = fedOf(2, {a, b});
    const fed_t keep = f;
    f.intersectWith(fedOf(2, {interval(0, 10)}));
    // Unsharing reversed the list; the blocks themselves are still the shared ones.
    EXPECT_EQ(words(f), (std::vector<uintptr_t>{b.getWord(), a.getWord()}));

    const zone_t small = interval(4, 5);
    fed_t g = fedOf(2, {interval(0, 6), interval(3, 8)});
    const fed_t keep2 = g;
    g.intersectWith(fedOf(2, {small}));
    EXPECT_EQ(words(g), (std::vector<uintptr_t>{small.getWord()}));

    // Several operand DBMs: the pieces for the second come first, those for the first last.
    fed_t h = fedOf(2, {interval(0, 10)});
    h.intersectWith(fedOf(2, {interval(1, 2), interval(5, 6)}));
    EXPECT_EQ(text(h), "(5<=x && x<=6) || (1<=x && x<=2)");

    fed_t e(2);
    EXPECT_FALSE(e.intersects(e));
    EXPECT_TRUE(keep.intersects(keep));
}

TEST(FedTransform, HullBoundsAndUnboundedness)
{
    fed_t f = fedOf(2, {interval(0, 1), interval(2, 3)});
    EXPECT_FALSE(f.isUnbounded());
    EXPECT_EQ(f.getUpperBound(1), boundLE(3));
    EXPECT_EQ(f.getLowerBound(1), boundLE(0));
    fed_t g = f;
    g.convexHull();
    EXPECT_EQ(text(g), "(x<=3)");
    f.unionWithZone(zoneOf(2, {lower(1, 5)}));
    EXPECT_TRUE(f.isUnbounded());
    EXPECT_EQ(fed_t(2).getUpperBound(1), static_cast<bound_t>(0x80000000u));

    fed_t d = fedOf(3, {zoneOf(3, {lower(1, 2), upper(1, 2), lower(2, 4), upper(2, 4)})});
    d.down();
    EXPECT_EQ(text(d), "(x<=2 && x-y==-2)");
    d.up();
    d.swapClocks(1, 2);
    EXPECT_EQ(text(d), "(2<=x && x-y==2)");
    d.updateValue(1, 0);
    d.freeClock(2);
    EXPECT_EQ(text(d), "(x==0)");
}

TEST(FedTransform, ZoneAboveBoundsTakesTheStrongestLowerBound)
{
    const fed_t f = fedOf(3, {zoneOf(3, {lower(1, 4), upper(1, 6), upper(2, 1)}), zoneOf(3, {lower(1, 7), upper(1, 9)})});
    const int32_t m[] = {0, 5, MINUS_INF_VALUE};
    zone_t above(3);
    f.zoneAboveBounds(above, m);
    EXPECT_EQ(above(0, 1), boundLE(-7)) << "x > 5 tightened to the strongest lower bound x >= 7";
    EXPECT_EQ(above(0, 2), boundLE(0)) << "y >= 0 where y has no constant";
    EXPECT_EQ(above(1, 0), BOUND_INFINITY);
    EXPECT_EQ(f.size(), 2u);
    EXPECT_TRUE(f.zoneAboveBounds(m).equals(above));
}

TEST(FedExtrapolation, ADBMOnOneSideOfADiagonalKeepsThatSide)
{
    // x - y <= 3 is the diagonal constraint; with maximal constants 1 plain extrapolation
    // would drop every bound between x and y.
    const clock_constraint_t diag[] = {diff(1, 2, 3)};
    const int32_t max[] = {0, 1, 1};
    fed_t f = fedOf(3, {zoneOf(3, {upper(1, 10), lower(2, 8), upper(2, 10)})});
    fed_t plain = f;
    plain.extrapolateMaxBounds(max);
    EXPECT_GT(plain.begin()->operator()(1, 2), boundLE(3));

    f.splitExtrapolateMaxBounds(diag, diag + 1, max);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_LE(f.begin()->operator()(1, 2), boundLE(3));
    EXPECT_TRUE(f.isSubsetEq(plain));

    // No diagonal constraint: the plain extrapolation.
    fed_t g = fedOf(3, {zoneOf(3, {upper(1, 10), lower(2, 8), upper(2, 10)})});
    g.splitExtrapolateMaxBounds(diag, diag, max);
    EXPECT_EQ(g.relation(plain), 3);
}

TEST(FedText, HashAndPrinting)
{
    const zone_t a = interval(0, 1), b = interval(3, 4, true), c = zoneOf(2, {lower(1, 6)});
    EXPECT_EQ(fedOf(2, {a, b, c}).hash(7), fedOf(2, {c, a, b}).hash(7));
    EXPECT_NE(fedOf(2, {a, b}).hash(7), fedOf(2, {a, c}).hash(7));

    EXPECT_EQ(text(fed_t(2)), "false");
    EXPECT_EQ(text(fedOf(2, {a, b})), "(x<=1) || (3<x && x<=4)");
    EXPECT_EQ(text(fedOf(2, {a}), true), "(0<=x && x<=1)");

    std::ostringstream one, none, two;
    printFederation(one, fedOf(2, {a}));
    EXPECT_EQ(one.str(), "1 DBM 2x2 {\n<=0\t<=0\t\\\n<=1\t<=0\t\\\n}");
    printFederation(none, fed_t(3));
    EXPECT_EQ(none.str(), "0 DBM 3x3{}");
    setPrintMatrixSyntax(true);
    printFederation(two, fedOf(2, {a, c}));
    setPrintMatrixSyntax(false);
    EXPECT_EQ(two.str(), "Fed(2) {[\n matrix\\\n<=0\t<=0\t\\\n<=1\t<=0\t\\\n,matrix\\\n<=0\t<=-6\t\\\n<INF\t<=0\t\\\n]}");

    std::ostringstream prefixed, point;
    setPrintPrefix("# ");
    printFederation(prefixed, fedOf(2, {a, c}));
    setPrintPrefix(nullptr);
    EXPECT_EQ(prefixed.str(), "2 DBMs 2x2 {\n# <=0\t<=0\t\\\n# <=1\t<=0\t\\\n# ,\n# <=0\t<=-6\t\\\n# <INF\t<=0\t\\\n# }");
    fed_t zero(1);
    zero.setZero();
    printFederation(point, zero);
    EXPECT_EQ(point.str(), "1 DBM 1x1 {\n<=0\n}");
}

TEST(FedValuation, EmptyFederationThrows)
{
    valuation_t v(2);
    try {
        fed_t(2).getValuation(v);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "No clock valuation for empty federations");
    }
}

TEST(FedPast, BoundariesAndLowerFaces)
{
    struct Case
    {
        const char* name;
        fed_t f;
        std::string lower, upper, pastOfLowerFaces;
    } cases[] = {
        {"one interval", fedOf(2, {interval(1, 3)}), "(x==1)", "(x==3)", "(x<=1)"},
        {"faces inside another DBM are dropped", fedOf(2, {interval(1, 3), interval(2, 5)}), "(x==1)", "(x==5)",
         "(x<=2)"},
        {"strict lower bound", fedOf(2, {interval(1, 3, true)}), "false", "(x==3)", "false"},
        {"empty", fed_t(2), "false", "false", "false"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fed_t out(2);
        c.f.lowerBoundary(out);
        EXPECT_EQ(text(out), c.lower);
        c.f.upperBoundary(out);
        EXPECT_EQ(text(out), c.upper);
        c.f.pastOfLowerFaces(out);
        EXPECT_EQ(text(out), c.pastOfLowerFaces);
    }

    // The timed predecessors of [4,5] that never pass through [2,3].
    const fed_t target = fedOf(2, {interval(4, 5)});
    fed_t good = target;
    good.pastAvoidingZone(interval(2, 3));
    EXPECT_EQ(text(good), "(3<x && x<=5)");

    const fed_t bad = fedOf(2, {interval(2, 3)});
    EXPECT_TRUE(fedOf(2, {interval(4, 5)}).isIncludedInPastAvoiding(target, bad));
    EXPECT_FALSE(fedOf(2, {interval(3, 5)}).isIncludedInPastAvoiding(target, bad));
    EXPECT_TRUE(fedOf(2, {interval(0, 5)}).isIncludedInPastAvoiding(target, fed_t(2)));
    EXPECT_FALSE(fedOf(2, {interval(0, 5)}).isIncludedInPastAvoiding(target, bad));
}

TEST(FedAliasing, OperandsTakenFromTheFederationItself)
{
    // Each operation gets one of the federation's own DBMs (or itself) as its operand; the
    // blocks are held by the federation alone.
    struct Case
    {
        const char* name;
        void (*op)(fed_t&);
        fed_t expected;
    } cases[] = {
        {"union with own DBM", [](fed_t& f) { f.unionWithZone(*f.begin()); }, fedOf(2, {interval(0, 4), interval(2, 6), interval(8, 9)})},
        {"subtract own DBM", [](fed_t& f) { f.subtractZone(*f.begin()); }, fedOf(2, {interval(4, 6, true), interval(8, 9)})},
        {"subtract own matrix", [](fed_t& f) { f.subtractMatrix(f.begin().matrix()); }, fedOf(2, {interval(4, 6, true), interval(8, 9)})},
        {"intersect with own DBM", [](fed_t& f) { f.intersectWithZone(*f.begin()); }, fedOf(2, {interval(0, 4)})},
        {"hull with own DBM", [](fed_t& f) { f.convexHullWithZone(*(++f.begin())); }, fedOf(2, {interval(0, 9)})},
        {"hull with own matrix", [](fed_t& f) { f.convexHullWithMatrix((++f.begin()).matrix()); }, fedOf(2, {interval(0, 9)})},
        {"assign own matrix", [](fed_t& f) { f.assignMatrix((++f.begin()).matrix()); }, fedOf(2, {interval(2, 6)})},
        {"absorb itself", [](fed_t& f) { f.absorb(f); }, fedOf(2, {interval(0, 4), interval(2, 6), interval(8, 9)})},
        {"append itself", [](fed_t& f) { f.appendList(f); }, fedOf(2, {interval(0, 4), interval(2, 6), interval(8, 9)})},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fed_t f = fedOf(2, {interval(0, 4), interval(2, 6), interval(8, 9)});
        c.op(f);
        EXPECT_EQ(f.relationExact(c.expected), 3) << text(f);
    }
}

TEST(FedDelay, EnteringLeavingAndMovingBack)
{
    struct Case
    {
        const char* name;
        fed_t f;
        double x;
        bool enters;
        double enter, leave;
        bool leaveStrict;
        double back;
    } cases[] = {
        {"touching DBMs are passed through", fedOf(2, {interval(2, 3), interval(3, 5, true, true)}), 0, true, 2, 5,
         true, 0},
        {"a gap ends the stay", fedOf(2, {interval(2, 3), interval(4, 5)}), 0, true, 2, 3, false, 0},
        {"unbounded", fedOf(2, {interval(2, 3), zoneOf(2, {lower(1, 3)})}), 0, true, 2, 1e300, false, 0},
        {"inside: moved back to the lowest bound", fedOf(2, {interval(1, 3), interval(3, 6)}), 5, true, 0, 1, false,
         4},
        {"strict lower bound counts half a unit less", fedOf(2, {interval(1, 3, true), interval(3, 6)}), 5, true, 0,
         1, false, 3.5},
        {"beyond every DBM", fedOf(2, {interval(1, 3)}), 4, false, 0, 0, false, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double point[] = {0, c.x};
        double enter = -1, leave = -1;
        bool enterStrict = false, leaveStrict = false;
        EXPECT_EQ(c.f.delayToLeave(point, 2, &enter, &leave, &enterStrict, &leaveStrict), c.enters);
        if (c.enters) {
            EXPECT_EQ(enter, c.enter);
            EXPECT_EQ(leaveStrict, c.leaveStrict);
            if (!c.leaveStrict) {
                EXPECT_EQ(leave, c.leave == 1e300 ? std::numeric_limits<double>::infinity() : c.leave);
            } else {
                // A strict end is not reached: the stay ends just below it, at the last delay
                // after which the point is still inside, within the smallest steps tried.
                EXPECT_LT(leave, c.leave);
                EXPECT_GT(leave, c.leave - 1e-13);
                const double last[] = {0, c.x + leave};
                const double end[] = {0, c.x + c.leave};
                EXPECT_TRUE(c.f.containsPoint(last));
                EXPECT_FALSE(c.f.containsPoint(end));
            }
        }
        EXPECT_EQ(c.f.pastDelayInside(point, 2), c.back);
    }

    const double outside[] = {0, 4};
    double delay = 0;
    const fed_t f = fedOf(2, {interval(2, 3), interval(6, 7)});
    EXPECT_TRUE(f.delayToEnter(outside, 2, &delay));
    EXPECT_EQ(delay, 2.0);
    const double inside[] = {0, 6.5};
    // Each DBM offers the distance to its lower bound when the moved-back point lies in it.
    EXPECT_TRUE(f.maxPastDelay(inside, 2, &delay, 10));
    EXPECT_EQ(delay, 4.5);
    EXPECT_TRUE(f.maxPastDelay(inside, 2, &delay, 1));
    EXPECT_EQ(delay, 1.0);
}

TEST(FedLong, WorkingArraysBeyondTheStackStartClean)
{
    // 100 disjoint intervals [3k, 3k+1] of clock x: more DBMs than the relation flags and the
    // hash keep on the stack; the same working buffers serve every call in turn.
    auto intervals = [](uint32_t dim, int from, int step) {
        fed_t f(dim);
        for (int k = from; k < 100; k += step) {
            zone_t z(dim);
            z.setInit();
            z.constrain(0, 1, boundLE(-3 * k));
            z.constrain(1, 0, boundLE(3 * k + 1));
            f.unionWithZone(z);
        }
        return f;
    };
    const fed_t all = intervals(2, 0, 1), even = intervals(2, 0, 2), odd = intervals(2, 1, 2);
    fed_t reversed = all;
    reversed.constrain(1, 0, boundLE(1000));  // changes no DBM; unsharing reverses the list
    ASSERT_EQ(all.begin()->operator()(0, 1), boundLE(-297)) << "unions add at the front";
    ASSERT_EQ(reversed.begin()->operator()(0, 1), boundLE(0));
    struct Case
    {
        const char* name;
        const fed_t &a, &b;
        int relation;
    } cases[] = {
        {"all against even", all, even, 1}, {"even against all", even, all, 2},
        {"even against odd", even, odd, 0},  {"all against its reversed list", all, reversed, 3},
        {"odd against all", odd, all, 2},    {"odd against even", odd, even, 0},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(c.a.relation(c.b), c.relation);
        }
    }
    EXPECT_EQ(all.hash(3), reversed.hash(3));
    EXPECT_NE(even.hash(3), odd.hash(3));

    // Fifty clocks: the minimal graph of the cut no longer fits the stack array.
    for (int round = 0; round < 2; ++round) {
        fed_t wide = intervals(50, 0, 50);
        zone_t cut(50);
        cut.setInit();
        cut.constrain(0, 1, boundLT(0));
        cut.constrain(1, 0, boundLT(1));
        wide.subtractZone(cut);
        EXPECT_EQ(wide.size(), 3u);
        std::vector<int32_t> point(50, 0);
        for (int32_t x : {0, 1, 150, 151}) {
            point[1] = x;
            EXPECT_TRUE(wide.containsIntPoint(point.data())) << x;
        }
        std::vector<double> inside(50, 0.0);
        inside[1] = 0.5;
        EXPECT_FALSE(wide.containsPoint(inside.data()));
    }
}

TEST(FedExtrapolation, AStraddlingDBMIsSplitAndEachPartKeepsItsSide)
{
    // 5 <= x <= 10, y <= 10 has points on both sides of x - y < 2. The DBM's own node keeps the
    // violating part (y - x <= -2), the part that satisfies the constraint follows it; each part is
    // extrapolated with constants 1 and then held to its side again. Their hull would add points
    // such as x = 1.5, y = 0.5, so the final reduction keeps both.
    const clock_constraint_t diag[] = {diff(1, 2, 2, true)};
    const int32_t max[] = {0, 1, 1};
    const zone_t d = zoneOf(3, {lower(1, 5), upper(1, 10), upper(2, 10)});
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "shared" : "unshared");
        fed_t f = fedOf(3, {d});
        const fed_t copy = f;
        if (!shared) {
            f = fedOf(3, {d});
        }
        f.splitExtrapolateMaxBounds(diag, diag + 1, max);
        EXPECT_EQ(text(f), "(y-x<=-2) || (1<x && 1<y && x-y<2)");
        for (const auto& z : f) {
            EXPECT_TRUE(z(1, 2) <= diag[0].bound || z(2, 1) <= 1 - diag[0].bound) << "a part straddles";
        }
        EXPECT_TRUE(fed_t(d).isSubsetEq(f));
        EXPECT_EQ(copy.size(), 1u);
        EXPECT_TRUE(copy.begin()->equals(d));
    }
}

TEST(FedMergeReduce, LevelTwoCountsTheWholeFederation)
{
    // Together the four DBMs cover every valuation, but the points that a hull of two adds are never
    // covered by one other DBM alone: only level 2, which subtracts every other DBM, merges them.
    const auto zones = {zoneOf(3, {lower(2, 3, true)}), zoneOf(3, {lower(2, 2, true), upper(1, 1), diff(1, 2, -2)}),
                        zoneOf(3, {diff(2, 1, 2, true)}), zoneOf(3, {upper(2, 3, true)})};
    for (int level : {0, 1}) {
        fed_t f = fedOf(3, zones);
        f.mergeReduce(0, level);
        EXPECT_EQ(f.size(), 4u) << "level " << level;
    }
    fed_t f = fedOf(3, zones);
    f.mergeReduce(0, 2);
    EXPECT_EQ(text(f), "true");
}

TEST(FedText, HashIsTheHashOfTheSortedDBMHashes)
{
    // Each DBM's matrix is hashed with the seed dim * dim, the low halves are sorted as unsigned
    // words and hashed with the caller's seed: stored states are placed in buckets by this value.
    const zone_t a = interval(0, 1), b = interval(3, 4, true), c = zoneOf(2, {lower(1, 6)});
    std::vector<uint32_t> words;
    for (const zone_t* z : {&a, &b, &c}) {
        words.push_back(static_cast<uint32_t>(base::hash64(z->getMatrix(), 2 * 2 * 4, 2 * 2)));
    }
    std::sort(words.begin(), words.end());
    const uint64_t expected = base::hash64(words.data(), words.size() * 4, 7);
    EXPECT_EQ(fedOf(2, {b, c, a}).hash(7), expected);
    EXPECT_EQ(fed_t(2).hash(7), base::hash64(nullptr, 0, 7));
}

TEST(FedTransform, UnboundednessOfSmallAndEmptyFederations)
{
    fed_t point(1);
    EXPECT_FALSE(point.isUnbounded()) << "no DBM";
    point.setZero();
    EXPECT_TRUE(point.isUnbounded()) << "a DBM without clocks bounds no clock";
    EXPECT_FALSE(fed_t(3).isUnbounded());
}
