// The checks of the model checker: the dispatcher, the pipelines of the symbolic checks with the
// settings they all receive and the sinks that collect their goals, the builders of the
// statistical checks, and the stop request.

#include <memory>

#include "driver/model_checker.h"
#include "language/node_kind.h"
#include "runtime/concrete_state.h"
#include "smc/checker_frame.h"
#include "runtime/edge.h"
#include "runtime/symbolic_state.h"
#include "statespace/css.h"
#include "statespace/leadsto_checker.h"
#include "statespace/liveness_checker.h"
#include "statespace/reachability_filter.h"
#include "statespace/robust_reachability.h"
#include "support/exceptions.h"

namespace {

void sendStop(pipeline::Connectable* target)
{
    bool yes = true;
    target->setProperty(PROPERTY_STOP, &yes);
}

// Clears the running pipeline when a check ends, normally or by an exception, after calling its
// end.
class RunningCheck
{
public:
    RunningCheck(ModelChecker& checker, pipeline::Connectable* stage) : checker(checker), stage(stage)
    {
        checker.runningPipeline = stage;
        stage->begin();
    }
    ~RunningCheck()
    {
        stage->end();
        checker.runningPipeline = nullptr;
    }
    RunningCheck(const RunningCheck&) = delete;
    RunningCheck& operator=(const RunningCheck&) = delete;

    // True when an interrupt came before the search could start (while the job was prepared or
    // the check set up): the search is then not started at all, since a stage forgets an earlier
    // stop when its search begins.
    bool stopped() const { return checker.stopRequested; }

private:
    ModelChecker& checker;
    pipeline::Connectable* stage;
};

} // namespace

// ---- Sinks -----------------------------------------------------------------------------------------

StopSink::StopSink(pipeline::Connectable* source, pipeline::StateFunction cost) : source(source), costFunction(cost)
{}

StopSink::~StopSink()
{
    if (state != nullptr) {
        state->release();
    }
}

bool StopSink::put(Successor* item)
{
    if (item == nullptr) {
        if (state != nullptr) {
            state->release();
            state = nullptr;
        }
        return false;
    }
    if (state != nullptr) {
        state->release();
    }
    state = item->state;
    if (costFunction != nullptr) {
        cost = costFunction(state);
    }
    sendStop(source);
    source->setProperty(PROPERTY_REACHEDSTATE, state);
    return true;
}

MinCostSink::MinCostSink(pipeline::Connectable* source, pipeline::StateFunction cost) : StopSink(source, cost)
{
    this->cost = 1073741823;
    source->setProperty(PROPERTY_MINCOST, &this->cost);
}

bool MinCostSink::put(Successor* item)
{
    if (item == nullptr) {
        return StopSink::put(item);
    }
    const int value = costFunction(item->state);
    if (value < cost) {
        cost = value;
        source->setProperty(PROPERTY_MINCOST, &cost);
        if (state != nullptr) {
            state->release();
        }
        state = item->state;
    } else {
        item->state->release();
    }
    return true;
}

bool TraceStopSink::put(TracePair* item)
{
    pair = *item;
    found = true;
    sendStop(source);
    return true;
}

// ---- Dispatch and settings ------------------------------------------------------------------------

CheckResult ModelChecker::run()
{
    switch (currentJob->type) {
    case PROPERTY_INVARIANCE:
    case PROPERTY_REACHABILITY: return checkReachability(false);
    case PROPERTY_SUPREMUM:
    case PROPERTY_INFIMUM: return checkReachability(true);
    case PROPERTY_POSSIBLY_ALWAYS:
    case PROPERTY_ALWAYS_EVENTUALLY: return checkLiveness();
    case PROPERTY_LEADS_TO:
    case PROPERTY_SCENARIO: return checkLeadsTo();
    case PROPERTY_ROBUST_INVARIANCE:
    case PROPERTY_ROBUST_REACHABILITY: return checkRobustReachability();
    case PROPERTY_PROBABILITY_BOX_TEST:
    case PROPERTY_PROBABILITY_DIAMOND_TEST:
    case PROPERTY_PROBABILITY_BOX_ESTIMATE:
    case PROPERTY_PROBABILITY_DIAMOND_ESTIMATE: return checkProbability();
    case PROPERTY_PROBABILITY_COMPARE: return checkProbabilityComparison();
    case PROPERTY_EXPECTED_VALUE: return checkExpectation();
    case PROPERTY_SIMULATE:
    case PROPERTY_SIMULATE_ACCEPTING: return checkSimulation();
    case PROPERTY_MITL: return checkMitl();
    default: throw Bug("Unsupported property type.");
    }
}

void ModelChecker::configureReachability(pipeline::Connectable* target)
{
    base::RefPtr<CSS> store(new CSS(system.get(), options.representation == 1));
    bool reduce = options.representation == 1;
    bool silent = !options.collectStatistics;
    bool reuseKeys = options.searchOrder == 0;
    int passedSize = static_cast<int>(options.hashBits);
    bool extrapolateLU = options.extrapolation == 0 ? reachabilityOnly : options.extrapolation == 4;

    target->setProperty(PROPERTY_REDUCE, &reduce);
    target->setProperty(PROPERTY_COLOR_STATE_SET, store.get());
    target->setProperty(PROPERTY_REUSE, &options.reuse);
    target->setProperty(PROPERTY_SYSTEM, system.get());
    target->setProperty(PROPERTY_TRACESTORE, static_cast<TraceStore*>(traceStore.get()));
    target->setProperty(PROPERTY_EXPRESSION_INFO, &extrapolationInfo);
    target->setProperty(PROPERTY_SILENT, &silent);
    target->setProperty(PROPERTY_REUSE_KEYS, &reuseKeys);
    target->setProperty(PROPERTY_PRUNING, pipeline::stateFunctionValue(pruningCost));
    target->setProperty(PROPERTY_INFCOST, pipeline::stateFunctionValue(infCost));
    target->setProperty(PROPERTY_SUPCOST, pipeline::stateFunctionValue(supCost));
    target->setProperty(PROPERTY_PASSEDSIZE, &passedSize);
    target->setProperty(PROPERTY_SPACEOPT, &options.spaceOptimisation);
    target->setProperty(PROPERTY_SCALARSET_INFO, compiler->getScalarsetInfo());
    target->setProperty(PROPERTY_EXTRAPOLATE_LU, &extrapolateLU);
    if (options.searchOrder == 3) {
        target->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(pruningCost));
    } else if (options.searchOrder == 5) {
        target->setProperty(PROPERTY_TARGET_ORDER, nullptr);
        target->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(distanceCost));
    }
}

void ModelChecker::stop()
{
    stopRequested = true;
    pipeline::Connectable* running = runningPipeline;
    if (running != nullptr) {
        sendStop(running);
    }
}

namespace {

// The initial state of a search, recorded as the root of the trace store when there is one.
Successor initialSuccessor(System& system, TraceStore* store)
{
    Successor initial;
    initial.state = system.makeInitialState();
    initial.state->traceIndex = store != nullptr ? store->put(nullptr, -1) : -1;
    initial.transition = emptyEdgeTuple();
    return initial;
}

pipeline::JobInterface* jobValue(AbstractJob* job)
{
    return static_cast<pipeline::JobInterface*>(job);
}

} // namespace

// ---- Symbolic checks -------------------------------------------------------------------------------

CheckResult ModelChecker::checkReachability(bool supInf)
{
    if (reachabilityFilter == nullptr) {
        throw Bug("No reachability stage is registered");
    }
    pipeline::Connectable* stage = reachabilityFilter;
    std::unique_ptr<StopSink> sink;
    switch (options.traceKind) {
    case 0:
    case 1: sink = std::make_unique<StopSink>(stage, infCost); break;
    case 2: sink = std::make_unique<MinCostSink>(stage, infCost); break;
    default: throw Bug("Cannot handle the requested trace type.");
    }
    runningPipeline = stage;
    if (currentJob->statistics) {
        stage->setProperty(PROPERTY_STATISTICS, currentJob->statistics.get());
    }
    reachabilityFilter->connect(sink.get());
    stage->setProperty(PROPERTY_JOB, jobValue(currentJob));
    stage->setProperty(PROPERTY_SUP_FEEDBACK, supInfResults);
    ExpressionRef goal = currentJob->getExpression(0);
    stage->setProperty(PROPERTY_EXPRESSION, goal.get());
    if (options.traceKind != 0 && options.representation == 3) {
        stage->setProperty(PROPERTY_CHECKTRACE, nullptr);
    }
    {
        RunningCheck running(*this, stage);
        if (!running.stopped()) {
            Successor initial = initialSuccessor(*system, traceStore.get());
            reachabilityFilter->put(&initial);
        }
    }
    CheckResult result;
    const bool checked = options.traceKind != 0 && options.representation == 3;
    if (sink->getState() != nullptr) {
        result = {true, sink->getState()->traceIndex, -1};
        // With traces checked, the sink only ever sees goals their replay confirmed. Suprema and
        // infima take their values from every state stored, which no trace confirms.
        result.confirmed = checked && !supInf;
    } else {
        result = {supInf, -1, -1};
        // A goal that no run confirmed may still be reached by a run the search did not record:
        // the hull found one, so the property may hold.
        auto* search = dynamic_cast<ReachabilityFilter*>(reachabilityFilter);
        if (checked && search != nullptr && search->metUnconfirmedGoal()) {
            result.found = true;
        }
    }
    reachabilityFilter->connect(static_cast<pipeline::Sink<Successor>*>(nullptr));
    return result;
}

namespace {

// Runs a liveness or leads-to checker from the initial state and returns the loop it reported.
CheckResult runLoopSearch(ModelChecker& checker, pipeline::CompoundFilter<Successor, TracePair>* search,
                          bool withRegion)
{
    AbstractJob* job = checker.currentJob;
    TraceStopSink sink(search);
    Successor initial = initialSuccessor(*checker.system, checker.traceStore.get());
    try {
        if (job->statistics) {
            search->setProperty(PROPERTY_STATISTICS, job->statistics.get());
        }
        checker.configureReachability(search);
        search->connect(&sink);
        search->setProperty(PROPERTY_JOB, jobValue(job));
        if (withRegion) {
            ExpressionRef region = job->getExpression(0);
            search->setProperty(PROPERTY_EXPRESSION, region.get());
        }
    } catch (...) {
        initial.state->release();
        throw;
    }
    {
        RunningCheck running(checker, search);
        if (running.stopped()) {
            initial.state->release();
        } else {
            search->put(&initial);
        }
    }
    return {sink.found, sink.pair.first, sink.pair.second};
}

} // namespace

CheckResult ModelChecker::checkLiveness()
{
    std::unique_ptr<LivenessChecker> checker(makeLivenessChecker(filterConfiguration.get()));
    return runLoopSearch(*this, checker.get(), true);
}

CheckResult ModelChecker::checkLeadsTo()
{
    if (reachabilityFilter == nullptr) {
        throw Bug("No reachability stage is registered");
    }
    // The outer search stays the model checker's.
    std::unique_ptr<LeadsToChecker> checker(makeLeadsToChecker(reachabilityFilter, filterConfiguration.get()));
    return runLoopSearch(*this, checker.get(), false);
}

CheckResult ModelChecker::checkRobustReachability()
{
    std::unique_ptr<RobustReachabilityChecker> checker(makeRobustReachabilityChecker(filterConfiguration.get()));
    StopSink sink(checker.get(), infCost);
    if (currentJob->statistics) {
        checker->setProperty(PROPERTY_STATISTICS, currentJob->statistics.get());
    }
    configureReachability(checker.get());
    checker->connect(&sink);
    checker->setProperty(PROPERTY_JOB, jobValue(currentJob));
    ExpressionRef goal = currentJob->getExpression(0);
    checker->setProperty(PROPERTY_EXPRESSION, goal.get());
    {
        RunningCheck running(*this, checker.get());
        if (!running.stopped()) {
            Successor initial = initialSuccessor(*system, traceStore.get());
            checker->put(&initial);
        }
    }
    if (sink.getState() != nullptr) {
        return {true, sink.getState()->traceIndex, -1};
    }
    return {false, -1, -1};
}

// ---- Statistical checks --------------------------------------------------------------------------

namespace {

// What the keys of a statistical checker point at and the checker reads during its runs; it
// lives until the checker is gone.
struct StatisticalKeyValues
{
    ExpressionRef expression;  // the job's expression 0
    ExpressionRef never;       // the constant 0 of simulations
    int runCount = 0;          // the job's run count
};

using KeySender = void (*)(ModelChecker& checker, pipeline::Connectable* target, AbstractJob* job,
                           StatisticalKeyValues& values);

CheckResult runStatistical(ModelChecker& checker, CheckerFactories::SymbolicFactory factory, KeySender keys)
{
    AbstractJob* job = checker.currentJob;
    if (factory == nullptr) {
        throw PropertyNotSupported("Statistical properties cannot be checked: this build has no statistical checker.",
                                   job->formula.getPosition());
    }
    SimpleStop sink;
    StatisticalKeyValues values;
    std::unique_ptr<pipeline::Connectable> stage(factory(checker.getFilterConfiguration()));
    auto* filter = dynamic_cast<pipeline::Filter<ConcreteState, bool>*>(stage.get());
    if (filter == nullptr) {
        throw Bug("The statistical checker has the wrong interface");
    }
    filter->connect(&sink);
    bool silent = !checker.options.collectStatistics;
    stage->setProperty(PROPERTY_SYSTEM, checker.system.get());
    stage->setProperty(PROPERTY_SILENT, &silent);
    stage->setProperty(PROPERTY_JOB, jobValue(job));
    keys(checker, stage.get(), job, values);
    if (job->statistics) {
        stage->setProperty(PROPERTY_STATISTICS, job->statistics.get());
    }
    {
        RunningCheck running(checker, stage.get());
        std::unique_ptr<ConcreteState> state(checker.system->buildInitialState());
        if (checker.options.coverage && job->type != PROPERTY_SIMULATE && job->type != PROPERTY_SIMULATE_ACCEPTING) {
            state->countEnteredLocations();
        }
        if (running.stopped()) {
            // A stop that came before the check began: the check still starts, to end at once
            // without a verdict, since under a launcher the other processes run it too and wait
            // for this one's part of it.
            sendStop(stage.get());
        }
        filter->put(state.get());
    }
    auto* statistical = dynamic_cast<StatisticalChecker*>(stage.get());
    return {sink.result, -1, -1, statistical != nullptr && statistical->isAborted()};
}

void probabilityKeys(ModelChecker& c, pipeline::Connectable* t, AbstractJob* job, StatisticalKeyValues& values,
                     bool mitl)
{
    VerifierOptions& o = c.options;
    values.expression = job->getExpression(0);
    t->setProperty(PROPERTY_EXPRESSION, values.expression.get());
    t->setProperty(PROPERTY_PROBABILITY, &job->value);
    t->setProperty(PROPERTY_DELTAMINUS, &o.deltaMinus);
    t->setProperty(PROPERTY_DELTAPLUS, &o.deltaPlus);
    t->setProperty(PROPERTY_DELTATIME, &o.discretisationStep);
    t->setProperty(PROPERTY_ALPHA, &o.alpha);
    t->setProperty(PROPERTY_BETA, &o.beta);
    t->setProperty(PROPERTY_EPSILON, &o.epsilon);
    t->setProperty(PROPERTY_HISTOWIDTH, &o.histogramBarWidth);
    t->setProperty(PROPERTY_HISTOBARS, &o.histogramBars);
    t->setProperty(PROPERTY_SMCCOVER, &o.coverage);
    t->setProperty(PROPERTY_FEEDBACK, &c.resultBuffer);
    t->setProperty(PROPERTY_SMCLOG, &o.smcLog);
    t->setProperty(PROPERTY_SMCLOGFILENAME, &o.smcLogFile);
    t->setProperty(PROPERTY_SMCSTRATEGY, c.smcStrategy());
    if (mitl) {
        t->setProperty(PROPERTY_MEASUREMITLDEPTH, &o.measureMitlDepth);
    } else {
        t->setProperty(PROPERTY_OPTIONTRACE, &o.traceKind);
    }
}

} // namespace

CheckResult ModelChecker::checkProbability()
{
    return runStatistical(*this, checkerFactories().probability,
                          [](ModelChecker& c, pipeline::Connectable* t, AbstractJob* job,
                             StatisticalKeyValues& values) { probabilityKeys(c, t, job, values, false);
                          });
}

CheckResult ModelChecker::checkMitl()
{
    return runStatistical(*this, checkerFactories().mitl,
                          [](ModelChecker& c, pipeline::Connectable* t, AbstractJob* job,
                             StatisticalKeyValues& values) { probabilityKeys(c, t, job, values, true);
                          });
}

CheckResult ModelChecker::checkExpectation()
{
    return runStatistical(*this, checkerFactories().expectation,
                          [](ModelChecker& c, pipeline::Connectable* t, AbstractJob* job,
                             StatisticalKeyValues& values) {
                              VerifierOptions& o = c.options;
                              values.expression = job->getExpression(0);
                              values.runCount = job->runCount;
                              t->setProperty(PROPERTY_EXPRESSION, values.expression.get());
                              t->setProperty(PROPERTY_NBRUNS, &values.runCount);
                              t->setProperty(PROPERTY_HISTOWIDTH, &o.histogramBarWidth);
                              t->setProperty(PROPERTY_HISTOBARS, &o.histogramBars);
                              t->setProperty(PROPERTY_FEEDBACK, &c.resultBuffer);
                              t->setProperty(PROPERTY_SMCCOVER, &o.coverage);
                              t->setProperty(PROPERTY_SMCSTRATEGY, c.smcStrategy());
                              t->setProperty(PROPERTY_DELTATIME, &o.discretisationStep);
                          });
}

CheckResult ModelChecker::checkSimulation()
{
    return runStatistical(*this, checkerFactories().simulation,
                          [](ModelChecker& c, pipeline::Connectable* t, AbstractJob*,
                             StatisticalKeyValues& values) {
                              VerifierOptions& o = c.options;
                              values.never = new Constant(0);
                              t->setProperty(PROPERTY_EXPRESSION, values.never.get());
                              t->setProperty(PROPERTY_SMCSTOPCONDITION, values.never.get());
                              t->setProperty(PROPERTY_FEEDBACK, &c.resultBuffer);
                              t->setProperty(PROPERTY_SMCRESOLUTION, &o.resolution);
                              t->setProperty(PROPERTY_DELTATIME, &o.discretisationStep);
                              t->setProperty(PROPERTY_SMCSAMPLINGTIME, &o.samplingTime);
                              t->setProperty(PROPERTY_SMCSTRATEGY, c.smcStrategy());
                          });
}

CheckResult ModelChecker::checkProbabilityComparison()
{
    return runStatistical(*this, checkerFactories().probabilityComparison,
                          [](ModelChecker& c, pipeline::Connectable* t, AbstractJob*, StatisticalKeyValues&) {
                              VerifierOptions& o = c.options;
                              t->setProperty(PROPERTY_RATIO_U0, &o.u0);
                              t->setProperty(PROPERTY_RATIO_U1, &o.u1);
                              t->setProperty(PROPERTY_DELTAMINUS, &o.deltaMinus);
                              t->setProperty(PROPERTY_DELTAPLUS, &o.deltaPlus);
                              t->setProperty(PROPERTY_DELTATIME, &o.discretisationStep);
                              t->setProperty(PROPERTY_ALPHA, &o.alpha);
                              t->setProperty(PROPERTY_BETA, &o.beta);
                              t->setProperty(PROPERTY_HISTOWIDTH, &o.histogramBarWidth);
                              t->setProperty(PROPERTY_HISTOBARS, &o.histogramBars);
                              t->setProperty(PROPERTY_FEEDBACK, &c.resultBuffer);
                              t->setProperty(PROPERTY_CMPPARAM, &o.parametricComparison);
                              t->setProperty(PROPERTY_SMCCOVER, &o.coverage);
                              t->setProperty(PROPERTY_SMCSTRATEGY, c.smcStrategy());
                          });
}
