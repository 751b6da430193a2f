#pragma once

// MITL queries: the probability that a random run satisfies an MITL formula, estimated from a
// fixed number of runs (the Chernoff-Hoeffding bound for the requested half width epsilon and
// error probability alpha). Each run is decided by progressing the formula after every step until
// it becomes true or false; runs have no bound of their own. With the measurement option the
// sizes of the intermediate formulas are reported in place of the run count.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "mitl/formula.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/statistics.h"
#include "runtime/concrete_state.h"
#include "smc/checker_frame.h"
#include "smc/mitl_progression.h"
#include "smc/run_start.h"

class ConcreteDelay;
class ConcreteTrans;
class FilterConfiguration;
class StatisticalJob;

// The monitor at the end of an MITL check's chain: after each step it progresses the run's
// formula over the state from before the step, with the length of that step's delay, and tells
// the checker when the formula became true or false.
class ConcreteMitlQuery : public pipeline::Sink<ConcreteState>
{
public:
    // PROPERTY_EXPRESSION: the formula (a counted MitlExpr). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // Starts a run: the monitor keeps a private copy of the state, spawned processes included.
    void restart(const ConcreteState& state);
    // One progression; the private copy then becomes one of the state. Returns *satisfied.
    bool put(ConcreteState* state) override;

    // Set by the checker.
    bool* decided = nullptr;
    bool* satisfied = nullptr;
    const double* elapsed = nullptr;
    bool measure = false;

    MitlRef formula;
    int32_t maxDepth = 0;
    int32_t maxTerms = 0;
    bool haveDepth = false;
    bool haveTerms = false;

private:
    // Makes the private copy one of the state, in place when it has the same shape.
    void keep(const ConcreteState& state);

    DepthCalculator depthCalculator;
    TermCalculator termCalculator;
    Alterator alterator;
    std::unique_ptr<ConcreteState> previousState;
};

class ProbaMitl : public StatisticalChecker, public AbstractStatisticsProvider, public BoundClock
{
public:
    ProbaMitl();
    ~ProbaMitl() override;

    // The frame's keys, PROPERTY_JOB (the formula, job expression 0, and its atoms),
    // PROPERTY_STATISTICS, PROPERTY_EPSILON, PROPERTY_ALPHA, PROPERTY_HISTOWIDTH (double*),
    // PROPERTY_HISTOBARS (int32*) and PROPERTY_MEASUREMITLDEPTH (bool*); then every key goes to
    // the stages.
    void setProperty(const char* key, void* value) override;
    void begin() override;
    void end() override;
    // Makes the runs; the probability, its interval and the durations of the satisfying runs go
    // into the job. A check cut short (a stop request, a simulation error, runs in which time
    // does not advance) stores no result and is reported as aborted.
    bool put(ConcreteState* initial) override;
    // Id 3: the runs still to do.
    int value(int id) override;
    // Evaluates every atom on the state and remembers its truth value; true when one changed.
    bool atomsChanged(ConcreteState* state);

private:
    StatisticalJob* job = nullptr;
    std::vector<ExpressionRef> atoms;
    std::vector<bool> atomValues;
    StatisticsCollector* statistics = nullptr;
    int64_t runsToDo = 0;
    int64_t runsDone = 0;
    MitlRef formula;
    double epsilon = 0.05;
    double alpha = 0.05;
    double histogramWidth = 0.0;
    int32_t histogramBars = 0;
    bool measureDepth = false;
    bool decided = false;
    bool satisfied = false;
    bool stopConditionMet = false;
    double lastDelay = 0.0;
    RunStart start;

    ConcreteDelay* delayStep;
    ConcreteTrans* transitionStep;
    JobProgressFilter<ConcreteState>* progressStep;
    ConcreteMitlQuery* monitor;
    SMCDummySink* dummyStep;
};

// A new MITL checker; the registry is not used.
ProbaMitl* makeProbaMitl(FilterConfiguration* registry);

// "<name>: " and every value followed by a blank, then the average and the variance, each on a
// line of its own.
void printMeasureSeries(std::ostream& os, const std::vector<double>& values, const std::string& name);
