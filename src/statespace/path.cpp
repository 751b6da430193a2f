#include "statespace/path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
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

namespace {

// Clock values that arithmetic on the delays may put a little beyond a non-strict bound still
// meet it.
constexpr double slack = 1e-9;

// A clock value as a trace shows it: in the default format, six significant digits.
double shown(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return std::strtod(text, nullptr);
}

// Whether the point lies in the zone; a non-strict bound is met up to the slack, a strict one
// exactly. With `asShown`, the values are taken as a trace shows them, so that a value just
// below a strict bound that is shown as the bound itself does not pass.
bool holdsAt(const dbm::zone_t& zone, const dbm::valuation_t& v, bool asShown = false)
{
    if (zone.isEmpty()) {
        return false;
    }
    const uint32_t n = zone.getDimension();
    if (v.size() < n) {
        return false;
    }
    auto value = [&](uint32_t i) { return i == 0 ? 0.0 : asShown ? shown(v[i]) : v[i]; };
    const dbm::bound_t* m = zone.getMatrix();
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            const dbm::bound_t b = m[i * n + j];
            if (i == j || dbm::isInfinite(b)) {
                continue;
            }
            const double difference = value(i) - value(j);
            const double c = dbm::boundValue(b);
            if (dbm::isStrict(b) ? !(difference < c) : !(difference <= c + slack)) {
                return false;
            }
        }
    }
    return true;
}

bool holdsAt(const dbm::fed_t& zones, const dbm::valuation_t& v, bool asShown = false)
{
    for (const dbm::zone_t& zone : zones) {
        if (holdsAt(zone, v, asShown)) {
            return true;
        }
    }
    return false;
}

// Which clocks advance while time passes in the state (none where it cannot pass): 1 for each
// clock that does, never the reference clock.
void runningClocks(SymbolicState* state, size_t count, std::vector<uint8_t>& running)
{
    running.assign(count, 0);
    if (!timeMayPass(state)) {
        return;
    }
    std::vector<uint32_t> stopped;
    const bool someStopped = stoppedClocks(state->getSystem(), state, stopped);
    for (size_t i = 1; i < count; ++i) {
        running[i] = !someStopped || !base::testBit(stopped.data(), static_cast<uint32_t>(i)) ? 1 : 0;
    }
}

// The conditions on the next transition from a step: the valuations of the step's state at
// which the transition may be taken and leads into the zone of the next step.
dbm::fed_t takeoffZone(Path* step, Path* next)
{
    dbm::fed_t zone = next->state->zone;
    step->state->getSystem()->stepBack(step->state, next->transition, zone, next->extraExpression.get(), -1,
                                       nullptr);
    return zone;
}

// The smallest delay after which v (its running clocks advanced) lies in the zone; a strict lower
// bound is passed by the simplest binary fraction in reach (an integer where one fits), so that
// the values stay exact. False when no delay reaches the zone.
bool earliestDelay(const dbm::zone_t& zone, const dbm::valuation_t& v, const std::vector<uint8_t>& running,
                   double& delay)
{
    if (zone.isEmpty()) {
        return false;
    }
    const uint32_t n = zone.getDimension();
    if (v.size() < n || running.size() < n) {
        return false;
    }
    double low = 0.0;
    bool lowStrict = false;
    double high = std::numeric_limits<double>::infinity();
    bool highStrict = false;
    const dbm::bound_t* m = zone.getMatrix();
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            const dbm::bound_t b = m[i * n + j];
            if (i == j || dbm::isInfinite(b)) {
                continue;
            }
            // x_i - x_j, after a delay d, is difference + rate * d.
            const double difference = (i == 0 ? 0.0 : v[i]) - (j == 0 ? 0.0 : v[j]);
            const int rate = (i == 0 ? 0 : running[i]) - (j == 0 ? 0 : running[j]);
            const double room = dbm::boundValue(b) - difference;
            const bool strict = dbm::isStrict(b);
            if (rate == 0) {
                if (strict ? !(room > 0) : !(room >= -slack)) {
                    return false;
                }
            } else if (rate > 0) {
                if (room < high || (room == high && strict)) {
                    high = room;
                    highStrict = strict;
                }
            } else if (-room > low || (-room == low && strict)) {
                low = -room;
                lowStrict = strict;
            }
        }
    }
    if (low > high || (low == high && (lowStrict || highStrict))) {
        return false;
    }
    if (!lowStrict) {
        delay = low;
        return true;
    }
    for (int k = 0; k < 60; ++k) {
        const double scale = std::ldexp(1.0, k);
        const double candidate = (std::floor(low * scale) + 1) / scale;
        if (candidate > low && (candidate < high || (!highStrict && candidate <= high))) {
            delay = candidate;
            return true;
        }
    }
    return false;
}

// Records the clock assignments of a transition, in order: a clock set to a value, or to the
// value of another clock.
class ClockAssignmentRecorder : public SimulatingStateDecorator
{
public:
    struct Assignment
    {
        uint32_t clock;
        int32_t value;
        int32_t source;  // the clock copied, -1 for a value
    };

    ClockAssignmentRecorder(DiscreteState* state, int32_t* integers, int32_t* meta,
                            std::vector<Assignment>& assignments)
        : SimulatingStateDecorator(state, integers, meta), assignments(assignments)
    {}

    void resetClock(uint32_t i, int32_t value) override { assignments.push_back({i, value, -1}); }
    void copyClock(uint32_t i, uint32_t j) override
    {
        assignments.push_back({i, 0, static_cast<int32_t>(j)});
    }

private:
    std::vector<Assignment>& assignments;
};

// Delays for a path on which every clock runs all the time, found as one system of difference
// constraints over the moments of its transitions. A clock's value at moment t is t minus the
// moment it was last set, plus the value it was set to, so every zone constraint met at a moment
// bounds the difference of two moments by an integer. A strict bound c is met as c - 1/N for a
// power of two N: with N beyond the number of moments no cycle of the constraint graph is longer
// than N, so the system so tightened has a solution exactly when the original one has; smaller N
// often do too, and give rounder values. The earliest solution gives every moment as a multiple
// of 1/N, which binary doubles hold exactly.
class MomentSchedule
{
public:
    explicit MomentSchedule(size_t moments) : edges(moments) {}

    // The clocks of a moment's zone: the moment each was last set and the value it was set to.
    struct Origin
    {
        size_t moment = 0;
        int64_t value = 0;
    };

    // x_i - x_j met against the bound at moment t (clock 0 is the constant 0). With x_i = t -
    // m_i + v_i: m_j - m_i <= c - v_i + v_j for two clocks, t - m_i <= c - v_i against the
    // reference clock, m_j - t <= c + v_j for a lower bound.
    void meet(size_t t, const std::vector<Origin>& origins, uint32_t i, uint32_t j, dbm::bound_t b)
    {
        int64_t constant = dbm::boundValue(b);
        size_t plus = t;
        size_t minus = t;
        if (i != 0) {
            minus = origins[i].moment;
            constant -= origins[i].value;
        }
        if (j != 0) {
            plus = origins[j].moment;
            constant += origins[j].value;
        }
        bound(plus, minus, constant, dbm::isStrict(b));
    }

    // moment a - moment b <= constant (< when strict).
    void bound(size_t a, size_t b, int64_t constant, bool strict)
    {
        if (a == b) {
            if (constant < 0 || (constant == 0 && strict)) {
                infeasible = true;
            }
            return;
        }
        // Kept reversed: the earliest moments are the shortest distances from a to moment 0.
        edges[a].push_back({b, constant, strict});
    }

    // The smallest N for which the system is sure to have a solution when it has any.
    int64_t sureScale() const
    {
        int64_t scale = 2;
        while (scale <= static_cast<int64_t>(edges.size()) + 1) {
            scale *= 2;
        }
        return scale;
    }

    // The earliest moments in units of 1/scale; false when the tightened constraints contradict
    // each other.
    bool solve(int64_t scale, std::vector<int64_t>& earliest) const
    {
        if (infeasible) {
            return false;
        }
        const size_t n = edges.size();
        constexpr int64_t unreached = std::numeric_limits<int64_t>::max();
        std::vector<int64_t> distance(n, unreached);
        std::vector<uint32_t> relaxed(n, 0);
        std::vector<uint8_t> queued(n, 0);
        std::deque<size_t> queue;
        distance[0] = 0;
        queue.push_back(0);
        queued[0] = 1;
        while (!queue.empty()) {
            const size_t a = queue.front();
            queue.pop_front();
            queued[a] = 0;
            for (const Edge& e : edges[a]) {
                const int64_t through = distance[a] + e.constant * scale - (e.strict ? 1 : 0);
                if (through < distance[e.to]) {
                    distance[e.to] = through;
                    if (++relaxed[e.to] > n) {
                        return false;  // a negative cycle
                    }
                    if (queued[e.to] == 0) {
                        queued[e.to] = 1;
                        queue.push_back(e.to);
                    }
                }
            }
        }
        earliest.assign(n, 0);
        for (size_t i = 0; i < n; ++i) {
            if (distance[i] == unreached) {
                return false;
            }
            earliest[i] = -distance[i];
        }
        return true;
    }

private:
    struct Edge
    {
        size_t to;
        int64_t constant;
        bool strict;
    };

    std::vector<std::vector<Edge>> edges;
    bool infeasible = false;
};

// The constraints on the moments of the steps from `first` on: moment k is when step k is
// entered (0 the start), the last one the end. False when a step's conditions are empty or a
// clock is out of reach. Each step is held to the first zone of its conditions (the path
// restricted to what leads on).
bool collectMoments(Path* first, size_t clocks, MomentSchedule& schedule)
{
    std::vector<MomentSchedule::Origin> origins(clocks);
    std::vector<ClockAssignmentRecorder::Assignment> assignments;
    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
    size_t k = 0;
    for (Path* step = first; step != nullptr; step = step->next, ++k) {
        // Time passes forwards, and not at all where the step forbids it.
        schedule.bound(k, k + 1, 0, false);
        if (!timeMayPass(step->state)) {
            schedule.bound(k + 1, k, 0, false);
        }
        dbm::fed_t conditions = step->state->zone;
        if (step->next != nullptr) {
            conditions.intersectWith(takeoffZone(step, step->next));
        }
        if (conditions.isEmpty()) {
            return false;
        }
        // Entered in the step's zone, left where the next transition leads on.
        for (const dbm::fed_t* zones : {&step->state->zone, &conditions}) {
            const dbm::zone_t& zone = *zones->begin();
            const uint32_t n = zone.getDimension();
            if (n > clocks) {
                return false;
            }
            const size_t at = zones == &conditions ? k + 1 : k;
            for (uint32_t i = 0; i < n; ++i) {
                for (uint32_t j = 0; j < n; ++j) {
                    const dbm::bound_t b = zone(i, j);
                    if (i != j && !dbm::isInfinite(b)) {
                        schedule.meet(at, origins, i, j, b);
                    }
                }
            }
        }
        if (step->next == nullptr) {
            continue;
        }
        assignments.clear();
        integers.assign(static_cast<size_t>(step->state->getIntegerArray().size()) + 1, 0);
        meta.assign(static_cast<size_t>(step->state->getMetaArray().size()) + 1, 0);
        ClockAssignmentRecorder recorder(step->state, integers.data(), meta.data(), assignments);
        step->state->getSystem()->applyUpdates(&recorder, step->next->transition);
        for (const auto& assignment : assignments) {
            if (assignment.clock >= clocks) {
                return false;
            }
            if (assignment.source < 0) {
                origins[assignment.clock] = {k + 1, assignment.value};
            } else if (static_cast<size_t>(assignment.source) < clocks) {
                origins[assignment.clock] = origins[static_cast<size_t>(assignment.source)];
            } else {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

void letTimePass(SymbolicState* state, dbm::valuation_t& v, double delay)
{
    if (delay == 0.0) {
        return;
    }
    std::vector<uint32_t> stopped;
    const bool someStopped = stoppedClocks(state->getSystem(), state, stopped);
    for (uint32_t c = 1; c < v.size(); ++c) {
        if (!someStopped || !base::testBit(stopped.data(), c)) {
            v[c] += delay;
        }
    }
}

void applyClockUpdates(SymbolicState* before, SymbolicState* after, EdgeTuple transition, dbm::valuation_t& v)
{
    // Room for the variables of processes the transition may spawn.
    std::vector<int32_t> integers(
        static_cast<size_t>(std::max(before->getIntegerArray().size(), after->getIntegerArray().size())) + 1, 0);
    std::vector<int32_t> meta(
        static_cast<size_t>(std::max(before->getMetaArray().size(), after->getMetaArray().size())) + 1, 0);
    ResetIndicator resets(before, integers.data(), meta.data(), v.data());
    before->getSystem()->applyUpdates(&resets, transition);
}

bool Path::isConcreteRun(const dbm::valuation_t& start, const dbm::fed_t& end)
{
    dbm::valuation_t v = start;
    for (uint32_t c = 1; c < v.size(); ++c) {
        if (std::fabs(v[c]) > slack) {
            return false;
        }
    }
    for (Path* step = linkSteps(); step != nullptr; step = step->next) {
        if (!holdsAt(step->state->zone, v, true) || step->delay < 0 || (step->delay > 0 && !timeMayPass(step->state))) {
            return false;
        }
        letTimePass(step->state, v, step->delay);
        if (step->next == nullptr) {
            return holdsAt(end, v, true);
        }
        if (!holdsAt(takeoffZone(step, step->next), v, true)) {
            return false;
        }
        applyClockUpdates(step->state, step->next->state, step->next->transition, v);
    }
    return false;
}

void Path::makeConcreteForwards(dbm::valuation_t& v, const dbm::fed_t& end)
{
    state->zone.intersectWith(end);
    stabilise();
    const size_t clocks = std::max<size_t>(v.size(), state->zone.getDimension());
    v = dbm::valuation_t(clocks);
    const dbm::valuation_t start = v;
    std::vector<uint8_t> running;
    Path* first = linkSteps();
    if (!holdsAt(first->state->zone, v)) {
        throw std::out_of_range("Failed to generate trace");
    }
    if (!state->getSystem()->hasStopWatches) {
        size_t steps = 0;
        for (Path* step = first; step != nullptr; step = step->next) {
            ++steps;
        }
        MomentSchedule schedule(steps + 1);
        std::vector<int64_t> moments;
        if (collectMoments(first, clocks, schedule)) {
            // The roundest values first: halves, quarters, ... down to what is sure to do.
            for (int64_t scale = 2; scale <= schedule.sureScale(); scale *= 2) {
                if (!schedule.solve(scale, moments)) {
                    continue;
                }
                size_t k = 0;
                for (Path* step = first; step != nullptr; step = step->next, ++k) {
                    step->delay = static_cast<double>(moments[k + 1] - moments[k]) / static_cast<double>(scale);
                }
                if (isConcreteRun(start, end)) {
                    return;
                }
            }
        }
    }
    // Stop-watches (or a disjunction the schedule did not follow): each delay is chosen in turn.
    for (Path* step = first; step != nullptr; step = step->next) {
        const dbm::fed_t target = step->next != nullptr ? takeoffZone(step, step->next) : step->state->zone;
        runningClocks(step->state, clocks, running);
        double best = std::numeric_limits<double>::infinity();
        for (const dbm::zone_t& zone : target) {
            double delay = 0.0;
            if (earliestDelay(zone, v, running, delay) && delay < best) {
                best = delay;
            }
        }
        if (best == std::numeric_limits<double>::infinity()) {
            throw std::out_of_range("Failed to generate trace");
        }
        step->delay = best;
        letTimePass(step->state, v, best);
        if (step->next != nullptr) {
            applyClockUpdates(step->state, step->next->state, step->next->transition, v);
        }
    }
    v = start;
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
