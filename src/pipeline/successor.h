#pragma once

#include "support/object.h"

class Edge;
class SymbolicState;

// The item of almost every symbolic pipeline: a state reached by a transition.
//
// The record itself is always a local of the stage that makes it; no stage keeps a pointer to it
// beyond the call. The state belongs to whichever stage the item was put into: that stage passes
// it on with the item, keeps it, or gives it back to the pool when it drops the item.
struct Successor
{
    // The successor state.
    SymbolicState* state = nullptr;
    // The edges taken, one per moving process, ended by a null pointer. A kept transition must be
    // the interned copy; the transition stage's own buffer is valid only during the call. The
    // shared empty array marks the end of a source state's transitions and is the transition of
    // the initial state; null for a state that re-enters a pipeline without a transition.
    Edge* const* transition = nullptr;
    // An extra condition on the state (a constraint expression) set where higher-priority clock
    // guards cut the zone; empty otherwise. Released by the creator when the record goes.
    base::RefPtr<base::Object> handle;
};
