#pragma once

// The discrete part shared by symbolic and concrete states: the current location of every
// process slot and the values of the integer, meta and floating-point variables, with the
// urgency tests that decide whether time may pass.

#include <cstdint>
#include <iosfwd>

#include "runtime/double_array.h"
#include "runtime/public_state.h"
#include "runtime/value_array.h"

class DiscreteState : public PublicState
{
public:
    ~DiscreteState() override;

    int32_t* getVariables() override { return integers.values; }
    const int32_t* getVariables() const override { return integers.values; }
    double* getDoubles() override { return doubles.values; }
    const double* getDoubles() const override { return doubles.values; }
    int32_t* getMetaVariables() override { return meta.values; }
    // Slot numbers are not range-tested.
    Location* getLocation(uint32_t p) const override { return locations[p]; }
    System* getSystem() const override { return system; }

    void setLocation(uint32_t p, Location* location) { locations[p] = location; }
    // The location table: the static slots in process-number order, then the dynamic slots.
    Location* const* getLocations() const { return locations; }
    Location** getLocations() { return locations; }
    size_t getStaticSlotCount() const { return staticSlots; }
    size_t getDynamicSlotCount() const { return dynamicSlots; }
    size_t getSlotCount() const { return staticSlots + dynamicSlots; }

    ValueArray& getIntegerArray() { return integers; }
    const ValueArray& getIntegerArray() const { return integers; }
    ValueArray& getMetaArray() { return meta; }
    const ValueArray& getMetaArray() const { return meta; }
    DoubleArray& getDoubleArray() { return doubles; }
    const DoubleArray& getDoubleArray() const { return doubles; }

    // Locations, a blank, the variable values and a newline (System::printState, no mask).
    virtual std::ostream& print(std::ostream& os);
    // The same for the processes whose mask byte is non-zero (null: all).
    std::ostream& print(std::ostream& os, const uint8_t* mask);
    std::ostream& printVariables(std::ostream& os);
    std::ostream& printLocations(std::ostream& os, const uint8_t* mask);

    // Copies the other state's static location slots and its integer and meta values; the
    // floating-point values and the dynamic slots are not touched.
    void assignDiscrete(const DiscreteState& other);
    // Adds n empty slots at the end of the location table; Bug "Unable to reallocate Location
    // Vector" when the table cannot be enlarged (the state is then unchanged).
    bool growLocationVector(size_t n);

    // Urgency tests. Processes are selected by a group (negative: every static process) or by a
    // byte mask with one entry per process slot.
    // Some selected static process is in an urgent or committed location.
    bool hasUrgentOrCommittedLocation(int32_t group);
    // Over the static slots whose mask entry is non-zero; with a null mask over every static and
    // dynamic slot, empty slots skipped.
    bool hasUrgentOrCommittedLocation(const uint8_t* mask);
    bool hasCommittedLocation(int32_t group);
    // An urgent synchronisation is enabled: an urgent broadcast send, or a send and a receive of
    // two distinct selected slots on one urgent channel, whose discrete guards hold. Without
    // urgent channels no guard is evaluated.
    bool hasEnabledUrgentSync(int32_t group, const uint8_t* mask);

protected:
    // The discrete part for the System: slots for its static and dynamic processes (all empty),
    // arrays with its counts, every integer and meta value 0. std::bad_alloc when the location
    // table cannot be allocated.
    explicit DiscreteState(System* system);
    // The same System and slots; the arrays made with the System's current counts and then
    // assigned from the source.
    DiscreteState(const DiscreteState& other);
    DiscreteState& operator=(const DiscreteState&) = delete;

    System* system;
    Location** locations;
    size_t staticSlots;
    size_t dynamicSlots;
    ValueArray integers;
    ValueArray meta;
    DoubleArray doubles;
};
