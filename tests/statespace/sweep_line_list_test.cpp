// Sweep-line passed-waiting lists on the states of a small compiled model with progress measures:
// which layer a state goes to, persistence, the sweep over the layers and its restart, the figures,
// and whole searches through the reachability checker.

#include "statespace/sweep_line_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbm/bound.h"
#include "reach_fixture.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

namespace {

constexpr int32_t minusInfinity = -1073741823;
using Vectors = std::vector<std::vector<int32_t>>;

// Takes every successor handed on and gives its state back.
class Drain : public pipeline::Sink<Successor>
{
public:
    bool put(Successor* item) override
    {
        ++count;
        item->state->release();
        return true;
    }
    int count = 0;
};

// The fixture compiled, with its progress measures p and, while back is 0, q.
reachtest::CompiledModel* compileWithMeasures()
{
    reachtest::CompiledModel* model = reachtest::compileModel(reachtest::fixture("reach_progress.xta"));
    std::vector<System::ExpressionPair>& measures = model->system->progressMeasures;
    if (measures.empty()) {
        // The model compiler leaves the list empty so far: the fixture's measures, compiled here.
        measures.emplace_back(ExpressionRef(), reachtest::value(*model, "p"));
        measures.emplace_back(reachtest::formula(*model, "back == 0"), reachtest::value(*model, "q"));
    }
    return model;
}

int costOfR(const SymbolicState* state)
{
    return state->getVariables()[3];
}

template <class List>
class SweepLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model = compileWithMeasures();
        system = model->system.get();
        store = new CSS(system, false);
        int order = 0;
        list.setProperty(PROPERTY_STATE_ORDER, &order);
        list.setProperty(PROPERTY_SYSTEM, system);
        list.setProperty(PROPERTY_COLOR_STATE_SET, store.get());
        list.connect(&drain);
        list.begin();
    }

    void TearDown() override
    {
        list.end();
        EXPECT_EQ(system->statesInUse(), 0u);
    }

    // A state of the model with these values; its zone is the point x == 0, or x >= 0 when wide.
    SymbolicState* state(int32_t p, int32_t q, int32_t back, int32_t r = 0, bool wide = false)
    {
        SymbolicState* s = system->makeInitialState();
        int32_t* v = s->getVariables();
        v[0] = p;
        v[1] = q;
        v[2] = back;
        v[3] = r;
        if (wide) {
            s->zone.setInit();
        }
        return s;
    }

    bool put(SymbolicState* s)
    {
        Successor item;
        item.state = s;
        item.transition = emptyEdgeTuple();
        return list.put(&item);
    }

    // Takes the next waiting state and finishes it; its p, q, back, r, or empty when none.
    std::vector<int32_t> take(bool drop)
    {
        SymbolicStateReference* reference = nullptr;
        if (!list.get(&reference)) {
            return {};
        }
        SymbolicState* s = system->acquireState();
        reference->load(s);
        reference->finish(drop);
        const int32_t* v = s->getVariables();
        std::vector<int32_t> values(v, v + 4);
        s->release();
        return values;
    }

    reachtest::CompiledModel* model = nullptr;
    System* system = nullptr;
    base::RefPtr<CSS> store;
    List list;
    Drain drain;
};

using SweepLineLists = ::testing::Types<CSSSweepLinePassedWaitingList, CHSweepLinePassedWaitingList>;
TYPED_TEST_SUITE(SweepLineTest, SweepLineLists);

TYPED_TEST(SweepLineTest, StatesBehindTheLineArePersistentAndExploredByTheNextSweep)
{
    auto& list = this->list;
    // The first layer is all minus infinity.
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}}));

    EXPECT_TRUE(this->put(this->state(0, 0, 0)));
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, 0}}));
    EXPECT_EQ(this->take(false), std::vector<int32_t>({0, 0, 0, 0}));
    EXPECT_EQ(list.currentVector(), std::vector<int32_t>({0, 0}));

    // Ahead of the line: a layer after the current one; the same vector: the current layer.
    EXPECT_TRUE(this->put(this->state(1, 0, 0)));
    EXPECT_TRUE(this->put(this->state(0, 0, 0, 1)));
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, 0}, {1, 0}}));
    // Behind the line (back == 1 makes q minus infinity): a layer before the current one.
    EXPECT_TRUE(this->put(this->state(0, 0, 1)));
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, minusInfinity}, {0, 0}, {1, 0}}));
    // A state the layer already holds is dropped.
    EXPECT_FALSE(this->put(this->state(1, 0, 0)));
    EXPECT_EQ(list.value(1), 4);
    EXPECT_EQ(list.value(2), 3);
    EXPECT_EQ(list.waitingSize(), 3u);
    EXPECT_EQ(this->drain.count, 4);

    // The current layer first; then, once it is exhausted, its states go with it.
    EXPECT_EQ(this->take(false), std::vector<int32_t>({0, 0, 0, 1}));
    EXPECT_EQ(this->take(true), std::vector<int32_t>({1, 0, 0, 0}));
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, minusInfinity}, {1, 0}}));
    // The count of stored states keeps those of the layers swept away; the one just taken and
    // forgotten no longer counts.
    EXPECT_EQ(list.value(1), 3);

    // After the last layer the sweep starts again at the first one and finds the state left
    // behind; finishing it with drop keeps it, as it is persistent.
    EXPECT_EQ(this->take(true), std::vector<int32_t>({0, 0, 1, 0}));
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, minusInfinity}}));
    EXPECT_EQ(list.currentVector(), std::vector<int32_t>({0, minusInfinity}));
    EXPECT_EQ(list.value(1), 3);

    // Nothing waits any more: the first layer stays, and so does the one with a persistent state.
    EXPECT_TRUE(this->take(false).empty());
    EXPECT_EQ(list.layerVectors(), Vectors({{minusInfinity, minusInfinity}, {0, minusInfinity}}));
    EXPECT_EQ(list.value(1), 3);
    EXPECT_THROW(list.value(3), Bug);
}

TYPED_TEST(SweepLineTest, AZoneThatCoversAPersistentOneInheritsItsPersistence)
{
    auto& list = this->list;
    EXPECT_TRUE(this->put(this->state(2, 0, 0)));
    EXPECT_EQ(this->take(false), std::vector<int32_t>({2, 0, 0, 0}));
    EXPECT_TRUE(this->put(this->state(0, 0, 1)));  // behind the line: persistent
    EXPECT_EQ(this->take(true), std::vector<int32_t>({0, 0, 1, 0}));
    EXPECT_EQ(list.currentVector(), std::vector<int32_t>({0, minusInfinity}));

    // Now at the line, the same discrete part with a wider zone: its vector is not behind the line,
    // but it replaces a persistent zone and so is persistent too.
    // It takes the place of the zone it covers: two states stored in all.
    EXPECT_TRUE(this->put(this->state(0, 0, 1, 0, true)));
    EXPECT_EQ(list.value(1), 2);
    EXPECT_EQ(this->take(true), std::vector<int32_t>({0, 0, 1, 0}));
    EXPECT_EQ(list.value(1), 2);
    EXPECT_TRUE(this->take(true).empty());
    EXPECT_EQ(list.value(1), 2);
}

TYPED_TEST(SweepLineTest, StatesAtTheCostBoundAreDropped)
{
    auto& list = this->list;
    list.setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(costOfR));
    int bound = 2;
    list.setProperty(PROPERTY_MINCOST, &bound);
    EXPECT_TRUE(this->put(this->state(0, 0, 0, 1)));
    EXPECT_FALSE(this->put(this->state(1, 0, 0, 2)));
    EXPECT_EQ(list.value(1), 1);
    EXPECT_EQ(this->drain.count, 1);
    // begin clears the bound with everything else.
    list.begin();
    EXPECT_EQ(list.value(1), 0);
    EXPECT_TRUE(this->put(this->state(1, 0, 0, 3)));
}

TEST(ProgressExpression, IsMinusInfinityWhereItsGuardDoesNotHold)
{
    auto model = compileWithMeasures();
    ASSERT_EQ(model->system->progressMeasures.size(), 2u);
    EXPECT_FALSE(model->system->progressMeasures[0].first);
    ExpressionRef measure(new ProgressExpression(model->system->progressMeasures[1].first,
                                                 model->system->progressMeasures[1].second));
    SymbolicState* s = model->system->makeInitialState();
    s->getVariables()[1] = 3;
    EXPECT_EQ(measure->evaluate(s), 3);
    s->getVariables()[2] = 1;
    EXPECT_EQ(measure->evaluate(s), minusInfinity);
    s->release();
}

TEST(SweepLineSearch, ExploresEveryStateOnceAndFindsGoalsBehindTheLine)
{
    auto model = compileWithMeasures();
    struct Case
    {
        const char* goal;
        bool holds;
    };
    const Case cases[] = {
        {"p == 3", false},
        {"back == 1 && p == 2", true},
        {"p == 2 && back == 0", true},
    };
    for (FilterConfiguration::Factory list :
         {reachtest::makeList<CSSSweepLinePassedWaitingList, 0>, reachtest::makeList<CSSSweepLinePassedWaitingList, 1>,
          reachtest::makeList<CHSweepLinePassedWaitingList, 0>}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.goal);
            reachtest::Options options;
            options.list = list;
            options.silent = false;
            {
                reachtest::Search search(*model->system, reachtest::formula(*model, c.goal), options);
                EXPECT_EQ(search.run(), c.holds);
                if (!c.holds) {
                    // p = 0, 1, 2 before and after the step back.
                    EXPECT_EQ(search.job.explored, 6);
                    EXPECT_EQ(search.figure("Load"), 0);
                    // The search has ended and its store is empty; the figure still tells what
                    // it stored.
                    EXPECT_EQ(search.figure("Size"), 6);
                }
            }
            EXPECT_EQ(model->system->statesInUse(), 0u);
        }
    }
}

}  // namespace
