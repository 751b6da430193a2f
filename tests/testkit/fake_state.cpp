#include "testkit/fake_state.h"

namespace testkit {

FakeState::FakeState(size_t integerCount, size_t metaCount, size_t doubleCount, uint32_t clocks, size_t slots,
                     System* system)
    : integers(integerCount, 0),
      meta(metaCount, 0),
      doubles(doubleCount, 0.0),
      locations(slots, nullptr),
      clockValues(clocks, 0.0),
      zone(clocks),
      system(system)
{
    zone.setInit();
}

bool FakeState::constrain(const dbm::clock_constraint_t* added, size_t n)
{
    ++constrainCalls;
    constraints.insert(constraints.end(), added, added + n);
    return zone.constrain(added, n);
}

bool FakeState::satisfies(uint32_t i, uint32_t j, bool strict, double bound)
{
    const double d = clockValues[i] - clockValues[j];
    return strict ? d < bound : d <= bound;
}

bool FakeState::satisfies(uint32_t i, uint32_t j, dbm::bound_t bound)
{
    return zone.satisfies(i, j, bound);
}

void FakeState::resetClock(uint32_t i, int32_t value)
{
    zone.updateValue(i, value);
    clockValues[i] = value;
}

void FakeState::copyClock(uint32_t i, uint32_t j)
{
    zone.updateClock(i, j);
    clockValues[i] = clockValues[j];
}

}  // namespace testkit
