#include "smc/run_start.h"

#include <memory>

#include "runtime/process.h"
#include "runtime/system.h"

void RunStart::prepare(System* owner)
{
    system = owner;
    table.assign(system->dynamicTemplates.size(), SpawnRecord{});
    for (const base::RefPtr<Process>& process : system->getDynamicProcesses()) {
        const int32_t t = process->dynamicTemplateIndex;
        if (t >= 0 && static_cast<size_t>(t) < table.size()) {
            SpawnRecord& record = table[static_cast<size_t>(t)];
            process->poolSlot = static_cast<int32_t>(record.processes.size());
            record.processes.push_back(process);
        }
    }
    instances = system->getDynamicProcesses().size();
}

ConcreteState* RunStart::startRun(const ConcreteState& initial)
{
    auto state = std::make_unique<ConcreteState>(initial);
    state->spawnTable = &table;
    state->ownsSpawnTable = false;
    const std::vector<base::RefPtr<Process>>& spawnable = system->getDynamicProcesses();
    if (state->getDynamicSlotCount() < spawnable.size()) {
        state->growLocationVector(spawnable.size() - state->getDynamicSlotCount());
    }
    for (SpawnRecord& record : table) {
        record.liveCount = 0;
        record.liveNumbers.clear();
    }
    for (const base::RefPtr<Process>& process : spawnable) {
        if (static_cast<size_t>(process->getNumber()) < state->getSlotCount()) {
            state->setLocation(static_cast<uint32_t>(process->getNumber()), nullptr);
        }
    }
    return state.release();
}

bool RunStart::processesChanged()
{
    const size_t now = system->getDynamicProcesses().size();
    if (now == instances) {
        return false;
    }
    instances = now;
    return true;
}
