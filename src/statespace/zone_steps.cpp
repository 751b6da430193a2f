#include "statespace/zone_steps.h"

#include <cstdint>
#include <vector>

#include "runtime/expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace zonesteps {

bool isUrgent(SymbolicState* state)
{
    return state->hasUrgentOrCommittedLocation(-1) || state->hasEnabledUrgentSync(-1, nullptr);
}

void past(SymbolicState* state, dbm::fed_t& zone)
{
    System* system = state->getSystem();
    if (system->hasStopWatches) {
        // Stopped clocks, then clocks given a rate: two words per 32 clocks.
        const size_t words = (system->getClockCount() + 31) / 32;
        constexpr size_t local = 8;
        uint32_t onStack[2 * local] = {};
        std::vector<uint32_t> onHeap;
        uint32_t* bits = onStack;
        if (words > local) {
            onHeap.assign(2 * words, 0);
            bits = onHeap.data();
        }
        if (system->evaluateClockRates(state, bits)) {
            zone.downWithStopped(bits);
            return;
        }
    }
    zone.down();
}

void stepBack(SymbolicState* source, EdgeTuple transition, dbm::fed_t& zone, Expression* condition)
{
    System* system = source->getSystem();
    system->stepBack(source, transition, zone, nullptr, -1, nullptr);
    if (condition == nullptr || zone.isEmpty()) {
        return;
    }
    // Evaluated on a symbolic state, a disjunction keeps the union of its sides.
    SymbolicState* scratch = source->cloneDiscrete();
    scratch->zone = zone;
    try {
        if (condition->evaluate(scratch) != 0) {
            zone = scratch->zone;
        } else {
            zone.setEmpty();
        }
    } catch (...) {
        scratch->release();
        throw;
    }
    scratch->release();
}

}  // namespace zonesteps
