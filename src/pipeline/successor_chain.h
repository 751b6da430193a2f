#pragma once

// What the stages between the waiting list and the passed-waiting list share: the test for the
// end marker and the registration of their factories with the filter registry.

#include "runtime/edge.h"

// True for the empty tuple (the end marker), whichever array holds it.
inline bool isEmptyTransition(EdgeTuple transition)
{
    return transition[0] == nullptr;
}

// Registers the factories of the transition, copy, priority, successor, delay, query,
// canonisation, expansion and extrapolation stages under their built-in names.
void registerSuccessorChainFilters();
