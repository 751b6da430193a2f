#pragma once

// A reachability stage for the model checker to assemble its searches with until the exploration
// library provides one under "reachability-filter". It builds the successor chain from the
// registry, runs the exploration loop over the passed-waiting list and hands every newly stored
// state to the goal stage: the query stage, or the supremum or infimum stage. It does not check
// traces found on a convex-hull approximation.

#include <cstdint>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class PassedWaitingList;
class SortingFilter;
class System;
namespace pipeline {
class JobInterface;
}

// One record of a supremum or infimum query per value expression: the largest and the smallest
// value seen (started at the ends of the expression's range) and whether a value was seen.
struct SupInfResult
{
    int32_t sup = 0;
    int32_t inf = 0;
    bool valid = false;
};

// The goal stage of a supremum query: keeps states that satisfy the condition (expression 0 of
// the job) and raises the record of every further expression to the value it takes there. A
// state is passed on only when every record has reached its end of the range (no better value can
// exist); otherwise it is released.
class ReachabilitySup : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_SUP_FEEDBACK: the record array; PROPERTY_JOB: the job.
    void setProperty(const char* key, void* value) override;
    bool put(Successor* item) override;

protected:
    // Updates the record with the value.
    virtual void record(SupInfResult& result, int32_t value);

    pipeline::JobInterface* job = nullptr;
    SupInfResult* results = nullptr;
};

class ReachabilityInf : public ReachabilitySup
{
protected:
    void record(SupInfResult& result, int32_t value) override;
};

class StandinReachabilityFilter : public pipeline::CompoundFilter<Successor, Successor>
{
public:
    explicit StandinReachabilityFilter(FilterConfiguration* registry);
    ~StandinReachabilityFilter() override;

    void setProperty(const char* key, void* value) override;
    void begin() override;
    // Explores from the initial successor until the stop key is set or nothing is waiting.
    bool put(Successor* initial) override;

private:
    pipeline::Filter<Successor, Successor>* canonize = nullptr;
    pipeline::Filter<Successor, Successor>* extrapolation = nullptr;
    pipeline::Filter<SymbolicState, Successor>* expansion = nullptr;
    pipeline::Filter<Successor, Successor>* delay = nullptr;
    pipeline::Filter<Successor, Successor>* query = nullptr;
    pipeline::Filter<Successor, Successor>* successor = nullptr;
    pipeline::Filter<SymbolicState, Successor>* transition = nullptr;
    pipeline::Filter<SymbolicState, SymbolicState>* progress = nullptr;
    pipeline::Filter<Successor, Successor>* traceStore = nullptr;
    SortingFilter* sorting = nullptr;
    pipeline::Filter<Successor, Successor>* copy = nullptr;
    pipeline::Filter<Successor, Successor>* symmetry = nullptr;
    PassedWaitingList* passedWaiting = nullptr;
    pipeline::Filter<Successor, Successor>* distance = nullptr;
    ReachabilitySup* sup = nullptr;
    ReachabilityInf* inf = nullptr;
    pipeline::ObservableFilter<SymbolicState>* observable = nullptr;
    pipeline::Sink<SymbolicState>* head = nullptr;

    base::RefPtr<System> system;
    bool silent = true;
    bool supremum = false;
    bool infimum = false;
    bool tracing = false;
    bool targetOrder = false;
    bool stop = false;
};

// Factory of the stand-in under "reachability-filter".
pipeline::Connectable* makeStandinReachabilityFilter(FilterConfiguration* registry);
