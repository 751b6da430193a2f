#include "statespace/liveness_region.h"

#include <deque>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/edge.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/zone_steps.h"
#include "support/object.h"

namespace {

// Gives the state back to the pool (the item no longer holds it) and answers false.
bool reject(Successor* item)
{
    pipeline::dropItem(item);
    return false;
}

bool handOn(pipeline::Sink<Successor>* next, Successor* item)
{
    if (next == nullptr) {
        return reject(item);
    }
    return next->put(item);
}

// For one state, one federation per enabled transition: the valuations from which the transition
// can be taken after letting time pass. Transitions without clock guards come first, so that a
// caller looking for valuations that can take none is done soonest.
class TransitionFederations : public pipeline::CompoundFilter<SymbolicState, dbm::fed_t>
{
public:
    explicit TransitionFederations(FilterConfiguration* registry)
    {
        transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
        successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
        copyStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_COPY));
    }

    void begin() override
    {
        if (transitionStage != nullptr) {
            transitionStage->connect([this](Successor* item) { return collect(item); });
        }
        auto compute = [this](Successor* item) { return federationOf(item); };
        if (successorStage != nullptr) {
            successorStage->connect(compute);
        }
        if (copyStage != nullptr) {
            if (successorStage != nullptr) {
                copyStage->connect(successorStage);
            } else {
                copyStage->connect(compute);
            }
        }
        members.begin();
    }

    // Hands on the federation of every enabled transition of the state, which is neither changed
    // nor taken. False when the receiver asked to stop.
    bool put(SymbolicState* state) override
    {
        transitions.clear();
        stop = false;
        if (transitionStage == nullptr) {
            return true;
        }
        // The enumeration gives its input back to the pool when an evaluation fails, so it works
        // on a copy: the state stays with the caller whatever happens.
        transitionStage->put(state->clone());
        if (transitions.empty()) {
            return true;
        }
        source = state;
        if (copyStage != nullptr) {
            for (EdgeTuple transition : transitions) {
                if (stop) {
                    break;
                }
                Successor item;
                item.state = state;
                item.transition = transition;
                copyStage->put(&item);
            }
            // The end of the state's transitions: the copy stage hands the transition it holds
            // back with this copy.
            Successor end;
            end.state = state->clone();
            end.transition = emptyEdgeTuple();
            copyStage->put(&end);
        } else {
            pipeline::Sink<Successor>* first = successorStage;
            for (EdgeTuple transition : transitions) {
                if (stop) {
                    break;
                }
                Successor item;
                item.state = state->clone();
                item.transition = transition;
                if (first != nullptr) {
                    first->put(&item);
                } else {
                    federationOf(&item);
                }
            }
        }
        source = nullptr;
        return !stop;
    }

private:
    bool collect(Successor* item)
    {
        if (item->transition[0] == nullptr) {
            // The end marker brings back the copy handed to the enumeration.
            pipeline::dropItem(item);
            return true;
        }
        EdgeTuple transition = internEdgeTuple(item->transition);
        bool clockFree = true;
        for (EdgeTuple edge = transition; *edge != nullptr; ++edge) {
            clockFree = clockFree && (*edge)->getClockGuard()->trivial;
        }
        if (clockFree) {
            transitions.push_front(transition);
        } else {
            transitions.push_back(transition);
        }
        return true;
    }

    bool federationOf(Successor* item)
    {
        if (item == nullptr) {
            return true;
        }
        SymbolicState* successor = item->state;
        item->state = nullptr;
        try {
            if (!stop && successor->getSystem()->checkInvariants(successor)) {
                dbm::fed_t& zone = successor->zone;
                zonesteps::stepBack(source, item->transition, zone,
                                    static_cast<Expression*>(item->handle.get()));
                if (!zonesteps::isUrgent(source)) {
                    zonesteps::past(source, zone);
                }
                if (next != nullptr && !next->put(&zone)) {
                    stop = true;
                }
            }
        } catch (...) {
            successor->release();
            throw;
        }
        successor->release();
        return true;
    }

    pipeline::Filter<SymbolicState, Successor>* transitionStage;
    pipeline::Filter<Successor, Successor>* successorStage;
    pipeline::Filter<Successor, Successor>* copyStage;
    std::deque<EdgeTuple> transitions;
    SymbolicState* source = nullptr;
    bool stop = false;
};

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
    helper = addMember(new TransitionFederations(registry));
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
