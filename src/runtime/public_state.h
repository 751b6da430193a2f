#pragma once

// The one interface through which compiled guards, invariants, updates and values read and
// change a state. The same compiled model runs on symbolic states (a discrete part and a zone),
// concrete states (a discrete part and clock values as doubles) and on decorators that wrap
// another state to redirect or record what an evaluation does.

#include <cstddef>
#include <cstdint>

#include "dbm/bound.h"

class Location;
class System;
class SymbolicState;
class ConcreteState;

class PublicState
{
public:
    PublicState() = default;
    PublicState(const PublicState&) = default;
    PublicState& operator=(const PublicState&) = default;
    virtual ~PublicState() = default;

    // Integer state variables. Writers use the writable form, readers the read-only (const)
    // form; only decorators make the two differ. Call the read-only form on a non-const state
    // with std::as_const(*state).getVariables().
    virtual int32_t* getVariables() = 0;
    virtual const int32_t* getVariables() const = 0;
    // Floating-point variables, the same two forms.
    virtual double* getDoubles() = 0;
    virtual const double* getDoubles() const = 0;
    // Meta variables: travel with the state but take no part in comparing states.
    virtual int32_t* getMetaVariables() = 0;

    // Applies n bounds on clock differences; false when no clock valuation of the state
    // satisfies them.
    virtual bool constrain(const dbm::clock_constraint_t* constraints, size_t n) = 0;
    // Tests x_i - x_j < bound (strict) or <= bound without changing the state.
    virtual bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) = 0;
    // The same with an encoded bound.
    virtual bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) = 0;
    // x_i := value.
    virtual void resetClock(uint32_t i, int32_t value) = 0;
    // x_i := x_j.
    virtual void copyClock(uint32_t i, uint32_t j) = 0;
    // The location of process slot p (null for an empty slot).
    virtual Location* getLocation(uint32_t p) const = 0;
    virtual System* getSystem() const = 0;
    // x_i := value as a double.
    virtual void setClockValue(uint32_t i, double value) = 0;
    // out := x_i as a double.
    virtual void getClockValue(uint32_t i, double& out) const = 0;

    // The state as a symbolic or a concrete state (decorators answer with the state they wrap);
    // null when it is not one.
    virtual SymbolicState* getSymbolicState() { return nullptr; }
    virtual ConcreteState* getConcreteState() { return nullptr; }
    // Number of process slots added for spawned processes.
    virtual size_t getDynamicProcessCount() const { return 0; }
    // Called before and after a value expression is evaluated on the state.
    virtual void beginEvaluation() {}
    virtual void endEvaluation() {}

    // The result cell: an evaluation that produces a floating-point value leaves it here, in the
    // very state object it was evaluated on, and the caller reads it right after the call. It
    // has no defined value before the first such evaluation.
    double result = 0.0;
};
