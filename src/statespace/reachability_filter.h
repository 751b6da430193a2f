#pragma once

// The checker of one symbolic reachability query (and of the supremum and infimum queries). It
// assembles the successor chain from the registry, runs the exploration loop that takes waiting
// states from the passed-waiting list and feeds them to the chain, and passes every newly stored
// state to the goal stage: the query filter, or for supremum and infimum queries the stages
// below. A goal state reaches the terminal sink, which records it and sends PROPERTY_STOP back to
// this filter; the loop then ends.
//
// The chain, stages in brackets present only when the registry and the configuration ask for them:
//   [observable] -> [progress] -> transition -> [copy or priority] -> successor -> [distance]
//   -> [sorting] -> [trace recording] -> delay -> [canonize] -> [symmetry] -> [extrapolation]
//   -> passed-waiting list -> goal stage -> terminal sink

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "pipeline/job.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class PassedWaitingList;
class Path;
class SortingFilter;
class SymbolicState;
class System;
class TraceStore;

// The goal stage of supremum queries: a stored state that satisfies the condition (the job's
// expression 0) raises the upper bound of every value (expressions 1 and up) it exceeds. The
// search may stop once every value has reached its known bound.
class ReachabilitySup : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // One record per value expression, owned and initialised by the model checker and read by it
    // after the run (sent with PROPERTY_SUP_FEEDBACK as a pointer to the first record).
    struct Record
    {
        int32_t upper;
        int32_t lower;
        bool seen;
    };

    // PROPERTY_SUP_FEEDBACK: the records. PROPERTY_JOB: the job, whose expressions are taken.
    void setProperty(const char* key, void* value) override;
    // Takes the job's expressions again.
    void begin() override;
    // Drops (false) a state where the condition does not hold. Otherwise records its values and
    // passes it on when every record has reached its bound (upper equals lower); drops it (false)
    // when some has not.
    bool put(Successor* item) override;

protected:
    // Takes the value into the record when it is at least the upper bound.
    virtual void record(Record& r, int32_t value) const;

private:
    void takeExpressions();

    pipeline::JobInterface* job = nullptr;
    Record* results = nullptr;
    // The job's expressions, taken once so that put does not ask the job per state.
    std::vector<ExpressionRef> expressions;
};

// The same for infimum queries: a value at most the lower bound lowers it.
class ReachabilityInf : public ReachabilitySup
{
protected:
    // Takes the value into the record when it is at most the lower bound.
    void record(Record& r, int32_t value) const override;
};

class ReachabilityFilter : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    // Obtains its members from the registry, in this order: "canonize-filter",
    // "extrapolation-filter", "expansion-filter", "delay-filter", "query-filter",
    // "successor-filter", "transition-filter", "progress-filter", "tracestore-filter",
    // "sorting-filter", "copy-filter", "symmetry-filter", "passed-waiting-list" and
    // "distance-filter"; then makes its supremum and infimum goal stages and the observable head
    // whose observer is the sorting stage. The registry is used again to replay traces.
    explicit ReachabilityFilter(FilterConfiguration* registry);
    ~ReachabilityFilter() override;

    // Acts on PROPERTY_STOP, PROPERTY_EXPRESSION, PROPERTY_REACHEDSTATE, PROPERTY_MINCOST,
    // PROPERTY_SILENT, PROPERTY_SYSTEM, PROPERTY_CHECKTRACE, PROPERTY_TRACESTORE,
    // PROPERTY_TARGET_ORDER and PROPERTY_JOB, then hands every key to all members. With
    // MIRVEK_DUMP_STATE defined, a reached state and a new cost bound are written to the
    // standard error stream.
    void setProperty(const char* key, void* value) override;
    // Wires the chain, then begins the members.
    void begin() override;
    // Runs the search from the initial successor (whose state it takes): first the states a
    // reused passed-waiting list already holds go to the goal stage, then the initial state is
    // stored and the waiting states are expanded until none is left or a stop is requested.
    // Always true; exceptions of the stages leave it.
    //
    // With PROPERTY_CHECKTRACE (an over-approximating store) a goal state reaches the terminal
    // sink only once the replay of its trace from the initial state has shown it to be the end of
    // a run of the model; a goal that no run confirms is dropped, the store is refined where that
    // can still help, and the search goes on.
    bool put(Successor* item) override;

    // True when the last search met a goal state that its trace could not confirm: the goal may
    // lie in the over-approximation only, so the absence of a confirmed goal proves nothing.
    bool metUnconfirmedGoal() const { return unconfirmed; }

private:
    // Receives the goal states while traces are checked: they wait in `candidates` until the
    // stage that produced them has returned.
    struct CandidateSink : pipeline::Sink<Successor>
    {
        explicit CandidateSink(ReachabilityFilter& owner) : owner(owner) {}
        bool put(Successor* item) override;
        ReachabilityFilter& owner;
    };

    // Checks the waiting candidates in the order they came: a confirmed one goes to the terminal
    // sink, the others are released. Runs between two puts into the chain, never inside one, since
    // a refinement changes the passed-waiting list; `refine` is false while the list is walked.
    void checkCandidates(bool refine);
    // Replays the trace to the state. True when a run of the model ends in a goal state; otherwise
    // refines the store when asked (once per discrete part of a goal, so that the search ends)
    // and answers false.
    bool confirm(SymbolicState* state, bool refine);
    void releaseCandidates();
    // The record, on the way from a goal's record (reached by `length` transitions) to the root,
    // of the state that the replayed step reached; -1 when the store cannot tell.
    int32_t ancestorRecord(int32_t record, uint32_t length, const Path& step) const;

    FilterConfiguration* registry;

    pipeline::Filter<Successor, Successor>* canonizeStage = nullptr;
    pipeline::Filter<Successor, Successor>* extrapolationStage = nullptr;
    pipeline::Filter<SymbolicState, Successor>* expansionStage = nullptr;
    pipeline::Filter<Successor, Successor>* delayStage = nullptr;
    pipeline::Filter<Successor, Successor>* queryStage = nullptr;
    pipeline::Filter<Successor, Successor>* successorStage = nullptr;
    pipeline::Filter<SymbolicState, Successor>* transitionStage = nullptr;
    pipeline::Filter<SymbolicState, SymbolicState>* progressStage = nullptr;
    pipeline::Filter<Successor, Successor>* traceStage = nullptr;
    SortingFilter* sortingStage = nullptr;
    pipeline::Filter<Successor, Successor>* copyStage = nullptr;
    pipeline::Filter<Successor, Successor>* symmetryStage = nullptr;
    PassedWaitingList* list = nullptr;
    pipeline::Filter<Successor, Successor>* distanceStage = nullptr;
    ReachabilitySup* supStage = nullptr;
    ReachabilityInf* infStage = nullptr;
    pipeline::ObservableFilter<SymbolicState>* observableStage = nullptr;

    // The stage that receives each state taken from the waiting list.
    pipeline::Sink<SymbolicState>* head = nullptr;

    base::RefPtr<System> system;
    ExpressionRef expression;
    bool silent = true;
    bool supremum = false;
    bool infimum = false;
    bool trace = false;
    bool targetOrder = false;
    bool checkTraces = false;
    bool stop = false;
    TraceStore* traceStore = nullptr;
    pipeline::JobInterface* job = nullptr;
    // The goal state the terminal sink holds (not owned).
    SymbolicState* reached = nullptr;

    CandidateSink candidateSink{*this};
    // Goal states waiting for their trace check (owned).
    std::vector<SymbolicState*> candidates;
    // A goal state was met whose trace no run confirmed.
    bool unconfirmed = false;
    // The discrete parts (locations, integer values) of the goals whose failed check refined the
    // store: each refines it once.
    std::set<std::pair<std::vector<const void*>, std::vector<int32_t>>> refinedGoals;
};

// Factory of the registry entry "reachability-filter".
pipeline::Connectable* makeReachabilityFilter(FilterConfiguration* registry);

// Registers the reachability checker and the distance guidance stage under their built-in names
// ("reachability-filter", "distance-filter").
void registerReachabilityFilters();
