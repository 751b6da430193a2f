#include "statespace/discrete_storage.h"

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/hash.h"

using namespace storage;

namespace {

struct Storages
{
    base::RefPtr<base::DataAllocator> allocator{new base::DataAllocator()};
    base::RefPtr<DiscreteStorage> copy = makeDiscreteStorage(allocator.get(), 0, 0);
    base::RefPtr<DiscreteStorage> compress = makeDiscreteStorage(allocator.get(), 0, 1);
};

uint32_t hashOf(const std::vector<int32_t>& v)
{
    return static_cast<uint32_t>(base::hash64(v.data(), v.size() * 4, 0));
}
uint32_t hashOf(const std::vector<uint32_t>& v)
{
    return static_cast<uint32_t>(base::hash64(v.data(), v.size() * 4, 0));
}

bool isNode(handle_t h)
{
    return h != 0 && (h & 3) == 0;
}
uint32_t headerOf(handle_t h)
{
    return *reinterpret_cast<const uint32_t*>(h);
}

uint32_t testSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261210u;
}

}  // namespace

TEST(DiscreteStorage, KindsAndNames)
{
    Storages s;
    EXPECT_NE(dynamic_cast<CompressIntStorage*>(s.compress.get()), nullptr);
    EXPECT_EQ(dynamic_cast<CompressIntStorage*>(s.copy.get()), nullptr);
    EXPECT_NE(dynamic_cast<CopyIntStorage*>(makeDiscreteStorage(s.allocator.get(), 0, 7).get()), nullptr);
    EXPECT_STREQ(discreteStorageName(0), "Copy integers");
    EXPECT_STREQ(discreteStorageName(1), "Compress integers");
    EXPECT_STREQ(discreteStorageName(5), "Copy integers");
}

// The handle of every small vector is fixed: it is the vector itself, bit for bit.
TEST(DiscreteStorage, CompressedIntegerHandles)
{
    struct Case
    {
        const char* name;
        std::vector<int32_t> values;
        handle_t handle;
    };
    const Case cases[] = {
        {"empty", {}, 0},
        {"five zeros", {0, 0, 0, 0, 0}, 5 * 4 + 1},
        {"three -1", {-1, -1, -1}, 0x80000000u | 13},
        {"single 5", {5}, 5 * 64 + 14},
        {"single -1 is uniform", {-1}, 0x80000000u | 5},
        {"single -2^25 sign-extended", {-(1 << 25)}, 0xffffffff8000000eull},
        {"single 2^25 - 1", {(1 << 25) - 1}, (static_cast<handle_t>((1 << 25) - 1) << 6) | 14},
        {"1 0 -1 width 2", {1, 0, -1}, 54 | (1u << 8) | (0u << 10) | (3u << 12)},
        {"0 -1 width 1", {0, -1}, (2 * 16 + 2) | (1u << 10)},
        {"width 4", {7, -8, 3}, (3 * 16 + 10) | (7u << 7) | (8u << 11) | (3u << 15)},
        {"six of width 4", {7, -8, 1, 2, 3, -1}, (6 * 16 + 10) | (7u << 7) | (8u << 11) | (1u << 15) | (2u << 19) |
                                                     (3u << 23) | (15u << 27)},
        {"three of width 8", {127, -128, 0}, (3 * 16 + 14) | (127u << 6) | (128u << 14)},
    };
    Storages s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto n = static_cast<uint32_t>(c.values.size());
        const handle_t h = s.compress->packIntegers(c.values.data(), n, hashOf(c.values));
        EXPECT_EQ(h, c.handle);
        std::vector<int32_t> out(n + 1, 77);
        EXPECT_EQ(s.compress->unpackIntegers(out.data(), h), n);
        out.pop_back();
        EXPECT_EQ(out, c.values);
        EXPECT_TRUE(s.compress->equalIntegers(c.values.data(), n, h));
        EXPECT_EQ(s.compress->storedCount(h), n);
    }
    EXPECT_EQ(s.compress->getNodeCount(), 0u);
}

TEST(DiscreteStorage, CompressedIntegerNodes)
{
    struct Case
    {
        const char* name;
        std::vector<int32_t> values;
        uint32_t widthCode;
    };
    std::vector<int32_t> mixed24(24, 0), mixed23(23, 0);
    mixed24[5] = -1;
    mixed23[5] = -1;
    const Case cases[] = {
        {"single 2^25", {1 << 25}, 5},
        {"single -2^25 - 1", {-(1 << 25) - 1}, 5},
        {"twenty-four of 0 and -1", mixed24, 1},
        {"thirteen of width 2", std::vector<int32_t>(13, 1), 1},  // uniform 1 is not a uniform form
        {"seven of width 4", {7, 0, 0, 0, 0, 0, 0}, 2},
        {"four of width 8", {100, 0, 0, 0}, 3},
        {"magnitude 128", {128, 0}, 4},
        {"magnitude 0x8000", {0x8000, 0}, 5},
        {"negative 16 bit", {-0x8000, 5}, 4},
    };
    Storages s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto n = static_cast<uint32_t>(c.values.size());
        const handle_t h = s.compress->packIntegers(c.values.data(), n, hashOf(c.values));
        ASSERT_TRUE(isNode(h));
        EXPECT_EQ(headerOf(h) & 7, c.widthCode);
        EXPECT_EQ((headerOf(h) >> 5) & 0x7ff, n);
        EXPECT_EQ(headerOf(h) & 0xffff0000u, hashOf(c.values) & 0xffff0000u);
        std::vector<int32_t> out(n);
        EXPECT_EQ(s.compress->unpackIntegers(out.data(), h), n);
        EXPECT_EQ(out, c.values);
    }
    // Twenty-three of them still fit inline, with one bit each.
    const handle_t h = s.compress->packIntegers(mixed23.data(), 23, 0);
    EXPECT_EQ(h & 0x1ff, 23u * 16 + 2);
    EXPECT_EQ(h >> 9, 1u << 5);
}

TEST(DiscreteStorage, CompressedLocationHandles)
{
    struct Case
    {
        const char* name;
        std::vector<uint32_t> indices;
        handle_t handle;  // 0 for a node
        uint32_t nodeHeaderLow = 0;
    };
    const Case cases[] = {
        {"delta width 1", {0, 1, 2, 3}, (4 * 16 + 3) | (1u << 10) | (1u << 11) | (1u << 12)},
        {"decreasing pair is absolute", {3, 2}, (2 * 16 + 6) | (3u << 8) | (2u << 10)},
        {"single", {9}, 9 * 64 + 14},
        {"single below 2^22", {(1u << 22) - 1}, (static_cast<handle_t>((1u << 22) - 1) << 6) | 14},
        {"zeros absolute width 1", {0, 0, 0}, 3 * 16 + 2},
        {"delta width 4", {5, 10, 20, 30}, (4 * 16 + 11) | (5u << 7) | (5u << 11) | (10u << 15) | (10u << 19)},
        {"delta width 8", {100, 200, 250}, (3 * 16 + 15) | (100u << 6) | (100u << 14) | (50u << 22)},
        {"absolute width 8", {200, 100, 3}, (3 * 16 + 14) | (200u << 6) | (100u << 14) | (3u << 22)},
        {"single 2^22 is a node", {1u << 22}, 0, (1u << 5) | 5},
        {"thirteen deltas of 2", {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26}, 0, (13u << 5) | 0x10 | 1},
        {"absolute 16-bit node", {300, 40000, 5}, 0, (3u << 5) | 4},
        {"delta 32-bit node holds absolute indices", {0x10000, 0x20000, 0x30000, 0x40000}, 0, (4u << 5) | 0x10 | 5},
    };
    Storages s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto n = static_cast<uint32_t>(c.indices.size());
        const handle_t h = s.compress->packLocations(c.indices.data(), n, hashOf(c.indices));
        if (c.handle != 0) {
            EXPECT_EQ(h, c.handle);
        } else {
            ASSERT_TRUE(isNode(h));
            EXPECT_EQ(headerOf(h) & 0xffff, c.nodeHeaderLow);
        }
        std::vector<uint32_t> out(n);
        EXPECT_EQ(s.compress->unpackLocations(out.data(), h), n);
        EXPECT_EQ(out, c.indices);
        EXPECT_TRUE(s.compress->equalLocations(c.indices.data(), n, h));
    }
    // The 32-bit delta node keeps the indices themselves.
    const std::vector<uint32_t> big{0x10000, 0x20000, 0x30000, 0x40000};
    const handle_t h = s.compress->packLocations(big.data(), 4, 0);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(h)[3], 0x30000u);
}

TEST(DiscreteStorage, CopyFormat)
{
    Storages s;
    const std::vector<int32_t> v{5, -7, 0};
    const handle_t h = s.copy->packIntegers(v.data(), 3, 0xabcd1234u);
    ASSERT_TRUE(isNode(h));
    const auto* words = reinterpret_cast<const uint32_t*>(h);
    EXPECT_EQ(words[0], 0xabcd0000u | 3);
    EXPECT_EQ(static_cast<int32_t>(words[2]), -7);
    EXPECT_EQ(s.copy->packIntegers(nullptr, 0, 0), 0u);
    EXPECT_TRUE(s.copy->equalIntegers(nullptr, 0, 0));
    EXPECT_FALSE(s.copy->equalIntegers(v.data(), 3, 0));
    EXPECT_FALSE(s.copy->equalIntegers(v.data(), 0, h));
    EXPECT_FALSE(s.copy->equalIntegers(v.data(), 2, h));

    // Counts of 32768 and more move to a word of their own.
    std::vector<int32_t> longVector(40000, 3);
    longVector[39999] = 4;
    const handle_t l = s.copy->packIntegers(longVector.data(), 40000, 17);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(l)[0] & 0xffff, 0x8000u);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(l)[1], 40000u);
    EXPECT_EQ(s.copy->storedCount(l), 40000u);
    std::vector<int32_t> out(40000);
    EXPECT_EQ(s.copy->unpackIntegers(out.data(), l), 40000u);
    EXPECT_EQ(out, longVector);
    EXPECT_EQ(s.copy->packIntegers(longVector.data(), 40000, 17), l);
    longVector[0] = 2;
    EXPECT_FALSE(s.copy->equalIntegers(longVector.data(), 40000, l));
}

// Equal vectors give the same handle and one node; vectors that differ are never found equal.
TEST(DiscreteStorage, HashConsing)
{
    Storages s;
    for (DiscreteStorage* d : {s.copy.get(), s.compress.get()}) {
        SCOPED_TRACE(d == s.copy.get() ? "copy" : "compress");
        std::vector<int32_t> v{1000, 2000, 3000, 4000};
        const uint64_t before = d->getNodeCount();
        const handle_t h = d->packIntegers(v.data(), 4, hashOf(v));
        EXPECT_EQ(d->getNodeCount(), before + 1);
        EXPECT_EQ(d->packIntegers(v.data(), 4, hashOf(v)), h);
        EXPECT_EQ(d->getNodeCount(), before + 1);
        // Same hash, other contents: a second node in the same chain.
        std::vector<int32_t> w{1000, 2000, 3000, 4001};
        const handle_t g = d->packIntegers(w.data(), 4, hashOf(v));
        EXPECT_NE(g, h);
        EXPECT_EQ(d->getNodeCount(), before + 2);
        EXPECT_FALSE(d->equalIntegers(w.data(), 4, h));
        EXPECT_TRUE(d->equalIntegers(w.data(), 4, g));
        // Locations and integers with the same words share a node in the copy kind only.
        std::vector<uint32_t> loc{1000, 2000, 3000, 4000};
        const handle_t l = d->packLocations(loc.data(), 4, hashOf(v));
        EXPECT_EQ(l == h, d == s.copy.get());
    }
}

// The table starts with 65536 buckets and doubles when the count reaches the number of buckets.
TEST(DiscreteStorage, TableDoublesAtItsSize)
{
    Storages s;
    for (DiscreteStorage* d : {s.copy.get(), s.compress.get()}) {
        EXPECT_EQ(d->getBucketCount(), 65536u);
        std::vector<int32_t> v{1000, 0};
        for (int32_t i = 0; i < 65535; ++i) {
            v[1] = i;
            d->packIntegers(v.data(), 2, static_cast<uint32_t>(base::hash64(v.data(), 8, 0)));
        }
        EXPECT_EQ(d->getNodeCount(), 65535u);
        EXPECT_EQ(d->getBucketCount(), 65536u);
        v[1] = 65535;
        d->packIntegers(v.data(), 2, static_cast<uint32_t>(base::hash64(v.data(), 8, 0)));
        EXPECT_EQ(d->getBucketCount(), 131072u);
        // Every vector is still found after the rehash.
        for (int32_t i = 0; i <= 65535; i += 97) {
            v[1] = i;
            d->packIntegers(v.data(), 2, static_cast<uint32_t>(base::hash64(v.data(), 8, 0)));
        }
        EXPECT_EQ(d->getNodeCount(), 65536u);
        d->clear();
        EXPECT_EQ(d->getNodeCount(), 0u);
    }
    // A growth shift makes the table grow later.
    base::RefPtr<DiscreteStorage> shifted = makeDiscreteStorage(s.allocator.get(), 4, 1);
    std::vector<int32_t> v{1000, 0};
    for (int32_t i = 0; i < 4097; ++i) {
        v[1] = i;
        shifted->packIntegers(v.data(), 2, static_cast<uint32_t>(base::hash64(v.data(), 8, 0)));
    }
    EXPECT_EQ(shifted->getBucketCount(), 131072u);
}

// Random vectors of every shape read back unchanged, compare equal to themselves and unequal to a
// copy with one element changed, in both kinds.
TEST(DiscreteStorage, RandomizedRoundTrip)
{
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    Storages s;
    const int32_t ranges[] = {1, 2, 4, 8, 128, 256, 0x8000, 0x10000, 1 << 25, 0x7fffffff};
    const uint32_t lengths[] = {1, 2, 3, 4, 6, 7, 12, 13, 23, 24, 100, 2047, 2048, 3000};
    for (int round = 0; round < 600; ++round) {
        const uint32_t n = lengths[rng() % std::size(lengths)];
        const int32_t range = ranges[rng() % std::size(ranges)];
        std::uniform_int_distribution<int32_t> value(range == 0x7fffffff ? -range - 1 : -range, range - 1);
        std::vector<int32_t> v(n);
        for (auto& x : v) x = value(rng);
        std::vector<uint32_t> loc(n);
        const bool sorted = rng() % 2 == 0;
        for (auto& x : loc) x = static_cast<uint32_t>(value(rng)) & (static_cast<uint32_t>(range) * 2 - 1);
        if (sorted) std::sort(loc.begin(), loc.end());
        for (DiscreteStorage* d : {s.copy.get(), s.compress.get()}) {
            SCOPED_TRACE("round " + std::to_string(round) + (d == s.copy.get() ? " copy" : " compress"));
            const handle_t h = d->packIntegers(v.data(), n, hashOf(v));
            std::vector<int32_t> out(n);
            ASSERT_EQ(d->unpackIntegers(out.data(), h), n);
            ASSERT_EQ(out, v);
            EXPECT_TRUE(d->equalIntegers(v.data(), n, h));
            EXPECT_EQ(d->packIntegers(v.data(), n, hashOf(v)), h);
            std::vector<int32_t> w = v;
            w[rng() % n] ^= 1 << (rng() % 31);
            EXPECT_FALSE(d->equalIntegers(w.data(), n, h));
            EXPECT_FALSE(d->equalIntegers(v.data(), n - 1, h));

            const handle_t l = d->packLocations(loc.data(), n, hashOf(loc));
            std::vector<uint32_t> locOut(n);
            ASSERT_EQ(d->unpackLocations(locOut.data(), l), n);
            ASSERT_EQ(locOut, loc);
            EXPECT_TRUE(d->equalLocations(loc.data(), n, l));
            std::vector<uint32_t> other = loc;
            other[rng() % n] += 1;
            EXPECT_FALSE(d->equalLocations(other.data(), n, l));

            // Masked: every third position, or none.
            std::vector<uint32_t> mask((n + 31) / 32, 0);
            const uint32_t step = 1 + rng() % 3;
            for (uint32_t i = 0; i < n; i += step) base::setBit(mask.data(), i);
            if (rng() % 8 == 0) std::fill(mask.begin(), mask.end(), 0);
            const auto maskWords = static_cast<uint32_t>(mask.size());
            const handle_t m = d->packMasked(v.data(), n, mask.data(), maskWords, hashOf(v));
            std::vector<int32_t> masked(n, 99);
            const uint32_t k = d->unpackMasked(masked.data(), n, m, mask.data());
            uint32_t expectedK = 0;
            for (uint32_t i = 0; i < n; ++i) {
                const bool set = base::testBit(mask.data(), i);
                expectedK += set;
                ASSERT_EQ(masked[i], set ? v[i] : 0) << i;
            }
            EXPECT_EQ(k, expectedK);
            EXPECT_EQ(m == 0, k == 0);
            EXPECT_TRUE(d->equalMasked(v.data(), n, m, mask.data(), maskWords));
        }
    }
}

TEST(DiscreteStorage, ExpandRecordsFollowsChains)
{
    Storages s;
    // Records 0..3; record 1 chains to record 3.
    ChainedRecord records[4] = {{2, nullptr}, {0, nullptr}, {5, nullptr}, {4, nullptr}};
    records[1].link = &records[3];
    const std::vector<uint32_t> indices{1, 2};
    for (DiscreteStorage* d : {s.copy.get(), s.compress.get()}) {
        const ChainedRecord* out[6] = {};
        d->expandRecords(out, records, d->packLocations(indices.data(), 2, 0));
        EXPECT_EQ(out[0], &records[1]);
        EXPECT_EQ(out[4], &records[3]);
        EXPECT_EQ(out[5], &records[2]);
        EXPECT_EQ(out[2], nullptr);
    }
}
