#pragma once

// Lets time pass in a freshly computed successor and restricts it to the invariants of its
// locations. Time stands still while a process is in an urgent or committed location or a
// synchronisation on an urgent channel is enabled; then only the invariants are applied.

#include <cstdint>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"

class FilterConfiguration;

class DelayFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // PROPERTY_ACTIVEPROC: one byte per process slot, non-zero for the processes that take part
    // (kept, not owned; null, the default, means every process).
    void setProperty(const char* key, void* value) override;

    // Delays the item's state in place unless urgency forbids it, applies the invariants and
    // hands the item on; a state outside some invariant goes back to the pool and the answer is
    // false. A null item (the end of a source state's successors) is answered with true.
    bool put(Successor* item) override;

private:
    const uint8_t* activeProcesses = nullptr;
};

// Factory of the registry entry "delay-filter".
pipeline::Connectable* makeDelayFilter(FilterConfiguration* registry);
