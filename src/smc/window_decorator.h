#pragma once

// The delay window of clock constraints on a concrete state whose clocks move at given rates.
//
// The simulator must know not only whether an invariant, a guard or a predicate holds now, but
// for which delays it holds while every clock k advances by rates[k] per time unit. Evaluated
// through this decorator, a clock constraint answers for the current clock values and narrows
// the window [lower, upper] of admissible delays; `hit` records that a constraint sits exactly
// at its limit now. Data variables, locations and clock values are read through to the wrapped
// state, which is never changed. Byte-code clock comparisons (the encoded form of satisfies)
// are accepted unseen, so a whole guard evaluated through the decorator tests its data part only.

#include <cstddef>
#include <cstdint>
#include <limits>

#include "dbm/bound.h"
#include "runtime/concrete_state.h"
#include "runtime/state_decorators.h"

class CSDecorator : public StateDecorator
{
public:
    // A non-strict limit is reached within this distance of it.
    static constexpr double tolerance = 1e-14;
    // A strict limit is moved this far into its admissible side.
    static constexpr double strictMargin = 1e-9;

    // The state and one rate per clock of its valuation; both must outlive the decorator.
    CSDecorator(ConcreteState* state, const double* rates) : StateDecorator(state), concrete(state), rates(rates) {}

    // Back to the empty knowledge: no hit, window [-1, +inf].
    void resetWindow()
    {
        hit = false;
        lower = -1.0;
        upper = std::numeric_limits<double>::infinity();
    }

    // The constraints in order, each through the double form of satisfies; false at the first
    // that does not hold (the later ones are not looked at).
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    // x_i - x_j < bound (strict) or <= bound holds now; narrows the window to the delays after
    // which it holds.
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override;
    // Always true, the window unchanged.
    bool satisfies(uint32_t, uint32_t, dbm::bound_t) override { return true; }

    bool hit = false;
    double lower = -1.0;
    double upper = std::numeric_limits<double>::infinity();

private:
    bool upperBound(uint32_t i, bool strict, double c);
    bool lowerBound(uint32_t j, bool strict, double c);
    bool difference(uint32_t i, uint32_t j, bool strict, double c);

    ConcreteState* concrete;
    const double* rates;
};
