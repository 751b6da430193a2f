#include "smc/concrete_delay.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>

#include "pipeline/keys.h"
#include "runtime/channels.h"
#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "smc/clock_rates.h"
#include "smc/run_record.h"
#include "smc/window_decorator.h"
#include "support/exceptions.h"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Exponential rates at or below this take a process out of the race.
constexpr double smallestRate = 2.220446049250313e-16;

bool isUrgentChannel(int32_t channel)
{
    const int32_t c = channel < 0 ? -channel : channel;
    return c > 0 && static_cast<size_t>(c) <= channelCount() && getChannel(c).urgent;
}

size_t slotCount(const System* system)
{
    return system->getProcessCount() + system->getDynamicProcesses().size();
}

}  // namespace

ConcreteDelay::ConcreteDelay(bool stopAtGoal) : stopAtGoal(stopAtGoal), random(RandomGenerator::create()) {}

ConcreteDelay::~ConcreteDelay()
{
    RandomGenerator::destroy(random);
}

void ConcreteDelay::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        const size_t n = system != nullptr ? slotCount(system) : 0;
        kept.assign(n, false);
        remaining.assign(n, 0.0);
    } else if (key == PROPERTY_SMCSTRATEGY) {
        strategy = static_cast<base::Object*>(value);
    } else if (key == PROPERTY_FEEDBACK) {
        feedback = static_cast<std::string*>(value);
    } else if (key == PROPERTY_EXPRESSION) {
        goal = static_cast<Expression*>(value);
        stopAtGoal = true;
    } else if (key == PROPERTY_SMCCOVER) {
        coverage = *static_cast<bool*>(value);
    } else if (key == PROPERTY_SMCSTOPCONDITION) {
        stopCondition = static_cast<Expression*>(value);
        hasStopCondition = true;
    } else if (key == PROPERTY_SMCDELAYVARIABLE) {
        delayVariable = static_cast<double*>(value);
    } else if (key == PROPERTY_DELTATIME) {
        deltaTime = *static_cast<double*>(value);
    }
}

void ConcreteDelay::resetRun()
{
    kept.assign(kept.size(), false);
}

bool ConcreteDelay::delayUntil(ConcreteState* state, double& bound, const ExpressionRef& expression)
{
    CSDecorator window(state, rates.data());
    expression->evaluate(&window);
    if (window.lower > 0 && window.lower <= bound) {
        bound = window.lower;
        return true;
    }
    return false;
}

void ConcreteDelay::advance(ConcreteState* state, double d)
{
    advanceClocks(state, rates.data(), d, deltaTime);
    for (double& r : remaining) {
        r -= d;
    }
    if (coverage) {
        const size_t slots = state->getSlotCount();
        for (size_t p = 0; p < slots; ++p) {
            if (Location* location = state->getLocation(static_cast<uint32_t>(p))) {
                location->timeSpent += d;
            }
        }
    }
    if (delayVariable != nullptr) {
        *delayVariable = d;
    }
    if (recorder != nullptr) {
        recorder->grid = deltaTime;
        recorder->recordDelay(d);
    }
}

int64_t ConcreteDelay::violatedInvariant(ConcreteState* state)
{
    const size_t slots = state->getSlotCount();
    for (size_t p = 0; p < slots; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location != nullptr && location->getInvariant()->evaluate(state) == 0) {
            return static_cast<int64_t>(p);
        }
    }
    return -1;
}

bool ConcreteDelay::put(ConcreteState* state)
{
    ConcreteSuccessor successor;
    successor.state = state;
    successor.process = 0;
    std::unique_ptr<ConcreteState> before;
    if (keepBefore) {
        before = std::make_unique<ConcreteState>(*state);
        successor.before = before.get();
    }
    return step(state, successor);
}

bool ConcreteDelay::sendDownstream(ConcreteSuccessor& successor)
{
    return next != nullptr ? next->put(&successor) : false;
}

ConcreteDelay::Proposal ConcreteDelay::propose(ConcreteState* state, uint32_t p, CSDecorator& window, bool fine,
                                               double& minBound, double& d)
{
    // The window holds the invariant's limit.
    const Location* location = state->getLocation(p);
    double hi = window.upper;
    minBound = std::min(minBound, hi);
    bool unbounded = hi > DBL_MAX;
    double lo = infinity;
    const Process* process = system->getProcess(p);
    for (const base::RefPtr<Edge>& edge : process->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()))) {
        if (!edge->evaluateGuard(&window)) {
            continue;
        }
        window.resetWindow();
        if (edge->getClockGuard()->clockDependent) {
            // A general hybrid guard: no window can be computed, so it may only be used at once
            // on an urgent channel.
            if (!edge->evaluateClockGuard(state)) {
                continue;
            }
            const int32_t channel = edge->getSync()->evaluate(&window);
            if (channel != 0 && isUrgentChannel(channel)) {
                d = 0;
                return Proposal::Made;
            }
            reportHybridGuard(state, p);
            return Proposal::Reported;
        }
        const int32_t channel = edge->getSync()->evaluate(&window);
        if (channel < 0) {
            continue;  // receiving edges never start a transition by themselves
        }
        const bool enabled = edge->evaluateClockGuard(&window) != 0;
        const double l = window.lower;
        const bool urgent = channel > 0 && isUrgentChannel(channel);
        if (enabled && l <= 0) {
            lo = 0;
            if (urgent) {
                hi = 0;
                unbounded = false;
            }
            continue;
        }
        if (l <= 0 || window.hit) {
            continue;  // waiting never enables it
        }
        lo = std::min(lo, l);
        if (urgent) {
            if (unbounded) {
                hi = l;
                unbounded = false;
            } else {
                hi = std::min(hi, lo);
            }
        }
    }
    if (lo < infinity) {
        if (unbounded) {
            const ExpressionRef& rateExpression = location->getExponentialRate();
            if (!rateExpression) {
                throw SystemException("Location %s.%s has unbounded delay but no positive rate.",
                                      process->getName().c_str(), location->getName().c_str());
            }
            rateExpression->evaluate(state);
            const double rate = state->result;
            if (!(rate > smallestRate)) {
                return Proposal::None;
            }
            d = lo + random->exponential(rate);
        } else if (hi == lo) {
            d = lo;
        } else if (hi > lo) {
            d = random->uniform(lo, hi);
        } else {
            d = infinity;
        }
        return Proposal::Made;
    }
    if (!fine && hi < infinity) {
        reportTimeLock(state, p);
        return Proposal::Reported;
    }
    d = infinity;
    return Proposal::Made;
}

bool ConcreteDelay::step(ConcreteState* state, ConcreteSuccessor& successor)
{
    const size_t n = slotCount(system);
    const size_t stateSlots = state->getSlotCount();
    const bool committed = state->hasCommittedLocation();
    double bound = infinity;

    bool fine = computeClockRates(state, rates);
    fine = fine || system->floatingPointInvariants || system->floatingPointProperty;
    kept.resize(n, false);
    remaining.resize(n, 0.0);
    if (fine) {
        if (!system->sharedState) {
            kept.assign(n, false);
        }
        if (deltaTime < bound) {
            bound = deltaTime;
        }
    }

    mustAct.clear();
    winners.clear();
    bool urgentMode = false;
    double minBound = infinity;
    for (uint32_t p = 0; p < n && p < stateSlots; ++p) {
        const Location* location = state->getLocation(p);
        if (location == nullptr) {
            continue;
        }
        const Process* process = system->getProcess(p);
        const Process::EdgeList& edges = process->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()));
        if (committed) {
            urgentMode = true;
            if (location->isCommitted()) {
                for (const base::RefPtr<Edge>& edge : edges) {
                    if (edge->evaluateGuard(state)) {
                        mustAct.push_back(p);
                        break;
                    }
                }
            }
            continue;
        }
        if (location->isUrgent()) {
            mustAct.push_back(p);
            urgentMode = true;
            continue;
        }
        bool urgentSend = false;
        for (const base::RefPtr<Edge>& edge : location->getUrgentBroadcastEdges()) {
            if (edge->evaluateGuard(state)) {
                urgentSend = true;
                break;
            }
        }
        if (urgentSend) {
            mustAct.push_back(p);
            urgentMode = true;
            continue;
        }
        CSDecorator window(state, rates.data());
        if (location->getInvariant()->evaluate(&window) == 0) {
            // Only the limit of a strict invariant (x < 1) is reached by waiting and yet left
            // unsatisfied: no edge of the process could be taken before it.
            reportTimeLock(state, p);
            return false;
        }
        if (window.hit) {
            // A clock sits at an invariant limit: no time may pass.
            mustAct.push_back(p);
            urgentMode = true;
            continue;
        }
        if (urgentMode) {
            continue;
        }
        double d;
        if (!system->sharedState && kept[p]) {
            d = remaining[p];
        } else {
            const Proposal made = propose(state, p, window, fine, minBound, d);
            if (made == Proposal::Reported) {
                return false;
            }
            if (made == Proposal::None) {
                continue;
            }
            kept[p] = !fine;
            remaining[p] = d;
        }
        if (d < bound) {
            bound = d;
            winners.clear();
            winners.push_back(p);
        } else if (d == bound) {
            winners.push_back(p);
        }
    }

    if (urgentMode) {
        if (mustAct.empty()) {
            reportTimeLock(state, -1);
            return false;
        }
        const uint32_t k = random->randomIndex(static_cast<uint32_t>(mustAct.size() - 1));
        successor.process = mustAct[k];
        successor.forced = true;
        return sendDownstream(successor);
    }

    if (winners.empty() && !fine && minBound < infinity) {
        // Only a proposal that is not a number leaves no winner under a finite limit.
        advance(state, bound);
        reportTimeLock(state, -1);
        return false;
    }
    if (runBound >= 1 && bound == infinity) {
        const ClockValuation& clocks = state->getClocks();
        const uint64_t k = boundClock ? static_cast<uint64_t>(boundClock->evaluate(state)) : clocks.staticCount - 1;
        const double r = rates[k];
        if (r > 1e-12 || r < -1e-12) {
            const double t = (runBound + 0.1 - clocks.values[k]) / r;
            bound = t < 0 ? 1.0 : t;
        }
    }
    bound = std::min(bound, minBound);

    bool stop = false;
    if (stopAtGoal && goal) {
        stop = delayUntil(state, bound, goal);
    }
    if (hasStopCondition && stopCondition) {
        const bool met = delayUntil(state, bound, stopCondition) || stopCondition->evaluate(state) != 0;
        if (stopConditionMet != nullptr) {
            *stopConditionMet = met;
        }
        stop = stop || met;
    }
    advance(state, bound);
    const int64_t stuck = violatedInvariant(state);
    if (stuck >= 0) {
        // The delay ended at the limit of a strict invariant, which no process could leave
        // before.
        reportTimeLock(state, stuck);
        return false;
    }
    if (stop) {
        return querySink != nullptr ? querySink->put(state) : false;
    }
    if (bound == infinity && deadlocked != nullptr) {
        *deadlocked = true;
    }
    if (winners.empty()) {
        successor.process = -1;
    } else {
        const uint32_t k = random->randomIndex(static_cast<uint32_t>(winners.size() - 1));
        successor.process = winners[k];
    }
    successor.forced = false;
    return sendDownstream(successor);
}
