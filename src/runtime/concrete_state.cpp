#include "runtime/concrete_state.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <ostream>

#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

namespace {
constexpr double tolerance = 1e-14;
}  // namespace

ConcreteState::ConcreteState(System* system) : DiscreteState(system)
{
    clocks.staticCount = system->getClockCount();
    clocks.spawnedCount = system->getExtraClockCount();
    clocks.count = clocks.staticCount + clocks.spawnedCount;
    clocks.values = new double[clocks.count > 0 ? clocks.count : 1]();
}

ConcreteState::ConcreteState(const ConcreteState& other) : DiscreteState(other), spawnTable(other.spawnTable)
{
    clocks.staticCount = system->getClockCount();
    clocks.spawnedCount = system->getExtraClockCount();
    clocks.count = clocks.staticCount + clocks.spawnedCount;
    // The source may have grown its valuation itself (spawning extends it before the System's
    // table is read again): the copy holds at least as many clocks as the source.
    if (other.clocks.count > clocks.count) {
        clocks.spawnedCount = other.clocks.count - clocks.staticCount;
        clocks.count = other.clocks.count;
    }
    clocks.values = new double[clocks.count > 0 ? clocks.count : 1]();
    std::copy(other.clocks.values, other.clocks.values + other.clocks.count, clocks.values);
}

ConcreteState::~ConcreteState()
{
    delete[] clocks.values;
    if (ownsSpawnTable) {
        delete spawnTable;
    }
}

// ---- Clocks -------------------------------------------------------------------------------------

bool ConcreteState::constrain(const dbm::clock_constraint_t* constraints, size_t n)
{
    for (size_t k = 0; k < n; ++k) {
        const dbm::clock_constraint_t& c = constraints[k];
        const double bound = dbm::boundValue(c.bound);
        const double d = clocks.values[c.i] - clocks.values[c.j];
        if (dbm::isStrict(c.bound) ? d >= bound : d > bound + tolerance) {
            return false;
        }
    }
    return true;
}

bool ConcreteState::satisfies(uint32_t i, uint32_t j, bool strict, double bound)
{
    const double d = clocks.values[i] - clocks.values[j];
    return strict ? d < bound : d <= bound + tolerance;
}

bool ConcreteState::satisfies(uint32_t i, uint32_t j, dbm::bound_t bound)
{
    const double x = dbm::boundValue(bound) + clocks.values[j];
    return dbm::isStrict(bound) ? clocks.values[i] < x : clocks.values[i] <= x + tolerance;
}

void ConcreteState::resetClock(uint32_t i, int32_t value)
{
    clocks.values[i] = value;
}

void ConcreteState::copyClock(uint32_t i, uint32_t j)
{
    clocks.values[i] = clocks.values[j];
}

void ConcreteState::setClockValue(uint32_t i, double value)
{
    clocks.values[i] = value;
}

void ConcreteState::getClockValue(uint32_t i, double& out) const
{
    out = clocks.values[i];
}

bool ConcreteState::growClocks(uint64_t n)
{
    if (n == 0) {
        return true;
    }
    double* grown = new (std::nothrow) double[clocks.count + n]();
    if (grown == nullptr) {
        return false;
    }
    std::copy(clocks.values, clocks.values + clocks.count, grown);
    delete[] clocks.values;
    clocks.values = grown;
    clocks.spawnedCount += n;
    clocks.count += n;
    return true;
}

// ---- Processes ----------------------------------------------------------------------------------

bool ConcreteState::hasCommittedLocation() const
{
    for (size_t p = 0; p < staticSlots + dynamicSlots; ++p) {
        if (locations[p] != nullptr && locations[p]->isCommitted()) {
            return true;
        }
    }
    return false;
}

void ConcreteState::countEnteredLocations()
{
    for (size_t p = 0; p < staticSlots; ++p) {
        if (locations[p] != nullptr) {
            ++locations[p]->timesEntered;
        }
    }
}

void ConcreteState::removeSpawnedProcess(int32_t processNumber)
{
    const size_t number = static_cast<size_t>(processNumber);
    if (processNumber < 0 || number >= system->getProcessCount() + system->getDynamicProcesses().size()) {
        throw Bug("removeSpawnedProcess: no process with number " + std::to_string(processNumber));
    }
    Process* process = system->getProcess(number);
    const int32_t templateIndex = process->dynamicTemplateIndex;
    if (spawnTable == nullptr || templateIndex < 0 || static_cast<size_t>(templateIndex) >= spawnTable->size()) {
        throw Bug("removeSpawnedProcess: process " + process->getName() + " is not a spawned process of this run");
    }
    SpawnRecord& record = (*spawnTable)[static_cast<size_t>(templateIndex)];
    const int64_t k = process->poolSlot;
    const int64_t last = record.liveCount - 1;
    if (k < 0 || k > last || static_cast<size_t>(last) >= record.processes.size() ||
        static_cast<size_t>(last) >= record.liveNumbers.size()) {
        throw Bug("removeSpawnedProcess: process " + process->getName() + " is not live");
    }
    if (number < staticSlots + dynamicSlots) {
        locations[number] = nullptr;
    }
    if (k != last) {
        std::swap(record.processes[static_cast<size_t>(k)], record.processes[static_cast<size_t>(last)]);
        record.processes[static_cast<size_t>(k)]->poolSlot = static_cast<int32_t>(k);
        record.processes[static_cast<size_t>(last)]->poolSlot = static_cast<int32_t>(last);
        record.liveNumbers[static_cast<size_t>(k)] = record.liveNumbers[static_cast<size_t>(last)];
    }
    record.liveNumbers.pop_back();
    record.liveCount = last;
}

// ---- Text ---------------------------------------------------------------------------------------

std::ostream& ConcreteState::print(std::ostream& os)
{
    DiscreteState::print(os);
    if (system != nullptr) {
        base::RefPtr<SystemClockAccessor> accessor(new SystemClockAccessor(system, this));
        for (uint64_t c = 1; c < clocks.count; ++c) {
            if (c > 1) {
                os << " ";
            }
            os << accessor->getClockName(static_cast<uint32_t>(c)) << "=" << clocks.values[c];
        }
    }
    return os << "\n";
}

ConcreteState* buildInitialState(System* system)
{
    return system->buildInitialState();
}
