#pragma once

// What the statistical checkers have in common: the run bound on a clock, the last stages of
// their inner chains (predicate, value, nothing), the progress stage, the guard against runs in
// which time does not advance, and the fields and key handling of the checker itself.
//
// A checker is one pipeline stage: it takes the initial concrete state, makes as many random runs
// as its method needs through its inner chain (progress, delay step, transition step, last stage),
// and emits one verdict.

#include <cstdint>
#include <string>

#include "pipeline/job.h"
#include "pipeline/pipeline.h"
#include "runtime/expression.h"

class ConcreteState;
class System;

// The clock that bounds a run in time: an expression giving its clock number, or none for the
// global time clock, the last static clock.
class BoundClock
{
public:
    double boundClockValue(ConcreteState* state) const;

protected:
    ExpressionRef boundClockExpression;
};

// The predicate at the end of a run's chain: when it holds, the run is done and satisfied.
class ConcreteQuery : public pipeline::Sink<ConcreteState>
{
public:
    // PROPERTY_EXPRESSION: the predicate (counted).
    void setProperty(const char* key, void* value) override;
    // Sets both flags when the predicate holds (never clears them); returns whether it holds.
    bool put(ConcreteState* state) override;

    bool* done = nullptr;
    bool* satisfied = nullptr;

private:
    ExpressionRef predicate;
};

// The value at the end of a run's chain, written into the owner's cell.
class ConcreteValue : public pipeline::Sink<ConcreteState>
{
public:
    explicit ConcreteValue(double* cell) : cell(cell) {}
    // PROPERTY_EXPRESSION: the value (counted).
    void setProperty(const char* key, void* value) override;
    // The cell := the clock the expression names (clock-valued) or the double the evaluation
    // left in the state. True.
    bool put(ConcreteState* state) override;

    bool clockValued = false;

private:
    ExpressionRef expression;
    double* cell;
};

// A last stage that does nothing.
class SMCDummySink : public pipeline::Sink<ConcreteState>
{
public:
    bool put(ConcreteState*) override { return true; }
};

// Ticks the job's progress for every state it passes on.
class ConcreteProgressFilter : public pipeline::AbstractFilter<ConcreteState, ConcreteState>
{
public:
    // PROPERTY_JOB.
    void setProperty(const char* key, void* value) override;
    bool put(ConcreteState* state) override;

private:
    pipeline::JobInterface* job = nullptr;
};

// Replaces the text (when there is one) with the message of a run in which time stands still.
void reportZeno(std::string* feedback);

// Counts the steps of a time-bounded run: after more than 100000 steps since the last look, the
// bound clock must have advanced by more than `advance`, else the run is taken for Zeno behaviour.
class ZenoGuard
{
public:
    static constexpr int64_t stepLimit = 100000;

    explicit ZenoGuard(double advance) : advance(advance) {}
    void reset()
    {
        steps = 0;
        last = 0.0;
    }
    // Called before each step with the bound clock's value; false when the run is Zeno.
    bool beforeStep(double t)
    {
        if (++steps <= stepLimit) {
            return true;
        }
        if (t > last + advance) {
            last = t;
            steps = 0;
            return true;
        }
        return false;
    }

private:
    double advance;
    int64_t steps = 0;
    double last = 0.0;
};

// The fields and keys that every statistical checker shares.
class StatisticalChecker : public pipeline::CompoundFilter<ConcreteState, bool>
{
public:
    bool isAborted() const { return aborted; }

protected:
    // PROPERTY_SYSTEM, PROPERTY_SILENT, PROPERTY_STOP and PROPERTY_FEEDBACK; the caller then
    // forwards every key to the stages.
    void setCommonProperty(const char* key, void* value);
    // Hands the verdict to the connected sink.
    void emit(bool verdict);

    System* system = nullptr;
    bool silent = true;
    bool timeBounded = true;
    bool stopRequested = false;
    bool aborted = false;
    bool deadlocked = false;
    int32_t runBound = 0;
    int64_t stepCount = 0;
    std::string* feedback = nullptr;
    pipeline::Sink<ConcreteState>* chainHead = nullptr;
};
