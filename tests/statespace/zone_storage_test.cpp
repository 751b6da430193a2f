#include "statespace/zone_storage.h"

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/fed.h"
#include "support/hash.h"

using namespace storage;
using dbm::bound_t;
using dbm::boundLE;
using dbm::boundLT;

namespace {

using Matrix = std::vector<bound_t>;

uint32_t hashOf(const dbm::zone_t& z)
{
    const uint32_t dim = z.getDimension();
    return static_cast<uint32_t>(base::hash64(z.getMatrix(), sizeof(bound_t) * dim * dim, 0));
}

dbm::zone_t zoneOf(const Matrix& m, uint32_t dim)
{
    dbm::zone_t z(dim);
    z.assignMatrix(m.data(), dim);
    return z;
}

Matrix matrixOf(const dbm::zone_t& z)
{
    const uint32_t dim = z.getDimension();
    return Matrix(z.getMatrix(), z.getMatrix() + dim * dim);
}

// x_k in [low, high] for each listed clock, closed.
dbm::zone_t box(uint32_t dim, const std::vector<std::pair<int32_t, int32_t>>& ranges)
{
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    for (uint32_t k = 1; k <= ranges.size(); ++k) {
        m[k * dim] = boundLE(ranges[k - 1].second);
        m[k] = boundLE(-ranges[k - 1].first);
    }
    EXPECT_TRUE(dbm::close(m.data(), dim));
    return zoneOf(m, dim);
}

// A random closed, non-empty zone built from small constants, so that inclusions are common.
Matrix randomZone(std::mt19937& rng, uint32_t dim)
{
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    std::uniform_int_distribution<uint32_t> clock(0, dim - 1);
    std::uniform_int_distribution<int32_t> value(-2, 4);
    const int steps = static_cast<int>(rng() % (2 * dim));
    for (int s = 0; s < steps; ++s) {
        Matrix next = m;
        const uint32_t i = clock(rng), j = clock(rng);
        if (i == j) continue;
        const int32_t v = value(rng);
        if (dbm::constrain(next.data(), dim, i, j, rng() % 2 ? boundLE(v) : boundLT(v))) m = next;
    }
    return m;
}

const uint32_t* encodedOf(zone_handle_t h)
{
    return reinterpret_cast<const uint32_t*>(h);
}

bool uses16Bits(zone_handle_t h)
{
    return ((encodedOf(h)[0] >> 16) & 1) != 0;
}

uint32_t testSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261210u;
}

struct Kinds
{
    base::RefPtr<base::DataAllocator> allocator{new base::DataAllocator()};
    base::RefPtr<ZoneStorage> storages[4] = {makeZoneStorage(allocator.get(), 0, 0),
                                             makeZoneStorage(allocator.get(), 0, 1),
                                             makeZoneStorage(allocator.get(), 0, 2),
                                             makeZoneStorage(allocator.get(), 0, 3)};
};

}  // namespace

TEST(ZoneStorage, KindsAndNames)
{
    Kinds k;
    EXPECT_EQ(dynamic_cast<MinDBMStorage*>(k.storages[0].get()), nullptr);
    EXPECT_EQ(dynamic_cast<MinDBMStorage*>(k.storages[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<MinDBMStorage*>(k.storages[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<MinDBMStorage*>(k.storages[3].get()), nullptr);
    EXPECT_STREQ(zoneStorageName(0), "DBM copy without diagonal");
    EXPECT_STREQ(zoneStorageName(1), "DBM copy on int16 without diagonal");
    EXPECT_STREQ(zoneStorageName(2), "DBM minimal graph reduction");
    EXPECT_STREQ(zoneStorageName(3), "DBM minimal graph reduction on int16");
    EXPECT_STREQ(zoneStorageName(9), "DBM copy on int16 without diagonal");
    // Any other kind is the 16-bit full-matrix storage.
    base::RefPtr<ZoneStorage> other = makeZoneStorage(k.allocator.get(), 0, 9);
    const zone_handle_t h = other->packZone(box(3, {{0, 5}, {1, 2}}), 7);
    EXPECT_TRUE(uses16Bits(h));
    EXPECT_EQ(dbm::encodedFormatNumber(encodedOf(h)), dbm::encodedFormatNumber(encodedOf(
                                                          k.storages[1]->packZone(box(3, {{0, 5}, {1, 2}}), 7))));
}

// Without clocks every zone is the handle 0: equal to everything stored, unpacking the 1 x 1 zone.
TEST(ZoneStorage, DimensionOneIsNeverStored)
{
    Kinds k;
    for (auto& s : k.storages) {
        const dbm::zone_t z = dbm::zeroDBM();
        EXPECT_EQ(s->packZone(z, 5), 0u);
        EXPECT_EQ(s->relationWithZone(z, 0), dbm::EQUAL);
        dbm::zone_t out(4);
        EXPECT_EQ(s->unpackZone(out, 0), 1u);
        ASSERT_FALSE(out.isEmpty());
        EXPECT_EQ(out.getDimension(), 1u);
        EXPECT_EQ(out(0, 0), 1);
        EXPECT_EQ(s->storedDimension(0), 1u);
        EXPECT_TRUE(s->storedHasZero(0));
        dbm::zone_t w = dbm::zeroDBM();
        s->widenByStored(w, 0);
        EXPECT_EQ(w(0, 0), 1);
        s->release(0);
    }
}

// The same zone twice is one stored copy with two references; the second release frees it.
TEST(ZoneStorage, ReferenceCounts)
{
    Kinds k;
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        auto* s = static_cast<DBMStorage*>(k.storages[kind].get());
        const dbm::zone_t z = box(4, {{0, 3}, {2, 2}, {1, 7}});
        const zone_handle_t h = s->packZone(z, hashOf(z));
        ASSERT_NE(h, 0u);
        EXPECT_EQ(s->getZoneCount(), 1u);
        EXPECT_EQ(DBMStorage::storedReferences(h), 1u);
        // An equal zone in a block of its own is found too.
        const dbm::zone_t copy = zoneOf(matrixOf(z), 4);
        EXPECT_EQ(s->packZone(copy, hashOf(copy)), h);
        EXPECT_EQ(DBMStorage::storedReferences(h), 2u);
        EXPECT_EQ(s->getZoneCount(), 1u);
        const uint32_t words = 5 + dbm::encodedSize(encodedOf(h));
        auto* node = reinterpret_cast<uint32_t*>(h) - 5;
        s->release(h);
        EXPECT_EQ(s->getZoneCount(), 1u);
        EXPECT_TRUE(k.allocator->isAllocated(node, words));
        s->release(h);
        EXPECT_EQ(s->getZoneCount(), 0u);
        EXPECT_FALSE(k.allocator->isAllocated(node, words));
        // Stored anew after it was freed.
        const zone_handle_t again = s->packZone(z, hashOf(z));
        EXPECT_EQ(DBMStorage::storedReferences(again), 1u);
        EXPECT_EQ(s->getZoneCount(), 1u);
    }
}

TEST(ZoneStorage, SaturatedCountKeepsTheZoneForever)
{
    Kinds k;
    auto* s = static_cast<DBMStorage*>(k.storages[3].get());
    const dbm::zone_t z = box(3, {{1, 4}, {0, 2}});
    zone_handle_t h = 0;
    for (int i = 0; i < 0xffff + 10; ++i) {
        h = s->packZone(z, hashOf(z));
    }
    EXPECT_EQ(DBMStorage::storedReferences(h), 0xffffu);
    for (int i = 0; i < 0xffff + 20; ++i) {
        s->release(h);
    }
    EXPECT_EQ(s->getZoneCount(), 1u);
    EXPECT_EQ(s->packZone(z, hashOf(z)), h);
    EXPECT_EQ(s->relationWithZone(z, h), dbm::EQUAL);
}

// 16-bit bounds are used by the 16-bit kinds when every finite bound has a magnitude below 32766.
TEST(ZoneStorage, SixteenBitBoundsUpToMagnitude32765)
{
    struct Case
    {
        const char* name;
        bound_t upper;  // raw upper bound of x1
        bool fits;
    };
    const Case cases[] = {
        {"x1 <= 16382 (raw 32765)", boundLE(16382), true},
        {"x1 < 16383 (raw 32766)", boundLT(16383), false},
        {"x1 <= 20000", boundLE(20000), false},
        {"x1 <= 3", boundLE(3), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Kinds k;
        Matrix m(9);
        dbm::init(m.data(), 3);
        m[3] = c.upper;
        m[5] = boundLE(2);  // x1 - x2 <= 2: no other bound grows beyond x1's
        ASSERT_TRUE(dbm::close(m.data(), 3));
        const dbm::zone_t z = zoneOf(m, 3);
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE("kind " + std::to_string(kind));
            const zone_handle_t h = k.storages[kind]->packZone(z, hashOf(z));
            EXPECT_EQ(uses16Bits(h), c.fits && (kind == 1 || kind == 3));
            EXPECT_EQ(((encodedOf(h)[0] >> 16) & 4) != 0, kind >= 2);  // minimal graph
            dbm::zone_t out;
            k.storages[kind]->unpackZone(out, h);
            EXPECT_EQ(matrixOf(out), m);
        }
    }
}

// Random zones in every kind: unpacking gives the zone back, relations and widening agree with the
// matrices, whether the stored zone is in the cache or not (far more zones than cache slots, and
// handles that share a slot evict each other).
TEST(ZoneStorage, RandomizedAgainstMatrices)
{
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (uint32_t dim : {2u, 3u, 5u, 8u, 15u}) {
        SCOPED_TRACE("dimension " + std::to_string(dim));
        std::vector<Matrix> zones;
        for (int i = 0; i < 600; ++i) {
            zones.push_back(randomZone(rng, dim));
        }
        Kinds k;
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE("kind " + std::to_string(kind));
            ZoneStorage& s = *k.storages[kind];
            std::vector<zone_handle_t> handles;
            for (const Matrix& m : zones) {
                const dbm::zone_t z = zoneOf(m, dim);
                handles.push_back(s.packZone(z, hashOf(z)));
            }
            for (size_t i = 0; i < zones.size(); ++i) {
                for (size_t j = 0; j < zones.size(); ++j) {
                    if (handles[i] == handles[j]) {
                        ASSERT_EQ(zones[i], zones[j]);
                    }
                }
            }
            for (int probe = 0; probe < 3000; ++probe) {
                const size_t a = rng() % zones.size(), b = rng() % zones.size();
                const dbm::zone_t za = zoneOf(zones[a], dim);
                const dbm::relation_t r = dbm::relation(zones[a].data(), dim, zones[b].data());
                ASSERT_EQ(s.relationWithZone(za, handles[b]), r) << a << " " << b;
                ASSERT_EQ(s.includesZone(za, handles[b]), r == dbm::SUBSET || r == dbm::EQUAL) << a << " " << b;
                if (probe % 3 == 0) {
                    dbm::zone_t out(dim);
                    ASSERT_EQ(s.unpackZone(out, handles[b]), dim);
                    ASSERT_EQ(matrixOf(out), zones[b]);
                }
                if (probe % 3 == 1) {
                    dbm::zone_t widened = za;
                    s.widenByStored(widened, handles[b]);
                    Matrix hull = zones[a];
                    dbm::convexUnion(hull.data(), dim, zones[b].data());
                    ASSERT_EQ(matrixOf(widened), hull);
                    ASSERT_EQ(matrixOf(za), zones[a]);  // the shared block was left alone
                }
                if (probe % 3 == 2) {
                    ASSERT_EQ(s.relationBetweenStored(handles[a], handles[b]),
                              dbm::relation(zones[a].data(), dim, zones[b].data()));
                    ASSERT_EQ(s.storedHasZero(handles[b]), dbm::hasZero(zones[b].data(), dim));
                    Matrix read(dim * dim);
                    s.readZone(read.data(), handles[b]);
                    ASSERT_EQ(read, zones[b]);
                }
            }
            // Packing every zone again, in another order, finds the same stored copy, whether its
            // decoded matrix is still in the cache (equality is then read from it) or not.
            for (size_t n = 0; n < zones.size(); ++n) {
                const size_t i = (n * 7919) % zones.size();
                const dbm::zone_t z = zoneOf(zones[i], dim);
                const uint32_t before = DBMStorage::storedReferences(handles[i]);
                ASSERT_EQ(s.packZone(z, hashOf(z)), handles[i]) << i;
                ASSERT_EQ(DBMStorage::storedReferences(handles[i]), before + 1) << i;
            }
        }
    }
}

TEST(ZoneStorage, HandlesSharingACacheSlot)
{
    Kinds k;
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        ZoneStorage& s = *k.storages[kind];
        // Find two stored zones whose handles share a slot.
        std::vector<std::pair<zone_handle_t, dbm::zone_t>> stored;
        zone_handle_t first = 0, second = 0;
        dbm::zone_t zFirst, zSecond;
        for (int32_t c = 0; second == 0; ++c) {
            const dbm::zone_t z = box(3, {{0, c}, {c, c + 1}});
            const zone_handle_t h = s.packZone(z, hashOf(z));
            for (const auto& [g, zg] : stored) {
                if (g % DBMStorage::cacheSlotsFor(3) == h % DBMStorage::cacheSlotsFor(3)) {
                    first = g;
                    zFirst = zg;
                    second = h;
                    zSecond = z;
                }
            }
            stored.emplace_back(h, z);
        }
        const dbm::zone_t probe = box(3, {{0, 5000}, {0, 5001}});
        for (int round = 0; round < 3; ++round) {
            EXPECT_EQ(s.relationWithZone(zFirst, first), dbm::EQUAL);
            EXPECT_EQ(s.relationWithZone(zSecond, first), dbm::DIFFERENT);
            EXPECT_EQ(s.relationWithZone(probe, second), dbm::SUPERSET);
            dbm::zone_t out;
            s.unpackZone(out, first);
            EXPECT_EQ(matrixOf(out), matrixOf(zFirst));
            s.unpackZone(out, second);
            EXPECT_EQ(matrixOf(out), matrixOf(zSecond));
            EXPECT_EQ(s.relationWithZone(probe, first), dbm::SUPERSET);
        }
    }
}

TEST(ZoneStorage, Widening)
{
    Kinds k;
    for (auto& s : k.storages) {
        const dbm::zone_t small = box(3, {{1, 2}, {1, 2}});
        const dbm::zone_t large = box(3, {{0, 5}, {0, 5}});
        const zone_handle_t hs = s->packZone(small, hashOf(small));
        const zone_handle_t hl = s->packZone(large, hashOf(large));
        dbm::zone_t z = small;
        s->widenByStored(z, hs);
        EXPECT_EQ(matrixOf(z), matrixOf(small));
        s->widenByStored(z, hl);
        EXPECT_EQ(matrixOf(z), matrixOf(large));
        // Zones x <= 1 and x >= 3: the hull is x >= 0.
        const dbm::zone_t low = box(2, {{0, 1}});
        Matrix highMatrix(4);
        dbm::init(highMatrix.data(), 2);
        highMatrix[1] = boundLE(-3);
        const dbm::zone_t high = zoneOf(highMatrix, 2);
        dbm::zone_t w = low;
        s->widenByStored(w, s->packZone(high, hashOf(high)));
        Matrix all(4);
        dbm::init(all.data(), 2);
        EXPECT_EQ(matrixOf(w), all);
    }
}

// Without exact relations a stored zone is only tested for including the given one.
TEST(ZoneStorage, InclusionOnlyRelation)
{
    Kinds k;
    for (auto& s : k.storages) {
        EXPECT_TRUE(s->isExactRelation());
        const bool off = false;
        s->setProperty(base::SIZE, &off);  // other keys are ignored
        EXPECT_TRUE(s->isExactRelation());
        s->setProperty(base::EXACT_RELATION, nullptr);
        EXPECT_TRUE(s->isExactRelation());
        s->setProperty(base::EXACT_RELATION, &off);
        EXPECT_FALSE(s->isExactRelation());
        const dbm::zone_t small = box(3, {{1, 2}, {1, 2}});
        const dbm::zone_t large = box(3, {{0, 5}, {0, 5}});
        const zone_handle_t hl = s->packZone(large, hashOf(large));
        EXPECT_EQ(s->relationWithZone(small, hl), dbm::SUBSET);
        EXPECT_EQ(s->relationWithZone(large, hl), dbm::SUBSET);
        const zone_handle_t hs = s->packZone(small, hashOf(small));
        EXPECT_EQ(s->relationWithZone(large, hs), dbm::DIFFERENT);
        EXPECT_EQ(s->relationWithZone(dbm::zeroDBM(), 0), dbm::SUBSET);
    }
}

TEST(ZoneStorage, MergeIfConvex)
{
    Kinds k;
    for (auto& s : k.storages) {
        const dbm::zone_t stored = box(3, {{1, 4}, {0, 3}});
        const zone_handle_t h = s->packZone(stored, hashOf(stored));
        // Overlapping boxes with the same extent in x2: their union is the box x1 in [0, 4].
        dbm::zone_t z = box(3, {{0, 2}, {0, 3}});
        EXPECT_TRUE(s->mergeIfConvex(z, h));
        EXPECT_EQ(matrixOf(z), matrixOf(box(3, {{0, 4}, {0, 3}})));
        // Overlapping, but the union is an L shape.
        dbm::zone_t l = box(3, {{0, 2}, {0, 5}});
        EXPECT_FALSE(s->mergeIfConvex(l, h));
        EXPECT_EQ(matrixOf(l), matrixOf(box(3, {{0, 2}, {0, 5}})));
        // Disjoint.
        dbm::zone_t far = box(3, {{6, 7}, {0, 3}});
        EXPECT_FALSE(s->mergeIfConvex(far, h));
    }
}

TEST(ZoneStorage, ClearForgetsEveryZone)
{
    Kinds k;
    for (auto& s : k.storages) {
        auto* d = static_cast<DBMStorage*>(s.get());
        const dbm::zone_t z = box(3, {{1, 4}, {0, 3}});
        const zone_handle_t h = s->packZone(z, hashOf(z));
        s->clear();
        EXPECT_EQ(d->getZoneCount(), 0u);
        const zone_handle_t again = s->packZone(z, hashOf(z));
        EXPECT_NE(again, h);
        EXPECT_EQ(s->relationWithZone(z, again), dbm::EQUAL);
    }
}
