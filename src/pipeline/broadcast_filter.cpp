#include "pipeline/broadcast_filter.h"

#include <algorithm>

#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/channels.h"
#include "runtime/clock_expression.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

SuccessorFilterBroadcast::~SuccessorFilterBroadcast()
{
    // States still deferred (a chain that never sent the null item) go back to their pool.
    for (size_t g = 0; g < groupCount; ++g) {
        if (groups[g].source != nullptr) {
            groups[g].source->release();
            groups[g].source = nullptr;
        }
    }
}

void SuccessorFilterBroadcast::setProperty(const char* key, void* value)
{
    SuccessorFilter::setProperty(key, value);
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        edgeCapacity = system != nullptr ? system->getProcessCount() + 1 : 0;
        negatedGuards.clear();
        conditions.clear();
    }
}

const ExpressionRef& SuccessorFilterBroadcast::conditionOf(const BroadcastHelper& region)
{
    key.clear();
    key.push_back(region.arrived.get());
    key.insert(key.end(), region.leftOut.begin(), region.leftOut.end());
    auto found = conditions.find(key);
    if (found != conditions.end()) {
        return found->second.second;
    }
    // Conditions that arrive from elsewhere than a stage that keeps them could fill the table
    // without end; it starts afresh beyond a size no model reaches by its own transitions.
    if (conditions.size() >= 65536) {
        conditions.clear();
    }
    ExpressionRef condition = region.arrived;
    for (const Edge* receiver : region.leftOut) {
        condition = makeConjunction(condition, negatedGuard(receiver));
    }
    return conditions.emplace(key, std::make_pair(region.arrived, condition)).first->second.second;
}

const ExpressionRef& SuccessorFilterBroadcast::negatedGuard(const Edge* edge)
{
    ExpressionRef& negated = negatedGuards[edge];
    if (!negated) {
        negated = edge->getClockGuard()->negate();
    }
    return negated;
}

BroadcastHelper* SuccessorFilterBroadcast::newRegion()
{
    BroadcastHelper* region;
    if (!spare.empty()) {
        region = spare.back();
        spare.pop_back();
    } else {
        owned.push_back(std::make_unique<BroadcastHelper>());
        region = owned.back().get();
    }
    if (region->edges.size() < edgeCapacity) {
        region->edges.assign(edgeCapacity, nullptr);
    }
    region->edgeCount = 0;
    region->edges[0] = nullptr;
    region->leftOut.reserve(edgeCapacity);
    return region;
}

void SuccessorFilterBroadcast::recycle(BroadcastHelper* region)
{
    region->zone.setEmpty();
    region->condition = nullptr;
    region->arrived = nullptr;
    region->leftOut.clear();
    region->edgeCount = 0;
    spare.push_back(region);
}

SuccessorFilterBroadcast::Group& SuccessorFilterBroadcast::newGroup()
{
    if (groupCount == groups.size()) {
        groups.emplace_back();
    }
    Group& group = groups[groupCount++];
    group.regions.clear();
    group.source = nullptr;
    return group;
}

void SuccessorFilterBroadcast::clearGroups()
{
    for (size_t g = 0; g < groupCount; ++g) {
        for (BroadcastHelper* region : groups[g].regions) {
            recycle(region);
        }
        groups[g].regions.clear();
        groups[g].source = nullptr;
    }
    groupCount = 0;
}

bool SuccessorFilterBroadcast::put(Successor* item)
{
    if (item == nullptr) {
        return flush();
    }
    if (item->transition == nullptr || isEmptyTransition(item->transition)) {
        if (item->transition == nullptr) {
            item->transition = emptyEdgeTuple();
        }
        return complete(item);
    }

    SymbolicState* state = item->state;
    Edge* sender = item->transition[0];
    int32_t channel;
    try {
        channel = sender->getSync()->evaluate(state);
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    if (channel < 1 || !getChannel(channel).broadcast) {
        return applyClockGuards(item) && complete(item);
    }

    // A broadcast send: its own guard and the condition it arrived with first.
    try {
        if (!sender->evaluateClockGuard(state) ||
            (item->handle && static_cast<Expression*>(item->handle.get())->evaluate(state) == 0)) {
            pipeline::dropItem(item);
            return false;
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    if (item->transition[1] == nullptr) {
        return complete(item);
    }
    return defer(item, channel);
}

bool SuccessorFilterBroadcast::defer(Successor* item, int32_t channel)
{
    if (edgeCapacity == 0) {
        throw Bug("The broadcast successor stage needs the System before the first broadcast");
    }
    SymbolicState* state = item->state;
    Group& group = newGroup();
    group.channel = channel;
    group.sender = item->transition[0];
    group.source = state;
    item->state = nullptr;

    try {
        BroadcastHelper* whole = newRegion();
        whole->zone = state->zone;
        state->zone.setEmpty();
        whole->edges[0] = item->transition[0];
        whole->edges[1] = nullptr;
        whole->edgeCount = 1;
        whole->condition = static_cast<Expression*>(item->handle.get());
        whole->arrived = whole->condition;
        group.regions.push_back(whole);

        // Each receiver splits every region into the part where it can take part and the rest.
        for (EdgeTuple receiver = item->transition + 1; *receiver != nullptr; ++receiver) {
            for (size_t k = 0; k < group.regions.size(); ++k) {
                BroadcastHelper* region = group.regions[k];
                state->zone = region->zone;
                if (!(*receiver)->evaluateClockGuard(state)) {
                    continue;  // it can take part nowhere here
                }
                dbm::fed_t rest = region->zone;
                rest.subtract(state->zone);
                if (rest.isEmpty()) {
                    // Everywhere: it joins the region.
                    region->edges[region->edgeCount++] = *receiver;
                    region->edges[region->edgeCount] = nullptr;
                    continue;
                }
                BroadcastHelper* with = newRegion();
                with->zone = state->zone;
                std::copy(region->edges.begin(), region->edges.begin() + static_cast<long>(region->edgeCount),
                          with->edges.begin());
                with->edgeCount = region->edgeCount;
                with->edges[with->edgeCount++] = *receiver;
                with->edges[with->edgeCount] = nullptr;
                with->condition = region->condition;
                with->arrived = region->arrived;
                with->leftOut = region->leftOut;
                rest.mergeReduce();
                region->zone = rest;
                region->leftOut.push_back(*receiver);
                region->condition = conditionOf(*region);
                group.regions.insert(group.regions.begin() + static_cast<long>(k) + 1, with);
                ++k;
            }
        }
        state->zone.setEmpty();
    } catch (...) {
        // The group goes with the exception; its source back to the pool.
        for (BroadcastHelper* region : group.regions) {
            recycle(region);
        }
        group.regions.clear();
        group.source = nullptr;
        --groupCount;
        state->release();
        throw;
    }
    return true;
}

void SuccessorFilterBroadcast::reduceRegions()
{
    for (size_t i = 0; i < groupCount; ++i) {
        Group& own = groups[i];
        for (size_t k = 0; k < own.regions.size();) {
            BroadcastHelper* region = own.regions[k];
            sources.clear();
            for (size_t e = 0; e < region->edgeCount; ++e) {
                sources.push_back(region->edges[e]->source);
            }
            bool removed = false;
            // Where another combination of the same sender lets a process take part that this
            // region leaves out, that process must take part: the region loses that part.
            for (size_t j = 0; j < groupCount && !removed; ++j) {
                const Group& other = groups[j];
                if (j == i || other.channel != own.channel || other.sender != own.sender) {
                    continue;
                }
                for (const BroadcastHelper* cover : other.regions) {
                    bool leavesOut = false;
                    for (size_t e = 0; e < cover->edgeCount && !leavesOut; ++e) {
                        leavesOut = std::find(sources.begin(), sources.end(), cover->edges[e]->source) ==
                                    sources.end();
                    }
                    if (!leavesOut) {
                        continue;
                    }
                    region->zone.subtract(cover->zone);
                    if (region->zone.isEmpty()) {
                        removed = true;
                        break;
                    }
                    region->zone.mergeReduce();
                }
            }
            // The same edges already cover it in another combination.
            for (size_t j = 0; j < groupCount && !removed; ++j) {
                const Group& other = groups[j];
                if (j == i || other.channel != own.channel || other.sender != own.sender) {
                    continue;
                }
                for (const BroadcastHelper* twin : other.regions) {
                    if (edgeTupleEquals(twin->edges.data(), region->edges.data()) &&
                        region->zone.isSubsetEq(twin->zone)) {
                        removed = true;
                        break;
                    }
                }
            }
            if (removed) {
                recycle(region);
                own.regions.erase(own.regions.begin() + static_cast<long>(k));
            } else {
                ++k;
            }
        }
    }
}

void SuccessorFilterBroadcast::handOnRegions()
{
    size_t g = 0;
    try {
        for (; g < groupCount; ++g) {
            Group& group = groups[g];
            SymbolicState* source = group.source;
            if (group.regions.empty()) {
                group.source = nullptr;
                source->release();
                continue;
            }
            const size_t last = group.regions.size() - 1;
            for (size_t k = 0; k <= last; ++k) {
                BroadcastHelper* region = group.regions[k];
                Successor successor;
                if (k < last) {
                    successor.state = source->cloneDiscrete();
                } else {
                    successor.state = source;
                    group.source = nullptr;
                }
                successor.state->zone = region->zone;
                successor.transition = internEdgeTuple(region->edges.data());
                successor.handle = region->condition;
                complete(&successor);
            }
        }
    } catch (...) {
        // The sources not yet handed on go back to the pool with the remaining groups.
        for (; g < groupCount; ++g) {
            if (groups[g].source != nullptr) {
                groups[g].source->release();
                groups[g].source = nullptr;
            }
        }
        clearGroups();
        throw;
    }
}

bool SuccessorFilterBroadcast::flush()
{
    if (groupCount >= 2) {
        reduceRegions();
    }
    handOnRegions();
    clearGroups();
    return false;
}

pipeline::Connectable* makeSuccessorFilterBroadcast(FilterConfiguration*)
{
    return new SuccessorFilterBroadcast;
}
