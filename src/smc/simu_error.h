#pragma once

// The model-sanity reports of the concrete simulation steps. Each report raises the owning
// checker's aborted flag and, when there is a result text, replaces it with a description of the
// state (or of one process in it) and of what went wrong.

#include <iosfwd>
#include <string>

#include "runtime/edge.h"

class ConcreteState;
class System;

// "[ x=2 y=0.5 ]": every clock after the reference clock by name, with 32 significant digits.
void writeClockValuation(std::ostream& os, ConcreteState* state);

class SimuError
{
public:
    // The whole state (process -1) or one process is time-locked.
    void reportTimeLock(ConcreteState* state, int64_t process);
    // The process has two enabled receiving edges on the channel of a sending edge.
    void reportInputDeterminism(ConcreteState* state, int64_t process);
    // A general hybrid guard holds on an edge that does not synchronise on an urgent channel.
    void reportHybridGuard(ConcreteState* state, int64_t process);
    // After the transition the invariant of the process does not hold.
    void reportModelSanity(ConcreteState* state, int64_t process, EdgeTuple transition);

    // The owner's flag, raised by every report.
    bool* aborted = nullptr;
    System* system = nullptr;
    // The result text; may be null.
    std::string* feedback = nullptr;

private:
    // Raises the flag; when there is a text, replaces it with the head, the clocks, the
    // variables, the tail and the edges of the transition (when one is given).
    void report(ConcreteState* state, int64_t process, const char* tail, EdgeTuple transition);
};
