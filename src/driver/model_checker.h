#pragma once

// The model checker: between the command-line driver and the verification engines. One exists
// per process, created once the model was read and checked without errors, and it lives until
// exit. It owns the compiled model, a private copy of the options, the registry of pipeline stages
// configured for the current property, the clock bounds used for extrapolation, the trace store
// and the result text of the last check. For each job it prepares the compiled model and the
// registry, compiles the property, assembles the checker the property type calls for, runs it and
// turns its result into the job's verdict.

#include <cstdint>
#include <list>
#include <stdexcept>
#include <string>

#include "compiler/compiler.h"
#include "driver/job.h"
#include "driver/options.h"
#include "driver/property_builder.h"
#include "statespace/liveness_checker.h"
#include "statespace/path.h"
#include "statespace/reachability_filter.h"
#include "language/system.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/extrapolation_info.h"
#include "runtime/system.h"
#include "statespace/trace.h"
#include "support/object.h"

class SymbolicState;

// The largest and the smallest value of one listed expression of a supremum or infimum query, and
// whether a value was seen; the reachability stage updates them.
using SupInfResult = ReachabilitySup::Record;

// What a check returns: whether its goal was found, and the trace-store indices of the goal state
// (first) or of the two states that close a counterexample loop (first, second); -1 when absent.
struct CheckResult
{
    bool found = false;
    int32_t first = -1;
    int32_t second = -1;
    // A statistical check that its checker gave up (a Zeno run, a time-lock, an insane model):
    // its verdict means nothing.
    bool aborted = false;
    // The goal reached was shown to be the end of a run of the model by the replay of its trace.
    // Only this makes a goal found on the convex hull sure.
    bool confirmed = false;
};

// A property that this build has no checker for; the job runner records it as an error of the
// query at the formula's position and aborts only that job.
class PropertyNotSupported : public std::runtime_error
{
public:
    PropertyNotSupported(const std::string& message, ZOLT::span_t position)
        : std::runtime_error(message), position(position)
    {}
    ZOLT::span_t getPosition() const { return position; }

private:
    ZOLT::span_t position;
};

class ModelChecker : public base::Object
{
public:
    // Copies the options; compiles nothing yet.
    ModelChecker(ZOLT::TimedAutomataSystem* model, const VerifierOptions& options);
    ~ModelChecker() override;

    // ---- Set-up and compilation
    // Releases what one preparation built: the sup/inf records, the reachability stage, the
    // "#tau" clock and the cost function of the states.
    virtual void cleanUp();
    // Rebuilds the stage registry for the current job and extrapolation kind.
    virtual void configureFilters(int extrapolationKind);
    // Compiles (when needed) and readies the model for the current job: trace optimisation, cost
    // functions, clock bounds, extrapolation, registry, trace store and reachability stage. With
    // -T, a plain reachability or invariance property after another one whose clock bounds are
    // the same keeps the previous preparation and state space. Whatever fails releases the
    // compiled model, so that the next preparation compiles it afresh.
    virtual void prepare(const ExtrapolationInfo& bounds, bool reachabilityOnly);
    // Checks the current job's property.
    virtual CheckResult run();
    virtual std::string resultText() const { return resultBuffer; }
    virtual base::RefPtr<PropertyBuilder> newPropertyBuilder();
    // Compiles the job's property into its expressions and reads its numeric parameters.
    virtual void prepareProperty(AbstractJob* job);
    // The strategy of statistical checks: none.
    virtual void* smcStrategy() { return nullptr; }

    // Compiles the model once after loading. Compile and evaluation errors become errors of the
    // model (the driver prints them and stops).
    void compileSystem();
    // Forgets the compiled model, so that the next preparation compiles the model afresh.
    void releaseModel();
    // Asks the running check to stop (safe inside the interrupt handler: it sets flags only).
    void stop();

    base::RefPtr<System> getSystem() const { return system; }
    FilterConfiguration* getFilterConfiguration() { return filterConfiguration.get(); }

    // ---- Symbolic checks
    CheckResult checkReachability(bool supInf);
    CheckResult checkLiveness();
    CheckResult checkLeadsTo();
    CheckResult checkRobustReachability();
    // Sends the settings every symbolic checker receives.
    void configureReachability(pipeline::Connectable* target);
    // Replays a stored trace from the initial state (which the caller keeps) and returns its final
    // step: the first candidate that satisfies the goal, or the first one without a goal; null
    // when there is none.
    PathRef makeTrace(SymbolicState* initial, const base::RefPtr<Trace>& trace, const ExpressionRef& goal);

    // ---- Statistical checks: each returns {verdict, -1, -1}.
    CheckResult checkProbability();
    CheckResult checkProbabilityComparison();
    CheckResult checkExpectation();
    CheckResult checkSimulation();
    CheckResult checkMitl();

    // ---- Jobs
    // Prepares the job's property to collect the clock bounds it mentions, then runs it.
    void runJobWithInfo(AbstractJob* job);
    // Runs one job whose property mentions the clock bounds given.
    void runJob(const ExtrapolationInfo& bounds, AbstractJob* job);

    // ---- State (read by the reports and by tests)
    ZOLT::TimedAutomataSystem* model;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;
    bool nonZeroClockAssignment = false;
    bool differenceConstraints = false;
    bool reachabilityOnly = false;
    pipeline::StateFunction infCost = nullptr;
    pipeline::StateFunction supCost = nullptr;
    pipeline::StateFunction pruningCost = nullptr;
    // The registry lives on the heap: expressions made on it (the deadlock predicate) keep a
    // counted reference. Each preparation refills it in place.
    base::RefPtr<FilterConfiguration> filterConfiguration;
    SupInfResult* supInfResults = nullptr;  // one record per listed expression; owned
    uint32_t supInfCount = 0;
    std::string resultBuffer;
    pipeline::Filter<Successor, Successor>* reachabilityFilter = nullptr;  // owned
    AbstractJob* currentJob = nullptr;
    int32_t lastPropertyType = -1;
    ExtrapolationInfo extrapolationInfo;
    volatile bool stopRequested = false;
    pipeline::Connectable* volatile runningPipeline = nullptr;
    VerifierOptions options;
    base::RefPtr<MemoryTraceStore> traceStore;

private:
    // Compiles the model when no compiled model exists (a failed preparation released it).
    void ensureCompiled();
    // Translates the current job's scenario property into an observer automaton; the job's
    // formula becomes the observer's leads-to property.
    void translateScenario();
    void prepareSteps(const ExtrapolationInfo& bounds, bool reachabilityOnly);
    void setRunBound(AbstractJob* job, uint32_t symbolIndex, uint32_t boundIndex);
    void freeSupInfResults();
    // Composes the result texts of statistical, supremum and infimum properties.
    int32_t composeResult(AbstractJob* job, int32_t code);
};

// The model checker of the run, created by the model loader; null before and after it. The
// handle itself is never destroyed: a run that ends through exit leaves the checker to the
// operating system rather than tear it down after the tables it uses are gone.
base::RefPtr<ModelChecker>& modelChecker();
// Releases the model checker of the run.
void releaseModelChecker();

// Registers the stages of the exploration libraries with the stage registry (once per process).
void registerExplorationFilters();

// Cost functions of the optimal search orders: the lower bound of the "#tau" clock (fastest
// trace), and the values of "#depth" (shortest trace) and "#dist" (smallest heuristic first).
int32_t tauLowerBoundCost(const SymbolicState* state);
int32_t depthCost(const SymbolicState* state);
int32_t distanceCost(const SymbolicState* state);

// Passed lists and passed-waiting lists for the current options and system.
pipeline::Connectable* makePassedList(FilterConfiguration* registry);
pipeline::Connectable* makePassedWaitingList(FilterConfiguration* registry);

// The sinks of the symbolic checks.

// Keeps the goal state it receives and stops the search.
class StopSink : public pipeline::Sink<Successor>
{
public:
    StopSink(pipeline::Connectable* source, pipeline::StateFunction cost);
    ~StopSink() override;

    // A null item makes it forget the kept state (false). Otherwise keeps the item's state,
    // computes its cost, and sends the stop key and the reached state to the source (true).
    bool put(Successor* item) override;

    SymbolicState* getState() const { return state; }

protected:
    SymbolicState* state = nullptr;
    int cost = 0;
    pipeline::Connectable* source;
    pipeline::StateFunction costFunction;
};

// Keeps the cheapest goal state of the whole search (equal costs keep the earlier one) and tells
// the source the best cost so far, so that dearer states can be pruned.
class MinCostSink : public StopSink
{
public:
    MinCostSink(pipeline::Connectable* source, pipeline::StateFunction cost);
    bool put(Successor* item) override;
};

// Keeps the pair of state numbers of a counterexample loop and stops the search.
class TraceStopSink : public pipeline::Sink<TracePair>
{
public:
    explicit TraceStopSink(pipeline::Connectable* source) : source(source) {}
    bool put(TracePair* item) override;

    TracePair pair{-1, -1};
    bool found = false;

private:
    pipeline::Connectable* source;
};

// Keeps the verdict of a statistical check.
class SimpleStop : public pipeline::Sink<bool>
{
public:
    bool put(bool* item) override
    {
        result = *item;
        return result;
    }
    bool result = false;
};

// Factories of the statistical checkers, which live in a library that registers them at start-up:
// a null entry means this build has no such checker, and the property is refused with a clear
// error.
struct CheckerFactories
{
    using SymbolicFactory = pipeline::Connectable* (*)(FilterConfiguration* registry);
    SymbolicFactory probability = nullptr;
    SymbolicFactory probabilityComparison = nullptr;
    SymbolicFactory expectation = nullptr;
    SymbolicFactory simulation = nullptr;
    SymbolicFactory mitl = nullptr;
};
CheckerFactories& checkerFactories();
