// DBM blocks, the intern table, the shared zero DBM and the federation pools.
// The storage is process-wide, so every test works with differences from the
// state it finds rather than with absolute figures.

#include <gtest/gtest.h>

#include <vector>

#include "dbm/block.h"
#include "dbm/dbm.h"
#include "dbm/zone.h"

namespace {

using namespace dbm;

// A non-empty zone of dimension n whose clocks are all equal to v.
zone_t pointZone(uint32_t n, int32_t v)
{
    std::vector<bound_t> m(size_t(n) * n);
    dbm::init(m.data(), n);
    for (uint32_t i = 1; i < n; ++i) dbm::updateValue(m.data(), n, i, v);
    zone_t z(n);
    z.assignMatrix(m.data(), n);
    return z;
}

TEST(DBMBlock, FreedBlockIsTheNextAllocationOfItsDimension)
{
    DBMBlock* a = allocateDBMBlock(4);
    a->info = 4;
    a->count = 1;
    freeDBMBlock(a);
    DBMBlock* other = allocateDBMBlock(5);  // another dimension leaves the list of 4 alone
    EXPECT_EQ(allocateDBMBlock(4), a);
    other->info = 5;
    freeDBMBlock(other);
    freeDBMBlock(a);
}

TEST(DBMBlock, FreeListTableGrowsToDimensionPlusEight)
{
    const uint32_t dim = freeListTableSize() + 4;
    DBMBlock* block = allocateDBMBlock(dim);
    block->info = dim;
    block->count = 1;
    freeDBMBlock(block);
    EXPECT_EQ(freeListTableSize(), dim + 8);
    EXPECT_EQ(allocateDBMBlock(dim), block);
    freeDBMBlock(block);
}

TEST(DBMBlock, SharedZeroDBMIsInternedAndHeldForTheRun)
{
    const zone_t& zero = zeroDBM();
    ASSERT_FALSE(zero.isEmpty());
    EXPECT_EQ(zero.getDimension(), 1u);
    EXPECT_EQ(zero(0, 0), BOUND_LE_ZERO);
    EXPECT_TRUE(zero.getBlock()->isInterned());
    EXPECT_GE(zero.getBlock()->count, 1u);
}

TEST(DBMBlock, InterningSharesEqualMatricesAndReleaseUnlinks)
{
    DBMInternTable& table = internTable();
    const uint64_t before = table.count;

    zone_t a = pointZone(3, 7);
    zone_t b = pointZone(3, 7);
    ASSERT_NE(a.getWord(), b.getWord());
    DBMBlock* blockA = a.getBlock();

    internZone(a);
    EXPECT_TRUE(blockA->isInterned());
    EXPECT_EQ(table.count, before + 1);
    internZone(a);  // already interned: nothing
    EXPECT_EQ(table.count, before + 1);

    internZone(b);  // equal matrix: b shares a's block, its own goes back
    EXPECT_EQ(b.getWord(), a.getWord());
    EXPECT_EQ(blockA->count, 2u);
    EXPECT_EQ(table.count, before + 1);

    zone_t c = pointZone(3, 8);
    internZone(c);
    EXPECT_NE(c.getWord(), a.getWord());
    EXPECT_EQ(table.count, before + 2);

    b = zone_t(3);
    a = zone_t(3);  // the last handle: unlinked and back on the free list of dimension 3
    EXPECT_EQ(table.count, before + 1);
    EXPECT_EQ(allocateDBMBlock(3), blockA);
    freeDBMBlock(blockA);
}

TEST(DBMBlock, WritingAnInternedBlockHeldOnceUnlinksItFirst)
{
    // x free, y <= 77: a matrix no other test interns.
    std::vector<bound_t> m(9);
    dbm::init(m.data(), 3);
    dbm::constrain(m.data(), 3, 2, 0, boundLE(77));
    DBMInternTable& table = internTable();
    const uint64_t before = table.count;
    zone_t z(3);
    z.assignMatrix(m.data(), 3);
    internZone(z);
    DBMBlock* block = z.getBlock();
    ASSERT_TRUE(block->isInterned());
    ASSERT_EQ(table.count, before + 1);

    // Freeing the already free clock x changes no bound, but a block held once
    // is written in place and so leaves the table first.
    z.freeClock(1);
    EXPECT_EQ(z.getBlock(), block);
    EXPECT_TRUE(z.equalsMatrix(m.data()));
    EXPECT_FALSE(block->isInterned());
    EXPECT_EQ(table.count, before);

    // An equal matrix interned afterwards finds no stale entry to share.
    zone_t y(3);
    y.assignMatrix(m.data(), 3);
    internZone(y);
    EXPECT_NE(y.getBlock(), block);
    EXPECT_EQ(table.count, before + 1);
}

// Builds a bucket table by hand and checks the doubling: each block lands in
// bucket i + (info & old size), bucket order is reversed, and every back link
// points at the link that holds the block.
TEST(DBMBlock, GrowingTheHashTableSplitsBucketsByTheNextHashBit)
{
    constexpr uint32_t kOldMask = 3;
    std::vector<DBMBlock> blocks(8);
    DBMBlock** table = new DBMBlock*[kOldMask + 1]();
    uint32_t mask = kOldMask;
    // Block k has hash bits k: bucket k & 3, and bit 2 decides its new bucket.
    for (uint32_t k = 0; k < blocks.size(); ++k) {
        DBMBlock& b = blocks[k];
        b.info = k;
        DBMBlock** head = &table[k & kOldMask];
        b.next = *head;
        b.backLink = head;
        if (b.next) b.next->backLink = &b.next;
        *head = &b;
    }
    growDBMHashTable(table, mask);
    ASSERT_EQ(mask, 7u);
    for (uint32_t bucket = 0; bucket <= mask; ++bucket) {
        DBMBlock* b = table[bucket];
        ASSERT_NE(b, nullptr) << "bucket " << bucket;
        EXPECT_EQ(b->info, bucket);
        EXPECT_EQ(b->backLink, &table[bucket]);
        EXPECT_EQ(b->next, nullptr);
    }
    delete[] table;

    // Two blocks of one old bucket that stay together come out in reverse order.
    table = new DBMBlock*[kOldMask + 1]();
    mask = kOldMask;
    blocks[0].info = 1;
    blocks[1].info = 1 + 8;  // bit 2 clear as well
    for (int k = 0; k < 2; ++k) {
        DBMBlock** head = &table[1];
        blocks[k].next = *head;
        blocks[k].backLink = head;
        if (blocks[k].next) blocks[k].next->backLink = &blocks[k].next;
        *head = &blocks[k];
    }
    ASSERT_EQ(table[1], &blocks[1]);
    growDBMHashTable(table, mask);
    EXPECT_EQ(table[1], &blocks[0]);
    EXPECT_EQ(blocks[0].backLink, &table[1]);
    EXPECT_EQ(blocks[0].next, &blocks[1]);
    EXPECT_EQ(blocks[1].backLink, &blocks[0].next);
    EXPECT_EQ(blocks[1].next, nullptr);
    EXPECT_EQ(table[5], nullptr);
    delete[] table;
}

// The state storage keeps its own doubly linked nodes (next, back link, a word
// with hash bits) and doubles their table the same way.
TEST(DBMBlock, GrowingATableOfOtherDoublyLinkedNodes)
{
    struct StoredNode {
        StoredNode* next;
        StoredNode** backLink;
        uint32_t info;  // bits 16-31: bits 16-31 of the hash
        uint32_t payload;
    };
    constexpr uint32_t kOldMask = 0xffff;
    std::vector<StoredNode> nodes(6);
    StoredNode** table = new StoredNode*[kOldMask + 1]();
    uint32_t mask = kOldMask;
    // Nodes 0-2 in bucket 7, nodes 3-5 in bucket 9; odd nodes have hash bit 16 set.
    for (uint32_t k = 0; k < nodes.size(); ++k) {
        StoredNode& node = nodes[k];
        node.info = (k % 2 == 1 ? 0x10000u : 0u) | 0xabc00000u;
        node.payload = k;
        StoredNode** head = &table[k < 3 ? 7 : 9];
        node.next = *head;
        node.backLink = head;
        if (node.next) node.next->backLink = &node.next;
        *head = &node;
    }
    growDBMHashTable(table, mask);
    ASSERT_EQ(mask, 0x1ffffu);
    struct Bucket {
        uint32_t index;
        std::vector<uint32_t> payloads;  // in list order
    };
    const Bucket expected[] = {{7, {0, 2}}, {7 + 0x10000, {1}}, {9, {4}}, {9 + 0x10000, {3, 5}}};
    size_t seen = 0;
    for (const Bucket& b : expected) {
        SCOPED_TRACE(b.index);
        StoredNode** link = &table[b.index];
        std::vector<uint32_t> payloads;
        for (StoredNode* node = *link; node != nullptr; link = &node->next, node = node->next) {
            EXPECT_EQ(node->backLink, link);
            payloads.push_back(node->payload);
        }
        EXPECT_EQ(payloads, b.payloads);
        seen += payloads.size();
    }
    EXPECT_EQ(seen, nodes.size());
    delete[] table;
}

// Interning more blocks than the table has buckets doubles it; every block
// stays reachable by lookup afterwards and leaves it cleanly.
TEST(DBMBlock, InternTableDoublesUnderLoad)
{
    DBMInternTable& table = internTable();
    const uint32_t oldMask = table.mask;
    std::vector<zone_t> zones;
    int32_t v = 0;
    while (table.mask == oldMask) {
        zones.push_back(pointZone(2, 1000 + v++));
        internZone(zones.back());
        ASSERT_LT(v, int32_t(oldMask) * 2 + 4);
    }
    EXPECT_EQ(table.mask, oldMask * 2 + 1);
    EXPECT_TRUE(table.growthAllowed);
    for (size_t k = 0; k < zones.size(); k += 97) {
        zone_t copy = pointZone(2, 1000 + int32_t(k));
        internZone(copy);
        EXPECT_EQ(copy.getWord(), zones[k].getWord()) << "block " << k << " not found after growth";
    }
    const uint64_t count = table.count;
    zones.clear();
    EXPECT_EQ(table.count, count - uint64_t(v));
}

TEST(FederationPool, HeadersAndNodesComeFromChunks)
{
    struct Case {
        const char* name;
        PoolFigures (*figures)();
        void* (*take)();
        size_t perChunk;
    };
    const Case cases[] = {
        {"headers", federationHeaderPoolFigures, [] { return static_cast<void*>(newFederationHeader(3, 0, nullptr)); },
         200},
        {"nodes", federationNodePoolFigures, [] { return static_cast<void*>(newFederationNode(nullptr)); }, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PoolFigures start = c.figures();
        EXPECT_EQ(start.itemsPerChunk, c.perChunk);
        std::vector<void*> taken;
        for (size_t k = 0; k < start.freeItems; ++k) taken.push_back(c.take());
        EXPECT_EQ(c.figures().chunks, start.chunks);
        EXPECT_EQ(c.figures().freeItems, 0u);
        taken.push_back(c.take());  // one more than was free carves a new chunk
        EXPECT_EQ(c.figures().chunks, start.chunks + 1);
        EXPECT_EQ(c.figures().freeItems, c.perChunk - 1);
        for (void* item : taken) {
            if (c.perChunk == 200) {
                freeFederationHeader(static_cast<FederationHeader*>(item));
            } else {
                freeFederationNode(static_cast<FederationNode*>(item));
            }
        }
        EXPECT_EQ(c.figures().freeItems, start.freeItems + c.perChunk);
    }
}

TEST(FederationPool, NewHeaderAndNodeFields)
{
    FederationNode* node = newFederationNode(nullptr);
    EXPECT_EQ(node->zone.getWord(), 3u);  // a node from the pool holds no DBM
    FederationHeader* h = newFederationHeader(5, 1, node);
    EXPECT_EQ(h->dim, 5u);
    EXPECT_EQ(h->size, 1u);
    EXPECT_EQ(h->first, node);
    EXPECT_EQ(h->count, 1u);
    freeFederationHeader(h);
}

TEST(FederationPool, CopiedListIsReversedInFrontOfTailAndSharesBlocks)
{
    zone_t p = pointZone(2, 1), q = pointZone(2, 2), r = pointZone(2, 3), t = pointZone(2, 4);
    FederationNode* tail = newFederationNode(nullptr);
    tail->zone = t;
    FederationNode* list = newFederationNode(nullptr);
    list->zone = r;
    list = newFederationNode(list);
    list->zone = q;
    list = newFederationNode(list);
    list->zone = p;  // list: P, Q, R

    FederationNode* copy = copyFederationList(list, tail);
    std::vector<uintptr_t> order;
    for (FederationNode* n = copy; n != nullptr; n = n->next) order.push_back(n->zone.getWord());
    EXPECT_EQ(order, (std::vector<uintptr_t>{r.getWord(), q.getWord(), p.getWord(), t.getWord()}));
    for (const zone_t* z : {&p, &q, &r}) EXPECT_EQ(z->getBlock()->count, 3u);  // handle, list, copy

    // Freeing nodes releases their DBMs and leaves every node holding the handle 3.
    freeFederationNodes(copy);  // also frees the tail
    freeFederationNodes(list);
    for (const zone_t* z : {&p, &q, &r, &t}) EXPECT_EQ(z->getBlock()->count, 1u);
    for (FederationNode* n : {copy, list, tail}) EXPECT_EQ(n->zone.getWord(), 3u);
}

TEST(FederationPool, AppendJoinsLists)
{
    FederationNode* a = newFederationNode(newFederationNode(nullptr));
    FederationNode* b = newFederationNode(nullptr);
    EXPECT_EQ(appendFederationList(nullptr, b), b);
    EXPECT_EQ(appendFederationList(a, nullptr), a);
    EXPECT_EQ(appendFederationList(a, b), a);
    EXPECT_EQ(a->next->next, b);
    freeFederationNodes(a);
}

TEST(DBMBlock, SideOfConstraint)
{
    std::vector<bound_t> m(4);
    dbm::init(m.data(), 2);
    dbm::constrain(m.data(), 2, 0, 1, boundLE(-2));
    dbm::constrain(m.data(), 2, 1, 0, boundLE(5));
    zone_t z(2);
    z.assignMatrix(m.data(), 2);  // 2 <= x <= 5
    const clock_constraint_t xLE1{1, 0, boundLE(1)}, notXLE1{0, 1, boundLT(-1)};
    struct Case {
        const char* name;
        const zone_t& zone;
        clock_constraint_t c, expected;
    };
    const zone_t empty(2);
    const Case cases[] = {
        {"every point satisfies x <= 7", z, {1, 0, boundLE(7)}, {1, 0, boundLE(7)}},
        {"some points satisfy x <= 3", z, {1, 0, boundLE(3)}, {1, 0, boundLE(3)}},
        {"no point satisfies x <= 1", z, xLE1, notXLE1},
        {"no point satisfies x < 2", z, {1, 0, boundLT(2)}, {0, 1, boundLE(-2)}},
        {"the empty zone", empty, {1, 0, boundLE(7)}, {0, 1, boundLT(-7)}},
    };
    for (const Case& c : cases) EXPECT_EQ(sideOfConstraint(c.zone, c.c), c.expected) << c.name;
}

}  // namespace
