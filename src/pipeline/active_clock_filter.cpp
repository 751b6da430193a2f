#include "pipeline/active_clock_filter.h"

#include <algorithm>

#include "dbm/bound.h"
#include "pipeline/keys.h"
#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/globals.h"

namespace {

// The larger of a clock's two constants; an absent one counts as minus infinity.
int32_t largestConstant(const ExtrapolationInfo& info, uint32_t clock)
{
    int32_t m = dbm::MINUS_INF_VALUE;
    auto lower = info.getLowerBounds().find(clock);
    if (lower != info.getLowerBounds().end()) {
        m = std::max(m, lower->second);
    }
    auto upper = info.getUpperBounds().find(clock);
    if (upper != info.getUpperBounds().end()) {
        m = std::max(m, upper->second);
    }
    return m;
}

}  // namespace

ActiveClockReductionFilter::~ActiveClockReductionFilter() = default;

void ActiveClockReductionFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        clockCount = system != nullptr ? static_cast<uint32_t>(system->getClockCount()) : 0;
    } else if (key == PROPERTY_EXPRESSION_INFO) {
        queryBounds = *static_cast<const ExtrapolationInfo*>(value);
    }
}

void ActiveClockReductionFilter::begin()
{
    if (system == nullptr) {
        throw Bug("The active-clock stage needs the System before it begins");
    }
    activeClocks.assign(system->getLocationTable().size(), {});
    active.assign(clockCount, 0);
    system->accept(*this);
}

void ActiveClockReductionFilter::visitLocation(Location* location)
{
    ExtrapolationInfo merged;
    merged.merge(queryBounds);
    merged.merge(location->getExtrapolationInfo());
    std::vector<uint32_t>& clocks = activeClocks.at(static_cast<size_t>(location->getGlobalIndex()));
    clocks.clear();
    for (uint32_t c = 1; c < clockCount; ++c) {
        if (largestConstant(merged, c) > dbm::MINUS_INF_VALUE) {
            clocks.push_back(c);
        }
    }
    for (const dbm::clock_constraint_t& difference : merged.getDifferenceConstraints()) {
        clocks.push_back(difference.i);
        clocks.push_back(difference.j);
    }
    std::sort(clocks.begin(), clocks.end());
    clocks.erase(std::unique(clocks.begin(), clocks.end()), clocks.end());
}

const std::vector<uint32_t>& ActiveClockReductionFilter::activeIn(const Location* location) const
{
    return activeClocks.at(static_cast<size_t>(location->getGlobalIndex()));
}

void ActiveClockReductionFilter::freeInactiveClocks(SymbolicState* state)
{
    const uint32_t dimension = state->zone.getDimension();
    if (active.size() < dimension) {
        active.resize(dimension);
    }
    std::fill(active.begin(), active.begin() + dimension, 0);
    active[0] = 1;
    if (tauClockNumber >= 0 && static_cast<uint32_t>(tauClockNumber) < dimension) {
        active[static_cast<size_t>(tauClockNumber)] = 1;
    }
    const size_t processes = state->getStaticSlotCount();
    for (size_t p = 0; p < processes; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        for (uint32_t c : activeClocks[static_cast<size_t>(location->getGlobalIndex())]) {
            if (c < dimension) {
                active[c] = 1;
            }
        }
    }
    const uint32_t last = std::min(clockCount, dimension);
    for (uint32_t c = 1; c < last; ++c) {
        if (active[c] == 0) {
            state->zone.freeClock(c);
        }
    }
}

bool ActiveClockReductionFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    freeInactiveClocks(item->state);
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

pipeline::Connectable* makeActiveClockReductionFilter(FilterConfiguration*)
{
    return new ActiveClockReductionFilter;
}
