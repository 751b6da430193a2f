#include "pipeline/extrapolation_filter.h"

#include <algorithm>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/globals.h"

namespace {

int32_t constantOf(const ExtrapolationInfo::BoundMap& bounds, uint32_t clock)
{
    auto found = bounds.find(clock);
    return found != bounds.end() ? found->second : dbm::MINUS_INF_VALUE;
}

// The bounds that matter at a location: the query's and the location's own. Local extrapolation
// cannot keep a difference of two clocks, so a model or query that compares clocks is refused.
ExtrapolationInfo boundsAt(const ExtrapolationInfo& query, const Location* location)
{
    ExtrapolationInfo merged;
    merged.merge(query);
    merged.merge(location->getExtrapolationInfo());
    if (!merged.getDifferenceConstraints().empty()) {
        throw RuntimeException("%s", "$Local_extrapolation_is_used_with_diagonal_constraints");
    }
    return merged;
}

// Adds to the zone the part beyond the bounds where no clock is bounded above, when some zone is
// unbounded: what the drift of clocks can reach there.
void enlargeByDrift(dbm::fed_t& zone, const int32_t* bounds)
{
    if (zone.isUnbounded()) {
        zone.unionWithZone(zone.zoneAboveBounds(bounds));
    }
}

int32_t* prepare(std::vector<int32_t>& scratch, uint32_t dimension)
{
    if (scratch.size() < dimension) {
        scratch.resize(dimension);
    }
    std::fill(scratch.begin(), scratch.begin() + dimension, dbm::MINUS_INF_VALUE);
    if (dimension > 0) {
        scratch[0] = 0;
    }
    return scratch.data();
}

}  // namespace

// ---- ExtrapolationFilter -------------------------------------------------------------------------

ExtrapolationFilter::~ExtrapolationFilter() = default;

void ExtrapolationFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_ZUBOR_DRIFT) {
        drift = *static_cast<const uint8_t*>(value) != 0;
    } else {
        ActiveClockReductionFilter::setProperty(key, value);
    }
}

void ExtrapolationFilter::begin()
{
    ActiveClockReductionFilter::begin();
    ExtrapolationInfo info = queryBounds;
    system->accept(info);
    maxBounds.assign(clockCount, dbm::MINUS_INF_VALUE);
    for (uint32_t c = 0; c < clockCount; ++c) {
        maxBounds[c] = std::max(constantOf(info.getLowerBounds(), c), constantOf(info.getUpperBounds(), c));
    }
    diagonals.assign(info.getDifferenceConstraints().begin(), info.getDifferenceConstraints().end());
}

void ExtrapolationFilter::extrapolate(SymbolicState*, dbm::fed_t& zone)
{
    if (zone.getDimension() != maxBounds.size()) {
        throw Bug("Extrapolation of a zone over another set of clocks");
    }
    zone.splitExtrapolateMaxBounds(diagonals.data(), diagonals.data() + diagonals.size(), maxBounds.data());
    if (drift) {
        enlargeByDrift(zone, maxBounds.data());
    }
}

bool ExtrapolationFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    extrapolate(item->state, item->state->zone);
    return ActiveClockReductionFilter::put(item);
}

// ---- LocalExtrapolationFilter --------------------------------------------------------------------

LocalExtrapolationFilter::~LocalExtrapolationFilter() = default;

void LocalExtrapolationFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        clockCount = system != nullptr ? static_cast<uint32_t>(system->getClockCount()) : 0;
    } else if (key == PROPERTY_EXPRESSION_INFO) {
        queryBounds = *static_cast<const ExtrapolationInfo*>(value);
    } else if (key == PROPERTY_ZUBOR_DRIFT) {
        drift = *static_cast<const uint8_t*>(value) != 0;
    }
}

void LocalExtrapolationFilter::begin()
{
    if (system == nullptr) {
        throw Bug("The extrapolation stage needs the System before it begins");
    }
    locationBounds.assign(system->getLocationTable().size(), {});
    scratch.assign(clockCount, 0);
    system->accept(*this);
}

void LocalExtrapolationFilter::visitLocation(Location* location)
{
    const ExtrapolationInfo merged = boundsAt(queryBounds, location);
    std::vector<Bound>& bounds = locationBounds.at(static_cast<size_t>(location->getGlobalIndex()));
    bounds.clear();
    for (uint32_t c = 0; c < clockCount; ++c) {
        const int32_t m = std::max(constantOf(merged.getLowerBounds(), c), constantOf(merged.getUpperBounds(), c));
        if (c == 0 ? m > 0 : m > dbm::MINUS_INF_VALUE) {
            bounds.push_back(Bound{c, m});
        }
    }
}

void LocalExtrapolationFilter::extrapolate(SymbolicState* state, dbm::fed_t& zone)
{
    const uint32_t dimension = zone.getDimension();
    int32_t* max = prepare(scratch, dimension);
    const size_t processes = state->getStaticSlotCount();
    for (size_t p = 0; p < processes; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        for (const Bound& bound : locationBounds[static_cast<size_t>(location->getGlobalIndex())]) {
            if (bound.clock < dimension) {
                max[bound.clock] = std::max(max[bound.clock], bound.constant);
            }
        }
    }
    zone.extrapolateMaxBoundsDiagonal(max);
    if (drift) {
        enlargeByDrift(zone, max);
    }
}

bool LocalExtrapolationFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    extrapolate(item->state, item->state->zone);
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

// ---- LULocalExtrapolationFilter ------------------------------------------------------------------

LULocalExtrapolationFilter::~LULocalExtrapolationFilter() = default;

void LULocalExtrapolationFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        clockCount = system != nullptr ? static_cast<uint32_t>(system->getClockCount()) : 0;
        processCount = system != nullptr ? system->getProcessCount() : 0;
    } else if (key == PROPERTY_EXPRESSION_INFO) {
        queryBounds = *static_cast<const ExtrapolationInfo*>(value);
    } else if (key == PROPERTY_ZUBOR_DRIFT) {
        drift = *static_cast<const uint8_t*>(value) != 0;
    } else if (key == PROPERTY_EXTRAPOLATE_LU) {
        useLowerUpper = *static_cast<const bool*>(value);
    }
}

void LULocalExtrapolationFilter::begin()
{
    if (system == nullptr) {
        throw Bug("The extrapolation stage needs the System before it begins");
    }
    locationBounds.assign(system->getLocationTable().size(), {});
    lowerScratch.assign(clockCount, 0);
    upperScratch.assign(clockCount, 0);
    system->accept(*this);
    if (!useLowerUpper) {
        // One constant per clock, except for "#tau", whose lower and upper constants differ on
        // purpose (it is never bounded above).
        for (std::vector<Bound>& bounds : locationBounds) {
            for (Bound& bound : bounds) {
                if (static_cast<int64_t>(bound.clock) != tauClockNumber) {
                    bound.lower = bound.upper = std::max(bound.lower, bound.upper);
                }
            }
        }
    }
}

void LULocalExtrapolationFilter::visitLocation(Location* location)
{
    const ExtrapolationInfo merged = boundsAt(queryBounds, location);
    std::vector<Bound>& bounds = locationBounds.at(static_cast<size_t>(location->getGlobalIndex()));
    bounds.clear();
    for (uint32_t c = 0; c < clockCount; ++c) {
        const int32_t lower = constantOf(merged.getLowerBounds(), c);
        const int32_t upper = constantOf(merged.getUpperBounds(), c);
        const int32_t m = std::max(lower, upper);
        if (c == 0 ? m > 0 : m > dbm::MINUS_INF_VALUE) {
            bounds.push_back(Bound{c, lower, upper});
        }
    }
}

void LULocalExtrapolationFilter::extrapolate(SymbolicState* state, dbm::fed_t& zone)
{
    const uint32_t dimension = zone.getDimension();
    int32_t* lower = prepare(lowerScratch, dimension);
    int32_t* upper = prepare(upperScratch, dimension);
    const size_t processes = state->getStaticSlotCount();
    for (size_t p = 0; p < processes; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        for (const Bound& bound : locationBounds[static_cast<size_t>(location->getGlobalIndex())]) {
            if (bound.clock < dimension) {
                lower[bound.clock] = std::max(lower[bound.clock], bound.lower);
                upper[bound.clock] = std::max(upper[bound.clock], bound.upper);
            }
        }
    }
    zone.extrapolateLUBoundsDiagonal(lower, upper);
    if (drift) {
        enlargeByDrift(zone, upper);
    }
}

bool LULocalExtrapolationFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    extrapolate(item->state, item->state->zone);
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

// ---- Factories and the choice of extrapolation ---------------------------------------------------

pipeline::Connectable* makeExtrapolationFilter(FilterConfiguration*)
{
    return new ExtrapolationFilter;
}

pipeline::Connectable* makeLocalExtrapolationFilter(FilterConfiguration*)
{
    return new LocalExtrapolationFilter;
}

pipeline::Connectable* makeLULocalExtrapolationFilter(FilterConfiguration*)
{
    return new LULocalExtrapolationFilter;
}

void selectExtrapolation(FilterConfiguration& registry, int kind)
{
    switch (kind) {
    case 0:
        throw Bug("Unreachable");
    case 1:
        registry.remove(FILTER_EXTRAPOLATION);
        break;
    case 2:
        registry.alias(FILTER_EXTRAPOLATION, FILTER_DIFFERENCE_EXTRAPOLATION);
        break;
    case 3:
        registry.alias(FILTER_EXTRAPOLATION,
                       tauClockNumber == -1 ? FILTER_LOCAL_EXTRAPOLATION : FILTER_LU_LOCAL_EXTRAPOLATION);
        break;
    case 4:
        registry.alias(FILTER_EXTRAPOLATION, FILTER_LU_LOCAL_EXTRAPOLATION);
        break;
    default:
        break;
    }
    registry.alias(FILTER_GOXA_EXTRAPOLATION, FILTER_EXTRAPOLATION);
}
