#include "pipeline/delay_filter.h"

#include "pipeline/keys.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

void DelayFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_ACTIVEPROC) {
        activeProcesses = static_cast<const uint8_t*>(value);
    }
}

bool DelayFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    try {
        if (!state->hasUrgentOrCommittedLocation(activeProcesses) &&
            !state->hasEnabledUrgentSync(-1, activeProcesses)) {
            state->delay();
        }
        if (!state->getSystem()->checkInvariants(state, activeProcesses)) {
            item->state = nullptr;
            state->release();
            return false;
        }
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

pipeline::Connectable* makeDelayFilter(FilterConfiguration*)
{
    return new DelayFilter;
}
