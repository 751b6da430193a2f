#include "statespace/liveness_region.h"

#include "pipeline/deadlock.h"
#include "pipeline/keys.h"
#include "runtime/edge.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/zone_steps.h"
#include "support/exceptions.h"
#include "support/object.h"

namespace {

// Gives the state back to the pool (the item no longer holds it) and answers false.
bool reject(Successor* item)
{
    pipeline::dropItem(item);
    return false;
}

void requireRegion(const ExpressionRef& region)
{
    if (!region) {
        throw Bug("A liveness delay stage received a state before its region");
    }
}

bool handOn(pipeline::Sink<Successor>* next, Successor* item)
{
    if (next == nullptr) {
        return reject(item);
    }
    return next->put(item);
}

}  // namespace

// ---- Restricted delay ---------------------------------------------------------------------------

void RestrictedDelayFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        region = static_cast<Expression*>(value);
        negatedRegion = region ? region->negate() : nullptr;
    }
}

bool RestrictedDelayFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    try {
        requireRegion(region);
        if (region->evaluate(state) == 0) {
            return reject(item);
        }
        if (!zonesteps::isUrgent(state)) {
            state->delay();
            const dbm::fed_t delayed = state->zone;
            dbm::fed_t kept(delayed.getDimension());
            for (const dbm::zone_t& part : delayed) {
                // The part of the delayed zone inside the region, less everything that lies
                // after a valuation outside it: time cannot carry a run across a gap.
                dbm::fed_t inside(delayed.getDimension());
                state->zone.assignZone(part);
                if (region->evaluate(state) != 0) {
                    inside = state->zone;
                }
                state->zone.assignZone(part);
                if (!inside.isEmpty() && negatedRegion->evaluate(state) != 0) {
                    state->zone.up();
                    inside.subtract(state->zone);
                }
                kept.unionWith(inside);
            }
            if (kept.isEmpty()) {
                return reject(item);
            }
            state->zone = kept;
        }
        if (!state->getSystem()->checkInvariants(state)) {
            return reject(item);
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    return handOn(next, item);
}

// ---- Convex delay -------------------------------------------------------------------------------

void ConvexDelayFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        region = static_cast<Expression*>(value);
    }
}

bool ConvexDelayFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    try {
        requireRegion(region);
        if (region->evaluate(state) == 0) {
            return reject(item);
        }
        if (!zonesteps::isUrgent(state)) {
            state->delay();
            // A convex region holds on the delayed zone wherever it held before.
            region->evaluate(state);
        }
        if (!state->getSystem()->checkInvariants(state)) {
            return reject(item);
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    return handOn(next, item);
}

// ---- Deadlock detection -------------------------------------------------------------------------

DeadlockDetector::DeadlockDetector(FilterConfiguration* registry)
{
    helper = addMember(new DeadlockHelper(registry));
}

void DeadlockDetector::begin()
{
    helper->connect([this](dbm::fed_t* enabled) { return subtract(enabled); });
    members.begin();
}

bool DeadlockDetector::subtract(dbm::fed_t* enabled)
{
    candidates.subtract(*enabled);
    return !candidates.isEmpty();
}

bool DeadlockDetector::hasDeadlock(SymbolicState* state)
{
    SymbolicState* probe = state->clone();
    try {
        const bool urgent = zonesteps::isUrgent(probe);
        if (!urgent) {
            probe->delay();
            probe->getSystem()->checkInvariants(probe);
        }
        candidates = state->zone;
        helper->put(probe);
        bool deadlocked = !candidates.isEmpty();
        if (deadlocked) {
            // Valuations that can let time lead out of the zone are not deadlocked.
            probe->zone.subtract(state->zone);
            if (!urgent) {
                zonesteps::past(probe, probe->zone);
            }
            candidates.subtract(probe->zone);
            deadlocked = !candidates.isEmpty();
        }
        candidates.setEmpty();
        probe->release();
        return deadlocked;
    } catch (...) {
        candidates.setEmpty();
        probe->release();
        throw;
    }
}

bool DeadlockDetector::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    if (hasDeadlock(state) && next != nullptr) {
        TracePair pair(state->traceIndex, state->traceIndex);
        next->put(&pair);
    }
    return true;
}

// ---- Unbounded delay ----------------------------------------------------------------------------

bool UnboundednessDetector::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    if (!zonesteps::isUrgent(state) && state->zone.isUnbounded() && next != nullptr) {
        TracePair pair(state->traceIndex, state->traceIndex);
        next->put(&pair);
    }
    return true;
}
