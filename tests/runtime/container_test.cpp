// The channel registry, the intrusive hash table and the value arrays of states.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <vector>

#include "runtime/channels.h"
#include "runtime/double_array.h"
#include "runtime/intrusive_hash_table.h"
#include "runtime/value_array.h"

TEST(Channels, NumberedFromOneAndClearedTogether)
{
    clearChannels();
    EXPECT_EQ(registerChannel(false, false, "a"), 1);
    EXPECT_EQ(urgentChannelCount(), 0);
    EXPECT_EQ(registerChannel(true, true, "b"), 2);
    EXPECT_EQ(urgentChannelCount(), 1);
    EXPECT_EQ(channelCount(), 2u);
    EXPECT_EQ(getChannel(2).name, "b");
    EXPECT_TRUE(getChannel(2).broadcast);
    EXPECT_EQ(channelRegistry()[0].number, 1);

    std::ostringstream os;
    printChannels(os);
    EXPECT_EQ(os.str(), "Number of channels: 2\n  a (false, 0)\n  b (true, 1)\n");

    clearChannels();
    EXPECT_EQ(urgentChannelCount(), 0);
    EXPECT_EQ(registerChannel(false, false, "c"), 1);
    clearChannels();
}

namespace {
struct TestNode : IntrusiveHashTable::Node
{
    int payload = 0;
};

std::vector<TestNode> makeNodes(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<TestNode> nodes(n);
    for (size_t k = 0; k < n; ++k) {
        nodes[k].hash = static_cast<uint32_t>(random());
        nodes[k].payload = static_cast<int>(k);
    }
    return nodes;
}

size_t bucketOfNode(const IntrusiveHashTable& table, const IntrusiveHashTable::Node* node)
{
    IntrusiveHashTable::Iterator it(table);
    IntrusiveHashTable::Node* current;
    while (it.next(current)) {
        if (current == node) {
            return table.bucketIndex(current->hash);
        }
    }
    return SIZE_MAX;
}
}  // namespace

TEST(IntrusiveHashTable, GrowsWhenTheCountExceedsTwiceTheBuckets)
{
    IntrusiveHashTable table(12);
    std::vector<TestNode> nodes = makeNodes(8193, 17);
    for (size_t k = 0; k < 8192; ++k) {
        table.insert(&nodes[k]);
    }
    EXPECT_EQ(table.getBucketCount(), 4096u);
    table.insert(&nodes[8192]);
    EXPECT_EQ(table.getBucketCount(), 8192u);
    EXPECT_EQ(table.getShift(), 19);
    EXPECT_EQ(table.size(), 8193u);

    // Every node lies in the bucket of its top 13 hash bits, and each one is there exactly once.
    size_t seen = 0;
    for (size_t b = 0; b < table.getBucketCount(); ++b) {
        for (IntrusiveHashTable::Node* n = table.bucket(b); n != nullptr; n = n->next) {
            EXPECT_EQ(b, n->hash >> (32 - 13));
            ++seen;
        }
    }
    EXPECT_EQ(seen, 8193u);
}

TEST(IntrusiveHashTable, InsertRemoveTakeAndIterate)
{
    IntrusiveHashTable table(2);
    IntrusiveHashTable::Iterator empty(table);
    IntrusiveHashTable::Node* out = nullptr;
    EXPECT_FALSE(empty.next(out));
    EXPECT_EQ(table.takeBucket(1), nullptr);
    EXPECT_EQ(table.size(), 0u);

    TestNode a, b, c;
    a.hash = 0x40000000u;  // bucket 1
    b.hash = 0x40000001u;  // bucket 1
    c.hash = 0xc0000000u;  // bucket 3
    table.insert(&a);
    table.insert(&b);
    table.insert(&c);
    EXPECT_EQ(table.bucketOf(0x40000000u), &b);  // pushed at the front
    EXPECT_EQ(bucketOfNode(table, &c), 3u);

    table.remove(&a);
    EXPECT_EQ(a.next, nullptr);
    EXPECT_EQ(table.size(), 2u);
    table.unlinkAt(&table.bucket(3));
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.bucket(3), nullptr);

    table.insert(&a);
    IntrusiveHashTable::Node* chain = table.takeBucket(1);
    EXPECT_EQ(chain, &a);
    EXPECT_EQ(chain->next, &b);
    EXPECT_EQ(table.size(), 0u);
}

TEST(IntrusiveHashTable, IterationVisitsEveryNodeAndAllowsRemovingTheCurrentOne)
{
    IntrusiveHashTable table(3);
    std::vector<TestNode> nodes = makeNodes(100, 5);
    for (TestNode& n : nodes) {
        table.insert(&n);
    }
    std::vector<int> seen(nodes.size(), 0);
    IntrusiveHashTable::Iterator it(table);
    IntrusiveHashTable::Node* node;
    while (it.next(node)) {
        ++seen[static_cast<size_t>(static_cast<TestNode*>(node)->payload)];
        table.remove(node);
    }
    EXPECT_EQ(std::vector<int>(nodes.size(), 1), seen);
    EXPECT_EQ(table.size(), 0u);
}

TEST(ValueArrays, GrowKeepsValuesAndAssignGrowsFirst)
{
    ValueArray small(2, 0);
    EXPECT_TRUE(small.grow(0));
    EXPECT_EQ(small.size(), 2);
    small.values[1] = 5;

    ValueArray longer(2, 3);
    for (int32_t k = 0; k < 5; ++k) {
        longer.values[k] = 10 + k;
    }
    small.assign(longer);
    EXPECT_EQ(small.extraCount, 3);
    EXPECT_EQ(small.values[4], 14);
    EXPECT_TRUE(small == longer);

    ASSERT_TRUE(longer.grow(2));
    EXPECT_EQ(longer.size(), 7);
    EXPECT_EQ(longer.values[4], 14);
    EXPECT_EQ(longer.values[6], 0);
    ValueArray copy(longer);
    EXPECT_TRUE(copy == longer);
    copy.values[6] = 1;
    EXPECT_FALSE(copy == longer);

    ValueArray none(0, 0);
    EXPECT_TRUE(none == ValueArray(0, 0));
}

TEST(ValueArrays, DoubleArrayComparesAsDoubles)
{
    DoubleArray a(1, 0);
    DoubleArray b(1, 0);
    EXPECT_TRUE(a.grow(0));
    a.values[0] = 0.0;
    b.values[0] = -0.0;
    EXPECT_TRUE(a == b);
    a.values[0] = std::nan("");
    b.values[0] = std::nan("");
    EXPECT_FALSE(a == b);

    DoubleArray longer(1, 2);
    longer.values[2] = 2.5;
    a.assign(longer);
    EXPECT_EQ(a.extraCount, 2);
    EXPECT_EQ(a.values[2], 2.5);
}
