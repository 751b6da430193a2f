#include "smc/clock_rates.h"

#include <cmath>

#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/system.h"

bool computeClockRates(ConcreteState* state, std::vector<double>& rates)
{
    const ClockValuation& clocks = state->getClocks();
    rates.assign(clocks.count, 1.0);
    bool fine = false;
    const size_t slots = state->getSlotCount();
    for (size_t p = 0; p < slots; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        fine = fine || location->floatingPointGuard;
        for (const Location::ClockRate& entry : location->getClockRates()) {
            const int32_t k = entry.clock->evaluate(state);
            entry.rate->evaluate(state);
            if (k >= 0 && static_cast<uint64_t>(k) < rates.size()) {
                rates[static_cast<size_t>(k)] = state->result;
            }
            fine = fine || entry.notConstant;
        }
    }
    return fine;
}

namespace {

// A value within 1e-10 of a multiple of `unit` becomes that multiple.
inline double snapped(double v, double unit)
{
    const double nearest = std::rint(v / unit) * unit;
    return std::fabs(v - nearest) < 1e-10 ? nearest : v;
}

inline double snappedToInteger(double v)
{
    const double nearest = std::rint(v);
    return std::fabs(v - nearest) < 1e-10 ? nearest : v;
}

}  // namespace

void advanceClocks(ConcreteState* state, const double* rates, double d, double grid)
{
    ClockValuation& clocks = state->getClocks();
    // Only a delay of exactly one fine step can leave a clock just off a multiple of the step;
    // other delays (drawn at random, or cut short by a limit) are left alone. The two loops keep
    // the test out of the common one.
    if (grid > 0 && d == grid) {
        for (uint64_t k = 1; k < clocks.count; ++k) {
            if (rates[k] != 0) {
                clocks.values[k] = snappedToInteger(snapped(clocks.values[k] + rates[k] * d, grid));
            }
        }
        return;
    }
    for (uint64_t k = 1; k < clocks.count; ++k) {
        if (rates[k] != 0) {
            clocks.values[k] = snappedToInteger(clocks.values[k] + rates[k] * d);
        }
    }
}
