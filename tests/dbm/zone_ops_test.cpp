// Every mutation of a zone handle checked against the raw matrix operation it
// stands for, on random closed zones, in the two situations that matter: a
// block shared with another handle and a block held alone.
//
// Shared: the other handle never sees a change; the result equals the raw
// operation's; a shared block that the operation leaves unchanged stays shared
// (no copy); an emptied zone is the empty marker of the same dimension.
// Alone: the result is written into the same block.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/zone.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

struct Params {
    uint32_t n;
    uint32_t i, j;        // distinct clocks, either may be 0
    uint32_t k, l;        // clocks from 1, possibly equal
    int32_t v;            // small non-negative value
    bound_t b;            // a bound
    std::vector<clock_constraint_t> constraints;
    std::vector<uint32_t> table;  // a permutation of the clocks fixing 0
    uint32_t stopped[1];  // clock bit set
    Matrix other;         // another closed zone of dimension n
};

struct Op {
    const char* name;
    bool alwaysCopies;  // a shared block may be copied even when nothing changes
    std::function<bool(zone_t&, const Params&)> onZone;
    std::function<bool(bound_t*, const Params&)> onRaw;
};

bound_t randomBound(std::mt19937& rng, int lo, int hi)
{
    int32_t value = std::uniform_int_distribution<int>(lo, hi)(rng);
    return (rng() & 1) ? boundLE(value) : boundLT(value);
}

Matrix randomZone(std::mt19937& rng, uint32_t n)
{
    Matrix m(size_t(n) * n);
    dbm::init(m.data(), n);
    const int constraints = std::uniform_int_distribution<int>(0, 2 * int(n))(rng);
    for (int c = 0; c < constraints; ++c) {
        uint32_t i = rng() % n, j = rng() % n;
        if (i == j) continue;
        Matrix tried = m;
        if (dbm::constrain(tried.data(), n, i, j, randomBound(rng, -6, 6))) m = tried;
    }
    if (rng() % 3 == 0) dbm::updateValue(m.data(), n, 1 + rng() % (n - 1), rng() % 7);
    if (rng() % 4 == 0) dbm::up(m.data(), n);
    if (rng() % 6 == 0) dbm::freeClock(m.data(), n, 1 + rng() % (n - 1));
    return m;
}

Params randomParams(std::mt19937& rng, const Matrix& start, uint32_t n)
{
    Params p;
    p.n = n;
    p.i = rng() % n;
    do p.j = rng() % n; while (p.j == p.i);
    p.k = 1 + rng() % (n - 1);
    p.l = 1 + rng() % (n - 1);
    p.v = std::uniform_int_distribution<int>(0, 6)(rng);
    const bound_t upper = start[size_t(p.k) * n], lower = start[p.k];
    if (isWeak(upper) && upper == 2 - lower && rng() % 2 == 0) p.v = boundValue(upper);  // the value x_k has
    p.b = randomBound(rng, -6, 7);
    const int count = rng() % 4;
    for (int c = 0; c < count; ++c) {
        uint32_t i = rng() % n, j;
        do j = rng() % n; while (j == i);
        p.constraints.push_back({i, j, randomBound(rng, -6, 7)});
    }
    p.table.resize(n);
    for (uint32_t c = 0; c < n; ++c) p.table[c] = c;
    std::shuffle(p.table.begin() + 1, p.table.end(), rng);
    p.stopped[0] = uint32_t(rng()) & ~1u & ((1u << n) - 1);
    p.other = randomZone(rng, n);
    return p;
}

template <class F>
std::function<bool(bound_t*, const Params&)> rawVoid(F f)
{
    return [f](bound_t* m, const Params& p) {
        f(m, p);
        return true;
    };
}

template <class F>
std::function<bool(zone_t&, const Params&)> zoneVoid(F f)
{
    return [f](zone_t& z, const Params& p) {
        f(z, p);
        return !z.isEmpty();
    };
}

const std::vector<Op>& operations()
{
    static const std::vector<Op> ops = {
        {"constrain", false, [](zone_t& z, const Params& p) { return z.constrain(p.i, p.j, p.b); },
         [](bound_t* m, const Params& p) { return dbm::constrain(m, p.n, p.i, p.j, p.b); }},
        {"constrainClock", false, [](zone_t& z, const Params& p) { return z.constrainClock(p.k, p.v); },
         [](bound_t* m, const Params& p) { return dbm::constrainClock(m, p.n, p.k, p.v); }},
        {"constrainAll", false,
         [](zone_t& z, const Params& p) { return z.constrainAll(p.constraints.data(), p.constraints.size()); },
         [](bound_t* m, const Params& p) {
             return dbm::constrainAll(m, p.n, p.constraints.data(), p.constraints.size());
         }},
        {"constrainAllIndexed", false,
         [](zone_t& z, const Params& p) {
             return z.constrainAllIndexed(p.table.data(), p.constraints.data(), p.constraints.size());
         },
         [](bound_t* m, const Params& p) {
             return dbm::constrainAllMapped(m, p.n, p.table.data(), p.constraints.data(), p.constraints.size());
         }},
        {"intersectWithMatrix", false, zoneVoid([](zone_t& z, const Params& p) { z.intersectWithMatrix(p.other.data()); }),
         [](bound_t* m, const Params& p) { return dbm::intersect(m, p.n, p.other.data()); }},
        {"convexUnionStep", false, zoneVoid([](zone_t& z, const Params& p) { z.convexUnionStep(p.other.data(), p.n); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::convexUnion(m, p.n, p.other.data()); })},
        {"up", false, zoneVoid([](zone_t& z, const Params&) { z.up(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::up(m, p.n); })},
        {"down", false, zoneVoid([](zone_t& z, const Params&) { z.down(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::down(m, p.n); })},
        {"upWithStopped", true, zoneVoid([](zone_t& z, const Params& p) { z.upWithStopped(p.stopped); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::upStopped(m, p.n, p.stopped); })},
        {"downWithStopped", true, zoneVoid([](zone_t& z, const Params& p) { z.downWithStopped(p.stopped); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::downStopped(m, p.n, p.stopped); })},
        {"freeClock", false, zoneVoid([](zone_t& z, const Params& p) { z.freeClock(p.k); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::freeClock(m, p.n, p.k); })},
        {"updateValue", false, zoneVoid([](zone_t& z, const Params& p) { z.updateValue(p.k, p.v); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::updateValue(m, p.n, p.k, p.v); })},
        {"updateClock", false, zoneVoid([](zone_t& z, const Params& p) { z.updateClock(p.k, p.l); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::updateClock(m, p.n, p.k, p.l); })},
        {"updateIncrement", false, zoneVoid([](zone_t& z, const Params& p) { z.updateIncrement(p.k, p.l, p.v % 3); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::updateClockPlus(m, p.n, p.k, p.l, p.v % 3); })},
        {"update", false, zoneVoid([](zone_t& z, const Params& p) { z.update(p.k, p.l, p.v % 3); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::updateClockPlus(m, p.n, p.k, p.l, p.v % 3); })},
        {"swapClocks", true, zoneVoid([](zone_t& z, const Params& p) { z.swapClocks(p.k, p.l); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::swapClocks(m, p.n, p.k, p.l); })},
        {"freeDown", false, zoneVoid([](zone_t& z, const Params& p) { z.freeDown(p.k); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::freeDown(m, p.n, p.k); })},
        {"freeUp", false, zoneVoid([](zone_t& z, const Params& p) { z.freeUp(p.k); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::freeUp(m, p.n, p.k); })},
        {"freeAllUp", false, zoneVoid([](zone_t& z, const Params&) { z.freeAllUp(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::freeAllUp(m, p.n); })},
        {"freeAllDown", false, zoneVoid([](zone_t& z, const Params&) { z.freeAllDown(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::freeAllDown(m, p.n); })},
        {"relaxAll", false, zoneVoid([](zone_t& z, const Params&) { z.relaxAll(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::relaxAll(m, p.n); })},
        {"relaxUpClock", false, zoneVoid([](zone_t& z, const Params& p) { z.relaxUpClock(p.k); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::relaxRow(m, p.n, p.k); })},
        {"relaxDownClock", false, zoneVoid([](zone_t& z, const Params& p) { z.relaxDownClock(p.k); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::relaxColumn(m, p.n, p.k); })},
        {"tightenDown", true, [](zone_t& z, const Params&) { return z.tightenDown(); },
         [](bound_t* m, const Params& p) { return dbm::makeLowerBoundsStrict(m, p.n); }},
        {"tightenUp", true, [](zone_t& z, const Params&) { return z.tightenUp(); },
         [](bound_t* m, const Params& p) { return dbm::makeUpperBoundsStrict(m, p.n); }},
        {"setInit", false, zoneVoid([](zone_t& z, const Params&) { z.setInit(); }),
         rawVoid([](bound_t* m, const Params& p) { dbm::init(m, p.n); })},
    };
    return ops;
}

std::string describe(const Matrix& m, uint32_t n)
{
    std::ostringstream out;
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) out << m[size_t(i) * n + j] << (j + 1 < n ? " " : "\n");
    }
    return out.str();
}

void checkOperation(const Op& op, const Matrix& start, const Params& p)
{
    const uint32_t n = p.n;
    Matrix expected = start;
    const bool nonEmpty = op.onRaw(expected.data(), p);
    const bool unchanged = nonEmpty && expected == start;
    SCOPED_TRACE(::testing::Message() << op.name << " on\n" << describe(start, n));

    {  // block shared with another handle
        zone_t owner(n);
        owner.assignMatrix(start.data(), n);
        zone_t z = owner;
        ASSERT_EQ(owner.getBlock()->count, 2u);
        const bool result = op.onZone(z, p);
        EXPECT_TRUE(owner.equalsMatrix(start.data())) << "the other handle saw the change";
        if (!nonEmpty) {
            EXPECT_FALSE(result);
            EXPECT_TRUE(z.isEmpty());
            EXPECT_EQ(z.getDimension(), n);
            EXPECT_EQ(owner.getBlock()->count, 1u);
            return;
        }
        EXPECT_TRUE(result);
        ASSERT_FALSE(z.isEmpty());
        EXPECT_TRUE(z.equalsMatrix(expected.data())) << "expected\n" << describe(expected, n);
        if (unchanged && !op.alwaysCopies) {
            EXPECT_EQ(z.getWord(), owner.getWord()) << "an unchanged shared block was copied";
            EXPECT_EQ(owner.getBlock()->count, 2u);
        } else if (!unchanged) {
            EXPECT_NE(z.getWord(), owner.getWord());
            EXPECT_EQ(owner.getBlock()->count, 1u);
            EXPECT_EQ(z.getBlock()->count, 1u);
        }
    }
    {  // block held alone: written in place
        zone_t z(n);
        z.assignMatrix(start.data(), n);
        DBMBlock* block = z.getBlock();
        const bool result = op.onZone(z, p);
        EXPECT_EQ(result, nonEmpty);
        if (!nonEmpty) {
            EXPECT_TRUE(z.isEmpty());
            EXPECT_EQ(z.getDimension(), n);
            return;
        }
        EXPECT_EQ(z.getBlock(), block);
        EXPECT_TRUE(z.equalsMatrix(expected.data())) << "expected\n" << describe(expected, n);
    }
}

TEST(ZoneOperations, AgreeWithRawOperationsAndKeepUnchangedBlocksShared)
{
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        const uint32_t n = 2 + rng() % 4;
        const Matrix start = randomZone(rng, n);
        const Params p = randomParams(rng, start, n);
        for (const Op& op : operations()) {
            checkOperation(op, start, p);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

// The random zones must reach both outcomes of every operation often enough
// for the test above to mean something: some calls change a shared block and
// some leave it alone.
TEST(ZoneOperations, RandomCasesCoverChangedAndUnchangedOutcomes)
{
    for (const Op& op : operations()) {
        int changed = 0, unchanged = 0;
        for (uint32_t seed = 1; seed <= 400; ++seed) {
            std::mt19937 rng(seed);
            const uint32_t n = 2 + rng() % 4;
            const Matrix start = randomZone(rng, n);
            const Params p = randomParams(rng, start, n);
            Matrix m = start;
            if (op.onRaw(m.data(), p) && m == start) {
                ++unchanged;
            } else {
                ++changed;
            }
        }
        EXPECT_GT(changed, 5) << op.name;
        if (!op.alwaysCopies) {
            EXPECT_GT(unchanged, 5) << op.name;
        }
    }
}

}  // namespace
