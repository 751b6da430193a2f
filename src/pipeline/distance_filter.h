#pragma once

// Distance guidance for the search order "smallest estimate first". A static analysis of the
// compiled model estimates, for every edge and location, how far the query's target is: the edges
// that directly enable the target are at distance 1, and distances flow backwards along the edges
// of a process and across processes through shared variables and channels, with weights taken
// from the environment. The filter writes the estimate of each successor into the meta variable
// "#dist", which the priority waiting order reads, and drops successors from which the analysis
// finds no way to the target.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <vector>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/expression.h"
#include "support/object.h"

class Edge;
class FilterConfiguration;
class Location;
class Process;
class System;
class Variable;

class DistanceAnalysis
{
public:
    // No way to the target.
    static constexpr int32_t infinity = 2147483647;
    // The largest finite distance: sums saturate here.
    static constexpr int32_t saturated = 2147483646;

    // a + b, where a sum that wraps below a or reaches infinity becomes `saturated`.
    static int32_t satadd(int32_t a, int32_t b);

    // Reads the weights from the environment (MIRVEK_DIST_EDGE, MIRVEK_DIST_PROC,
    // MIRVEK_DIST_PROCL, MIRVEK_DIST_PROCE, MIRVEK_DIST_CLOCKS), collects which edges read and
    // write each variable and send and receive on each channel, and marks the locations that can
    // be reached when synchronisation partners are taken into account.
    explicit DistanceAnalysis(System* system);
    DistanceAnalysis(const DistanceAnalysis&) = delete;
    DistanceAnalysis& operator=(const DistanceAnalysis&) = delete;

    // Sets every distance to infinity, then gives distance 1 to the edges entering a location
    // the target mentions and to the edges that write a variable it reads, and propagates from
    // them. True when the target was seeded this way: only then do the distances say anything.
    bool seed(Expression* target);

    // Writes the graph of relevant processes, the variables they share and the channels they
    // use, in DOT form.
    void printDot(std::ostream& os) const;

    // The edge can be taken at all: its source is reachable and, when it synchronises, a partner
    // of another process with a reachable source exists (or it sends on a broadcast channel).
    bool isRelevant(const Edge* edge) const;
    // A distance moved to another process: plus the process weight and the per-location and
    // per-edge weights of process p. Infinity stays infinity.
    int32_t cross(int32_t d, const Process* p) const;

    int32_t getEdgeWeight() const { return edgeWeight; }
    int32_t getProcessWeight() const { return processWeight; }
    int32_t getProcessLocationWeight() const { return processLocationWeight; }
    int32_t getProcessEdgeWeight() const { return processEdgeWeight; }
    bool analysesClocks() const { return analyseClocks; }

private:
    using EdgeList = std::vector<Edge*>;

    // Enters the read and write sets of one expression of an edge into readers and writers.
    void enter(Edge* edge, const Expression* expression);
    void computeReachable();
    // Gives the edge the distance (when smaller and the edge is relevant) and propagates it.
    void setEdgeDistance(Edge* edge, int32_t d);
    // Pushes the children of an edge that just got distance d onto the work stack.
    void pushReads(const Expression* expression, const Process* process, int32_t c);
    bool counts(uint32_t variable) const;
    // All edges of the list belong to the process.
    static bool onlyOf(const EdgeList* edges, const Process* process);
    static const EdgeList* find(const std::map<uint32_t, EdgeList>& map, uint32_t key);

    // Edges by the variable number they write or read, and by the channel they send or receive
    // on; each list in process order, then edge order.
    std::map<uint32_t, EdgeList> writers;
    std::map<uint32_t, EdgeList> readers;
    std::map<uint32_t, EdgeList> senders;
    std::map<uint32_t, EdgeList> receivers;
    int32_t edgeWeight;
    int32_t processWeight;
    int32_t processLocationWeight;
    int32_t processEdgeWeight;
    bool analyseClocks;
    base::RefPtr<System> system;
    size_t processCount;
    // The edges still to be given a distance, each with the distance offered to it. Propagation
    // runs on this stack rather than by recursion, in the same depth-first order, so a long chain
    // of edges cannot exhaust the call stack.
    std::vector<std::pair<Edge*, int32_t>> work;
};

class DistanceFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    DistanceFilter();
    ~DistanceFilter() override;

    // When enabled: analyses the System for the target, writes the DOT graph to the file named
    // by MIRVEK_DIST_MAP (silently skipped when it cannot be opened), looks up "#dist" and reads
    // MIRVEK_DIST_COST and MIRVEK_DIST_XCOST. Does nothing otherwise.
    void begin() override;
    // PROPERTY_SYSTEM (counted), PROPERTY_TARGET_ORDER (enables the filter) and
    // PROPERTY_EXPRESSION (the target, counted). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // While active, writes the successor's estimate into "#dist", or drops the successor when the
    // target cannot be reached from it. Otherwise (and for the null item) passes the item on.
    bool put(Successor* item) override;

    bool isEnabled() const { return enabled; }
    // The analysis found a use for distances in this run.
    bool isActive() const { return active; }
    const DistanceAnalysis* getAnalysis() const { return analysis.get(); }

private:
    bool forward(Successor* item);

    bool enabled = false;
    bool active = false;
    std::unique_ptr<DistanceAnalysis> analysis;
    base::RefPtr<System> system;
    ExpressionRef target;
    Variable* distVariable = nullptr;
    int32_t cost = 0;
    int32_t xcost = 1;
};

// Factory of the registry entry "distance-filter".
pipeline::Connectable* makeDistanceFilter(FilterConfiguration* registry);
