#pragma once

// Robust reachability: is a goal reachable when clocks may drift by an arbitrarily small amount?
//
// The state space is explored depth first with the extrapolation stages told to enlarge zones
// for drift. When a new state falls inside a state that is still on the depth-first path, the
// path between them is a cycle; if time can pass somewhere on it and every clock that the cycle
// bounds from above is also reset on it, the part of the zone from which the cycle can be
// repeated for ever (a backward and then a forward fixpoint around the cycle) is added to the new
// state. A state whose zone grew this way is explored again, from a second stack of roots, once
// the current depth-first search is over. Goal states go to the downstream sink as in plain
// reachability.

#include <cstdint>
#include <deque>
#include <vector>

#include "dbm/fed.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "runtime/state_decorators.h"
#include "statespace/search_path.h"
#include "support/object.h"

class Expression;
class FilterConfiguration;
class PassedList;
class SymbolicState;
class System;

// An item of the robust search: a successor with the bookkeeping that bounds how often a cycle
// is walked again.
struct RSuccessor : Successor
{
    // The number of transitions enumerated together with this one for its source state.
    uint64_t siblingCount = 1;
    // How many times the item may meet a path entry reached by the same transition before it is
    // dropped.
    uint64_t revisitBound = 1;
    // The source state matched a path entry.
    bool sourceRevisited = false;
};

// The waiting stack of the robust search, and the stack of enlarged roots. The transitions of one
// state are collected until the state's end marker and then stacked together, each knowing how
// many they were.
class RWaitingStack : public pipeline::Buffer<Successor, RSuccessor>
{
public:
    // The root stack owns the states of its entries (they are released when it is cleared); the
    // waiting stack only points at states of the path.
    explicit RWaitingStack(bool ownsStates = false) : ownsStates(ownsStates) {}
    ~RWaitingStack() override;

    // A transition joins the pending batch with the current bound; the end marker (an empty
    // transition) moves the batch onto the stack, first transition first, and resets the bound to
    // 1 and the revisit flag. Always true.
    bool put(Successor* item) override;
    // Moves the top entry into the item (its condition in place of the item's); false when empty.
    bool get(RSuccessor* item) override;
    // Pushes {the item's state, the empty transition} with bound 1; the stack takes the state.
    void pushRoot(const RSuccessor* item);
    // What the transitions enumerated next inherit.
    void setCurrent(uint64_t bound, bool revisited)
    {
        currentBound = bound;
        currentRevisit = revisited;
    }
    size_t size() const { return stack.size(); }
    void clear();

private:
    std::deque<RSuccessor> stack;
    std::deque<RSuccessor> batch;
    uint64_t currentBound = 1;
    bool currentRevisit = false;
    bool ownsStates;
};

// Watches one step of a cycle: which clocks its updates reset, and which clocks its invariants
// and guards bound from above. Changes nothing.
class StepRecorder : public SimulatingStateDecorator
{
public:
    // The bit sets hold one bit per clock in 32-bit words.
    StepRecorder(DiscreteState* state, int32_t* integers, int32_t* meta, uint32_t* resets, uint32_t* upperBounds);

    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    void resetClock(uint32_t i, int32_t value) override;

private:
    uint32_t* resets;
    uint32_t* upperBounds;
};

// Hands on a full copy of each item's state with the same transition and condition; the item
// itself is left alone.
class StateDuplicator : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    bool put(Successor* item) override;
};

// The depth-first path with the cycle analysis. Every state that reaches it is pushed on the
// path and handed on (to the fan-out), unless it closes a cycle that enlarges it (it becomes a
// root for later) or it has walked the same cycle often enough (it is dropped).
class RobustDFSStack : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    // Takes its own "successor-filter", "delay-filter" and "extrapolation-filter" from the
    // registry for the forward fixpoint.
    explicit RobustDFSStack(FilterConfiguration* registry);
    ~RobustDFSStack() override;

    // Every key reaches the members; PROPERTY_SYSTEM is kept.
    void setProperty(const char* key, void* value) override;
    // Wires its own chain and lets its extrapolation stage enlarge zones for drift.
    void begin() override;
    // Takes the item's state.
    bool put(Successor* item) override;

    // The lists it works with (not owned).
    void setLists(PassedList* passed, RWaitingStack* waiting, RWaitingStack* roots);
    // The item the checker is feeding through the chain: its bookkeeping is read and updated.
    // Other items (such as the receiver regions of a broadcast) count as fresh ones.
    void setCurrent(RSuccessor* item) { current = item; }

    SymbolicState* topState() const { return path.empty() ? nullptr : path.top()->state; }
    bool empty() const { return path.empty(); }
    // Removes the top entry; its state is added to the passed list and goes back to the pool.
    void pop();
    void popAll();
    // Removes every entry without adding to the passed list.
    void clear() { path.clear(); }
    void disown(SymbolicState* state) { path.disown(state); }

private:
    struct CycleNode
    {
        SymbolicState* state;
        EdgeTuple transition;
        Expression* condition;
        dbm::fed_t zone;
    };

    // Analyses the cycle from the entry through the entries above it to the item. False when the
    // cycle cannot be repeated from any valuation; `enlarged` tells whether the item's zone grew.
    bool robustDfsStep(SearchPath::Entry* entry, Successor* item, bool& enlarged);
    // Adds the clocks the step resets and bounds from above to the bit sets.
    void recordStep(SymbolicState* state, EdgeTuple transition);
    // Takes the transition from a state of `from`'s discrete part and `from`'s zone through the
    // own chain: false when nothing arrives, else `to` is cut to what arrived.
    bool forward(const CycleNode& from, const CycleNode& through, dbm::fed_t& to);

    SearchPath path;
    pipeline::Filter<Successor, Successor>* successorStage;
    pipeline::Filter<Successor, Successor>* delayStage;
    pipeline::Filter<Successor, Successor>* extrapolationStage;
    class Collector;
    Collector* collector;
    base::RefPtr<System> system;
    PassedList* passedList = nullptr;
    RWaitingStack* waitingStack = nullptr;
    RWaitingStack* rootStack = nullptr;
    RSuccessor* current = nullptr;

    std::vector<CycleNode> cycle;
    std::vector<uint32_t> resets;
    std::vector<uint32_t> upperBounds;
    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
};

class RobustReachabilityChecker : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    // Requests "passed-list", "successor-filter", "tracestore-filter", "transition-filter",
    // "delay-filter", "query-filter" and "extrapolation-filter" from the registry.
    explicit RobustReachabilityChecker(FilterConfiguration* registry);

    // PROPERTY_STOP ends the search at its next step; PROPERTY_TRACESTORE decides whether the
    // trace recording takes part. Every key then reaches the members.
    void setProperty(const char* key, void* value) override;
    // Wires the chain and lets the extrapolation stage enlarge zones for drift. Bug when the
    // passed list, the successor, the delay or the transition stage is missing.
    void begin() override;
    // Runs the whole search from the initial item and takes its state. Always true.
    bool put(Successor* item) override;
    // Forgets the path, the stacks and the passed list.
    void end() override;

private:
    RWaitingStack* waitingStack;
    RWaitingStack* rootStack;
    RobustDFSStack* robustStack;
    PassedList* passedList;
    pipeline::Filter<SymbolicState, Successor>* transitionStage;
    SuccessorToSymbolicStateFilter* successorToState;
    pipeline::Filter<Successor, Successor>* successorStage;
    pipeline::Filter<Successor, Successor>* extrapolationStage;
    pipeline::Filter<Successor, Successor>* traceStoreStage;
    pipeline::Filter<Successor, Successor>* delayStage;
    StateDuplicator* duplicator;
    pipeline::Filter<Successor, Successor>* queryStage;
    pipeline::While<Successor>* fanOut;
    pipeline::Filter<SymbolicState, SymbolicState>* enumerationGuard;

    bool stopped = false;
    bool hasTraceStore = false;
    bool fanOutWired = false;
};

RobustReachabilityChecker* makeRobustReachabilityChecker(FilterConfiguration* registry);
