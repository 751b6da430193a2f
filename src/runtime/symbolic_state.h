#pragma once

// Symbolic states: a discrete state together with a federation of zones, the clock valuations the
// state stands for. They come from and go back to the free-state pool of their System instead of
// being allocated and freed one by one; their zones are shared copy-on-write between copies.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "dbm/fed.h"
#include "dbm/print.h"
#include "runtime/discrete_state.h"
#include "runtime/edge.h"

class SymbolicState : public DiscreteState
{
public:
    // The cost of a state under the installed cost function.
    using CostFunction = int32_t (*)(const SymbolicState*);

    // The discrete part for the System, an empty federation over its static clocks, storeMark 0,
    // traceIndex -1. States are normally taken with System::acquireState.
    explicit SymbolicState(System* system);
    SymbolicState(const SymbolicState&) = delete;
    ~SymbolicState() override;

    // ---- PublicState ----------------------------------------------------------------------------
    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override;
    // True: doubles are not tested on zones.
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override;
    // Some zone has a point with x_i - x_j within the bound.
    bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) override;
    void resetClock(uint32_t i, int32_t value) override;
    void copyClock(uint32_t i, uint32_t j) override;
    // CannotEvaluateExpression "SymbolicState: clock: <name> <- double".
    void setClockValue(uint32_t i, double value) override;
    // CannotEvaluateExpression "SymbolicState: clock: <name> -> double".
    void getClockValue(uint32_t i, double& out) const override;
    SymbolicState* getSymbolicState() override { return this; }

    // ---- Pool and copies ------------------------------------------------------------------------
    // Puts the state back into its System's pool.
    void release();
    // Copies the static location slots, the integer and meta values and both marks into other;
    // its zone and floating-point values are left alone.
    void copyDiscreteTo(SymbolicState* other) const;
    // A pooled state with this discrete part and marks; the caller gives it a zone.
    SymbolicState* cloneDiscrete() const;
    // cloneDiscrete sharing this state's zone.
    SymbolicState* duplicate() const;
    // Becomes a copy of other: shares its zone, takes its integer and meta values, marks and
    // static location slots (not the floating-point values).
    void assign(const SymbolicState* other);
    // A pooled full copy whose zone is shared until one of the two changes it.
    SymbolicState* clone() const;

    // ---- Comparison -------------------------------------------------------------------------------
    // The same static locations and integer values (meta, doubles and zones are not compared).
    bool equalDiscrete(const SymbolicState* other) const;
    // 0 different, 1 this includes other, 2 this is included in other, 3 equal; with a cost
    // function a state includes another only when it is no more expensive.
    int relation(const SymbolicState* other) const;
    static void setCostFunction(CostFunction function);
    static CostFunction getCostFunction();
    int32_t getCost() const;

    // ---- Time ---------------------------------------------------------------------------------------
    // Lets time pass on the zone, holding the clocks stopped in the current locations.
    void delay();
    // False for a null or empty transition, or when the process of one of its edges is now in a
    // loop-entry location; true otherwise.
    bool avoidsLoopEntries(EdgeTuple transition) const;
    void canonize(EdgeTuple) {}
    void zoneChanged() {}

    // ---- Text -------------------------------------------------------------------------------------
    // The discrete part, then the zone's minimal constraints and a newline.
    std::ostream& print(std::ostream& os) override;
    using DiscreteState::print;
    // The zone as clock constraints ("x>=2, x<=5, x-y<3"; several zones "(..) or (..)").
    void printZone(std::ostream& os) const;
    // A newline, the locations, a newline, the zone, a blank, the variables, a newline.
    void describe(std::ostream& os, const uint8_t* mask);
    // The numeric dump of a state: location numbers, the first zone's bounds, the variables.
    void printNumeric(std::ostream& os, bool minimal) const;

    // The zone, shared copy-on-write between states.
    dbm::fed_t zone;
    // Whether the space reduction stores the state (set by the successor computation, stored
    // and restored with the state).
    int32_t storeMark = 0;
    // The state's record in the trace store, -1 when none.
    int32_t traceIndex = -1;
};

// Names of the model's clocks for the zone printers.
class SystemClockAccessor : public dbm::ClockAccessor
{
public:
    // Entry i is the clock number of clock i (static, then dynamic-template clocks), evaluated on
    // the state.
    SystemClockAccessor(System* system, PublicState* state);

    // The name of clock number table[k].
    std::string getClockName(uint32_t k) const override;

private:
    System* system;
    std::unique_ptr<int32_t[]> table;
    size_t size;
};
