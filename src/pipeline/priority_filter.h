#pragma once

// In a model with channel or process priorities a transition may fire only where no transition of
// higher priority can. This stage stands where the copy stage would: it collects the transitions
// of one source state and, at the state's end marker, hands on those that are not blocked, each
// with a state of its own, followed by a null item (the end of the state's successors). Where
// clock guards decide the blocking, the state's zone is cut to the points at which no higher
// transition is enabled, and the condition that describes the cut travels with the item.

#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

class PriorityFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    ~PriorityFilter() override;

    // PROPERTY_SYSTEM: the model, whose priority matrix, process levels and full-order flag
    // decide. Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // A transition is kept (interned); the end marker resolves the kept ones against the state,
    // hands on the unblocked ones and then a null item. Always true.
    bool put(Successor* item) override;

private:
    struct Pending
    {
        EdgeTuple transition;
        // |synchronisation| of the first edge (0 without one), and the priority level.
        uint32_t channel;
        int32_t level;
    };

    // a has strictly higher priority than b.
    bool higher(const Pending& a, const Pending& b) const;
    // The valuations where the transition cannot fire: the disjunction of its negated clock
    // guards (the sender's alone for a broadcast). Made once per transition.
    const ExpressionRef& notEnabled(const Pending& t);
    // The conjunction of notEnabled over the transitions listed in `blockers`, in that order;
    // made once per list (null for the empty list).
    const ExpressionRef& allNotEnabled();
    void resolve(SymbolicState* state);
    void resolvePairwise(SymbolicState* state);
    void resolveFullOrder(SymbolicState* state);
    // Hands on {state, transition, condition}; without a downstream stage the state is released.
    void handOn(SymbolicState* state, EdgeTuple transition, const ExpressionRef& condition);

    base::RefPtr<System> system;
    bool pairwise = false;
    std::vector<Pending> pending;
    // Scratch of one resolution, kept for the next.
    std::vector<uint32_t> unblocked;
    std::vector<uint32_t> blockers;
    std::unordered_map<EdgeTuple, ExpressionRef> blockingConditions;
    // Conditions are the same for the same transitions, state after state: kept by the list of
    // transitions they describe.
    std::vector<EdgeTuple> key;
    std::map<std::vector<EdgeTuple>, ExpressionRef> conjunctions;
};

// Factory of the registry entry "priority-filter".
pipeline::Connectable* makePriorityFilter(FilterConfiguration* registry);
