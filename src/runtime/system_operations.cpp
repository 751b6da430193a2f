// The operations through which the rest of the verifier moves a state through the model: the
// initial states, invariants, updates, clock rates and the step back over a transition.

#include <memory>
#include <utility>
#include <vector>

#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/state_decorators.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

SymbolicState* System::makeInitialState(const uint8_t* mask)
{
    SymbolicState* state = acquireState();
    try {
        ValueArray& integers = state->getIntegerArray();
        std::fill(integers.values, integers.values + integers.count, 0);
        ValueArray& meta = state->getMetaArray();
        std::fill(meta.values, meta.values + meta.count, 0);
        for (size_t p = 0; p < processes.size(); ++p) {
            state->setLocation(static_cast<uint32_t>(p), processes[p]->initialLocation);
        }
        const uint32_t dimension = static_cast<uint32_t>(clocks.size() > 0 ? clocks.size() : 1);
        if (state->zone.getDimension() != dimension) {
            state->zone.setDimension(dimension);
        }
        state->zone.setZero();
        state->storeMark = 0;
        state->traceIndex = -1;
        for (uint64_t index : printableVariables) {
            Variable* variable = getVariable(index);
            variable->setValue(state, variable->getInitialValue());
        }
        applyInitialiser(state);
        if (!checkInvariants(state, mask)) {
            throw InitialStateUndefinedException();
        }
    } catch (...) {
        state->release();
        throw;
    }
    return state;
}

ConcreteState* System::buildInitialState()
{
    std::unique_ptr<ConcreteState> state(new ConcreteState(this));
    ValueArray& integers = state->getIntegerArray();
    std::fill(integers.values, integers.values + integers.size(), 0);
    ValueArray& meta = state->getMetaArray();
    std::fill(meta.values, meta.values + meta.size(), 0);
    for (uint64_t index : printableVariables) {
        Variable* variable = getVariable(index);
        variable->setValue(state.get(), variable->getInitialValue());
    }
    for (uint64_t index : fpVariables) {
        auto* variable = static_cast<FPVariable*>(getVariable(index));
        variable->setDoubleValue(state.get(), variable->getInitialDouble());
    }
    for (uint64_t index : clocks) {
        auto* clock = dynamic_cast<ClockVariable*>(getVariable(index));
        if (clock != nullptr) {
            clock->setDoubleValue(state.get(), clock->getInitialDouble());
        }
    }
    for (size_t p = 0; p < processes.size(); ++p) {
        state->setLocation(static_cast<uint32_t>(p), processes[p]->initialLocation);
    }
    applyInitialiser(state.get());
    if (!checkInvariants(state.get(), nullptr)) {
        throw InitialStateUndefinedException();
    }
    return state.release();
}

bool System::checkInvariants(PublicState* state, const uint8_t* mask)
{
    for (size_t p = 0; p < processes.size(); ++p) {
        if (mask != nullptr && mask[p] == 0) {
            continue;
        }
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location != nullptr && location->getInvariant() && location->getInvariant()->evaluate(state) == 0) {
            return false;
        }
    }
    return true;
}

bool System::checkInvariants(PublicState* state, int32_t group, const uint8_t* mask)
{
    for (size_t p = 0; p < processes.size(); ++p) {
        const bool selected = mask != nullptr ? mask[p] != 0 : processes[p]->group == group;
        if (!selected) {
            continue;
        }
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location != nullptr && location->getInvariant() && location->getInvariant()->evaluate(state) == 0) {
            return false;
        }
    }
    return true;
}

namespace {
// The number of integer entries that writes through the state can reach: the whole array of the
// state (spawned processes included), so the Modest copy covers every variable.
size_t writableIntegerCount(PublicState* state, const System* system)
{
    if (auto* discrete = dynamic_cast<DiscreteState*>(state)) {
        return static_cast<size_t>(discrete->getIntegerArray().size());
    }
    if (auto* simulating = dynamic_cast<SimulatingStateDecorator*>(state)) {
        return simulating->getIntegerCount();
    }
    if (ConcreteState* concrete = state->getConcreteState()) {
        return static_cast<size_t>(concrete->getIntegerArray().size());
    }
    if (SymbolicState* symbolic = state->getSymbolicState()) {
        return static_cast<size_t>(symbolic->getIntegerArray().size());
    }
    return system->getStateVariableCount();
}
}  // namespace

void System::applyUpdates(PublicState* state, EdgeTuple edges)
{
    if (!modest) {
        if (preUpdate) {
            preUpdate->evaluate(state);
        }
        for (EdgeTuple edge = edges; *edge != nullptr; ++edge) {
            if ((*edge)->getUpdate()) {
                (*edge)->getUpdate()->evaluate(state);
            }
        }
        if (postUpdate) {
            postUpdate->evaluate(state);
        }
        return;
    }
    const size_t n = writableIntegerCount(state, this);
    if (modestScratch.size() < n) {
        modestScratch.resize(n);
    }
    ModestState wrapped(state, modestScratch.data(), n);
    if (preUpdate) {
        preUpdate->evaluate(&wrapped);
    }
    for (EdgeTuple edge = edges; *edge != nullptr; ++edge) {
        if ((*edge)->getUpdate()) {
            (*edge)->getUpdate()->evaluate(&wrapped);
        }
    }
    if (postUpdate) {
        postUpdate->evaluate(&wrapped);
    }
    wrapped.commit();
}

bool System::evaluateClockRates(PublicState* state, uint32_t* bits)
{
    const size_t words = (clocks.size() + 31) / 32;
    bool cleared = false;
    bool stopped = false;
    for (size_t p = 0; p < processes.size(); ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        for (const Location::ClockRate& entry : location->getClockRates()) {
            const int32_t c = entry.clock->evaluate(state);
            const ClockVariable* clock = getClockVariable(static_cast<uint32_t>(c));
            if (clock != nullptr && clock->isHybrid()) {
                continue;
            }
            entry.rate->evaluate(state);
            const double rate = state->result;
            if (!cleared) {
                std::fill(bits, bits + 2 * words, 0u);
                cleared = true;
            }
            const std::string clockName = clock != nullptr ? clock->getName() : std::to_string(c);
            if (rate != 0.0 && rate != 1.0) {
                throw RuntimeException("[%s.%s:%s] Clock rate(%d) must be 0 or 1.", processes[p]->getName().c_str(),
                                       location->getName().c_str(), clockName.c_str(), doubleToInt32(rate));
            }
            if (c < 0 || static_cast<size_t>(c) >= clocks.size()) {
                throw Bug("Clock rate of a clock outside the static clocks");
            }
            const uint32_t bit = 1u << (static_cast<uint32_t>(c) & 31);
            uint32_t& stoppedWord = bits[static_cast<uint32_t>(c) >> 5];
            uint32_t& givenWord = bits[words + (static_cast<uint32_t>(c) >> 5)];
            if (rate == 0.0) {
                stoppedWord |= bit;
                givenWord |= bit;
                stopped = true;
            } else {
                if ((stoppedWord & bit) != 0 && (givenWord & bit) != 0) {
                    throw RuntimeException("[%s.%s] Conflicting %s'==1", processes[p]->getName().c_str(),
                                           location->getName().c_str(), clockName.c_str());
                }
                givenWord |= bit;
            }
        }
    }
    return stopped;
}

void System::stepBack(DiscreteState* source, EdgeTuple edges, dbm::fed_t& zone, Expression* extra, int32_t group,
                      const uint8_t* mask)
{
    // The clock resets of the updates are recorded on copies of the discrete values, made on the
    // stack for ordinary models.
    constexpr size_t local = 256;
    const size_t integerCount = static_cast<size_t>(source->getIntegerArray().size());
    const size_t metaCount = static_cast<size_t>(source->getMetaArray().size());
    int32_t integersOnStack[local];
    int32_t metaOnStack[local];
    std::vector<int32_t> integersOnHeap;
    std::vector<int32_t> metaOnHeap;
    int32_t* integers = integersOnStack;
    int32_t* meta = metaOnStack;
    if (integerCount > local) {
        integersOnHeap.resize(integerCount);
        integers = integersOnHeap.data();
    }
    if (metaCount > local) {
        metaOnHeap.resize(metaCount);
        meta = metaOnHeap.data();
    }
    StepBackRecorder recorder(source, integers, meta);
    applyUpdates(&recorder, edges);

    const std::vector<std::pair<int32_t, int32_t>>& resets = recorder.getResets();
    for (auto reset = resets.rbegin(); reset != resets.rend(); ++reset) {
        const uint32_t clock = static_cast<uint32_t>(reset->first);
        zone.constrainClock(clock, reset->second);
        zone.freeClock(clock);
    }

    // The source invariants, the extra condition and the clock guards are applied to the zone on
    // a scratch symbolic state with the source's discrete values, exactly as a successor applies
    // them: a disjunction keeps the union of the parts where either side holds. A condition that
    // fails leaves no valuation.
    SymbolicState* scratch = acquireState();
    struct ReleaseOnExit
    {
        SymbolicState* state;
        ~ReleaseOnExit() { state->release(); }
    } releaseOnExit{scratch};
    scratch->assignDiscrete(*source);
    scratch->getDoubleArray().assign(source->getDoubleArray());
    std::swap(scratch->zone, zone);
    struct SwapBackOnExit
    {
        dbm::fed_t& a;
        dbm::fed_t& b;
        ~SwapBackOnExit() { std::swap(a, b); }
    } swapBackOnExit{scratch->zone, zone};

    bool holds = true;
    for (size_t p = 0; p < processes.size() && holds; ++p) {
        const Location* location = source->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr || !location->getInvariant()) {
            continue;
        }
        const bool selected =
            mask != nullptr ? mask[p] != 0 : (group < 0 || processes[p]->group == group);
        if (selected) {
            holds = location->getInvariant()->evaluate(scratch) != 0;
        }
    }
    if (holds && extra != nullptr) {
        holds = extra->evaluate(scratch) != 0;
    }
    for (EdgeTuple edge = edges; *edge != nullptr && holds; ++edge) {
        holds = (*edge)->evaluateClockGuard(scratch);
    }
    if (!holds) {
        scratch->zone.setEmpty();
    }
}
