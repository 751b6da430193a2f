// A small search assembled from the frame's pieces: an observable head, a stage that expands
// states, random sorting, trace recording and a stack-ordered waiting list, run by a loop that
// takes waiting states until none is left or a stop is requested.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/sorting_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/state_order.h"
#include "statespace/trace.h"
#include "statespace/trace_store_filter.h"

namespace {

constexpr int branching = 3;

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

// Every state has `branching` successors, one deeper (the depth is kept in the store mark).
class Expander : public pipeline::AbstractFilter<SymbolicState, Successor>
{
public:
    explicit Expander(const Transitions& t) : t(t) {}
    bool put(SymbolicState* source) override
    {
        for (int k = 0; k < branching; ++k) {
            Successor successor;
            successor.state = source->clone();
            successor.state->storeMark = source->storeMark + 1;
            successor.transition = t.tuples[k];
            next->put(&successor);
        }
        source->release();
        return true;
    }

private:
    const Transitions& t;
};

// Keeps states down to a depth, refuses deeper ones, and asks for a stop after a number of
// stored states.
class Waiting : public pipeline::Buffer<Successor, SymbolicState*>
{
public:
    Waiting(const Transitions& t, int maxDepth, int stopAfter) : t(t), maxDepth(maxDepth), stopAfter(stopAfter) {}
    ~Waiting() override
    {
        SymbolicState* state;
        while (order.get(state)) {
            state->release();
        }
    }

    bool put(Successor* item) override
    {
        if (item->state->storeMark > maxDepth) {
            item->state->release();
            return false;
        }
        order.put(item->state, item->state);
        int number = -1;
        for (int k = 0; k < branching; ++k) {
            if (item->transition == t.tuples[k]) {
                number = k;
            }
        }
        stored.push_back(number);
        if (static_cast<int>(stored.size()) == stopAfter && stopTarget != nullptr) {
            bool no = false;  // the value is not read
            stopTarget->setProperty(PROPERTY_STOP, &no);
        }
        return true;
    }

    bool get(SymbolicState** out) override { return order.get(*out); }

    pipeline::Connectable* stopTarget = nullptr;
    std::vector<int> stored;  // the transition numbers of the stored states, in storing order

private:
    const Transitions& t;
    StackOrder<SymbolicState*> order;
    int maxDepth;
    int stopAfter;
};

class Search : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    Search(const Transitions& t, int maxDepth, int stopAfter)
    {
        sorter = addMember(new RandomSortingFilter);
        head = addMember(new pipeline::ObservableFilter<SymbolicState>(sorter));
        expander = addMember(new Expander(t));
        recorder = addMember(new TraceStoreFilter);
        waiting = addMember(new Waiting(t, maxDepth, stopAfter));
        waiting->stopTarget = this;
    }

    void setProperty(const char* key, void* value) override
    {
        stop.accept(key);
        CompoundFilter::setProperty(key, value);
    }

    void begin() override
    {
        head->connect(expander);
        expander->connect(sorter);
        sorter->connect(recorder);
        recorder->connect(waiting);
        CompoundFilter::begin();
    }

    // The initial successor goes straight into the waiting list; then waiting states are
    // expanded until none is left or a stop is requested.
    bool put(Successor* initial) override
    {
        stop.clear();
        waiting->put(initial);
        SymbolicState* state;
        while (!stop.isRequested() && waiting->get(&state)) {
            head->put(state);
            ++expanded;
        }
        return true;
    }

    Waiting* waiting;
    int expanded = 0;

private:
    pipeline::StopRequest stop;
    RandomSortingFilter* sorter;
    pipeline::ObservableFilter<SymbolicState>* head;
    Expander* expander;
    TraceStoreFilter* recorder;
};

struct Outcome
{
    std::vector<int> stored;
    int expanded;
    int32_t records;
};

Outcome run(System* system, long seed, int maxDepth, int stopAfter)
{
    Transitions t;
    base::RefPtr<MemoryTraceStore> store(new MemoryTraceStore);
    auto* search = new Search(t, maxDepth, stopAfter);
    search->setProperty(PROPERTY_TRACESTORE, store.get());
    search->begin();
    srand48(seed);

    Successor initial;
    initial.state = system->acquireState();
    initial.state->storeMark = 0;
    initial.state->traceIndex = store->put(nullptr, -1);
    search->put(&initial);
    search->end();

    Outcome result{search->waiting->stored, search->expanded, store->size()};
    delete search;
    return result;
}

TEST(Exploration, AFinishedSearchLeavesNoStateTaken)
{
    base::RefPtr<System> system(new System);

    // To the end: 1 + 3 + 9 + 27 states stored and recorded; the refused ones left no record.
    Outcome full = run(system.get(), 7, 3, -1);
    EXPECT_EQ(full.stored.size(), 40u);
    EXPECT_EQ(full.records, 40);
    EXPECT_EQ(full.expanded, 40);
    EXPECT_EQ(system->statesInUse(), 0u);

    // The same seed gives the same search; another seed (almost surely) another.
    EXPECT_EQ(run(system.get(), 7, 3, -1).stored, full.stored);
    EXPECT_NE(run(system.get(), 8, 3, -1).stored, full.stored);

    // Stopped early: the states still waiting go back with the search.
    // (The stop comes with the second successor of the third expansion.)
    Outcome stopped = run(system.get(), 7, 3, 9);
    EXPECT_EQ(stopped.stored.size(), 10u) << "the expansion under way ends first";
    EXPECT_EQ(stopped.expanded, 3);
    EXPECT_EQ(system->statesInUse(), 0u);
}

}  // namespace
