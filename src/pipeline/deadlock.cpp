#include "pipeline/deadlock.h"

#include <string>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

// ---- DeadlockHelper ------------------------------------------------------------------------------

DeadlockHelper::DeadlockHelper(FilterConfiguration* registry) : registry(registry)
{
    transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    copyStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_COPY));

    if (transitionStage != nullptr) {
        transitionStage->connect([this](Successor* item) { return collect(item); });
    }
    auto computing = [this](Successor* item) { return compute(item); };
    if (successorStage != nullptr) {
        successorStage->connect(computing);
        if (copyStage != nullptr) {
            copyStage->connect(successorStage);
        }
    } else if (copyStage != nullptr) {
        copyStage->connect(computing);
    }
}

DeadlockHelper::~DeadlockHelper() = default;

void DeadlockHelper::setProperty(const char* key, void* value)
{
    members.setProperty(key, value);
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        stoppedClocks.assign(system ? 2 * ((system->getClockCount() + 31) / 32) : 0, 0u);
    }
}

bool DeadlockHelper::collect(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    if (isEmptyTransition(item->transition)) {
        // The end marker brings the copy of the state that was put into the transition stage.
        pipeline::dropItem(item);
        return true;
    }
    EdgeTuple transition = internEdgeTuple(item->transition);
    bool clockFree = true;
    for (EdgeTuple edge = transition; *edge != nullptr; ++edge) {
        if (!(*edge)->getClockGuard()->trivial) {
            clockFree = false;
            break;
        }
    }
    (clockFree ? unguarded : guarded).push_back(transition);
    return true;
}

bool DeadlockHelper::compute(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* target = item->state;
    try {
        if (!system->checkInvariants(target)) {
            pipeline::dropItem(item);
            return true;
        }
        auto* condition = static_cast<Expression*>(item->handle.get());
        system->stepBack(source, item->transition, target->zone, condition, -1, nullptr);
        if (!source->hasUrgentOrCommittedLocation(-1) && !source->hasEnabledUrgentSync(-1, nullptr)) {
            if (system->hasStopWatches && system->evaluateClockRates(source, stoppedClocks.data())) {
                target->zone.downWithStopped(stoppedClocks.data());
            } else {
                target->zone.down();
            }
        }
        if (next != nullptr && !next->put(&target->zone)) {
            stop = true;
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    pipeline::dropItem(item);
    return true;
}

bool DeadlockHelper::put(SymbolicState* state)
{
    if (transitionStage == nullptr || system == nullptr) {
        throw Bug("DeadlockHelper used without a transition stage or a System");
    }
    unguarded.clear();
    guarded.clear();
    // The transition stage takes the state it is given (it hands it on with its end marker, or
    // gives it back on failure), so it gets a copy: the caller's state stays untouched.
    transitionStage->put(state->clone());
    stop = false;
    if (unguarded.empty() && guarded.empty()) {
        return true;
    }

    source = state;
    // Transitions without clock guards first: they are the likeliest to cover the whole zone, so
    // the deadlock test can stop early.
    auto handOn = [this, state](EdgeTuple transition) {
        Successor item;
        item.state = state;
        item.transition = transition;
        if (copyStage != nullptr) {
            copyStage->put(&item);
        } else {
            // Without a copy stage every transition gets its own copy here.
            item.state = state->clone();
            if (successorStage != nullptr) {
                successorStage->put(&item);
            } else {
                compute(&item);
            }
        }
    };
    try {
        for (auto t = unguarded.rbegin(); t != unguarded.rend() && !stop; ++t) {
            handOn(*t);
        }
        for (auto t = guarded.begin(); t != guarded.end() && !stop; ++t) {
            handOn(*t);
        }
        if (copyStage != nullptr) {
            // The end marker brings the state for the transition the copy stage still holds.
            Successor end;
            end.state = state->clone();
            end.transition = emptyEdgeTuple();
            copyStage->put(&end);
        }
    } catch (...) {
        source = nullptr;
        throw;
    }
    source = nullptr;
    return !stop;
}

// ---- DeadlockPredicate ---------------------------------------------------------------------------

DeadlockPredicate::DeadlockPredicate(FilterConfiguration* registry, System* system, uint32_t dimension)
    : registry(registry), helper(new DeadlockHelper(registry)), system(system), accumulator(dimension)
{
    components.add(helper);
    helper->connect([this](dbm::fed_t* federation) { return accumulate(federation); });
    components.setProperty(PROPERTY_SYSTEM, system);
    components.begin();
}

DeadlockPredicate::~DeadlockPredicate()
{
    components.end();
}

void DeadlockPredicate::normalise() const
{
    throw Bug(std::string(name) + "::normalise() is not implemented");
}

SymbolicState* DeadlockPredicate::symbolicStateOf(PublicState* state) const
{
    SymbolicState* symbolic = state != nullptr ? state->getSymbolicState() : nullptr;
    if (symbolic == nullptr) {
        throw CannotEvaluateExpression("deadlock can only be evaluated on symbolic states", ZOLT::span_t());
    }
    return symbolic;
}

// ---- DeadlockExpr --------------------------------------------------------------------------------

DeadlockExpr::DeadlockExpr(FilterConfiguration* registry, System* system) : DeadlockPredicate(registry, system, 1)
{
    name = "DeadlockExpr";
}

void DeadlockExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitDeadlock(this);
}

ExpressionRef DeadlockExpr::negate()
{
    return ExpressionRef(new NotDeadlockExpr(registry.get(), system.get()));
}

bool DeadlockExpr::accumulate(dbm::fed_t* federation)
{
    accumulator.subtract(*federation);
    return !accumulator.isEmpty();
}

int32_t DeadlockExpr::evaluate(PublicState* state)
{
    SymbolicState* symbolic = symbolicStateOf(state);
    accumulator = symbolic->zone;
    try {
        helper->put(symbolic);
    } catch (...) {
        accumulator = dbm::fed_t(1);
        throw;
    }
    symbolic->zone = accumulator;
    accumulator = dbm::fed_t(1);
    return symbolic->zone.isEmpty() ? 0 : 1;
}

// ---- NotDeadlockExpr -----------------------------------------------------------------------------

NotDeadlockExpr::NotDeadlockExpr(FilterConfiguration* registry, System* system)
    : DeadlockPredicate(registry, system, static_cast<uint32_t>(system->getClockCount()))
{
    name = "NotDeadlockExpr";
}

void NotDeadlockExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitNotDeadlock(this);
}

ExpressionRef NotDeadlockExpr::negate()
{
    return ExpressionRef(new DeadlockExpr(registry.get(), system.get()));
}

bool NotDeadlockExpr::accumulate(dbm::fed_t* federation)
{
    accumulator.unionWith(*federation);
    return true;
}

int32_t NotDeadlockExpr::evaluate(PublicState* state)
{
    SymbolicState* symbolic = symbolicStateOf(state);
    // The accumulator takes the dimension of the zones it collects (a clock may have been added
    // to the System since the predicate was made).
    accumulator.setDimension(symbolic->zone.getDimension());
    try {
        helper->put(symbolic);
    } catch (...) {
        accumulator.setEmpty();
        throw;
    }
    symbolic->zone.intersectWith(accumulator);
    accumulator.setEmpty();
    return symbolic->zone.isEmpty() ? 0 : 1;
}
