#pragma once

// Successors of broadcast synchronisations whose receivers have clock guards. The transition
// stage decides enabledness from the discrete guards only, so a receiver put into a broadcast
// combination may be able to take part in a part of the zone only, and there it must take part.
// For each broadcast transition with receivers this stage splits the zone into the regions where
// each subset of the chosen receivers can take part, and once all transitions of the source
// state have arrived (the null item) it removes from each region the parts where another
// combination of the same sender lets a further process receive, and hands on one successor per
// remaining region. Other transitions are computed at once, as by the plain successor stage.

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "dbm/fed.h"
#include "pipeline/successor_filter.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class Location;
class SymbolicState;
class System;

// One region of a deferred broadcast: where exactly these edges (the sender first) take part.
struct BroadcastHelper
{
    dbm::fed_t zone;
    // Null-terminated; room for every process and the terminator.
    std::vector<Edge*> edges;
    size_t edgeCount = 0;
    // The negated clock guards of the receivers this region leaves out, conjoined to the
    // condition the transition arrived with.
    ExpressionRef condition;
    // The condition the transition arrived with, and the receivers left out.
    ExpressionRef arrived;
    std::vector<const Edge*> leftOut;
};

class SuccessorFilterBroadcast : public SuccessorFilter
{
public:
    ~SuccessorFilterBroadcast() override;

    // PROPERTY_SYSTEM: sizes the region records (one edge per process plus the terminator).
    // PROPERTY_SPACEOPT and PROPERTY_RECORD_SOURCE as for the plain successor stage.
    void setProperty(const char* key, void* value) override;
    // A null item hands on the deferred successors and answers false. A broadcast send with
    // receivers is deferred (answer true); anything else is computed at once.
    bool put(Successor* item) override;

private:
    // The deferred broadcasts of one source state, one group per transition.
    struct Group
    {
        std::vector<BroadcastHelper*> regions;
        SymbolicState* source = nullptr;
        int32_t channel = 0;
        Edge* sender = nullptr;
    };

    bool defer(Successor* item, int32_t channel);
    bool flush();
    // Removes from each region the parts covered by regions of other combinations of the same
    // sender that let a further process take part, and drops regions repeated exactly.
    void reduceRegions();
    // The successors of every group, in order.
    void handOnRegions();

    BroadcastHelper* newRegion();
    void recycle(BroadcastHelper* region);
    Group& newGroup();
    void clearGroups();

    base::RefPtr<System> system;
    size_t edgeCapacity = 0;
    // Groups in use are the first groupCount; the others keep their storage for later states.
    std::vector<Group> groups;
    size_t groupCount = 0;
    // Every region record made; those not in use are kept with their storage for later states.
    std::vector<std::unique_ptr<BroadcastHelper>> owned;
    std::vector<BroadcastHelper*> spare;
    // Scratch: source locations of a region's edges.
    std::vector<const Location*> sources;
    // The negated clock guards of receivers, made once per edge.
    std::unordered_map<const Edge*, ExpressionRef> negatedGuards;
    const ExpressionRef& negatedGuard(const Edge* edge);
    // The condition of a region, made once per arrived condition and list of left-out receivers
    // (the key: the arrived condition, then the receivers). The arrived condition is held by the
    // entry, so its address is not reused while the entry lives.
    const ExpressionRef& conditionOf(const BroadcastHelper& region);
    std::vector<const void*> key;
    std::map<std::vector<const void*>, std::pair<ExpressionRef, ExpressionRef>> conditions;
};

// Factory of the registry entry "successor-filter" for models whose broadcast receivers have
// clock guards.
pipeline::Connectable* makeSuccessorFilterBroadcast(FilterConfiguration* registry);
