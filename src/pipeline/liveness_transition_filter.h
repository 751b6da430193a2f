#pragma once

// The transitions of a state for the liveness searches of models with priorities or with clock
// guards on broadcast receivers. There the plain enumeration is not enough: blocked transitions
// must be removed and broadcast receivers resolved against their clock guards, and the stages
// that do so work on copies of the state and compute successors. This stage runs them on a copy
// and puts the given state back into every item it hands on, so the search receives
// {the state itself, a transition, the condition under which it may be taken}.
//
// The stage neither takes nor gives up the state it is given: every copy made on the way goes
// back to the pool, and every item handed on carries the given state.

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"

class FilterConfiguration;
class SymbolicState;

namespace pipeline {

// Remembers each state it is given and hands on a full copy of it.
class CopySource : public AbstractFilter<SymbolicState, SymbolicState>
{
public:
    // Answers what the next stage answers; without one the copy goes back to the pool (false).
    bool put(SymbolicState* state) override;
    SymbolicState* getRemembered() const { return remembered; }

private:
    SymbolicState* remembered = nullptr;
};

// Gives each item's state back to the pool and puts the state remembered by its copy source in
// its place. A null item (the end of a state's successors) is answered with true and not handed on.
class RestoreSource : public AbstractFilter<Successor, Successor>
{
public:
    explicit RestoreSource(const CopySource* source) : source(source) {}
    bool put(Successor* item) override;

private:
    const CopySource* source;
};

}  // namespace pipeline

class SpecialLivenessTransitionFilter : public pipeline::CompoundFilter<SymbolicState, Successor>
{
public:
    // Takes the inner enumeration from the registry ("transition-filter") and makes the copy
    // stage, the priority stage (with `priorities`), the broadcast successor stage (with
    // `broadcastGuards`) and the restoring stage.
    SpecialLivenessTransitionFilter(FilterConfiguration* registry, bool priorities, bool broadcastGuards);

    // Wires the members, then begins them.
    void begin() override;
    using pipeline::Generator<Successor>::connect;
    void connect(pipeline::Sink<Successor>* sink) override;
    // Hands on {state, transition, condition} for every transition of the state that is not
    // blocked (one per receiver region of a broadcast). Always true, unless there is no inner
    // enumeration (false).
    bool put(SymbolicState* state) override;

private:
    pipeline::CopySource* copySource;
    pipeline::Filter<SymbolicState, Successor>* inner;
    pipeline::Filter<Successor, Successor>* copyStage;
    pipeline::Filter<Successor, Successor>* priorityStage = nullptr;
    pipeline::Filter<Successor, Successor>* broadcastStage = nullptr;
    pipeline::RestoreSource* restoreSource;
};

// Factories of the registry entry "transition-filter-liveness": with the priority and the
// broadcast stage, with the priority stage only, with the broadcast stage only.
pipeline::Connectable* makeLivenessTransitionFilterPriorityBroadcast(FilterConfiguration* registry);
pipeline::Connectable* makeLivenessTransitionFilterPriority(FilterConfiguration* registry);
pipeline::Connectable* makeLivenessTransitionFilterBroadcast(FilterConfiguration* registry);
