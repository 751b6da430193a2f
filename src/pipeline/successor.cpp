#include "pipeline/successor.h"

#include "pipeline/pipeline.h"
#include "runtime/symbolic_state.h"

namespace pipeline {

void dropItem(SymbolicState* state)
{
    if (state != nullptr) {
        state->release();
    }
}

void dropItem(Successor* successor)
{
    if (successor != nullptr && successor->state != nullptr) {
        SymbolicState* state = successor->state;
        successor->state = nullptr;
        state->release();
    }
}

}  // namespace pipeline
