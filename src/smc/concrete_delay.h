#pragma once

// The first half of a concrete simulation step: how much time passes and which process acts.
//
// The delay is a race. Every process that need not act at once proposes a delay: drawn uniformly
// between the earliest moment one of its edges becomes enabled and the latest moment its
// location's invariant allows, or, without such a limit, that earliest moment plus an
// exponentially distributed time with the location's rate. The smallest proposal wins; equal
// smallest proposals are picked among uniformly. A process that did not move keeps its proposal,
// less the time that passed, as long as no shared variable or clock could change it. While values
// change continuously (floating-point invariants or guards, clock rates that are not constant,
// floating-point functions in the property) steps are fine: no longer than the discretisation
// step, and nothing is kept.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "runtime/expression.h"
#include "smc/concrete_successor.h"
#include "smc/simu_error.h"
#include "support/random.h"

class ConcreteState;
class CSDecorator;
class RunRecord;

class ConcreteDelay : public pipeline::AbstractFilter<ConcreteState, ConcreteSuccessor>, public SimuError
{
public:
    // With `stopAtGoal` a step ends, without a transition, at the moment the goal becomes true.
    explicit ConcreteDelay(bool stopAtGoal);
    ~ConcreteDelay() override;

    // PROPERTY_SYSTEM (sizes the kept proposals and forgets them), PROPERTY_SMCSTRATEGY (kept
    // only), PROPERTY_FEEDBACK, PROPERTY_EXPRESSION (the goal; sets stopAtGoal),
    // PROPERTY_SMCCOVER (bool*), PROPERTY_SMCSTOPCONDITION (counted Expression),
    // PROPERTY_SMCDELAYVARIABLE (double* receiving every delay) and PROPERTY_DELTATIME (double*).
    void setProperty(const char* key, void* value) override;
    // One delay. Returns the result of the stage the state went to (downstream, or the query
    // sink when the step ended on the goal or the stop condition), or false after a report.
    bool put(ConcreteState* state) override;

    // Forgets every kept proposal (before each run).
    void resetRun();
    // The expression whose value is the number of the clock that bounds the run in time; null:
    // the last static clock (the global time clock).
    void setBoundClock(const ExpressionRef& clock) { boundClock = clock; }
    // Whether each successor carries a copy of the state from before the delay.
    void setKeepBefore(bool keep) { keepBefore = keep; }
    // One bit per process slot: the process's proposal is still valid. The transition step
    // clears the bits of the processes that move.
    std::vector<bool>& getKept() { return kept; }

    // Set by the owner.
    int32_t runBound = 0;  // time bound of the run (0: none); an infinite delay ends just past it
    pipeline::Sink<ConcreteState>* querySink = nullptr;
    bool* deadlocked = nullptr;
    bool* stopConditionMet = nullptr;
    RunRecord* recorder = nullptr;

private:
    // When the expression becomes true through waiting, at a positive moment within the bound,
    // the bound becomes that moment and the result is true.
    bool delayUntil(ConcreteState* state, double& bound, const ExpressionRef& expression);
    void advance(ConcreteState* state, double d);
    // The first process slot whose invariant the state does not satisfy, or -1.
    int64_t violatedInvariant(ConcreteState* state);
    // The delay the process in slot p proposes, from the window its invariant left in `window`:
    // made, none (a rate too small to draw from), or a report that ends the step.
    enum class Proposal { Made, None, Reported };
    Proposal propose(ConcreteState* state, uint32_t p, CSDecorator& window, bool fine, double& minBound, double& d);
    bool step(ConcreteState* state, ConcreteSuccessor& successor);
    bool sendDownstream(ConcreteSuccessor& successor);

    base::RefPtr<base::Object> strategy;
    ExpressionRef goal;
    ExpressionRef stopCondition;
    ExpressionRef boundClock;
    bool stopAtGoal;
    bool coverage = false;
    bool hasStopCondition = false;
    bool keepBefore = false;
    std::vector<bool> kept;
    std::vector<double> remaining;
    double* delayVariable = nullptr;
    RandomGenerator* random;
    double deltaTime = 0.01;

    // Scratch of one step, kept so that steps allocate nothing once warm.
    std::vector<double> rates;
    std::vector<uint32_t> mustAct;
    std::vector<uint32_t> winners;
};
