#include "pipeline/exploration_filters.h"

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/concrete_state.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/symbolic_state_reference.h"

// ---- QueryFilter ---------------------------------------------------------------------------------

void QueryFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        expression = static_cast<Expression*>(value);
    }
}

bool QueryFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    int32_t holds = 1;
    try {
        if (expression) {
            holds = expression->evaluate(item->state);
        }
    } catch (...) {
        pipeline::dropItem(item);
        throw;
    }
    if (holds == 0 || next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

// ---- LazyCopyFilter ------------------------------------------------------------------------------

LazyCopyFilter::LazyCopyFilter() = default;

bool LazyCopyFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    // A transition of the state: the one held back so far gets a copy, the new one waits.
    if (!isEmptyTransition(item->transition)) {
        try {
            if (pending != nullptr) {
                Successor copy;
                copy.state = item->state->clone();
                copy.transition = pending;
                if (next != nullptr) {
                    next->put(&copy);
                } else {
                    pipeline::dropItem(&copy);
                }
            }
            pending = internEdgeTuple(item->transition);
        } catch (...) {
            // The next source state must not inherit a transition of this one.
            pending = nullptr;
            throw;
        }
        return true;
    }

    // The end of the state's transitions: the last one takes the state itself.
    if (pending == nullptr) {
        pipeline::dropItem(item);
        return true;
    }
    Successor last;
    last.state = item->state;
    last.transition = pending;
    pending = nullptr;
    if (next == nullptr) {
        pipeline::dropItem(&last);
        return true;
    }
    next->put(&last);
    next->put(nullptr);
    return true;
}

// ---- CanonizeZoneFilter and SuccessorToSymbolicStateFilter ----------------------------------------

bool CanonizeZoneFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    item->state->canonize(emptyEdgeTuple());
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

bool SuccessorToSymbolicStateFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item->state);
}

// ---- JobProgressFilter ---------------------------------------------------------------------------

template <class T>
void JobProgressFilter<T>::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
    }
}

template class JobProgressFilter<SymbolicState>;
template class JobProgressFilter<Successor>;
// The progress stage of the statistical checkers' runs.
template class JobProgressFilter<ConcreteState>;

// ---- ExpansionFilter -----------------------------------------------------------------------------

ExpansionFilter::ExpansionFilter(FilterConfiguration* registry)
{
    transitionStage = addMember(registry->getAs<pipeline::Filter<SymbolicState, Successor>>(FILTER_TRANSITION));
    copyStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_COPY));
    successorStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_SUCCESSOR));
    delayStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_DELAY));
    traceStage = addMember(registry->getAs<pipeline::Filter<Successor, Successor>>(FILTER_TRACESTORE));
    pipeline::Connectable* list = registry->get(FILTER_PASSED_WAITING_LIST);
    if (list != nullptr) {
        listSink = dynamic_cast<pipeline::Sink<Successor>*>(list);
        listOutput = dynamic_cast<pipeline::Generator<Successor>*>(list);
        listSource = dynamic_cast<pipeline::Source<SymbolicStateReference*>*>(list);
        if (listSink == nullptr || listOutput == nullptr || listSource == nullptr) {
            // Not a passed-waiting list: treated as absent.
            delete list;
            listSink = nullptr;
            listOutput = nullptr;
            listSource = nullptr;
        } else {
            addMember(list);
        }
    }
}

ExpansionFilter::~ExpansionFilter() = default;

void ExpansionFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STATISTICS) {
        return;
    }
    members.setProperty(key, value);
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_TRACESTORE) {
        traceStore = value != nullptr;
    } else if (key == PROPERTY_SPACEOPT) {
        spaceOptimisation = *static_cast<const int*>(value);
    }
}

void ExpansionFilter::begin()
{
    members.begin();

    // transition -> [copy] -> successor: the transitions reach the successor computation as in
    // the search, the end signal of each state included (a broadcast stage hands on its deferred
    // successors only then).
    pipeline::Generator<Successor>* transitions = copyStage;
    if (transitions == nullptr) {
        transitions = transitionStage;
    }
    if (transitionStage != nullptr && copyStage != nullptr) {
        transitionStage->connect(copyStage);
    }
    if (transitions != nullptr && successorStage != nullptr) {
        transitions->connect(successorStage);
    }

    // Then only the successors the search did not store, -> [trace recording] -> delay ->
    // passed-waiting list, skipping absent stages.
    pipeline::Filter<Successor, Successor>* chain[] = {traceStore ? traceStage : nullptr, delayStage};
    afterTransition = nullptr;
    pipeline::Filter<Successor, Successor>* last = nullptr;
    for (pipeline::Filter<Successor, Successor>* stage : chain) {
        if (stage == nullptr) {
            continue;
        }
        if (last != nullptr) {
            last->connect(stage);
        } else {
            afterTransition = stage;
        }
        last = stage;
    }
    if (last != nullptr) {
        last->connect(listSink);
    } else {
        afterTransition = listSink;
    }
    if (successorStage != nullptr) {
        successorStage->connect([this](Successor* item) { return keepUnstored(item); });
    }
    if (listOutput != nullptr) {
        listOutput->connect(next);
    }
}

bool ExpansionFilter::keepUnstored(Successor* item)
{
    if (item == nullptr) {
        return false;
    }
    // The successor stage marked the state as the search's own successor stage did: 0 for a
    // state the search did not keep, which only this expansion can show again.
    if (item->state->storeMark != 0 || afterTransition == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return afterTransition->put(item);
}

bool ExpansionFilter::put(SymbolicState* state)
{
    if (spaceOptimisation != 0 && transitionStage != nullptr) {
        transitionStage->put(state->clone());
        SymbolicStateReference* reference = nullptr;
        while (listSource != nullptr && listSource->get(&reference)) {
            SymbolicState* waiting = state->getSystem()->acquireState();
            reference->load(waiting);
            reference->finish(true);
            transitionStage->put(waiting);
        }
    }
    Successor item;
    item.state = state;
    item.transition = nullptr;
    if (next == nullptr) {
        pipeline::dropItem(&item);
        return false;
    }
    return next->put(&item);
}

// ---- Factories -----------------------------------------------------------------------------------

pipeline::Connectable* makeQueryFilter(FilterConfiguration*)
{
    return new QueryFilter;
}

pipeline::Connectable* makeLazyCopyFilter(FilterConfiguration*)
{
    return new LazyCopyFilter;
}

pipeline::Connectable* makeCanonizeZoneFilter(FilterConfiguration*)
{
    return new CanonizeZoneFilter;
}

pipeline::Connectable* makeExpansionFilter(FilterConfiguration* registry)
{
    return new ExpansionFilter(registry);
}

pipeline::Connectable* makeJobProgressFilter(FilterConfiguration*)
{
    return new JobProgressFilter<SymbolicState>;
}
