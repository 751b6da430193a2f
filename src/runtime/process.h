#pragma once

// A process: one instance of a template in the compiled model, with its locations, edges,
// per-location lists of outgoing and incoming edges, channel sets and identity. After compilation
// propagateLocationBounds links everything and computes, for every location, the clock bounds
// that matter there and the variables still read from there.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "runtime/edge.h"
#include "runtime/expression.h"
#include "runtime/visitors.h"
#include "support/object.h"

class Location;
class System;
class Variable;

class Process : public base::Object, public ModelElement
{
public:
    using EdgeList = std::vector<base::RefPtr<Edge>>;

    // One empty location slot per location; number -1 until System::addProcess.
    Process(size_t locationCount, const std::string& name);
    ~Process() override;

    void accept(ModelVisitor& visitor) override;

    void setLocation(size_t index, Location* location);
    Location* getLocation(size_t index) const { return locations[index]; }
    // The location vector, indexed by the location's index in the process.
    const std::vector<Location*>& getLocations() const { return locations; }
    size_t getLocationCount() const { return locations.size(); }

    // All edges, in the order the compiler built them.
    EdgeList& getEdges() { return edges; }
    const EdgeList& getEdges() const { return edges; }
    void setEdges(const EdgeList& e) { edges = e; }
    // Outgoing and incoming edges of the location with that index (filled by propagateLocationBounds).
    const EdgeList& getOutgoingEdges(size_t location) const { return outgoing[location]; }
    const EdgeList& getIncomingEdges(size_t location) const { return incoming[location]; }
    void addOutgoingEdge(size_t location, const base::RefPtr<Edge>& edge);
    void addIncomingEdge(size_t location, const base::RefPtr<Edge>& edge);

    // Channel sets: bit c stands for channel c; allocated on first use.
    void addInputChannel(int32_t channel);
    void addOutputChannel(int32_t channel);
    void addCspChannel(int32_t channel);
    // Null when the process has none.
    const uint32_t* getInputChannels() const { return inputChannels.empty() ? nullptr : inputChannels.data(); }
    const uint32_t* getOutputChannels() const { return outputChannels.empty() ? nullptr : outputChannels.data(); }
    // The CSP alphabet.
    const uint32_t* getCspChannels() const { return cspChannels.empty() ? nullptr : cspChannels.data(); }
    // Words of a channel set made now: (registered channels + 32) / 32.
    static size_t channelSetWords();
    // Without merge: copies the input set into `input` and the output set into `output`. With
    // merge: ORs the input set into `input`; returns the name of the lowest channel that the
    // output set shares with `output`, else ORs it in and returns the empty text.
    std::string mergeChannelSets(uint32_t* input, uint32_t* output, bool merge) const;

    // Links the edges to this process and to their locations, fills the locations' channel bits
    // and urgent edge lists; unless linkOnly, also marks loop entries and propagates the
    // location-local clock bounds and active variables backwards to a fixed point.
    void propagateLocationBounds(System* system, bool clockCopies, bool linkOnly);
    void checkHybridClocks(System* system);
    // Depth-first from location l: a location entered from a location still on the path is a loop
    // entry. colours: 0 unvisited, 1 on the path, 2 done.
    void markLoopEntries(size_t l, std::vector<uint8_t>& colours);

    // "Process: <name>", its locations with their invariants, and its edges.
    void print(std::ostream& os) const;

    int32_t getNumber() const { return number; }
    void setNumber(int32_t n) { number = n; }
    const std::string& getName() const { return name; }

    // Appends to the parameter list when isParameter is set, else to the integer-variable list.
    void addVariable(const base::RefPtr<Variable>& variable, bool isParameter);

    // Written by the compiler.
    Location* initialLocation = nullptr;
    std::string templateName;
    // (declaration name, text of its expression) of the instance's parameters.
    std::vector<std::pair<std::string, std::string>> instanceDeclarations;
    // Declared priority; -1 for a dynamic instance.
    int32_t priority = 0;
    // Processes of a group are selected together; -1 for none.
    int32_t group = -1;
    bool enabled = true;
    // For an instance of a dynamic template: the template's number and the position of the
    // process in its template's record of the spawned-process table.
    int32_t dynamicTemplateIndex = -1;
    int32_t poolSlot = -1;
    // The run-time variables of the process: every clock (each with its initial double), and for
    // members of dynamic templates the integer variables, the parameters in parameter order and
    // the floating-point variables.
    std::vector<base::RefPtr<Variable>> clocks;
    std::vector<base::RefPtr<Variable>> integerVariables;
    std::vector<base::RefPtr<Variable>> parameters;
    std::vector<base::RefPtr<Variable>> fpVariables;
    // The process's compiled copies of its template's dynamically evaluated expressions.
    std::vector<ExpressionRef> dynamicEvaluations;

private:
    std::vector<Location*> locations;
    std::vector<EdgeList> outgoing;
    std::vector<EdgeList> incoming;
    EdgeList edges;
    std::vector<uint32_t> inputChannels;
    std::vector<uint32_t> outputChannels;
    std::vector<uint32_t> cspChannels;
    int32_t number = -1;
    std::string name;
};
