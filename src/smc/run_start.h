#pragma once

// Where every run of a statistical check starts: a fresh copy of the initial state that shares the
// check's table of spawned processes, with every spawnable process absent and the table emptied,
// so that each run spawns from scratch.

#include <cstddef>

#include "runtime/concrete_state.h"

class System;

class RunStart
{
public:
    // Builds the table from the System's spawnable processes: one record per dynamic template,
    // each process at its position in its template's record. Remembers their number.
    void prepare(System* system);
    // A new copy of the initial state (owned by the caller) that borrows the table.
    ConcreteState* startRun(const ConcreteState& initial);
    // True once after the number of spawnable processes of the System changed (the transition
    // step must then size its tables again).
    bool processesChanged();

    SpawnTable table;

private:
    System* system = nullptr;
    size_t instances = 0;
};
