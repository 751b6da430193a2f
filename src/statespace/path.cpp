#include "statespace/path.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>

#include "dbm/bound.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "pipeline/successor_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/hash.h"

// ---- Path ----------------------------------------------------------------------------------------

Path::Path(const base::RefPtr<Path>& parent, EdgeTuple transition, SymbolicState* state)
    : parent(parent), transition(transition), state(state)
{}

Path::~Path()
{
    if (state != nullptr) {
        state->release();
    }
    extraExpression.release();
    parent.release();
}

void Path::destroy()
{
    Path* step = this;
    while (step != nullptr) {
        Path* up = step->parent.detach();
        delete step;
        if (up != nullptr && up->getRefCount() == 1) {
            // The step just deleted held the last reference: the parent goes too.
            step = up;
        } else {
            if (up != nullptr) {
                up->decRef();
            }
            step = nullptr;
        }
    }
}

Path* Path::linkSteps()
{
    Path* step = this;
    while (step->parent) {
        step->parent->next = step;
        step = step->parent.get();
    }
    return step;
}

namespace {

// Bits of the clocks stopped in a state (two words per 32 clocks), and whether some are.
bool stoppedClocks(System* system, SymbolicState* state, std::vector<uint32_t>& bits)
{
    if (!system->hasStopWatches) {
        return false;
    }
    bits.assign(2 * ((system->getClockCount() + 31) / 32), 0u);
    return system->evaluateClockRates(state, bits.data());
}

bool timeMayPass(SymbolicState* state)
{
    return !state->hasUrgentOrCommittedLocation(-1) && !state->hasEnabledUrgentSync(-1, nullptr);
}

}  // namespace

void Path::stabilise()
{
    std::vector<uint32_t> stopped;
    for (Path* step = this; step->parent; step = step->parent.get()) {
        SymbolicState* previous = step->parent->state;
        System* system = previous->getSystem();
        dbm::fed_t zone = step->state->zone;
        system->stepBack(previous, step->transition, zone, step->extraExpression.get(), -1, nullptr);
        if (timeMayPass(previous)) {
            if (stoppedClocks(system, previous, stopped)) {
                zone.downWithStopped(stopped.data());
            } else {
                zone.down();
            }
        }
        previous->zone.intersectWith(zone);
    }
}

void Path::makeConcrete(dbm::valuation_t& v)
{
    System* system = state->getSystem();
    const size_t clocks = system->getClockCount();
    if (clocks <= 1) {
        return;
    }
    const dbm::valuation_t saved = v;
    std::vector<uint8_t> assigned(std::max(clocks, v.size()), 0);
    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
    double epsilon = 0.5;
    for (int attempt = 0; attempt < 19; ++attempt) {
        try {
            delay = computeStepDelay(state, system, v, epsilon);
            for (Path* step = this; step->parent; step = step->parent.get()) {
                SymbolicState* previous = step->parent->state;
                // Which clocks the transition assigns: those get values from the guarded zone of
                // the step before, the others keep theirs.
                std::fill(assigned.begin(), assigned.end(), 0);
                int count = 0;
                integers.resize(previous->getIntegerArray().size());
                meta.resize(previous->getMetaArray().size());
                ResetRecorder recorder(previous, integers.data(), meta.data(), assigned.data(), &count);
                system->applyUpdates(&recorder, step->transition);
                if (count > 0) {
                    dbm::fed_t guarded = previous->zone;
                    ProxyState proxy(previous, guarded);
                    for (EdgeTuple edge = step->transition; *edge != nullptr; ++edge) {
                        (*edge)->evaluateClockGuard(&proxy);
                    }
                    guarded.getValuation(v, assigned.data());
                }
                step->parent->delay = computeStepDelay(previous, system, v, epsilon);
            }
            return;
        } catch (const std::out_of_range&) {
            v = saved;
            epsilon /= 2;
        }
    }
    throw std::out_of_range("Failed to generate trace");
}

double computeStepDelay(SymbolicState* state, System* system, dbm::valuation_t& v, double epsilon)
{
    if (!timeMayPass(state) || state->zone.isEmpty()) {
        return 0.0;
    }
    std::vector<uint32_t> stopped;
    const bool someStopped = stoppedClocks(system, state, stopped);
    auto considered = [&](size_t i) { return !someStopped || !base::testBit(stopped.data(), static_cast<uint32_t>(i)); };

    const size_t clocks = std::min<size_t>(system->getClockCount(), v.size());
    const dbm::bound_t* matrix = state->zone.begin().matrix();
    double d = std::numeric_limits<double>::infinity();
    bool any = false;
    for (size_t i = 1; i < clocks; ++i) {
        if (!considered(i)) {
            continue;
        }
        any = true;
        // Row 0 holds the bounds on 0 - x_i: -c is the lower bound of clock i.
        const dbm::bound_t lower = matrix[i];
        double di = v[i] + dbm::boundValue(lower);
        if (dbm::isStrict(lower)) {
            di = di <= epsilon ? di / 2 : di - epsilon;
        }
        d = std::min(d, di);
    }
    if (!any) {
        return 0.0;
    }
    for (size_t i = 1; i < clocks; ++i) {
        if (considered(i)) {
            v[i] -= d;
        }
    }
    return d;
}

// ---- Decorators ----------------------------------------------------------------------------------

bool ProxyState::constrain(const dbm::clock_constraint_t* constraints, size_t n)
{
    return federation.constrain(constraints, n);
}

void ProxyState::resetClock(uint32_t i, int32_t value)
{
    federation.updateValue(i, value);
}

void ProxyState::copyClock(uint32_t i, uint32_t j)
{
    federation.updateClock(i, j);
}

void ResetRecorder::mark(uint32_t i)
{
    if (flags[i] == 0) {
        flags[i] = 1;
        ++*counter;
    }
}

void ResetRecorder::resetClock(uint32_t i, int32_t)
{
    mark(i);
}

void ResetRecorder::copyClock(uint32_t i, uint32_t)
{
    mark(i);
}

// ---- Replay --------------------------------------------------------------------------------------

namespace {

// The sink at the end of a replay: turns each successor into one step per zone, children of the
// step being expanded (the front of the work list; none while a generation marker is in front).
struct AppendToWorkList
{
    PathList* work;

    bool operator()(Successor* item) const
    {
        if (item == nullptr) {
            return true;
        }
        SymbolicState* state = item->state;
        item->state = nullptr;
        if (state->zone.isEmpty()) {
            state->release();
            return true;
        }
        const PathRef parent = work->empty() ? PathRef() : work->front();
        const EdgeTuple transition = internEdgeTuple(item->transition);
        auto zone = state->zone.begin();
        for (++zone; zone != state->zone.end(); ++zone) {
            SymbolicState* part = state->cloneDiscrete();
            part->zone.assignZone(*zone);
            work->push_back(PathRef(new Path(parent, transition, part)));
        }
        const dbm::zone_t first = *state->zone.begin();
        state->zone.assignZone(first);
        work->push_back(PathRef(new Path(parent, transition, state)));
        return true;
    }
};

// Drops every candidate whose state another includes; of equal states the earlier stays.
void reduce(PathList& work)
{
    for (auto m = work.begin(); m != work.end();) {
        bool dropped = false;
        for (auto c = std::next(m); c != work.end();) {
            const int relation = (*m)->state->relation((*c)->state);
            if (relation == 1 || relation == 3) {
                c = work.erase(c);
            } else if (relation == 2) {
                m = work.erase(m);
                dropped = true;
                break;
            } else {
                ++c;
            }
        }
        if (!dropped) {
            ++m;
        }
    }
}

}  // namespace

void replayTrace(FilterConfiguration* registry, SymbolicState* initial, Trace& trace, PathList& work,
                 PathList* lastGeneration, PathList* relaxedEnds)
{
    System* system = initial->getSystem();
    // With priorities, or broadcast receivers guarded by clocks, the successors of a transition
    // depend on the other transitions of the state: then they are enumerated and the wanted one
    // picked out. Otherwise the transition goes straight to the successor computation.
    const bool enumerating = system->hasPriorities || system->broadcastClockGuards;

    pipeline::ConnectableCollection stages;
    auto* delay = registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY);
    stages.add(delay);
    auto* successors = registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR);
    stages.add(successors);
    pipeline::Filter<SymbolicState, Successor>* transitions = nullptr;
    pipeline::Filter<Successor, Successor>* copies = nullptr;
    FilterSuccessorByTransition* byTransition = nullptr;
    if (enumerating) {
        copies = registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_COPY);
        if (copies == nullptr) {
            // Every transition needs a state of its own before its successor is computed.
            copies = new LazyCopyFilter;
        }
        stages.add(copies);
        transitions = registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION);
        stages.add(transitions);
        byTransition = new FilterSuccessorByTransition;
        stages.add(byTransition);
    }
    auto* append = new pipeline::FunctionToSinkAdapter<AppendToWorkList, Successor>(AppendToWorkList{&work});
    stages.add(append);
    stages.setProperty(PROPERTY_SYSTEM, system);
    stages.begin();

    if (delay == nullptr || successors == nullptr || (enumerating && transitions == nullptr)) {
        throw Bug("Trace regeneration needs the transition, successor and delay stages");
    }
    if (enumerating) {
        transitions->connect(copies);
        copies->connect(successors);
        successors->connect(byTransition);
        byTransition->connect(delay);
    } else {
        successors->connect(delay);
    }
    delay->connect(append);

    // Puts a state (owned by the stages from now on) through the transition.
    auto expand = [&](SymbolicState* from, EdgeTuple transition) {
        if (enumerating) {
            byTransition->setTransition(transition);
            transitions->put(from);
        } else {
            Successor item;
            item.state = from;
            item.transition = transition;
            successors->put(&item);
            successors->put(nullptr);
        }
    };

    // The first generation: the zones of the delayed initial state, without parents.
    work.clear();
    work.push_back(PathRef());
    {
        Successor item;
        item.state = initial->clone();
        item.transition = emptyEdgeTuple();
        delay->put(&item);
    }
    work.pop_front();
    if (relaxedEnds != nullptr) {
        relaxedEnds->clear();
    }
    trace.begin();
    bool relaxed = false;

    while (!trace.atEnd()) {
        const EdgeTuple transition = trace.current();
        const bool recording = lastGeneration != nullptr && !relaxed;
        if (recording) {
            lastGeneration->clear();
        }
        work.push_back(PathRef());
        while (work.front()) {
            const PathRef step = work.front();
            expand(step->state->clone(), transition);
            if (recording) {
                lastGeneration->push_back(step);
            }
            work.pop_front();
        }
        work.pop_front();
        reduce(work);
        if (!work.empty()) {
            trace.next();
            continue;
        }

        if (lastGeneration == nullptr) {
            std::cout << std::endl;
            throw Bug("Cannot generate the trace");
        }
        if (relaxed) {
            return;
        }
        // The transition cannot be taken from any candidate: try it again from the steps of the
        // last generation with their clock constraints dropped.
        for (const PathRef& step : *lastGeneration) {
            work.push_front(step);
            SymbolicState* unconstrained = step->state->cloneDiscrete();
            unconstrained->zone.setDimension(step->state->zone.getDimension());
            unconstrained->zone.setInit();
            expand(unconstrained, transition);
            work.pop_front();
        }
        relaxed = true;
        reduce(work);
        if (work.empty()) {
            return;
        }
        trace.next();
    }
    if (relaxed && relaxedEnds != nullptr) {
        relaxedEnds->splice(relaxedEnds->begin(), work);
    }
}

PathRef makePath(FilterConfiguration* registry, SymbolicState* initial, base::RefPtr<Trace> trace,
                 const ExpressionRef& goal, PathList* lastGeneration, PathList* relaxedEnds)
{
    PathList work;
    replayTrace(registry, initial, *trace, work, lastGeneration, relaxedEnds);
    trace.release();
    PathRef chosen;
    for (const PathRef& step : work) {
        if (!goal) {
            chosen = step;
            break;
        }
        SymbolicState* copy = step->state->clone();
        int32_t holds = 0;
        try {
            holds = goal->evaluate(copy);
        } catch (...) {
            copy->release();
            throw;
        }
        copy->release();
        if (holds != 0) {
            chosen = step;
            break;
        }
    }
    work.clear();
    return chosen;
}
