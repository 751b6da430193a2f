#pragma once

// A stand-in for a real state in tests of code that evaluates expressions: plain arrays for the
// integer, meta and double variables and the location slots, a federation for the zone, and a
// concrete clock valuation for the double clock operations. Every call of constrain and of the
// evaluation hooks is counted, so a test can see what an evaluation did.

#include <cstdint>
#include <vector>

#include "dbm/fed.h"
#include "runtime/public_state.h"

namespace testkit {

class FakeState : public PublicState
{
public:
    // integers, meta and doubles zero; the zone is all of the clocks' space (unconstrained, clocks
    // >= 0) over `clocks` clocks including the reference clock; the clock values 0.0.
    explicit FakeState(size_t integers = 0, size_t meta = 0, size_t doubles = 0, uint32_t clocks = 1,
                       size_t slots = 0, System* system = nullptr);

    int32_t* getVariables() override { return integers.data(); }
    const int32_t* getVariables() const override { return integers.data(); }
    double* getDoubles() override { return doubles.data(); }
    const double* getDoubles() const override { return doubles.data(); }
    int32_t* getMetaVariables() override { return meta.data(); }

    // Constrains the zone (and counts the call).
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    // Tests the clock values (no tolerance).
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override;
    // Asks the zone.
    bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) override;
    // Resets the clock in the zone and in the clock values.
    void resetClock(uint32_t i, int32_t value) override;
    void copyClock(uint32_t i, uint32_t j) override;
    Location* getLocation(uint32_t p) const override { return p < locations.size() ? locations[p] : nullptr; }
    System* getSystem() const override { return system; }
    void setClockValue(uint32_t i, double value) override { clockValues[i] = value; }
    void getClockValue(uint32_t i, double& out) const override { out = clockValues[i]; }
    void beginEvaluation() override { ++beginCount; }
    void endEvaluation() override { ++endCount; }

    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
    std::vector<double> doubles;
    std::vector<Location*> locations;
    std::vector<double> clockValues;
    dbm::fed_t zone;
    System* system;

    // What evaluations did to the state.
    int constrainCalls = 0;
    std::vector<dbm::clock_constraint_t> constraints;
    int beginCount = 0;
    int endCount = 0;
};

}  // namespace testkit
