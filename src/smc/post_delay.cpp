#include "smc/post_delay.h"

#include <cfloat>
#include <memory>

#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "smc/clock_rates.h"
#include "smc/statistical_job.h"
#include "smc/statistical_query.h"
#include "support/exceptions.h"

namespace {

// Points around a switch are placed this far before and after the moment of change.
constexpr double aroundChange = 1e-8;

}  // namespace

void PCSDecorator::endEvaluation()
{
    double candidate = -1.0;
    if (inner.lower > 0) {
        candidate = inner.lower;
    } else if (inner.upper <= DBL_MAX) {
        candidate = inner.upper;
    }
    if (next <= 0) {
        next = candidate;
    } else if (next > candidate && candidate > 0) {
        next = candidate;
    }
}

void TrajectoryStage::setProperty(const char* key, void* value)
{
    if (key != PROPERTY_JOB) {
        return;
    }
    auto* job = static_cast<pipeline::JobInterface*>(value);
    if (auto* query = dynamic_cast<StatisticalQuery*>(job)) {
        results = &query->getSimulation();
    }
    if (auto* statistical = dynamic_cast<StatisticalJob*>(job)) {
        timeBounded = statistical->getRunBoundKind() != 0;
        if (statistical->getRunBoundKind() >= 2) {
            boundClockExpression = statistical->lastExpression();
        }
    }
}

double TrajectoryStage::timeOf(ConcreteState* state) const
{
    return timeBounded ? boundClockValue(state) : static_cast<double>(*stepCount);
}

void TrajectoryStage::addPoint(SimulationSeries& series, ObservationRecord& record, double t, double value)
{
    Trajectory& trajectory = series.trajectories[static_cast<size_t>(slot)];
    record.stored = addTrajectoryPoint(t, value, step, trajectory, record, series.name);
    record.time = t;
    record.value = value;
}

bool sampleSeries(SimulationSeries& series, PublicState* state, double& value)
{
    Expression* e = series.expression.get();
    if (e->isForeach()) {
        if (series.instanceProcess == -1 || series.instanceEnded) {
            return false;
        }
        e->setVal(series.instanceProcess);
    }
    e->evaluate(state);
    value = state->result;
    return true;
}

bool PostDelay::put(ConcreteSuccessor* successor)
{
    ConcreteState* state = successor->state;
    size_t i = 0;
    for (SimulationSeries& series : results->series) {
        ObservationRecord& record = (*records)[i++];
        const double t = timeOf(state);
        double value = 0;
        if (sampleSeries(series, state, value)) {
            addPoint(series, record, t, value);
        }
    }
    return next != nullptr ? next->put(successor) : false;
}

bool PrePostDelay::put(ConcreteSuccessor* successor)
{
    ConcreteState* after = successor->state;
    ConcreteState* before = successor->before;
    const size_t n = results->series.size();
    active.assign(n, 0);
    size_t i = 0;
    bool anyActive = false;
    for (SimulationSeries& series : results->series) {
        double value = 0;
        if (series.expression->timeDependent && sampleSeries(series, after, value)) {
            active[i] = 1;
            anyActive = true;
        }
        ++i;
    }
    if (!anyActive) {
        // Nothing observed can change within a delay.
        return next != nullptr ? next->put(successor) : false;
    }
    if (before == nullptr) {
        throw Bug("The delay step keeps no state from before the delay");
    }
    computeClockRates(after, rates);
    const double tEnd = timeOf(after);

    i = 0;
    for (SimulationSeries& series : results->series) {
        if (!active[i]) {
            ++i;
            continue;
        }
        ObservationRecord& record = (*records)[i++];
        double t = record.time;
        double v = record.value;
        ConcreteState* s = before;
        std::unique_ptr<ConcreteState> copy;
        for (;;) {
            PCSDecorator view(s, rates.data());
            double ignored = 0;
            sampleSeries(series, &view, ignored);
            const double m = view.next;
            if (m <= 0 || !(t + m <= tEnd)) {
                break;
            }
            addPoint(series, record, t + m - aroundChange, v);
            auto advanced = std::make_unique<ConcreteState>(*s);
            advanceClocks(advanced.get(), rates.data(), m + aroundChange);
            copy = std::move(advanced);
            s = copy.get();
            double changed = 0;
            sampleSeries(series, s, changed);
            t = timeOf(s);
            addPoint(series, record, t, changed);
            v = changed;
        }
    }
    return next != nullptr ? next->put(successor) : false;
}
