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
#include <unordered_map>
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
class ExtrapolationInfo;
class FilterConfiguration;
class PassedList;
class SymbolicState;
class System;

// An item of the robust search and an entry of its waiting stacks.
struct RSuccessor : Successor
{};

// The waiting stack of the robust search, and the stack of enlarged roots. The transitions of a
// state are stacked in the order they are enumerated, so the last one is taken first.
class RWaitingStack : public pipeline::Buffer<Successor, RSuccessor>
{
public:
    // The root stack owns the states of its entries (they are released when it is cleared); the
    // waiting stack only points at states of the path.
    explicit RWaitingStack(bool ownsStates = false) : ownsStates(ownsStates) {}
    ~RWaitingStack() override;

    // Stacks a transition; the end marker of a state (an empty transition) is ignored. Always
    // true.
    bool put(Successor* item) override;
    // Moves the top entry into the item (its condition in place of the item's); false when empty.
    bool get(RSuccessor* item) override;
    // Pushes {the item's state, the empty transition}; the stack takes the state.
    void pushRoot(const RSuccessor* item);
    size_t size() const { return stack.size(); }
    void clear();

private:
    std::deque<RSuccessor> stack;
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
// root for later) or it closes a cycle that the path already walks (it is dropped).
//
// A state that falls inside a state of the path closes a cycle with it. It is walked on only
// when it falls inside exactly one state of the path and got there by another transition than
// that state: the walk then finds the cycles made of two different rounds through the state. A
// state inside two states of the path, or reached by the transition that reached the state
// holding it, only repeats rounds the path already has, and the search would go round for ever
// (or for as long as the rounds can be combined) if it were walked on.
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

    SymbolicState* topState() const { return path.empty() ? nullptr : path.top()->state; }
    bool empty() const { return path.empty(); }
    // Removes the top entry; its state is added to the passed list and goes back to the pool.
    void pop();
    void popAll();
    // Removes every entry without adding to the passed list.
    void clear();
    void disown(SymbolicState* state) { path.disown(state); }

private:
    struct CycleNode
    {
        SymbolicState* state;
        EdgeTuple transition;
        Expression* condition;
        dbm::fed_t zone;
    };

    enum class CycleOutcome
    {
        // The cycle cannot be repeated for ever from the state that closes it.
        notRepeatable,
        // It can, but adds nothing to that state (or is not analysed at all).
        nothingNew,
        // It adds the gain to that state.
        gains
    };

    // Analyses the cycle from the entry through the entries above it to the item. False when the
    // cycle cannot be repeated from any valuation; `enlarged` tells whether the item's zone grew.
    bool robustDfsStep(SearchPath::Entry* entry, Successor* item, bool& enlarged);
    // The analysis itself: whether time can pass on the cycle and its bounded clocks are reset,
    // then the backward and the forward fixpoint.
    CycleOutcome analyseCycle(SearchPath::Entry* entry, Successor* item, dbm::fed_t& gain);
    // Adds the clocks the step resets and bounds from above to the bit sets.
    void recordStep(SymbolicState* state, EdgeTuple transition);
    // Takes the transition from a state of `from`'s discrete part and `from`'s zone through the
    // own chain: false when nothing arrives, else `to` becomes what arrived.
    // `entered` (may be null) gets the zones with which the transition enters, before any delay.
    bool forward(const CycleNode& from, const CycleNode& through, dbm::fed_t& to, dbm::fed_t* entered = nullptr);
    // Whether some point of `leaving` is reached from a point of `entered` by a positive delay in
    // the state's locations (never in an urgent or committed one).
    bool delaysWithin(SymbolicState* state, const dbm::fed_t& entered, const dbm::fed_t& leaving);
    // Whether time can pass somewhere on the analysed cycle: some node's zone is reached from
    // what enters the node by a positive delay.
    bool timePassesOnCycle();
    // Whether the forward fixpoint may leap over passes: not with difference constraints in the
    // model or the query (nor floating-point clock bounds), which may slow a clock's climb.
    void prepareLeaps();
    // Whether, from `before` to `after` (single zones), the only bounds that changed are lower
    // bounds of the clocks in `unreset` against the reference clock and the reset clocks, each
    // raised or kept and at least one raised; `rises` gets how much each of those bounds moved.
    bool onlyRises(const dbm::fed_t& before, const dbm::fed_t& after, std::vector<dbm::bound_t>& rises) const;
    // Raises those bounds of the single zone as `passes` more passes of the same rises would,
    // or as far as the zone allows when that is fewer; false when it cannot leap at all.
    bool leap(dbm::fed_t& zone, const std::vector<dbm::bound_t>& rises, uint64_t passes);

    SearchPath path;
    // For the entry at depth d, hulls[d - 1] holds the convex hull of its zone and of the zones of
    // every entry below it with the same discrete part: a state outside it falls inside none of
    // them, so the search for the entries holding a state stops there.
    std::vector<dbm::fed_t> hulls;
    // For the entry at depth d, from index (d - 1) * 2 * W on (W words per clock set): the clocks
    // the step into it resets, then the clocks it bounds from above; and whether time stands
    // still in its state.
    std::vector<uint32_t> pathSteps;
    std::vector<bool> pathUrgent;
    pipeline::Filter<Successor, Successor>* successorStage;
    pipeline::Filter<Successor, Successor>* delayStage;
    pipeline::Filter<Successor, Successor>* extrapolationStage;
    class EntryTap;
    EntryTap* entryTap;
    class Collector;
    Collector* collector;
    base::RefPtr<System> system;
    PassedList* passedList = nullptr;
    RWaitingStack* waitingStack = nullptr;
    RWaitingStack* rootStack = nullptr;

    // The clock that measures elapsed time for the fastest traces, 0 when there is none.
    uint32_t elapsedClock = 0;
    const ExtrapolationInfo* queryBounds = nullptr;
    bool leapsAllowed = false;
    // The clocks the cycle being analysed does not reset (a bit set), and how the lower bounds of
    // those clocks rose in the last two passes of its forward fixpoint.
    std::vector<uint32_t> unreset;
    std::vector<dbm::bound_t> rises;
    std::vector<dbm::bound_t> lastRises;
    struct LeapTarget
    {
        uint32_t i;
        uint32_t j;
        int64_t bound;
        int64_t rise;
    };
    std::vector<LeapTarget> leapTargets;

    std::vector<CycleNode> cycle;
    std::vector<uint32_t> rateBits;
    std::vector<uint32_t> resets;
    std::vector<uint32_t> upperBounds;
    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
};

// The zones a search has reached, by discrete part, each kept only while no other kept zone of its
// discrete part holds it: for every valuation reached, the largest zone known around it.
class ReachableIndex
{
public:
    ReachableIndex() = default;
    ReachableIndex(const ReachableIndex&) = delete;
    ReachableIndex& operator=(const ReachableIndex&) = delete;
    ~ReachableIndex() { clear(); }

    // Takes from the state's zone the zones a kept zone holds and keeps the others, letting go of
    // the kept zones they hold. True when some zone of the state was new.
    bool add(SymbolicState* state);
    // The union of kept zones that hold the zones of the state (each zone of the state lies in
    // one); false, and `holders` unchanged, when some zone of the state lies in none.
    bool holders(const SymbolicState* state, dbm::fed_t& holders);
    // Takes from the state's zone the zones that are no longer kept themselves (a larger kept zone
    // holds them). True when some zone is left.
    bool keepCurrent(SymbolicState* state);
    void clear();

private:
    struct Kept
    {
        dbm::zone_t zone;
        // Which clock differences are at most 0 in it: a zone inside another has every bit of
        // the other, so most zones that cannot hold a given one are passed over at once.
        uint32_t bits;
    };
    // The kept zones of one discrete part, and a state with that part.
    struct Group
    {
        SymbolicState* discrete;
        std::vector<Kept> kept;
    };
    Group* groupOf(const SymbolicState* state);
    // The kept zone holding the zone (null when none).
    const Kept* holderOf(const Group& group, const dbm::zone_t& zone, uint32_t bits) const;

    std::unordered_map<uint32_t, std::vector<Group>> buckets;
};

// The plain exploration that the robust search runs before its depth-first search and from every
// state a cycle enlarged: breadth first, keeping the largest zones in a ReachableIndex and handing
// every state it keeps to its downstream sink (the goal test). The depth-first search then walks
// the kept states, so it meets every state once, with its largest zone, and never explores a
// small zone that a larger one explored later holds.
class ReachableExploration : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    // Takes its own "transition-filter", "successor-filter", "tracestore-filter", "delay-filter"
    // and "extrapolation-filter" from the registry.
    explicit ReachableExploration(FilterConfiguration* registry);
    ~ReachableExploration() override;

    // PROPERTY_STOP ends the exploration at its next state; PROPERTY_TRACESTORE decides whether
    // trace recording takes part; PROPERTY_SILENT keeps the job's progress from being ticked.
    void setProperty(const char* key, void* value) override;
    void begin() override;
    // Delays the initial item, keeps it and explores from it. Always true.
    bool put(Successor* item) override;
    // Keeps a copy of the state (already delayed) and explores from it.
    void exploreFrom(const SymbolicState* state);
    // Forgets what was reached.
    void clear();
    // Forgets a stop, so that a later search runs.
    void forgetStop() { stopped = false; }

    ReachableIndex& reached() { return index; }

private:
    class Keeper;
    void run();

    ReachableIndex index;
    std::deque<SymbolicState*> queue;
    pipeline::Filter<SymbolicState, Successor>* transitionStage;
    pipeline::Filter<Successor, Successor>* successorStage;
    pipeline::Filter<Successor, Successor>* traceStoreStage;
    pipeline::Filter<Successor, Successor>* delayStage;
    pipeline::Filter<Successor, Successor>* extrapolationStage;
    // Ticks the job once for every state explored, as the plain search does.
    JobProgressFilter<SymbolicState>* progressFilter;
    RWaitingStack* transitions;
    Keeper* keeper;
    // Where the states to explore go: the progress stage unless silent.
    pipeline::Sink<SymbolicState>* head = nullptr;
    bool stopped = false;
    bool hasTraceStore = false;
    bool silent = true;
};

// Gives each state the union of the reached zones that hold its zones. A state the exploration
// has not reached (none should be) is explored from first, so that its zones are reached ones
// and the goal is tested on it.
class HolderFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    explicit HolderFilter(ReachableExploration& exploration) : exploration(exploration) {}
    bool put(Successor* item) override;

private:
    ReachableExploration& exploration;
};

class RobustReachabilityChecker : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    // Requests "passed-list", "successor-filter", "tracestore-filter", "transition-filter",
    // "delay-filter", "query-filter" and "extrapolation-filter" from the registry.
    explicit RobustReachabilityChecker(FilterConfiguration* registry);

    // PROPERTY_STOP ends the search at its next step; PROPERTY_TRACESTORE decides whether the
    // trace recording takes part; PROPERTY_SILENT keeps the job's progress from being ticked.
    // Every key then reaches the members.
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
    // Ticks the job once for every transition taken, like the other searches.
    JobProgressFilter<Successor>* progressFilter;
    // Where the transitions taken from the waiting stack go: the progress stage unless silent.
    pipeline::Sink<Successor>* head = nullptr;
    ReachableExploration* exploration;
    HolderFilter* holderFilter;

    bool stopped = false;
    bool hasTraceStore = false;
    bool silent = true;
    bool fanOutWired = false;
};

RobustReachabilityChecker* makeRobustReachabilityChecker(FilterConfiguration* registry);
