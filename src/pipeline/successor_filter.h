#pragma once

// The successor computation: the state reached by taking a transition. The stage works in place
// on the state it receives, so an upstream stage must already have given each transition a state
// of its own (the copy stage or the priority stage). Target invariants and the passing of time
// are the delay stage's work.

#include <cstdint>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"

class FilterConfiguration;
class SymbolicState;

class SuccessorFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_SPACEOPT (int*): the space-optimisation mode, 0 none, 1 conservative (the
    // default), 2 aggressive, 3 extreme (marks states as 2 does: a search must keep one state of
    // every cycle to end). PROPERTY_RECORD_SOURCE (SymbolicState*): a state that receives a copy of
    // every source after its guards and before its updates.
    void setProperty(const char* key, void* value) override;

    // Applies the clock guards of the transition's edges in order (the first that fails drops the
    // item, releasing its state, and the later ones are not looked at), moves the processes to
    // the targets, runs the updates, writes the store mark and hands the item on. A null item
    // (the end of a source state's successors) is answered with true and not handed on.
    bool put(Successor* item) override;

protected:
    // The clock guards of every edge in order; on failure the state goes back to the pool.
    bool applyClockGuards(Successor* item);
    // Everything after the guards: record the source, move to the targets, run the updates,
    // write the store mark, hand on. An exception before the hand-on releases the state.
    bool complete(Successor* item);
    // The store mark of a state just reached by the transition.
    int32_t storeMark(SymbolicState* state, EdgeTuple transition) const;

    SymbolicState* recordSource = nullptr;
    int32_t spaceOptimisation = 1;
};

// The successor stage of liveness searches: an item's condition (set by the priority and
// broadcast stages where higher-priority or receiver clock guards cut the zone) is applied to
// the state before the successor is computed.
class BlockingSuccessorFilter : public SuccessorFilter
{
public:
    // A null item answers true. An item whose condition leaves nothing of the zone is dropped
    // (its state goes back to the pool) and answered with false.
    bool put(Successor* item) override;
};

// Passes only the successors over one given transition (used when a trace is replayed).
class FilterSuccessorByTransition : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // Wants the empty transition until told otherwise.
    FilterSuccessorByTransition();

    // Set by the creator before each put: an interned tuple (null stands for the empty one).
    void setTransition(EdgeTuple wanted) { transition = wanted; }
    EdgeTuple getTransition() const { return transition; }

    // A null item answers false. An item over the wanted transition (the same edges in the same
    // order) is handed on; any other is dropped, its state going back to the pool.
    bool put(Successor* item) override;

private:
    EdgeTuple transition = nullptr;
};

// Factories of the registry entries "successor-filter" and "successor-filter-liveness".
pipeline::Connectable* makeSuccessorFilter(FilterConfiguration* registry);
pipeline::Connectable* makeBlockingSuccessorFilter(FilterConfiguration* registry);
