// An exploration moves a great many items through its stages; in steady state the stages reuse
// their buffers, the search orders their arrays and the trace store its blocks, and states come
// from the System's pool, so nothing is taken from the heap per item. This program replaces the
// global allocation functions to count heap allocations, which is why it is a program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/sorting_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/state_order.h"
#include "statespace/trace.h"
#include "statespace/trace_store_filter.h"

namespace {
long allocations = 0;
}  // namespace

// Kept out of line: inlined into a caller, the compiler would see a free() of memory from
// operator new and warn about a mismatch that is not there.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size)
{
    return operator new(size);
}
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

constexpr int branching = 4;

struct Transitions
{
    int dummies[branching] = {};
    Edge* tuples[branching][2];
    Transitions()
    {
        for (int i = 0; i < branching; ++i) {
            tuples[i][0] = reinterpret_cast<Edge*>(&dummies[i]);
            tuples[i][1] = nullptr;
        }
    }
};

// Every state has `branching` successors; the store mark cycles through the child numbers.
class Expander : public pipeline::AbstractFilter<SymbolicState, Successor>
{
public:
    explicit Expander(const Transitions& t) : t(t) {}
    bool put(SymbolicState* source) override
    {
        for (int k = 0; k < branching; ++k) {
            Successor successor;
            successor.state = source->clone();
            successor.state->storeMark = k;
            successor.transition = t.tuples[k];
            next->put(&successor);
        }
        source->release();
        return true;
    }

private:
    const Transitions& t;
};

// Keeps one successor of each expansion (child number 1) in its order and refuses the others, so
// the number of waiting states stays level while the items keep flowing.
class Waiting : public pipeline::Sink<Successor>
{
public:
    explicit Waiting(StateOrder<SymbolicState*>* order) : order(order) {}
    bool put(Successor* item) override
    {
        if (item->state->storeMark != 1) {
            item->state->release();
            return false;
        }
        order->put(item->state, item->state);
        return true;
    }

    std::unique_ptr<StateOrder<SymbolicState*>> order;
};

StateOrder<SymbolicState*>* makeOrder(int kind)
{
    switch (kind) {
    case 0: return new QueueOrder<SymbolicState*>;
    case 1: return new StackOrder<SymbolicState*>;
    default: return new PriorityOrder<SymbolicState*>;
    }
}

int markAsPriority(const SymbolicState* state)
{
    return state->storeMark;
}

TEST(Allocation, SteadyStateExplorationTakesNothingFromTheHeapPerItem)
{
    for (int kind = 0; kind < 3; ++kind) {
        for (bool costOrder : {false, true}) {
            SCOPED_TRACE("order " + std::to_string(kind) + (costOrder ? ", cost sorting" : ", random sorting"));
            base::RefPtr<System> system(new System);
            base::RefPtr<MemoryTraceStore> store(new MemoryTraceStore);
            Transitions t;
            std::unique_ptr<SortingFilter> sorter;
            if (costOrder) {
                sorter.reset(new CostSortingFilter);
                sorter->setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(markAsPriority));
            } else {
                sorter.reset(new RandomSortingFilter);
            }
            pipeline::ObservableFilter<SymbolicState> head(sorter.get());
            Expander expander(t);
            TraceStoreFilter recorder;
            recorder.setProperty(PROPERTY_TRACESTORE, store.get());
            StateOrder<SymbolicState*>* order = makeOrder(kind);
            order->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(markAsPriority));
            Waiting waiting(order);
            head.connect(&expander);
            expander.connect(sorter.get());
            sorter->connect(&recorder);
            recorder.connect(&waiting);

            // A handful of waiting states, then many expansions; the first ones warm the pool,
            // the buffers and the first block of the store.
            for (int i = 0; i < 8; ++i) {
                SymbolicState* state = system->acquireState();
                state->storeMark = 1;
                state->traceIndex = store->put(nullptr, -1);
                waiting.order->put(state, state);
            }
            auto expand = [&](int steps) {
                for (int i = 0; i < steps; ++i) {
                    SymbolicState* state;
                    ASSERT_TRUE(waiting.order->get(state));
                    head.put(state);
                }
            };
            expand(100);
            long before = allocations;
            expand(3000);  // 12000 items through the sorting and recording stages
            EXPECT_EQ(allocations - before, 0);

            SymbolicState* state;
            while (waiting.order->get(state)) {
                state->release();
            }
            EXPECT_EQ(system->statesInUse(), 0u);
        }
    }
}

}  // namespace
