#pragma once

// Stands between a search path that owns its states and the transition enumeration that lists
// the transitions of each state on the path. The plain enumeration follows the pipeline's rule
// and gives its input state back to the pool when an evaluation error leaves it; the path must
// then forget that state, or it would give it back a second time when it is emptied.

#include <functional>
#include <utility>

#include "pipeline/pipeline.h"

class SymbolicState;

class EnumerationGuard : public pipeline::AbstractFilter<SymbolicState, SymbolicState>
{
public:
    explicit EnumerationGuard(std::function<void(SymbolicState*)> disown) : disown(std::move(disown)) {}

    // Whether the enumeration behind gives its input back on an error (set when wiring).
    void setReleasesOnError(bool value) { releasesOnError = value; }

    // Passes the state on and answers as the enumeration does. The state stays with the path:
    // without an enumeration behind, nothing happens (false).
    bool put(SymbolicState* state) override
    {
        if (next == nullptr) {
            return false;
        }
        try {
            return next->put(state);
        } catch (...) {
            if (releasesOnError) {
                disown(state);
            }
            throw;
        }
    }

private:
    std::function<void(SymbolicState*)> disown;
    bool releasesOnError = true;
};
