// The waiting stack of the liveness search: last in, first out, conditions travel with their
// transitions, end markers are not stored, and the figure "Load" follows the size.

#include <gtest/gtest.h>

#include "pipeline/keys.h"
#include "pipeline/statistics.h"
#include "runtime/symbolic_state.h"
#include "statespace/waiting_stack.h"
#include "support/exceptions.h"
#include "testkit/model_builder.h"

namespace {

class Condition : public base::Object
{};

TEST(WaitingStack, IsLastInFirstOutAndCarriesConditions)
{
    testkit::TwoProcessModel model = testkit::makeTwoProcessModel();
    SymbolicState* a = model.system->makeInitialState();
    SymbolicState* b = model.system->makeInitialState();
    Edge* first[] = {model.send, model.receive, nullptr};
    Edge* second[] = {model.send, nullptr};
    base::RefPtr<base::Object> condition(new Condition);

    WaitingStack stack;
    base::RefPtr<StatisticsCollector> collector(new DefaultStatisticsCollector);
    stack.setProperty(PROPERTY_STATISTICS, collector.get());
    const StatisticsEntry* load =
        static_cast<DefaultStatisticsCollector*>(collector.get())->findByName("Load");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->category, "Waiting stack");
    EXPECT_EQ(load->unit, "states");

    // The end marker of a state (and a state without a transition) is taken and not stored.
    Successor end;
    end.state = a;
    end.transition = emptyEdgeTuple();
    EXPECT_TRUE(stack.put(&end));
    end.transition = nullptr;
    EXPECT_TRUE(stack.put(&end));
    EXPECT_EQ(stack.size(), 0u);

    Successor item;
    item.state = a;
    item.transition = first;
    EXPECT_TRUE(stack.put(&item));
    item.state = b;
    item.transition = second;
    item.handle = condition;
    EXPECT_TRUE(stack.put(&item));
    EXPECT_EQ(stack.size(), 2u);
    EXPECT_EQ(load->provider->value(load->id), 2);

    // The kept transitions are the interned tuples, whatever array was put.
    Successor out;
    out.handle = new Condition;
    ASSERT_TRUE(stack.get(&out));
    EXPECT_EQ(out.state, b);
    EXPECT_EQ(out.transition, internEdgeTuple(second));
    EXPECT_EQ(out.handle.get(), condition.get());
    EXPECT_EQ(stack.value(WaitingStack::loadStatistic), 1);

    ASSERT_TRUE(stack.get(&out));
    EXPECT_EQ(out.state, a);
    EXPECT_EQ(out.transition, internEdgeTuple(first));
    EXPECT_FALSE(out.handle);
    EXPECT_FALSE(stack.get(&out));
    EXPECT_EQ(out.state, a);

    EXPECT_THROW(stack.value(1), Bug);

    // Clearing drops the entries and their conditions but never the states.
    item.state = a;
    stack.put(&item);
    stack.put(&item);
    const uint64_t inUse = model.system->statesInUse();
    stack.clear();
    EXPECT_EQ(stack.size(), 0u);
    EXPECT_EQ(load->provider->value(load->id), 0);
    EXPECT_EQ(model.system->statesInUse(), inUse);
    item.handle.release();
    EXPECT_EQ(condition->getRefCount(), 1);
    a->release();
    b->release();
}

}  // namespace
