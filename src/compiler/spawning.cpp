// Processes of dynamic templates, started while a simulation runs. A process is compiled the
// first time its template needs one more than it has; one that has ended waits in its
// template's pool and is reused by the next spawn, with its cells set up again.

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"

using namespace ZOLT;

namespace {

// Restores the compiler's dynamic-instantiation state however the instantiation ends.
class DynamicInstantiation
{
public:
    DynamicInstantiation(bool& flag, Process*& current) : flag(flag), current(current) { flag = true; }
    DynamicInstantiation(const DynamicInstantiation&) = delete;
    DynamicInstantiation& operator=(const DynamicInstantiation&) = delete;
    ~DynamicInstantiation()
    {
        current = nullptr;
        flag = false;
    }

private:
    bool& flag;
    Process*& current;
};

// Makes the state hold every cell, clock and process slot that the System has laid out. The
// state's arrays only grow. A state copied before processes were compiled (the start state of a
// later run, say) lacks the cells of pooled processes it is about to reuse.
void coverLayout(System& system, ConcreteState& state)
{
    const auto integers = static_cast<int64_t>(system.getStateVariableCount() + system.getExtraStateVariableCount());
    const int64_t integerShort = integers - state.getIntegerArray().size();
    if (integerShort > 0 && !state.getIntegerArray().grow(static_cast<int32_t>(integerShort))) {
        throw Bug("Failed to allocate space for extended variable vector");
    }
    const auto doubles = static_cast<int64_t>(system.getFPVariableCount() + system.getExtraFPVariableCount());
    const int64_t doubleShort = doubles - state.getDoubleArray().size();
    if (doubleShort > 0 && !state.getDoubleArray().grow(static_cast<int32_t>(doubleShort))) {
        throw Bug("Failed to allocate space for extended variable vector");
    }
    const uint64_t clocks = system.getClockCount() + system.getExtraClockCount();
    if (clocks > state.getClocks().count && !state.growClocks(clocks - state.getClocks().count)) {
        throw Bug("Failed to allocate space for extended variable vector");
    }
    const size_t slots = system.getProcessCount() + system.getDynamicProcesses().size();
    if (slots > state.getSlotCount() && !state.growLocationVector(slots - state.getSlotCount())) {
        throw Bug("Failed to allocate space for extended location vector");
    }
}

} // namespace

void Compiler::spawnProcess(int32_t templateNumber, const std::vector<int32_t>& arguments, ConcreteState* state)
{
    if (state == nullptr) {
        throw Bug("Spawning needs a concrete state");
    }
    System* owner = state->getSystem();
    if (owner != system.get()) {
        throw Bug("Spawning in a state of another system");
    }
    if (templateNumber < 0 || static_cast<size_t>(templateNumber) >= owner->dynamicTemplates.size()) {
        throw Bug("No dynamic template " + std::to_string(templateNumber));
    }
    template_t& dynamicTemplate = *owner->dynamicTemplates[static_cast<size_t>(templateNumber)];
    const auto index = static_cast<size_t>(dynamicTemplate.dynamicIndex);
    if (state->spawnTable == nullptr || index >= state->spawnTable->size()) {
        throw Bug("Spawning without the run's table of spawned processes");
    }
    SpawnRecord& record = (*state->spawnTable)[index];
    // Checked before a process is made or a pooled one reset: the reuse of a pooled process would
    // otherwise store the value unchecked, and a new process would be left half made.
    checkSpawnArguments(dynamicTemplate, arguments);

    // The live processes are the first liveCount entries of the pool.
    base::RefPtr<Process> process;
    size_t slot = static_cast<size_t>(record.liveCount);
    if (slot < record.processes.size()) {
        // The first process that has ended takes the place of the new one.
        process = record.processes[slot];
    } else {
        process = instantiateDynamicProcess(dynamicTemplate, arguments);
        slot = record.processes.size();
        record.processes.push_back(process);
    }
    compileMissingDynamicEvaluations();
    coverLayout(*owner, *state);
    process->poolSlot = static_cast<int32_t>(slot);
    record.liveNumbers.push_back(process->getNumber());
    ++record.liveCount;

    // The cells of the process, as a new process starts.
    for (const base::RefPtr<Variable>& variable : process->integerVariables) {
        variable->assign(state, variable->getInitialValue());
    }
    const size_t bound = std::min(process->parameters.size(), arguments.size());
    for (size_t i = 0; i < bound; ++i) {
        process->parameters[i]->assign(state, arguments[i]);
    }
    for (const base::RefPtr<Variable>& variable : process->clocks) {
        if (auto* clock = dynamic_cast<ClockVariable*>(variable.get())) {
            clock->assign(state, doubleToInt32(clock->getInitialDouble()));
        }
    }
    for (const base::RefPtr<Variable>& variable : process->fpVariables) {
        if (auto* value = dynamic_cast<FPVariable*>(variable.get())) {
            value->assignDouble(state, value->getInitialDouble());
        }
    }
    state->setLocation(static_cast<uint32_t>(process->getNumber()), process->initialLocation);
}

void Compiler::checkSpawnArguments(const template_t& dynamicTemplate, const std::vector<int32_t>& arguments)
{
    const scope_t& parameters = dynamicTemplate.parameters;
    const size_t count = parameters.empty() ? 0 : parameters.getSize();
    auto known = spawnParameterRanges.find(&dynamicTemplate);
    if (known == spawnParameterRanges.end()) {
        // The bounds are constants of the model, evaluated once from the root scope.
        std::vector<std::pair<int32_t, int32_t>> ranges;
        for (size_t i = 0; i < count; ++i) {
            const type_t type = parameters[i].getType();
            if (type.isKind(RANGE) && !type.getRangeBounds().first.empty()) {
                ranges.push_back(evaluateRange(type));
            } else {
                ranges.emplace_back(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
            }
        }
        known = spawnParameterRanges.emplace(&dynamicTemplate, std::move(ranges)).first;
    }
    const std::vector<std::pair<int32_t, int32_t>>& ranges = known->second;
    for (size_t i = 0; i < ranges.size() && i < arguments.size(); ++i) {
        if (arguments[i] < ranges[i].first || arguments[i] > ranges[i].second) {
            throw CompileError("$Initial_value_out_of_range", parameters[i].getType().getPosition());
        }
    }
}

base::RefPtr<Process> Compiler::instantiateDynamicProcess(template_t& dynamicTemplate,
                                                          const std::vector<int32_t>& arguments)
{
    DynamicInstantiation guard(dynamicInstantiation, currentDynamicProcess);
    Symbol* root = rootSymbol.get();
    Symbol* node = root->declareTemplate(dynamicTemplate);
    setCurrentSymbol(node);
    base::RefPtr<Process> process;
    try {
        std::string name = dynamicTemplate.symbol.getName();
        std::vector<int32_t> values = arguments;
        process = instantiateProcess(name, node, values, true);
        if (!process) {
            throw Bug("A dynamic template without its process");
        }
        spawnedNodes[process.get()] = node;
        compileDynamicEvaluations(*process, dynamicTemplate);
    } catch (...) {
        setCurrentSymbol(root);
        throw;
    }
    setCurrentSymbol(node->parent != nullptr ? node->parent : root);
    process->propagateLocationBounds(system.get(), system->hasClockCopies, true);
    return process;
}

void Compiler::compileMissingDynamicEvaluations()
{
    // Code compiled since a process was made (a later query, the edges of a process just made
    // for another template) may read members of its template that it has no entry for yet; a
    // live process of any template may be read by the new code before the next spawn. The entry
    // lists only grow, so their total size tells whether anything is missing.
    auto total = [this] {
        size_t count = 0;
        for (const template_t* t : system->dynamicTemplates) {
            count += t->dynamicEvaluations.size();
        }
        return count;
    };
    // Compiling an entry may add entries in turn: the passes go on until nothing is missing.
    for (size_t now = total(); now != dynamicEvaluationsCompiled; now = total()) {
        const auto& processes = system->getDynamicProcesses();
        for (size_t i = 0; i < processes.size(); ++i) {
            Process& process = *processes[i];
            if (spawnedNodes.count(&process) == 0) {
                // Its instantiation failed: it is in no pool and never runs.
                continue;
            }
            for (template_t* t : system->dynamicTemplates) {
                if (t->dynamicIndex == process.dynamicTemplateIndex) {
                    compileDynamicEvaluations(process, *t);
                    break;
                }
            }
        }
        // Counted only once the pass is through, so that a pass an error cut short is run again.
        dynamicEvaluationsCompiled = now;
    }
}

void Compiler::compileDynamicEvaluations(Process& process, template_t& dynamicTemplate)
{
    // The member expressions that other processes read through a bound process variable,
    // compiled in this process's scope; the machine evaluates entry k for access k. The list is
    // read by index, as compiling an entry may add to it.
    std::vector<ExpressionRef>& compiled = process.dynamicEvaluations;
    if (compiled.size() >= dynamicTemplate.dynamicEvaluations.size()) {
        return;
    }
    auto node = spawnedNodes.find(&process);
    if (node == spawnedNodes.end()) {
        throw Bug("A spawned process without its symbol node");
    }
    Symbol* saved = currentSymbol;
    setCurrentSymbol(node->second);
    try {
        for (size_t k = compiled.size(); k < dynamicTemplate.dynamicEvaluations.size(); ++k) {
            const expression_t member = dynamicTemplate.dynamicEvaluations[k];
            compiled.push_back(makeProgramExpression(member));
        }
    } catch (...) {
        setCurrentSymbol(saved);
        throw;
    }
    setCurrentSymbol(saved);
}
