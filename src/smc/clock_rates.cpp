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

void advanceClocks(ConcreteState* state, const double* rates, double d, double grid)
{
    ClockValuation& clocks = state->getClocks();
    for (uint64_t k = 1; k < clocks.count; ++k) {
        if (rates[k] == 0) {
            continue;
        }
        double v = clocks.values[k] + rates[k] * d;
        if (grid > 0) {
            const double onGrid = std::rint(v / grid) * grid;
            if (std::fabs(v - onGrid) < 1e-10) {
                v = onGrid;
            }
        }
        const double nearest = std::rint(v);
        if (std::fabs(v - nearest) < 1e-10) {
            v = nearest;
        }
        clocks.values[k] = v;
    }
}
