#include "smc/run_record.h"

#include <memory>
#include <ostream>

#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "smc/clock_rates.h"
#include "smc/run_start.h"
#include "smc/simu_error.h"

namespace {
// Room for this many items before the record grows.
constexpr size_t reservedItems = 65536;
}  // namespace

RunRecord::RunRecord(ConcreteState* initial) : initial(initial)
{
    list.reserve(reservedItems);
}

RunRecord::~RunRecord() = default;

void RunRecord::recordDelay(double d)
{
    if (!list.empty()) {
        RunItem& item = list.back();
        if (item.isDelay() && item.delay == d && item.repetitions() < RunItem::maxRepetitions) {
            ++item.count;
            return;
        }
    }
    RunItem item;
    item.count = RunItem::delayBit | 1;
    item.delay = d;
    list.push_back(item);
}

void RunRecord::recordTransition(EdgeTuple transition)
{
    ++transitions;
    const EdgeTuple interned = internEdgeTuple(transition);
    if (!list.empty()) {
        RunItem& item = list.back();
        if (!item.isDelay() && item.transition == interned && item.repetitions() < RunItem::maxRepetitions) {
            ++item.count;
            return;
        }
    }
    RunItem item;
    item.count = 1;
    item.transition = interned;
    list.push_back(item);
}

void RunRecord::setFinalState(const ConcreteState& state)
{
    last = std::make_unique<ConcreteState>(state);
}

void ConsoleSerializer::writeState(std::ostream& os, ConcreteState* state)
{
    os << "state\n";
    state->getSystem()->printState(state, os, nullptr);
    writeClockValuation(os, state);
    os << "\n\n";
}

void ConsoleSerializer::writeDelay(std::ostream& os, double delay)
{
    os.precision(32);
    os << "delay " << delay << "\n\n";
}

void ConsoleSerializer::writeTransition(std::ostream& os, EdgeTuple transition)
{
    os << "transition\n";
    printEdgeTuple(os, transition);
    os << "\n";
}

void printConcreteTrace(const RunRecord& record, std::ostream& os, ConcreteTraceSerializer& serializer)
{
    // The run started from a copy of the initial state with room for the spawnable processes and
    // an empty table of spawned ones; so does the replay, with a table of its own.
    RunStart start;
    start.prepare(record.getInitial()->getSystem());
    const std::unique_ptr<ConcreteState> copy(start.startRun(*record.getInitial()));
    ConcreteState& state = *copy;
    System* system = state.getSystem();
    std::vector<double> rates;
    serializer.writeState(os, &state);
    for (const RunItem& item : record.items()) {
        const uint64_t n = item.repetitions();
        if (item.isDelay()) {
            for (uint64_t k = 0; k < n; ++k) {
                serializer.writeDelay(os, item.delay);
                computeClockRates(&state, rates);
                advanceClocks(&state, rates.data(), item.delay, record.grid);
            }
        } else {
            for (uint64_t k = 0; k < n; ++k) {
                serializer.writeTransition(os, item.transition);
                for (EdgeTuple e = item.transition; *e != nullptr; ++e) {
                    state.setLocation(static_cast<uint32_t>((*e)->getProcess()->getNumber()), (*e)->target);
                }
                system->applyUpdates(&state, item.transition);
            }
        }
        serializer.writeState(os, &state);
    }
}
