#pragma once

// Zone steps shared by the searches for infinite runs (liveness, deadlock detection, robust
// reachability): whether time may pass in a state, the past of a zone in a state, and the step
// back through a transition.

#include "dbm/fed.h"
#include "runtime/edge.h"

class Expression;
class SymbolicState;

namespace zonesteps {

// Time stands still in the state: some process is in an urgent or committed location, or a
// synchronisation on an urgent channel is enabled.
bool isUrgent(SymbolicState* state);

// Replaces the zone by its past in the locations of the state, holding the clocks that are
// stopped there when the model declares clock rates.
void past(SymbolicState* state, dbm::fed_t& zone);

// Shrinks `zone`, a zone reached by the transition from the discrete part of `source`, to the
// valuations of the source from which the transition leads into it: the source's invariants, the
// condition (may be null) and the clock guards hold there, and the clock resets are undone. The
// condition may be any constraint, a disjunction included; it is applied on a state of the
// source's discrete part.
void stepBack(SymbolicState* source, EdgeTuple transition, dbm::fed_t& zone, Expression* condition);

}  // namespace zonesteps
