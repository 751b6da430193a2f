#pragma once

// The last-in, first-out store of the liveness search. The transition stage of the liveness
// chain puts into it one item per transition that leaves a state of the search path (the state,
// the transition still to be taken and, where priorities or broadcast receivers cut the zone, the
// condition under which it may be taken); the search pulls the most recent one, backtracks its
// path to that state and takes the transition.
//
// The stack only points at the states: the search path owns them. Entries are removed without
// releasing their states.

#include <cstddef>
#include <deque>

#include "pipeline/pipeline.h"
#include "pipeline/statistics.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "support/object.h"

class WaitingStack : public pipeline::Buffer<Successor, Successor>, public AbstractStatisticsProvider
{
public:
    // The identifier of the figure "Waiting stack" / "Load".
    static constexpr int loadStatistic = 2;

    // PROPERTY_STATISTICS: registers the figure "Load" with the collector (leaving the collector
    // held before). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // Pushes {state, interned transition, condition (one more reference)}. The end marker of a
    // state's transitions (an empty or missing transition) is accepted and nothing is stored.
    // Always true.
    bool put(Successor* item) override;
    // Moves the top entry into the item: its state and transition, and its condition in place of
    // the item's own (which is let go of). False, leaving the item alone, when the stack is empty.
    bool get(Successor* item) override;
    size_t size() const { return entries.size(); }
    // The number of entries for loadStatistic; Bug "Unknown statistics ID" for any other.
    int value(int id) override;

    // Removes every entry and gives the stack's storage back; the states are not released.
    void clear();

private:
    struct Entry
    {
        SymbolicState* state;
        EdgeTuple transition;
        base::RefPtr<base::Object> handle;
    };

    std::deque<Entry> entries;
};
