#pragma once

// Helpers of the reachability tests: compiled queries, a job and a terminal sink standing in for
// those of the verification control, and a search assembled as the model checker assembles it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pipeline/broadcast_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/job.h"
#include "pipeline/keys.h"
#include "pipeline/sorting_filter.h"
#include "pipeline/statistics.h"
#include "pipeline/successor_chain.h"
#include "pipeline/successor_chain_fixture.h"
#include "runtime/extrapolation_info.h"
#include "statespace/css.h"
#include "statespace/passed_waiting_list.h"
#include "statespace/reachability_filter.h"
#include "statespace/sweep_line_list.h"
#include "statespace/trace.h"
#include "statespace/trace_store_filter.h"
#include "typecheck/checked_reading.h"

namespace reachtest {

using chaintest::CompiledModel;
using chaintest::compileModel;
using chaintest::fixture;

// A state formula over the model, compiled as the model checker compiles the query's predicate.
inline ExpressionRef formula(CompiledModel& model, const std::string& text, const ExpressionRef& deadlock = nullptr)
{
    ZOLT::expression_t parsed = ZOLT::readCheckedExpressionText(text.c_str(), model.model.get(), true);
    for (const ZOLT::diagnostic_t& d : model.model->getErrors()) {
        ADD_FAILURE() << "error in '" << text << "': " << d.message;
    }
    return model.compiler->compileStateFormula(parsed, deadlock);
}

// An integer value expression over the model (the values of supremum and infimum queries).
inline ExpressionRef value(CompiledModel& model, const std::string& text)
{
    ZOLT::expression_t parsed = ZOLT::readCheckedExpressionText(text.c_str(), model.model.get(), true);
    return model.compiler->compileValueExpression(parsed, false);
}

// The job of the query: its property type and expressions, and a count of explored states.
class FakeJob : public pipeline::JobInterface
{
public:
    void progress() override { ++explored; }
    int32_t getPropertyType() const override { return propertyType; }
    uint32_t expressionCount() const override { return static_cast<uint32_t>(expressions.size()); }
    ExpressionRef getExpression(uint32_t i) const override
    {
        return i < expressions.size() ? expressions[i] : ExpressionRef(new Constant(1));
    }

    int32_t propertyType = 0;
    std::vector<ExpressionRef> expressions;
    int explored = 0;
};

// The terminal sink of a reachability run: keeps the goal state (giving back an earlier one) and
// stops the search it was given; a null item makes it forget its state.
class StopSink : public pipeline::Sink<Successor>
{
public:
    ~StopSink() override { forget(); }

    bool put(Successor* item) override
    {
        forget();
        if (item == nullptr) {
            return true;
        }
        ++goals;
        state = item->state;
        bool stop = true;
        if (search != nullptr) {
            search->setProperty(PROPERTY_STOP, &stop);
            search->setProperty(PROPERTY_REACHEDSTATE, state);
        }
        return true;
    }

    void forget()
    {
        if (state != nullptr) {
            state->release();
            state = nullptr;
        }
    }

    pipeline::Connectable* search = nullptr;
    SymbolicState* state = nullptr;
    int goals = 0;
};

// Passed-waiting lists as the factory of the verification control makes them.
template <class List, int Order>
pipeline::Connectable* makeList(FilterConfiguration*)
{
    auto* list = new List;
    int order = Order;
    list->setProperty(PROPERTY_STATE_ORDER, &order);
    return list;
}

// The built-in stages registered, as at start-up.
inline void registerStages()
{
    registerSuccessorChainFilters();
    registerStatespaceFilters();
    registerReachabilityFilters();
}

// The "#dist" value of a state: the priority of the search order guided by distances.
inline Variable*& distanceVariable()
{
    static Variable* variable = nullptr;
    return variable;
}
inline int distanceOf(const SymbolicState* state)
{
    return distanceVariable()->getValue(const_cast<SymbolicState*>(state));
}

// How a search is set up (the options of the model checker).
struct Options
{
    FilterConfiguration::Factory list = makeList<CSSPassedWaitingList, 0>;
    bool silent = true;
    bool traces = false;
    bool checkTrace = false;
    bool sorting = false;
    int spaceOptimisation = 0;
    // The order "smallest estimate first": the distance stage after the successors, and a
    // priority waiting order by "#dist" (set list to a priority-ordered one).
    bool targetOrder = false;
    int32_t propertyType = 0;
    ReachabilitySup::Record* results = nullptr;
    // The stage that "extrapolation-filter" names (null: the registry's default; "" none), and
    // whether lower/upper extrapolation keeps its two constants apart.
    const char* extrapolation = nullptr;
    bool lowerUpper = true;
};

// A reachability search over a compiled system, built through the registry from the filter name.
class Search
{
public:
    Search(System& system, const ExpressionRef& goal, const Options& options = Options())
        : system(system), store(new CSS(&system, false))
    {
        // A registry takes the factories registered when it is made.
        registerStages();
        registry = new FilterConfiguration;
        registry->set(FILTER_PROGRESS, makeJobProgressFilter);
        registry->set(FILTER_PASSED_WAITING_LIST, options.list);
        if (options.sorting) {
            registry->set(FILTER_SORTING, makeRandomSortingFilter);
        }
        // The stages the model's features ask for, as the model checker chooses them.
        if (system.hasPriorities) {
            registry->alias(FILTER_COPY, FILTER_PRIORITY);
        }
        if (system.broadcastClockGuards) {
            registry->set(FILTER_SUCCESSOR, makeSuccessorFilterBroadcast);
        }
        if (options.extrapolation != nullptr && *options.extrapolation == 0) {
            registry->remove(FILTER_EXTRAPOLATION);
        } else if (options.extrapolation != nullptr) {
            registry->alias(FILTER_EXTRAPOLATION, options.extrapolation);
        }
        filter = registry->get(FILTER_REACHABILITY);
        EXPECT_NE(dynamic_cast<ReachabilityFilter*>(filter), nullptr);
        if (options.traces) {
            traces = new MemoryTraceStore;
        }
        bool silent = options.silent;
        int spaceOptimisation = options.spaceOptimisation;
        filter->setProperty(PROPERTY_COLOR_STATE_SET, store.get());
        filter->setProperty(PROPERTY_SYSTEM, &system);
        filter->setProperty(PROPERTY_TRACESTORE, traces.get());
        // The goal's clock bounds join the model's, as the model checker adds the query's.
        if (goal) {
            goal->accept(info);
        }
        filter->setProperty(PROPERTY_EXPRESSION_INFO, &info);
        filter->setProperty(PROPERTY_SILENT, &silent);
        filter->setProperty(PROPERTY_SPACEOPT, &spaceOptimisation);
        filter->setProperty(PROPERTY_STATISTICS, statistics.get());
        bool lowerUpper = options.lowerUpper;
        filter->setProperty(PROPERTY_EXTRAPOLATE_LU, &lowerUpper);
        sink.search = filter;
        dynamic_cast<pipeline::Generator<Successor>*>(filter)->connect(&sink);
        job.propertyType = options.propertyType;
        job.expressions.push_back(goal);
        filter->setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&job));
        filter->setProperty(PROPERTY_SUP_FEEDBACK, options.results);
        filter->setProperty(PROPERTY_EXPRESSION, goal.get());
        if (options.checkTrace) {
            filter->setProperty(PROPERTY_CHECKTRACE, nullptr);
        }
        if (options.targetOrder) {
            distanceVariable() = system.findVariable("#dist");
            filter->setProperty(PROPERTY_TARGET_ORDER, nullptr);
            filter->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(distanceOf));
        }
    }

    ~Search()
    {
        sink.forget();
        delete filter;
    }

    // Begins, puts the initial state, ends; true when the sink holds a goal state. With
    // `stopFirst`, a stop is requested after the search began and before its first state.
    bool run(bool stopFirst = false)
    {
        filter->begin();
        if (stopFirst) {
            bool yes = true;
            filter->setProperty(PROPERTY_STOP, &yes);
        }
        Successor initial;
        initial.state = system.makeInitialState();
        initial.state->traceIndex = traces ? traces->put(nullptr, -1) : -1;
        initial.transition = emptyEdgeTuple();
        dynamic_cast<pipeline::Sink<Successor>*>(filter)->put(&initial);
        filter->end();
        return sink.state != nullptr;
    }

    // A figure of the passed-waiting list ("Size" or "Load"), or -1.
    int figure(const std::string& name) const
    {
        const StatisticsEntry* entry = statistics->findByName(name);
        return entry != nullptr ? entry->provider->value(entry->id) : -1;
    }

    System& system;
    base::RefPtr<FilterConfiguration> registry;
    base::RefPtr<CSS> store;
    base::RefPtr<MemoryTraceStore> traces;
    base::RefPtr<DefaultStatisticsCollector> statistics{new DefaultStatisticsCollector};
    ExtrapolationInfo info;
    FakeJob job;
    StopSink sink;
    pipeline::Connectable* filter = nullptr;
};

}  // namespace reachtest
