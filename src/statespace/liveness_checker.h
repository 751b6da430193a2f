#pragma once

// The search for a run that stays for ever inside a region, the set of states where an
// expression holds: E[] p asks for such a run inside p, A<> p for one inside not p.
//
// The search goes depth first over symbolic states that are delayed only as far as the region
// allows. A run that stays in the region for ever is reported when the search meets a state that
// closes a loop with a state of the current path such that the loop can really be repeated, a
// state in which part of the zone is deadlocked, or a state whose zone lets time pass without
// bound. A report is a pair of trace indices put into the downstream sink: (the state where the
// loop starts, the state that closes it), or the index of a deadlocked or unbounded state twice.
//
// The downstream sink ends the search by sending PROPERTY_STOP when it receives a pair.

#include <vector>

#include "dbm/fed.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "statespace/liveness_region.h"
#include "statespace/search_path.h"
#include "support/object.h"

class Expression;
class FilterConfiguration;
class PassedList;
class SymbolicState;
class WaitingStack;

// The current search path. A state that arrives closes a loop when an entry of the path has the
// same discrete part, an intersecting zone, and the cycle through the entries above it can be
// repeated from some valuation; then the pair (entry's trace index, state's trace index) goes
// downstream. Otherwise the state is pushed on top. Entries own their states.
class DFSStack : public pipeline::AbstractFilter<Successor, TracePair>
{
public:
    // Popped states are remembered as fully explored in the passed list (not owned).
    explicit DFSStack(PassedList* passedList);
    ~DFSStack() override;

    // Takes the item's state: pushed on the path, or kept aside when it closes a loop (it must
    // stay valid for the stages that look at it after this one). Always true.
    bool put(Successor* item) override;

    // The state on top of the path, null when the path is empty.
    SymbolicState* topState() const;
    bool empty() const { return path.empty(); }
    size_t size() const { return path.size(); }
    // Some state closed a loop since the path was last emptied.
    bool hasReportedLoop() const { return loopReported; }

    // Removes the top entry; its state is added to the passed list and goes back to the pool.
    void pop();
    // Pops every entry, then releases the states kept aside.
    void popAll();
    // Removes every entry and the states kept aside without adding to the passed list.
    void clear();
    // The state no longer belongs to the path (a stage gave it back to the pool on an error):
    // its entry keeps no state.
    void disown(SymbolicState* state);

private:
    // One step of the cycle under analysis.
    struct CycleNode
    {
        SymbolicState* state;
        dbm::fed_t zone;
        EdgeTuple transition;
        Expression* condition;
    };

    // Whether the cycle from the entry through the entries above it to the item's state can be
    // repeated for ever from some valuation.
    bool closesLoop(SearchPath::Entry* entry, Successor* item);
    void releaseKeptAside();

    SearchPath path;
    PassedList* passedList;
    std::vector<SymbolicState*> keptAside;
    std::vector<CycleNode> cycle;
    bool loopReported = false;
};

class LivenessChecker : public pipeline::CompoundFilter<Successor, TracePair>
{
public:
    // Obtains "passed-list", "successor-filter-liveness", "tracestore-filter",
    // "extrapolation-filter" and "transition-filter-liveness" from the registry and creates the
    // rest of its chain.
    explicit LivenessChecker(FilterConfiguration* registry);

    // Every key reaches the stages first. PROPERTY_STOP ends the running search at its next step;
    // PROPERTY_EXPRESSION (the region) chooses the convex delay stage for a convex region and the
    // restricted one otherwise; PROPERTY_TRACESTORE and PROPERTY_SILENT decide whether the trace
    // recording and the progress stages take part.
    void setProperty(const char* key, void* value) override;
    // Wires the chain, then begins the stages; may be called again. Bug when the passed list, the
    // successor stage, the transition stage or the region is missing.
    void begin() override;
    // Runs one complete search from the item and takes its state. States explored to the end stay
    // in the passed list for later searches. Always true.
    bool put(Successor* item) override;
    // Forgets the path, the waiting stack and the passed list.
    void end() override;

private:
    PassedList* passedList;
    pipeline::Filter<Successor, Successor>* successorFilter;
    pipeline::Filter<Successor, Successor>* traceStoreFilter;
    pipeline::Filter<Successor, Successor>* extrapolationFilter;
    pipeline::Filter<SymbolicState, Successor>* transitionFilter;
    SuccessorToSymbolicStateFilter* successorToState;
    WaitingStack* waitingStack;
    RestrictedDelayFilter* restrictedDelay;
    ConvexDelayFilter* convexDelay;
    DFSStack* dfsStack;
    DeadlockDetector* deadlockDetector;
    UnboundednessDetector* unboundednessDetector;
    pipeline::While<Successor>* fanOut;
    JobProgressFilter<Successor>* progressFilter;
    pipeline::Filter<SymbolicState, SymbolicState>* enumerationGuard;

    pipeline::Filter<Successor, Successor>* delayFilter = nullptr;
    pipeline::Sink<Successor>* head = nullptr;
    bool silent = false;
    bool hasTraceStore = false;
    bool stopped = false;
    bool fanOutWired = false;
};

LivenessChecker* makeLivenessChecker(FilterConfiguration* registry);
