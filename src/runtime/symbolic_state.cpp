#include "runtime/symbolic_state.h"

#include <ostream>
#include <vector>

#include "dbm/encoded.h"
#include "runtime/exceptions.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/globals.h"

namespace {
SymbolicState::CostFunction& costFunction()
{
    static SymbolicState::CostFunction function = nullptr;
    return function;
}

std::string clockName(const System* system, uint32_t clock)
{
    const ClockVariable* variable = system != nullptr ? system->getClockVariable(clock) : nullptr;
    return variable != nullptr ? variable->getName() : "#" + std::to_string(clock);
}
}  // namespace

SymbolicState::SymbolicState(System* system)
    : DiscreteState(system), zone(static_cast<uint32_t>(system->getClockCount() > 0 ? system->getClockCount() : 1))
{}

SymbolicState::~SymbolicState() = default;

// ---- Clocks -------------------------------------------------------------------------------------

bool SymbolicState::constrain(const dbm::clock_constraint_t* constraints, size_t n)
{
    return zone.constrain(constraints, n);
}

bool SymbolicState::satisfies(uint32_t, uint32_t, bool, double)
{
    return true;
}

bool SymbolicState::satisfies(uint32_t i, uint32_t j, dbm::bound_t bound)
{
    return zone.satisfies(i, j, bound);
}

void SymbolicState::resetClock(uint32_t i, int32_t value)
{
    zone.updateValue(i, value);
}

void SymbolicState::copyClock(uint32_t i, uint32_t j)
{
    zone.updateClock(i, j);
}

void SymbolicState::setClockValue(uint32_t i, double)
{
    const std::string name = clockName(system, i);
    throw CannotEvaluateExpression("SymbolicState: clock: " + name + " <- double", NO_POSITION, name, -1);
}

void SymbolicState::getClockValue(uint32_t i, double&) const
{
    const std::string name = clockName(system, i);
    throw CannotEvaluateExpression("SymbolicState: clock: " + name + " -> double", NO_POSITION, name, -1);
}

// ---- Pool and copies ----------------------------------------------------------------------------

void SymbolicState::release()
{
    system->releaseState(this);
}

void SymbolicState::copyDiscreteTo(SymbolicState* other) const
{
    std::copy(locations, locations + staticSlots, other->locations);
    other->integers.assign(integers);
    other->meta.assign(meta);
    other->storeMark = storeMark;
    other->traceIndex = traceIndex;
}

SymbolicState* SymbolicState::cloneDiscrete() const
{
    SymbolicState* copy = system->acquireState();
    copyDiscreteTo(copy);
    return copy;
}

SymbolicState* SymbolicState::duplicate() const
{
    SymbolicState* copy = cloneDiscrete();
    copy->zone = zone;
    return copy;
}

void SymbolicState::assign(const SymbolicState* other)
{
    zone = other->zone;
    integers.assign(other->integers);
    meta.assign(other->meta);
    storeMark = other->storeMark;
    traceIndex = other->traceIndex;
    std::copy(other->locations, other->locations + other->staticSlots, locations);
}

SymbolicState* SymbolicState::clone() const
{
    SymbolicState* copy = system->acquireState();
    copy->assign(this);
    return copy;
}

// ---- Comparison ---------------------------------------------------------------------------------

bool SymbolicState::equalDiscrete(const SymbolicState* other) const
{
    return std::equal(locations, locations + staticSlots, other->locations) && integers == other->integers;
}

int SymbolicState::relation(const SymbolicState* other) const
{
    if (!equalDiscrete(other)) {
        return dbm::DIFFERENT;
    }
    const int r = zone.relation(other->zone);
    if (r < 0 || r > 3) {
        throw Bug("Strange result from relation");
    }
    CostFunction function = costFunction();
    if (function == nullptr) {
        return r;
    }
    const int32_t mine = function(this);
    const int32_t theirs = function(other);
    switch (r) {
    case dbm::DIFFERENT:
        return dbm::DIFFERENT;
    case dbm::SUPERSET:
        return mine <= theirs ? dbm::SUPERSET : dbm::DIFFERENT;
    case dbm::SUBSET:
        return mine >= theirs ? dbm::SUBSET : dbm::DIFFERENT;
    default:
        return mine > theirs ? dbm::SUBSET : mine < theirs ? dbm::SUPERSET : dbm::EQUAL;
    }
}

void SymbolicState::setCostFunction(CostFunction function)
{
    costFunction() = function;
}

SymbolicState::CostFunction SymbolicState::getCostFunction()
{
    return costFunction();
}

int32_t SymbolicState::getCost() const
{
    CostFunction function = costFunction();
    return function != nullptr ? function(this) : 0;
}

// ---- Time ---------------------------------------------------------------------------------------

void SymbolicState::delay()
{
    if (!system->hasStopWatches) {
        zone.up();
        return;
    }
    const size_t words = (system->getClockCount() + 31) / 32;
    constexpr size_t local = 8;
    uint32_t onStack[2 * local];
    std::vector<uint32_t> onHeap;
    uint32_t* bits = onStack;
    if (words > local) {
        onHeap.resize(2 * words);
        bits = onHeap.data();
    }
    if (system->evaluateClockRates(this, bits)) {
        system->clocksStopped = true;
        zone.upWithStopped(bits);
    } else {
        zone.up();
    }
}

bool SymbolicState::avoidsLoopEntries(EdgeTuple transition) const
{
    if (transition == nullptr || transition[0] == nullptr) {
        return false;
    }
    for (EdgeTuple edge = transition; *edge != nullptr; ++edge) {
        const Process* process = (*edge)->getProcess();
        const Location* now = process != nullptr ? getLocation(static_cast<uint32_t>(process->getNumber())) : nullptr;
        if (now != nullptr && now->isLoopEntry()) {
            return false;
        }
    }
    return true;
}

// ---- Text ---------------------------------------------------------------------------------------

std::ostream& SymbolicState::print(std::ostream& os)
{
    DiscreteState::print(os);
    if (system != nullptr) {
        base::RefPtr<SystemClockAccessor> accessor(new SystemClockAccessor(system, this));
        os << zone.toString(*accessor, false) << "\n";
    }
    return os;
}

void SymbolicState::printZone(std::ostream& os) const
{
    if (zone.isEmpty()) {
        return;
    }
    const bool several = zone.size() > 1;
    bool firstZone = true;
    for (const dbm::zone_t& z : zone) {
        if (!firstZone) {
            os << " or ";
        }
        firstZone = false;
        if (several) {
            os << "(";
        }
        const uint32_t n = z.getDimension();
        const dbm::bound_t* m = z.getMatrix();
        bool firstConstraint = true;
        auto separate = [&]() {
            if (!firstConstraint) {
                os << ", ";
            }
            firstConstraint = false;
        };
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                const dbm::bound_t b = m[i * n + j];
                if (b >= dbm::BOUND_INFINITY || i == j) {
                    continue;
                }
                if (i > 0) {
                    separate();
                    os << clockName(system, i);
                    if (j > 0) {
                        os << "-" << clockName(system, j);
                    }
                    os << (dbm::isWeak(b) ? "<=" : "<") << dbm::boundValue(b);
                } else if (b != dbm::BOUND_LE_ZERO) {
                    separate();
                    os << clockName(system, j) << (dbm::isWeak(b) ? ">=" : ">") << -dbm::boundValue(b);
                }
            }
        }
        if (several) {
            os << ")";
        }
    }
}

void SymbolicState::describe(std::ostream& os, const uint8_t* mask)
{
    os << "\n";
    printLocations(os, mask);
    os << "\n";
    printZone(os);
    os << " ";
    printVariables(os);
    os << "\n";
}

void SymbolicState::printNumeric(std::ostream& os, bool minimal) const
{
    for (size_t p = 0; p < staticSlots; ++p) {
        const Location* location = locations[p];
        os << static_cast<uint32_t>(location != nullptr ? location->getIndexInProcess() : -1) << " ";
    }
    os << "\n.\n";
    if (zone.isEmpty()) {
        throw Bug("SymbolicState::printNumeric: the state has no zone");
    }
    const int64_t tau = tauClockNumber;
    dbm::zone_t first = *zone.begin();
    const uint32_t n = first.getDimension();
    auto write = [&os](uint32_t i, uint32_t j, dbm::bound_t b) {
        os << i << " " << j << " " << static_cast<int32_t>(static_cast<uint32_t>(b) ^ 1u) << "\n.\n";
    };
    if (minimal) {
        if (tau >= 0 && tau < n) {
            first.freeClock(static_cast<uint32_t>(tau));
        }
        const dbm::bound_t* m = first.getMatrix();
        std::vector<uint32_t> marks(dbm::bitMatrixWords(n), 0);
        dbm::analyzeMinimalGraph(m, n, marks.data());
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                const uint32_t k = i * n + j;
                if (i == tau || j == tau || ((marks[k >> 5] >> (k & 31)) & 1u) == 0) {
                    continue;
                }
                write(i, j, m[k]);
            }
        }
    } else {
        const dbm::bound_t* m = first.getMatrix();
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                if (i == tau || j == tau || m[i * n + j] >= dbm::BOUND_INFINITY) {
                    continue;
                }
                write(i, j, m[i * n + j]);
            }
        }
    }
    os << ".\n";
    // Reading a variable never changes the state.
    SymbolicState* self = const_cast<SymbolicState*>(this);
    for (uint64_t index : system->getStateVariables()) {
        os << system->getVariable(index)->getValue(self) << " ";
    }
    for (uint64_t index : system->getStateMetaVariables()) {
        Variable* variable = system->getVariable(index);
        const std::string name = variable->getName();
        if (!name.empty() && name[0] == '#') {
            continue;
        }
        os << variable->getValue(self) << " ";
    }
    os << "\n.\n";
}

// ---- Clock names --------------------------------------------------------------------------------

SystemClockAccessor::SystemClockAccessor(System* system, PublicState* state)
    : system(system), size(system->getClockCount() + system->getExtraClockCount())
{
    table.reset(new int32_t[size > 0 ? size : 1]);
    for (size_t c = 0; c < size; ++c) {
        ClockVariable* clock = system->getClockVariable(static_cast<uint32_t>(c));
        table[c] = clock != nullptr ? clock->getValue(state) : static_cast<int32_t>(c);
    }
}

std::string SystemClockAccessor::getClockName(uint32_t k) const
{
    const uint32_t clock = k < size ? static_cast<uint32_t>(table[k]) : k;
    return clockName(system, clock);
}
