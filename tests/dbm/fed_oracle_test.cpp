// Randomized check of the federation algebra against brute force: random
// federations of 1 to 3 clocks with constants up to 5 are compared as sets of
// grid points (every clock at a multiple of 1/2 from 0 to 6), under every kernel set
// the processor runs.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/fed.h"
#include "kernel_sets.h"

using namespace dbm;

namespace
{
    constexpr int kMaxConstant = 5;
    constexpr int kGridSteps = 13;  // 0, 0.5, ..., 6

    using PointSet = std::vector<bool>;

    struct Oracle
    {
        explicit Oracle(uint32_t dim): dim(dim)
        {
            size_t count = 1;
            for (uint32_t c = 1; c < dim; ++c) {
                count *= kGridSteps;
            }
            for (size_t k = 0; k < count; ++k) {
                std::vector<double> p(dim, 0.0);
                size_t rest = k;
                for (uint32_t c = 1; c < dim; ++c) {
                    p[c] = 0.5 * double(rest % kGridSteps);
                    rest /= kGridSteps;
                }
                points.push_back(p);
            }
        }

        PointSet of(const fed_t& f) const
        {
            PointSet s(points.size());
            for (size_t k = 0; k < points.size(); ++k) {
                s[k] = f.containsPoint(points[k].data());
            }
            return s;
        }

        uint32_t dim;
        std::vector<std::vector<double>> points;
    };

    PointSet unite(const PointSet& a, const PointSet& b)
    {
        PointSet r(a.size());
        for (size_t k = 0; k < a.size(); ++k) r[k] = a[k] || b[k];
        return r;
    }
    PointSet meet(const PointSet& a, const PointSet& b)
    {
        PointSet r(a.size());
        for (size_t k = 0; k < a.size(); ++k) r[k] = a[k] && b[k];
        return r;
    }
    PointSet minus(const PointSet& a, const PointSet& b)
    {
        PointSet r(a.size());
        for (size_t k = 0; k < a.size(); ++k) r[k] = a[k] && !b[k];
        return r;
    }
    bool within(const PointSet& a, const PointSet& b)
    {
        for (size_t k = 0; k < a.size(); ++k) {
            if (a[k] && !b[k]) return false;
        }
        return true;
    }

    class Generator
    {
    public:
        explicit Generator(uint32_t seed): rng(seed) {}

        int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

        zone_t zone(uint32_t dim)
        {
            for (;;) {
                zone_t z(dim);
                z.setInit();
                const int constraints = pick(1, 2 * int(dim));
                bool ok = true;
                for (int k = 0; k < constraints && ok; ++k) {
                    const uint32_t i = uint32_t(pick(0, int(dim) - 1));
                    uint32_t j = uint32_t(pick(0, int(dim) - 2));
                    if (j >= i) ++j;
                    const int32_t v = i == 0 ? -pick(0, kMaxConstant) : pick(-kMaxConstant, kMaxConstant);
                    ok = z.constrain(i, j, pick(0, 1) != 0 ? boundLE(v) : boundLT(v));
                }
                if (ok) return z;
            }
        }

        fed_t fed(uint32_t dim, int maxZones = 4)
        {
            fed_t f(dim);
            std::vector<FederationNode*> nodes;
            const int n = pick(0, maxZones);
            for (int k = 0; k < n; ++k) {
                FederationNode* node = newFederationNode(nullptr);
                node->zone = zone(dim);
                nodes.push_back(node);
            }
            f.attachNodes(nodes.data(), nodes.size());
            return f;
        }

    private:
        std::mt19937 rng;
    };

    // Every DBM of a federation is non-empty, closed and of its dimension.
    void expectWellFormed(const fed_t& f)
    {
        size_t count = 0;
        for (auto it = f.begin(); it != f.end(); ++it, ++count) {
            ASSERT_FALSE(it->isEmpty());
            ASSERT_EQ(it->getDimension(), f.getDimension());
            EXPECT_TRUE(isClosed(it.matrix(), f.getDimension()));
            EXPECT_FALSE(dbm::isEmpty(it.matrix(), f.getDimension()));
        }
        EXPECT_EQ(count, f.size());
    }

    constexpr uint32_t kSeed = 20261210;
    constexpr int kRounds = 400;
}

TEST(FedOracle, SetOperationsKeepExactlyTheExpectedPoints)
{
    dbm_test::forEachKernelSet([&](dbm::kernel_set_t) {
        for (uint32_t dim = 2; dim <= 4; ++dim) {
            const Oracle oracle(dim);
            Generator gen(kSeed + dim);
            for (int round = 0; round < kRounds; ++round) {
                SCOPED_TRACE(testing::Message() << "seed " << kSeed + dim << ", dimension " << dim << ", round "
                                                << round);
                const fed_t a = gen.fed(dim), b = gen.fed(dim);
                const PointSet pa = oracle.of(a), pb = oracle.of(b);
                const fed_t aCopy = a;

                fed_t u = a;
                u.unionWith(b);
                expectWellFormed(u);
                EXPECT_EQ(oracle.of(u), unite(pa, pb)) << "union";

                fed_t i = a;
                i.intersectWith(b);
                expectWellFormed(i);
                EXPECT_EQ(oracle.of(i), meet(pa, pb)) << "intersection";

                fed_t d = a;
                d.subtract(b);
                expectWellFormed(d);
                EXPECT_EQ(oracle.of(d), minus(pa, pb)) << "subtraction";
                EXPECT_FALSE(d.intersects(b));

                // Subtraction pieces of one DBM are pairwise disjoint.
                if (a.size() == 1) {
                    for (auto p = d.begin(); p != d.end(); ++p) {
                        auto q = p;
                        for (++q; q != d.end(); ++q) {
                            EXPECT_FALSE(dbm::intersects(p.matrix(), dim, q.matrix()));
                        }
                    }
                }

                const bool sub = a.isSubsetEq(b);
                EXPECT_EQ(sub, d.isEmpty()) << "exact inclusion agrees with subtraction";
                if (sub) {
                    EXPECT_TRUE(within(pa, pb)) << "inclusion";
                }
                if (!within(pa, pb)) {
                    EXPECT_FALSE(sub) << "inclusion";
                }
                const int rel = a.relation(b);
                if (rel & 2) {
                    EXPECT_TRUE(sub) << "pairwise subset implies exact subset";
                }
                if (rel & 1) {
                    EXPECT_TRUE(b.isSubsetEq(a)) << "pairwise superset implies exact superset";
                }
                EXPECT_EQ(a.relationExact(b), (sub ? 2 : 0) | (b.isSubsetEq(a) ? 1 : 0));
                // The exact test agrees with the intersection; the quick one may only err towards
                // true (from three clocks on).
                EXPECT_EQ(a.intersectsExactly(b), !i.isEmpty());
                if (!a.intersects(b)) {
                    EXPECT_TRUE(i.isEmpty());
                }
                if (dim <= 3) {
                    EXPECT_EQ(a.intersects(b), !i.isEmpty());
                }

                // The operands are untouched, and share with their copies.
                EXPECT_EQ(oracle.of(a), pa);
                EXPECT_EQ(a.getHeader(), aCopy.getHeader());
            }
        }
    });
}

TEST(FedOracle, ReductionsKeepThePointSet)
{
    dbm_test::forEachKernelSet([&](dbm::kernel_set_t) {
        for (uint32_t dim = 2; dim <= 4; ++dim) {
            const Oracle oracle(dim);
            Generator gen(kSeed * 3 + dim);
            for (int round = 0; round < kRounds; ++round) {
                SCOPED_TRACE(testing::Message() << "seed " << kSeed * 3 + dim << ", dimension " << dim << ", round "
                                                << round);
                const fed_t a = gen.fed(dim, 6);
                const PointSet pa = oracle.of(a);

                for (int level = 0; level <= 2; ++level) {
                    fed_t r = a;
                    r.mergeReduce(0, level);
                    expectWellFormed(r);
                    EXPECT_EQ(oracle.of(r), pa) << "mergeReduce level " << level;
                    EXPECT_LE(r.size(), a.size());
                    // No DBM is left inside another.
                    for (auto p = r.begin(); p != r.end(); ++p) {
                        for (auto q = r.begin(); q != r.end(); ++q) {
                            if (p != q) {
                                EXPECT_FALSE(dbm::isSubsetEq(p.matrix(), dim, q.matrix())) << "level " << level;
                            }
                        }
                    }
                    EXPECT_TRUE(r.isSubsetEq(a) && a.isSubsetEq(r));
                }

                fed_t byRelation = a;
                byRelation.reduceByRelation();
                EXPECT_EQ(oracle.of(byRelation), pa) << "reduceByRelation";

                fed_t redundant = a;
                redundant.removeRedundant();
                expectWellFormed(redundant);
                EXPECT_EQ(oracle.of(redundant), pa) << "removeRedundant";

                fed_t byHull = a;
                byHull.reduceByHull();
                expectWellFormed(byHull);
                EXPECT_EQ(oracle.of(byHull), pa) << "reduceByHull";

                fed_t expensive = a;
                expensive.expensiveMergeReduce();
                expectWellFormed(expensive);
                EXPECT_EQ(oracle.of(expensive), pa) << "expensiveMergeReduce";
                EXPECT_LE(expensive.size(), a.size());

                fed_t partitioned = a;
                partitioned.partitionReduce();
                expectWellFormed(partitioned);
                EXPECT_EQ(oracle.of(partitioned), pa) << "partitionReduce";

                fed_t hull = a;
                hull.convexHull();
                EXPECT_LE(hull.size(), 1u);
                EXPECT_TRUE(within(pa, oracle.of(hull))) << "convexHull";

                // Extrapolation only widens, and with constants above every bound changes nothing.
                std::vector<int32_t> max(dim, 3);
                max[0] = 0;
                const clock_constraint_t diag[] = {{1, dim - 1, boundLE(gen.pick(-2, 2))}};
                fed_t x = a;
                x.splitExtrapolateMaxBounds(diag, diag + (dim > 2 ? 1 : 0), max.data());
                expectWellFormed(x);
                EXPECT_TRUE(a.isSubsetEq(x)) << "splitExtrapolateMaxBounds";
                std::vector<int32_t> big(dim, 10);
                big[0] = 0;
                fed_t y = a;
                y.splitExtrapolateMaxBounds(diag, diag + (dim > 2 ? 1 : 0), big.data());
                EXPECT_EQ(oracle.of(y), pa) << "splitExtrapolateMaxBounds with large constants";
            }
        }
    });
}

namespace
{
    // The delays d >= 0 for which point + d lies in the zone: an interval, with strictness.
    struct Interval
    {
        bool empty = false;
        double lo = 0;
        bool loStrict = false;
        double hi = 1e300;
        bool hiStrict = false;
    };

    // backward: the delays d for which point - d lies in the zone.
    Interval delaysInto(const zone_t& z, const std::vector<double>& p, bool backward = false)
    {
        const uint32_t n = z.getDimension();
        Interval r;
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                const bound_t b = z(i, j);
                if (i == j || isInfinite(b)) continue;
                const double c = boundValue(b);
                const bool strict = isStrict(b);
                if (i != 0 && j != 0) {
                    const double v = p[i] - p[j];
                    if (v > c || (strict && v == c)) r.empty = true;
                } else if ((j == 0) != backward) {  // p_i + d <= c, or -(p_j - d) <= c
                    const double u = backward ? c + p[j] : c - p[i];
                    if (u < r.hi || (u == r.hi && strict)) {
                        r.hi = u;
                        r.hiStrict = strict;
                    }
                } else {  // -(p_j + d) <= c, or p_i - d <= c
                    const double l = backward ? p[i] - c : -c - p[j];
                    if (l > r.lo || (l == r.lo && strict)) {
                        r.lo = l;
                        r.loStrict = strict;
                    }
                }
            }
        }
        if (r.lo > r.hi || (r.lo == r.hi && (r.loStrict || r.hiStrict))) r.empty = true;
        return r;
    }

    // Whether the point can delay into some DBM of good without touching any DBM of bad.
    bool reachesAvoiding(const fed_t& good, const fed_t& bad, const std::vector<double>& p, bool backward = false)
    {
        bool blocked = false;  // the first delay at which a bad zone is met
        double firstBad = 0;
        bool firstBadStrict = false;
        for (const zone_t& b : bad) {
            const Interval ib = delaysInto(b, p, backward);
            if (ib.empty) continue;
            if (!blocked || ib.lo < firstBad || (ib.lo == firstBad && !ib.loStrict)) {
                firstBad = ib.lo;
                firstBadStrict = ib.loStrict;
            }
            blocked = true;
        }
        for (const zone_t& g : good) {
            const Interval ig = delaysInto(g, p, backward);
            if (ig.empty) continue;
            if (!blocked || ig.lo < firstBad || (ig.lo == firstBad && !ig.loStrict && firstBadStrict)) {
                return true;
            }
        }
        return false;
    }
}

TEST(FedOracle, PastAvoidingKeepsThePointsThatReachGoodBeforeBad)
{
    dbm_test::forEachKernelSet([&](dbm::kernel_set_t) {
        for (uint32_t dim = 2; dim <= 4; ++dim) {
            const Oracle oracle(dim);
            Generator gen(kSeed * 7 + dim);
            for (int round = 0; round < kRounds / 2; ++round) {
                SCOPED_TRACE(testing::Message() << "seed " << kSeed * 7 + dim << ", dimension " << dim << ", round "
                                                << round);
                const fed_t good = gen.fed(dim, 3);
                const fed_t bad = gen.fed(dim, 2);
                fed_t past = good;
                past.pastAvoiding(bad);
                expectWellFormed(past);
                PointSet expected(oracle.points.size());
                for (size_t k = 0; k < oracle.points.size(); ++k) {
                    expected[k] = reachesAvoiding(good, bad, oracle.points[k]);
                }
                EXPECT_EQ(oracle.of(past), expected);
            }
        }
    });
}

TEST(FedOracle, UpAvoidingKeepsThePointsReachedBeforeBad)
{
    dbm_test::forEachKernelSet([&](dbm::kernel_set_t) {
        int exact = 0;
        for (uint32_t dim = 2; dim <= 4; ++dim) {
            const Oracle oracle(dim);
            Generator gen(kSeed * 11 + dim);
            for (int round = 0; round < kRounds / 2; ++round) {
                SCOPED_TRACE(testing::Message() << "seed " << kSeed * 11 + dim << ", dimension " << dim << ", round "
                                                << round);
                const fed_t start = gen.fed(dim, 3);
                const fed_t bad = gen.fed(dim, 2);
                fed_t future = start;
                if (!future.upAvoiding(bad)) {
                    EXPECT_EQ(future.getHeader(), start.getHeader()) << "a refused step leaves the federation alone";
                    continue;
                }
                ++exact;
                expectWellFormed(future);
                PointSet expected(oracle.points.size());
                for (size_t k = 0; k < oracle.points.size(); ++k) {
                    expected[k] = reachesAvoiding(start, bad, oracle.points[k], true);
                }
                EXPECT_EQ(oracle.of(future), expected);
            }
        }
        EXPECT_GT(exact, kRounds / 2) << "most random cases are answered";
    });
}
