#include "smc/simu_error.h"

#include <sstream>

#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

void writeClockValuation(std::ostream& os, ConcreteState* state)
{
    const ClockValuation& clocks = state->getClocks();
    SystemClockAccessor names(state->getSystem(), state);
    const std::streamsize precision = os.precision(32);
    os << "[ ";
    for (uint64_t k = 1; k < clocks.count; ++k) {
        os << names.getClockName(static_cast<uint32_t>(k)) << "=" << clocks.values[k] << " ";
    }
    os << "]";
    os.precision(precision);
}

void SimuError::report(ConcreteState* state, int64_t process, const char* tail, EdgeTuple transition)
{
    *aborted = true;
    if (feedback == nullptr) {
        return;
    }
    System* sys = state->getSystem();
    std::ostringstream text;
    if (process < 0) {
        text << "State\n";
        sys->printLocations(state, text, nullptr);
    } else {
        const Location* location = state->getLocation(static_cast<uint32_t>(process));
        text << "Location " << sys->getProcess(static_cast<size_t>(process))->getName() << "."
             << (location != nullptr ? location->getName() : std::string());
    }
    text << "\n";
    writeClockValuation(text, state);
    text << "\n";
    sys->printVariables(state, text);
    text << tail;
    if (transition != nullptr) {
        printEdgeTuple(text, transition);
    }
    *feedback = text.str();
}

void SimuError::reportTimeLock(ConcreteState* state, int64_t process)
{
    report(state, process, "\nis time-locked.\n", nullptr);
}

void SimuError::reportInputDeterminism(ConcreteState* state, int64_t process)
{
    report(state, process, "\nviolates input determinism.", nullptr);
}

void SimuError::reportHybridGuard(ConcreteState* state, int64_t process)
{
    report(state, process, "\nhas a general hybrid guard enabled without urgent channel.", nullptr);
}

void SimuError::reportModelSanity(ConcreteState* state, int64_t process, EdgeTuple transition)
{
    report(state, process, "\nviolates model sanity with transition\n", transition);
}
