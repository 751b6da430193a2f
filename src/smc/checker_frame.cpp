#include "smc/checker_frame.h"

#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "runtime/system.h"

double BoundClock::boundClockValue(ConcreteState* state) const
{
    const ClockValuation& clocks = state->getClocks();
    if (boundClockExpression) {
        return clocks.values[boundClockExpression->evaluate(state)];
    }
    return clocks.values[clocks.staticCount - 1];
}

void ConcreteQuery::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        predicate = static_cast<Expression*>(value);
    }
}

bool ConcreteQuery::put(ConcreteState* state)
{
    if (predicate->evaluate(state) == 0) {
        return false;
    }
    *done = true;
    *satisfied = true;
    return true;
}

void ConcreteValue::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        expression = static_cast<Expression*>(value);
    }
}

bool ConcreteValue::put(ConcreteState* state)
{
    const int32_t i = expression->evaluate(state);
    *cell = clockValued ? state->getClocks().values[i] : state->result;
    return true;
}

void ConcreteProgressFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
    }
}

bool ConcreteProgressFilter::put(ConcreteState* state)
{
    if (job != nullptr) {
        job->progress();
    }
    return next != nullptr ? next->put(state) : false;
}

void reportZeno(std::string* feedback)
{
    if (feedback != nullptr) {
        *feedback = "Run exceeds " + std::to_string(ZenoGuard::stepLimit) + " steps: probably Zeno behavior.\n";
    }
}

void StatisticalChecker::setCommonProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_SILENT) {
        silent = *static_cast<bool*>(value);
    } else if (key == PROPERTY_STOP) {
        stopRequested = true;
    } else if (key == PROPERTY_FEEDBACK) {
        feedback = static_cast<std::string*>(value);
    }
}

void StatisticalChecker::emit(bool verdict)
{
    if (next != nullptr) {
        next->put(&verdict);
    }
}
