#pragma once

// Stages that hand on the successors of one state in a new order once the state's expansion is
// complete: shuffled (random depth-first search) or by cost with random tie-breaking (random
// optimal depth-first search).
//
// A sorting stage keeps every successor put into it and reports it taken; it is the observer of
// the observable stage at the head of the chain, whose after call tells it that the state being
// expanded has produced all its successors. Both draw from the process-wide lrand48 generator, so
// a run is as reproducible as that generator's seeding.

#include <cstdint>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"

class FilterConfiguration;

class SortingFilter : public pipeline::AbstractFilter<Successor, Successor>,
                      public pipeline::ObservableFilter<SymbolicState>::Observer
{
public:
    // Emits the successors kept since the last call and forgets them. The downstream results are
    // not looked at; the argument is returned.
    bool after(bool result) override = 0;

protected:
    // Hands one kept successor on; without a downstream stage its state goes back to the pool.
    void emit(Successor& successor);

    // Hands on every kept entry, first to last or last to first, and forgets them all. When a
    // downstream stage throws, the states not yet handed on go back to the pool before the
    // exception leaves.
    template <class Entry, class Access>
    void emitAll(std::vector<Entry>& kept, bool backwards, Access successorOf)
    {
        const std::size_t n = kept.size();
        std::size_t done = 0;
        try {
            for (; done < n; ++done) {
                emit(successorOf(kept[backwards ? n - 1 - done : done]));
            }
        } catch (...) {
            for (++done; done < n; ++done) {
                pipeline::dropItem(&successorOf(kept[backwards ? n - 1 - done : done]));
            }
            kept.clear();
            throw;
        }
        kept.clear();
    }
};

// Shuffles the successors of each state.
class RandomSortingFilter : public SortingFilter
{
public:
    ~RandomSortingFilter() override;

    // Keeps the successor (a null item is ignored) and returns true.
    bool put(Successor* item) override;
    bool after(bool result) override;

private:
    std::vector<Successor> kept;
};

// Hands on the successors of each state from the most to the least expensive, so that a
// stack-based waiting list takes the cheapest first; equal costs are ordered by a random key.
class CostSortingFilter : public SortingFilter
{
public:
    ~CostSortingFilter() override;

    // PROPERTY_PRUNING: the cost function. Without one every successor costs 0.
    void setProperty(const char* key, void* value) override;
    // Draws the successor's random key, then computes its cost, keeps it (a null item is
    // ignored) and returns true.
    bool put(Successor* item) override;
    bool after(bool result) override;

private:
    struct Ranked
    {
        int32_t cost;
        uint32_t key;
        Successor successor;
    };

    std::vector<Ranked> kept;
    pipeline::StateFunction cost = nullptr;
};

// Factories for the registry entry "sorting-filter".
pipeline::Connectable* makeRandomSortingFilter(FilterConfiguration* registry);
pipeline::Connectable* makeCostSortingFilter(FilterConfiguration* registry);
