#pragma once

#include "support/object.h"

class SymbolicState;

// A stored state handed out by a passed-waiting list to the exploration loop: the loop loads it
// into a state of its own and then finishes it.
class SymbolicStateReference : public base::Object
{
public:
    // Writes the referenced stored state (discrete part, zone, marks) into the given state.
    virtual void load(SymbolicState* state) = 0;
    // Ends the use of the reference: with drop set the stored state is forgotten, otherwise it
    // stays stored as explored.
    virtual void finish(bool drop) = 0;
};
