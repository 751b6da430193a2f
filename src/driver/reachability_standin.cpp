#include "driver/reachability_standin.h"

#include <cstdlib>
#include <iostream>

#include "pipeline/filter_configuration.h"
#include "pipeline/job.h"
#include "pipeline/keys.h"
#include "pipeline/sorting_filter.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/passed_waiting_list.h"

namespace {

// Drops whatever reaches it: the end of a chain whose last stage is absent.
class NullSink : public pipeline::Sink<Successor>
{
public:
    bool put(Successor* item) override
    {
        if (item != nullptr) {
            pipeline::dropItem(item);
        }
        return false;
    }
};

NullSink& nullSink()
{
    static NullSink sink;
    return sink;
}

// Connects `from` to `to` when both exist and returns the stage that is now last.
template <class Stage>
pipeline::Generator<Successor>* chain(pipeline::Generator<Successor>* from, Stage* to)
{
    if (to == nullptr) {
        return from;
    }
    from->connect(static_cast<pipeline::Sink<Successor>*>(to));
    return to;
}

} // namespace

// ---- Supremum and infimum ---------------------------------------------------------------------

void ReachabilitySup::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SUP_FEEDBACK) {
        results = static_cast<SupInfResult*>(value);
    } else if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
    }
}

void ReachabilitySup::record(SupInfResult& result, int32_t value)
{
    if (value >= result.sup) {
        result.sup = value;
        result.valid = true;
    }
}

void ReachabilityInf::record(SupInfResult& result, int32_t value)
{
    if (value <= result.inf) {
        result.inf = value;
        result.valid = true;
    }
}

bool ReachabilitySup::put(Successor* item)
{
    SymbolicState* state = item->state;
    if (job->getExpression(0)->evaluate(state) == 0) {
        state->release();
        return false;
    }
    const uint32_t count = job->expressionCount();
    bool settled = true;
    for (uint32_t i = 1; i < count; ++i) {
        SupInfResult& result = results[i - 1];
        record(result, job->getExpression(i)->evaluate(state));
        settled = settled && result.sup == result.inf;
    }
    if (!settled) {
        state->release();
        return false;
    }
    if (next == nullptr) {
        state->release();
        return false;
    }
    return next->put(item);
}

// ---- The stage ------------------------------------------------------------------------------------

StandinReachabilityFilter::StandinReachabilityFilter(FilterConfiguration* registry)
{
    canonize = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_CANONIZE));
    extrapolation = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_EXTRAPOLATION));
    expansion = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_EXPANSION));
    delay = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    query = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_QUERY));
    successor = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    transition = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    progress = addMember(registry->getAs<pipeline::Filter<SymbolicState, SymbolicState>>(FILTER_PROGRESS));
    traceStore = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_TRACESTORE));
    sorting = addMember(registry->getAs<SortingFilter>(FILTER_SORTING));
    copy = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_COPY));
    symmetry = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SYMMETRY));
    passedWaiting = addMember(registry->getAs<PassedWaitingList>(FILTER_PASSED_WAITING_LIST));
    distance = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DISTANCE));
    sup = addMember(new ReachabilitySup);
    inf = addMember(new ReachabilityInf);
    observable = addMember(new pipeline::ObservableFilter<SymbolicState>(sorting));
}

StandinReachabilityFilter::~StandinReachabilityFilter() = default;

void StandinReachabilityFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STOP) {
        stop = true;
    } else if (key == PROPERTY_REACHEDSTATE) {
        if (std::getenv("MIRVEK_DUMP_STATE") != nullptr && value != nullptr) {
            auto* state = static_cast<SymbolicState*>(value);
            std::cerr << "Reached:\n";
            state->print(std::cerr);
        }
    } else if (key == PROPERTY_MINCOST) {
        if (std::getenv("MIRVEK_DUMP_STATE") != nullptr && value != nullptr) {
            std::cerr << "cost=" << *static_cast<int*>(value) << "\n";
        }
    } else if (key == PROPERTY_SILENT) {
        silent = value != nullptr && *static_cast<bool*>(value);
    } else if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_TRACESTORE) {
        tracing = value != nullptr;
    } else if (key == PROPERTY_TARGET_ORDER) {
        targetOrder = true;
    } else if (key == PROPERTY_JOB) {
        auto* job = static_cast<pipeline::JobInterface*>(value);
        supremum = job != nullptr && job->getPropertyType() == 43;
        infimum = job != nullptr && job->getPropertyType() == 44;
    }
    CompoundFilter::setProperty(key, value);
}

void StandinReachabilityFilter::begin()
{
    if (transition == nullptr) {
        CompoundFilter::begin();
        return;
    }
    pipeline::Sink<SymbolicState>* afterObservable = nullptr;
    if (sorting != nullptr) {
        head = observable;
    } else if (silent || progress == nullptr) {
        head = transition;
    } else {
        head = progress;
    }
    if (!silent && progress != nullptr) {
        progress->connect(static_cast<pipeline::Sink<SymbolicState>*>(transition));
        afterObservable = progress;
    } else {
        afterObservable = transition;
    }
    observable->connect(afterObservable);

    pipeline::Generator<Successor>* last = transition;
    last = chain(last, copy);
    last = chain(last, successor);
    if (targetOrder) {
        last = chain(last, distance);
    }
    last = chain(last, sorting);
    if (tracing) {
        last = chain(last, traceStore);
    }
    last = chain(last, delay);
    last = chain(last, canonize);
    last = chain(last, symmetry);
    last = chain(last, extrapolation);
    if (passedWaiting != nullptr) {
        last->connect(static_cast<pipeline::Sink<Successor>*>(passedWaiting));
    } else {
        last->connect(&nullSink());
    }

    pipeline::Filter<Successor, Successor>* goal = supremum ? sup : infimum ? static_cast<ReachabilitySup*>(inf) : query;
    pipeline::Sink<Successor>* target = goal != nullptr ? goal : next;
    if (passedWaiting != nullptr) {
        passedWaiting->connect(target);
    }
    if (goal != nullptr) {
        goal->connect(next);
        if (expansion != nullptr) {
            expansion->connect(static_cast<pipeline::Sink<Successor>*>(goal));
        }
    }
    CompoundFilter::begin();
}

bool StandinReachabilityFilter::put(Successor* initial)
{
    stop = false;
    if (passedWaiting == nullptr || delay == nullptr || head == nullptr) {
        initial->state->release();
        return false;
    }
    pipeline::Source<SymbolicStateReference*>* stored = passedWaiting->enumerate();
    if (stored != nullptr && expansion != nullptr) {
        // States kept from an earlier query on the same state space are tested again first.
        SymbolicStateReference* reference = nullptr;
        while (!stop && stored->get(&reference)) {
            SymbolicState* state = system->acquireState();
            reference->load(state);
            reference->finish(false);
            expansion->put(state);
        }
        if (stop) {
            delete stored;
            initial->state->release();
            return true;
        }
    }
    delete stored;

    initial->state->storeMark = 1;
    delay->put(initial);

    SymbolicStateReference* reference = nullptr;
    while (!stop && passedWaiting->get(&reference)) {
        SymbolicState* state = system->acquireState();
        reference->load(state);
        reference->finish(state->storeMark == 0);
        head->put(state);
    }
    return true;
}

pipeline::Connectable* makeStandinReachabilityFilter(FilterConfiguration* registry)
{
    return new StandinReachabilityFilter(registry);
}
