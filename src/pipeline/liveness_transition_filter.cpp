#include "pipeline/liveness_transition_filter.h"

#include "pipeline/broadcast_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/priority_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace pipeline {

bool CopySource::put(SymbolicState* state)
{
    remembered = state;
    SymbolicState* copy = state->clone();
    if (next == nullptr) {
        copy->release();
        return false;
    }
    return next->put(copy);
}

bool RestoreSource::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    dropItem(item);
    item->state = source->getRemembered();
    if (next == nullptr) {
        // The remembered state is not ours to release.
        item->state = nullptr;
        return false;
    }
    return next->put(item);
}

}  // namespace pipeline

SpecialLivenessTransitionFilter::SpecialLivenessTransitionFilter(FilterConfiguration* registry, bool priorities,
                                                                 bool broadcastGuards)
{
    copySource = addMember(new pipeline::CopySource);
    inner = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    copyStage = addMember(new LazyCopyFilter);
    if (priorities) {
        priorityStage = addMember(new PriorityFilter);
    }
    if (broadcastGuards) {
        broadcastStage = addMember(new SuccessorFilterBroadcast);
    }
    restoreSource = addMember(new pipeline::RestoreSource(copySource));
}

void SpecialLivenessTransitionFilter::begin()
{
    copySource->connect(inner);
    if (inner != nullptr) {
        pipeline::Generator<Successor>* last = inner;
        if (priorityStage != nullptr) {
            last->connect(priorityStage);
            last = priorityStage;
        }
        if (broadcastStage != nullptr) {
            // The priority stage already gives every transition a state of its own and closes a
            // state's transitions with the null item that the broadcast stage waits for. The copy
            // stage expects all transitions of a state to share it and a closing end marker, so
            // it stands only behind the plain enumeration.
            if (priorityStage == nullptr) {
                last->connect(copyStage);
                last = copyStage;
            }
            last->connect(broadcastStage);
            last = broadcastStage;
        }
        last->connect(restoreSource);
    }
    restoreSource->connect(next);
    members.begin();
}

void SpecialLivenessTransitionFilter::connect(pipeline::Sink<Successor>* sink)
{
    next = sink;
    restoreSource->connect(sink);
}

bool SpecialLivenessTransitionFilter::put(SymbolicState* state)
{
    return copySource->put(state);
}

pipeline::Connectable* makeLivenessTransitionFilterPriorityBroadcast(FilterConfiguration* registry)
{
    return new SpecialLivenessTransitionFilter(registry, true, true);
}

pipeline::Connectable* makeLivenessTransitionFilterPriority(FilterConfiguration* registry)
{
    return new SpecialLivenessTransitionFilter(registry, true, false);
}

pipeline::Connectable* makeLivenessTransitionFilterBroadcast(FilterConfiguration* registry)
{
    return new SpecialLivenessTransitionFilter(registry, false, true);
}
