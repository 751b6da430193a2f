#pragma once

// What the tests of the liveness, leads-to and robust searches share: small hand-built models, a
// registry holding the stages these searches ask for, a sink that collects reports and asks the
// search to stop as the verifier's sink does, and a passed list that counts what it is told.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "pipeline/successor_chain.h"
#include "runtime/clock_expression.h"
#include "runtime/edge.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/css.h"
#include "statespace/passed_list.h"
#include "statespace/trace.h"
#include "statespace/trace_store_filter.h"
#include "testkit/expressions.h"
#include "testkit/model_builder.h"

namespace livetest {

using testkit::clockLower;
using testkit::clockUpper;

// x == value.
inline ExpressionRef clockEquals(const ClockVariable* x, int32_t value)
{
    return makeConjunction(clockLower(x, false, value), clockUpper(x, false, value));
}

// Process p is in the location: a state predicate without clocks.
class InLocation : public TrivialExpression
{
public:
    InLocation(uint32_t process, const Location* location) : process(process), location(location) {}
    void accept(ExpressionVisitor&) override {}
    int32_t evaluate(PublicState* state) override { return state->getLocation(process) == location ? 1 : 0; }

private:
    uint32_t process;
    const Location* location;
};

// A guard that holds until its evaluation number `failing` (counted from 1), which fails as an
// index out of range would.
class FailsOnEvaluation : public TrivialExpression
{
public:
    explicit FailsOnEvaluation(int failing) : failing(failing) {}
    void accept(ExpressionVisitor&) override {}
    int32_t evaluate(PublicState*) override
    {
        if (++evaluations == failing) {
            throw CannotEvaluateExpression("Index out of range", NO_POSITION);
        }
        return 1;
    }

    int failing;
    int evaluations = 0;
};

// Collects the pairs of a liveness search and asks the source to stop at each, as the verifier's
// sink does; with `stops` cleared it only collects.
class PairSink : public pipeline::Sink<std::pair<int, int>>
{
public:
    bool put(std::pair<int, int>* pair) override
    {
        pairs.push_back(*pair);
        if (stops && source != nullptr) {
            bool yes = true;
            source->setProperty(PROPERTY_STOP, &yes);
        }
        return true;
    }

    std::vector<std::pair<int, int>> pairs;
    pipeline::Connectable* source = nullptr;
    bool stops = true;
};

// Keeps the goal states of a reachability search (owning them) and asks the source to stop.
class GoalSink : public pipeline::Sink<Successor>
{
public:
    ~GoalSink() override { release(); }
    bool put(Successor* item) override
    {
        goals.push_back(item->state);
        if (source != nullptr) {
            bool yes = true;
            source->setProperty(PROPERTY_STOP, &yes);
        }
        return true;
    }
    void release()
    {
        for (SymbolicState* state : goals) {
            state->release();
        }
        goals.clear();
    }

    std::vector<SymbolicState*> goals;
    pipeline::Connectable* source = nullptr;
};

// A passed list in the constraint-system store that counts the states it is told about and the
// successors it drops.
class CountingPassedList : public CSSPassedList
{
public:
    static inline int added = 0;
    static inline int dropped = 0;
    static void reset()
    {
        added = 0;
        dropped = 0;
    }

    void add(SymbolicState* state) override
    {
        ++added;
        CSSPassedList::add(state);
    }
    bool put(Successor* successor) override
    {
        const bool kept = CSSPassedList::put(successor);
        dropped += kept ? 0 : 1;
        return kept;
    }
};

inline pipeline::Connectable* makeCountingPassedList(FilterConfiguration*)
{
    return new CountingPassedList;
}

// A registry with the built-in successor chain, the trace recording and the counting passed list;
// no extrapolation (the test models keep their clocks bounded or do not need it).
inline base::RefPtr<FilterConfiguration> makeRegistry()
{
    registerSuccessorChainFilters();
    registerStatespaceFilters();
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    registry->set(FILTER_PASSED_LIST, makeCountingPassedList);
    registry->set(FILTER_EXTRAPOLATION, nullptr);
    CountingPassedList::reset();
    return registry;
}

// The settings the verifier sends to a symbolic search, for a hand-built system.
struct Settings
{
    explicit Settings(System* system) : store(new CSS(system, false)), traces(new MemoryTraceStore) {}

    void send(pipeline::Connectable& target, System* system)
    {
        target.setProperty(PROPERTY_COLOR_STATE_SET, store.get());
        target.setProperty(PROPERTY_SYSTEM, system);
        target.setProperty(PROPERTY_TRACESTORE, traces.get());
        target.setProperty(PROPERTY_SILENT, &silent);
    }

    // The initial state as the verifier makes it: a root record in the trace store.
    Successor initial(System* system)
    {
        Successor item;
        item.state = system->makeInitialState();
        item.state->traceIndex = traces->put(nullptr, -1);
        item.transition = emptyEdgeTuple();
        return item;
    }

    base::RefPtr<CSS> store;
    base::RefPtr<MemoryTraceStore> traces;
    bool silent = true;
};

// The edges of a trace, in order.
inline std::vector<const Edge*> traceEdges(Trace& trace)
{
    std::vector<const Edge*> edges;
    for (trace.begin(); !trace.atEnd(); trace.next()) {
        for (EdgeTuple edge = trace.current(); *edge != nullptr; ++edge) {
            edges.push_back(*edge);
        }
    }
    return edges;
}

}  // namespace livetest
