#include "statespace/passed_list.h"

#include <gtest/gtest.h>

#include "pipeline/keys.h"
#include "store_fixture.h"
#include "support/exceptions.h"

using namespace storetest;

namespace {

class PassedListTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(model.statesInUse(), 0); }

    // A list of the given kind wired to the collector, with a store when it takes one.
    template <class List>
    std::unique_ptr<List> make(bool compact = false)
    {
        auto list = std::make_unique<List>();
        if (!store) store = new CSS(model.system.get(), compact);
        list->setProperty(PROPERTY_COLOR_STATE_SET, store.get());
        list->connect(&collector);
        list->begin();
        return list;
    }

    StoreModel model;
    base::RefPtr<CSS> store;
    Collector collector;
};

}  // namespace

TEST_F(PassedListTest, PassedSizeSetsTheNumberOfBits)
{
    BitStatePassedList list;
    EXPECT_EQ(list.getBits(), 27);
    int three = 3;
    list.setProperty(PROPERTY_PASSEDSIZE, &three);
    EXPECT_EQ(list.getBits(), 5);
    EXPECT_FALSE(list.hasTable());
    list.begin();
    ASSERT_TRUE(list.hasTable());
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    list.add(s);
    s->release();
    int setBits = 0;
    for (uint32_t i = 0; i < 32; ++i) setBits += list.testBit(i);
    EXPECT_EQ(setBits, 1);
    // The same size keeps the table and its bits.
    int five = 5;
    list.setProperty(PROPERTY_PASSEDSIZE, &five);
    EXPECT_TRUE(list.hasTable());
    setBits = 0;
    for (uint32_t i = 0; i < 32; ++i) setBits += list.testBit(i);
    EXPECT_EQ(setBits, 1);
    // 3 differs from the current 5: the table goes.
    list.setProperty(PROPERTY_PASSEDSIZE, &three);
    EXPECT_FALSE(list.hasTable());
    EXPECT_EQ(list.getBits(), 5);
    // Beyond the 32 bits of the hash nothing is gained.
    int forty = 40;
    list.setProperty(PROPERTY_PASSEDSIZE, &forty);
    EXPECT_EQ(list.getBits(), 32);
}

// In every representation: a successor whose zones are all covered is dropped and its state goes
// back to the pool; one covered zone out of two is removed and the rest goes on.
TEST_F(PassedListTest, CoveredZonesAreRemoved)
{
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        store = nullptr;
        collector.seen.clear();
        std::unique_ptr<PassedList> list;
        if (kind == 0) {
            list = make<BitStatePassedList>();
        } else if (kind == 1) {
            list = make<CSSPassedList>();
        } else {
            list = make<CSSPassedList>(true);
        }
        SymbolicState* explored = model.state({1, 2, 3, 0, 0}, {{0, 5, 0, 5}});
        list->add(explored);
        explored->release();

        // Bit-state hashing knows only the very zones added; the store knows what they include.
        const Box covered = kind == 0 ? Box{0, 5, 0, 5} : Box{1, 2, 1, 2};
        EXPECT_FALSE(putState(*list, model.state({1, 2, 3, 0, 0}, {covered})));
        EXPECT_TRUE(collector.seen.empty());
        EXPECT_TRUE(putState(*list, model.state({1, 2, 3, 0, 0}, {covered, {7, 8, 0, 1}})));
        ASSERT_EQ(collector.seen.size(), 1u);
        EXPECT_EQ(collector.seen[0].zones, Zones{matrixOf({7, 8, 0, 1})});
        // Another discrete part is new.
        EXPECT_TRUE(putState(*list, model.state({1, 2, 4, 0, 0}, {covered})));
        // put returns true whatever the downstream stage answers.
        collector.answer = false;
        EXPECT_TRUE(putState(*list, model.state({1, 2, 3, 0, 0}, {{9, 10, 0, 1}})));
        collector.answer = true;
        list->clear();
        EXPECT_TRUE(putState(*list, model.state({1, 2, 3, 0, 0}, {covered})));
    }
}

// put only tests; add stores and removes the nodes that the added state dominates.
TEST_F(PassedListTest, CSSListPutNeverRemovesNodes)
{
    auto list = make<CSSPassedList>();
    SymbolicState* small = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}});
    list->add(small);
    small->release();
    EXPECT_EQ(store->colorCount(list->getColor()), 1);
    EXPECT_TRUE(putState(*list, model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}})));
    EXPECT_EQ(store->colorCount(list->getColor()), 1);
    SymbolicState* big = model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}});
    list->add(big);
    big->release();
    EXPECT_EQ(store->colorCount(list->getColor()), 1);
    EXPECT_FALSE(putState(*list, model.state({0, 0, 0, 0, 0}, {{1, 4, 1, 4}})));
    // Adding a covered state stores nothing.
    SymbolicState* again = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}});
    list->add(again);
    again->release();
    EXPECT_EQ(store->colorCount(list->getColor()), 1);
}

TEST_F(PassedListTest, ConvexHullOfExploredZones)
{
    auto list = make<CHPassedList>();
    SymbolicState* low = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    list->add(low);
    low->release();
    SymbolicState* high = model.state({0, 0, 0, 0, 0}, {{3, -1}});
    list->add(high);
    high->release();
    // One node: the hull x >= 0 (y free in both).
    EXPECT_EQ(store->colorCount(list->getColor()), 1);
    SymbolicState* probe = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    store->loadNode(store->findNode(store->makeKey(probe), {list->getColor()}), probe);
    EXPECT_EQ(matricesOf(probe->zone), Zones{matrixOf({0, -1, 0, -1})});
    probe->release();
    // Everything between is now covered.
    EXPECT_FALSE(putState(*list, model.state({0, 0, 0, 0, 0}, {{2, 2, 5, 6}})));

    // put widens a successor that is not covered by the hull of itself and the stored zone.
    auto other = std::make_unique<CHPassedList>();
    other->setProperty(PROPERTY_COLOR_STATE_SET, store.get());
    other->connect(&collector);
    SymbolicState* box = model.state({1, 0, 0, 0, 0}, {{0, 1, 0, 1}});
    other->add(box);
    box->release();
    EXPECT_TRUE(putState(*other, model.state({1, 0, 0, 0, 0}, {{3, 4, 0, 1}})));
    ASSERT_EQ(collector.seen.size(), 1u);
    EXPECT_EQ(collector.seen[0].zones, Zones{matrixOf({0, 4, 0, 1})});
}

TEST_F(PassedListTest, TwoListsOnOneStoreKeepTheirColors)
{
    auto first = make<CSSPassedList>();
    auto second = make<CSSPassedList>();
    EXPECT_EQ(first->getColor(), 1);
    EXPECT_EQ(second->getColor(), 2);
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}});
    first->add(s);
    s->release();
    EXPECT_FALSE(putState(*first, model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}})));
    EXPECT_TRUE(putState(*second, model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}})));
    // Deleting a list takes its nodes out of the store.
    first.reset();
    EXPECT_EQ(store->nodeCount(), 0u);
}

TEST_F(PassedListTest, ClearBeforeAStoreDoesNothing)
{
    CSSPassedList list;
    list.clear();
    CHPassedList hull;
    hull.clear();
    EXPECT_EQ(list.getColor(), 0);
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    EXPECT_THROW(putState(list, s), Bug);
    s->release();
}
