#pragma once

// The small stages the symbolic checkers put around the successor computation: the goal test,
// the lazy copy of source states, the canonisation hook, the conversion from successors to
// states, the progress counter, and the expansion stage that re-explores from a stored state
// the intermediate states that the space optimisation did not store.

#include <cstdint>

#include "pipeline/job.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class SymbolicStateReference;
class System;

// Passes on the successors whose state satisfies the query expression; the others are dropped.
class QueryFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_EXPRESSION: the query expression (counted; null lets go of it).
    void setProperty(const char* key, void* value) override;
    // Evaluating the expression may cut the state's zone to where it holds. When it does not hold
    // (or the evaluation throws) the state goes back to the pool.
    bool put(Successor* item) override;

private:
    ExpressionRef expression;
};

// Gives every transition of a source state its own copy of the state, except the last, which gets
// the source state itself: each transition is held back until the next one (or the end marker)
// arrives. After the last transition of a state a null item tells the stages downstream that the
// state's successors are complete. A state without transitions is released, with no null item.
class LazyCopyFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    LazyCopyFilter();
    // Always true; the downstream answers are not looked at.
    bool put(Successor* item) override;

private:
    // Interned; null when nothing is held back.
    EdgeTuple pending = nullptr;
};

// Calls the state's canonisation hook before passing the item on.
class CanonizeZoneFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    bool put(Successor* item) override;
};

// Passes on the state of each successor; the transition and the condition stay behind.
class SuccessorToSymbolicStateFilter : public pipeline::AbstractFilter<Successor, SymbolicState>
{
public:
    bool put(Successor* item) override;
};

// Ticks the job's progress for every item it passes on.
template <class T>
class JobProgressFilter : public pipeline::AbstractFilter<T, T>
{
public:
    // PROPERTY_JOB: the job (pipeline::JobInterface*, not counted).
    void setProperty(const char* key, void* value) override;
    bool put(T* item) override
    {
        if (job != nullptr) {
            job->progress();
        }
        if (this->next == nullptr) {
            pipeline::dropItem(item);
            return false;
        }
        return this->next->put(item);
    }

private:
    pipeline::JobInterface* job = nullptr;
};

// Re-explores from a stored state the states that the space optimisation left out of the store,
// so that the goal test still sees every state. With level 0 it only forwards the stored state.
// With levels 1 to 3 it recomputes from the state the successors that the search did not store
// (those the successor stage marks 0: at level 1 committed ones, at levels 2 and 3 every one that
// enters no loop-entry location), keeps them in its own passed-waiting list, expands them in
// turn, and hands every newly stored one on as well.
class ExpansionFilter : public pipeline::CompoundFilter<SymbolicState, Successor>
{
public:
    // Obtains from the registry, in this order, "transition-filter", "copy-filter",
    // "successor-filter", "delay-filter", "tracestore-filter" and "passed-waiting-list".
    explicit ExpansionFilter(FilterConfiguration* registry);
    ~ExpansionFilter() override;

    // PROPERTY_STATISTICS is kept from the members (its own list must not register figures a
    // second time); every other key reaches them. PROPERTY_SYSTEM, PROPERTY_TRACESTORE and
    // PROPERTY_SPACEOPT are also read here.
    void setProperty(const char* key, void* value) override;
    // Begins the members, then wires them.
    void begin() override;
    // Expands the stored state (levels 1 to 3), then hands on {state, no transition}.
    bool put(SymbolicState* state) override;

private:
    // Receives each successor from the successor stage; passes on those not stored (mark 0).
    bool keepUnstored(Successor* item);

    pipeline::Filter<SymbolicState, Successor>* transitionStage = nullptr;
    pipeline::Filter<Successor, Successor>* copyStage = nullptr;
    pipeline::Filter<Successor, Successor>* successorStage = nullptr;
    pipeline::Filter<Successor, Successor>* delayStage = nullptr;
    pipeline::Filter<Successor, Successor>* traceStage = nullptr;
    // The passed-waiting list: its input and output sides and its waiting side.
    pipeline::Sink<Successor>* listSink = nullptr;
    pipeline::Generator<Successor>* listOutput = nullptr;
    pipeline::Source<SymbolicStateReference*>* listSource = nullptr;
    // Where the successors not stored go: the first stage present after the successor stage.
    pipeline::Sink<Successor>* afterTransition = nullptr;

    base::RefPtr<System> system;
    int spaceOptimisation = 0;
    bool traceStore = false;
};

// Factories of the registry entries "query-filter", "copy-filter", "canonize-filter",
// "expansion-filter" and "progress-filter".
pipeline::Connectable* makeQueryFilter(FilterConfiguration* registry);
pipeline::Connectable* makeLazyCopyFilter(FilterConfiguration* registry);
pipeline::Connectable* makeCanonizeZoneFilter(FilterConfiguration* registry);
pipeline::Connectable* makeExpansionFilter(FilterConfiguration* registry);
pipeline::Connectable* makeJobProgressFilter(FilterConfiguration* registry);
