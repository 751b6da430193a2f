#include "statespace/liveness_checker.h"

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/liveness_transition_filter.h"
#include "runtime/expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/enumeration_guard.h"
#include "statespace/passed_list.h"
#include "statespace/waiting_stack.h"
#include "statespace/zone_steps.h"
#include "support/exceptions.h"

// ---- Search path --------------------------------------------------------------------------------

DFSStack::DFSStack(PassedList* passedList) : passedList(passedList) {}

DFSStack::~DFSStack()
{
    clear();
}

SymbolicState* DFSStack::topState() const
{
    return path.empty() ? nullptr : path.top()->state;
}

bool DFSStack::closesLoop(SearchPath::Entry* entry, Successor* item)
{
    SymbolicState* state = item->state;
    const dbm::fed_t& entryZone = entry->state->zone;
    if (entryZone.isSubsetEq(state->zone)) {
        return true;
    }
    dbm::fed_t common = state->zone;
    common.intersectWith(entryZone);
    if (common.isEmpty()) {
        return false;
    }

    // The cycle backwards from the new state: each node's zone is what of its state's zone can
    // lead, through the nodes after it, into the common part.
    cycle.clear();
    cycle.push_back(CycleNode{state, common, item->transition, static_cast<Expression*>(item->handle.get())});
    for (SearchPath::Entry* step = path.top(); step != entry; step = step->below) {
        const CycleNode& last = cycle.back();
        dbm::fed_t zone = last.zone;
        if (!zonesteps::isUrgent(last.state)) {
            zonesteps::past(last.state, zone);
        }
        zonesteps::stepBack(step->state, last.transition, zone, last.condition);
        zone.intersectWith(step->state->zone);
        cycle.push_back(CycleNode{step->state, std::move(zone), step->transition,
                                  static_cast<Expression*>(step->handle.get())});
    }

    // Around the cycle until a node's zone is reproduced by a full turn (the loop can be repeated)
    // or shrinks to nothing.
    const size_t n = cycle.size();
    for (size_t k = 0;; k = (k + 1) % n) {
        const CycleNode& previous = cycle[(k + n - 1) % n];
        CycleNode& current = cycle[k];
        dbm::fed_t zone = previous.zone;
        if (!zonesteps::isUrgent(previous.state)) {
            zonesteps::past(previous.state, zone);
        }
        zonesteps::stepBack(current.state, previous.transition, zone, previous.condition);
        if (current.zone.isSubsetEq(zone)) {
            return true;
        }
        current.zone.intersectWith(zone);
        if (current.zone.isEmpty()) {
            return false;
        }
    }
}

bool DFSStack::put(Successor* item)
{
    if (item->transition == nullptr) {
        item->transition = emptyEdgeTuple();
    }
    SymbolicState* state = item->state;
    const uint32_t hash = SearchPath::hashOf(state);
    try {
        for (SearchPath::Entry* entry = path.newestWithHash(hash); entry != nullptr; entry = entry->olderWithHash) {
            if (entry->state == nullptr || !state->equalDiscrete(entry->state) ||
                !state->zone.intersects(entry->state->zone) || !closesLoop(entry, item)) {
                continue;
            }
            cycle.clear();
            keptAside.push_back(state);
            loopReported = true;
            if (next != nullptr) {
                TracePair pair(entry->state->traceIndex, state->traceIndex);
                next->put(&pair);
            }
            return true;
        }
        cycle.clear();
        path.push(hash, state, internEdgeTuple(item->transition), item->handle);
    } catch (...) {
        cycle.clear();
        pipeline::dropItem(item);
        throw;
    }
    return true;
}

void DFSStack::pop()
{
    SymbolicState* state = path.popTop();
    if (state == nullptr) {
        return;
    }
    try {
        passedList->add(state);
    } catch (...) {
        state->release();
        throw;
    }
    state->release();
}

void DFSStack::releaseKeptAside()
{
    for (SymbolicState* state : keptAside) {
        if (state != nullptr) {
            state->release();
        }
    }
    keptAside.clear();
    loopReported = false;
}

void DFSStack::popAll()
{
    while (!path.empty()) {
        pop();
    }
    releaseKeptAside();
}

void DFSStack::clear()
{
    path.clear();
    releaseKeptAside();
}

void DFSStack::disown(SymbolicState* state)
{
    if (path.disown(state)) {
        return;
    }
    for (SymbolicState*& kept : keptAside) {
        if (kept == state) {
            kept = nullptr;
            return;
        }
    }
}

// ---- Checker ------------------------------------------------------------------------------------

LivenessChecker::LivenessChecker(FilterConfiguration* registry)
{
    passedList = addMember(registry->getAs<PassedList>(FILTER_PASSED_LIST));
    successorFilter = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR_LIVENESS));
    traceStoreFilter = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_TRACESTORE));
    extrapolationFilter = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    transitionFilter =
        addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION_LIVENESS));
    successorToState = addMember(new SuccessorToSymbolicStateFilter);
    waitingStack = addMember(new WaitingStack);
    restrictedDelay = addMember(new RestrictedDelayFilter);
    convexDelay = addMember(new ConvexDelayFilter);
    dfsStack = addMember(new DFSStack(passedList));
    deadlockDetector = addMember(new DeadlockDetector(registry));
    unboundednessDetector = addMember(new UnboundednessDetector);
    fanOut = addMember(new pipeline::While<Successor>);
    progressFilter = addMember(new JobProgressFilter<Successor>);
    DFSStack* path = dfsStack;
    enumerationGuard = addMember(new EnumerationGuard([path](SymbolicState* state) { path->disown(state); }));
}

void LivenessChecker::setProperty(const char* key, void* value)
{
    members.setProperty(key, value);
    if (key == PROPERTY_STOP) {
        stopped = true;
    } else if (key == PROPERTY_EXPRESSION) {
        const Expression* region = static_cast<const Expression*>(value);
        if (region == nullptr) {
            delayFilter = nullptr;
        } else if (region->convex) {
            delayFilter = convexDelay;
        } else {
            delayFilter = restrictedDelay;
        }
    } else if (key == PROPERTY_TRACESTORE) {
        hasTraceStore = value != nullptr;
    } else if (key == PROPERTY_SILENT) {
        silent = value != nullptr && *static_cast<const bool*>(value);
    }
}

void LivenessChecker::begin()
{
    if (passedList == nullptr || successorFilter == nullptr || transitionFilter == nullptr) {
        throw Bug("The liveness checker needs a passed list, a successor stage and a transition stage");
    }
    if (delayFilter == nullptr) {
        throw Bug("The liveness checker needs its region before it begins");
    }
    // A stop is forgotten when a search begins, so that one arriving before its first state counts.
    stopped = false;
    head = silent ? static_cast<pipeline::Sink<Successor>*>(successorFilter) : progressFilter;
    progressFilter->connect(successorFilter);
    pipeline::Generator<Successor>* last = successorFilter;
    if (hasTraceStore && traceStoreFilter != nullptr) {
        last->connect(traceStoreFilter);
        last = traceStoreFilter;
    }
    last->connect(delayFilter);
    last = delayFilter;
    if (extrapolationFilter != nullptr) {
        last->connect(extrapolationFilter);
        last = extrapolationFilter;
    }
    last->connect(fanOut);

    // The fan-out keeps the sinks it is given, so they are given once.
    if (!fanOutWired) {
        fanOut->connect(passedList);
        fanOut->connect(deadlockDetector);
        fanOut->connect(unboundednessDetector);
        fanOut->connect(successorToState);
        fanOutWired = true;
    }
    passedList->connect(dfsStack);
    dfsStack->connect(next);
    successorToState->connect(enumerationGuard);
    auto* guard = static_cast<EnumerationGuard*>(enumerationGuard);
    // The liveness transition stage works on copies and never gives the path's state back.
    guard->setReleasesOnError(dynamic_cast<SpecialLivenessTransitionFilter*>(transitionFilter) == nullptr);
    guard->connect(transitionFilter);
    transitionFilter->connect(waitingStack);
    unboundednessDetector->connect(next);
    deadlockDetector->connect(next);

    members.begin();
}

bool LivenessChecker::put(Successor* item)
{
    // The initial state enters behind the successor computation and the trace recording.
    delayFilter->put(item);

    Successor current;
    current.transition = emptyEdgeTuple();
    for (;;) {
        // A loop report ends the search even if the sink did not ask for it: the state that
        // closed the loop is not on the path, so its waiting transitions could not be taken.
        if (stopped || dfsStack->hasReportedLoop()) {
            dfsStack->clear();
            waitingStack->clear();
            break;
        }
        if (!waitingStack->get(&current)) {
            dfsStack->popAll();
            break;
        }
        // Back to the state the transition leaves from; everything above it is explored.
        while (!dfsStack->empty() && dfsStack->topState() != current.state) {
            dfsStack->pop();
        }
        current.state = current.state->clone();
        head->put(&current);
    }
    current.handle.release();
    // The stop ended this search; a later one from the same checker runs.
    stopped = false;
    return true;
}

void LivenessChecker::end()
{
    dfsStack->clear();
    waitingStack->clear();
    if (passedList != nullptr) {
        passedList->clear();
    }
}

LivenessChecker* makeLivenessChecker(FilterConfiguration* registry)
{
    return new LivenessChecker(registry);
}
