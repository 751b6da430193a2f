#include "statespace/robust_reachability.h"

#include <algorithm>
#include <utility>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/expression.h"
#include "runtime/extrapolation_info.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/css.h"
#include "statespace/enumeration_guard.h"
#include "statespace/passed_list.h"
#include "statespace/zone_steps.h"
#include "support/exceptions.h"
#include "support/globals.h"
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
        stack.push_back(std::move(entry));
    }
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

// Between the successor and the delay stage of the own chain: keeps the zones with which the
// successors enter their target, before any time passes there, when asked to.
class RobustDFSStack::EntryTap : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    bool put(Successor* item) override
    {
        if (item != nullptr && item->state != nullptr && entered != nullptr) {
            entered->unionWith(item->state->zone);
        }
        return next == nullptr ? item == nullptr : next->put(item);
    }

    // Where the zones go (null: nowhere).
    dbm::fed_t* entered = nullptr;
};

RobustDFSStack::RobustDFSStack(FilterConfiguration* registry)
{
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    delayStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    extrapolationStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    entryTap = addMember(new EntryTap);
    collector = addMember(new Collector);
}

RobustDFSStack::~RobustDFSStack()
{
    path.clear();
}

void RobustDFSStack::clear()
{
    path.clear();
    hulls.clear();
}

void RobustDFSStack::setProperty(const char* key, void* value)
{
    members.setProperty(key, value);
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_EXPRESSION_INFO) {
        queryBounds = static_cast<const ExtrapolationInfo*>(value);
    }
}

void RobustDFSStack::prepareLeaps()
{
    leapsAllowed = false;
    if (!system || system->floatingPointInvariants || system->floatingPointClocks) {
        return;
    }
    ExtrapolationInfo bounds;
    if (queryBounds != nullptr) {
        bounds.merge(*queryBounds);
    }
    system->accept(bounds);
    leapsAllowed = bounds.getDifferenceConstraints().empty();
}

void RobustDFSStack::begin()
{
    if (successorStage == nullptr || delayStage == nullptr) {
        throw Bug("The robust reachability checker needs a successor and a delay stage");
    }
    successorStage->connect(entryTap);
    entryTap->connect(delayStage);
    pipeline::Generator<Successor>* last = delayStage;
    if (extrapolationStage != nullptr) {
        last->connect(extrapolationStage);
        last = extrapolationStage;
        uint8_t drift = 1;
        extrapolationStage->setProperty(PROPERTY_ZUBOR_DRIFT, &drift);
    }
    last->connect(collector);
    members.begin();
    prepareLeaps();
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
    integers.resize(static_cast<size_t>(state->getIntegerArray().size()));
    meta.resize(static_cast<size_t>(state->getMetaArray().size()));
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

bool RobustDFSStack::forward(const CycleNode& from, const CycleNode& through, dbm::fed_t& to, dbm::fed_t* entered)
{
    entryTap->entered = entered;
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
        entryTap->entered = nullptr;
        collector->releaseAll();
        throw;
    }
    entryTap->entered = nullptr;
    dbm::fed_t reached(from.zone.getDimension());
    for (SymbolicState* state : collector->received) {
        reached.unionWith(state->zone);
    }
    collector->releaseAll();
    if (reached.isEmpty()) {
        return false;
    }
    if (elapsedClock != 0) {
        reached.freeClock(elapsedClock);
    }
    to = std::move(reached);
    return true;
}

bool RobustDFSStack::onlyRises(const dbm::fed_t& before, const dbm::fed_t& after, std::vector<dbm::bound_t>& rises) const
{
    if (before.size() != 1 || after.size() != 1) {
        return false;
    }
    const uint32_t dim = before.getDimension();
    const dbm::bound_t* a = before.begin().matrix();
    const dbm::bound_t* b = after.begin().matrix();
    rises.clear();
    bool rising = false;
    for (uint32_t i = 0; i < dim; ++i) {
        for (uint32_t j = 0; j < dim; ++j) {
            const dbm::bound_t was = a[i * dim + j];
            const dbm::bound_t is = b[i * dim + j];
            // Only the lower bounds of the clocks the cycle does not reset, taken against the
            // reference clock and the clocks it does reset, may move, and only up.
            const bool lowerOfUnreset = base::testBit(unreset.data(), j) && !base::testBit(unreset.data(), i);
            if (!lowerOfUnreset) {
                if (was != is) {
                    return false;
                }
                continue;
            }
            if (is > was || (is != was && (dbm::isInfinite(was) || dbm::isInfinite(is)))) {
                return false;
            }
            rises.push_back(was - is);
            rising = rising || is != was;
        }
    }
    return rising;
}

bool RobustDFSStack::leap(dbm::fed_t& zone, const std::vector<dbm::bound_t>& rises, uint64_t passes)
{
    const uint32_t dim = zone.getDimension();
    const dbm::bound_t* m = zone.begin().matrix();
    // As many passes as the zone allows: no bound may pass the opposite one, nor leave the range
    // of finite bounds.
    constexpr int64_t lowest = int64_t{2} * (1 - dbm::INF_VALUE);
    leapTargets.clear();
    size_t r = 0;
    for (uint32_t i = 0; i < dim; ++i) {
        for (uint32_t j = 0; j < dim; ++j) {
            if (!base::testBit(unreset.data(), j) || base::testBit(unreset.data(), i)) {
                continue;
            }
            const int64_t rise = rises[r++];
            if (rise == 0) {
                continue;
            }
            const int64_t bound = m[i * dim + j];
            const int64_t span = bound - lowest;
            passes = std::min<uint64_t>(passes, span > 0 ? static_cast<uint64_t>(span / rise) : 0);
            const dbm::bound_t opposite = m[j * dim + i];
            if (dbm::isFinite(opposite)) {
                // Non-empty while the two raw words add up to at least 2: (<= 0) or looser.
                const int64_t room = bound + opposite - 2;
                passes = std::min<uint64_t>(passes, room > 0 ? static_cast<uint64_t>(room / rise) : 0);
            }
            leapTargets.push_back(LeapTarget{i, j, bound, rise});
        }
    }
    if (passes == 0) {
        return false;
    }
    // The targets come from the zone before the leap: tightening one bound may tighten others.
    for (const LeapTarget& target : leapTargets) {
        const int64_t bound = target.bound - target.rise * static_cast<int64_t>(passes);
        zone.constrain(target.i, target.j, static_cast<dbm::bound_t>(bound));
    }
    return !zone.isEmpty();
}

bool RobustDFSStack::delaysWithin(SymbolicState* state, const dbm::fed_t& entered, const dbm::fed_t& leaving)
{
    if (zonesteps::isUrgent(state)) {
        return false;
    }
    System* sys = state->getSystem();
    const uint32_t dim = entered.getDimension();
    const size_t words = base::bitWords(dim);
    // Stopped clocks, then clocks given a rate (the layout of System::evaluateClockRates).
    rateBits.assign(2 * words, 0);
    const bool stops = sys->hasStopWatches && sys->evaluateClockRates(state, rateBits.data());
    // A point u of the leaving zone is reached from a point v of the entered zone by a delay
    // d > 0 when u - d lies in the entered zone. Delays keep clock differences, so the only
    // bounds of the entered zone that limit d are the lower bounds of the running clocks: d
    // may be positive exactly when every running clock of u lies strictly above its lower bound
    // there.
    for (const dbm::zone_t& zone : entered) {
        dbm::fed_t later(zone);
        if (stops) {
            later.upWithStopped(rateBits.data());
        } else {
            later.up();
        }
        later.intersectWith(leaving);
        const dbm::bound_t* lower = zone.getMatrix();
        bool running = false;
        for (uint32_t clock = 1; clock < dim && !later.isEmpty(); ++clock) {
            if (clock == elapsedClock || (stops && base::testBit(rateBits.data(), clock))) {
                continue;
            }
            running = true;
            later.constrain(0, clock, dbm::boundLT(dbm::boundValue(lower[clock])));
        }
        if (running && !later.isEmpty()) {
            return true;
        }
    }
    return false;
}

bool RobustDFSStack::timePassesOnCycle()
{
    // Node i is entered from node i + 1 (the last node from the first) by node i's transition.
    const size_t n = cycle.size();
    dbm::fed_t reached;
    for (size_t i = 0; i < n; ++i) {
        CycleNode& node = cycle[i];
        if (zonesteps::isUrgent(node.state)) {
            continue;
        }
        dbm::fed_t entered(node.zone.getDimension());
        if (forward(cycle[(i + 1) % n], node, reached, &entered) && delaysWithin(node.state, entered, node.zone)) {
            return true;
        }
    }
    return false;
}

RobustDFSStack::CycleOutcome RobustDFSStack::analyseCycle(SearchPath::Entry* entry, Successor* item,
                                                         dbm::fed_t& gain)
{
    SymbolicState* state = item->state;

    // The steps on the path were recorded when their states were pushed; only the step that closes
    // the cycle is new. Each step is replayed from the state it leaves: its guards and updates were
    // taken there, and on the state it enters an update such as v = v - 1 may leave the range of v.
    const size_t words = base::bitWords(state->getSystem()->getClockCount());
    resets.assign(words, 0);
    upperBounds.assign(words, 0);
    recordStep(path.top()->state, item->transition);
    bool delayable = false;
    for (SearchPath::Entry* step = path.top();; step = step->below) {
        const size_t at = step->depth - 1;
        delayable = delayable || !pathUrgent[at];
        if (step == entry) {
            break;
        }
        const uint32_t* marks = pathSteps.data() + at * 2 * words;
        for (size_t w = 0; w < words; ++w) {
            resets[w] |= marks[w];
            upperBounds[w] |= marks[words + w];
        }
    }
    bool boundedNotReset = false;
    for (size_t w = 0; w < words; ++w) {
        boundedNotReset = boundedNotReset || (upperBounds[w] & ~resets[w]) != 0;
    }
    if (!delayable || boundedNotReset) {
        return CycleOutcome::nothingNew;
    }

    // Backward preparation: from the new state with its reset clocks free, back along the path.
    // The clock that measures elapsed time for the fastest traces is never reset and never
    // compared: it takes no part in the analysis (followed round the cycle, it would grow with
    // every pass of the forward fixpoint, which then never settles).
    const uint32_t clockCount = state->getSystem()->getClockCount();
    elapsedClock = tauClockNumber > 0 && static_cast<uint32_t>(tauClockNumber) < clockCount
                       ? static_cast<uint32_t>(tauClockNumber)
                       : 0;
    dbm::fed_t zone = state->zone;
    for (uint32_t clock = 1; clock < clockCount; ++clock) {
        if (base::testBit(resets.data(), clock) || clock == elapsedClock) {
            zone.freeClock(clock);
        }
    }
    unreset.assign(words, 0);
    bool anyUnreset = false;
    for (uint32_t clock = 1; clock < clockCount; ++clock) {
        if (!base::testBit(resets.data(), clock) && clock != elapsedClock) {
            base::setBit(unreset.data(), clock);
            anyUnreset = true;
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
        if (back.isEmpty()) {
            // Nothing leads round the cycle from here on: the fixpoint would only empty the rest.
            cycle.clear();
            return CycleOutcome::notRepeatable;
        }
        cycle.push_back(CycleNode{step->state, step->transition, static_cast<Expression*>(step->handle.get()),
                                  std::move(back)});
    }
    const size_t n = cycle.size();

    // What the new state holds already; the clock of elapsed time does not count.
    dbm::fed_t own = state->zone;
    if (elapsedClock != 0) {
        own.freeClock(elapsedClock);
    }

    // Backward fixpoint: each node keeps what leads into its successor on the cycle.
    //
    // The zones of the nodes only shrink from here on, and the outcome is the first node's zone
    // at the end: once that zone lies inside the new state, the cycle has nothing to add, and the
    // rest of the analysis (most of the time it takes) is left out.
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
                return CycleOutcome::notRepeatable;
            }
            if (i == 0 && cycle[0].zone.isSubsetEq(own)) {
                cycle.clear();
                return CycleOutcome::nothingNew;
            }
        }
    }

    // Forward fixpoint: each node keeps what its predecessor on the cycle reaches (with drift).
    //
    // A clock that the cycle never resets gains the time of a round with every pass, and the
    // passes would go on until its lower bound passes the largest constant it is compared with
    // (or its upper bound). Once the other bounds have settled and two passes in a row raise the
    // lower bounds of those clocks by the same amounts, every further pass raises them by these
    // amounts again: the first node then leaps over as many passes as the last leap and one more
    // (1, 2, 4, ... passes), never so far that its zone would become empty, and the passes go on
    // from there.
    const bool leaps = anyUnreset && leapsAllowed;
    uint64_t leapLength = 1;
    bool rose = false;
    dbm::fed_t reached;
    for (size_t pass = 0;; ++pass) {
        const dbm::fed_t before = cycle.front().zone;
        bool settled = false;
        for (size_t k = 0; k < n && !settled; ++k) {
            const size_t from = (n - k) % n;
            CycleNode& to = cycle[(from + n - 1) % n];
            if (!forward(cycle[from], to, reached)) {
                cycle.clear();
                return CycleOutcome::notRepeatable;
            }
            const bool contained = to.zone.isSubsetEq(reached);
            to.zone.intersectWith(reached);
            settled = pass > 0 && contained;
        }
        if (settled) {
            break;
        }
        if (!leaps) {
            continue;
        }
        const bool rising = onlyRises(before, cycle.front().zone, rises);
        if (rising && rose && rises == lastRises && leap(cycle.front().zone, rises, leapLength)) {
            leapLength *= 2;
        }
        rose = rising;
        std::swap(rises, lastRises);
    }

    if (cycle.front().zone.isSubsetEq(own)) {
        cycle.clear();
        return CycleOutcome::nothingNew;
    }
    if (!cycle.front().zone.intersectsExactly(own)) {
        cycle.clear();
        return CycleOutcome::notRepeatable;
    }
    // Drift builds up only with the time that passes on the cycle: a cycle whose zones leave no
    // node a positive delay (say one taken only while a clock is 0, which the cycle then resets)
    // repeats the same valuations for ever, and the plain search has them all.
    if (!timePassesOnCycle()) {
        cycle.clear();
        return CycleOutcome::nothingNew;
    }
    gain = std::move(cycle.front().zone);
    cycle.clear();
    return CycleOutcome::gains;
}

bool RobustDFSStack::robustDfsStep(SearchPath::Entry* entry, Successor* item, bool& enlarged)
{
    enlarged = false;
    dbm::fed_t gain(item->state->zone.getDimension());
    switch (analyseCycle(entry, item, gain)) {
    case CycleOutcome::notRepeatable: return false;
    case CycleOutcome::nothingNew: return true;
    case CycleOutcome::gains:
        item->state->zone.unionWith(gain);
        enlarged = true;
        return true;
    }
    return true;
}

bool RobustDFSStack::put(Successor* item)
{
    if (item->transition == nullptr) {
        item->transition = emptyEdgeTuple();
    }
    SymbolicState* state = item->state;
    const EdgeTuple transition = internEdgeTuple(item->transition);
    const uint32_t hash = SearchPath::hashOf(state);
    SearchPath::Entry* newestAlike = nullptr;
    size_t holders = 0;
    try {
        // Entries come newest first, so the first one with the state's discrete part carries the
        // hull of them all, and each one the hull of itself and those still to come.
        for (SearchPath::Entry* entry = path.newestWithHash(hash); entry != nullptr; entry = entry->olderWithHash) {
            if (entry->state == nullptr || !state->equalDiscrete(entry->state)) {
                continue;
            }
            if (newestAlike == nullptr) {
                newestAlike = entry;
            }
            if (!state->zone.isSubsetEq(hulls[entry->depth - 1])) {
                break;
            }
            if (!state->zone.isSubsetEq(entry->state->zone)) {
                continue;
            }
            ++holders;
            bool enlarged = false;
            const bool repeatable = robustDfsStep(entry, item, enlarged);
            if (repeatable && enlarged) {
                RSuccessor root;
                root.state = state;
                rootStack->pushRoot(&root);
                return true;
            }
            if (entry->transition == transition) {
                pipeline::dropItem(item);
                return true;
            }
        }
    } catch (...) {
        cycle.clear();
        pipeline::dropItem(item);
        throw;
    }
    if (holders > 1) {
        pipeline::dropItem(item);
        return true;
    }

    // What the step into the state resets and bounds, taken from the state it leaves (the top),
    // and whether time may pass in the state: the cycles closed later read them from here.
    const size_t words = base::bitWords(state->getSystem()->getClockCount());
    const size_t at = path.size();
    pathSteps.resize((at + 1) * 2 * words);
    pathUrgent.resize(at + 1);
    resets.assign(words, 0);
    upperBounds.assign(words, 0);
    try {
        if (!path.empty() && transition[0] != nullptr) {
            recordStep(path.top()->state, transition);
        }
        pathUrgent[at] = zonesteps::isUrgent(state);
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    std::copy(resets.begin(), resets.end(), pathSteps.begin() + at * 2 * words);
    std::copy(upperBounds.begin(), upperBounds.end(), pathSteps.begin() + at * 2 * words + words);
    path.push(hash, state, transition, item->handle);
    // The path grows one entry at a time, so the hull of a new top is at most one past the end.
    const size_t depth = path.top()->depth;
    if (hulls.size() < depth) {
        hulls.push_back(state->zone);
    } else {
        hulls[depth - 1] = state->zone;
    }
    dbm::fed_t& hull = hulls[depth - 1];
    if (newestAlike != nullptr) {
        hull.unionWith(hulls[newestAlike->depth - 1]);
        hull.convexHull();
    }
    if (next == nullptr) {
        return true;
    }
    return next->put(item);
}

// ---- Reached states -----------------------------------------------------------------------------

ReachableIndex::Group* ReachableIndex::groupOf(const SymbolicState* state)
{
    const auto found = buckets.find(SearchPath::hashOf(state));
    if (found == buckets.end()) {
        return nullptr;
    }
    for (Group& group : found->second) {
        if (state->equalDiscrete(group.discrete)) {
            return &group;
        }
    }
    return nullptr;
}

const ReachableIndex::Kept* ReachableIndex::holderOf(const Group& group, const dbm::zone_t& zone, uint32_t bits) const
{
    for (const Kept& kept : group.kept) {
        if ((kept.bits & ~bits) == 0 && zone.isSubsetEq(kept.zone)) {
            return &kept;
        }
    }
    return nullptr;
}

bool ReachableIndex::add(SymbolicState* state)
{
    Group* group = groupOf(state);
    if (group == nullptr) {
        std::vector<Group>& bucket = buckets[SearchPath::hashOf(state)];
        bucket.push_back(Group{state->cloneDiscrete(), {}});
        group = &bucket.back();
    }
    bool added = false;
    for (auto it = state->zone.beginMutable(); !it.atEnd();) {
        const dbm::zone_t zone = *it;
        const uint32_t bits = CSS::orderBits(zone);
        if (holderOf(*group, zone, bits) != nullptr) {
            it.remove();
            continue;
        }
        size_t keep = 0;
        for (Kept& kept : group->kept) {
            const bool held = (bits & ~kept.bits) == 0 && kept.zone.isSubsetEq(zone);
            if (!held) {
                group->kept[keep++] = std::move(kept);
            }
        }
        group->kept.resize(keep);
        group->kept.push_back(Kept{zone, bits});
        added = true;
        it.next();
    }
    return added;
}

bool ReachableIndex::holders(const SymbolicState* state, dbm::fed_t& holders)
{
    const Group* group = groupOf(state);
    if (group == nullptr) {
        return false;
    }
    dbm::fed_t found(state->zone.getDimension());
    for (const dbm::zone_t& zone : state->zone) {
        const Kept* kept = holderOf(*group, zone, CSS::orderBits(zone));
        if (kept == nullptr) {
            return false;
        }
        found.unionWithZone(kept->zone);
    }
    holders = std::move(found);
    return true;
}

bool ReachableIndex::keepCurrent(SymbolicState* state)
{
    const Group* group = groupOf(state);
    if (group == nullptr) {
        state->zone.setEmpty();
        return false;
    }
    for (auto it = state->zone.beginMutable(); !it.atEnd();) {
        const dbm::zone_t zone = *it;
        const Kept* kept = holderOf(*group, zone, CSS::orderBits(zone));
        if (kept == nullptr || !kept->zone.isSubsetEq(zone)) {
            it.remove();
        } else {
            it.next();
        }
    }
    return !state->zone.isEmpty();
}

void ReachableIndex::clear()
{
    for (auto& [hash, groups] : buckets) {
        for (Group& group : groups) {
            group.discrete->release();
        }
    }
    buckets.clear();
}

// The end of the exploration's chain: keeps what is new and queues it for exploration.
class ReachableExploration::Keeper : public pipeline::Sink<Successor>
{
public:
    explicit Keeper(ReachableExploration& owner) : owner(owner) {}

    bool put(Successor* item) override
    {
        if (item == nullptr || item->state == nullptr) {
            return true;
        }
        // The clock of elapsed time (fastest traces) is never reset: kept, it would tell apart
        // the zones of every round of a cycle, and the exploration would never end. The trace
        // regenerated for a goal measures the time again.
        const int32_t tau = tauClockNumber;
        if (tau > 0 && static_cast<uint32_t>(tau) < item->state->zone.getDimension()) {
            item->state->zone.freeClock(static_cast<uint32_t>(tau));
        }
        if (!owner.index.add(item->state)) {
            pipeline::dropItem(item);
            return false;
        }
        owner.queue.push_back(item->state);
        if (owner.next != nullptr) {
            owner.next->put(item);
        }
        return true;
    }

private:
    ReachableExploration& owner;
};

ReachableExploration::ReachableExploration(FilterConfiguration* registry)
{
    transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    traceStoreStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_TRACESTORE));
    delayStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    extrapolationStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    progressFilter = addMember(new JobProgressFilter<SymbolicState>);
    transitions = addMember(new RWaitingStack(false));
    keeper = addMember(new Keeper(*this));
}

ReachableExploration::~ReachableExploration()
{
    clear();
}

void ReachableExploration::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STOP) {
        stopped = true;
    } else if (key == PROPERTY_TRACESTORE) {
        hasTraceStore = value != nullptr;
    } else if (key == PROPERTY_SILENT) {
        silent = value != nullptr && *static_cast<const bool*>(value);
    }
    members.setProperty(key, value);
}

void ReachableExploration::begin()
{
    if (transitionStage == nullptr || successorStage == nullptr || delayStage == nullptr) {
        throw Bug("The robust reachability checker needs its successor, delay and transition stages");
    }
    stopped = false;
    transitionStage->connect(transitions);
    progressFilter->connect(transitionStage);
    head = silent ? static_cast<pipeline::Sink<SymbolicState>*>(transitionStage) : progressFilter;
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
    last->connect(keeper);
    members.begin();
}

bool ReachableExploration::put(Successor* item)
{
    RSuccessor initial;
    initial.state = item->state;
    initial.transition = item->transition != nullptr ? item->transition : emptyEdgeTuple();
    delayStage->put(&initial);
    run();
    return true;
}

void ReachableExploration::exploreFrom(const SymbolicState* state)
{
    Successor item;
    item.state = state->clone();
    item.transition = emptyEdgeTuple();
    keeper->put(&item);
    run();
}

void ReachableExploration::run()
{
    RSuccessor item;
    while (!stopped && !queue.empty()) {
        SymbolicState* source = queue.front();
        queue.pop_front();
        if (!index.keepCurrent(source)) {
            // Larger zones of the same discrete part came later and are queued themselves.
            source->release();
            continue;
        }
        try {
            // On an error the enumeration gives the source back itself.
            head->put(source);
        } catch (...) {
            transitions->clear();
            throw;
        }
        try {
            while (transitions->get(&item)) {
                item.state = item.state->clone();
                successorStage->put(&item);
            }
            // Broadcast successors held back until the end of a source state come out now.
            successorStage->put(nullptr);
        } catch (...) {
            transitions->clear();
            source->release();
            throw;
        }
        source->release();
    }
    item.handle.release();
}

void ReachableExploration::clear()
{
    for (SymbolicState* state : queue) {
        state->release();
    }
    queue.clear();
    transitions->clear();
    index.clear();
}

bool HolderFilter::put(Successor* item)
{
    if (item != nullptr && item->state != nullptr) {
        // The state keeps its own trace: it leads to the cycles the search closes through it.
        ReachableIndex& index = exploration.reached();
        if (!index.holders(item->state, item->state->zone)) {
            try {
                exploration.exploreFrom(item->state);
            } catch (...) {
                pipeline::dropItem(item);
                throw;
            }
            index.holders(item->state, item->state->zone);
        }
    }
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
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
    progressFilter = addMember(new JobProgressFilter<Successor>);
    RobustDFSStack* path = robustStack;
    enumerationGuard = addMember(new EnumerationGuard([path](SymbolicState* state) { path->disown(state); }));
    exploration = addMember(new ReachableExploration(registry));
    holderFilter = addMember(new HolderFilter(*exploration));
}

void RobustReachabilityChecker::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STOP) {
        stopped = true;
    } else if (key == PROPERTY_TRACESTORE) {
        hasTraceStore = value != nullptr;
    } else if (key == PROPERTY_SILENT) {
        silent = value != nullptr && *static_cast<const bool*>(value);
    }
    members.setProperty(key, value);
}

void RobustReachabilityChecker::begin()
{
    if (passedList == nullptr || successorStage == nullptr || delayStage == nullptr || transitionStage == nullptr) {
        throw Bug("The robust reachability checker needs a passed list and its successor, delay and transition "
                  "stages");
    }
    // A stop is forgotten when a search begins, so that one arriving before its first state counts.
    stopped = false;
    progressFilter->connect(successorStage);
    head = silent ? static_cast<pipeline::Sink<Successor>*>(successorStage) : progressFilter;
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
    last->connect(holderFilter);
    holderFilter->connect(passedList);
    passedList->connect(robustStack);
    robustStack->connect(fanOut);
    if (!fanOutWired) {
        fanOut->connect(successorToState);
        fanOutWired = true;
    }
    // The exploration tests the goal on every state it keeps, so the depth-first search, which
    // walks those states, does not test it again.
    exploration->connect(duplicator);
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
    RSuccessor item;
    item.state = initial->state->clone();
    item.transition = initial->transition != nullptr ? initial->transition : emptyEdgeTuple();
    try {
        exploration->put(initial);
    } catch (...) {
        item.state->release();
        throw;
    }
    if (stopped) {
        item.state->release();
    } else {
        delayStage->put(&item);
    }
    for (;;) {
        if (!stopped && waitingStack->get(&item)) {
            // Back to the state the transition leaves from; everything above it is explored.
            while (!robustStack->empty() && robustStack->topState() != item.state) {
                robustStack->pop();
            }
            item.state = item.state->clone();
            head->put(&item);
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
        // The plain exploration first, so that the depth-first search meets the largest zones.
        try {
            exploration->exploreFrom(item.state);
        } catch (...) {
            item.state->release();
            throw;
        }
        if (stopped) {
            item.state->release();
            break;
        }
        passedList->put(&item);
    }
    exploration->clear();
    robustStack->clear();
    waitingStack->clear();
    rootStack->clear();
    item.handle.release();
    // The stop ended this search; a later one from the same checker runs.
    stopped = false;
    exploration->forgetStop();
    return true;
}

void RobustReachabilityChecker::end()
{
    exploration->clear();
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
