#pragma once

// State decorators: states that wrap another state and pass an evaluation through to it,
// changing or recording part of what it does. Expressions cannot tell a decorator from a state,
// so the same compiled guards, invariants and updates run against a real state, a private copy
// of its discrete values, or a recorder. Decorators are short-lived, never own the state they
// wrap and allocate nothing.

#include <cstdint>
#include <utility>
#include <vector>

#include "dbm/bound.h"
#include "runtime/concrete_state.h"
#include "runtime/discrete_state.h"
#include "runtime/public_state.h"

// Forwards everything to the wrapped state, except: the read-only forms of getVariables and
// getDoubles answer with the wrapped state's writable forms, and beginEvaluation and
// endEvaluation are not passed on. Subclasses override single operations.
class StateDecorator : public PublicState
{
public:
    explicit StateDecorator(PublicState* state) : state(state) {}

    int32_t* getVariables() override { return state->getVariables(); }
    const int32_t* getVariables() const override { return state->getVariables(); }
    double* getDoubles() override { return state->getDoubles(); }
    const double* getDoubles() const override { return state->getDoubles(); }
    int32_t* getMetaVariables() override { return state->getMetaVariables(); }
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override
    {
        return state->constrain(constraints, n);
    }
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override
    {
        return state->satisfies(i, j, strict, bound);
    }
    bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) override { return state->satisfies(i, j, bound); }
    void resetClock(uint32_t i, int32_t value) override { state->resetClock(i, value); }
    void copyClock(uint32_t i, uint32_t j) override { state->copyClock(i, j); }
    Location* getLocation(uint32_t p) const override { return state->getLocation(p); }
    System* getSystem() const override { return state->getSystem(); }
    void setClockValue(uint32_t i, double value) override { state->setClockValue(i, value); }
    void getClockValue(uint32_t i, double& out) const override { state->getClockValue(i, out); }
    SymbolicState* getSymbolicState() override { return state->getSymbolicState(); }
    ConcreteState* getConcreteState() override { return state->getConcreteState(); }
    size_t getDynamicProcessCount() const override { return state->getDynamicProcessCount(); }
    void beginEvaluation() override {}
    void endEvaluation() override {}

    PublicState* getWrapped() const { return state; }

protected:
    PublicState* state;
};

// Shows no variables and ignores every clock change: every constraint is accepted. The base of
// decorators that must not change the state they wrap.
class ConstStateDecorator : public PublicState
{
public:
    int32_t* getVariables() override { return nullptr; }
    const int32_t* getVariables() const override { return nullptr; }
    double* getDoubles() override { return nullptr; }
    const double* getDoubles() const override { return nullptr; }
    int32_t* getMetaVariables() override { return nullptr; }
    bool constrain(const dbm::clock_constraint_t*, size_t) override { return true; }
    bool satisfies(uint32_t, uint32_t, bool, double) override { return true; }
    bool satisfies(uint32_t, uint32_t, dbm::bound_t) override { return true; }
    void resetClock(uint32_t, int32_t) override {}
    void copyClock(uint32_t, uint32_t) override {}
    Location* getLocation(uint32_t p) const override { return state->getLocation(p); }
    System* getSystem() const override { return state->getSystem(); }
    void setClockValue(uint32_t, double) override {}
    void getClockValue(uint32_t i, double& out) const override { state->getClockValue(i, out); }
    size_t getDynamicProcessCount() const override { return state->getDynamicProcessCount(); }

    PublicState* getWrapped() const { return state; }

protected:
    explicit ConstStateDecorator(PublicState* state) : state(state) {}

    PublicState* state;
};

// Runs guards and updates on a private copy of the wrapped state's integer and meta values: the
// wrapped state does not change, and afterwards the caller's arrays hold the values after the
// evaluation. The arrays belong to the caller and must hold the whole integer and meta arrays of
// the state (DiscreteState::getIntegerArray().size(), getMetaArray().size()), spawned
// processes included.
class SimulatingStateDecorator : public ConstStateDecorator
{
public:
    SimulatingStateDecorator(DiscreteState* state, int32_t* integers, int32_t* meta);

    int32_t* getVariables() override { return integers; }
    const int32_t* getVariables() const override { return integers; }
    int32_t* getMetaVariables() override { return meta; }
    // Floating-point values take no part in the effects followed here: they are read from the
    // wrapped state, and as there is no writable form, writes to them are dropped.
    double* getDoubles() override { return nullptr; }
    const double* getDoubles() const override { return std::as_const(*state).getDoubles(); }

    // Number of entries copied into each array (the wrapped state's whole arrays).
    size_t getIntegerCount() const { return integerCount; }
    size_t getMetaCount() const { return metaCount; }

protected:
    int32_t* integers;
    int32_t* meta;
    size_t integerCount;
    size_t metaCount;
};

// Follows a transition on a concrete clock valuation: clock resets and copies land in the
// valuation (index 0 the reference clock), the discrete effects in the caller's arrays.
class ResetIndicator : public SimulatingStateDecorator
{
public:
    ResetIndicator(DiscreteState* state, int32_t* integers, int32_t* meta, double* valuation);
    ResetIndicator(DiscreteState* state, int32_t* integers, int32_t* meta, ClockValuation* valuation)
        : ResetIndicator(state, integers, meta, valuation->values)
    {}

    void resetClock(uint32_t i, int32_t value) override { valuation[i] = value; }
    void copyClock(uint32_t i, uint32_t j) override { valuation[i] = valuation[j]; }

private:
    double* valuation;
};

// Collects the clock constraints an evaluation applies (accepting them all), while variable
// writes reach the wrapped state.
class ConstraintRecorder : public ConstStateDecorator
{
public:
    ConstraintRecorder(PublicState* state, std::vector<dbm::clock_constraint_t>* constraints);

    int32_t* getVariables() override { return integers; }
    const int32_t* getVariables() const override { return integers; }
    int32_t* getMetaVariables() override { return meta; }
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;

private:
    int32_t* integers;
    int32_t* meta;
    std::vector<dbm::clock_constraint_t>* constraints;
};

// Update semantics under which all updates of one transition read the values from before the
// transition: integer writes go to a scratch copy, reads see the wrapped state, and commit
// writes the copy back. Meta and floating-point variables and clocks act on the wrapped state
// directly.
class ModestState : public StateDecorator
{
public:
    // Copies the first n integers of the wrapped state into scratch.
    ModestState(PublicState* state, int32_t* scratch, size_t n);

    int32_t* getVariables() override { return scratch; }
    using StateDecorator::getVariables;

    // Copies the n scratch entries back into the wrapped state.
    void commit();

private:
    size_t n;
    int32_t* scratch;
};

// Records the clock constraints and the clock resets of a step, on a private copy of the
// discrete values, so that System::stepBack can undo the step on a zone.
class StepBackRecorder : public SimulatingStateDecorator
{
public:
    StepBackRecorder(DiscreteState* state, int32_t* integers, int32_t* meta);

    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    void resetClock(uint32_t i, int32_t value) override;
    // Records a copy of clock `source` into `clock` as (clock, -source).
    virtual void recordCopy(uint32_t clock, uint32_t source);

    const std::vector<dbm::clock_constraint_t>& getConstraints() const { return constraints; }
    const std::vector<std::pair<int32_t, int32_t>>& getResets() const { return resets; }

private:
    std::vector<dbm::clock_constraint_t> constraints;
    std::vector<std::pair<int32_t, int32_t>> resets;
};
