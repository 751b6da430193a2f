#include "runtime/system.h"

#include <limits>
#include <ostream>
#include <typeinfo>

#include <boost/format.hpp>

#include "runtime/channels.h"
#include "runtime/discrete_state.h"
#include "runtime/symbolic_state.h"
#include "support/exceptions.h"

System::System() = default;

System::~System()
{
    flushStatePool();
}

void System::accept(ModelVisitor& visitor)
{
    for (const base::RefPtr<Process>& process : processes) {
        process->accept(visitor);
    }
    visitor.visitSystem(this);
}

// ---- Adders -------------------------------------------------------------------------------------

Variable* System::addVariable(Variable* variable, bool extra)
{
    const uint64_t index = nextVariableIndex();
    variable->setIndex(index);
    variable->reads.insert(static_cast<uint32_t>(index));
    variable->setExtra(extra);
    (placedExtra(extra) ? extraVariables : variables).push_back(base::RefPtr<Variable>(variable));
    return variable;
}

ConstantVariable* System::addConstant(int32_t value, bool extra)
{
    return static_cast<ConstantVariable*>(addVariable(new ConstantVariable(value, !extra), extra));
}

ConstantFPVariable* System::addConstantFP(bool extra, double value)
{
    return static_cast<ConstantFPVariable*>(addVariable(new ConstantFPVariable(value), extra));
}

LocationVariable* System::addLocationVariable(int32_t processNumber, Location* location, bool extra)
{
    return static_cast<LocationVariable*>(
        addVariable(new LocationVariable(location->getName(), processNumber, location), extra));
}

SystemMetaFPVariable* System::addSystemMetaFPVariable(const std::string& name, bool extra, double initialValue)
{
    return static_cast<SystemMetaFPVariable*>(addVariable(new SystemMetaFPVariable(name, initialValue), extra));
}

SystemMetaVariable* System::addSystemMetaVariable(const std::string& name, int32_t lower, int32_t upper,
                                                  int32_t initialValue, bool extra)
{
    auto* variable = static_cast<SystemMetaVariable*>(
        addVariable(new SystemMetaVariable(name, lower, upper, initialValue), extra));
    systemMetaVariables.push_back(variable->getIndex());
    return variable;
}

StateMetaVariable* System::addStateMetaVariable(const std::string& name, int32_t lower, int32_t upper,
                                                int32_t initialValue)
{
    flushStatePool();
    const uint64_t index = nextVariableIndex();
    stateMetaVariables.push_back(index);
    printableVariables.push_back(index);
    const uint64_t position = metaVariableCount++;
    return static_cast<StateMetaVariable*>(
        addVariable(new StateMetaVariable(name, lower, upper, initialValue, position), false));
}

uint64_t System::nextStateSlot(bool extra)
{
    const uint64_t index = nextVariableIndex();
    (extra ? extraStateVariables : stateVariables).push_back(index);
    (extra ? extraPrintableVariables : printableVariables).push_back(index);
    return placedExtra(extra) ? stateVariableCount + extraStateVariableCount++ : stateVariableCount++;
}

StateVariable* System::addStateVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue,
                                        bool extra)
{
    flushStatePool();
    const uint64_t position = nextStateSlot(extra);
    return static_cast<StateVariable*>(
        addVariable(new StateVariable(name, lower, upper, initialValue, position), extra));
}

FPVariable* System::addFPVariable(const std::string& name, bool extra, double initialValue)
{
    flushStatePool();
    const uint64_t index = nextVariableIndex();
    (extra ? extraFPVariables : fpVariables).push_back(index);
    (extra ? extraPrintableVariables : printableVariables).push_back(index);
    const uint64_t position = placedExtra(extra) ? fpVariableCount + extraFPVariableCount++ : fpVariableCount++;
    return static_cast<FPVariable*>(addVariable(new FPVariable(name, position, initialValue), extra));
}

ClockVariable* System::addClock(const std::string& name, bool extra, double initialValue)
{
    flushStatePool();
    int32_t number;
    if (extra) {
        number = static_cast<int32_t>(clocks.size() + extraClocks.size());
        extraClocks.push_back(nextVariableIndex());
    } else {
        if (!extraClocks.empty()) {
            throw Bug("Add: static clock " + name + " after the clocks of spawned processes");
        }
        number = static_cast<int32_t>(clocks.size());
        clocks.push_back(nextVariableIndex());
    }
    return static_cast<ClockVariable*>(addVariable(new ClockVariable(name, number, initialValue), extra));
}

ConstantVariable* System::addProcess(const base::RefPtr<Process>& process, bool dynamic)
{
    if (dynamic) {
        process->setNumber(static_cast<int32_t>(processes.size() + dynamicProcesses.size()));
        dynamicProcesses.push_back(process);
    } else {
        process->setNumber(static_cast<int32_t>(processes.size()));
        processes.push_back(process);
    }
    return addConstant(process->getNumber(), dynamic);
}

Variable* System::addCost()
{
    return nullptr;
}

void System::addPreUpdate(const ExpressionRef& expression)
{
    preUpdate = preUpdate ? ExpressionRef(new CommaExpression(preUpdate, expression)) : expression;
}

void System::addPostUpdate(const ExpressionRef& expression)
{
    postUpdate = postUpdate ? ExpressionRef(new CommaExpression(postUpdate, expression)) : expression;
}

void System::truncateVariables(uint64_t index)
{
    if (index < variables.size() && !extraVariables.empty()) {
        throw Bug("Truncate: the extra table follows the main table");
    }
    if (index < variables.size()) {
        variables.erase(variables.begin() + static_cast<std::ptrdiff_t>(index), variables.end());
    } else if (index - variables.size() < extraVariables.size()) {
        extraVariables.erase(extraVariables.begin() + static_cast<std::ptrdiff_t>(index - variables.size()),
                             extraVariables.end());
    }
}

namespace {
std::string elementName(const std::string& name, int32_t index)
{
    return (boost::format("%1%[%2%]") % name % index).str();
}
}  // namespace

std::vector<StateBitVariable*> System::addBitArray(const std::string& name, int32_t firstIndex,
                                                   const std::vector<bool>& bits, bool extra)
{
    flushStatePool();
    std::vector<StateBitVariable*> result;
    uint64_t position = 0;
    const bool inExtraRegion = placedExtra(extra);
    for (size_t e = 0; e < bits.size(); ++e) {
        const int32_t bit = static_cast<int32_t>(e % 32);
        const uint64_t index = nextVariableIndex();
        (extra ? extraStateVariables : stateVariables).push_back(index);
        (extra ? extraPrintableVariables : printableVariables).push_back(index);
        if (bit == 0) {
            position = inExtraRegion ? stateVariableCount + extraStateVariableCount++ : stateVariableCount++;
        }
        const std::string element = elementName(name, firstIndex + static_cast<int32_t>(e));
        result.push_back(static_cast<StateBitVariable*>(
            addVariable(new StateBitVariable(element, bit, bits[e] ? 1 : 0, position), extra)));
    }
    return result;
}

std::vector<SystemMetaVariable*> System::addSystemMetaBitArray(const std::string& name, int32_t firstIndex,
                                                               const std::vector<bool>& bits)
{
    std::vector<SystemMetaVariable*> result;
    for (size_t e = 0; e < bits.size(); ++e) {
        result.push_back(addSystemMetaVariable(elementName(name, firstIndex + static_cast<int32_t>(e)), 0, 1,
                                               bits[e] ? 1 : 0, false));
    }
    return result;
}

std::vector<StateMetaBitVariable*> System::addStateMetaBitArray(const std::string& name, int32_t firstIndex,
                                                                const std::vector<bool>& bits)
{
    flushStatePool();
    std::vector<StateMetaBitVariable*> result;
    uint64_t position = 0;
    for (size_t e = 0; e < bits.size(); ++e) {
        const int32_t bit = static_cast<int32_t>(e % 32);
        if (bit == 0) {
            position = metaVariableCount++;
        }
        const uint64_t index = nextVariableIndex();
        stateMetaVariables.push_back(index);
        printableVariables.push_back(index);
        const std::string element = elementName(name, firstIndex + static_cast<int32_t>(e));
        result.push_back(static_cast<StateMetaBitVariable*>(
            addVariable(new StateMetaBitVariable(element, bit, bits[e] ? 1 : 0, position), false)));
    }
    return result;
}

// ---- Special clocks and variables ---------------------------------------------------------------

void System::addTimeClock()
{
    flushStatePool();
    if (timeClock == -1) {
        timeClock = addClock("#time", false, 0.0)->getClockNumber();
        return;
    }
    // Variables of spawned processes may follow "#time"; it stays where it is.
    if (!extraVariables.empty()) {
        return;
    }
    if (static_cast<size_t>(timeClock) + 1 == clocks.size()) {
        if (variables.empty() || variables.back()->getName() != "#time") {
            throw Bug("Add: #time is not the last variable!");
        }
    }
}

void System::removeTimeClock()
{
    flushStatePool();
    if (timeClock == -1 || !extraVariables.empty()) {
        return;
    }
    if (static_cast<size_t>(timeClock) + 1 != clocks.size() || variables.empty() ||
        variables.back()->getName() != "#time") {
        throw Bug("Remove: #time is not the last variable!");
    }
    variables.pop_back();
    clocks.pop_back();
    timeClock = -1;
}

void System::removeTauClock(int32_t clockNumber)
{
    flushStatePool();
    const Variable* last = lastVariable();
    if (clockNumber < 0 || static_cast<size_t>(clockNumber) + 1 != clocks.size() || !extraClocks.empty() ||
        last == nullptr || last->getName() != "#tau") {
        throw Bug("Remove: #tau is not the last variable!");
    }
    popLastVariable();
    clocks.pop_back();
}

Variable* System::lastVariable() const
{
    if (!extraVariables.empty()) {
        return extraVariables.back().get();
    }
    return variables.empty() ? nullptr : variables.back().get();
}

void System::popLastVariable()
{
    (extraVariables.empty() ? variables : extraVariables).pop_back();
}

Variable* System::addDepthVariable()
{
    if (Variable* existing = findVariable("#depth")) {
        return existing;
    }
    StateMetaVariable* depth = addStateMetaVariable("#depth", 0, std::numeric_limits<int32_t>::max(), 0);
    addPostUpdate(ExpressionRef(new IncrementVariable(base::RefPtr<Variable>(depth))));
    return depth;
}

Variable* System::addDistVariable()
{
    if (Variable* existing = findVariable("#dist")) {
        return existing;
    }
    return addStateMetaVariable("#dist", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                                0);
}

// ---- Lookups ------------------------------------------------------------------------------------

Variable* System::findVariable(const std::string& name) const
{
    for (const auto* table : {&variables, &extraVariables}) {
        for (const base::RefPtr<Variable>& variable : *table) {
            if (variable->getName() == name) {
                return variable.get();
            }
        }
    }
    return nullptr;
}

Process* System::findProcess(const std::string& name) const
{
    for (const base::RefPtr<Process>& process : processes) {
        if (process->getName() == name) {
            return process.get();
        }
    }
    return nullptr;
}

ClockVariable* System::getClockVariable(uint32_t clockNumber) const
{
    uint64_t index;
    if (clockNumber < clocks.size()) {
        index = clocks[clockNumber];
    } else if (clockNumber - clocks.size() < extraClocks.size()) {
        index = extraClocks[clockNumber - clocks.size()];
    } else {
        return nullptr;
    }
    if (index >= variables.size() + extraVariables.size()) {
        return nullptr;
    }
    return dynamic_cast<ClockVariable*>(getVariable(index));
}

IndexSet System::collectClocks(const IndexSet& variableIndices) const
{
    IndexSet result;
    for (uint32_t index : variableIndices) {
        if (index >= variables.size() + extraVariables.size()) {
            continue;
        }
        Variable* variable = getVariable(index);
        if (typeid(*variable) == typeid(ClockVariable)) {
            result.insert(static_cast<uint32_t>(static_cast<ClockVariable*>(variable)->getClockNumber()));
        }
    }
    return result;
}

IndexSet System::collectStateVariables(const IndexSet& variableIndices) const
{
    IndexSet result;
    for (uint32_t index : variableIndices) {
        if (index >= variables.size() + extraVariables.size()) {
            continue;
        }
        Variable* variable = getVariable(index);
        if (typeid(*variable) == typeid(StateVariable)) {
            result.insert(static_cast<uint32_t>(static_cast<StateVariable*>(variable)->getPosition()));
        }
    }
    return result;
}

// ---- Analyses -----------------------------------------------------------------------------------

void System::propagateLocationBounds()
{
    for (const base::RefPtr<Process>& process : processes) {
        process->propagateLocationBounds(this, hasClockCopies, false);
    }
}

void System::checkHybridClocks()
{
    for (const base::RefPtr<Process>& process : processes) {
        process->checkHybridClocks(this);
    }
}

void System::checkNoStopWatches() const
{
    if (clocksStopped) {
        throw RuntimeException("GOXA does not support stop-watches");
    }
}

void System::applyInitialiser(PublicState* state)
{
    if (initialiser) {
        initialiser->evaluate(state);
    }
}

// ---- Printing -----------------------------------------------------------------------------------

void System::printLocations(PublicState* state, std::ostream& os, const uint8_t* mask) const
{
    os << "( ";
    const size_t slots = processes.size() + state->getDynamicProcessCount();
    for (size_t p = 0; p < slots; ++p) {
        if (mask != nullptr && mask[p] == 0) {
            continue;
        }
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        const Process* process = p < processes.size() + dynamicProcesses.size() ? getProcess(p) : nullptr;
        os << (process != nullptr ? process->getName() : std::string()) << "." << location->getName() << " ";
    }
    os << ")";
}

void System::printVariables(PublicState* state, std::ostream& os) const
{
    // A symbolic state holds no floating-point values (its double cells are not kept up to date
    // by symbolic exploration), so it shows none; elsewhere a floating-point variable shows its
    // fraction.
    const bool symbolic = state->getSymbolicState() != nullptr;
    for (uint64_t index : printableVariables) {
        Variable* variable = getVariable(index);
        if (dynamic_cast<FPVariable*>(variable) != nullptr) {
            if (!symbolic) {
                os << variable->getName() << "=" << variable->getDoubleValue(state) << " ";
            }
            continue;
        }
        os << variable->getName() << "=" << variable->getValue(state) << " ";
    }
}

void System::printState(PublicState* state, std::ostream& os, const uint8_t* mask) const
{
    printLocations(state, os, mask);
    os << " ";
    printVariables(state, os);
    os << "\n";
}

void System::printLayout(std::ostream& os) const
{
    for (const base::RefPtr<Variable>& variable : variables) {
        variable->print(os);
        os << std::endl;
    }
}

void System::print(std::ostream& os) const
{
    os << "The system has " << processes.size() << " processes.\n\n";
    for (const base::RefPtr<Process>& process : processes) {
        process->print(os);
    }
}

// ---- Statistics ---------------------------------------------------------------------------------

void System::resetStatistics()
{
    for (size_t k = 0; k < locationTable.size(); ++k) {
        Location* location = locationTable.get(k);
        location->timesEntered = 0;
        location->timeSpent = 0.0;
    }
    for (const base::RefPtr<Process>& process : processes) {
        for (const base::RefPtr<Edge>& edge : process->getEdges()) {
            edge->visits = 0;
        }
    }
}

void System::printStatistics(std::ostream& os) const
{
    auto processName = [this](const Location* location) {
        const size_t p = static_cast<size_t>(location->getProcessNumber());
        return p < processes.size() + dynamicProcesses.size() ? getProcess(p)->getName() : std::string();
    };
    os << "\nEntered locations:\n";
    for (size_t k = 0; k < locationTable.size(); ++k) {
        const Location* location = locationTable.get(k);
        os << processName(location) << "." << location->getName() << " => " << location->timesEntered << "\n";
    }
    os << "\nTime spent in locations:\n";
    for (size_t k = 0; k < locationTable.size(); ++k) {
        const Location* location = locationTable.get(k);
        os << processName(location) << "." << location->getName() << " => " << location->timeSpent << "\n";
    }
    os << "\nVisited edges: \n";
    for (const base::RefPtr<Process>& process : processes) {
        for (const base::RefPtr<Edge>& edge : process->getEdges()) {
            edge->print(os, 0);
            os << " => " << edge->visits << "\n";
        }
    }
}

// ---- Channel priorities -------------------------------------------------------------------------

void System::resizePriorityMatrix(size_t channels)
{
    priorityDimension = channels + 1;
    const size_t bits = priorityDimension * priorityDimension;
    priorityMatrix.resize((bits + 63) / 64, 0);
}

void System::setPriorityBit(size_t a, size_t b)
{
    const size_t k = a * priorityDimension + b;
    priorityMatrix[k / 64] |= uint64_t{1} << (k % 64);
}

bool System::priorityBit(size_t a, size_t b) const
{
    const size_t k = a * priorityDimension + b;
    return ((priorityMatrix[k / 64] >> (k % 64)) & 1u) != 0;
}

bool System::isHigherPriority(uint32_t x, uint32_t y) const
{
    return x < priorityDimension && y < priorityDimension && priorityBit(x, y);
}

void System::addChannelPriorities(const std::vector<int32_t>& higher, const std::vector<int32_t>& lower)
{
    for (int32_t h : higher) {
        for (int32_t l : lower) {
            if (h < 0 || l < 0 || static_cast<size_t>(h) >= priorityDimension ||
                static_cast<size_t>(l) >= priorityDimension) {
                throw Bug("Channel priority outside the priority matrix");
            }
            setPriorityBit(static_cast<size_t>(h), static_cast<size_t>(l));
        }
    }
}

void System::applyDefaultPriority(const std::vector<bool>& mentioned)
{
    const size_t n = priorityDimension;
    auto in = [&mentioned](size_t c) { return c < mentioned.size() && mentioned[c]; };
    for (size_t i = 1; i < n; ++i) {
        if (!in(i)) {
            continue;
        }
        for (size_t j = 1; j < n; ++j) {
            if (in(j)) {
                continue;
            }
            if (priorityBit(i, 0)) {
                setPriorityBit(i, j);
            }
            if (priorityBit(0, i)) {
                setPriorityBit(j, i);
            }
        }
    }
}

bool System::checkChannelPriorities(std::string& message)
{
    const size_t n = priorityDimension;
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            for (size_t k = 0; k < n; ++k) {
                if (priorityBit(i, k) && priorityBit(j, i)) {
                    setPriorityBit(j, k);
                }
            }
        }
    }
    // Two entries ordered both ways also put each above itself after the closure; the pair of
    // distinct entries is the one to report, so the diagonal is only looked at when there is none.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t a = 0; a < n; ++a) {
            for (size_t b = 0; b < n; ++b) {
                if ((pass == 0) == (a != b) && priorityBit(a, b) && priorityBit(b, a)) {
                    message = (boost::format("$Inconsistent_priorities_for_channels %1% $and %2%") % a % b).str();
                    return false;
                }
            }
        }
    }
    std::vector<size_t> level(n, 0);
    for (size_t k = 1; k < n; ++k) {
        for (size_t l = k; l < n; ++l) {
            if (level[l] == level[k - 1] && (priorityBit(k - 1, l) || priorityBit(l, k - 1))) {
                level[l] = k;
            }
        }
    }
    for (size_t l = 0; l < n; ++l) {
        for (size_t m = 0; m < n; ++m) {
            if (level[l] != level[m] && !priorityBit(l, m) && !priorityBit(m, l)) {
                return true;
            }
        }
    }
    priorityOrderTotal = true;
    return true;
}

// ---- Free-state pool ----------------------------------------------------------------------------

SymbolicState* System::acquireState()
{
    SymbolicState* state;
    if (!statePool.empty()) {
        state = statePool.back();
        statePool.pop_back();
    } else {
        state = new SymbolicState(this);
        ++poolCounters.created;
    }
    ++poolCounters.taken;
    return state;
}

void System::releaseState(SymbolicState* state)
{
    ++poolCounters.returned;
    statePool.push_back(state);
}

void System::flushStatePool()
{
    for (SymbolicState* state : statePool) {
        delete state;
    }
    statePool.clear();
}
