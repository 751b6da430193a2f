#pragma once

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "statespace/trace.h"

class FilterConfiguration;

// Records in the trace store, for every successor that the rest of the chain accepts, the
// transition that reached it under the record of the state it came from. Every successor state
// starts as a copy of its source state, trace index included, so the state's trace index names
// the parent record when the successor arrives; it names the new record when it leaves.
//
// The pipeline is synchronous: when the downstream stage answers, the record made for the item is
// still the last one, and a refused item takes its record away again.
class TraceStoreFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_TRACESTORE: the store (counted; null lets go of it). Other keys are ignored.
    void setProperty(const char* key, void* value) override;

    // Without a store the item is passed on unrecorded; a null item is passed on as it is.
    bool put(Successor* item) override;

private:
    base::RefPtr<TraceStore> store;
};

// Factory of the registry entry "tracestore-filter".
pipeline::Connectable* makeTraceStoreFilter(FilterConfiguration* registry);

// Registers the built-in stages of this library with the filter registry.
void registerStatespaceFilters();
