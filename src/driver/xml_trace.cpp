#include "driver/xml_trace.h"

#include <algorithm>
#include <cstdio>

#include "runtime/edge.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "runtime/value_array.h"
#include "runtime/variable.h"
#include "statespace/path.h"
#include "support/exceptions.h"
#include "support/hash.h"

// ---- Objects -----------------------------------------------------------------------------------

XMLProcess::~XMLProcess() = default;

XMLVariable* XMLProcess::addVariable(const std::string& localName)
{
    variables.push_back(std::make_unique<XMLVariable>(localName, this));
    return variables.back().get();
}

XMLClock* XMLProcess::addClock(const std::string& localName, uint64_t clockNumber)
{
    clocks.push_back(std::make_unique<XMLClock>(XMLClock{localName, this, clockNumber}));
    return clocks.back().get();
}

XMLLocation* XMLProcess::addLocation(const std::string& locationName, const std::string& invariant, bool urgent,
                                     bool committed)
{
    locations.push_back(std::make_unique<XMLLocation>(locationName, urgent, committed, invariant, this));
    return locations.back().get();
}

XMLEdge* XMLProcess::addEdge(const std::string& guard, const std::string& sync, const std::string& update,
                             XMLLocation* source, XMLLocation* target)
{
    ++edgeCounter;
    edges.push_back(
        std::make_unique<XMLEdge>(std::to_string(edgeCounter), guard, update, sync, source, target, this));
    return edges.back().get();
}

XMLSystem::XMLSystem() = default;
XMLSystem::~XMLSystem() = default;

XMLProcess* XMLSystem::addProcess(const std::string& name)
{
    processes.push_back(std::make_unique<XMLProcess>(name));
    return processes.back().get();
}

XMLVariable* XMLSystem::addVariable(const std::string& name)
{
    variables.push_back(std::make_unique<XMLVariable>(name, this));
    return variables.back().get();
}

XMLClock* XMLSystem::addClock(const std::string& name, uint64_t clockNumber)
{
    clocks.push_back(std::make_unique<XMLClock>(XMLClock{name, this, clockNumber}));
    return clocks.back().get();
}

namespace {

// The ids of the objects, each followed by one blank.
template <class T>
std::string joinIds(const std::vector<const T*>& objects)
{
    std::string text;
    for (const T* object : objects) {
        text += object->id();
        text += ' ';
    }
    return text;
}

uint32_t low32(uint64_t hash)
{
    return static_cast<uint32_t>(hash);
}

}  // namespace

std::string XMLLocVec::getLocationsText() const
{
    return joinIds(locations);
}

XMLVariableVector::~XMLVariableVector() = default;

void XMLVariableVector::add(const XMLVariable* variable, const std::string& value)
{
    entries.push_back(std::make_unique<XMLVarState>(value, variable));
}

std::string XMLState::getDBMsText() const
{
    return joinIds(dbms);
}

std::string XMLTransition::getEdgesText() const
{
    return joinIds(edges);
}

// ---- Keys --------------------------------------------------------------------------------------

namespace xmltrace {

namespace {

constexpr uint32_t keySeed = 2000;

uint64_t locationBytes(const SymbolicState* state)
{
    return static_cast<uint64_t>(state->getSlotCount()) * sizeof(Location*);
}

uint64_t valueBytes(const ValueArray& values)
{
    return static_cast<uint64_t>(std::max(values.count, 0)) * sizeof(int32_t);
}

}  // namespace

uint32_t locationVectorKey(const SymbolicState* state)
{
    return low32(base::hash64(state->getLocations(), locationBytes(state), keySeed));
}

uint32_t variableVectorKey(const ValueArray& values)
{
    return low32(base::hash64(values.values, valueBytes(values), keySeed));
}

uint32_t stateKey(const SymbolicState* state)
{
    const uint32_t zoneSeed = low32(state->zone.hash(0));
    const uint32_t locationSeed = low32(base::hash64(state->getLocations(), locationBytes(state), zoneSeed));
    const ValueArray& values = state->getIntegerArray();
    return low32(base::hash64(values.values, valueBytes(values), locationSeed));
}

uint32_t dbmKey(const dbm::zone_t& zone)
{
    if (zone.isEmpty()) {
        return static_cast<uint32_t>(zone.getWord());
    }
    const uint64_t dim = zone.getDimension();
    return low32(base::hash64(zone.getMatrix(), dim * dim * sizeof(dbm::bound_t), keySeed));
}

std::string edgeKey(const Edge* edge)
{
    const Process* process = edge->getProcess();
    if (process == nullptr) {
        return "";
    }
    const Process::EdgeList& list = process->getEdges();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == edge) {
            return process->getName() + "." + std::to_string(i);
        }
    }
    return "";
}

std::string processPrefix(const std::string& name)
{
    const size_t dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

bool StateContent::operator==(const StateContent& other) const
{
    if (locations != other.locations || values != other.values || zone.size() != other.zone.size() ||
        zone.getDimension() != other.zone.getDimension()) {
        return false;
    }
    // Every DBM of this zone matches a DBM of the other one not matched before.
    std::vector<bool> matched(other.zone.size(), false);
    for (const dbm::zone_t& z : zone) {
        size_t k = 0;
        bool found = false;
        for (const dbm::zone_t& candidate : other.zone) {
            if (!matched[k] && z.equals(candidate)) {
                matched[k] = true;
                found = true;
                break;
            }
            ++k;
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

}  // namespace xmltrace

// ---- Builder -----------------------------------------------------------------------------------

XMLTraceBuilder::XMLTraceBuilder() = default;
XMLTraceBuilder::~XMLTraceBuilder() = default;

void XMLTraceBuilder::build(Path* first, Path* last, System* compiled)
{
    addSystem(compiled);
    for (Path* step = first; step != last && step != nullptr; step = step->next) {
        if (step->next == nullptr) {
            throw Bug("XML trace: the steps of the trace are not linked up to its last step");
        }
        transitions.push_back(std::unique_ptr<XMLTransition>(makeTransition(step)));
    }
}

void XMLTraceBuilder::addSystem(System* compiled)
{
    system = std::make_unique<XMLSystem>();
    for (const base::RefPtr<Process>& process : compiled->getProcesses()) {
        addProcess(*process);
    }
    for (uint64_t index : compiled->getStateVariables()) {
        addVariable(compiled->getVariable(index));
    }
    for (uint32_t i = 0; i < compiled->getClockCount(); ++i) {
        addClock(compiled->getVariable(compiled->getClocks()[i]), i);
    }
}

void XMLTraceBuilder::addProcess(const Process& process)
{
    if (processesByName.count(process.getName()) != 0) {
        return;
    }
    XMLProcess* made = system->addProcess(process.getName());
    processesByName[process.getName()] = made;
    processesByNumber[static_cast<uint32_t>(process.getNumber())] = made;
}

namespace {

// The process a compiled name belongs to, with the name within it; the system and the full name
// when the text before the first "." names no process (a field of a global record is named
// "<record>.<field>").
XMLProcess* ownerOf(const std::map<std::string, XMLProcess*>& processes, const std::string& name,
                    std::string& localName)
{
    const std::string prefix = xmltrace::processPrefix(name);
    if (!prefix.empty()) {
        auto found = processes.find(prefix);
        if (found != processes.end()) {
            localName = name.substr(prefix.size() + 1);
            return found->second;
        }
    }
    localName = name;
    return nullptr;
}

}  // namespace

void XMLTraceBuilder::addClock(Variable* variable, uint32_t clockNumber)
{
    std::string localName;
    XMLProcess* process = ownerOf(processesByName, variable->getName(), localName);
    XMLClock* clock =
        process != nullptr ? process->addClock(localName, clockNumber) : system->addClock(localName, clockNumber);
    clocksByNumber[clockNumber] = clock;
}

void XMLTraceBuilder::addVariable(Variable* variable)
{
    std::string localName;
    XMLProcess* process = ownerOf(processesByName, variable->getName(), localName);
    XMLVariable* made = process != nullptr ? process->addVariable(localName) : system->addVariable(localName);
    variablesByIndex[static_cast<uint32_t>(variable->getIndex())] = made;
    stateVariables.push_back(variable);
}

XMLTransition* XMLTraceBuilder::makeTransition(Path* step)
{
    std::fflush(stdout);
    XMLState* from = getState(step->state);
    XMLState* to = getState(step->next->state);
    auto transition = std::make_unique<XMLTransition>(from, to);
    for (EdgeTuple e = step->next->transition; e != nullptr && *e != nullptr; ++e) {
        transition->addEdge(getEdge(*e));
    }
    return transition.release();
}

XMLState* XMLTraceBuilder::getState(SymbolicState* state)
{
    const uint32_t key = xmltrace::stateKey(state);
    const ValueArray& values = state->getIntegerArray();
    xmltrace::StateContent content{
        std::vector<const Location*>(state->getLocations(), state->getLocations() + state->getSlotCount()),
        std::vector<int32_t>(values.values, values.values + std::max(values.count, 0)), state->zone};
    if (XMLState* found = states.find(key, content)) {
        return found;
    }
    auto made = std::make_unique<XMLState>(++stateCounter);
    made->setLocationVector(getLocationVector(state));
    made->setVariableVector(getVariableVector(values, state));
    // The federation is held by the content record while its DBMs are walked.
    for (const dbm::zone_t& zone : content.zone) {
        made->addDBM(getDBM(zone));
    }
    XMLState* result = states.add(key, std::move(content), std::move(made));
    if (initialState == nullptr) {
        initialState = result;
    }
    return result;
}

XMLLocVec* XMLTraceBuilder::getLocationVector(SymbolicState* state)
{
    const uint32_t key = xmltrace::locationVectorKey(state);
    std::vector<const Location*> content(state->getLocations(), state->getLocations() + state->getSlotCount());
    if (XMLLocVec* found = locationVectors.find(key, content)) {
        return found;
    }
    auto made = std::make_unique<XMLLocVec>(++locationVectorCounter);
    for (const Location* location : content) {
        made->addLocation(getLocation(location));
    }
    return locationVectors.add(key, std::move(content), std::move(made));
}

XMLVariableVector* XMLTraceBuilder::getVariableVector(const ValueArray& values, SymbolicState* state)
{
    const uint32_t key = xmltrace::variableVectorKey(values);
    std::vector<int32_t> content(values.values, values.values + std::max(values.count, 0));
    if (XMLVariableVector* found = variableVectors.find(key, content)) {
        return found;
    }
    auto made = std::make_unique<XMLVariableVector>(++variableVectorCounter);
    for (Variable* variable : stateVariables) {
        made->add(variablesByIndex.at(static_cast<uint32_t>(variable->getIndex())),
                  std::to_string(variable->getValue(state)));
    }
    return variableVectors.add(key, std::move(content), std::move(made));
}

XMLDBM* XMLTraceBuilder::getDBM(const dbm::zone_t& zone)
{
    const uint32_t key = xmltrace::dbmKey(zone);
    // Every lookup uses up a number, found or not.
    const std::string id = "DBM" + std::to_string(++dbmCounter);
    xmltrace::DBMContent content{zone};
    if (XMLDBM* found = dbms.find(key, content)) {
        return found;
    }
    auto made = std::make_unique<XMLDBM>(id);
    if (!zone.isEmpty()) {
        const uint32_t dim = zone.getDimension();
        const dbm::bound_t* matrix = zone.getMatrix();
        for (uint32_t i = 0; i < dim; ++i) {
            for (uint32_t j = 0; j < dim; ++j) {
                const dbm::bound_t raw = matrix[i * dim + j];
                XMLClockBound bound;
                bound.clock1 = clockOfNumber(i);
                bound.clock2 = clockOfNumber(j);
                if (raw > dbm::MAX_FINITE_BOUND) {
                    bound.infinite = true;
                    bound.comp = "<";
                } else {
                    bound.bound = raw >> 1;
                    bound.comp = (raw & 1) != 0 ? "<=" : "<";
                }
                made->addBound(bound);
            }
        }
    }
    return dbms.add(key, std::move(content), std::move(made));
}

XMLProcess* XMLTraceBuilder::processOfNumber(int32_t number) const
{
    auto found = processesByNumber.find(static_cast<uint32_t>(number));
    if (found == processesByNumber.end()) {
        throw Bug("XML trace: process " + std::to_string(number) + " is not a process of the system");
    }
    return found->second;
}

const XMLClock* XMLTraceBuilder::clockOfNumber(uint32_t number) const
{
    auto found = clocksByNumber.find(number);
    if (found == clocksByNumber.end()) {
        throw Bug("XML trace: a zone has clock " + std::to_string(number) + ", which the system does not have");
    }
    return found->second;
}

XMLLocation* XMLTraceBuilder::getLocation(const Location* location)
{
    if (location == nullptr) {
        throw Bug("XML trace: a process of a state has no location");
    }
    const uint32_t index = static_cast<uint32_t>(location->getGlobalIndex());
    auto found = locations.find(index);
    if (found != locations.end()) {
        return found->second;
    }
    XMLLocation* made = processOfNumber(location->getProcessNumber())
                            ->addLocation(location->getName(), location->getInvariantText(), location->isUrgent(),
                                          location->isCommitted());
    locations[index] = made;
    return made;
}

XMLEdge* XMLTraceBuilder::getEdge(const Edge* edge)
{
    std::vector<std::pair<const Edge*, XMLEdge*>>& filed = edges[xmltrace::edgeKey(edge)];
    for (const auto& [known, object] : filed) {
        if (known == edge) {
            return object;
        }
    }
    XMLLocation* source = getLocation(edge->source);
    XMLLocation* target = getLocation(edge->target);
    if (edge->getProcess() == nullptr) {
        throw Bug("XML trace: an edge of the trace belongs to no process");
    }
    XMLEdge* made = processOfNumber(edge->getProcess()->getNumber())
                        ->addEdge(edge->getGuardText(), edge->getSyncText(), edge->getUpdateText(), source, target);
    filed.emplace_back(edge, made);
    return made;
}
