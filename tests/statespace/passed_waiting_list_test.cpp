#include "statespace/passed_waiting_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/statistics.h"
#include "statespace/passed_list.h"
#include "store_fixture.h"
#include "support/exceptions.h"

using namespace storetest;

namespace {

class PassedWaitingListTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        lists.clear();
        EXPECT_EQ(model.statesInUse(), 0);
    }

    // A list of the given kind with a store, the System and an order, wired to the collector.
    template <class List>
    List& make(int orderKind = 0, bool compact = false)
    {
        auto list = std::make_unique<List>();
        if (!store) store = new CSS(model.system.get(), compact);
        list->setProperty(PROPERTY_STATE_ORDER, &orderKind);
        list->setProperty(PROPERTY_COLOR_STATE_SET, store.get());
        list->setProperty(PROPERTY_SYSTEM, model.system.get());
        list->connect(&collector);
        list->begin();
        List& result = *list;
        lists.push_back(std::move(list));
        return result;
    }

    // Takes the next waiting state, loads it into a pooled state and finishes it as the
    // exploration loop does; null when nothing is waiting.
    SymbolicState* explore(PassedWaitingList& list, bool drop = false)
    {
        SymbolicStateReference* reference = nullptr;
        if (!list.get(&reference)) {
            return nullptr;
        }
        SymbolicState* s = model.system->acquireState();
        reference->load(s);
        reference->finish(drop || s->storeMark == 0);
        return s;
    }

    // Explores and releases; returns the number of states taken.
    int exploreAll(PassedWaitingList& list)
    {
        int n = 0;
        while (SymbolicState* s = explore(list)) {
            s->release();
            ++n;
        }
        return n;
    }

    StoreModel model;
    base::RefPtr<CSS> store;
    Collector collector;
    std::vector<std::unique_ptr<PassedWaitingList>> lists;
};

}  // namespace

TEST_F(PassedWaitingListTest, InitialStateIsStoredAndForwarded)
{
    for (bool compact : {false, true}) {
        SCOPED_TRACE(compact);
        store = nullptr;
        collector.seen.clear();
        auto& list = make<CSSPassedWaitingList>(0, compact);
        SymbolicState* initial = model.state({0, 0, 0, 0, 0}, {{0, -1, 0, -1}});
        initial->traceIndex = 17;
        EXPECT_TRUE(putState(list, initial));
        ASSERT_EQ(collector.seen.size(), 1u);
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(list.waitingSize(), 1u);
        SymbolicState* s = explore(list);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->traceIndex, 17);
        EXPECT_EQ(s->storeMark, 1);
        EXPECT_EQ(matricesOf(s->zone), Zones{matrixOf({0, -1, 0, -1})});
        s->release();
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(list.waitingSize(), 0u);
        EXPECT_EQ(explore(list), nullptr);
    }
}

// A successor inside a passed zone never reaches the goal test; one that strictly includes a
// waiting zone removes it, and the order's entry is skipped and freed when get reaches it.
TEST_F(PassedWaitingListTest, CoveredAndDominatedStates)
{
    auto& list = make<CSSPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}}));
    exploreAll(list);
    collector.seen.clear();
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}})));
    EXPECT_TRUE(collector.seen.empty());

    EXPECT_TRUE(putState(list, model.state({1, 0, 0, 0, 0}, {{1, 2, 1, 2}})));
    EXPECT_EQ(list.waitingSize(), 1u);
    EXPECT_TRUE(putState(list, model.state({1, 0, 0, 0, 0}, {{0, 3, 0, 3}})));
    EXPECT_EQ(list.waitingSize(), 1u);
    EXPECT_EQ(list.getOrder()->size(), 2u);
    // The removed node's entry comes first and is passed over.
    SymbolicState* s = explore(list);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(matricesOf(s->zone), Zones{matrixOf({0, 3, 0, 3})});
    s->release();
    EXPECT_EQ(explore(list), nullptr);
    EXPECT_EQ(list.size(), 2u);
}

// The two zones of one successor are stored apart; a covered one is not.
TEST_F(PassedWaitingListTest, EachNewZoneIsStoredOnce)
{
    auto& list = make<CSSPassedWaitingList>(1);
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}}));
    collector.seen.clear();
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}, {7, 8, 0, 1}, {10, 11, 0, 1}})));
    ASSERT_EQ(collector.seen.size(), 1u);
    EXPECT_EQ(collector.seen[0].zones, (Zones{matrixOf({7, 8, 0, 1}), matrixOf({10, 11, 0, 1})}));
    EXPECT_EQ(list.waitingSize(), 3u);
    // Stack order: the last zone stored comes first.
    SymbolicState* s = explore(list);
    EXPECT_EQ(matricesOf(s->zone), Zones{matrixOf({10, 11, 0, 1})});
    s->release();
    EXPECT_EQ(exploreAll(list), 2);
}

TEST_F(PassedWaitingListTest, CostsDecideBetweenEqualZones)
{
    CostFunctionGuard costs;
    auto& list = make<CSSPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 5}, {{0, 5, 0, 5}}));
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 5}, {{0, 5, 0, 5}})));
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 6}, {{0, 5, 0, 5}})));
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 4}, {{0, 5, 0, 5}})));
    EXPECT_EQ(list.waitingSize(), 1u);
    SymbolicState* s = explore(list);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->getMetaVariables()[0], 4);
    s->release();
    EXPECT_EQ(explore(list), nullptr);
}

// The cost that pruning reads: the integer variable b (explored nodes give up their meta variables,
// so a stored state's cost must live in its discrete part for the re-pruning to see it).
int integerCost(const SymbolicState* s)
{
    return s->getVariables()[1];
}

// After "verifier:MINCOST" with 5 a successor of cost 5 is pruned and one of cost 4 is stored; the
// 1001st get after the bound removes every stored node of cost 5 or more.
TEST_F(PassedWaitingListTest, PruningByTheCostBound)
{
    auto& list = make<CSSPassedWaitingList>();
    list.setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(&integerCost));
    // Stored before there is a bound: nothing is pruned yet.
    putState(list, model.state({0, 0, 0, 7, 0}, {{0, 1}}));
    putState(list, model.state({1, 0, 0, 5, 0}, {{0, 1}}));
    putState(list, model.state({2, 0, 0, 1, 0}, {{0, 1}}));
    exploreAll(list);
    EXPECT_EQ(list.size(), 3u);

    int bound = 5;
    list.setProperty(PROPERTY_MINCOST, &bound);
    EXPECT_FALSE(putState(list, model.state({3, 0, 0, 5, 0}, {{0, 1}})));
    EXPECT_TRUE(putState(list, model.state({3, 0, 0, 4, 0}, {{0, 1}})));
    EXPECT_EQ(list.size(), 4u);
    SymbolicStateReference* reference = nullptr;
    int taken = 0;
    for (int i = 0; i < 1000; ++i) {
        if (list.get(&reference)) {
            ++taken;
            reference->finish(false);
        }
    }
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(list.size(), 4u);
    EXPECT_FALSE(list.get(&reference));
    EXPECT_EQ(list.size(), 2u);
    // Later gets do not prune again.
    list.setProperty(PROPERTY_PRUNING, nullptr);
    EXPECT_TRUE(putState(list, model.state({0, 1, 0, 9, 0}, {{0, 1}})));
    for (int i = 0; i < 1100; ++i) {
        if (list.get(&reference)) reference->finish(false);
    }
    EXPECT_EQ(list.size(), 3u);
}

// A state whose store mark is 0 is explored once and then leaves the store, so an equal successor
// is stored and explored again.
TEST_F(PassedWaitingListTest, StoreMarkZeroIsForgottenAfterExploration)
{
    auto& list = make<CSSPassedWaitingList>();
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    s->storeMark = 0;
    putState(list, s);
    SymbolicState* explored = explore(list);
    ASSERT_NE(explored, nullptr);
    EXPECT_EQ(explored->storeMark, 0);
    explored->release();
    EXPECT_EQ(list.size(), 0u);
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(exploreAll(list), 1);
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
}

// While a state is being explored its own successor may include its zone and remove its node; the
// finish that follows must neither count the node again nor lose its memory.
TEST_F(PassedWaitingListTest, FinishAfterTheNodeWasRemoved)
{
    for (bool drop : {false, true}) {
        SCOPED_TRACE(drop);
        store = nullptr;
        auto& list = make<CSSPassedWaitingList>();
        putState(list, model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}}));
        SymbolicStateReference* reference = nullptr;
        ASSERT_TRUE(list.get(&reference));
        SymbolicState* s = model.system->acquireState();
        reference->load(s);
        EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}})));
        EXPECT_EQ(list.size(), 1u);
        reference->finish(drop);
        s->release();
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(list.waitingSize(), 1u);
        EXPECT_EQ(store->colorCount(list.getPassedColor()), 0);
        EXPECT_EQ(exploreAll(list), 1);
        EXPECT_EQ(store->colorCount(list.getPassedColor()), 1);
        EXPECT_EQ(store->nodeCount(), 1u);
    }
}

TEST_F(PassedWaitingListTest, StatisticsAndColors)
{
    auto& first = make<CSSPassedWaitingList>();
    auto& second = make<CSSPassedWaitingList>();
    EXPECT_EQ(first.getPassedColor(), 1);
    EXPECT_EQ(first.getWaitingColor(), 2);
    EXPECT_EQ(second.getPassedColor(), 3);
    EXPECT_EQ(second.getWaitingColor(), 4);

    base::RefPtr<DefaultStatisticsCollector> statistics(new DefaultStatisticsCollector());
    first.setProperty(PROPERTY_STATISTICS, statistics.get());
    const StatisticsEntry* size = statistics->findByName("Size");
    const StatisticsEntry* load = statistics->findByName("Load");
    ASSERT_NE(size, nullptr);
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(size->category, "Passed/Waiting set");
    EXPECT_EQ(load->unit, "states");
    putState(first, model.state({0, 0, 0, 0, 0}, {{0, 1}}));
    putState(first, model.state({1, 0, 0, 0, 0}, {{0, 1}}));
    explore(first)->release();
    EXPECT_EQ(size->provider->value(size->id), 2);
    EXPECT_EQ(load->provider->value(load->id), 1);
    EXPECT_THROW(first.value(3), Bug);
    // The lists do not see each other's states.
    EXPECT_TRUE(putState(second, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(second.size(), 1u);
}

TEST_F(PassedWaitingListTest, EnumerationVisitsPassedAndWaitingStates)
{
    auto& list = make<CSSPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}}));
    putState(list, model.state({1, 0, 0, 0, 0}, {{0, 1}}));
    explore(list)->release();
    std::unique_ptr<pipeline::Source<SymbolicStateReference*>> cursor(list.enumerate());
    SymbolicStateReference* reference = nullptr;
    std::vector<int> locations;
    while (cursor->get(&reference)) {
        SymbolicState* s = model.system->acquireState();
        reference->load(s);
        reference->finish(false);
        locations.push_back(s->getLocation(0)->getIndexInProcess());
        s->release();
    }
    std::sort(locations.begin(), locations.end());
    EXPECT_EQ(locations, (std::vector<int>{0, 1}));
    EXPECT_EQ(list.size(), 2u);
}

// The order ranks a successor with several zones by a state with just the zone of each entry.
TEST_F(PassedWaitingListTest, PriorityOrderRanksEachZone)
{
    auto& list = make<CSSPassedWaitingList>(2);
    // Smaller upper bound of x first.
    list.setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue([](const SymbolicState* s) -> int {
                         return dbm::boundValue(s->zone.begin()->getMatrix()[3]);
                     }));
    putState(list, model.state({0, 0, 0, 0, 0}, {{8, 9, 0, 1}, {0, 1, 0, 1}, {4, 5, 0, 1}}));
    std::vector<int32_t> order;
    while (SymbolicState* s = explore(list)) {
        order.push_back(dbm::boundValue(s->zone.begin()->getMatrix()[3]));
        s->release();
    }
    EXPECT_EQ(order, (std::vector<int32_t>{1, 5, 9}));
}

TEST_F(PassedWaitingListTest, ReconfiguringClearsTheList)
{
    auto& list = make<CSSPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}}));
    putState(list, model.state({1, 0, 0, 0, 0}, {{0, 1}}));
    explore(list)->release();
    int stack = 1;
    list.setProperty(PROPERTY_STATE_ORDER, &stack);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(store->nodeCount(), 0u);
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}}));
    base::RefPtr<CSS> fresh(new CSS(model.system.get(), true));
    list.setProperty(PROPERTY_COLOR_STATE_SET, fresh.get());
    EXPECT_EQ(store->nodeCount(), 0u);
    EXPECT_EQ(list.getPassedColor(), 1);
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(fresh->nodeCount(), 1u);
}

// Bit-state hashing: a state explored once is skipped when reached again, though it is stored and
// forwarded again; the skipped node stays in the store with the list's color until clear.
TEST_F(PassedWaitingListTest, BitStateSkipsExploredStates)
{
    auto& list = make<CSSBitStateHashingPassedWaitingList>();
    int bits = 20;
    list.setProperty(PROPERTY_PASSEDSIZE, &bits);
    list.begin();
    EXPECT_EQ(list.getBits(), 20);
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}}));
    SymbolicState* s = explore(list);
    ASSERT_NE(s, nullptr);
    s->release();
    EXPECT_EQ(list.waitingSize(), 0u);
    EXPECT_EQ(list.size(), 0u);

    collector.seen.clear();
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(collector.seen.size(), 1u);
    EXPECT_EQ(list.waitingSize(), 1u);
    EXPECT_EQ(explore(list), nullptr);
    EXPECT_EQ(list.waitingSize(), 1u);
    EXPECT_EQ(list.value(1), 1);
    EXPECT_THROW(list.value(2), Bug);
    // The skipped node keeps covering.
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    list.clear();
    EXPECT_EQ(list.waitingSize(), 0u);
    EXPECT_EQ(store->nodeCount(), 0u);
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(exploreAll(list), 1);
}

// A waiting state comes back with the marks it was stored with: its trace index is the parent of
// every successor a trace store records for it, so a state loaded with another's index (or none)
// makes traces that are no run of the model. Loaded into one reused state, as the search does.
TEST_F(PassedWaitingListTest, EveryListGivesBackTheMarksOfEachWaitingState)
{
    for (const char* kind : {"exact", "bit-state", "convex hull"}) {
        SCOPED_TRACE(kind);
        lists.clear();
        store = nullptr;
        PassedWaitingList* made = nullptr;
        if (kind == std::string("exact")) {
            made = &make<CSSPassedWaitingList>();
        } else if (kind == std::string("bit-state")) {
            made = &make<CSSBitStateHashingPassedWaitingList>();
        } else {
            made = &make<CHPassedWaitingList>();
        }
        PassedWaitingList& list = *made;
        // Two discrete parts, so that the hull keeps them apart too.
        SymbolicState* first = model.state({0, 0, 0, 0, 0}, {{0, 1}});
        first->traceIndex = 17;
        SymbolicState* second = model.state({1, 0, 0, 0, 0}, {{2, 3}});
        second->traceIndex = 23;
        second->storeMark = 0;
        ASSERT_TRUE(putState(list, first));
        ASSERT_TRUE(putState(list, second));

        SymbolicState* loaded = model.system->acquireState();
        std::vector<std::pair<int32_t, int32_t>> marks;
        SymbolicStateReference* reference = nullptr;
        while (list.get(&reference)) {
            loaded->traceIndex = -5;
            reference->load(loaded);
            marks.emplace_back(loaded->traceIndex, loaded->storeMark);
            reference->finish(loaded->storeMark == 0);
        }
        loaded->release();
        EXPECT_EQ(marks, (std::vector<std::pair<int32_t, int32_t>>{{17, 1}, {23, 0}}));
    }
}

TEST_F(PassedWaitingListTest, BitStateDroppedStateLeavesNoBit)
{
    auto& list = make<CSSBitStateHashingPassedWaitingList>();
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    s->storeMark = 0;
    putState(list, s);
    explore(list)->release();
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1}})));
    EXPECT_EQ(exploreAll(list), 1);
}

// The convex-hull list keeps one zone per discrete part and explores it again when it grows.
TEST_F(PassedWaitingListTest, ConvexHullGrowsAndIsExploredAgain)
{
    auto& list = make<CHPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}}));
    EXPECT_EQ(exploreAll(list), 1);
    collector.seen.clear();
    // Apart from the stored zone: stored as the hull of both, and explored again.
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{3, 4, 0, 1}})));
    ASSERT_EQ(collector.seen.size(), 1u);
    EXPECT_EQ(collector.seen[0].zones, Zones{matrixOf({0, 4, 0, 1})});
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(exploreAll(list), 1);
    // Inside the hull: dropped, though it lies in neither zone that made it.
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 0}, {{2, 2, 0, 1}})));
    // A successor with two zones is stored as their hull.
    EXPECT_TRUE(putState(list, model.state({1, 0, 0, 0, 0}, {{0, 1, 0, 1}, {3, 4, 0, 1}})));
    EXPECT_EQ(collector.seen.back().zones, Zones{matrixOf({0, 4, 0, 1})});
}

// Once a discrete part is marked exact (a goal found in its hull was spurious), its successors are
// stored zone by zone and no longer merged, also after the node that carried the hull is gone.
TEST_F(PassedWaitingListTest, ConvexHullExactMarkApplies)
{
    auto& list = make<CHPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}}));
    putState(list, model.state({0, 0, 0, 0, 0}, {{3, 4, 0, 1}}));
    exploreAll(list);
    SymbolicState* reached = model.state({0, 0, 0, 0, 0}, {{2, 2, 0, 1}});
    EXPECT_FALSE(list.isExact(reached));
    list.markExact(reached);
    EXPECT_TRUE(list.isExact(reached));
    reached->release();
    EXPECT_EQ(list.size(), 0u);

    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}})));
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{3, 4, 0, 1}})));
    EXPECT_EQ(list.size(), 2u);
    // Between the two zones: new, since nothing stored covers it exactly.
    collector.seen.clear();
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{2, 2, 0, 1}})));
    ASSERT_EQ(collector.seen.size(), 1u);
    EXPECT_EQ(collector.seen[0].zones, Zones{matrixOf({2, 2, 0, 1})});
    EXPECT_FALSE(putState(list, model.state({0, 0, 0, 0, 0}, {{3, 3, 0, 1}})));
    EXPECT_EQ(exploreAll(list), 3);
    // Other discrete parts still use hulls.
    putState(list, model.state({1, 0, 0, 0, 0}, {{0, 1, 0, 1}}));
    putState(list, model.state({1, 0, 0, 0, 0}, {{3, 4, 0, 1}}));
    EXPECT_FALSE(putState(list, model.state({1, 0, 0, 0, 0}, {{2, 2, 0, 1}})));
}

// reinsertExact stores the state's zones apart with the color its node had and queues them.
TEST_F(PassedWaitingListTest, ConvexHullReinsertExact)
{
    auto& list = make<CHPassedWaitingList>();
    putState(list, model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}}));
    putState(list, model.state({0, 0, 0, 0, 0}, {{3, 4, 0, 1}}));
    EXPECT_EQ(list.waitingSize(), 1u);
    SymbolicState* exact = model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}, {3, 4, 0, 1}});
    exact->traceIndex = 5;
    exact->storeMark = 0;
    list.reinsertExact(exact);
    exact->release();
    EXPECT_EQ(list.waitingSize(), 2u);
    std::vector<Zones> explored;
    while (SymbolicState* s = explore(list)) {
        EXPECT_EQ(s->traceIndex, 5);
        EXPECT_EQ(s->storeMark, 1);
        explored.push_back(matricesOf(s->zone));
        s->release();
    }
    EXPECT_EQ(explored, (std::vector<Zones>{Zones{matrixOf({0, 1, 0, 1})}, Zones{matrixOf({3, 4, 0, 1})}}));
    EXPECT_TRUE(putState(list, model.state({0, 0, 0, 0, 0}, {{2, 2, 0, 1}})));
    // A discrete part without a node: nothing stored.
    SymbolicState* none = model.state({3, 3, 0, 0, 0}, {{0, 1}});
    list.reinsertExact(none);
    none->release();
    EXPECT_EQ(list.waitingSize(), 1u);
}

TEST_F(PassedWaitingListTest, UseWithoutStoreOrOrderIsAnInternalError)
{
    CSSPassedWaitingList list;
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    EXPECT_THROW(putState(list, s), Bug);
    SymbolicStateReference* reference = nullptr;
    EXPECT_FALSE(list.get(&reference));
    std::unique_ptr<pipeline::Source<SymbolicStateReference*>> cursor(list.enumerate());
    EXPECT_FALSE(cursor->get(&reference));
    EXPECT_THROW(list.load(s), Bug);
    s->release();
}
