#pragma once

// The in-memory model of an XML trace: a small tree of trace objects filled from a regenerated
// symbolic trace (a chain of Path steps) and the compiled System, from which the document is
// written (driver/xml_trace_writer.h).
//
// Everything that repeats along a trace is shared. Each process, location, edge, variable and
// clock of the model occurs once; a symbolic state met several times is one node; states with the
// same locations, the same variable values or the same zone parts share one location vector, one
// variable vector or one DBM object. Locations and edges are taken in only as the trace meets
// them; every integer state variable and every clock is declared.
//
// States, location vectors, variable vectors and DBMs are filed under 32-bit hash keys, which
// also fix the order in which the document lists them. Two different objects whose keys happen
// to be equal stay two objects: a lookup compares the contents filed under the key.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbm/fed.h"
#include "dbm/zone.h"

class Edge;
class Location;
class Path;
class Process;
class SymbolicState;
class System;
class ValueArray;
class Variable;
class XMLTraceWriter;

// Base of the objects that have an identifier in the document.
class XMLObject
{
public:
    virtual ~XMLObject() = default;
    // The object's identifier (a new string).
    virtual std::string id() const = 0;
};

class XMLLocation;
class XMLEdge;
class XMLVariable;
struct XMLClock;

class XMLProcess : public XMLObject
{
public:
    explicit XMLProcess(const std::string& name) : name(name) {}
    ~XMLProcess() override;

    std::string id() const override { return name; }
    const std::string& getName() const { return name; }

    XMLVariable* addVariable(const std::string& localName);
    XMLClock* addClock(const std::string& localName, uint64_t clockNumber);
    XMLLocation* addLocation(const std::string& locationName, const std::string& invariant, bool urgent,
                             bool committed);
    // Numbers the edges of the process 1, 2, 3 ... in the order they are added.
    XMLEdge* addEdge(const std::string& guard, const std::string& sync, const std::string& update,
                     XMLLocation* source, XMLLocation* target);

    const std::vector<std::unique_ptr<XMLEdge>>& getEdges() const { return edges; }
    const std::vector<std::unique_ptr<XMLLocation>>& getLocations() const { return locations; }
    const std::vector<std::unique_ptr<XMLVariable>>& getVariables() const { return variables; }
    const std::vector<std::unique_ptr<XMLClock>>& getClocks() const { return clocks; }

private:
    int32_t edgeCounter = 0;
    std::string name;
    std::vector<std::unique_ptr<XMLEdge>> edges;
    std::vector<std::unique_ptr<XMLLocation>> locations;
    std::vector<std::unique_ptr<XMLVariable>> variables;
    std::vector<std::unique_ptr<XMLClock>> clocks;
};

// The owner of the global clocks and variables and the list of processes.
class XMLSystem : public XMLObject
{
public:
    XMLSystem();
    ~XMLSystem() override;

    std::string id() const override { return "sys"; }

    XMLProcess* addProcess(const std::string& name);
    XMLVariable* addVariable(const std::string& name);
    XMLClock* addClock(const std::string& name, uint64_t clockNumber);

    const std::vector<std::unique_ptr<XMLProcess>>& getProcesses() const { return processes; }
    const std::vector<std::unique_ptr<XMLVariable>>& getVariables() const { return variables; }
    const std::vector<std::unique_ptr<XMLClock>>& getClocks() const { return clocks; }

private:
    std::vector<std::unique_ptr<XMLProcess>> processes;
    std::vector<std::unique_ptr<XMLVariable>> variables;
    std::vector<std::unique_ptr<XMLClock>> clocks;
};

class XMLLocation : public XMLObject
{
public:
    XMLLocation(const std::string& name, bool urgent, bool committed, const std::string& invariant,
                const XMLProcess* process)
        : name(name), urgent(urgent), committed(committed), invariant(invariant), process(process)
    {}

    std::string id() const override { return process->id() + "." + name; }
    const std::string& getName() const { return name; }
    bool isUrgent() const { return urgent; }
    bool isCommitted() const { return committed; }
    // The invariant's text; empty when the location has none.
    const std::string& getInvariant() const { return invariant; }
    const XMLProcess* getProcess() const { return process; }

private:
    std::string name;
    bool urgent;
    bool committed;
    std::string invariant;
    const XMLProcess* process;
};

class XMLEdge : public XMLObject
{
public:
    XMLEdge(const std::string& number, const std::string& guard, const std::string& update,
            const std::string& sync, const XMLLocation* source, const XMLLocation* target, const XMLProcess* process)
        : number(number), guard(guard), update(update), sync(sync), source(source), target(target), process(process)
    {}

    std::string id() const override { return process->id() + ".Edge" + number; }
    const std::string& getNumber() const { return number; }
    const std::string& getGuard() const { return guard; }
    const std::string& getUpdate() const { return update; }
    // "tau" for an edge without synchronisation.
    const std::string& getSync() const { return sync; }
    const XMLLocation* getSource() const { return source; }
    const XMLLocation* getTarget() const { return target; }
    std::string getSourceId() const { return source->id(); }
    std::string getTargetId() const { return target->id(); }
    const XMLProcess* getProcess() const { return process; }

private:
    std::string number;
    std::string guard;
    std::string update;
    std::string sync;
    const XMLLocation* source;
    const XMLLocation* target;
    const XMLProcess* process;
};

class XMLVariable : public XMLObject
{
public:
    XMLVariable(const std::string& name, const XMLObject* owner) : name(name), owner(owner) {}

    std::string id() const override { return owner->id() + "." + name; }
    // The name within its owner.
    const std::string& getName() const { return name; }
    const XMLObject* getOwner() const { return owner; }

private:
    std::string name;
    const XMLObject* owner;
};

// A clock of the document (no identifier of its own kind: getId composes it).
struct XMLClock
{
    std::string name;  // the name within its owner
    const XMLObject* owner;
    uint64_t clockNumber;

    std::string getId() const { return owner->id() + "." + name; }
};

class XMLLocVec : public XMLObject
{
public:
    explicit XMLLocVec(int32_t number) : number(number) {}

    std::string id() const override { return "LocVec" + std::to_string(number); }
    int32_t getNumber() const { return number; }
    void addLocation(const XMLLocation* location) { locations.push_back(location); }
    std::vector<const XMLLocation*> getLocations() const { return locations; }
    // The ids of the locations, each followed by one blank.
    std::string getLocationsText() const;

private:
    int32_t number;
    std::vector<const XMLLocation*> locations;
};

// One value of a variable vector (never written with an identifier of its own).
class XMLVarState : public XMLObject
{
public:
    XMLVarState(const std::string& value, const XMLVariable* variable) : value(value), variable(variable) {}

    std::string id() const override { return "a"; }
    const std::string& getValue() const { return value; }
    const XMLVariable* getVariable() const { return variable; }
    std::string getVariableId() const { return variable->id(); }

private:
    std::string value;
    const XMLVariable* variable;
};

class XMLVariableVector : public XMLObject
{
public:
    explicit XMLVariableVector(int32_t number) : number(number) {}
    ~XMLVariableVector() override;

    std::string id() const override { return "varvec." + std::to_string(number); }
    int32_t getNumber() const { return number; }
    void add(const XMLVariable* variable, const std::string& value);
    size_t size() const { return entries.size(); }
    const XMLVarState& entry(size_t i) const { return *entries[i]; }

private:
    std::vector<std::unique_ptr<XMLVarState>> entries;
    int32_t number;
};

// One entry of a DBM: clock1 - clock2 stands in the relation comp to bound (or is unbounded).
struct XMLClockBound
{
    const XMLClock* clock1 = nullptr;
    const XMLClock* clock2 = nullptr;
    int32_t bound = 0;  // not set when infinite
    std::string comp;   // "<" or "<="
    bool infinite = false;

    std::string getClock1Id() const { return clock1->getId(); }
    std::string getClock2Id() const { return clock2->getId(); }
};

class XMLDBM : public XMLObject
{
public:
    explicit XMLDBM(const std::string& id) : identifier(id) {}

    std::string id() const override { return identifier; }
    void addBound(const XMLClockBound& bound) { bounds.push_back(bound); }
    const std::vector<XMLClockBound>& getBounds() const { return bounds; }

private:
    std::string identifier;
    std::vector<XMLClockBound> bounds;
};

class XMLState : public XMLObject
{
public:
    explicit XMLState(int32_t number) : number(number) {}

    std::string id() const override { return "State" + std::to_string(number); }
    int32_t getNumber() const { return number; }
    void setLocationVector(const XMLLocVec* vector) { locationVector = vector; }
    void setVariableVector(const XMLVariableVector* vector) { variableVector = vector; }
    void addDBM(const XMLDBM* dbm) { dbms.push_back(dbm); }
    const XMLLocVec* getLocationVector() const { return locationVector; }
    const XMLVariableVector* getVariableVector() const { return variableVector; }
    std::vector<const XMLDBM*> getDBMs() const { return dbms; }
    std::string getLocationVectorId() const { return locationVector->id(); }
    std::string getVariableVectorId() const { return variableVector->id(); }
    // The ids of the DBMs in the zone's order, each followed by one blank.
    std::string getDBMsText() const;

private:
    int32_t number;
    const XMLLocVec* locationVector = nullptr;
    const XMLVariableVector* variableVector = nullptr;
    std::vector<const XMLDBM*> dbms;
};

class XMLTransition : public XMLObject
{
public:
    XMLTransition(const XMLState* from, const XMLState* to) : from(from), to(to) {}

    // A transition has no identifier.
    std::string id() const override { return ""; }
    void addEdge(const XMLEdge* edge) { edges.push_back(edge); }
    const XMLState* getFrom() const { return from; }
    const XMLState* getTo() const { return to; }
    std::string getFromId() const { return from->id(); }
    std::string getToId() const { return to->id(); }
    std::vector<const XMLEdge*> getEdges() const { return edges; }
    // The ids of the edges in the transition's order, each followed by one blank.
    std::string getEdgesText() const;

private:
    const XMLState* from;
    const XMLState* to;
    std::vector<const XMLEdge*> edges;
};

// ---- Keys --------------------------------------------------------------------------------------

namespace xmltrace {

// The hash of the state's location references (one per process slot).
uint32_t locationVectorKey(const SymbolicState* state);
// The hash of the integer values of the static model.
uint32_t variableVectorKey(const ValueArray& values);
// The zone, the location references and the integer values, chained.
uint32_t stateKey(const SymbolicState* state);
// The handle itself for an empty DBM, else the hash of its matrix.
uint32_t dbmKey(const dbm::zone_t& zone);
// "<process>.<position in the process's edge vector>"; empty when the edge is not in it.
std::string edgeKey(const Edge* edge);
// The text before the first "."; empty when there is none.
std::string processPrefix(const std::string& name);

// Objects filed under a 32-bit key together with the content the key was computed from. A lookup
// answers only an object of equal content, so colliding keys never merge different objects.
// Iteration goes by ascending key (as an unsigned number), then in the order of creation.
template <class Content, class Object>
class KeyedObjects
{
public:
    Object* find(uint32_t key, const Content& content) const
    {
        auto found = byKey.find(key);
        if (found != byKey.end()) {
            for (const Entry& entry : found->second) {
                if (entry.content == content) {
                    return entry.object.get();
                }
            }
        }
        return nullptr;
    }

    Object* add(uint32_t key, Content content, std::unique_ptr<Object> object)
    {
        Object* result = object.get();
        byKey[key].push_back(Entry{std::move(content), std::move(object)});
        ++count;
        return result;
    }

    template <class F>
    void forEach(F&& f) const
    {
        for (const auto& [key, entries] : byKey) {
            for (const Entry& entry : entries) {
                f(*entry.object);
            }
        }
    }

    size_t size() const { return count; }

private:
    struct Entry
    {
        Content content;
        std::unique_ptr<Object> object;
    };
    std::map<uint32_t, std::vector<Entry>> byKey;
    size_t count = 0;
};

// What a state, a DBM is compared by.
struct StateContent
{
    std::vector<const Location*> locations;
    std::vector<int32_t> values;
    dbm::fed_t zone;

    // The same locations and values and the same DBMs, in any order.
    bool operator==(const StateContent& other) const;
};

struct DBMContent
{
    dbm::zone_t zone;

    bool operator==(const DBMContent& other) const { return zone.equals(other.zone); }
};

}  // namespace xmltrace

// Fills the model of one trace and writes it. Created empty, built once, written once.
class XMLTraceBuilder
{
public:
    XMLTraceBuilder();
    ~XMLTraceBuilder();
    XMLTraceBuilder(const XMLTraceBuilder&) = delete;
    XMLTraceBuilder& operator=(const XMLTraceBuilder&) = delete;

    // Declares the system and takes in the transitions from the first step up to the last one
    // (none when they are the same step).
    void build(Path* first, Path* last, System* system);
    // Writes the whole document.
    void write(XMLTraceWriter& writer) const;

    // Lookup-or-create operations; each returns the shared object.
    XMLState* getState(SymbolicState* state);
    XMLLocVec* getLocationVector(SymbolicState* state);
    XMLVariableVector* getVariableVector(const ValueArray& values, SymbolicState* state);
    XMLDBM* getDBM(const dbm::zone_t& zone);
    XMLLocation* getLocation(const Location* location);
    XMLEdge* getEdge(const Edge* edge);

    // Declarations of the system part.
    void addSystem(System* system);
    void addProcess(const Process& process);
    void addVariable(Variable* variable);
    void addClock(Variable* variable, uint32_t clockNumber);

    // The transition from the step to the following one.
    XMLTransition* makeTransition(Path* step);

    // Read access (the writer and tests).
    const XMLSystem* getSystem() const { return system.get(); }
    // The source state of the first transition; null before the first state is made.
    const XMLState* getInitialState() const { return initialState; }
    const std::vector<std::unique_ptr<XMLTransition>>& getTransitions() const { return transitions; }
    size_t stateCount() const { return states.size(); }
    size_t locationVectorCount() const { return locationVectors.size(); }
    size_t variableVectorCount() const { return variableVectors.size(); }
    size_t dbmCount() const { return dbms.size(); }

private:
    // The process a compiled process number stands for; Bug for a number that is not a static
    // process of the system.
    XMLProcess* processOfNumber(int32_t number) const;
    // The clock of a clock number; Bug for a number the system has no clock of.
    const XMLClock* clockOfNumber(uint32_t number) const;

    std::unique_ptr<XMLSystem> system;
    std::map<std::string, XMLProcess*> processesByName;
    std::map<uint32_t, XMLProcess*> processesByNumber;
    std::map<uint32_t, XMLClock*> clocksByNumber;
    std::map<uint32_t, XMLVariable*> variablesByIndex;
    std::vector<Variable*> stateVariables;
    xmltrace::KeyedObjects<std::vector<int32_t>, XMLVariableVector> variableVectors;
    std::map<uint32_t, XMLLocation*> locations;
    xmltrace::KeyedObjects<std::vector<const Location*>, XMLLocVec> locationVectors;
    // Edges by key; the Edge is kept with its object so that edges sharing a key stay apart.
    std::map<std::string, std::vector<std::pair<const Edge*, XMLEdge*>>> edges;
    xmltrace::KeyedObjects<xmltrace::DBMContent, XMLDBM> dbms;
    xmltrace::KeyedObjects<xmltrace::StateContent, XMLState> states;
    std::vector<std::unique_ptr<XMLTransition>> transitions;
    int32_t dbmCounter = 0;
    int32_t stateCounter = 0;
    int32_t locationVectorCounter = 0;
    int32_t variableVectorCounter = 0;
    XMLState* initialState = nullptr;
};
