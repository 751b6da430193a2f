#include "statespace/trace_store_filter.h"

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/symbolic_state.h"

void TraceStoreFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_TRACESTORE) {
        store = static_cast<TraceStore*>(value);
    }
}

bool TraceStoreFilter::put(Successor* item)
{
    if (item == nullptr || item->state == nullptr || !store) {
        if (next == nullptr) {
            pipeline::dropItem(item);
            return false;
        }
        return next->put(item);
    }
    SymbolicState* state = item->state;
    state->traceIndex = store->put(item->transition, state->traceIndex);
    bool accepted = false;
    if (next != nullptr) {
        accepted = next->put(item);
    } else {
        pipeline::dropItem(item);
    }
    if (!accepted) {
        store->pop();
    }
    return accepted;
}

pipeline::Connectable* makeTraceStoreFilter(FilterConfiguration*)
{
    return new TraceStoreFilter;
}

void registerStatespaceFilters()
{
    registerBuiltinFilter(FILTER_TRACESTORE, makeTraceStoreFilter);
}
