#pragma once

// The stages that keep a liveness search inside its region (the states where the region
// expression holds) and find the states from which a run can stay there forever without taking
// a transition.
//
// Two delay stages let time pass on a new state only as far as the region allows: one for any
// region, one for a region whose expression is convex. Two detectors examine every state of the
// search: the deadlock detector reports a state in which part of the zone can neither take a
// transition nor let time lead out of the zone, the unboundedness detector a state whose zone
// lets time pass without bound. A report is the pair (trace index, trace index) of the state.
//
// Time does not pass in an urgent state: one with an urgent or committed location or an enabled
// urgent synchronisation.

#include <utility>

#include "dbm/fed.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/expression.h"

class FilterConfiguration;
class SymbolicState;

// The pair of trace indices a liveness search reports.
using TracePair = std::pair<int, int>;

// Delays a state as far as the region allows, without letting a valuation pass through a part
// outside the region.
class RestrictedDelayFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_EXPRESSION: the region (counted), and its negation is made. Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // Restricts the state to the region, lets time pass inside it (unless the state is urgent) and
    // applies the invariants. A state left with nothing goes back to the pool (false); otherwise
    // the item goes on and the next stage's answer is returned.
    bool put(Successor* item) override;

private:
    ExpressionRef region;
    ExpressionRef negatedRegion;
};

// The same for a convex region: delay, then restrict to the region.
class ConvexDelayFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_EXPRESSION: the region (counted). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    bool put(Successor* item) override;

private:
    ExpressionRef region;
};

// Reports a state from which some valuation of the zone can neither take a transition (after
// any delay) nor let time lead out of the zone. Never takes the state; always true.
class DeadlockDetector : public pipeline::CompoundFilter<Successor, TracePair>
{
public:
    // Builds its transition analysis from the registry ("transition-filter", "copy-filter",
    // "successor-filter"), which the configuration calls reach through the detector.
    explicit DeadlockDetector(FilterConfiguration* registry);

    void begin() override;
    bool put(Successor* item) override;

    // Whether some valuation of the state's zone is deadlocked.
    bool hasDeadlock(SymbolicState* state);

private:
    // Removes the valuations that can take a transition; false once none is left.
    bool subtract(dbm::fed_t* enabled);

    pipeline::Filter<SymbolicState, dbm::fed_t>* helper;
    dbm::fed_t candidates;
};

// Reports a state that is not urgent and whose zone leaves some valuation free to delay for ever.
// Never takes the state; always true.
class UnboundednessDetector : public pipeline::AbstractFilter<Successor, TracePair>
{
public:
    bool put(Successor* item) override;
};
