#pragma once

// Edges of the compiled model and transitions. A transition of the network (one edge, a sender
// and a receiver, or a sender and all receivers of a broadcast) is a null-terminated array of
// Edge pointers, the edge tuple; every tuple the exploration produces is interned, so equal
// combinations share one array for the whole run and compare by pointer.

#include <cstdint>
#include <forward_list>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "runtime/expression.h"
#include "runtime/visitors.h"
#include "support/object.h"

class Location;
class Process;
class System;

class Edge : public base::Object, public ModelElement
{
public:
    // Which template edge and which select values an edge was built from; written into traces.
    struct SelectRecord
    {
        int32_t number;
        std::vector<int32_t> values;
    };

    Edge();
    ~Edge() override;

    void accept(ModelVisitor& visitor) override;

    // Setters of the compiler. Both guard parts are always set (a missing part is the constant
    // true); the synchronisation text is "tau" for an edge without synchronisation.
    void setGuard(const ExpressionRef& guard, const ExpressionRef& clockGuard, const std::string& text);
    // channels: the signed channel numbers the edge may synchronise on (+c sends, -c receives).
    void setSync(const ExpressionRef& sync, const std::set<int32_t>& channels, const std::string& text);
    void setUpdate(const ExpressionRef& update, const std::string& text);
    void setProbability(const ExpressionRef& probability, const std::string& text);
    // Prepends a select record.
    void addSelectRecord(int32_t number, const std::vector<int32_t>& values);

    // The discrete guard holds on the state.
    bool evaluateGuard(PublicState* state) const { return guard->evaluate(state) != 0; }
    // The clock guard holds; on a symbolic state it constrains the zone.
    bool evaluateClockGuard(PublicState* state) const { return clockGuard->evaluate(state) != 0; }

    // A copy of the update's write set.
    IndexSet getWrites() const;
    // The union of the read sets of the clock guard, the guard, the synchronisation and the update.
    IndexSet getReads() const;
    // One bit per static clock: the clocks the edge reads or its update writes.
    void computeClockMask(System* system);
    const uint32_t* getClockMask() const { return clockMask.get(); }

    // "<process>.<source>-><process>.<target> { guard, sync, update }" after `tabs` tabs (and the
    // same tabs again before the guard); no end of line.
    void print(std::ostream& os, int tabs) const;
    // Per select record: "<process number> <number> <values...> ; " (each value followed by a blank).
    void writeTraceEntries(std::ostream& os) const;
    // The clock guard becomes its conjunction with the constraint; the text gains " && (text)".
    void addClockGuard(const ExpressionRef& constraint, const std::string& text);
    // Scratch flags: markFlag allocates n zero bytes on first use and sets byte i.
    void markFlag(size_t i, size_t n);
    uint8_t getFlag(size_t i) const;

    // Set by Process::propagateLocationBounds.
    void setProcess(Process* p) { process = p; }
    Process* getProcess() const { return process; }

    const ExpressionRef& getGuard() const { return guard; }
    const ExpressionRef& getClockGuard() const { return clockGuard; }
    // Its value on a state: 0 without synchronisation, +c for a send and -c for a receive on c.
    const ExpressionRef& getSync() const { return sync; }
    const ExpressionRef& getUpdate() const { return update; }
    const ExpressionRef& getProbability() const { return probability; }
    const std::set<int32_t>& getChannels() const { return channels; }
    const std::string& getGuardText() const { return guardText; }
    const std::string& getSyncText() const { return syncText; }
    const std::string& getUpdateText() const { return updateText; }
    const std::string& getProbabilityText() const { return probabilityText; }
    const std::forward_list<SelectRecord>& getSelectRecords() const { return selectRecords; }

    // Written by the compiler.
    Location* source = nullptr;
    Location* target = nullptr;
    // The edge belongs to the controller of a timed game.
    bool controllable = false;
    // Scratch of the distance guidance (-2 at construction).
    int32_t distance = -2;
    // Edges leaving the same probabilistic branch point share one non-zero number; 0 otherwise.
    int32_t branchGroup = 0;
    // Times the statistical simulator took the edge.
    uint64_t visits = 0;

private:
    std::string guardText;
    std::string syncText;
    std::string updateText;
    std::string probabilityText;
    Process* process = nullptr;
    std::forward_list<SelectRecord> selectRecords;
    ExpressionRef sync;
    ExpressionRef clockGuard;
    ExpressionRef guard;
    ExpressionRef update;
    ExpressionRef probability;
    std::set<int32_t> channels;
    std::unique_ptr<uint32_t[]> clockMask;
    std::unique_ptr<uint8_t[]> flags;
    size_t flagCount = 0;
};

// Edge tuples: null-terminated arrays of Edge pointers.
using EdgeTuple = Edge* const*;

// The interned copy of the tuple: equal tuples (the same pointers in the same order) give the
// same array. The caller keeps the array it passed. Tuples still interned when the process ends
// are freed with the table.
Edge* const* internEdgeTuple(Edge* const* tuple);
// The same pointers in the same order up to and including the null.
bool edgeTupleEquals(Edge* const* a, Edge* const* b);
// Number of entries including the null.
size_t edgeTupleSize(Edge* const* tuple);
// Every edge is controllable (true for the empty tuple).
bool isControllableTuple(Edge* const* tuple);
// Every edge by Edge::print without tabs, each followed by an end of line.
void printEdgeTuple(std::ostream& os, Edge* const* tuple);
// The interned empty tuple (only the null): the transition of the initial state and the end
// marker of transition enumeration. Valid until clearEdgeTuples.
EdgeTuple emptyEdgeTuple();
// Frees every interned tuple; tuples handed out before become invalid.
void clearEdgeTuples();
// Number of interned tuples.
size_t edgeTupleCount();
// Copies the entries including the null; returns the position after the null.
Edge** copyEdgeTuple(Edge** destination, Edge* const* tuple);
