#pragma once

// Regeneration of traces. A stored trace holds transitions only; the states along it are computed
// again by replaying it from the initial state through the successor and delay stages the search
// used, keeping every symbolic state that each transition can lead to. The result is a Path: a
// chain of steps, each with the transition taken and the symbolic state reached (one zone). A path
// can then be linked forwards, shrunk to the part from which its end is reached ("stable" traces),
// or given concrete clock values and delays.

#include <cstdint>
#include <list>
#include <vector>

#include "dbm/fed.h"
#include "dbm/zone.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "runtime/state_decorators.h"
#include "statespace/trace.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

// One step of a regenerated trace. Steps form a tree: candidates of one generation may share their
// ancestors, which live as long as some descendant holds them.
class Path : public base::Object
{
public:
    // Takes the state (its zone a single matrix) and a counted reference on the parent.
    Path(const base::RefPtr<Path>& parent, EdgeTuple transition, SymbolicState* state);
    // Gives the state back to its pool, then releases the extra expression and the parent.
    ~Path() override;
    // Deletes this step and every ancestor that only it held, one after the other rather than
    // nested, so that a long path is freed without a deep recursion.
    void destroy() override;

    // Sets the forward links from the first step down to this one; returns the first step.
    Path* linkSteps();
    // Called on the final step: restricts every earlier step to the valuations from which the
    // following step is reached (letting time pass where the step allows it).
    void stabilise();
    // Called on the final step with a valuation inside its zone: sets the delay of every step and
    // leaves in v the clock values at the start of the trace. Raises std::out_of_range "Failed to
    // generate trace" when no concrete point is found.
    void makeConcrete(dbm::valuation_t& v);
    // Called on the final step: whether the delays of the steps, from the clock values `start`,
    // make a run of the model that ends in `end` (a part of the final zone): the clocks start at
    // 0, every step is entered inside its zone, every transition is taken where its guard and the
    // invariants hold and leads into the zone of the next step. The clock values are judged as a
    // trace shows them (six significant digits), so that no value shown breaks a bound.
    bool isConcreteRun(const dbm::valuation_t& start, const dbm::fed_t& end);
    // Called on the final step: finds a run through the path that ends in `end` (a part of the
    // final zone), one whenever the path is a trace of the model. The zones are first restricted
    // to what leads to `end` (the final zone to `end` itself, then stabilise). Without
    // stop-watches the moments of all transitions are then solved at once, earliest first, with
    // the roundest values that meet every strict bound; with them (or where that gives no run as
    // isConcreteRun judges it), each step in turn takes the earliest delay after which its
    // transition leads on. Sets every delay and leaves in v the clock values at the start (0).
    // Raises std::out_of_range "Failed to generate trace" when no delay fits.
    void makeConcreteForwards(dbm::valuation_t& v, const dbm::fed_t& end);

    // The previous step; null for the first.
    base::RefPtr<Path> parent;
    // The following step; null until linkSteps.
    Path* next = nullptr;
    // The transition that led into this step; the shared empty transition for the first one.
    EdgeTuple transition;
    // An extra condition handed to System::stepBack by stabilise (none in the steps made here).
    ExpressionRef extraExpression;
    // The step's state, owned by the step.
    SymbolicState* state;
    // Time spent in this step before the transition of the following one (set by makeConcrete).
    double delay = 0.0;
};

using PathRef = base::RefPtr<Path>;
// A list of steps. In the work list of a replay a null entry marks the start of a generation.
using PathList = std::list<PathRef>;

// Replays the trace from the initial state and picks the final step: with a goal, the first
// candidate whose state satisfies it (evaluated on a copy), without one the first candidate; null
// when there is none. The lists, when given, are filled as replayTrace describes. The caller keeps
// the initial state.
PathRef makePath(FilterConfiguration* registry, SymbolicState* initial, base::RefPtr<Trace> trace,
                 const ExpressionRef& goal, PathList* lastGeneration, PathList* relaxedEnds);

// The replay proper: leaves in `work` the candidate final steps, each a symbolic state reachable by
// exactly the trace's transitions, no one included in another. When a transition cannot be taken
// from any candidate: without lastGeneration, Bug "Cannot generate the trace"; with it, the steps
// from which the transition was tried are kept there and the replay goes on from them with their
// clock constraints dropped, leaving the final candidates of that relaxed continuation in
// relaxedEnds (and the work list empty when even that gets stuck).
void replayTrace(FilterConfiguration* registry, SymbolicState* initial, Trace& trace, PathList& work,
                 PathList* lastGeneration, PathList* relaxedEnds);

// Lets `delay` time units pass in the state: the clocks that run in it advance, those that a
// stop-watch holds keep their values.
void letTimePass(SymbolicState* state, dbm::valuation_t& v, double delay);

// The clock values after a transition from the state before it: its updates run once, on the
// values of that state (scratch copies of its variables take them), and its clock assignments
// reach v. `after` is the state the transition leads to (its variables give the room the updates
// may need for the variables of spawned processes).
void applyClockUpdates(SymbolicState* before, SymbolicState* after, EdgeTuple transition, dbm::valuation_t& v);

// Moves the clock valuation back in time as far as the state's zone allows (stopping epsilon short
// of a strict lower bound) and returns the amount; 0 when time cannot pass in the state.
double computeStepDelay(SymbolicState* state, System* system, dbm::valuation_t& v, double epsilon);

// Directs the clock operations of an evaluation to a federation of the caller's instead of the
// wrapped state; everything else reaches the wrapped state.
class ProxyState : public StateDecorator
{
public:
    ProxyState(PublicState* state, dbm::fed_t& federation) : StateDecorator(state), federation(federation) {}

    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    void resetClock(uint32_t i, int32_t value) override;
    void copyClock(uint32_t i, uint32_t j) override;

private:
    dbm::fed_t& federation;
};

// Runs a transition's updates without changing the wrapped state and records which clocks they
// assign (their values are not kept): flag i is set for each assigned clock i, and the counter
// counts the clocks flagged.
class ResetRecorder : public SimulatingStateDecorator
{
public:
    ResetRecorder(DiscreteState* state, int32_t* integers, int32_t* meta, uint8_t* flags, int* counter)
        : SimulatingStateDecorator(state, integers, meta), flags(flags), counter(counter)
    {}

    void resetClock(uint32_t i, int32_t value) override;
    void copyClock(uint32_t i, uint32_t j) override;

private:
    void mark(uint32_t i);

    uint8_t* flags;
    int* counter;
};
