#include "pipeline/successor_filter.h"

#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

void SuccessorFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SPACEOPT) {
        spaceOptimisation = *static_cast<const int*>(value);
    } else if (key == PROPERTY_RECORD_SOURCE) {
        recordSource = static_cast<SymbolicState*>(value);
    }
}

bool SuccessorFilter::applyClockGuards(Successor* item)
{
    SymbolicState* state = item->state;
    try {
        for (EdgeTuple edge = item->transition; *edge != nullptr; ++edge) {
            if (!(*edge)->evaluateClockGuard(state)) {
                item->state = nullptr;
                state->release();
                return false;
            }
        }
    } catch (...) {
        item->state = nullptr;
        state->release();
        throw;
    }
    return true;
}

int32_t SuccessorFilter::storeMark(SymbolicState* state, EdgeTuple transition) const
{
    switch (spaceOptimisation) {
    case 0:
        return 1;
    case 1:
        if (!state->hasCommittedLocation(-1)) {
            return 1;
        }
        break;
    default:
        break;
    }
    // Aggressive (and extreme, which cannot forget more and still end): a state is stored only
    // when the transition moved some process into a location that closes a cycle, so that every
    // cycle keeps at least one stored state and the search ends.
    return state->avoidsLoopEntries(transition) ? 0 : 1;
}

bool SuccessorFilter::complete(Successor* item)
{
    SymbolicState* state = item->state;
    EdgeTuple transition = item->transition;
    try {
        if (recordSource != nullptr) {
            state->copyDiscreteTo(recordSource);
            recordSource->zone = state->zone;
        }
        for (EdgeTuple edge = transition; *edge != nullptr; ++edge) {
            state->setLocation(static_cast<uint32_t>((*edge)->getProcess()->getNumber()), (*edge)->target);
        }
        state->getSystem()->applyUpdates(state, transition);
        state->storeMark = storeMark(state, transition);
    } catch (...) {
        item->state = nullptr;
        state->release();
        throw;
    }
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

bool SuccessorFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    if (item->transition == nullptr) {
        // A state without a transition is computed as over the empty one.
        item->transition = emptyEdgeTuple();
    }
    if (!applyClockGuards(item)) {
        return false;
    }
    return complete(item);
}

bool BlockingSuccessorFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    if (item->handle) {
        SymbolicState* state = item->state;
        int32_t holds;
        try {
            holds = static_cast<Expression*>(item->handle.get())->evaluate(state);
        } catch (...) {
            item->state = nullptr;
            state->release();
            throw;
        }
        if (holds == 0) {
            // Nothing of the zone may take the transition: the item is dropped like any other.
            item->state = nullptr;
            state->release();
            return false;
        }
    }
    return SuccessorFilter::put(item);
}

FilterSuccessorByTransition::FilterSuccessorByTransition() = default;

bool FilterSuccessorByTransition::put(Successor* item)
{
    if (item == nullptr) {
        return false;
    }
    const EdgeTuple wanted = transition != nullptr ? transition : emptyEdgeTuple();
    if (item->transition == nullptr || !edgeTupleEquals(item->transition, wanted)) {
        pipeline::dropItem(item);
        return false;
    }
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

pipeline::Connectable* makeSuccessorFilter(FilterConfiguration*)
{
    return new SuccessorFilter;
}

pipeline::Connectable* makeBlockingSuccessorFilter(FilterConfiguration*)
{
    return new BlockingSuccessorFilter;
}
