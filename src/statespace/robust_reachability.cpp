#include "statespace/robust_reachability.h"

#include <utility>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/expression.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/enumeration_guard.h"
#include "statespace/passed_list.h"
#include "statespace/zone_steps.h"
#include "support/exceptions.h"
#include "support/hash.h"

// ---- Waiting stacks -----------------------------------------------------------------------------

RWaitingStack::~RWaitingStack()
{
    clear();
}

bool RWaitingStack::put(Successor* item)
{
    if (item->transition != nullptr && item->transition[0] != nullptr) {
        RSuccessor entry;
        entry.state = item->state;
        entry.transition = internEdgeTuple(item->transition);
        entry.revisitBound = currentBound;
        batch.push_back(std::move(entry));
        return true;
    }
    const uint64_t count = batch.size();
    for (RSuccessor& entry : batch) {
        entry.siblingCount = count;
        entry.sourceRevisited = currentRevisit;
        stack.push_back(std::move(entry));
    }
    batch.clear();
    currentBound = 1;
    currentRevisit = false;
    return true;
}

bool RWaitingStack::get(RSuccessor* item)
{
    if (stack.empty()) {
        return false;
    }
    RSuccessor& top = stack.back();
    item->state = top.state;
    item->transition = top.transition;
    item->handle = std::move(top.handle);
    item->siblingCount = top.siblingCount;
    item->revisitBound = top.revisitBound;
    item->sourceRevisited = top.sourceRevisited;
    stack.pop_back();
    return true;
}

void RWaitingStack::pushRoot(const RSuccessor* item)
{
    RSuccessor root;
    root.state = item->state;
    root.transition = emptyEdgeTuple();
    stack.push_back(std::move(root));
}

void RWaitingStack::clear()
{
    if (ownsStates) {
        for (RSuccessor& entry : stack) {
            if (entry.state != nullptr) {
                entry.state->release();
            }
        }
    }
    stack.clear();
    batch.clear();
    currentBound = 1;
    currentRevisit = false;
}

// ---- Step recorder and duplicator ---------------------------------------------------------------

StepRecorder::StepRecorder(DiscreteState* state, int32_t* integers, int32_t* meta, uint32_t* resets,
                           uint32_t* upperBounds)
    : SimulatingStateDecorator(state, integers, meta), resets(resets), upperBounds(upperBounds)
{}

bool StepRecorder::constrain(const dbm::clock_constraint_t* constraints, size_t n)
{
    for (size_t k = 0; k < n; ++k) {
        if (constraints[k].j == 0) {
            base::setBit(upperBounds, constraints[k].i);
        }
    }
    return true;
}

void StepRecorder::resetClock(uint32_t i, int32_t)
{
    base::setBit(resets, i);
}

bool StateDuplicator::put(Successor* item)
{
    Successor copy;
    copy.state = item->state->clone();
    copy.transition = item->transition;
    copy.handle = item->handle;
    if (next == nullptr) {
        pipeline::dropItem(&copy);
        return false;
    }
    return next->put(&copy);
}

// ---- Depth-first path with cycle analysis -------------------------------------------------------

// The end of the own chain: collects what arrives, so the forward step can read the zones and
// give the states back.
class RobustDFSStack::Collector : public pipeline::Sink<Successor>
{
public:
    bool put(Successor* item) override
    {
        if (item != nullptr && item->state != nullptr) {
            received.push_back(item->state);
        }
        return true;
    }

    void releaseAll()
    {
        for (SymbolicState* state : received) {
            state->release();
        }
        received.clear();
    }

    std::vector<SymbolicState*> received;
};

RobustDFSStack::RobustDFSStack(FilterConfiguration* registry)
{
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    delayStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    extrapolationStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    collector = addMember(new Collector);
}

RobustDFSStack::~RobustDFSStack()
{
    path.clear();
}

void RobustDFSStack::setProperty(const char* key, void* value)
{
    members.setProperty(key, value);
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    }
}

void RobustDFSStack::begin()
{
    if (successorStage == nullptr || delayStage == nullptr) {
        throw Bug("The robust reachability checker needs a successor and a delay stage");
    }
    successorStage->connect(delayStage);
    pipeline::Generator<Successor>* last = delayStage;
    if (extrapolationStage != nullptr) {
        last->connect(extrapolationStage);
        last = extrapolationStage;
        uint8_t drift = 1;
        extrapolationStage->setProperty(PROPERTY_ZUBOR_DRIFT, &drift);
    }
    last->connect(collector);
    members.begin();
}

void RobustDFSStack::setLists(PassedList* passed, RWaitingStack* waiting, RWaitingStack* roots)
{
    passedList = passed;
    waitingStack = waiting;
    rootStack = roots;
}

void RobustDFSStack::pop()
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

void RobustDFSStack::popAll()
{
    while (!path.empty()) {
        pop();
    }
}

void RobustDFSStack::recordStep(SymbolicState* state, EdgeTuple transition)
{
    StepRecorder recorder(state, integers.data(), meta.data(), resets.data(), upperBounds.data());
    for (size_t p = 0; p < state->getStaticSlotCount(); ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location != nullptr && location->getInvariant()) {
            location->getInvariant()->evaluate(&recorder);
        }
    }
    for (EdgeTuple edge = transition; *edge != nullptr; ++edge) {
        (*edge)->evaluateClockGuard(&recorder);
    }
    state->getSystem()->applyUpdates(&recorder, transition);
}

bool RobustDFSStack::forward(const CycleNode& from, const CycleNode& through, dbm::fed_t& to)
{
    SymbolicState* copy = from.state->cloneDiscrete();
    copy->zone = from.zone;
    try {
        if (through.condition != nullptr && through.condition->evaluate(copy) == 0) {
            copy->release();
            return false;
        }
    } catch (...) {
        copy->release();
        throw;
    }
    Successor item;
    item.state = copy;
    item.transition = through.transition;
    try {
        successorStage->put(&item);
        // Broadcast successors held back until the end of a source state come out now.
        successorStage->put(nullptr);
    } catch (...) {
        collector->releaseAll();
        throw;
    }
    dbm::fed_t reached(from.zone.getDimension());
    for (SymbolicState* state : collector->received) {
        reached.unionWith(state->zone);
    }
    collector->releaseAll();
    if (reached.isEmpty()) {
        return false;
    }
    to = std::move(reached);
    return true;
}

bool RobustDFSStack::robustDfsStep(SearchPath::Entry* entry, Successor* item, bool& enlarged)
{
    enlarged = false;
    SymbolicState* state = item->state;

    bool delayable = false;
    for (SearchPath::Entry* step = path.top();; step = step->below) {
        delayable = delayable || !zonesteps::isUrgent(step->state);
        if (step == entry) {
            break;
        }
    }

    const size_t words = base::bitWords(state->getSystem()->getClockCount());
    resets.assign(words, 0);
    upperBounds.assign(words, 0);
    integers.resize(static_cast<size_t>(state->getIntegerArray().size()));
    meta.resize(static_cast<size_t>(state->getMetaArray().size()));
    recordStep(state, item->transition);
    for (SearchPath::Entry* step = path.top(); step != entry; step = step->below) {
        recordStep(step->state, step->transition);
    }
    bool boundedNotReset = false;
    for (size_t w = 0; w < words; ++w) {
        boundedNotReset = boundedNotReset || (upperBounds[w] & ~resets[w]) != 0;
    }
    if (!delayable || boundedNotReset) {
        return true;
    }

    // Backward preparation: from the new state with its reset clocks free, back along the path.
    dbm::fed_t zone = state->zone;
    for (uint32_t clock = 1; clock < state->getSystem()->getClockCount(); ++clock) {
        if (base::testBit(resets.data(), clock)) {
            zone.freeClock(clock);
        }
    }
    cycle.clear();
    cycle.push_back(CycleNode{state, item->transition, static_cast<Expression*>(item->handle.get()), zone});
    for (SearchPath::Entry* step = path.top(); step != entry; step = step->below) {
        const CycleNode& last = cycle.back();
        dbm::fed_t back = last.zone;
        if (!zonesteps::isUrgent(last.state)) {
            zonesteps::past(last.state, back);
        }
        zonesteps::stepBack(step->state, last.transition, back, last.condition);
        cycle.push_back(CycleNode{step->state, step->transition, static_cast<Expression*>(step->handle.get()),
                                  std::move(back)});
    }
    const size_t n = cycle.size();

    // Backward fixpoint: each node keeps what leads into its successor on the cycle.
    for (bool shrinking = true; shrinking;) {
        for (size_t i = 0; i < n; ++i) {
            const CycleNode& later = cycle[i == 0 ? n - 1 : i - 1];
            dbm::fed_t back = later.zone;
            if (!zonesteps::isUrgent(later.state)) {
                zonesteps::past(later.state, back);
            }
            zonesteps::stepBack(cycle[i].state, later.transition, back, later.condition);
            if (cycle[i].zone.isSubsetEq(back)) {
                shrinking = false;
            }
            cycle[i].zone.intersectWith(back);
            if (cycle[i].zone.isEmpty()) {
                cycle.clear();
                return false;
            }
        }
    }

    // Forward fixpoint: each node keeps what its predecessor on the cycle reaches (with drift).
    dbm::fed_t reached;
    for (size_t pass = 0;; ++pass) {
        bool settled = false;
        for (size_t k = 0; k < n && !settled; ++k) {
            const size_t from = (n - k) % n;
            CycleNode& to = cycle[(from + n - 1) % n];
            if (!forward(cycle[from], to, reached)) {
                cycle.clear();
                return false;
            }
            const bool contained = to.zone.isSubsetEq(reached);
            to.zone.intersectWith(reached);
            settled = pass > 0 && contained;
        }
        if (settled) {
            break;
        }
    }

    const dbm::fed_t result = std::move(cycle.front().zone);
    cycle.clear();
    if (result.isSubsetEq(state->zone)) {
        return true;
    }
    if (!result.intersectsExactly(state->zone)) {
        return false;
    }
    state->zone.unionWith(result);
    enlarged = true;
    return true;
}

bool RobustDFSStack::put(Successor* item)
{
    if (item->transition == nullptr) {
        item->transition = emptyEdgeTuple();
    }
    RSuccessor* bookkeeping = item == current ? current : nullptr;
    uint64_t revisitBound = bookkeeping != nullptr ? bookkeeping->revisitBound : 1;
    const uint64_t siblingCount = bookkeeping != nullptr ? bookkeeping->siblingCount : 1;
    const bool sourceRevisited = bookkeeping != nullptr && bookkeeping->sourceRevisited;

    SymbolicState* state = item->state;
    const EdgeTuple transition = internEdgeTuple(item->transition);
    const uint32_t hash = SearchPath::hashOf(state);
    bool found = false;
    uint64_t matches = 0;
    try {
        for (IntrusiveHashTable::Node* node = path.chainOf(hash); node != nullptr; node = node->next) {
            if (node->hash != hash) {
                continue;
            }
            auto* entry = static_cast<SearchPath::Entry*>(node);
            if (entry->state == nullptr || !state->equalDiscrete(entry->state) ||
                !state->zone.isSubsetEq(entry->state->zone)) {
                continue;
            }
            bool enlarged = false;
            const bool repeatable = robustDfsStep(entry, item, enlarged);
            if (repeatable && enlarged) {
                RSuccessor root;
                root.state = state;
                rootStack->pushRoot(&root);
                return true;
            }
            if (entry->transition == transition && ++matches >= revisitBound) {
                pipeline::dropItem(item);
                return true;
            }
            found = true;
        }
    } catch (...) {
        cycle.clear();
        pipeline::dropItem(item);
        throw;
    }
    if (!found && !sourceRevisited) {
        revisitBound += siblingCount - 1;
        if (bookkeeping != nullptr) {
            bookkeeping->revisitBound = revisitBound;
        }
    }
    path.push(hash, state, transition, item->handle);
    if (waitingStack != nullptr) {
        waitingStack->setCurrent(revisitBound, found);
    }
    if (next == nullptr) {
        return true;
    }
    return next->put(item);
}

// ---- Checker ------------------------------------------------------------------------------------

RobustReachabilityChecker::RobustReachabilityChecker(FilterConfiguration* registry)
{
    passedList = addMember(registry->getAs<PassedList>(FILTER_PASSED_LIST));
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    traceStoreStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_TRACESTORE));
    transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    delayStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    queryStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_QUERY));
    extrapolationStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    successorToState = addMember(new SuccessorToSymbolicStateFilter);
    waitingStack = addMember(new RWaitingStack(false));
    rootStack = addMember(new RWaitingStack(true));
    robustStack = addMember(new RobustDFSStack(registry));
    duplicator = addMember(new StateDuplicator);
    fanOut = addMember(new pipeline::While<Successor>);
    RobustDFSStack* path = robustStack;
    enumerationGuard = addMember(new EnumerationGuard([path](SymbolicState* state) { path->disown(state); }));
}

void RobustReachabilityChecker::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STOP) {
        stopped = true;
    } else if (key == PROPERTY_TRACESTORE) {
        hasTraceStore = value != nullptr;
    }
    members.setProperty(key, value);
}

void RobustReachabilityChecker::begin()
{
    if (passedList == nullptr || successorStage == nullptr || delayStage == nullptr || transitionStage == nullptr) {
        throw Bug("The robust reachability checker needs a passed list and its successor, delay and transition "
                  "stages");
    }
    pipeline::Generator<Successor>* last = successorStage;
    if (hasTraceStore && traceStoreStage != nullptr) {
        last->connect(traceStoreStage);
        last = traceStoreStage;
    }
    last->connect(delayStage);
    last = delayStage;
    if (extrapolationStage != nullptr) {
        last->connect(extrapolationStage);
        last = extrapolationStage;
        uint8_t drift = 1;
        extrapolationStage->setProperty(PROPERTY_ZUBOR_DRIFT, &drift);
    }
    last->connect(passedList);
    passedList->connect(robustStack);
    robustStack->connect(fanOut);
    if (!fanOutWired) {
        fanOut->connect(successorToState);
        fanOut->connect(duplicator);
        fanOutWired = true;
    }
    successorToState->connect(enumerationGuard);
    enumerationGuard->connect(transitionStage);
    transitionStage->connect(waitingStack);
    if (queryStage != nullptr) {
        duplicator->connect(queryStage);
        queryStage->connect(next);
    } else {
        duplicator->connect(next);
    }
    robustStack->setLists(passedList, waitingStack, rootStack);
    members.begin();
}

bool RobustReachabilityChecker::put(Successor* initial)
{
    stopped = false;
    RSuccessor item;
    item.state = initial->state;
    item.transition = initial->transition != nullptr ? initial->transition : emptyEdgeTuple();
    robustStack->setCurrent(&item);
    try {
        delayStage->put(&item);
        for (;;) {
            if (!stopped && waitingStack->get(&item)) {
                // Back to the state the transition leaves from; everything above it is explored.
                while (!robustStack->empty() && robustStack->topState() != item.state) {
                    robustStack->pop();
                }
                item.state = item.state->clone();
                successorStage->put(&item);
                // Broadcast successors held back until the end of a source state come out now.
                successorStage->put(nullptr);
                continue;
            }
            robustStack->popAll();
            if (stopped) {
                break;
            }
            // A new depth-first search from a state that a cycle enlarged.
            if (!rootStack->get(&item)) {
                break;
            }
            item.siblingCount = 1;
            item.revisitBound = 1;
            item.sourceRevisited = false;
            passedList->put(&item);
        }
    } catch (...) {
        robustStack->setCurrent(nullptr);
        throw;
    }
    robustStack->clear();
    waitingStack->clear();
    rootStack->clear();
    item.handle.release();
    robustStack->setCurrent(nullptr);
    return true;
}

void RobustReachabilityChecker::end()
{
    robustStack->clear();
    waitingStack->clear();
    rootStack->clear();
    if (passedList != nullptr) {
        passedList->clear();
    }
}

RobustReachabilityChecker* makeRobustReachabilityChecker(FilterConfiguration* registry)
{
    return new RobustReachabilityChecker(registry);
}
