#include "statespace/reachability_filter.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include "pipeline/distance_filter.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/sorting_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "runtime/value_array.h"
#include "statespace/passed_waiting_list.h"
#include "statespace/path.h"
#include "statespace/trace.h"
#include "support/exceptions.h"
#include "support/progress_line.h"

namespace {

bool dumpingStates()
{
    return std::getenv("MIRVEK_DUMP_STATE") != nullptr;
}

}  // namespace

// ---- Supremum and infimum ------------------------------------------------------------------------

void ReachabilitySup::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SUP_FEEDBACK) {
        results = static_cast<Record*>(value);
    } else if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
        takeExpressions();
    }
}

void ReachabilitySup::begin()
{
    takeExpressions();
}

void ReachabilitySup::takeExpressions()
{
    expressions.clear();
    if (job != nullptr) {
        const uint32_t count = job->expressionCount();
        for (uint32_t i = 0; i < count; ++i) {
            expressions.push_back(job->getExpression(i));
        }
    }
}

void ReachabilitySup::record(Record& r, int32_t value) const
{
    if (value >= r.upper) {
        r.upper = value;
        r.seen = true;
    }
}

void ReachabilityInf::record(Record& r, int32_t value) const
{
    if (value <= r.lower) {
        r.lower = value;
        r.seen = true;
    }
}

bool ReachabilitySup::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    bool settled = true;
    try {
        if (!expressions.empty() && expressions[0]->evaluate(state) == 0) {
            pipeline::dropItem(item);
            return false;
        }
        for (size_t i = 1; i < expressions.size(); ++i) {
            const int32_t value = expressions[i]->evaluate(state);
            if (results != nullptr) {
                Record& r = results[i - 1];
                record(r, value);
                settled = settled && r.upper == r.lower;
            }
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    if (!settled || next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

// ---- ReachabilityFilter --------------------------------------------------------------------------

ReachabilityFilter::ReachabilityFilter(FilterConfiguration* registry) : registry(registry)
{
    using Stage = pipeline::Filter<Successor, Successor>;
    canonizeStage = addMember(registry->getAs<Stage>(FILTER_CANONIZE));
    extrapolationStage = addMember(registry->getAs<Stage>(FILTER_EXTRAPOLATION));
    expansionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_EXPANSION));
    delayStage = addMember(registry->getAs<Stage>(FILTER_DELAY));
    queryStage = addMember(registry->getAs<Stage>(FILTER_QUERY));
    successorStage = addMember(registry->getAs<Stage>(FILTER_SUCCESSOR));
    transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    progressStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, SymbolicState>>(FILTER_PROGRESS));
    traceStage = addMember(registry->getAs<Stage>(FILTER_TRACESTORE));
    sortingStage = addMember(registry->getAs<SortingFilter>(FILTER_SORTING));
    copyStage = addMember(registry->getAs<Stage>(FILTER_COPY));
    symmetryStage = addMember(registry->getAs<Stage>(FILTER_SYMMETRY));
    list = addMember(registry->getAs<PassedWaitingList>(FILTER_PASSED_WAITING_LIST));
    distanceStage = addMember(registry->getAs<Stage>(FILTER_DISTANCE));
    supStage = addMember(new ReachabilitySup);
    infStage = addMember(new ReachabilityInf);
    observableStage = addMember(new pipeline::ObservableFilter<SymbolicState>(sortingStage));
}

ReachabilityFilter::~ReachabilityFilter()
{
    releaseCandidates();
    expression.release();
    system.release();
}

void ReachabilityFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STOP) {
        stop = true;
    } else if (key == PROPERTY_EXPRESSION) {
        expression = static_cast<Expression*>(value);
    } else if (key == PROPERTY_REACHEDSTATE) {
        reached = static_cast<SymbolicState*>(value);
        if (reached != nullptr && dumpingStates()) {
            eraseProgressLine();
            std::cerr << "Reached:" << std::endl;
            reached->print(std::cerr, nullptr);
            System* owner = reached->getSystem();
            SystemClockAccessor clocks(owner, reached);
            std::cerr << reached->zone.toString(clocks) << std::endl;
        }
    } else if (key == PROPERTY_MINCOST) {
        if (value != nullptr && dumpingStates()) {
            eraseProgressLine();
            std::cerr << "cost=" << *static_cast<const int*>(value) << std::endl;
        }
    } else if (key == PROPERTY_SILENT) {
        if (value != nullptr) {
            silent = *static_cast<const bool*>(value);
        }
    } else if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_CHECKTRACE) {
        checkTraces = true;
    } else if (key == PROPERTY_TRACESTORE) {
        traceStore = static_cast<TraceStore*>(value);
        trace = traceStore != nullptr;
    } else if (key == PROPERTY_TARGET_ORDER) {
        targetOrder = true;
    } else if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
        const int32_t type = job != nullptr ? job->getPropertyType() : 0;
        supremum = type == 43;
        infimum = type == 44;
    }
    members.setProperty(key, value);
}

void ReachabilityFilter::begin()
{
    using Stage = pipeline::Filter<Successor, Successor>;
    reached = nullptr;
    // A stop is forgotten when a search begins, not when its first state arrives: an interrupt
    // that comes between the two still ends the search.
    stop = false;

    // The head, and the stages in front of the transition stage.
    if (sortingStage != nullptr) {
        head = observableStage;
    } else if (silent || progressStage == nullptr) {
        head = transitionStage;
    } else {
        head = progressStage;
    }
    pipeline::Generator<SymbolicState>* beforeTransitions = observableStage;
    if (!silent && progressStage != nullptr) {
        observableStage->connect(progressStage);
        beforeTransitions = progressStage;
    }
    beforeTransitions->connect(transitionStage);

    // From the transitions to the passed-waiting list, skipping absent stages.
    Stage* chain[] = {copyStage,
                                successorStage,
                                targetOrder ? distanceStage : nullptr,
                                sortingStage,
                                trace ? traceStage : nullptr,
                                delayStage,
                                canonizeStage,
                                symmetryStage,
                                extrapolationStage};
    pipeline::Sink<Successor>* listSink = list;
    pipeline::Generator<Successor>* last = transitionStage;
    for (Stage* stage : chain) {
        if (stage == nullptr) {
            continue;
        }
        if (last != nullptr) {
            last->connect(stage);
        }
        last = stage;
    }
    if (last != nullptr) {
        last->connect(listSink);
    }

    // The goal stage between the list and the terminal sink; the expansion stage hands the
    // states of a reused list (and those its space optimisation left out) to it as well.
    // While traces are checked, a goal waits for its check before it reaches the terminal sink.
    // Suprema and infima take their values from every state stored, which no single trace
    // confirms: their goals are not held.
    Stage* goal = supremum ? supStage : infimum ? static_cast<Stage*>(infStage) : queryStage;
    pipeline::Sink<Successor>* output = checkTraces && !supremum && !infimum ? &candidateSink : next;
    pipeline::Sink<Successor>* afterList = goal != nullptr ? static_cast<pipeline::Sink<Successor>*>(goal) : output;
    if (list != nullptr) {
        list->connect(afterList);
    }
    if (goal != nullptr) {
        goal->connect(output);
    }
    if (expansionStage != nullptr) {
        expansionStage->connect(afterList);
    }

    releaseCandidates();
    unconfirmed = false;
    refinedGoals.clear();
    members.begin();
}

bool ReachabilityFilter::put(Successor* item)
{
    if (list == nullptr || delayStage == nullptr || head == nullptr) {
        pipeline::dropItem(item);
        throw Bug("The reachability search needs a passed-waiting list, a delay stage and a transition stage");
    }
    System* owner = item->state->getSystem();
    SymbolicStateReference* reference = nullptr;

    // States a reused list already holds: the goal stage sees each again.
    std::unique_ptr<pipeline::Source<SymbolicStateReference*>> enumeration(list->enumerate());
    if (enumeration != nullptr && expansionStage != nullptr) {
        while (!stop && enumeration->get(&reference)) {
            SymbolicState* state = owner->acquireState();
            reference->load(state);
            reference->finish(false);
            expansionStage->put(state);
            // The list is being walked: its states are checked but not refined.
            checkCandidates(false);
        }
        if (stop) {
            pipeline::dropItem(item);
            stop = false;
            return true;
        }
    }

    // The initial state is stored like any successor, and tested there.
    item->state->storeMark = 1;
    delayStage->put(item);
    checkCandidates(true);

    while (!stop && list->get(&reference)) {
        SymbolicState* state = owner->acquireState();
        reference->load(state);
        reference->finish(state->storeMark == 0);
        head->put(state);
        checkCandidates(true);
    }
    // The stop ended this search; a later one from the same stage runs.
    stop = false;
    return true;
}

bool ReachabilityFilter::CandidateSink::put(Successor* item)
{
    if (item == nullptr || item->state == nullptr) {
        return false;
    }
    owner.candidates.push_back(item->state);
    item->state = nullptr;
    return true;
}

void ReachabilityFilter::releaseCandidates()
{
    for (SymbolicState* state : candidates) {
        state->release();
    }
    candidates.clear();
}

void ReachabilityFilter::checkCandidates(bool refine)
{
    if (candidates.empty()) {
        return;
    }
    // Taken out first: a check may not add to the list it walks.
    std::vector<SymbolicState*> waiting;
    waiting.swap(candidates);
    bool handedOn = false;
    for (size_t i = 0; i < waiting.size(); ++i) {
        SymbolicState* state = waiting[i];
        waiting[i] = nullptr;
        bool confirmed = false;
        try {
            // Once a confirmed goal has stopped the search the others are not needed.
            confirmed = !(handedOn && stop) && confirm(state, refine);
        } catch (...) {
            state->release();
            for (SymbolicState* rest : waiting) {
                if (rest != nullptr) {
                    rest->release();
                }
            }
            throw;
        }
        if (!confirmed || next == nullptr) {
            state->release();
            continue;
        }
        Successor goal;
        goal.state = state;
        goal.transition = emptyEdgeTuple();
        handedOn = true;
        next->put(&goal);
    }
}

bool ReachabilityFilter::confirm(SymbolicState* state, bool refine)
{
    if (traceStore == nullptr || !system) {
        unconfirmed = true;
        return false;
    }
    SymbolicState* initial = system->makeInitialState();
    PathList lastGeneration;
    PathList relaxedEnds;
    PathRef path;
    uint32_t length = 0;
    try {
        base::RefPtr<Trace> trace = traceStore->createTrace(state->traceIndex);
        length = trace->length();
        path = makePath(registry, initial, trace, expression, &lastGeneration, &relaxedEnds);
    } catch (...) {
        initial->release();
        throw;
    }
    const bool confirmed = static_cast<bool>(path);
    if (!confirmed) {
        unconfirmed = true;
        // The goal may lie in the over-approximation only: keep the states that led to it exact
        // from now on and search on. Each goal's discrete part does so once; a refinement that
        // would repeat an earlier one only makes the search find the same goal again.
        const ValueArray& values = state->getIntegerArray();
        std::pair<std::vector<const void*>, std::vector<int32_t>> part(
            std::vector<const void*>(state->getLocations(), state->getLocations() + state->getSlotCount()),
            std::vector<int32_t>(values.values, values.values + values.size()));
        if (refine && !lastGeneration.empty() && refinedGoals.insert(std::move(part)).second) {
            list->markExact(state);
            // The steps stored again are the states after the first transitions of the trace:
            // they take the record of the goal's ancestor at that depth, so that a goal found
            // from them has its whole run as its trace.
            const int32_t record = ancestorRecord(state->traceIndex, length, *lastGeneration.front());
            for (const PathRef& step : lastGeneration) {
                step->state->traceIndex = record;
                list->reinsertExact(step->state);
            }
            for (const PathRef& step : relaxedEnds) {
                list->markExact(step->state);
            }
        }
    }
    lastGeneration.clear();
    relaxedEnds.clear();
    path.release();
    initial->release();
    return confirmed;
}

int32_t ReachabilityFilter::ancestorRecord(int32_t record, uint32_t length, const Path& step) const
{
    auto* records = dynamic_cast<MemoryTraceStore*>(traceStore);
    if (records == nullptr) {
        return -1;
    }
    uint32_t depth = 0;
    for (const Path* p = step.parent.get(); p != nullptr; p = p->parent.get()) {
        ++depth;
    }
    for (uint32_t up = depth; up < length && record != -1; ++up) {
        record = records->parentOf(record);
    }
    return record;
}

pipeline::Connectable* makeReachabilityFilter(FilterConfiguration* registry)
{
    return new ReachabilityFilter(registry);
}

void registerReachabilityFilters()
{
    registerBuiltinFilter(FILTER_REACHABILITY, makeReachabilityFilter);
    registerBuiltinFilter(FILTER_DISTANCE, makeDistanceFilter);
}
