#pragma once

// The item the delay step hands to the transition step: the state after the delay and the
// process that is to act in it.

#include <cstdint>

class ConcreteState;

struct ConcreteSuccessor
{
    // The state after the delay: the very state that was put into the delay step.
    ConcreteState* state = nullptr;
    // Process slot that is to act; -1 when none was chosen.
    int64_t process = -1;
    // The process was chosen among those that cannot let time pass (urgent or committed
    // situation, an invariant limit reached), not by winning the race of delays.
    bool forced = false;
    // The state as it was before the step, for stages that observe what changed during the
    // delay; null unless the delay step was asked to keep it.
    ConcreteState* before = nullptr;
};
