#pragma once

// Concrete states: a discrete state together with one clock valuation (every clock a double).
// The state of the statistical simulator, and the only kind of state that holds processes
// spawned at run time. Clock constraints are tested rather than applied, with a tolerance of
// 1e-14 for non-strict bounds.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "runtime/discrete_state.h"
#include "runtime/process.h"
#include "support/object.h"

// The clock values of a concrete state: entry 0 the reference clock (0.0), then the static
// clocks, then the clocks of spawned processes; clock number k is entry k.
struct ClockValuation
{
    double* values;
    uint64_t count;         // staticCount + spawnedCount
    uint64_t spawnedCount;  // clocks of spawned processes
    uint64_t staticCount;   // clocks of the static model
};

// The processes of one dynamic template in a run: positions 0 .. liveCount - 1 of `processes`
// hold the live ones, the positions after them processes that ended, ready for reuse;
// `liveNumbers` holds the process number of each live position.
struct SpawnRecord
{
    int64_t liveCount = 0;
    std::vector<base::RefPtr<Process>> processes;
    std::vector<int32_t> liveNumbers;
};

// One record per dynamic template, in template order.
using SpawnTable = std::vector<SpawnRecord>;
using SpawnedProcessTable = SpawnTable;

class ConcreteState : public DiscreteState
{
public:
    // The discrete part for the System and every clock at 0.0; no spawn table.
    explicit ConcreteState(System* system);
    // The discrete part and the clock values of the source; clocks added to the System since
    // the source was made start at 0.0. The spawn table is shared, never owned.
    ConcreteState(const ConcreteState& other);
    ConcreteState& operator=(const ConcreteState&) = delete;
    // Frees the clock values and, when owned, the spawn table.
    ~ConcreteState() override;

    // ---- PublicState ----------------------------------------------------------------------------
    // Tests the constraints on the valuation (false at the first that fails); a non-strict bound
    // holds up to 1e-14 beyond it, a strict one exactly.
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override;
    bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) override;
    void resetClock(uint32_t i, int32_t value) override;
    void copyClock(uint32_t i, uint32_t j) override;
    void setClockValue(uint32_t i, double value) override;
    void getClockValue(uint32_t i, double& out) const override;
    ConcreteState* getConcreteState() override { return this; }
    size_t getDynamicProcessCount() const override { return dynamicSlots; }

    ClockValuation& getClocks() { return clocks; }
    const ClockValuation& getClocks() const { return clocks; }
    // Adds n clocks of a spawned process (0.0) at the end of the valuation; false when the
    // memory cannot be had.
    bool growClocks(uint64_t n);

    // Some static or dynamic slot is in a committed location (empty slots skipped).
    bool hasCommittedLocation() const;
    using DiscreteState::hasCommittedLocation;
    // Counts one entry into the current location of every static process.
    void countEnteredLocations();
    // Ends the spawned process with that number: its slot becomes empty, the last live process
    // of its template takes its position, and it moves behind the live ones for reuse.
    void removeSpawnedProcess(int32_t processNumber);

    // The discrete part, then "x=1.5 y=0" for the clocks 1.. and a newline.
    std::ostream& print(std::ostream& os) override;
    using DiscreteState::print;

    // The spawned-process table, shared by every copy of a run's state; null until a checker
    // attaches one. The state deletes it only when ownsSpawnTable is set.
    SpawnTable* spawnTable = nullptr;
    bool ownsSpawnTable = false;

private:
    ClockValuation clocks;
};

// System::buildInitialState.
ConcreteState* buildInitialState(System* system);
