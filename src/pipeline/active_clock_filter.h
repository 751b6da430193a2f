#pragma once

// Frees from a successor's zone every clock that cannot matter in the state's current locations,
// so that zones which differ only in such clocks become equal. A clock is active in a location
// when the bounds that matter there (the location's own and the query's) compare it with a
// constant or use it in a difference constraint; in a state, when it is active in the current
// location of some process. The reference clock and the "#tau" clock are always active.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/extrapolation_info.h"
#include "runtime/visitors.h"
#include "support/object.h"

class FilterConfiguration;
class System;

class ActiveClockReductionFilter : public pipeline::AbstractFilter<Successor, Successor>, public ModelVisitor
{
public:
    ~ActiveClockReductionFilter() override;

    // Computes the active clocks of every location (PROPERTY_SYSTEM must have been set).
    void begin() override;
    // PROPERTY_SYSTEM (counted) and PROPERTY_EXPRESSION_INFO (the query's bounds, copied).
    void setProperty(const char* key, void* value) override;
    // Frees the inactive clocks of the item's zone and passes the item on.
    bool put(Successor* item) override;

    // Collects the active clocks of one location (called by the System during begin).
    void visitLocation(Location* location) override;

    // The clocks active in a location, in increasing order.
    const std::vector<uint32_t>& activeIn(const Location* location) const;

protected:
    // Frees every clock active in none of the state's current locations.
    void freeInactiveClocks(SymbolicState* state);

    ExtrapolationInfo queryBounds;
    base::RefPtr<System> system;
    uint32_t clockCount = 0;
    // Indexed by the location's global index.
    std::vector<std::vector<uint32_t>> activeClocks;
    // Scratch of one put: one byte per clock.
    std::vector<uint8_t> active;
};

// A factory of the same shape as the others; no registry name creates this stage by itself.
pipeline::Connectable* makeActiveClockReductionFilter(FilterConfiguration* registry);
