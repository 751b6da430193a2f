#include "pipeline/sorting_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace {

// A test successor carries its position and its cost in the store mark of its state:
// mark = 100 * position + cost + 50.
int markOf(int position, int cost)
{
    return 100 * position + cost + 50;
}
int costOfMark(const SymbolicState* state)
{
    return state->storeMark % 100 - 50;
}
int positionOfMark(int mark)
{
    return mark / 100;
}

// Takes successors on (or refuses them, giving their states back) and notes their positions.
class Collector : public pipeline::Sink<Successor>
{
public:
    ~Collector() override
    {
        for (SymbolicState* state : kept) {
            state->release();
        }
    }

    bool put(Successor* item) override
    {
        order.push_back(positionOfMark(item->state->storeMark));
        if (refuse) {
            item->state->release();
            return false;
        }
        kept.push_back(item->state);
        return true;
    }

    bool refuse = false;
    std::vector<int> order;
    std::vector<SymbolicState*> kept;
};

class Counted : public base::Object
{};

class Sorting : public testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(system->statesInUse(), 0u) << "a state was not returned to the pool"; }

    // Puts one successor per cost into the stage, each with a counted handle.
    void feed(pipeline::Sink<Successor>& stage, const std::vector<int>& costs)
    {
        for (std::size_t i = 0; i < costs.size(); ++i) {
            Successor successor;
            successor.state = system->acquireState();
            successor.state->storeMark = markOf(static_cast<int>(i), costs[i]);
            successor.handle = handle.get();
            EXPECT_TRUE(stage.put(&successor));
        }
    }

    base::RefPtr<System> system{new System};
    base::RefPtr<Counted> handle{new Counted};
};

std::vector<uint32_t> drawsAfterSeed(long seed, std::size_t n)
{
    srand48(seed);
    std::vector<uint32_t> draws;
    for (std::size_t i = 0; i < n; ++i) {
        draws.push_back(static_cast<uint32_t>(lrand48()));
    }
    return draws;
}

TEST_F(Sorting, CostOrderEmitsTheMostExpensiveFirstAndBreaksTiesByTheLargerKey)
{
    struct Case
    {
        const char* name;
        std::vector<int> costs;
        bool withCost;
    };
    const Case cases[] = {
        {"5 3 5", {5, 3, 5}, true},
        {"negative before positive", {2, -4, 0, -4, -30}, true},
        {"one successor", {7}, true},
        {"all equal", {1, 1, 1, 1, 1}, true},
        {"without a cost function every cost is 0", {9, -9, 4}, false},
    };
    for (const Case& c : cases) {
        for (long seed : {1L, 2L, 3L, 77L, 4096L}) {
            SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
            // One key is drawn per successor, in the order they are put.
            std::vector<uint32_t> keys = drawsAfterSeed(seed, c.costs.size());
            std::vector<int> expected(c.costs.size());
            std::iota(expected.begin(), expected.end(), 0);
            auto cost = [&](int i) { return c.withCost ? c.costs[i] : 0; };
            std::sort(expected.begin(), expected.end(), [&](int a, int b) {
                return cost(a) != cost(b) ? cost(a) > cost(b) : keys[a] > keys[b];
            });

            CostSortingFilter stage;
            if (c.withCost) {
                stage.setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(costOfMark));
            }
            Collector sink;
            stage.connect(&sink);
            srand48(seed);
            feed(stage, c.costs);
            EXPECT_TRUE(sink.order.empty()) << "nothing is passed on before the expansion ends";
            EXPECT_EQ(handle->getRefCount(), static_cast<int>(c.costs.size()) + 1) << "kept handles";
            EXPECT_TRUE(stage.after(true));
            EXPECT_EQ(sink.order, expected);
            EXPECT_EQ(handle->getRefCount(), 1) << "handles released after emitting";
            const uint32_t nextDraw = static_cast<uint32_t>(lrand48());
            EXPECT_EQ(nextDraw, drawsAfterSeed(seed, c.costs.size() + 1).back()) << "one draw per successor";
        }
    }
}

TEST_F(Sorting, RandomOrderSwapsEachEntryWithAnEarlierOrItselfByOneDraw)
{
    for (std::size_t n : {0u, 1u, 2u, 3u, 8u}) {
        for (long seed : {5L, 6L, 1234L}) {
            SCOPED_TRACE(std::to_string(n) + " successors, seed " + std::to_string(seed));
            // For i = 1 .. n-1: j = draw mod (i + 1); entries i and j change places.
            std::vector<int> expected(n);
            std::iota(expected.begin(), expected.end(), 0);
            std::vector<uint32_t> draws = drawsAfterSeed(seed, n > 0 ? n - 1 : 0);
            for (std::size_t i = 1; i < n; ++i) {
                std::swap(expected[i], expected[draws[i - 1] % (i + 1)]);
            }

            RandomSortingFilter stage;
            Collector sink;
            stage.connect(&sink);
            srand48(seed);
            feed(stage, std::vector<int>(n, 0));
            EXPECT_TRUE(sink.order.empty());
            stage.after(false);
            EXPECT_EQ(sink.order, expected);
            EXPECT_EQ(handle->getRefCount(), 1);
            // n - 1 draws, none for a single successor.
            const uint32_t nextDraw = static_cast<uint32_t>(lrand48());
            EXPECT_EQ(nextDraw, drawsAfterSeed(seed, n > 0 ? n : 1).back());
        }
    }
}

TEST_F(Sorting, KeptStatesGoBackToThePoolWhateverBecomesOfThem)
{
    // Refused downstream: the refusing stage returns them.
    {
        CostSortingFilter stage;
        Collector sink;
        sink.refuse = true;
        stage.connect(&sink);
        feed(stage, {1, 2, 3});
        stage.after(true);
        EXPECT_EQ(sink.order.size(), 3u);
    }
    // No downstream stage: the sorting stage drops them.
    {
        RandomSortingFilter stage;
        feed(stage, {1, 2});
        stage.after(true);
        EXPECT_EQ(system->statesInUse(), 0u);
    }
    // Deleted before the expansion ended: states and handles are given back.
    {
        auto* costStage = new CostSortingFilter;
        auto* randomStage = new RandomSortingFilter;
        feed(*costStage, {1, 2});
        feed(*randomStage, {3});
        EXPECT_EQ(system->statesInUse(), 3u);
        delete costStage;
        delete randomStage;
        EXPECT_EQ(handle->getRefCount(), 1);
    }
    // A null item is no successor: nothing is kept.
    {
        RandomSortingFilter stage;
        Collector sink;
        stage.connect(&sink);
        EXPECT_TRUE(stage.put(nullptr));
        stage.after(true);
        EXPECT_TRUE(sink.order.empty());
    }
}

// Makes one successor per child cost of the source (the source's mark is the number of
// children) and gives the source back, as the head of a successor chain does.
class Expander : public pipeline::AbstractFilter<SymbolicState, Successor>
{
public:
    bool put(SymbolicState* source) override
    {
        for (int i = 0; i < source->storeMark; ++i) {
            Successor successor;
            successor.state = source->clone();
            successor.state->storeMark = markOf(i, (i * 7) % 5);
            next->put(&successor);
        }
        source->release();
        return true;
    }
};

TEST_F(Sorting, TheObservableHeadEndsEachExpansion)
{
    CostSortingFilter sorter;
    sorter.setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(costOfMark));
    pipeline::ObservableFilter<SymbolicState> head(&sorter);
    Expander expander;
    Collector sink;
    head.connect(&expander);
    expander.connect(&sorter);
    sorter.connect(&sink);

    for (int children : {4, 0, 2}) {
        SymbolicState* source = system->acquireState();
        source->storeMark = children;
        sink.order.clear();
        EXPECT_TRUE(head.put(source));
        // Costs of children 0..3 are 0, 2, 4, 1: most expensive first.
        const std::vector<int> expected =
            children == 4 ? std::vector<int>{2, 1, 3, 0} : children == 2 ? std::vector<int>{1, 0} : std::vector<int>{};
        EXPECT_EQ(sink.order, expected) << children << " children";
    }
}

// An observer that lets nothing through.
class Refusing : public pipeline::ObservableFilter<SymbolicState>::Observer
{
public:
    bool before() override { return false; }
};

TEST_F(Sorting, AStateTheObservableHeadDoesNotPassOnGoesBackToThePool)
{
    Refusing refusing;
    pipeline::ObservableFilter<SymbolicState> guarded(&refusing);
    Expander expander;
    guarded.connect(&expander);
    SymbolicState* source = system->acquireState();
    source->storeMark = 3;
    EXPECT_FALSE(guarded.put(source));
    EXPECT_EQ(system->statesInUse(), 0u);

    pipeline::ObservableFilter<SymbolicState> unconnected;
    EXPECT_FALSE(unconnected.put(system->acquireState()));
}

}  // namespace
